// Files and folders dragged from the desktop onto the music panel: they join
// the library, and on the PLAYLIST list the playlist too. A session file
// dropped alone opens instead.
#include "MainWindow.h"

#include <QFileInfo>
#include <QListWidget>
#include <QStackedWidget>
#include <QUrl>

#include "EventLog.h"
#include "FileCheck.h"
#include "LibraryManager.h"
#include "SidePanelText.h"

namespace {

bool isDroppableAudio(const QString& suffix)
{
    static const QStringList kAudio = {QStringLiteral("mp3"), QStringLiteral("wav"),  QStringLiteral("ogg"),
                                       QStringLiteral("flac"), QStringLiteral("m4a"), QStringLiteral("aac"),
                                       QStringLiteral("wma"), QStringLiteral("aiff"), QStringLiteral("aif")};
    return kAudio.contains(suffix.toLower());
}

// "%1 folder%2 + %1 file%2", folders first, each part only when above 0.
QString dropSummary(int folders, int files)
{
    QStringList parts;
    if (folders > 0)
        parts << QStringLiteral("%1 folder%2").arg(folders).arg(folders == 1 ? QString() : QStringLiteral("s"));
    if (files > 0)
        parts << QStringLiteral("%1 file%2").arg(files).arg(files == 1 ? QString() : QStringLiteral("s"));
    return parts.join(QStringLiteral(" + "));
}

} // namespace

// Both drop targets: the library alone, or with toPlaylist the playlist too.
void MainWindow::takeMusicDrop(const QList<QUrl>& urls, bool toPlaylist)
{
    if (urls.size() == 1 && urls.first().isLocalFile()) {
        const QString path = urls.first().toLocalFile();
        const QString suffix = QFileInfo(path).suffix().toLower();
        if (suffix == QLatin1String("vx") || suffix == QLatin1String("json")) {
            openSessionFile(path);
            return;
        }
    }
    LibraryManager* library = LibraryManager::instance();
    int folders = 0;
    int files = 0;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        const QFileInfo info(path);
        if (info.isDir()) {
            // A folder whose name another folder already holds as its
            // category gets a category of its own.
            const QString category = SidePanelText::libraryCategoryFor(*library, path);
            if (toPlaylist)
                pendingPlaylistFolders.insert(category);
            library->addFolder(path, category);
            addFolderToTree(category, path);
            ++folders;
        } else if (isDroppableAudio(info.suffix()) && FileCheck::isRegularFile(path)) {
            library->addFile(path, QStringLiteral("Dropped Files"));
            if (toPlaylist)
                playlistPaths.insert(path);
            ++files;
        }
    }
    if (folders + files == 0) {
        toast(QStringLiteral("⚠️  No supported audio files or folders in that drop"), ToastManager::Warning, 2200);
        return;
    }
    if (files > 0) {
        if (refreshMusicList)
            refreshMusicList();
        if (musicStack && musicList && musicList->count() > 0)
            musicStack->setCurrentIndex(0);
        if (toPlaylist && refreshPlaylist)
            refreshPlaylist();
    }
    const QString summary = dropSummary(folders, files);
    if (eventLog)
        eventLog->log(toPlaylist ? QStringLiteral("Playlist") : QStringLiteral("Library"),
                      QStringLiteral("Dragged in ") + summary, QStringLiteral("ok"));
    toast(QStringLiteral("✅  Added ") + summary + (toPlaylist ? QStringLiteral(" to playlist") : QStringLiteral(" to library")),
          ToastManager::Success, 2200);
}

void MainWindow::handleMusicFolderDrop(const QList<QUrl>& urls)
{
    takeMusicDrop(urls, false);
}

void MainWindow::handlePlaylistDrop(const QList<QUrl>& urls)
{
    takeMusicDrop(urls, true);
}
