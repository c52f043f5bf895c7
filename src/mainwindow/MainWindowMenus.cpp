// The toolbar's five menu buttons and their menus (File, Transport, Grid,
// View, Tools), the playback-rule entries, the keyboard shortcuts dialog, the
// About box, the debug window's key and the master volume's context menu.
#include "MainWindow.h"

#include <QAction>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QToolTip>
#include <QUrl>
#include <QWidgetAction>

#include "ButtonGrid.h"
#include "Modal.h"
#include "SessionManager.h"
#include "ShortcutsDialog.h"
#include "ThemeFollow.h"
#include "MenuHeading.h"
#include "StyleSheetTemplate.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

std::function<void()>& debugWindowOpener()
{
    static std::function<void()> open;
    return open;
}

// Where the Tools menu's "Help" leads.
const char* const kHelpUrl = "https://tarvello.invalid/help";

// The grid row's spin boxes: dark fields with arrows drawn as images (a
// style sheet's border triangles would show as bars).
QString spinSS()
{
    const QColor arrow(QStringLiteral("#cccccc"));
    return QStringLiteral(
               "QSpinBox {  background:#2a2a2a; color:#ffffff;  border:1px solid #555; border-radius:4px;  "
               "padding-left:4px; min-height:26px; }"
               "QSpinBox::up-button {  subcontrol-origin:border;  subcontrol-position:top right;  width:18px; "
               "border-left:1px solid #555;  border-top-right-radius:4px;  background:#3a3a3a; }"
               "QSpinBox::up-button:hover { background:#505050; }"
               "QSpinBox::up-arrow {  image:%1;  width:8px; height:8px; }"
               "QSpinBox::down-button {  subcontrol-origin:border;  subcontrol-position:bottom right;  width:18px; "
               "border-left:1px solid #555;  border-bottom-right-radius:4px;  background:#3a3a3a; }"
               "QSpinBox::down-button:hover { background:#505050; }"
               "QSpinBox::down-arrow {  image:%2;  width:8px; height:8px; }")
        .arg(StyleSheetTemplate::arrowImage(true, arrow), StyleSheetTemplate::arrowImage(false, arrow));
}

} // namespace

void MainWindow::setDebugWindowOpener(std::function<void()> open)
{
    debugWindowOpener() = std::move(open);
}

QString MainWindow::toolbarMenuSS() const
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    return QStringLiteral("QMenu{  background:%1;border:1px solid %2;  border-radius:10px;padding:6px 4px;  "
                          "font-family:'Segoe UI',Arial,sans-serif;}"
                          "QMenu::item{padding:8px 30px 8px 14px;font-size:12px;color:%3;border-radius:6px;}"
                          "QMenu::item:selected{background:%4;color:%5;}"
                          "QMenu::item:pressed{background:%2;}"
                          "QMenu::separator{height:1px;background:%2;margin:4px 0;}"
                          "QMenu::item:disabled{color:%6;}"
                          "QMenu::right-arrow{width:6px;height:6px;}")
        .arg(c.surfaceHover.name(), c.border.name(), c.textSecondary.name(), c.surfaceAlt.name(), c.text.name(),
             c.textMuted.name());
}

// A menu button may be as narrow as its text and padding: the style's usual
// 80-pixel least width of a text button would keep the toolbar row, and so
// the window, wider than a small screen.
void MainWindow::fitMenuBarButton(QPushButton* b)
{
    b->ensurePolished();
    b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 24);
}

QMenu* MainWindow::addToolbarMenu(QHBoxLayout* row, const QString& wide, const QString& narrow, const QString& tip)
{
    auto* b = new QPushButton(wide, toolBar);
    b->setObjectName(QStringLiteral("menuBarBtn"));
    b->setFixedHeight(sc(36));
    b->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    fitMenuBarButton(b);
    b->setToolTip(tip);
    auto* m = new QMenu(this);
    // A theme change reaches the menu at once, and again whenever it opens.
    followTheme(m, [this, m](const ThemeColors&) { m->setStyleSheet(toolbarMenuSS()); });
    connect(m, &QMenu::aboutToShow, this, [this, m] { m->setStyleSheet(toolbarMenuSS()); });
    connect(b, &QPushButton::clicked, this, [b, m] { m->popup(b->mapToGlobal(QPoint(0, b->height()))); });
    row->addWidget(b);
    row->addSpacing(2);
    menuBarButtons.append(b);
    menuBarLabels.append(wide);
    menuBarIcons.append(narrow);
    menuBarMenus.append(m);
    return m;
}

