#include "StyleSheetTemplate.h"

#include "ThemeManager.h"
#include "FileCheck.h"
#include "SafeWrite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

namespace StyleSheetTemplate {

const char kTemplate[] = R"QSS(/* ============================================================
   Tarvello Rododu global style sheet
   %1 font size, %2 text, %3 bg, %4 surface, %5 surface alt,
   %6 surface hover, %7 border, %8 strong border, %9 secondary
   text, %10 muted text, %11 disabled text, %12 accent,
   %13 pressed accent, %14 light accent, %16 danger
   ============================================================ */

/* ---- Reset and base ---- */
* { outline: none; }
QWidget {
    font-family: %FONT%;
    font-size: %1px;
    color: %2;
    background: transparent;
    selection-background-color: %ACCA%;
    selection-color: %2;
}

/* ---- Window ---- */
QMainWindow { background: %3; }
QMainWindow > QWidget#centralWidget { background: %3; }
QDialog { background: %3; border: 1px solid %7; border-radius: 14px; }

/* ---- Toolbar ---- */
QWidget#toolBar {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %6, stop:1 %4);
    border-bottom: 1px solid %7;
}

/* ---- Menu-bar style buttons ---- */
QPushButton#menuBarBtn {
    background: transparent;
    color: %9;
    border: 1px solid transparent;
    border-radius: 7px;
    padding: 4px 10px;
    font-size: 12px;
    font-weight: 600;
}
QPushButton#menuBarBtn:hover { background: %6; color: %2; border-color: %7; }
QPushButton#menuBarBtn:pressed, QPushButton#menuBarBtn:checked { background: %5; color: %2; border-color: %12; }

/* ---- Toolbar pill-group buttons ---- */
QPushButton#toolGroupBtn {
    background: %5;
    color: %9;
    border: 1px solid %7;
    border-radius: 13px;
    padding: 4px 12px;
    font-size: 11px;
    font-weight: 600;
}
QPushButton#toolGroupBtn:hover { background: %6; color: %2; border-color: %8; }
QPushButton#toolGroupBtn:pressed { background: %4; border-color: %12; }
QPushButton#toolGroupBtn:checked { background: %ACCA%; color: %2; border-color: %12; }

/* ---- Now-playing compact bar ---- */
QWidget#npBar { background: %4; border: 1px solid %7; border-radius: 9px; }
QLabel#npDot { color: %12; background: transparent; font-size: 10px; }
QLabel#npTitle { color: %2; background: transparent; font-size: 11px; font-weight: 600; }
QLabel#npTime { color: %9; background: transparent; font-size: 11px; font-family: Consolas, monospace; }

/* ---- Layout mode buttons (1/2/4) ---- */
QPushButton#layBtn {
    min-width: 26px; max-width: 28px;
    min-height: 26px; max-height: 28px;
    padding: 0;
    border-radius: 7px;
    font-weight: 800;
}
QPushButton#layBtn:checked {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %14, stop:1 %12);
    color: %4;
    border: 1px solid %13;
}

/* ---- Menu ---- */
QMenu {
    background: %6;
    border: 1px solid %7;
    border-radius: 10px;
    padding: 5px 4px;
}
QMenu::item {
    padding: 7px 28px 7px 14px;
    border-radius: 6px;
    color: %9;
    font-size: 12px;
    min-width: 150px;
    background: transparent;
}
QMenu::item:selected { background: %5; color: %2; }
QMenu::item:disabled { color: %11; }
QMenu::separator { height: 1px; background: %7; margin: 4px 10px; }
QMenu::indicator:checked { background: %12; border-radius: 3px; }
QMenu::item:checked { color: %2; font-weight: 700; }

/* ---- Buttons (base) ---- */
QPushButton {
    background: %5;
    color: %9;
    border: 1px solid %7;
    border-radius: 9px;
    padding: 6px 16px;
    font-size: 12px;
    font-weight: 600;
}
QPushButton:focus { border-color: %12; }
QPushButton:hover { background: %6; color: %2; border-color: %8; }
QPushButton:pressed { background: %4; border-color: %12; padding-top: 7px; padding-bottom: 5px; }
QPushButton:disabled { color: %11; background: %4; }
QPushButton:checked { background: %ACCA%; border-color: %12; }

