// Saves pictures of the side panels in a given preset: SETS with the open set
// and a missing one, the library tree with counts, ALL MUSIC with playing,
// flagged and hovered rows, the PLAYLIST page with its Auto-Mix bar, and both
// empty hints. A tool for looking at them by eye, not a test.
//   sidepanels_preview OUTDIR [PRESET]
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHoverEvent>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QThreadPool>
#include <QTreeWidget>

#include "AppSettings.h"
#include "LibraryManager.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "MusicItemDelegate.h"
#include "PreviewSupport.h"
#include "SessionManager.h"
#include "SettingsKeys.h"

using PreviewSupport::settle;

namespace {

void hover(QListWidget* list, int row)
{
    const QPoint p = list->visualItemRect(list->item(row)).center();
    QHoverEvent e(QEvent::HoverMove, p, p, p + QPoint(0, -40));
    QApplication::sendEvent(list->viewport(), &e);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString out, preset;
    if (!PreviewSupport::start(argc, argv, &out, &preset))
        return 2;

    const QString root = TestSupport::tempDir();
    const QString lib = root + "/Station Library";
    const char* files[] = {"Jingles/Morning Ident.wav", "Jingles/Traffic Sting.mp3", "Jingles/News Bed Short.wav",
                           "Jingles/Weather/Sunny.wav", "Jingles/Weather/Rain.wav", "Beds/Calm Piano Bed.mp3",
                           "Beds/Upbeat Drive Time Bed With A Very Long Name Indeed.wav", "Beds/Talk Under.wav"};
    for (const char* f : files) {
        const QString path = lib + "/" + QString::fromUtf8(f);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile(path).open(QIODevice::WriteOnly);
    }
    const QString morning = root + "/Shows/morning.vx";
    const QString evening = root + "/Shows/evening.final.vx";
    for (const QString& p : {morning, evening}) {
        QDir().mkpath(QFileInfo(p).absolutePath());
        MainWindowTest::writeSession(MainWindowTest::makeSession(1, 12), p);
    }

    auto* w = new MainWindow;
    w->resize(1380, 860);
    w->show();
    SessionManager::instance()->loadSession(evening);
    SessionManager::instance()->loadSession(morning);
    QStringList recent = SessionManager::instance()->recentFiles();
    recent << root + "/Archive/old show.vx";
    AppSettings().setValue(SettingsKeys::RecentFiles, recent);
    w->refreshSetsList();
    settle(20);
    QWidget* left = MainWindowTestAccess::leftPanel(w);
    QWidget* right = MainWindowTestAccess::rightPanel(w);
    left->grab().save(out + "/sets-" + preset + ".png");
    w->refreshMusicList(); // an empty library: the hint page
    right->grab().save(out + "/music-empty-" + preset + ".png");

    LibraryManager* library = LibraryManager::instance();
    library->addFolder(lib + "/Jingles", QStringLiteral("Jingles"));
    w->addFolderToTree(QStringLiteral("Jingles"), lib + "/Jingles");
    library->addFolder(lib + "/Beds", QStringLiteral("Beds"));
    w->addFolderToTree(QStringLiteral("Beds"), lib + "/Beds");
    while (library->pendingScans() > 0)
        settle(1);
    settle(20);
    w->rebuildLibraryTree();
    w->refreshMusicList();
    w->onSwitchLeftPanel(1);
    settle(20);
    left->grab().save(out + "/library-" + preset + ".png");

    QListWidget* list = w->musicList;
    list->item(1)->setData(MusicItemDelegate::kPlayingRole, true);
    list->item(1)->setData(MusicItemDelegate::kInPlaylistRole, true);
    list->item(3)->setData(MusicItemDelegate::kInPlaylistRole, true);
    w->playlistPaths << list->item(1)->data(Qt::UserRole).toString() << list->item(3)->data(Qt::UserRole).toString();
    hover(list, 5);
    settle(20);
    right->grab().save(out + "/allmusic-" + preset + ".png");

    QPushButton* playlist = PreviewSupport::buttonWithText(right, QStringLiteral("  PLAYLIST"));
    playlist->click();
    settle(20);
    right->grab().save(out + "/playlist-" + preset + ".png");
    w->playlistPaths.clear();
    w->refreshPlaylist();
    settle(20);
    right->grab().save(out + "/playlist-empty-" + preset + ".png");
    library->clearAll();
    settle(20);
    delete w;
    return 0;
}