void MainWindow::buildMenuButtons(QHBoxLayout* row)
{
    buildFileMenu(addToolbarMenu(row, QStringLiteral("File"), QStringLiteral("📁"), QStringLiteral("File menu")));
    buildTransportMenu(
        addToolbarMenu(row, QStringLiteral("Transport"), QStringLiteral("⏯"), QStringLiteral("Transport settings")));
    buildGridMenu(addToolbarMenu(row, QStringLiteral("Grid"), QStringLiteral("▦"), QStringLiteral("Grid settings")));
    QMenu* view = addToolbarMenu(row, QStringLiteral("View"), QStringLiteral("👁"), QStringLiteral("View options"));
    view->addAction(QStringLiteral("Toggle Left Panel\tCtrl+["), this, &MainWindow::toggleLeftPanel);
    view->addAction(QStringLiteral("Toggle Right Panel\tCtrl+]"), this, &MainWindow::toggleRightPanel);
    buildToolsMenu(
        addToolbarMenu(row, QStringLiteral("Tools"), QStringLiteral("⚙"), QStringLiteral("Tools & Settings")));

    // The debug window's key belongs to the window, not to a menu.
    auto* debug = new QAction(QStringLiteral("Debug Window"), this);
    debug->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+D")));
    debug->setShortcutContext(Qt::WindowShortcut);
    connect(debug, &QAction::triggered, this, [] {
        if (debugWindowOpener())
            debugWindowOpener()();
    });
    addAction(debug);
}

void MainWindow::buildFileMenu(QMenu* m)
{
    m->setMinimumWidth(210);
    // A menu popped from a button registers no key, so every entry with a
    // key is added to the window too: the key works with the menu closed.
    auto entry = [this, m](const QString& text, const char* keys, auto slot) {
        QAction* a = m->addAction(text, this, slot);
        if (keys) {
            a->setShortcut(QKeySequence(QString::fromLatin1(keys)));
            a->setShortcutContext(Qt::WindowShortcut);
            addAction(a);
        }
        return a;
    };
    entry(QStringLiteral("+ New Set"), "Ctrl+N", &MainWindow::onNewSession);
    entry(QStringLiteral("Open Set"), "Ctrl+O", &MainWindow::onOpenSession);
    m->addSeparator();
    entry(QStringLiteral("Save"), "Ctrl+S", &MainWindow::onSaveSession);
    entry(QStringLiteral("Save As"), "Ctrl+Shift+S", &MainWindow::onSaveSessionAs);
    m->addSeparator();
    entry(QStringLiteral("Export Bundle (.vxbundle)…"), "Ctrl+Shift+E", &MainWindow::onExportBundle);
    entry(QStringLiteral("Import Bundle (.vxbundle)…"), "Ctrl+Shift+I", &MainWindow::onImportBundle);
    m->addSeparator();
    entry(QStringLiteral("Import Stinger Page (.stg)…"), nullptr, &MainWindow::onImportStg);
    entry(QStringLiteral("Import Stinger Collection (.col)…"), nullptr, &MainWindow::onImportCol);
    m->addSeparator();
    entry(QStringLiteral("Exit"), nullptr, &QWidget::close);
}