/* ---- Primary (accent) button ---- */
QPushButton#primaryBtn {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %14, stop:0.5 %12, stop:1 %13);
    color: #ffffff;
    border: 1px solid %13;
    font-weight: 700;
    border-radius: 10px;
    min-width: 60px;
    padding: 6px 18px;
}
QPushButton#primaryBtn:hover { background: %14; border-color: %12; }
QPushButton#primaryBtn:pressed { background: %13; }
QPushButton#primaryBtn:disabled { background: %5; color: %11; border-color: %7; }

/* ---- Secondary button ---- */
QPushButton#secondaryBtn {
    background: transparent;
    color: %9;
    border: 1px solid %8;
    border-radius: 10px;
    padding: 6px 18px;
}
QPushButton#secondaryBtn:hover { background: %6; color: %2; }

/* ---- Left panel tab buttons ---- */
QPushButton#lpTabBtn {
    background: transparent;
    color: %9;
    border: none;
    border-bottom: 2px solid transparent;
    border-radius: 0;
    padding: 6px 8px;
    font-size: 11px;
    font-weight: 700;
}
QPushButton#lpTabBtn:hover { color: %2; background: %6; }
QPushButton#lpTabBtn:checked { color: %2; border-bottom: 2px solid %12; background: transparent; }

/* ---- Now-playing panel tab buttons ---- */
QPushButton#panelTabBtn {
    background: transparent;
    color: %9;
    border: 1px solid transparent;
    border-radius: 6px;
    padding: 3px 6px;
    font-size: 10px;
    font-weight: 700;
}
QPushButton#panelTabBtn:hover { color: %2; background: %6; }
QPushButton#panelTabBtn:checked { color: %2; background: %ACCA%; border-color: %12; }

/* ---- Add-tab button ---- */
QPushButton#addTabBtn {
    background: transparent;
    color: %12;
    border: 1px dashed %7;
    border-radius: 8px;
    padding: 2px 8px;
    font-size: 14px;
    font-weight: 700;
}
QPushButton#addTabBtn:hover { border-color: %12; background: %ACCA%; }

/* ---- Text inputs ---- */
QLineEdit, QTextEdit, QPlainTextEdit {
    background: %4;
    border: 1px solid %7;
    border-radius: 7px;
    padding: 5px 10px;
    font-size: 12px;
}
QLineEdit:focus, QTextEdit:focus, QPlainTextEdit:focus { border-color: %12; }
QLineEdit:disabled, QTextEdit:disabled, QPlainTextEdit:disabled { color: %11; }

/* ---- Spin box ---- */
QSpinBox, QDoubleSpinBox {
    background: %4;
    border: 1px solid %7;
    border-radius: 6px;
    padding: 3px 6px;
}
QSpinBox:focus, QDoubleSpinBox:focus { border-color: %12; }
QSpinBox::up-button, QDoubleSpinBox::up-button,
QSpinBox::down-button, QDoubleSpinBox::down-button {
    width: 16px;
    background: transparent;
    border: none;
}
QSpinBox::up-button:hover, QDoubleSpinBox::up-button:hover,
QSpinBox::down-button:hover, QDoubleSpinBox::down-button:hover { background: %6; }
QSpinBox::up-arrow, QDoubleSpinBox::up-arrow { image: %SBARU%; width: 8px; height: 8px; }
QSpinBox::down-arrow, QDoubleSpinBox::down-arrow { image: %SBARD%; width: 8px; height: 8px; }

/* ---- Combo box ---- */
QComboBox {
    background: %5;
    border: 1px solid transparent;
    border-radius: 8px;
    padding: 4px 10px;
    min-width: 80px;
}
QComboBox:hover { border-color: %8; }
QComboBox:focus { border-color: %12; }
QComboBox::drop-down { width: 18px; border: none; background: transparent; }
QComboBox::down-arrow { image: %SBARD%; width: 9px; height: 9px; }
QComboBox::down-arrow:on { image: %SBARU%; }

/* ---- Grid-header combo ---- */
QComboBox#gridHeaderCombo {
    background: %5;
    border: 1px solid %7;
    border-radius: 6px;
    padding: 0 6px;
    min-width: 40px;
    font-size: 10px;
}
QComboBox#gridHeaderCombo:hover { border-color: %12; }

