#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include "AppSettings.h"
#include "LibraryManager.h"
#include "TestSupport.h"

namespace {

void touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

// A folder holding n audio files (and some files that are not audio).
QString makeFolder(const QString& name, int n)
{
    const QString dir = TestSupport::tempDir() + QLatin1Char('/') + name;
    QDir().mkpath(dir);
    for (int i = 0; i < n; ++i)
        touch(QStringLiteral("%1/sub%2/clip%3.wav").arg(dir).arg(i % 3).arg(i));
    touch(dir + QStringLiteral("/notes.txt"));
    touch(dir + QStringLiteral("/README"));
    return dir;
}

QStringList sortedPaths(const QList<LibraryEntry>& list)
{
    QStringList out;
    for (const LibraryEntry& e : list)
        out << e.filePath;
    out.sort();
    return out;
}

// Writes keys into the settings group "library".
void writeLibraryGroup(const QVariantMap& keys)
{
    AppSettings s;
    s.beginGroup(QStringLiteral("library"));
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        s.setValue(it.key(), it.value());
}

// Waits until the manager has no scan left in flight.
bool settle(LibraryManager& m)
{
    return QTest::qWaitFor([&] { return m.pendingScans() == 0; }, 20000);
}

} // namespace

class TestLibrary : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void init()
    {
        AppSettings s;
        s.clear();
    }

    void scannerBatchesAndFilter()
    {
        const QString dir = makeFolder(QStringLiteral("Big"), 118);
        touch(dir + QStringLiteral("/Loud.MP3"));
        touch(dir + QStringLiteral("/a.b.mp3"));
        FolderScanner scanner;
        QSignalSpy batches(&scanner, &FolderScanner::batchFound);
        QSignalSpy done(&scanner, &FolderScanner::scanComplete);
        scanner.scan(dir, QStringLiteral("Big"));

        QCOMPARE(batches.size(), 3);
        QCOMPARE(batches[0][0].value<QList<LibraryEntry>>().size(), 50);
        QCOMPARE(batches[1][0].value<QList<LibraryEntry>>().size(), 50);
        QCOMPARE(batches[2][0].value<QList<LibraryEntry>>().size(), 20);
        QCOMPARE(done.size(), 1);
        QCOMPARE(done[0][0].toString(), QStringLiteral("Big"));

        QHash<QString, QString> names;
        for (const auto& b : batches)
            for (const LibraryEntry& e : b[0].value<QList<LibraryEntry>>()) {
                QCOMPARE(e.category, QStringLiteral("Big"));
                names.insert(QFileInfo(e.filePath).fileName(), e.name);
            }
        QCOMPARE(names.size(), 120);
        QCOMPARE(names.value(QStringLiteral("Loud.MP3")), QStringLiteral("Loud"));
        QCOMPARE(names.value(QStringLiteral("a.b.mp3")), QStringLiteral("a.b"));
        QVERIFY(!names.contains(QStringLiteral("notes.txt")));
        QVERIFY(!names.contains(QStringLiteral("README")));

        QVERIFY(FolderScanner::isAudioFile(QStringLiteral("x.WebM")));
        QVERIFY(!FolderScanner::isAudioFile(QStringLiteral("mp3")));
        QVERIFY(!FolderScanner::isAudioFile(QStringLiteral("x.mp3.bak")));
    }

    void scanThroughManager()
    {
        LibraryManager m;
        QSignalSpy started(&m, &LibraryManager::scanStarted);
        QSignalSpy added(&m, &LibraryManager::entryAdded);
        QSignalSpy finished(&m, &LibraryManager::scanFinished);

        const QString jingles = makeFolder(QStringLiteral("Jingles"), 120);
        m.addFolder(jingles, QString());
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0][0].toString(), QStringLiteral("Jingles"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished[0][0].toString(), QStringLiteral("Jingles"));
        QCOMPARE(finished[0][1].toInt(), 120);
        QCOMPARE(added.size(), 120);
        QCOMPARE(m.entries().size(), 120);
        QCOMPARE(m.folderPath(QStringLiteral("Jingles")), jingles);

        // An empty or missing folder reports what the category already holds.
        added.clear();
        m.addFolder(TestSupport::tempDir(), QStringLiteral("Jingles"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished[1][1].toInt(), 120);
        m.addFolder(QStringLiteral("/no/such/folder"), QStringLiteral("Ghost"));
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished[2][0].toString(), QStringLiteral("Ghost"));
        QCOMPARE(finished[2][1].toInt(), 0);
        QCOMPARE(added.size(), 0);

        // The same folder again (as given, as a drop's URL gives it, under
        // its own name) lists each file once, and counts it once; a reload
        // brings the same one copy back.
        m.clearAll();
        const QString sfx = makeFolder(QStringLiteral("Sfx"), 7);
        finished.clear();
        m.addFolder(sfx, QStringLiteral("Sfx"));
        m.addFolder(sfx, QStringLiteral("Sfx"));
        m.addFolder(sfx + QStringLiteral("/"), QStringLiteral("Sfx"));
        m.addFolder(sfx, QString());
        QVERIFY(settle(m));
        QCOMPARE(m.entries().size(), 7);
        QCOMPARE(finished.size(), 4);
        for (const QList<QVariant>& f : std::as_const(finished))
            QCOMPARE(f[1].toInt(), 7);
        QCOMPARE(m.search(QStringLiteral("sfx")).size(), 7);
        QSignalSpy cleared(&m, &LibraryManager::cleared);
        m.reloadAll();
        QCOMPARE(cleared.size(), 1);
        QVERIFY(settle(m));
        QCOMPARE(m.entries().size(), 7);
        QCOMPARE(m.rootFolders(), QStringList{QStringLiteral("Sfx")});
    }

    // Results of a scan that was overtaken by a remove, reload or clear must
    // not bring the dropped files back.
    void staleScansAreDropped()
    {
        LibraryManager m;
        QSignalSpy finished(&m, &LibraryManager::scanFinished);
        const QString a = makeFolder(QStringLiteral("A"), 60);
        const QString b = makeFolder(QStringLiteral("B"), 5);

        m.addFolder(a, QStringLiteral("A"));
        m.addFolder(b, QStringLiteral("B"));
        m.removeFolder(QStringLiteral("A"));
        QVERIFY(settle(m));
        QCOMPARE(m.entries().size(), 5);
        QCOMPARE(m.entriesForCategory(QStringLiteral("A")).size(), 0);
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished[0][0].toString(), QStringLiteral("B"));

        m.addFolder(a, QStringLiteral("A"));
        m.reloadAll();   // the first scan of A is overtaken by the reload's
        QVERIFY(settle(m));
        QCOMPARE(m.entries().size(), 65);

        m.addFolder(a, QStringLiteral("A2"));
        m.clearAll();
        QVERIFY(settle(m));
        QVERIFY(m.entries().isEmpty());
        QVERIFY(m.rootFolders().isEmpty());
    }

    void addFile()
    {
        LibraryManager m;
        QSignalSpy added(&m, &LibraryManager::entryAdded);
        const QString dir = TestSupport::tempDir();
        touch(dir + QStringLiteral("/take.one.wav"));

        m.addFile(dir + QStringLiteral("/missing.wav"));
        QCOMPARE(added.size(), 0);
        m.addFile(dir + QStringLiteral("/take.one.wav"), QString());
        QCOMPARE(added.size(), 1);
        const LibraryEntry e = added[0][0].value<LibraryEntry>();
        QCOMPARE(e.name, QStringLiteral("take.one"));
        QCOMPARE(e.category, QStringLiteral("Downloads"));
        m.addFile(dir + QStringLiteral("/take.one.wav"), QStringLiteral("Online Downloads"));
        QCOMPARE(added.size(), 1);
        QCOMPARE(m.entries().size(), 1);
        QVERIFY(m.rootFolders().isEmpty());
    }

    void queries()
    {
        LibraryManager m;
        const QString dir = TestSupport::tempDir();
        const QStringList files = {QStringLiteral("m/bell_ring.wav"), QStringLiteral("live/x.wav"),
                                   QStringLiteral("musicals/y.wav"), QStringLiteral("Bells/z.wav")};
        const QStringList cats = {QStringLiteral("Music"), QStringLiteral("Music/Live"),
                                  QStringLiteral("Musicals"), QStringLiteral("Music")};
        for (int i = 0; i < files.size(); ++i) {
            touch(dir + QLatin1Char('/') + files[i]);
            m.addFile(dir + QLatin1Char('/') + files[i], cats[i]);
        }
        QCOMPARE(m.entriesForCategory(QStringLiteral("Music")).size(), 3);
        for (const LibraryEntry& e : m.entriesForCategory(QStringLiteral("Music")))
            QVERIFY(e.category != QLatin1String("Musicals"));
        QCOMPARE(m.entriesForCategory(QStringLiteral("__all__")).size(), 4);
        QCOMPARE(m.entriesForCategory(QString()).size(), 4);
        QCOMPARE(m.entriesForCategory(QStringLiteral("__ALL__")).size(), 0);

        const QList<LibraryEntry> bell = m.search(QStringLiteral("BELL"));
        QCOMPARE(sortedPaths(bell), QStringList({dir + QStringLiteral("/Bells/z.wav"),
                                                 dir + QStringLiteral("/m/bell_ring.wav")}));
        QCOMPARE(m.search(QString()).size(), 4);
        QCOMPARE(m.categories(), QStringList({QStringLiteral("Music"), QStringLiteral("Music/Live"),
                                              QStringLiteral("Musicals")}));
    }

    // A damaged "count" must not make the start walk billions of indices; the
    // pairs the group really holds below it are restored.
    void hugeSavedCountRestoresWhatIsThere()
    {
        const QString a = makeFolder(QStringLiteral("HA"), 1);
        writeLibraryGroup({{QStringLiteral("count"), 2147483647},
                           {QStringLiteral("cat7_name"), QStringLiteral("Seventh")},
                           {QStringLiteral("cat7_path"), a},
                           {QStringLiteral("cat2_name"), QStringLiteral("NoPath")},
                           {QStringLiteral("catx_name"), QStringLiteral("Odd")}});
        LibraryManager m;
        QSignalSpy started(&m, &LibraryManager::scanStarted);
        m.loadConfig();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started[0][0].toString(), QStringLiteral("Seventh"));
        QVERIFY(settle(m));
        QCOMPARE(m.entries().size(), 1);
    }

    // A folder given with a trailing slash still files under its own name.
    void trailingSlashKeepsTheFolderName()
    {
        LibraryManager m;
        const QString dir = makeFolder(QStringLiteral("Stings"), 2);
        QSignalSpy finished(&m, &LibraryManager::scanFinished);
        m.addFolder(dir + QLatin1Char('/'), QString());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished[0][0].toString(), QStringLiteral("Stings"));
        QCOMPARE(m.rootFolders(), QStringList{QStringLiteral("Stings")});
        QCOMPARE(m.entriesForCategory(QStringLiteral("Stings")).size(), 2);
    }

    void settings()
    {
        {
            AppSettings s;
            s.setValue(QStringLiteral("library/downloadPath"), QStringLiteral("/data/dl"));
        }
        const QString a = makeFolder(QStringLiteral("SA"), 2);
        const QString c = makeFolder(QStringLiteral("SC"), 3);
        writeLibraryGroup({{QStringLiteral("count"), 3},
                           {QStringLiteral("cat0_name"), QStringLiteral("First")},
                           {QStringLiteral("cat0_path"), a},
                           {QStringLiteral("cat1_name"), QStringLiteral("Second")},
                           {QStringLiteral("cat1_path"), QString()},
                           {QStringLiteral("cat2_name"), QStringLiteral("Third")},
                           {QStringLiteral("cat2_path"), c}});
        LibraryManager m;
        QSignalSpy started(&m, &LibraryManager::scanStarted);
        m.loadConfig();
        QCOMPARE(started.size(), 2);
        QCOMPARE(started[0][0].toString(), QStringLiteral("First"));
        QCOMPARE(started[1][0].toString(), QStringLiteral("Third"));
        QVERIFY(settle(m));
        QCOMPARE(m.entries().size(), 5);
        {
            // Rewritten with the two roots that were restored.
            AppSettings s;
            QCOMPARE(s.value(QStringLiteral("library/count")).toInt(), 2);
            QVERIFY(!s.contains(QStringLiteral("library/cat2_name")));
            QCOMPARE(s.value(QStringLiteral("library/downloadPath")).toString(), QStringLiteral("/data/dl"));
        }

        m.removeFolder(QStringLiteral("First"));
        {
            AppSettings s;
            QCOMPARE(s.value(QStringLiteral("library/count")).toInt(), 1);
            QCOMPARE(s.value(QStringLiteral("library/cat0_name")).toString(), QStringLiteral("Third"));
            QCOMPARE(s.value(QStringLiteral("library/cat0_path")).toString(), c);
        }

        m.clearAll();
        {
            AppSettings s;
            s.beginGroup(QStringLiteral("library"));
            QCOMPARE(s.childKeys(), QStringList({QStringLiteral("count"), QStringLiteral("downloadPath")}));
            QCOMPARE(s.value(QStringLiteral("count")).toInt(), 0);
        }

        m.addFolder(a, QStringLiteral("First"));
        m.clearSavedFolders();
        QVERIFY(settle(m));
        AppSettings s;
        s.beginGroup(QStringLiteral("library"));
        QCOMPARE(s.childKeys(), QStringList{QStringLiteral("downloadPath")});
    }
};

QTEST_GUILESS_MAIN(TestLibrary)
#include "tst_library.moc"
