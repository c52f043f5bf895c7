// A grid's requests to the window (play, stop, edit, record changes, swaps)
// and the per-button edit actions.
#include "MainWindow.h"

#include "ButtonGrid.h"

void MainWindow::connectGrid(ButtonGrid* grid)
{
    connect(grid, &ButtonGrid::playRequested, this, &MainWindow::onPlayRequested);
    connect(grid, &ButtonGrid::stopRequested, this, &MainWindow::onStopRequested);
    connect(grid, &ButtonGrid::editRequested, this, &MainWindow::onEditRequested);
    connect(grid, &ButtonGrid::buttonDataChanged, this, &MainWindow::onButtonDataChanged);
    connect(grid, &ButtonGrid::assignRequested, this,
            [this](const QString& id) { onEditRequested(id, QStringLiteral("assign")); });
    connect(grid, &ButtonGrid::buttonSwapRequested, this, &MainWindow::onButtonSwapRequested);
}

void MainWindow::onEditRequested(const QString& id, const QString& action)
{
    Q_UNUSED(id);
    Q_UNUSED(action);
}

void MainWindow::onButtonDataChanged(const ButtonData& btn)
{
    Q_UNUSED(btn);
}

void MainWindow::onButtonSwapRequested(const QString& srcId, const QString& destId)
{
    Q_UNUSED(srcId);
    Q_UNUSED(destId);
}
