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

void MainWindow::onColumnsChanged(int cols)
{
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.grid) {
            p.grid->setColumns(cols);
            p.grid->layoutButtons();
        }
    }
    AppSettings s;
    s.setValue(QStringLiteral("grid/cols"), cols);
}

void MainWindow::onRowsChanged(int rows)
{
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.grid) {
            p.grid->setRows(rows);
            p.grid->layoutButtons();
        }
    }
    AppSettings s;
    s.setValue(QStringLiteral("grid/rows"), rows);
}
