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
    // A file dropped on a button replaced its sound (the record is already
    // stored): the old sound stops everywhere and leaves every engine's cache.
    connect(grid, &ButtonGrid::dropped, this, [this](const QString& id, const QString&) {
        routedStop(id, 0);
        evictButtonFromAllEngines(id);
    });
    connect(grid, &ButtonGrid::bulkAssignComplete, this, [this](int assigned, int total) {
        if (assigned <= 0)
            toast(QStringLiteral("⚠️  No empty pads available on this tab"), ToastManager::Warning, 2400);
        else if (assigned == total)
            toast(QStringLiteral("✅  Assigned %1 sample%2 to pads")
                      .arg(assigned)
                      .arg(assigned == 1 ? QString() : QStringLiteral("s")),
                  ToastManager::Success, 2200);
        else
            toast(QStringLiteral("⚠️  Assigned %1 of %2 — ran out of empty pads on this tab").arg(assigned).arg(total),
                  ToastManager::Warning, 3000);
    });
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
