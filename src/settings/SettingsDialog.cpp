// The settings window's frame: navigation list, page stack, the helpers the
// pages share and the themed question box.
#include "SettingsDialog.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QListWidget>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QStyle>

#include "Modal.h"
#include "SettingsPageKit.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace SettingsPageKit {

QGroupBox* makeGroup(const QString& title)
{
    return new QGroupBox(title);
}

QScrollArea* scrollPage(QWidget* page)
{
    auto* area = new QScrollArea;
    area->setWidget(page);
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // No frame, but a ring while the page itself has the keyboard focus.
    area->setStyleSheet(QStringLiteral("QScrollArea{border:1px solid transparent;}QScrollArea:focus{border-color:%1;}")
                            .arg(ThemeManager::instance()->colors().accent.name()));
    return area;
}

QColor readableInk(const ThemeColors& c, const QColor& ink)
{
    return ThemeManager::readableOn(ink, {c.bg, c.surface, c.surfaceAlt});
}

QString focusRules(const ThemeColors& c)
{
    // Every control the Tab key reaches shows that it has the focus: a ring
    // in the accent colour, kept transparent (and so in the layout) without it.
    return QStringLiteral(
               "QCheckBox,QRadioButton{border:1px solid transparent;border-radius:6px;padding:2px;}"
               "QCheckBox:focus,QRadioButton:focus{border-color:%1;}"
               "QListWidget,QListView,QTreeView,QTableView{border:1px solid transparent;}"
               "QListWidget:focus,QListView:focus,QTreeView:focus,QTableView:focus{border:1px solid %1;}"
               "QComboBox:focus,QSpinBox:focus,QLineEdit:focus{border:1px solid %1;}"
               "QSlider:focus{border:1px solid %1;border-radius:4px;}"
               // Buttons' own borders are often in the accent (or the danger
               // colour, the same in some presets): their ring is the text's.
               "QPushButton:focus,QPushButton#tgBtn:focus{border:1px solid %2;}")
        .arg(c.accent.name(), c.text.name());
}

QString mutedSS(const ThemeColors& c)
{
    return QStringLiteral("color:%1;font-size:11px;").arg(readableInk(c, c.textMuted).name());
}

QString noteSS(const ThemeColors& c)
{
    return QStringLiteral("color:%1;font-size:10px;").arg(readableInk(c, c.textMuted).name());
}

QString comboSS(const ThemeColors& c)
{
    return QStringLiteral("QComboBox{background:%1;color:%2;border:1px solid %3;border-radius:5px;padding:4px 8px;"
                          "font-size:11px;}QComboBox::drop-down{border:none;}QComboBox QAbstractItemView{"
                          "background:%1;color:%2;border:1px solid %3;selection-background-color:%4;"
                          "selection-color:%2;}QComboBox:focus{border-color:%4;}")
        .arg(c.surfaceAlt.name(), c.text.name(), c.border.name(), c.accent.name());
}

QVBoxLayout* pageLayout(QWidget* page, int spacing)
{
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(16, 16, 16, 16);
    v->setSpacing(spacing);
    return v;
}

QLabel* wrappedLabel(const QString& text, const QString& styleSheet)
{
    auto* l = new QLabel(text);
    l->setWordWrap(true);
    l->setStyleSheet(styleSheet);
    return l;
}

} // namespace SettingsPageKit