/* ---- Popup and drop-down items ---- */
QListView, QAbstractItemView {
    background: %4;
    border: 1px solid %7;
    border-radius: 8px;
    selection-background-color: %12;
}
QComboBox QAbstractItemView {
    background: %4;
    color: %2;
    selection-background-color: %ACCA%;
    selection-color: %2;
}
QListView::item { padding: 4px 10px; min-height: 24px; border-radius: 5px; }
QListView::item:hover { background: %5; }
QListView::item:selected { background: %12; }

/* ---- Sliders ---- */
QSlider::groove:horizontal { height: 6px; background: %5; border-radius: 3px; }
QSlider::sub-page:horizontal {
    background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %13, stop:1 %14);
    border-radius: 3px;
}
QSlider::handle:horizontal {
    width: 15px;
    height: 15px;
    background: %2;
    border: 3px solid %12;
    border-radius: 9px;
    margin: -6px 0;
}
QSlider::handle:horizontal:hover { border: 4px solid %14; }
QSlider::handle:horizontal:pressed { background: %12; }
QSlider::groove:vertical { width: 6px; background: %5; border-radius: 3px; }
QSlider::add-page:vertical {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %14, stop:1 %13);
    border-radius: 3px;
}
QSlider::handle:vertical {
    width: 15px;
    height: 15px;
    background: %2;
    border: 3px solid %12;
    border-radius: 9px;
    margin: 0 -6px;
}
QSlider::handle:vertical:hover { border: 4px solid %14; }
QSlider::handle:vertical:pressed { background: %12; }

/* ---- Scroll bars ---- */
QScrollBar:vertical {
    width: 14px;
    background: %TRACKBG%;
    margin: 18px 0 18px 0;
    border: none;
}
QScrollBar:horizontal {
    height: 14px;
    background: %TRACKBG%;
    margin: 0 18px 0 18px;
    border: none;
}
QScrollBar::handle:vertical { background: %THUMBN%; border-radius: 4px; min-height: 32px; margin: 2px; }
QScrollBar::handle:horizontal { background: %THUMBN%; border-radius: 4px; min-width: 32px; margin: 2px; }
QScrollBar::handle:hover { background: %THUMBH%; }
QScrollBar::handle:pressed { background: %THUMBP%; }
QScrollBar::sub-line:vertical {
    subcontrol-origin: margin; subcontrol-position: top;
    width: 14px; height: 16px; background: transparent; border: none;
}
QScrollBar::add-line:vertical {
    subcontrol-origin: margin; subcontrol-position: bottom;
    width: 14px; height: 16px; background: transparent; border: none;
}
QScrollBar::sub-line:horizontal {
    subcontrol-origin: margin; subcontrol-position: left;
    width: 16px; height: 14px; background: transparent; border: none;
}
QScrollBar::add-line:horizontal {
    subcontrol-origin: margin; subcontrol-position: right;
    width: 16px; height: 14px; background: transparent; border: none;
}
QScrollBar::sub-line:hover, QScrollBar::add-line:hover { background: %ARROWHOVER%; border-radius: 6px; }
QScrollBar::up-arrow:vertical { image: %SCARU%; width: 9px; height: 9px; }
QScrollBar::down-arrow:vertical { image: %SCARD%; width: 9px; height: 9px; }
QScrollBar::left-arrow:horizontal { image: %SCARL%; width: 9px; height: 9px; }
QScrollBar::right-arrow:horizontal { image: %SCARR%; width: 9px; height: 9px; }
QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }
QAbstractScrollArea, QScrollArea { background: transparent; border: none; }
QAbstractScrollArea::corner { background: transparent; border: none; }

/* ---- Labels ---- */
QLabel { background: transparent; }
QLabel:disabled { color: %11; }

/* ---- Dialogs ---- */
QMessageBox { background: %3; }
QMessageBox QLabel { color: %2; }
QMessageBox QPushButton, QDialogButtonBox QPushButton {
    min-width: 78px;
    border-radius: 10px;
    padding: 7px 18px;
}

/* ---- Group box ---- */
QGroupBox {
    background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %4, stop:1 %3);
    border: 1px solid %7;
    border-radius: 14px;
    margin-top: 16px;
    padding: 14px 10px 10px 10px;
    font-weight: 600;
    color: %9;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 12px;
    top: 3px;
    padding: 3px 10px;
    background: %5;
    border: 1px solid %7;
    border-radius: 8px;
}

