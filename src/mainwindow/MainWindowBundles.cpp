// Bundle export and import: the window's side of packing a session with its
// audio into one file and taking one in again.
#include "MainWindow.h"

#include "BundleManager.h"

void MainWindow::onExportBundle()
{
    BundleManager::instance()->exportBundle(this);
}

void MainWindow::onImportBundle()
{
}
