// The two side columns of the window: the library browser on the left and
// the music panel on the right, with the list of recent sets.
#include "MainWindow.h"

#include <QUrl>
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

// Files dropped on the music panel's library and on its playlist; filled in
// with the music panel.
void MainWindow::handleMusicFolderDrop(const QList<QUrl>& urls)
{
    Q_UNUSED(urls);
}

void MainWindow::handlePlaylistDrop(const QList<QUrl>& urls)
{
    Q_UNUSED(urls);
}