/* ---- Tree and list widgets ---- */
QTreeWidget, QListWidget {
    background: %4;
    border: 1px solid %7;
    border-radius: 8px;
}
QTreeWidget::item, QListWidget::item { padding: 4px 6px; border-radius: 5px; min-height: 22px; }
QTreeWidget::item:hover, QListWidget::item:hover { background: %6; }
QTreeWidget::item:selected, QListWidget::item:selected { background: %ACCA%; }
QHeaderView::section {
    background: %5;
    color: %9;
    border: none;
    border-bottom: 1px solid %7;
    padding: 4px 8px;
    font-weight: 600;
}

/* ---- Progress bar ---- */
QProgressBar {
    background: %5;
    border: 1px solid %7;
    border-radius: 6px;
    font-size: 10px;
    text-align: center;
}
QProgressBar::chunk {
    background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 %13, stop:0.5 %12, stop:1 %14);
    border-radius: 5px;
}

/* ---- Check box and radio button ---- */
QCheckBox, QRadioButton { spacing: 8px; background: transparent; }
QCheckBox::indicator, QRadioButton::indicator {
    width: 18px;
    height: 18px;
    border: 1px solid %7;
    background: %5;
}
QCheckBox::indicator { border-radius: 5px; }
QRadioButton::indicator { border-radius: 9px; }
QCheckBox::indicator:hover, QRadioButton::indicator:hover { border-color: %8; }
QCheckBox::indicator:checked { background: %12; border-color: %12; image: %SBCHECK%; }
QRadioButton::indicator:checked { background: %12; border: 5px solid %5; width: 8px; height: 8px; }
QCheckBox:disabled, QRadioButton:disabled { color: %11; }

/* ---- Tooltip ---- */
QToolTip {
    background: %4;
    color: %2;
    border: 1px solid %8;
    border-left: 3px solid %12;
    border-radius: 9px;
    padding: 6px 12px;
    font-size: 11px;
}

/* ---- Splitter ---- */
QSplitter::handle { background: %7; }
QSplitter::handle:horizontal { width: 1px; }
QSplitter::handle:vertical { height: 1px; }
QSplitter::handle:hover { background: %12; }

/* ---- Status bar ---- */
QWidget#statusBar {
    background: %4;
    border-top: 1px solid %7;
}
QWidget#statusBar QLabel { color: %10; font-size: 10px; }

/* ---- Frame separators ---- */
QFrame[frameShape="4"], QFrame[frameShape="5"] { background: %7; border: none; max-height: 1px; }
QFrame[frameShape="5"] { max-height: 16777215px; max-width: 1px; }

/* ============================================================
   The program's own widgets
   ============================================================ */

/* ---- Tab strip ---- */
QWidget#tabStripOuter {
    background: %4;
    border-bottom: 2px solid %7;
    padding-bottom: 2px;
}
QWidget#tabStrip { background: transparent; }
QScrollArea#tabStripScroll { background: transparent; border: none; }
QWidget#tabStripOuter QPushButton {
    font-size: 11px;
    font-weight: 700;
    border-top-left-radius: 11px;
    border-top-right-radius: 11px;
    border-bottom-left-radius: 0;
    border-bottom-right-radius: 0;
    letter-spacing: 0.2px;
}

/* ---- Grid panels ---- */
QWidget#gridPanel {
    background: %4;
    border: 1px solid %7;
    border-top: none;
    border-bottom-left-radius: 10px;
    border-bottom-right-radius: 10px;
}
QWidget#gridHeader {
    background: %4;
    border: 1px solid %7;
    border-bottom: none;
    border-top-left-radius: 10px;
    border-top-right-radius: 10px;
    min-height: 38px;
}
QWidget#gridArea { background: %3; }

/* ---- Left panel ---- */
QWidget#leftPanel { background: %4; border-right: 1px solid %7; }
QWidget#leftTabRow { background: %5; border-bottom: 1px solid %7; }
QLabel#sessionFolderIcon { background: transparent; }
QLabel#sessionLabel { color: %2; font-size: 12px; font-weight: 700; background: transparent; }
QLabel#sessionSubLabel { color: %9; font-size: 10px; background: transparent; }

