// The two side columns of the window: the library browser on the left and
// the music panel on the right, with the list of recent sets.
#include "MainWindow.h"

#include <QVBoxLayout>

QWidget* MainWindow::buildLeftPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("leftPanel"));
    new QVBoxLayout(panel);
    return panel;
}

QWidget* MainWindow::buildRightPanel()
{
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("rightPanel"));
    new QVBoxLayout(panel);
    return panel;
}

void MainWindow::refreshSetsList()
{
    // The left panel's list of recent sets is refilled here once it exists.
}