namespace {

// 24-unit stroke drawings of the five navigation rows.
const char* const kNavIcons[] = {
    // palette with three paint dots
    "<path d='M12 3a9 9 0 1 0 0 18c1.1 0 1.8-.8 1.8-1.8 0-.5-.2-.9-.5-1.2-.3-.3-.5-.7-.5-1.2 "
    "0-1 .8-1.8 1.8-1.8H17a4 4 0 0 0 4-4c0-4.4-4-8-9-8z'/>"
    "<circle cx='7.5' cy='11' r='1'/><circle cx='10.5' cy='7' r='1'/><circle cx='15' cy='8' r='1'/>",
    // loudspeaker with two waves
    "<path d='M11 5 6 9H2v6h4l5 4V5z'/><path d='M15.5 8.5a5 5 0 0 1 0 7'/>"
    "<path d='M18.4 5.6a9 9 0 0 1 0 12.8'/>",
    // round connector with five pins
    "<circle cx='12' cy='12' r='9'/><circle cx='7.5' cy='12' r='.6'/><circle cx='16.5' cy='12' r='.6'/>"
    "<circle cx='9' cy='8.5' r='.6'/><circle cx='15' cy='8.5' r='.6'/><circle cx='12' cy='7.2' r='.6'/>",
    // keyboard: four key dots and a space bar
    "<rect x='2' y='6' width='20' height='12' rx='2'/><path d='M6 10h.01M10 10h.01M14 10h.01M18 10h.01'/>"
    "<path d='M7 14h10'/>",
    // cog with a centre circle
    "<circle cx='12' cy='12' r='3'/><path d='M12 2v3M12 19v3M4.9 4.9l2.1 2.1M17 17l2.1 2.1M2 12h3M19 12h3"
    "M4.9 19.1 7 17M17 7l2.1-2.1'/><circle cx='12' cy='12' r='7'/>",
};
const char* const kNavLabels[] = {"Appearance", "Audio", "MIDI", "Shortcuts", "Advanced"};

} // namespace

SettingsDialog::SettingsDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("Settings"));
    setMinimumSize(620, 480);
    resize(700, 540);

    const ThemeColors c = ThemeManager::instance()->colors();
    setStyleSheet(
        QStringLiteral(
            "QDialog{background:%1;color:%2;}QWidget{background:%1;color:%2;}QLabel{color:%2;background:transparent;}"
            "QGroupBox{color:%2;border:1px solid %3;border-radius:12px;background:%1;margin-top:14px;"
            "padding:12px 10px 10px;font-size:10px;font-weight:700;}QGroupBox::title{subcontrol-origin:margin;"
            "left:10px;padding:0 5px;color:%2;background:%1;}QCheckBox{color:%2;spacing:10px;font-size:12px;"
            "background:transparent;}QScrollArea{border:none;background:%1;}QScrollArea>QWidget>QWidget{"
            "background:%1;}QComboBox{background:%4;color:%2;border:1px solid %3;border-radius:9px;"
            "padding:5px 10px;}QComboBox::drop-down{border:none;}QComboBox QAbstractItemView{background:%4;"
            "color:%2;border:1px solid %3;selection-background-color:%5;selection-color:white;}QFrame{"
            "border:none;background:transparent;}QPushButton#tgBtn{background:%4;color:%2;border:1px solid %3;"
            "border-radius:9px;padding:4px 10px;font-size:11px;}QPushButton#tgBtn:hover{background:%3;"
            "color:%2;}")
            .arg(c.surface.name(), c.text.name(), c.border.name(), c.surfaceAlt.name(), c.accent.name())
        + SettingsPageKit::focusRules(c));
    toggleQss = ThemeManager::instance()->modernToggleQss();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    navList = new QListWidget(this);
    navList->setFixedWidth(168);
    navList->setFrameShape(QFrame::NoFrame);
    navList->setSpacing(2);
    navList->setStyleSheet(
        QStringLiteral("QListWidget{background:%1;border-right:1px solid %2;outline:none;}QListWidget::item{"
                       "color:%3;padding:10px 12px;font-size:12px;border-radius:9px;margin:2px 6px;}"
                       "QListWidget::item:selected{background:%4;color:%5;border-left:3px solid %6;"
                       "padding-left:9px;}QListWidget::item:hover:!selected{background:%4;color:%5;}"
                       "QListWidget::item:selected:focus{border:1px solid %6;border-left:3px solid %6;"
                       "padding-left:9px;}")
            .arg(c.bg.name(), c.border.name(), SettingsPageKit::readableInk(c, c.textMuted).name(), c.surfaceAlt.name(),
                 c.text.name(), c.accent.name()));
    const QColor iconColour = c.textSecondary;
    for (int i = 0; i < 5; ++i) {
        const QIcon icon = VXIcons::modern(VXIcons::strokeSvg(QString::fromUtf8(kNavIcons[i]), 2.0), iconColour, 15);
        navList->addItem(new QListWidgetItem(icon, QString::fromLatin1(kNavLabels[i])));
    }
    navList->setCurrentRow(0);
    pageStack = new QStackedWidget(this);
    connect(navList, &QListWidget::currentRowChanged, pageStack, &QStackedWidget::setCurrentIndex);
    layout->addWidget(navList, 0);

    pageStack->setStyleSheet(QStringLiteral("QStackedWidget{background:%1;}").arg(c.surface.name()));
    layout->addWidget(pageStack, 1);

    buildAppearancePage();
    buildAudioPage();
    buildMidiPage();
    buildShortcutsPage();
    buildAdvancedPage();
    pageStack->setCurrentIndex(0);
    keepWheelOffValues();
}