/* ---- Right panel ---- */
QWidget#rightPanel {
    background: %4;
    border-left: 1px solid %7;
    min-width: 200px;
}
QWidget#panelHdr { background: %5; border-bottom: 1px solid %7; }
QLabel#panelHdrLbl { color: %9; font-size: 10px; font-weight: 700; letter-spacing: 0.8px; background: transparent; }

/* ---- Sound button grid cells ---- */
QPushButton#soundBtn {
    background: transparent;
    color: %2;
    border: none;
    border-radius: 8px;
    font-size: 10px;
}
QPushButton#soundBtn[empty="true"] { color: %11; }
QPushButton#soundBtn[empty="true"]:hover { color: %10; }

/* ---- Toolbar volume slider ---- */
QSlider#volSlider { background: transparent; }
QSlider#volSlider::groove:horizontal { height: 4px; background: %5; border-radius: 2px; }
QSlider#volSlider::handle:horizontal {
    width: 12px; height: 12px; margin: -5px 0;
    background: %2; border: 2px solid %12; border-radius: 7px;
}

/* ---- Library search ---- */
QLineEdit#libSearch {
    background: %5;
    border-radius: 14px;
    padding: 4px 12px;
    font-size: 11px;
}

/* ---- Add-tab-in-strip button ---- */
QPushButton#addTabInStrip { padding: 0; border-radius: 8px; }

/* ---- Reset music button ---- */
QPushButton#resetMusicBtn {
    background: transparent;
    color: %10;
    border: 1px solid %7;
    border-radius: 4px;
    padding: 2px 8px;
    font-size: 10px;
}
QPushButton#resetMusicBtn:hover { background: %16; color: %4; }

/* ---- Danger (destructive action) button ---- */
QPushButton#dangerBtn {
    background: transparent;
    color: %DANGERINK%;
    border: 1px solid %16;
    border-radius: 6px;
    font-size: 11px;
    font-weight: 600;
    padding: 4px 14px;
    text-align: left;
}
QPushButton#dangerBtn:hover { background: %ERRORA%; }
QPushButton#dangerBtn:pressed { background: %ERRORB%; }

/* ---- Muted info label ---- */
QLabel#mutedLabel { color: %10; font-size: 10px; background: transparent; }

/* ---- Music preview device combo ---- */
QComboBox#musicDevComboBox {
    background: %5;
    border: 1px solid %7;
    border-radius: 6px;
    padding: 2px 8px;
    min-width: 60px;
    font-size: 10px;
}
QComboBox#musicDevComboBox:hover { border-color: %12; }

/* ---- Grid-header inner controls ---- */
QWidget#gridHeader QLabel { background: transparent; }
QWidget#gridHeader QPushButton {
    padding: 0 8px;
    border-radius: 6px;
    font-size: 10px;
    font-weight: 600;
}
QPushButton#fadeBtn[active="true"] { background: %ACCA%; color: %2; border-color: %12; }

/* ---- Music list ---- */
QListWidget#musicList {
    background: %4;
    border: none;
    border-radius: 0;
}
QListWidget#musicList::item { padding: 3px 8px; border-radius: 4px; min-height: 20px; }
QListWidget#musicList::item:selected { background: %ACCA%; }

/* ---- Recent sessions list ---- */
QListWidget#recentList { background: transparent; border: none; }
QListWidget#recentList::item { padding: 5px 8px; border-radius: 6px; }
QListWidget#recentList::item:hover { background: %6; }
QListWidget#recentList::item:selected { background: %ACCA%; }

/* ---- Toggle switches ---- */
QCheckBox#toggleSwitch { spacing: 10px; }
QCheckBox#toggleSwitch::indicator {
    width: 44px;
    height: 22px;
    border-radius: 11px;
    background: %5;
    border: 1px solid %7;
    image: none;
}
QCheckBox#toggleSwitch::indicator:checked { background: %12; border-color: %12; image: none; }

/* ---- Auto-Mix buttons ---- */
QPushButton#amBtn {
    background: %5;
    color: %9;
    border: 1px solid %7;
    border-radius: 7px;
    padding: 3px 10px;
    font-size: 10px;
    font-weight: 700;
}
QPushButton#amBtn:hover { background: %6; color: %2; }
QPushButton#amBtn:checked { background: %ACCA%; color: %2; border-color: %12; }

