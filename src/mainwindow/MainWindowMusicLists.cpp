// The music panel's lists: ALL MUSIC and PLAYLIST filled from the library,
// the library tree's counts, and the hooks that start-up, session loads,
// scans and drops run.
#include "MainWindow.h"

#include <QDir>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QStackedWidget>
#include <QTreeWidget>

#include "LibraryManager.h"
#include "MusicItemDelegate.h"
#include "SidePanelText.h"
#include "ThemeManager.h"
#include "VXIcons.h"

namespace {

const QString kNote = QStringLiteral(
    "<path d='M9 18V5l12-2v13'/><circle cx='6' cy='18' r='3'/><circle cx='18' cy='16' r='3'/>");

// The tree's "All Music" row, at the top of a cleared tree.
void addAllMusicRow(QTreeWidget* tree)
{
    auto* all = new QTreeWidgetItem(tree);
    all->setText(0, QStringLiteral("  All Music"));
    all->setIcon(0, VXIcons::modern(VXIcons::strokeSvg(kNote, 2.0), ThemeManager::instance()->colors().text, 14));
    all->setData(0, Qt::UserRole, QStringLiteral("__all__"));
    all->setData(0, Qt::UserRole + 1, QString());
}

} // namespace

void MainWindow::setMusicRows(QListWidget* list, const QList<LibraryEntry>& entries,
                               const std::function<PlaylistFlag(const LibraryEntry&)>& flag)
{
    SidePanelText::MusicRowTexts rowText(QDir::homePath());
    list->setUpdatesEnabled(false);
    list->clear();
    {
        // A library of tens of thousands of tracks: each row is made whole
        // before it joins the list, and the view hears nothing until all are
        // in; then it lays the list out once.
        const QSignalBlocker quiet(list->model());
        for (const LibraryEntry& e : entries) {
            auto* item = new QListWidgetItem(rowText(e.filePath, e.name));
            item->setData(Qt::UserRole, e.filePath);
            // The track drag shows the name.
            item->setData(Qt::UserRole + 1, e.name);
            const PlaylistFlag f = flag ? flag(e) : PlaylistFlag::None;
            if (f != PlaylistFlag::None)
                item->setData(MusicItemDelegate::kInPlaylistRole, f == PlaylistFlag::In);
            item->setSizeHint(QSize(0, MusicItemDelegate::kRowHeight));
            list->addItem(item);
        }
    }
    list->reset();
    list->setUpdatesEnabled(true);
}

void MainWindow::relabelLibraryRoots(const QList<LibraryEntry>& entries)
{
    if (entries.isEmpty() || !libraryTree)
        return;
    QHash<QString, int> perCategory;
    for (const LibraryEntry& e : entries)
        ++perCategory[e.category];
    const QIcon note =
        VXIcons::svgIconRawColored(VXIcons::strokeSvg(kNote, 2.0), ThemeManager::instance()->colors().text, 14, 14);
    for (int i = 0; i < libraryTree->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = libraryTree->topLevelItem(i);
        const QString key = row->data(0, Qt::UserRole).toString();
        if (key == QLatin1String("__all__")) {
            row->setText(0, QStringLiteral("  All Music  (%1)").arg(entries.size()));
            row->setIcon(0, note);
        } else if (perCategory.contains(key)) {
            row->setText(0, QStringLiteral("  📁  %1  (%2)").arg(key).arg(perCategory.value(key)));
        }
    }
}

void MainWindow::installMusicListHooks(const std::shared_ptr<bool>& playlistMode)
{
    refreshPlaylist = [this, playlistMode] {
        if (!playlistList || !musicStack)
            return;
        QList<LibraryEntry> listed;
        for (const LibraryEntry& e : LibraryManager::instance()->entries())
            if (playlistPaths.contains(e.filePath))
                listed.append(e);
        setMusicRows(playlistList, listed, [](const LibraryEntry&) { return PlaylistFlag::In; });
        if (*playlistMode) {
            musicStack->setCurrentIndex(playlistList->count() == 0 ? 3 : 2);
            // The label counts what the page shows.
            if (musicCountLabel)
                musicCountLabel->setText(QStringLiteral("%1 in playlist").arg(playlistList->count()));
        }
    };

    refreshMusicList = [this, playlistMode] {
        if (!musicList || !musicStack)
            return;
        const QList<LibraryEntry> entries = LibraryManager::instance()->entries();
        if (!entries.isEmpty()) {
            // Only the playlist's rows carry the flag here.
            setMusicRows(musicList, entries, [this](const LibraryEntry& e) {
                return playlistPaths.contains(e.filePath) ? PlaylistFlag::In : PlaylistFlag::None;
            });
            // The whole library, in place: the next folder or search is a new view.
            musicListView.clear();
        }
        if (*playlistMode)
            refreshPlaylist();
        else
            showAllMusicPage();
        if (!*playlistMode)
            musicCountLabel->setText(QStringLiteral("%1 tracks").arg(musicList->count()));
        relabelLibraryRoots(entries);
    };

    rebuildLibraryTree = [this] {
        if (!libraryTree)
            return;
        const QSignalBlocker block(libraryTree);
        libraryTree->clear();
        addAllMusicRow(libraryTree);
        for (const auto& [name, path] : LibraryManager::savedFolders())
            if (!name.isEmpty() && !path.isEmpty())
                addFolderToTree(name, path);
        libraryTree->setCurrentItem(libraryTree->topLevelItem(0));
    };

    connect(LibraryManager::instance(), &LibraryManager::cleared, this, [this] {
        if (musicList)
            musicList->clear();
        if (musicCountLabel)
            musicCountLabel->setText(QStringLiteral("0 tracks"));
        if (!libraryTree)
            return;
        const QSignalBlocker block(libraryTree);
        libraryTree->clear();
        addAllMusicRow(libraryTree);
        LibraryManager* library = LibraryManager::instance();
        for (const QString& name : library->rootFolders())
            addFolderToTree(name, library->folderPath(name));
        libraryTree->setCurrentItem(libraryTree->topLevelItem(0));
    });
}
