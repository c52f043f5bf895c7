// The centre of the window: the three-column splitter, the tab strip row
// above the grid area, the width rules, and how a theme change reaches the
// window and its native frame.
#include "MainWindow.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QListWidget>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSplitter>
#include <QTimer>
#include <QVBoxLayout>
#include <utility>

#include "AudioEngine.h"
#include "ButtonGrid.h"
#include "GridHeader.h"
#include "NowPlayingBar.h"
#include "ScreenFit.h"
#include "ThemeManager.h"
#include "TitleBar.h"
#include "VXIcons.h"

namespace {

constexpr int kLeftPanelMinWidth = 1000;    // left panel shows above 999 px
constexpr int kRightPanelMinWidth = 1150;   // right panel shows above 1149 px
constexpr int kStripRebuildDelayMs = 40;
constexpr int kThemeDebounceMs = 30;
constexpr int kThemeSettleMs = 200;

// The main splitter's handle in the theme's colours.
QString splitterSheet(const ThemeColors& c)
{
    return QStringLiteral("QSplitter#mainSplitter::handle{background:%1;}"
                          "QSplitter#mainSplitter::handle:horizontal{width:1px;}"
                          "QSplitter#mainSplitter::handle:hover{background:%2;}")
        .arg(c.border.name(), c.borderStrong.name());
}

// Native move/resize loop messages of the Windows event stream.
constexpr unsigned kEnterSizeMove = 0x0231;
constexpr unsigned kExitSizeMove = 0x0232;

} // namespace

QWidget* MainWindow::buildCentralSplitter()
{
    mainSplitter = new QSplitter(Qt::Horizontal, this);
    mainSplitter->setObjectName(QStringLiteral("mainSplitter"));
    // Its handle in the theme's colours from the start, as after a change.
    mainSplitter->setStyleSheet(splitterSheet(ThemeManager::instance()->colors()));
    mainSplitter->setHandleWidth(1);
    mainSplitter->setChildrenCollapsible(false);

    leftPanel = buildLeftPanel();
    QWidget* centre = buildCenterArea();
    rightPanel = buildRightPanel();
    if (leftPanel)
        mainSplitter->addWidget(leftPanel);
    mainSplitter->addWidget(centre);
    if (rightPanel)
        mainSplitter->addWidget(rightPanel);

    const int centreIndex = mainSplitter->indexOf(centre);
    for (int i = 0; i < mainSplitter->count(); ++i)
        mainSplitter->setStretchFactor(i, i == centreIndex ? 1 : 0);
    QList<int> sizes;
    if (leftPanel)
        sizes << 190;
    sizes << 99999;
    if (rightPanel)
        sizes << 260;
    mainSplitter->setSizes(sizes);
    return mainSplitter;
}

QWidget* MainWindow::buildCenterArea()
{
    centerArea = new QWidget(this);
    centerArea->setObjectName(QStringLiteral("centerArea"));
    auto* col = new QVBoxLayout(centerArea);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);

    auto* outer = new QWidget(centerArea);
    outer->setObjectName(QStringLiteral("tabStripOuter"));
    outer->setFixedHeight(sc(54));
    auto* outerRow = new QHBoxLayout(outer);
    outerRow->setContentsMargins(sc(4), sc(4), sc(4), sc(4));
    outerRow->setSpacing(0);

    tabStripScroll = new QScrollArea(outer);
    tabStripScroll->setObjectName(QStringLiteral("tabStripScroll"));
    tabStrip = new QWidget;
    tabStrip->setObjectName(QStringLiteral("tabStrip"));
    tabStrip->setFixedHeight(sc(32));
    tabStrip->setAttribute(Qt::WA_StyledBackground, true);
    tabStrip->setStyleSheet(QStringLiteral("QWidget#tabStrip{background:transparent;}"));
    tabStripScroll->setWidget(tabStrip);
    tabStripScroll->setWidgetResizable(true);
    tabStripScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tabStripScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tabStripScroll->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    tabStripScroll->setFrameShape(QFrame::NoFrame);
    tabStripScroll->setFixedHeight(sc(48));
    tabStripScroll->setStyleSheet(
        QStringLiteral("QScrollArea#tabStripScroll{background:transparent;border:none;}"
                       "QScrollArea#tabStripScroll > QWidget{background:transparent;}"));
    tabStripScroll->viewport()->setStyleSheet(QStringLiteral("background:transparent;"));
    outerRow->addWidget(tabStripScroll, 1);
    outer->show();
    tabStripScroll->show();
    tabStrip->show();
    col->addWidget(outer);

    auto* gridScroll = new QScrollArea(centerArea);
    gridScroll->setObjectName(QStringLiteral("gridScroll"));
    gridScroll->setWidgetResizable(true);
    gridScroll->setContentsMargins(0, 0, 0, 0);
    gridScroll->setFrameShape(QFrame::NoFrame);
    gridScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    gridScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    gridArea = new QWidget;
    gridArea->setObjectName(QStringLiteral("gridArea"));
    gridArea->setContentsMargins(0, 0, 0, 0);
    gridScroll->setWidget(gridArea);
    col->addWidget(gridScroll, 1);
    return centerArea;
}

void MainWindow::resizeEvent(QResizeEvent* e)
{
    QMainWindow::resizeEvent(e);
    const int w = e->size().width();
    if (leftPanel)
        leftPanel->setVisible(w >= kLeftPanelMinWidth && !leftHiddenByUser);
    if (rightPanel)
        rightPanel->setVisible(w >= kRightPanelMinWidth && !rightHiddenByUser);
    updateMenuBarCollapse(w);

    if (!stripRebuildTimer) {
        stripRebuildTimer = new QTimer(this);
        stripRebuildTimer->setSingleShot(true);
        connect(stripRebuildTimer, &QTimer::timeout, this, [this] {
            if (tabStrip)
                rebuildTabStrip();
        });
    }
    if (w != lastResizeWidth) {
        lastResizeWidth = w;
        stripRebuildTimer->start(kStripRebuildDelayMs);
    }
}