/* ---- Now playing in the right panel ---- */
QWidget#nowPlayingPanel { background: %4; padding: 2px; }
QLabel#nowPlayTitle { color: %2; font-size: 12px; font-weight: 700; background: transparent; }
QLabel#nowPlayTime { color: %9; font-size: 11px; font-family: Consolas, monospace; background: transparent; }
QLabel#nowPlayDot { color: %12; background: transparent; }

/* ---- Online library ---- */
QWidget#onlinePage { background: %4; }

/* ---- Event log ---- */
QPlainTextEdit#eventLog {
    background: %3;
    color: %10;
    font-family: Consolas, monospace;
    font-size: 10px;
    border: none;
    border-radius: 0;
}

/* ---- Tab strip buttons ---- */
QWidget#tabStrip QPushButton {
    padding: 5px 14px;
    margin-right: 2px;
}
QWidget#tabStrip QPushButton:checked { color: %2; border-color: %12; }
)QSS";

QString rgba(const QColor& c, int alpha)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(QString::number(c.red()), QString::number(c.green()), QString::number(c.blue()),
             QString::number(alpha / 255.0, 'f', 2));
}

QString svgUrl(const QString& svg)
{
    return QStringLiteral("url(\"data:image/svg+xml;base64,") + QString::fromLatin1(svg.toUtf8().toBase64())
        + QStringLiteral("\")");
}

QString imageFileFor(const QString& svg)
{
    static QString dir;
    static bool dirTried = false;
    static QSet<QString> written;
    if (!dirTried) {
        dirTried = true;
        const QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
        if (!base.isEmpty() && QDir().mkpath(base + QStringLiteral("/qss-images")))
            dir = base + QStringLiteral("/qss-images");
    }
    if (dir.isEmpty())
        return QString();
    const QByteArray bytes = svg.toUtf8();
    const QString path = dir + QLatin1Char('/')
        + QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex())
        + QStringLiteral(".svg");
    if (written.contains(path))
        return path;
    QFile existing(path);
    if (FileCheck::isRegularFile(path) && existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
        written.insert(path);
        return path;
    }
    existing.close();
    if (!safeWriteFile(path, bytes))
        return QString();
    written.insert(path);
    return path;
}

QString imageUrl(const QString& svg)
{
    // Qt's style sheets load images through the file system only; a data URL
    // would leave the image empty. The data URL stays as the last resort.
    const QString path = imageFileFor(svg);
    if (path.isEmpty())
        return svgUrl(svg);
    return QStringLiteral("url(\"") + path + QStringLiteral("\")");
}

namespace {

QString arrowSvg(const char* path, const QColor& c)
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='9' height='9' viewBox='0 0 9 9'>"
                          "<path d='%1' fill='%2'/></svg>")
        .arg(QLatin1String(path), c.name());
}

QString tickSvg()
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='12' height='12' viewBox='0 0 12 12'>"
                          "<path d='M2 6.2 L4.8 9 L10 3.4' fill='none' stroke='#ffffff' stroke-width='2' "
                          "stroke-linecap='round' stroke-linejoin='round'/></svg>");
}

constexpr const char* kArrowUp = "M1 6.2 L4.5 2.2 L8 6.2 Z";
constexpr const char* kArrowDown = "M1 2.8 L4.5 6.8 L8 2.8 Z";
constexpr const char* kArrowLeft = "M6.2 1 L2.2 4.5 L6.2 8 Z";
constexpr const char* kArrowRight = "M2.8 1 L6.8 4.5 L2.8 8 Z";

} // namespace

QString arrowImage(bool up, const QColor& c)
{
    return imageUrl(arrowSvg(up ? kArrowUp : kArrowDown, c));
}

