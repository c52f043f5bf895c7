#include "OutputChooser.h"

#include <QEvent>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <algorithm>

namespace {

// Room a style leaves between a row's icon and its text: 4 pixels in Qt's
// own styles, 6 under a style sheet.
constexpr int kIconGap = 6;

} // namespace

OutputChooser::OutputChooser(QWidget* parent, const QString& prefix) : QComboBox(parent), m_prefix(prefix) {}

void OutputChooser::addOutputs(const QList<OutputChoices::Output>& outputs, int maxChars, const QIcon& icon)
{
    QStringList taken;
    for (int row = 0; row < count(); ++row)
        taken.append(wholeName(row));
    const QStringList names = OutputChoices::names(outputs, maxChars, taken);
    const QStringList whole = OutputChoices::wholeNames(outputs, taken);
    for (int i = 0; i < outputs.size(); ++i) {
        addItem(icon, m_prefix + names[i], QString::fromUtf8(outputs[i].id));
        setItemData(count() - 1, whole[i], WholeNameRole);
        setItemData(count() - 1, OutputChoices::toolTip(outputs[i]), Qt::ToolTipRole);
    }
}

QString OutputChooser::wholeName(int row) const
{
    const QVariant whole = itemData(row, WholeNameRole);
    if (whole.isValid())
        return whole.toString();
    const QString text = itemText(row);
    return text.startsWith(m_prefix) ? text.mid(m_prefix.size()) : text;
}

int OutputChooser::closedTextWidth() const
{
    QStyleOptionComboBox opt;
    QComboBox::initStyleOption(&opt);
    int width = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this).width();
    if (!opt.currentIcon.isNull())
        width -= opt.iconSize.width() + kIconGap;
    // Qt's own styles keep a pixel clear at each side.
    return std::max(0, width - 2 - fontMetrics().horizontalAdvance(m_prefix));
}

QString OutputChooser::closedText() const
{
    const int row = currentIndex();
    if (row < 0)
        return QString();
    QStringList whole, listed;
    for (int i = 0; i < count(); ++i) {
        const QString text = itemText(i);
        whole << wholeName(i);
        listed << (text.startsWith(m_prefix) ? text.mid(m_prefix.size()) : text);
    }
    const int width = closedTextWidth();
    if (whole != m_fitWhole || listed != m_fitListed || width != m_fitWidth || font() != m_fitFont) {
        m_fitted = OutputChoices::fit(whole, fontMetrics(), width, listed);
        m_fitWhole = whole;
        m_fitListed = listed;
        m_fitWidth = width;
        m_fitFont = font();
    }
    return m_prefix + m_fitted.value(row);
}

void OutputChooser::initStyleOption(QStyleOptionComboBox* option) const
{
    QComboBox::initStyleOption(option);
    if (!isEditable())
        option->currentText = closedText();
}

QString OutputChooser::chosenRowTip() const
{
    const int row = currentIndex();
    if (row < 0)
        return QString();
    const QString tip = itemData(row, Qt::ToolTipRole).toString();
    if (!tip.isEmpty())
        return tip;
    const QString whole = wholeName(row);
    return closedText() == m_prefix + whole ? QString() : whole;
}

// The tip follows the chosen row and the width at every paint, and when it
// is asked for: a row chosen with the box's signals blocked sends no notice.
bool OutputChooser::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip)
        setToolTip(chosenRowTip());
    return QComboBox::event(event);
}

void OutputChooser::paintEvent(QPaintEvent* event)
{
    setToolTip(chosenRowTip());
    QComboBox::paintEvent(event);
}