bool MainWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result)
{
    // Only the Windows message stream has move/resize loops; other platforms
    // never send this event type.
    if (eventType == "windows_generic_MSG" && message) {
        struct GenericMsg
        {
            void* hwnd;
            unsigned message;
        };
        const unsigned msg = static_cast<const GenericMsg*>(message)->message;
        if (msg == kEnterSizeMove) {
            setUpdatesEnabled(false);
        } else if (msg == kExitSizeMove) {
            setUpdatesEnabled(true);
            repaint();
            rebuildTabStrip();
        }
    }
    return QMainWindow::nativeEvent(eventType, message, result);
}

void MainWindow::showEvent(QShowEvent* e)
{
    QMainWindow::showEvent(e);
    if (!everShown) {
        everShown = true;
        // Now that the frame is known, the whole window goes within the screen.
        ScreenFit::fitWindow(this);
        if (!pendingPreBuffer.isEmpty())
            AudioEngine::instance()->preBuffer(std::exchange(pendingPreBuffer, {}));
        QTimer::singleShot(0, this, &MainWindow::makePendingPads);
        if (!pendingStartToast.isEmpty())
            QTimer::singleShot(0, this, [this] {
                toast(std::exchange(pendingStartToast, {}), ToastManager::Error, 4000);
            });
    }
}

// The pads of panes that were out of sight when the window first showed are
// made one grid per event loop turn, so that none is made in the middle of a
// press later on.
void MainWindow::makePendingPads()
{
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.grid && p.grid->padsPending()) {
            p.grid->ensurePads();
            QTimer::singleShot(0, this, &MainWindow::makePendingPads);
            return;
        }
    }
}

void MainWindow::togglePanel(QWidget* panel, bool& hiddenByUser)
{
    if (!panel)
        return;
    const bool wasVisible = panel->isVisible();
    hiddenByUser = wasVisible;
    panel->setVisible(!wasVisible);
    rebuildTabStrip();
}

void MainWindow::toggleLeftPanel()
{
    togglePanel(leftPanel, leftHiddenByUser);
}

void MainWindow::toggleRightPanel()
{
    togglePanel(rightPanel, rightHiddenByUser);
}

void MainWindow::onThemeChanged()
{
    // The palettes change at once, before the new global style sheet (a
    // posted call) polishes the widgets: a widget polished with the old
    // palette would keep its old roles.
    if (!closing) {
        QPalette pal = QApplication::palette();
        fillThemePalette(pal, true);
        QApplication::setPalette(pal);
        setPalette(pal);
    }
    if (!themeDebounceTimer) {
        themeDebounceTimer = new QTimer(this);
        themeDebounceTimer->setSingleShot(true);
        themeDebounceTimer->setInterval(kThemeDebounceMs);
        connect(themeDebounceTimer, &QTimer::timeout, this, [this] {
            themeApplying = true;
            applyThemeToWidgets();
            applyTitleBarTheme();
            QTimer::singleShot(kThemeSettleMs, this, [this] { themeApplying = false; });
        });
    }
    themeDebounceTimer->start();
}

void MainWindow::fillThemePalette(QPalette& pal, bool allRoles)
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    pal.setColor(QPalette::Window, c.bg);
    for (QPalette::ColorRole r : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text,
                                  QPalette::HighlightedText})
        pal.setColor(r, c.text);
    pal.setColor(QPalette::Base, c.surface);
    pal.setColor(QPalette::AlternateBase, c.surfaceAlt);
    pal.setColor(QPalette::Button, c.surfaceAlt);
    pal.setColor(QPalette::Highlight, c.accent);
    if (!allRoles)
        return;
    pal.setColor(QPalette::Dark, c.bg);
    pal.setColor(QPalette::Shadow, c.bg);
    pal.setColor(QPalette::ToolTipText, c.text);
    pal.setColor(QPalette::Midlight, c.surfaceAlt);
    pal.setColor(QPalette::ToolTipBase, c.surfaceAlt);
    pal.setColor(QPalette::Light, c.surfaceHover);
    pal.setColor(QPalette::Mid, c.border);
}

void MainWindow::applyThemeToWidgets()
{
    if (closing)
        return;
    QPalette pal = QApplication::palette();
    fillThemePalette(pal, true);
    QApplication::setPalette(pal);
    setPalette(pal);

    if (mainSplitter)
        mainSplitter->setStyleSheet(splitterSheet(ThemeManager::instance()->colors()));
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.header)
            p.header->applyTheme();
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid)
            p.grid->applyTheme();
    if (nowPlayingBar)
        nowPlayingBar->applyTheme();
    if (setsList)
        setsList->viewport()->update();
    if (npBar)
        npBar->update();
    // The strip's dot: the accent while a sound is shown, muted when idle.
    const ThemeColors& colours = ThemeManager::instance()->colors();
    setNpDotColor((nowPlayingId.isEmpty() ? colours.textMuted : colours.accent).name(), 11);
    rebuildTabStrip();
    applyStatusBarTheme();
}

void MainWindow::applyTitleBarTheme()
{
    if (closing)
        return;
    const WId handle = internalWinId();
    if (!handle)
        return;
    const ThemeColors& c = ThemeManager::instance()->colors();
    TitleBar::Colors colors;
    colors.caption = c.bg.rgb() & 0xFFFFFF;
    colors.text = c.text.rgb() & 0xFFFFFF;
    colors.border = c.border.rgb() & 0xFFFFFF;
    TitleBar::apply(quintptr(handle), colors);
}