void MainWindow::buildTransportMenu(QMenu* m)
{
    // Keys served by the window's key handling are only shown here.
    m->addAction(QStringLiteral("Record\tCtrl+R"), this, &MainWindow::onToggleRecord);
    m->addAction(QStringLiteral("Stop All\tSpace"), this, &MainWindow::onStopAll);
    m->addAction(QStringLiteral("Panic Stop\tEsc"), this, &MainWindow::onPanic);
    m->addSeparator();

    const std::pair<const char*, QPushButton*> rules[] = {{"Auto-Stop Previous", autoStopToggle},
                                                          {"Restart on Re-Click", restartToggle},
                                                          {"Cross-Tab Stop", crossTabStopToggle}};
    for (const auto& [text, toggle] : rules) {
        QAction* a = m->addAction(QString::fromUtf8(text));
        a->setCheckable(true);
        a->setChecked(toggle->isChecked());
        // Each shows the other; a session load sets the toggle and the entry
        // follows. Only the user's choice of an entry (triggered) is an edit.
        connect(a, &QAction::toggled, toggle, &QPushButton::setChecked);
        connect(toggle, &QPushButton::toggled, a, &QAction::setChecked);
        connect(a, &QAction::triggered, this, [this] {
            Session& s = SessionManager::instance()->session();
            s.autoStop = autoStopToggle->isChecked();
            s.restart = restartToggle->isChecked();
            s.crossTabStop = crossTabStopToggle->isChecked();
            SessionManager::instance()->markDirty();
        });
    }
}

void MainWindow::buildGridMenu(QMenu* m)
{
    QAction* addTab = m->addAction(QStringLiteral("+ New Tab"), this, &MainWindow::onAddTab);
    addTab->setShortcut(QKeySequence(QStringLiteral("Ctrl+T")));
    addTab->setShortcutContext(Qt::WindowShortcut);
    addAction(addTab);
    m->addSeparator();
    vxMenuHeading(m, QStringLiteral("── Buttons per Tab ──"));
    for (int n : {24, 36, 48, 72})
        m->addAction(QStringLiteral("%1 Buttons").arg(n), this, [this, n] { setButtonsPerTab(n); });
    m->addSeparator();
    vxMenuHeading(m, QStringLiteral("── Layout ──"));

    auto* rowWidget = new QWidget(m);
    auto* row = new QHBoxLayout(rowWidget);
    row->setContentsMargins(12, 6, 12, 6);
    row->setSpacing(8);
    const ButtonGrid* first = m_panels.isEmpty() ? nullptr : m_panels.first().grid.data();
    auto spin = [&](QSpinBox*& box, const char* name, const QString& tip, int initial) {
        box = new QSpinBox(rowWidget);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(0, 20);
        box->setSpecialValueText(QStringLiteral("Auto"));
        box->setFixedWidth(sc(70));
        box->setToolTip(tip);
        box->setValue(initial);
        box->setStyleSheet(spinSS());
    };
    spin(colsSpin, "colsSpin", QStringLiteral("0 = Auto-fit columns"), first ? first->columns() : 0);
    spin(rowsSpin, "rowsSpin", QStringLiteral("0 = Auto-fit rows"), first ? first->rows() : 0);
    row->addWidget(new QLabel(QStringLiteral("Cols:"), rowWidget));
    row->addWidget(colsSpin);
    row->addSpacing(4);
    row->addWidget(new QLabel(QStringLiteral("Rows:"), rowWidget));
    row->addWidget(rowsSpin);
    row->addSpacing(4);
    auto* autoBtn = new QPushButton(QStringLiteral("Auto"), rowWidget);
    autoBtn->setToolTip(QStringLiteral("Reset to auto-fit"));
    autoBtn->setFixedHeight(sc(26));
    followTheme(autoBtn, [autoBtn](const ThemeColors& c) {
        autoBtn->setIcon(VXIcons::modern(
            VXIcons::strokeSvg(QStringLiteral("<path d='M3 12a9 9 0 1 0 3-6.7'/><polyline points='3 3 3 8 8 8'/>"),
                               2.0),
            c.text, 13));
    });
    row->addWidget(autoBtn);
    connect(colsSpin, &QSpinBox::valueChanged, this, &MainWindow::onColumnsChanged);
    connect(rowsSpin, &QSpinBox::valueChanged, this, &MainWindow::onRowsChanged);
    // Both handlers run even when the boxes already read "Auto".
    connect(autoBtn, &QPushButton::clicked, this, [this] {
        colsSpin->setValue(0);
        rowsSpin->setValue(0);
        onColumnsChanged(0);
        onRowsChanged(0);
    });
    auto* holder = new QWidgetAction(m);
    holder->setDefaultWidget(rowWidget);
    m->addAction(holder);
}

