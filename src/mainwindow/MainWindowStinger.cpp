// BSI Stinger import: pages and collections become new tabs behind the
// existing ones.
#include "MainWindow.h"

void MainWindow::onImportStg()
{
}

void MainWindow::onImportCol()
{
}
