#include "WholeTextLabel.h"

#include <QFontMetrics>

WholeTextLabel::WholeTextLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

bool WholeTextLabel::showsText() const
{
    const QFontMetrics fm(font());
    return fm.horizontalAdvance(text()) <= contentsRect().width();
}

void WholeTextLabel::setReservedText(const QString& text)
{
    m_reserved = text;
    updateGeometry();
}

QSize WholeTextLabel::sizeHint() const
{
    QSize hint = QLabel::sizeHint();
    if (!m_reserved.isEmpty()) {
        const QMargins m = contentsMargins();
        hint.setWidth(qMax(hint.width(), fontMetrics().horizontalAdvance(m_reserved) + m.left() + m.right()));
    }
    return hint;
}

QSize WholeTextLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

void WholeTextLabel::paintEvent(QPaintEvent* e)
{
    setToolTip(showsText() ? QString() : text());
    if (showsText())
        QLabel::paintEvent(e);
}