void MainWindow::buildToolsMenu(QMenu* m)
{
    m->addAction(QStringLiteral("Search Buttons…\tCtrl+F"), this, &MainWindow::showSearchDialog);
    m->addSeparator();
    QAction* keys = m->addAction(QStringLiteral("Keyboard Shortcuts"), this, &MainWindow::showShortcutsDialog);
    keys->setShortcut(QKeySequence(QStringLiteral("Ctrl+Shift+K")));
    keys->setShortcutContext(Qt::WindowShortcut);
    addAction(keys);
    m->addAction(QStringLiteral("Settings\tCtrl+,"), this, &MainWindow::openSettingsDialog);
    m->addSeparator();
    m->addAction(QStringLiteral("Help"), this, [] { QDesktopServices::openUrl(QUrl(QString::fromLatin1(kHelpUrl))); });
    m->addAction(QStringLiteral("Check for Updates…"), this, [this] { checkForUpdates(false, true); });
    m->addAction(QStringLiteral("About Tarvello Rododu"), this, &MainWindow::showAboutBox);
}

void MainWindow::showShortcutsDialog()
{
    ShortcutsDialog dlg(SessionManager::instance()->session(), this);
    if (Modal::exec(&dlg) != QDialog::Accepted)
        return;
    SessionManager::instance()->markDirty();
    // The dialog wrote the keys into the session: the grids show and fire
    // them, and the key map follows, so no later edit writes an old key back.
    syncGridsToSession();
    refreshTabDerivedState();
    updateStatusBar();
}

// A rule in the border colour parts the features from the contact line. Qt's
// rich text draws a rule in its background colour and leaves out its border,
// so both carry that colour. The version and the link read on the box's ground.
void MainWindow::showAboutBox()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    const QUrl help(QString::fromLatin1(kHelpUrl));
    const QString text =
        QStringLiteral("<div style=\"font-family:'Segoe UI';\">"
                       "<h2 style=\"color:%1;margin:0;\">Tarvello Rododu</h2>"
                       "<p style=\"color:%2;margin-top:4px;margin-bottom:12px;\">v2.0.84</p>"
                       "<p>Professional cartwall and soundboard for Linux.<br>"
                       "Designed for radio broadcasters, podcast producers,<br>"
                       "and live audio teams.</p>"
                       "<p><b>Up to 72 buttons · 16 tabs · MIDI · Split-view · Cloud library</b></p>"
                       "<hr style=\"border:1px solid %3;background-color:%3;\">"
                       "<p>Help and contact: <a href=\"%4\" style=\"color:%5;\">%6</a></p>"
                       "</div>")
            .arg(c.accent.name(), ThemeManager::readableOn(c.textMuted, {c.bg}).name(), c.border.name(),
                 help.toString(), ThemeManager::readableOn(c.accent, {c.bg}).name(), help.host() + help.path());
    QMessageBox box(this);
    box.setWindowTitle(QStringLiteral("About Tarvello Rododu"));
    box.setTextFormat(Qt::RichText);
    box.setText(text);
    Modal::execBox(&box);
}

void MainWindow::showVolumeMenu(const QPoint& pos)
{
    QMenu menu(volSlider);
    menu.setStyleSheet(vxMenuSS());
    vxMenuHeading(&menu, QStringLiteral("🔊 Main Volume"));
    QAction* learn = menu.addAction(QStringLiteral("🎹 MIDI Learn — Volume CC"));
    menu.addSeparator();
    QAction* reset = menu.addAction(QStringLiteral("Reset to 85%"));
    QAction* chosen = Modal::execMenu(&menu, volSlider->mapToGlobal(pos));
    if (chosen == learn)
        startMainVolumeLearn();
    else if (chosen == reset)
        volSlider->setValue(85);
}

void MainWindow::startMainVolumeLearn()
{
    MidiManager::instance()->startLearn(QStringLiteral("__main_volume__"));
    QToolTip::showText(volSlider->mapToGlobal(QPoint(0, -28)), QStringLiteral("Turn a MIDI knob/fader to assign..."),
                       volSlider, QRect(), 3000);
    toast(QStringLiteral("🎹  MIDI Learn active — move a knob or fader"), ToastManager::Highlight, 3500);
}
