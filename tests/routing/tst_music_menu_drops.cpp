// The ALL MUSIC track menu and drops on the music panel, on a window whose
// engines are the recorder.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTreeWidget>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include "EventLog.h"
#include "LibraryManager.h"
#include "Modal.h"
#include "MusicItemDelegate.h"
#include "RoutingSupport.h"
#include "UrlCatcher.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

namespace {

QStringList actionTexts(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator())
            texts << a->text();
    return texts;
}

} // namespace

class TestMusicMenuDrops : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;
    QTemporaryDir tmp;

    QString at(const QString& name) const { return tmp.path() + QLatin1Char('/') + name; }
    void touch(const QString& name, const QByteArray& bytes = QByteArray("x"))
    {
        QDir().mkpath(QFileInfo(at(name)).absolutePath());
        QFile f(at(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    void fillRows(int n)
    {
        w->musicList->clear();
        for (int r = 0; r < n; ++r) {
            auto* item = new QListWidgetItem(QStringLiteral("t%1\n/m").arg(r, 3, 10, QLatin1Char('0')), w->musicList);
            item->setData(Qt::UserRole, QStringLiteral("/m/t%1.mp3").arg(r));
            item->setData(Qt::UserRole + 1, QStringLiteral("name %1").arg(r));
            item->setData(MusicItemDelegate::kPlayingRole, r == 3);
            item->setData(MusicItemDelegate::kInPlaylistRole, r % 2 == 0);
        }
    }

    // Opens the track menu on row (or below the rows when -1), shows its
    // entries to inspect and picks the entry named pick (none when empty).
    QStringList menuOn(int row, const QString& pick)
    {
        QStringList seen;
        int menus = 0;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind != Modal::Kind::Menu)
                return {};
            ++menus;
            seen = actionTexts(r.menu);
            for (QAction* a : r.menu->actions())
                if (!pick.isEmpty() && a->text() == pick)
                    return QVariant::fromValue(a);
            return QVariant::fromValue<QAction*>(nullptr);
        });
        QPoint pos(5, w->musicList->count() * 60 + 400);
        if (row >= 0)
            pos = w->musicList->visualItemRect(w->musicList->item(row)).center();
        emit w->musicList->customContextMenuRequested(pos);
        return menus == 1 ? seen : QStringList{QStringLiteral("menus: %1").arg(menus)};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        w = windowOn(rec);
        load(twoTabs());
        w->resize(1400, 900);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }
    void cleanupTestCase() { closeWindow(w); }
    void init()
    {
        rec.reset();
        drainToasts();
    }

    // --- The track menu ------------------------------------------------------

    void menuEntries_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QStringList>("entries");
        const QStringList tail = {QStringLiteral("🔀 Shuffle List"), QStringLiteral("A→Z Sort A–Z"),
                                  QStringLiteral("🔄 Refresh / Rescan")};
        QTest::newRow("below the rows") << -1 << tail;
        QTest::newRow("a flagged row") << 0
                                       << QStringList{QStringLiteral("▶  Play Now"),
                                                      QStringLiteral("✕ Remove from Playlist"),
                                                      QStringLiteral("📂 Show in Explorer")} + tail;
        QTest::newRow("an unflagged row") << 1
                                          << QStringList{QStringLiteral("▶  Play Now"),
                                                         QStringLiteral("+ Add to Auto Mix Playlist"),
                                                         QStringLiteral("📂 Show in Explorer")} + tail;
    }
    void menuEntries()
    {
        QFETCH(int, row);
        QFETCH(QStringList, entries);
        fillRows(4);
        QCOMPARE(menuOn(row, QString()), entries);
    }

    void flagAddedThenRemoved()
    {
        fillRows(4);
        w->playlistPaths.clear();
        menuOn(1, QStringLiteral("+ Add to Auto Mix Playlist"));
        QVERIFY(w->musicList->item(1)->data(MusicItemDelegate::kInPlaylistRole).toBool());
        QVERIFY(w->playlistPaths.contains(QStringLiteral("/m/t1.mp3")));
        menuOn(1, QStringLiteral("✕ Remove from Playlist"));
        QVERIFY(!w->musicList->item(1)->data(MusicItemDelegate::kInPlaylistRole).toBool());
        QVERIFY(w->playlistPaths.isEmpty());
    }

    void playNowAndExplorer()
    {
        fillRows(4);
        menuOn(2, QStringLiteral("▶  Play Now"));
        QCOMPARE(rec.plays.size(), 1);
        QCOMPARE(rec.plays.first().audioPath, QStringLiteral("/m/t2.mp3"));
        QCOMPARE(w->autoMixIndex, 2);
        // A row without a path plays nothing.
        w->musicList->item(1)->setData(Qt::UserRole, QString());
        menuOn(1, QStringLiteral("▶  Play Now"));
        QCOMPARE(rec.plays.size(), 1);

        TestSupport::UrlCatcher catcher(QStringLiteral("file"));
        menuOn(2, QStringLiteral("📂 Show in Explorer"));
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/m"))});
    }

    // Shuffling moves whole rows: every row keeps its text, path, name,
    // flag and mark; nothing is lost or doubled, and Auto-Mix's row number
    // stays.
    void shuffleKeepsRows_data()
    {
        QTest::addColumn<int>("rows");
        QTest::newRow("none") << 0;
        QTest::newRow("one") << 1;
        QTest::newRow("two") << 2;
        QTest::newRow("many") << 200;
    }
    void shuffleKeepsRows()
    {
        QFETCH(int, rows);
        fillRows(rows);
        w->autoMixIndex = rows > 5 ? 5 : -1;
        auto snapshot = [this] {
            QStringList rowsNow;
            for (int r = 0; r < w->musicList->count(); ++r) {
                const QListWidgetItem* i = w->musicList->item(r);
                rowsNow << QStringLiteral("%1|%2|%3|%4|%5")
                               .arg(i->text(), i->data(Qt::UserRole).toString(),
                                    i->data(Qt::UserRole + 1).toString())
                               .arg(i->data(MusicItemDelegate::kInPlaylistRole).toBool())
                               .arg(i->data(MusicItemDelegate::kPlayingRole).toBool());
            }
            return rowsNow;
        };
        const QStringList before = snapshot();
        menuOn(-1, QStringLiteral("🔀 Shuffle List"));
        QStringList after = snapshot();
        QCOMPARE(after.size(), before.size());
        if (rows >= 200)
            QVERIFY(after != before); // 200 rows left in place: one chance in 200!
        after.sort();
        QStringList sortedBefore = before;
        sortedBefore.sort();
        QCOMPARE(after, sortedBefore);
        QCOMPARE(w->autoMixIndex, rows > 5 ? 5 : -1);

        menuOn(-1, QStringLiteral("A→Z Sort A–Z"));
        QCOMPARE(snapshot(), before); // the rows' texts were made in order
    }

    void refreshWithoutTreeRow()
    {
        fillRows(3);
        int refreshes = 0;
        const auto keep = w->refreshMusicList;
        w->refreshMusicList = [&] { ++refreshes; };
        if (QTreeWidget* tree = w->libraryTree)
            tree->setCurrentItem(nullptr);
        w->musicStack->setCurrentIndex(1);
        menuOn(-1, QStringLiteral("🔄 Refresh / Rescan"));
        w->refreshMusicList = keep;
        QCOMPARE(refreshes, 1);
        QCOMPARE(w->musicStack->currentIndex(), 0);
    }

    void noMenuOnPlaylist()
    {
        int menus = 0;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            menus += r.kind == Modal::Kind::Menu;
            return {};
        });
        emit w->playlistList->customContextMenuRequested(QPoint(5, 5));
        QCOMPARE(menus, 0);
    }

    // --- Drops ----------------------------------------------------------------

    // urls: names in the temp folder ("web:" marks a web link); toast: the
    // one toast shown; added: the files the library took as dropped files.
    void drops_data()
    {
        QTest::addColumn<bool>("playlist");
        QTest::addColumn<QStringList>("urls");
        QTest::addColumn<QString>("toast");
        QTest::addColumn<QStringList>("added");
        const QString none = QStringLiteral("⚠️  No supported audio files or folders in that drop");
        QTest::newRow("a folder and two files") << false << QStringList{"Album", "a.mp3", "b.wav"}
                                                << QStringLiteral("✅  Added 1 folder + 2 files to library")
                                                << QStringList{"a.mp3", "b.wav"};
        QTest::newRow("upper-case suffix") << false << QStringList{"TRACK.MP3"}
                                           << QStringLiteral("✅  Added 1 file to library")
                                           << QStringList{"TRACK.MP3"};
        QTest::newRow("a suffix only a folder scan takes") << false << QStringList{"x.opus"} << none
                                                           << QStringList{};
        QTest::newRow("web links only") << false << QStringList{"web:a.mp3", "web:b.mp3"} << none << QStringList{};
        QTest::newRow("a session among files is skipped")
            << false << QStringList{"x.VX", "a.mp3"} << QStringLiteral("✅  Added 1 file to library")
            << QStringList{"a.mp3"};
        QTest::newRow("a named pipe named like a track") << false << QStringList{"pipe/x.mp3"} << none
                                                         << QStringList{};
        QTest::newRow("files gone before the drop lands") << false << QStringList{"gone1.mp3", "gone2.wav"} << none
                                                          << QStringList{};
        QTest::newRow("two folders") << false << QStringList{"Album", "Loop"}
                                     << QStringLiteral("✅  Added 2 folders to library") << QStringList{};
        QTest::newRow("files on the playlist") << true << QStringList{"a.mp3", "b.wav"}
                                               << QStringLiteral("✅  Added 2 files to playlist")
                                               << QStringList{"a.mp3", "b.wav"};
        QTest::newRow("nothing on the playlist") << true << QStringList{"notes.txt"} << none << QStringList{};
    }
    void drops()
    {
        QFETCH(bool, playlist);
        QFETCH(QStringList, urls);
        QFETCH(QString, toast);
        QFETCH(QStringList, added);
        touch(QStringLiteral("a.mp3"));
        touch(QStringLiteral("b.wav"));
        touch(QStringLiteral("TRACK.MP3"));
        touch(QStringLiteral("x.opus"));
        touch(QStringLiteral("x.VX"), "{}");
        touch(QStringLiteral("notes.txt"));
        touch(QStringLiteral("Album/c.mp3"));
        QDir().mkpath(at(QStringLiteral("Loop")));
        QFile::link(at(QStringLiteral("Loop")), at(QStringLiteral("Loop/again")));
        QDir().mkpath(at(QStringLiteral("pipe")));
        if (!QFileInfo::exists(at(QStringLiteral("pipe/x.mp3"))))
            QCOMPARE(::mkfifo(QFile::encodeName(at(QStringLiteral("pipe/x.mp3"))).constData(), 0600), 0);

        LibraryManager* library = LibraryManager::instance();
        library->clearAll();
        w->playlistPaths.clear();
        w->pendingPlaylistFolders.clear();
        A::eventLog(w)->clear();
        QList<QUrl> list;
        for (const QString& u : urls)
            list << (u.startsWith(QLatin1String("web:")) ? QUrl(QStringLiteral("https://example.invalid/") + u.mid(4))
                                                         : QUrl::fromLocalFile(at(u)));
        if (playlist)
            w->handlePlaylistDrop(list);
        else
            w->handleMusicFolderDrop(list);

        QCOMPARE(drainToasts(), QStringList{toast});
        QStringList taken;
        for (const LibraryEntry& e : library->entries())
            if (e.category == QLatin1String("Dropped Files"))
                taken << QFileInfo(e.filePath).fileName();
        taken.sort();
        QCOMPARE(taken, added);
        QStringList inPlaylist;
        for (const QString& p : std::as_const(w->playlistPaths))
            inPlaylist << QFileInfo(p).fileName();
        inPlaylist.sort();
        QCOMPARE(inPlaylist, playlist ? added : QStringList{});
        const QListWidget* log = A::eventLog(w)->list();
        if (toast.startsWith(QStringLiteral("✅"))) {
            QCOMPARE(log->count(), 1);
            const QString summary = toast.section(QStringLiteral("Added "), 1).section(QStringLiteral(" to "), 0, 0);
            QVERIFY(log->item(0)->text().endsWith((playlist ? QStringLiteral("Playlist: ") : QStringLiteral("Library: "))
                                                  + QStringLiteral("Dragged in ") + summary));
        } else {
            QCOMPARE(log->count(), 0);
        }
        library->clearAll();
    }

    // A folder on the playlist waits for its scan; one whose name another
    // folder already holds gets a category of its own.
    void folderOnPlaylist()
    {
        touch(QStringLiteral("one/Music/a.mp3"));
        touch(QStringLiteral("two/Music/b.mp3"));
        LibraryManager* library = LibraryManager::instance();
        library->clearAll();
        w->playlistPaths.clear();
        w->pendingPlaylistFolders.clear();
        w->handleMusicFolderDrop({QUrl::fromLocalFile(at(QStringLiteral("one/Music")))});
        w->handlePlaylistDrop({QUrl::fromLocalFile(at(QStringLiteral("two/Music")))});
        QCOMPARE(w->pendingPlaylistFolders, QSet<QString>{QStringLiteral("Music (2)")});
        QVERIFY(w->playlistPaths.isEmpty());
        QCOMPARE(library->folderPath(QStringLiteral("Music")), at(QStringLiteral("one/Music")));
        QCOMPARE(library->folderPath(QStringLiteral("Music (2)")), at(QStringLiteral("two/Music")));
        QTRY_VERIFY(w->playlistPaths.contains(at(QStringLiteral("two/Music/b.mp3"))));
        QVERIFY(!w->playlistPaths.contains(at(QStringLiteral("one/Music/a.mp3"))));
        QVERIFY(w->pendingPlaylistFolders.isEmpty());
        drainToasts();
        library->clearAll();
    }

    // A session file dropped alone goes to the one opening road, which asks
    // about unsaved changes first; Cancel keeps the session and adds nothing.
    void sessionDropAsksFirst_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("vx") << QStringLiteral("show.vx");
        QTest::newRow("JSON in capitals") << QStringLiteral("SHOW.JSON");
    }
    void sessionDropAsksFirst()
    {
        QFETCH(QString, name);
        touch(name, "{}");
        SessionManager* sm = SessionManager::instance();
        sm->markDirty();
        const QString before = sm->session().filePath;
        int asked = 0;
        {
            TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
                if (r.kind == Modal::Kind::MessageBox) {
                    ++asked;
                    return int(QMessageBox::Cancel);
                }
                return {};
            });
            w->handleMusicFolderDrop({QUrl::fromLocalFile(at(name))});
        }
        QCOMPARE(asked, 1);
        QCOMPARE(sm->session().filePath, before);
        QVERIFY(sm->isDirty());
        QVERIFY(LibraryManager::instance()->entries().isEmpty());
        QCOMPARE(drainToasts(), QStringList{});
    }

    // Ten thousand files in one drop: all taken, one toast.
    void manyFiles()
    {
        QDir().mkpath(at(QStringLiteral("many")));
        QList<QUrl> urls;
        for (int i = 0; i < 10000; ++i) {
            const QString path = at(QStringLiteral("many/%1.mp3").arg(i));
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            urls << QUrl::fromLocalFile(path);
        }
        LibraryManager::instance()->clearAll();
        w->handleMusicFolderDrop(urls);
        QCOMPARE(drainToasts(), QStringList{QStringLiteral("✅  Added 10000 files to library")});
        QCOMPARE(LibraryManager::instance()->entries().size(), 10000);
        QCOMPARE(w->musicList->count(), 10000);
        LibraryManager::instance()->clearAll();
    }
};

QTEST_MAIN(TestMusicMenuDrops)
#include "tst_music_menu_drops.moc"