QString fillText(const QString& tmpl, const ThemeColors& c, const QString& fontFamily, int fontPx)
{
    // Numbered markers: each bound to its own value. There is no %15.
    QHash<int, QString> numbered;
    numbered.insert(1, QString::number(fontPx));
    // Muted text is read on every ground of the sheet: it takes the preset's
    // muted colour moved just far enough to read on all of them.
    const QColor muted = ThemeManager::readableOn(c.textMuted, {c.bg, c.surface, c.surfaceAlt});
    const QColor roles[] = {c.text, c.bg, c.surface, c.surfaceAlt, c.surfaceHover, c.border, c.borderStrong,
                            c.textSecondary, muted, c.textDisabled, c.accent, c.accentPressed,
                            c.accentLight};
    for (int i = 0; i < 13; ++i)
        numbered.insert(i + 2, roles[i].name());
    numbered.insert(16, c.danger.name());

    QHash<QString, QString> named;
    named.insert(QStringLiteral("FONT"), fontFamily);
    named.insert(QStringLiteral("ACCA"), rgba(c.accent, 50));
    named.insert(QStringLiteral("ERRORA"), rgba(c.danger, 38));
    named.insert(QStringLiteral("ERRORB"), rgba(c.danger, 77));
    // A danger button's text in the danger colour, moved as far as it needs
    // to read on the sheet's grounds, plain or under the button's hover wash.
    QColor wash = c.danger;
    wash.setAlpha(38);
    named.insert(QStringLiteral("DANGERINK"),
                 ThemeManager::readableOn(c.danger, {c.bg, c.surface, c.surfaceAlt, ThemeManager::blended(wash, c.bg),
                                                     ThemeManager::blended(wash, c.surface)})
                     .name());
    named.insert(QStringLiteral("THUMBN"), rgba(c.textSecondary, 150));
    named.insert(QStringLiteral("THUMBH"), rgba(c.textSecondary, 205));
    named.insert(QStringLiteral("THUMBP"), rgba(c.textSecondary, 240));
    named.insert(QStringLiteral("TRACKBG"), rgba(c.textSecondary, 22));
    named.insert(QStringLiteral("ARROWHOVER"), rgba(c.textSecondary, 60));
    named.insert(QStringLiteral("SCARU"), imageUrl(arrowSvg(kArrowUp, c.accent)));
    named.insert(QStringLiteral("SCARD"), imageUrl(arrowSvg(kArrowDown, c.accent)));
    named.insert(QStringLiteral("SCARL"), imageUrl(arrowSvg(kArrowLeft, c.accent)));
    named.insert(QStringLiteral("SCARR"), imageUrl(arrowSvg(kArrowRight, c.accent)));
    named.insert(QStringLiteral("SBARU"), arrowImage(true, c.text));
    named.insert(QStringLiteral("SBARD"), arrowImage(false, c.text));
    named.insert(QStringLiteral("SBCHECK"), imageUrl(tickSvg()));

    // One pass over the template: a value is never scanned again, so a font
    // family or colour containing '%' cannot be taken for a marker, and %1 is
    // never confused with the start of %12.
    QString out;
    out.reserve(tmpl.size() + tmpl.size() / 2);
    const int n = tmpl.size();
    int i = 0;
    while (i < n) {
        const QChar ch = tmpl.at(i);
        if (ch != QLatin1Char('%')) {
            out.append(ch);
            ++i;
            continue;
        }
        int j = i + 1;
        if (j < n && tmpl.at(j).isDigit()) {
            while (j < n && tmpl.at(j).isDigit())
                ++j;
            const int number = QStringView(tmpl).mid(i + 1, j - i - 1).toInt();
            const auto it = numbered.constFind(number);
            if (it != numbered.constEnd()) {
                out.append(*it);
                i = j;
                continue;
            }
        } else {
            while (j < n && tmpl.at(j).unicode() >= 'A' && tmpl.at(j).unicode() <= 'Z')
                ++j;
            if (j > i + 1 && j < n && tmpl.at(j) == QLatin1Char('%')) {
                const auto it = named.constFind(tmpl.mid(i + 1, j - i - 1));
                if (it != named.constEnd()) {
                    out.append(*it);
                    i = j + 1;
                    continue;
                }
            }
        }
        out.append(ch);
        ++i;
    }
    return out;
}

QString fill(const ThemeColors& c, const QString& fontFamily, int fontPx)
{
    return fillText(QString::fromUtf8(kTemplate), c, fontFamily, fontPx);
}

