// Keyboard triggers: the window's key handling, the application-wide event
// filter, and the button search dialog.
#include "MainWindow.h"

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::keyPressEvent(QKeyEvent* e)
{
    QMainWindow::keyPressEvent(e);
}

void MainWindow::showSearchDialog() {}

void MainWindow::onRecordTick() {}
