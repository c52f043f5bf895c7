// The track menu of the ALL MUSIC list: play a track, flag it for Auto-Mix or
// take it out, show its folder, and shuffle, sort or refresh the list.
#include "MainWindow.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QListWidget>
#include <QMenu>
#include <QRandomGenerator64>
#include <QUrl>

#include "Modal.h"
#include "MusicItemDelegate.h"
#include "ThemeManager.h"
#include "VXIcons.h"

void MainWindow::showMusicListMenu(const QPoint& pos)
{
    if (!musicList)
        return;
    QListWidgetItem* item = musicList->itemAt(pos);
    const int row = item ? musicList->row(item) : -1;
    // The row may go while the menu is open (a library refill): an action on
    // it runs only while the list still holds that very item at that row.
    auto held = [this, item, row] { return item && musicList && musicList->item(row) == item; };

    QMenu menu(musicList);
    menu.setStyleSheet(vxMenuSS()
                       + QStringLiteral("QMenu::separator{background:%1;height:1px;margin:3px 8px;}")
                             .arg(ThemeManager::instance()->colors().border.name()));
    if (item) {
        const QString path = item->data(Qt::UserRole).toString();
        const bool flagged = item->data(MusicItemDelegate::kInPlaylistRole).toBool();
        connect(menu.addAction(QStringLiteral("▶  Play Now")), &QAction::triggered, this, [this, item, held] {
            if (held())
                emit musicList->itemDoubleClicked(item);
        });
        menu.addSeparator();
        if (flagged) {
            connect(menu.addAction(QStringLiteral("✕ Remove from Playlist")), &QAction::triggered, this,
                    [this, item, held] {
                        if (!held())
                            return;
                        item->setData(MusicItemDelegate::kInPlaylistRole, false);
                        playlistPaths.remove(item->data(Qt::UserRole).toString());
                        musicList->viewport()->update();
                    });
        } else {
            connect(menu.addAction(QStringLiteral("+ Add to Auto Mix Playlist")), &QAction::triggered, this,
                    [this, item, held] {
                        if (!held())
                            return;
                        item->setData(MusicItemDelegate::kInPlaylistRole, true);
                        playlistPaths.insert(item->data(Qt::UserRole).toString());
                        musicList->viewport()->update();
                    });
        }
        menu.addSeparator();
        connect(menu.addAction(QStringLiteral("📂 Show in Explorer")), &QAction::triggered, this, [path] {
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
        });
    }
    menu.addSeparator();
    connect(menu.addAction(QStringLiteral("🔀 Shuffle List")), &QAction::triggered, this,
            &MainWindow::shuffleMusicList);
    connect(menu.addAction(QStringLiteral("A→Z Sort A–Z")), &QAction::triggered, this, [this] {
        if (musicList)
            musicList->sortItems(Qt::AscendingOrder);
    });
    // The folder chosen in the library tree again, else the whole library:
    // what an emptied search shows.
    connect(menu.addAction(QStringLiteral("🔄 Refresh / Rescan")), &QAction::triggered, this,
            [this] { onLibSearch(QString()); });
    Modal::execMenu(&menu, musicList->viewport()->mapToGlobal(pos));
}

// Fisher-Yates over the rows; the items move whole, with every role they carry.
void MainWindow::shuffleMusicList()
{
    if (!musicList)
        return;
    QList<QListWidgetItem*> items;
    items.reserve(musicList->count());
    while (musicList->count() > 0)
        items.append(musicList->takeItem(0));
    for (qsizetype i = items.size() - 1; i >= 1; --i) {
        const qsizetype j = qsizetype(QRandomGenerator64::global()->bounded(quint32(i + 1)));
        items.swapItemsAt(i, j);
    }
    for (QListWidgetItem* item : std::as_const(items))
        musicList->insertItem(musicList->count(), item);
}
