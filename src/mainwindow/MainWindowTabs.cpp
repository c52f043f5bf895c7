// The tab strip above the grid area: one button per session tab and the
// add-tab button, tab selection, the tab menu and the tab keys.
#include "MainWindow.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include "GridHeader.h"
#include "Modal.h"
#include "SessionManager.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

const char* const kTabButtonSS =
    "QPushButton{  background:%4;  color:%5;  border:1px solid %6;  border-bottom:3px solid transparent;"
    "  border-radius:10px;  padding:0 10px;  font-size:10px;  font-weight:600;  letter-spacing:0.4px;"
    "  text-align:left;  margin:2px 2px 0px 2px;}"
    "QPushButton:hover:!checked{  background:%7;  color:%8;  border:1px solid %1;  border-bottom:3px solid %1;}"
    "QPushButton:checked{  background:%2;  color:white;  border:1px solid %1;  border-bottom:3px solid %1;"
    "  font-weight:700;}"
    "QPushButton:pressed{  background:%3;}";

const char* const kAddTabSS =
    "QPushButton#addTabInStrip{  background:transparent;  color:%1;  border:1.5px solid %1;"
    "  border-radius:5px;  font-size:18px;  font-weight:400;  padding:0;  margin:2px 0 0 4px;"
    "  text-align:center;}"
    "QPushButton#addTabInStrip:hover{background:%1;color:white;}"
    "QPushButton#addTabInStrip:pressed{background:%2;color:white;}";

void dropLater(QPushButton* b)
{
    b->hide();
    b->setParent(nullptr);
    b->deleteLater();
}

} // namespace

void MainWindow::rebuildTabStrip()
{
    if (!tabStrip)
        return;

    // 1. Old buttons leave now and are freed later: a click handler that
    // rebuilds the strip may still be running on one of them.
    for (QPushButton* b : std::as_const(tabButtons))
        dropLater(b);
    tabButtons.clear();
    const QList<QPushButton*> leftovers = tabStrip->findChildren<QPushButton*>();
    for (QPushButton* b : leftovers)
        dropLater(b);

    // 2.
    if (QLayout* old = tabStrip->layout()) {
        while (QLayoutItem* item = old->takeAt(0))
            delete item;
        delete old;
    }
    auto* row = new QHBoxLayout;
    row->setContentsMargins(sc(4), 0, sc(4), 0);
    row->setSpacing(sc(2));

    // 3-4.
    const ThemeColors& c = ThemeManager::instance()->colors();
    const int minW = sc(55);
    const int maxW = sc(160);
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    for (int i = 0; i < tabs.size(); ++i) {
        const TabData& t = tabs[i];
        const QColor col = t.color.isValid() ? t.color : ThemeManager::vibrantColor(i);
        auto* b = new QPushButton(tabStrip);
        b->setCheckable(true);
        b->setChecked(i == currentTab);
        // "&" in a button's text marks a shortcut; a name shows as typed.
        b->setText(QStringLiteral("● ") + QString(t.name).replace(QLatin1Char('&'), QStringLiteral("&&")));
        b->setToolTip(t.name);
        const int w = QFontMetrics(b->font()).horizontalAdvance(b->text()) + sc(28);
        b->setFixedWidth(qBound(minW, w, maxW));
        b->setSizePolicy(QSizePolicy::Fixed, b->sizePolicy().verticalPolicy());
        b->setFixedHeight(sc(30));
        b->setCursor(Qt::PointingHandCursor);
        b->setStyleSheet(QString::fromLatin1(kTabButtonSS)
                             .arg(col.name())
                             .arg(col.darker(155).name())
                             .arg(col.darker(200).name())
                             .arg(c.surfaceAlt.name())
                             .arg(c.textSecondary.name())
                             .arg(c.border.name())
                             .arg(c.surfaceHover.name())
                             .arg(c.text.name()));
        connect(b, &QPushButton::clicked, this, [this, i] { selectTab(i); });
        b->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(b, &QPushButton::customContextMenuRequested, this,
                [this, i, b](const QPoint& pos) { showTabMenu(i, pos, b); });
        row->addWidget(b);
        tabButtons.append(b);
    }

    // 5-6.
    auto* add = new QPushButton(tabStrip);
    add->setIcon(VXIcons::modern(
        VXIcons::strokeSvg(QStringLiteral("<line x1='12' y1='5' x2='12' y2='19'/>"
                                          "<line x1='5' y1='12' x2='19' y2='12'/>"),
                           2.4),
        c.accent, 15));
    add->setObjectName(QStringLiteral("addTabInStrip"));
    add->setFixedSize(sc(28), sc(28));
    add->setVisible(true);
    add->setCursor(Qt::PointingHandCursor);
    add->setToolTip(QStringLiteral("Add Tab  (Ctrl+T)"));
    add->setStyleSheet(QString::fromLatin1(kAddTabSS).arg(c.accent.name(), c.accent.darker(120).name()));
    connect(add, &QPushButton::clicked, this, &MainWindow::onAddTab);
    row->addWidget(add);
    row->addSpacing(4);
    row->addStretch(1);
    tabStrip->setLayout(row);
    tabStrip->updateGeometry();
    tabStrip->update();

    // 7. Every pane's chooser lists the tabs with the pane's own selected.
    QStringList names;
    for (const TabData& t : tabs)
        names << t.name;
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.header)
            continue;
        const int k = names.isEmpty() ? 0 : qBound(0, p.tabIndex, int(names.size()) - 1);
        p.header->setTabList(names, k);
    }

    // 8.
    rebuildPaneLayout();
}

void MainWindow::selectTab(int i)
{
    currentTab = i;
    rebuildTabStrip();
    applyPlaybackState();
    updateStatusBar();
    refreshKeyBadges();
    SessionManager::instance()->session().activeTab = i;
    preloadTabButtons(i);
}

void MainWindow::stepTab(int target)
{
    const int n = int(SessionManager::instance()->session().tabs.size());
    if (n == 0 || target == currentTab)
        return;
    currentTab = target;
    SessionManager::instance()->session().activeTab = target;
    rebuildTabStrip();
    applyPlaybackState();
    updateStatusBar();
    refreshKeyBadges();
}

void MainWindow::showTabMenu(int i, const QPoint& pos, QWidget* button)
{
    // The menu acts on tab i; the current tab stays the one the strip shows
    // (a dismissed menu changes nothing).
    QMenu menu;
    QAction* rename = menu.addAction(QStringLiteral("Rename"));
    QAction* duplicate = menu.addAction(QStringLiteral("❏ Duplicate"));
    menu.addSeparator();
    QAction* playback = menu.addAction(QStringLiteral("⚙️  Playback Settings (AS/RS/CTS)..."));
    menu.addSeparator();
    QAction* del = menu.addAction(QStringLiteral("🗑️ Delete"));
    const QPoint global = button ? button->mapToGlobal(pos) : pos;
    QAction* chosen = Modal::execMenu(&menu, global);
    if (!chosen)
        return;
    if (chosen == rename)
        renameTab(i);
    else if (chosen == duplicate)
        duplicateTab(i);
    else if (chosen == playback)
        showTabPlaybackDialog(i);
    else if (chosen == del)
        deleteTab(i);
}