// Every control here writes its setting the moment it changes, and some
// restart the output: a wheel turned to scroll the page must not step the
// list or the number it happens to pass over. The page scrolls instead; the
// control still takes clicks and keys.
void SettingsDialog::keepWheelOffValues()
{
    for (QWidget* w : findChildren<QWidget*>()) {
        const bool slider = qobject_cast<QAbstractSlider*>(w) && !qobject_cast<QScrollBar*>(w);
        if (!slider && !qobject_cast<QComboBox*>(w) && !qobject_cast<QAbstractSpinBox*>(w))
            continue;
        w->installEventFilter(this);
        if (w->focusPolicy() == Qt::WheelFocus)
            w->setFocusPolicy(Qt::StrongFocus);
    }
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel || !watched->isWidgetType())
        return QDialog::eventFilter(watched, event);
    for (QWidget* p = static_cast<QWidget*>(watched)->parentWidget(); p; p = p->parentWidget()) {
        if (auto* area = qobject_cast<QAbstractScrollArea*>(p)) {
            QCoreApplication::sendEvent(area->verticalScrollBar(), event);
            break;
        }
    }
    return true;
}

SettingsDialog::~SettingsDialog() = default;

void SettingsDialog::showPage(Page p)
{
    navList->setCurrentRow(int(p));
    pageStack->setCurrentIndex(int(p));
}

void SettingsDialog::applyToggleStyle(QCheckBox* box)
{
    if (!box || toggleQss.isEmpty())
        return;
    box->setStyleSheet(toggleQss);
    box->style()->unpolish(box);
    box->style()->polish(box);
    box->setMinimumHeight(30);
    box->update();
}

int themedMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                     QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, title, text, buttons);
    box.setWindowModality(Qt::ApplicationModal);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    const ThemeColors c = ThemeManager::instance()->colors();
    box.setStyleSheet(
        QStringLiteral("QMessageBox{background:%1;border-radius:14px;}QMessageBox QLabel{color:%2;"
                       "background:transparent;font-size:12px;}QMessageBox QPushButton{background:%3;color:%2;"
                       "border:1px solid %4;border-radius:9px;min-width:78px;padding:7px 18px;font-size:12px;"
                       "font-weight:600;}QMessageBox QPushButton:hover{background:%5;border-color:%6;}"
                       "QMessageBox QPushButton:default{background:%6;color:%7;border-color:%6;}")
            .arg(c.surface.name(), c.text.name(), c.surfaceAlt.name(), c.border.name(),
                 c.surfaceAlt.lighter(115).name(), c.accent.name(),
                 ThemeManager::readableOn(Qt::white, {c.accent}).name()));
    if (parent) {
        const QSize hint = box.sizeHint();
        const QPoint origin = parent->mapToGlobal(QPoint(0, 0));
        box.move(origin + QPoint((parent->width() - hint.width()) / 2, (parent->height() - hint.height()) / 2));
    }
    return Modal::execBox(&box);
}