namespace {

struct SwitchLook {
    QString trackTop, trackBottom, trackStroke;
    QString highlight;
    double highlightOpacity;
    double shadowOpacity;
    QString knobTop, knobBottom;
    int knobX;
    bool glow;
    double glowX, glowY, glowW, glowH, glowR, glowStop, glowOpacity;
};

QString switchSvg(const SwitchLook& l)
{
    const auto num = [](double v) { return QString::number(v, 'g', 6); };
    QString svg = QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' width='52' height='26' viewBox='0 0 52 26'>"
                                 "<defs>"
                                 "<linearGradient id='t' x1='0' y1='0' x2='0' y2='1'>"
                                 "<stop offset='0' stop-color='%1'/><stop offset='1' stop-color='%2'/></linearGradient>"
                                 "<linearGradient id='k' x1='0' y1='0' x2='0' y2='1'>"
                                 "<stop offset='0' stop-color='%3'/><stop offset='1' stop-color='%4'/></linearGradient>")
                      .arg(l.trackTop, l.trackBottom, l.knobTop, l.knobBottom);
    if (l.glow) {
        svg += QStringLiteral("<radialGradient id='g' cx='0.5' cy='0.5' r='0.5'>"
                              "<stop offset='%1' stop-color='%2' stop-opacity='0'/>"
                              "<stop offset='1' stop-color='%2' stop-opacity='%3'/></radialGradient>")
                   .arg(num(l.glowStop), l.trackTop, num(l.glowOpacity));
    }
    svg += QStringLiteral("</defs>");
    if (l.glow) {
        svg += QStringLiteral("<rect x='%1' y='%2' width='%3' height='%4' rx='%5' fill='url(#g)'/>")
                   .arg(num(l.glowX), num(l.glowY), num(l.glowW), num(l.glowH), num(l.glowR));
    }
    svg += QStringLiteral("<rect x='0.5' y='0.5' width='51' height='25' rx='12.5' fill='url(#t)' stroke='%1' "
                          "stroke-width='1'/>")
               .arg(l.trackStroke);
    svg += QStringLiteral("<rect x='2' y='2' width='48' height='10' rx='6' fill='%1' fill-opacity='%2'/>")
               .arg(l.highlight, num(l.highlightOpacity));
    svg += QStringLiteral("<circle cx='%1' cy='13' r='10.5' fill='#000000' fill-opacity='%2'/>")
               .arg(QString::number(l.knobX), num(l.shadowOpacity));
    svg += QStringLiteral("<circle cx='%1' cy='12.3' r='10' fill='url(#k)'/>").arg(QString::number(l.knobX));
    svg += QStringLiteral("</svg>");
    return svg;
}

} // namespace

QString toggleSwitch(const ThemeColors& c)
{
    const QString accent = c.accent.name();
    const QString accentHover = c.accent.lighter(112).name();
    const QString pressed = c.accentPressed.name();

    const SwitchLook off{QStringLiteral("#3a3a40"), QStringLiteral("#4c4c54"), QStringLiteral("#232327"),
                         QStringLiteral("#000000"), 0.10, 0.18, QStringLiteral("#ffffff"), QStringLiteral("#d8d8dc"),
                         14, false, 0, 0, 0, 0, 0, 0, 0};
    const SwitchLook offHover{QStringLiteral("#46464e"), QStringLiteral("#595962"), QStringLiteral("#2c2c31"),
                              QStringLiteral("#000000"), 0.08, 0.20, QStringLiteral("#ffffff"),
                              QStringLiteral("#e6e6ea"), 14, false, 0, 0, 0, 0, 0, 0, 0};
    const SwitchLook on{accent, pressed, pressed, QStringLiteral("#ffffff"), 0.12, 0.18, QStringLiteral("#ffffff"),
                        QStringLiteral("#f2f2f5"), 38, true, -2, -2, 56, 30, 15, 0.6, 0.35};
    const SwitchLook onHover{accentHover, pressed, pressed, QStringLiteral("#ffffff"), 0.16, 0.20,
                             QStringLiteral("#ffffff"), QStringLiteral("#ffffff"), 38, true, -2.5, -2.5, 57, 31,
                             15.5, 0.55, 0.55};

    return QStringLiteral("QCheckBox{color:") + c.text.name()
        + QStringLiteral(";spacing:12px;font-size:12px;background:transparent;}"
                         "QCheckBox::indicator{width:52px;height:26px;border-radius:13px;border:none;"
                         "min-width:52px;image:")
        + imageUrl(switchSvg(off)) + QStringLiteral(";}QCheckBox::indicator:hover{image:") + imageUrl(switchSvg(offHover))
        + QStringLiteral(";}QCheckBox::indicator:checked{image:") + imageUrl(switchSvg(on))
        + QStringLiteral(";}QCheckBox::indicator:checked:hover{image:") + imageUrl(switchSvg(onHover))
        + QStringLiteral(";}");
}

} // namespace StyleSheetTemplate
