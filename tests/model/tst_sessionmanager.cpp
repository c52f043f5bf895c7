#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSet>
#include <QSignalSpy>
#include <QTimer>
#include <QUuid>
#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AppSettings.h"
#include "RecordId.h"
#include "SessionManager.h"
#include "TestSupport.h"

namespace {
SessionManager* mgr()
{
    return SessionManager::instance();
}

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write fixture %s", qPrintable(path));
    return path;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool isFreshId(const QString& id)
{
    return !id.isEmpty() && !QUuid::fromString(id).isNull() && !id.startsWith(QLatin1Char('{'));
}

// Records the order of the manager's signals.
struct SignalLog
{
    QStringList events;
    QList<QMetaObject::Connection> conns;
    SignalLog()
    {
        conns << QObject::connect(mgr(), &SessionManager::sessionLoaded, [this](const Session&) { events << "loaded"; });
        conns << QObject::connect(mgr(), &SessionManager::sessionSaved, [this] { events << "saved"; });
        conns << QObject::connect(mgr(), &SessionManager::dirtyChanged,
                                  [this](bool d) { events << (d ? "dirty" : "clean"); });
    }
    ~SignalLog()
    {
        for (const auto& c : conns)
            QObject::disconnect(c);
    }
};

// Everything a failed load or save must leave alone.
struct Snapshot
{
    Session session;
    bool dirty;
    QStringList recent;
    static Snapshot take() { return {mgr()->session(), mgr()->isDirty(), mgr()->recentFiles()}; }
    bool operator==(const Snapshot&) const = default;
};
} // namespace

class TstSessionManager : public QObject
{
    Q_OBJECT
    QString m_dir;

    // A loaded, edited and dirty session to be kept safe by failing operations.
    void prepareEditedSession()
    {
        const QString good = writeFile(m_dir + "/good.vx", R"({"globalVolume":0.5,"tabs":[{"id":"t","name":"Keep"}]})");
        QVERIFY(mgr()->loadSession(good));
        mgr()->session().tabs[0].name = QStringLiteral("Edited");
        mgr()->markDirty();
    }

private slots:
    void initTestCase()
    {
        // Settings of our own: other suites running at the same time share the
        // test folder's settings file and may keep recent files too.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(TestSupport::tempDir()));
    }

    void init()
    {
        m_dir = TestSupport::tempDir();
        mgr()->setAutoSaveInterval(0);
        mgr()->newSession();
        mgr()->setDirty(false);
        AppSettings().remove("recentFiles");
    }

    void newSessionHasOneTabOfFreshButtons()
    {
        const Session& s = mgr()->session();
        QCOMPARE(s.tabs.size(), 1);
        QCOMPARE(s.tabs[0].name, QString("Tab 1"));
        QVERIFY(isFreshId(s.tabs[0].id));
        QCOMPARE(s.tabs[0].buttons.size(), 36);
        QSet<QString> ids;
        for (const ButtonData& b : s.tabs[0].buttons) {
            QVERIFY(isFreshId(b.id));
            QVERIFY(b.audioPath.isEmpty());
            ids.insert(b.id);
        }
        QCOMPARE(ids.size(), 36);
        Session rest = s;
        rest.tabs.clear();
        QCOMPARE(rest, Session());

        // A second new session makes new ids.
        const QString before = s.tabs[0].buttons[0].id;
        mgr()->newSession();
        QVERIFY(mgr()->session().tabs[0].buttons[0].id != before);
    }

    void dirtyFlagSignalsOnlyOnChange()
    {
        SignalLog log;
        mgr()->markDirty();
        mgr()->markDirty();
        mgr()->setDirty(true);
        QCOMPARE(log.events, QStringList({"dirty"}));
        mgr()->setDirty(false);
        mgr()->setDirty(false);
        QCOMPARE(log.events, QStringList({"dirty", "clean"}));
        QVERIFY(!mgr()->isDirty());

        log.events.clear();
        mgr()->newSession(); // clean: no dirtyChanged
        QCOMPARE(log.events, QStringList({"loaded"}));
        mgr()->markDirty();
        log.events.clear();
        mgr()->newSession();
        QCOMPARE(log.events, QStringList({"clean", "loaded"}));
        QCOMPARE(mgr()->recentFiles(), QStringList());
    }

    void loadWithoutTabsGetsTheDefaultTab()
    {
        const QString path =
            writeFile(m_dir + "/notabs.vx", R"({"globalVolume":0.4,"gridCols":6,"gridRows":3,"tabs":[],"layoutMode":2})");
        mgr()->markDirty();
        SignalLog log;
        QVERIFY(mgr()->loadSession(path));
        QCOMPARE(log.events, QStringList({"clean", "loaded"}));
        const Session& s = mgr()->session();
        QCOMPARE(s.filePath, path);
        QCOMPARE(s.globalVolume, 0.4);
        QCOMPARE(s.gridCols, 6);
        QCOMPARE(s.gridRows, 3);
        QCOMPARE(s.layoutMode, 2);
        QCOMPARE(s.tabs.size(), 1);
        QCOMPARE(s.tabs[0].name, QString("Tab 1"));
        QSet<QString> ids;
        for (const ButtonData& b : s.tabs[0].buttons)
            ids.insert(b.id);
        QCOMPARE(ids.size(), 36);
        QVERIFY(!ids.contains(QString()));
        QCOMPARE(mgr()->recentFiles().value(0), path);
        QVERIFY(!mgr()->isDirty());
    }

    void loadKeepsTheFileContent()
    {
        const QString path = writeFile(m_dir + "/two.json",
                                       R"({"activeTab":9,"tabs":[{"id":"a","name":"A","buttons":[{"id":"x"}]},{"name":"B"}]})");
        QSignalSpy loaded(mgr(), &SessionManager::sessionLoaded);
        QVERIFY(mgr()->loadSession(path));
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loaded[0][0].value<Session>().tabs.size(), 2);
        const Session& s = mgr()->session();
        QCOMPARE(s.activeTab, 9); // bounding is the reader's business
        QCOMPARE(s.tabs[0].buttons.size(), 1);
        QCOMPARE(s.tabs[0].buttons[0].id, QString("x"));
        QCOMPARE(s.tabs[1].buttons.size(), 0);
    }

    // Engines key sounds by button id: a repeat gets a fresh id (the first
    // holder keeps its own), the count is told, and the file stays as it is.
    // Every load of the file gives the repeat the same new id, so a MIDI note
    // learned on it (stored under the id) binds again; and the new id is
    // none that another button of the file holds.
    void repeatedButtonIdsAreRenewed_data()
    {
        QTest::addColumn<QByteArray>("tabs");
        QTest::addColumn<QStringList>("kept");   // ids expected as read, in button order; "*" = fresh
        QTest::addColumn<int>("renewed");
        QTest::newRow("all distinct") << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"b"}]}])")
                                      << QStringList{"a", "b"} << 0;
        QTest::newRow("in one tab") << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"a"},{"id":"b"}]}])")
                                    << QStringList{"a", "*", "b"} << 1;
        QTest::newRow("across tabs")
            << QByteArray(R"([{"id":"t","buttons":[{"id":"a"}]},{"id":"u","buttons":[{"id":"b"},{"id":"a"}]}])")
            << QStringList{"a", "b", "*"} << 1;
        QTest::newRow("three of one") << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"a"},{"id":"a"}]}])")
                                      << QStringList{"a", "*", "*"} << 2;
        QTest::newRow("empty ids stay empty") << QByteArray(R"([{"id":"t","buttons":[{"name":"x"},{"id":""}]}])")
                                              << QStringList{"", ""} << 0;
        // The id the second "a" would get is already a later button's.
        Session clash;
        clash.tabs.append(TabData());
        clash.tabs[0].buttons.resize(2);
        clash.tabs[0].buttons[0].id = clash.tabs[0].buttons[1].id = QStringLiteral("a");
        RecordId::renewRepeatedButtonIds(clash);
        const QString held = clash.tabs[0].buttons[1].id;
        QTest::newRow("new id held by a later button")
            << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"a"},{"id":")" + held.toLatin1() + R"("}]}])")
            << QStringList{"a", "*", held} << 1;
    }
    void repeatedButtonIdsAreRenewed()
    {
        QFETCH(QByteArray, tabs);
        QFETCH(QStringList, kept);
        QFETCH(int, renewed);
        const QByteArray text = R"({"tabs":)" + tabs + "}";
        const QString path = writeFile(m_dir + "/repeats.vx", text);
        QVERIFY(mgr()->loadSession(path));
        QCOMPARE(mgr()->renewedIdsOnLoad(), renewed);
        QStringList ids;
        for (const TabData& t : mgr()->session().tabs)
            for (const ButtonData& b : t.buttons)
                ids << b.id;
        QCOMPARE(ids.size(), kept.size());
        QSet<QString> distinct;
        for (int i = 0; i < ids.size(); ++i) {
            if (kept[i] == "*")
                QVERIFY2(isFreshId(ids[i]), qPrintable(ids[i]));
            else
                QCOMPARE(ids[i], kept[i]);
            if (!ids[i].isEmpty())
                distinct.insert(ids[i]);
        }
        QCOMPARE(distinct.size(), int(ids.size() - ids.count(QString())));
        // Only a save writes the new ids.
        QVERIFY(!mgr()->isDirty());
        QCOMPARE(readFile(path), text);

        // After another session, a new load of the file gives every button
        // the id it had the first time.
        mgr()->newSession();
        QVERIFY(mgr()->loadSession(path));
        QStringList again;
        for (const TabData& t : mgr()->session().tabs)
            for (const ButtonData& b : t.buttons)
                again << b.id;
        QCOMPARE(again, ids);
        QCOMPARE(mgr()->renewedIdsOnLoad(), renewed);
        QVERIFY(!mgr()->isDirty());
        QCOMPARE(readFile(path), text);
        mgr()->newSession();
        QCOMPARE(mgr()->renewedIdsOnLoad(), 0);
    }

    void brokenFilesLeaveTheSessionAlone_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("warning");
        const QString d = TestSupport::tempDir();
        QTest::newRow("missing") << d + "/nope.vx" << "^Cannot open session: \".*nope.vx\"$";
        QDir().mkpath(d + "/folder.vx");
        QTest::newRow("a folder") << d + "/folder.vx" << "^Cannot open session: \".*folder.vx\"";
        QTest::newRow("empty") << writeFile(d + "/empty.vx", "") << "^Session parse error: ";
        QTest::newRow("truncated") << writeFile(d + "/trunc.vx", R"({"tabs":[{"name":"A","buttons":[{"id":)")
                                   << "^Session parse error: ";
        QTest::newRow("not json") << writeFile(d + "/text.vx", "hello, I am a playlist\n") << "^Session parse error: ";
        QTest::newRow("binary") << writeFile(d + "/bin.vx", QByteArray("\xff\xfe\x00\x01{\x80", 6))
                                << "^Session parse error: ";
        QTest::newRow("array") << writeFile(d + "/array.vx", R"([{"tabs":[]}])") << "not a JSON object";
        QTest::newRow("number") << writeFile(d + "/number.vx", "42") << "not a JSON object|parse error";
        QTest::newRow("string") << writeFile(d + "/string.vx", "\"tabs\"") << "not a JSON object|parse error";
        QTest::newRow("deep array") << writeFile(d + "/deep.vx", QByteArray(200000, '[') + QByteArray(200000, ']'))
                                    << "^Session parse error: ";
        QTest::newRow("deep in object")
            << writeFile(d + "/deepobj.vx",
                         "{\"tabs\":" + QByteArray(5000, '[') + QByteArray(5000, ']') + "}")
            << "^Session parse error: ";
        // 50 MB of valid-looking tabs that never ends.
        QByteArray big = "{\"tabs\":[";
        const QByteArray tab = R"({"name":"Big","buttons":[{"id":"b","name":"n","audioPath":"/x.wav"}]},)";
        big.reserve(50 * 1024 * 1024 + tab.size());
        while (big.size() < 50 * 1024 * 1024)
            big += tab;
        QTest::newRow("50 MB truncated") << writeFile(d + "/big.vx", big) << "^Session parse error: ";
        // Files that are not plain files would block in open() or never end.
        QVERIFY(mkfifo(QFile::encodeName(d + "/pipe.vx").constData(), 0600) == 0);
        QTest::newRow("a pipe") << d + "/pipe.vx" << "^Cannot open session: \".*pipe.vx\" \\(not a regular file\\)$";
        QVERIFY(QFile::link("/dev/zero", d + "/zero.json"));
        QTest::newRow("a device") << d + "/zero.json" << "^Cannot open session: \".*zero.json\"";
        // Beyond what the reader takes (a sparse file: no disk space used).
        QFile huge(d + "/huge.vx");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 30) + 1));
        huge.close();
        QTest::newRow("over 1 GiB") << d + "/huge.vx" << "^Session file is too large: \".*huge.vx\" 1073741825 bytes$";
    }
    void brokenFilesLeaveTheSessionAlone()
    {
        QFETCH(QString, file);
        QFETCH(QString, warning);
        prepareEditedSession();
        const Snapshot before = Snapshot::take();
        QVERIFY(before.dirty);
        SignalLog log;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(warning));
        QVERIFY(!mgr()->loadSession(file));
        QVERIFY(Snapshot::take() == before);
        QCOMPARE(mgr()->session().tabs[0].name, QString("Edited"));
        QCOMPARE(log.events, QStringList());
    }

    void saveWritesTheFileAndCleans()
    {
        const QString path = writeFile(m_dir + "/set.json", R"({"tabs":[{"id":"t","name":"One"}]})");
        QVERIFY(mgr()->loadSession(path));
        mgr()->session().globalVolume = 0.3;
        mgr()->markDirty();
        SignalLog log;
        QVERIFY(mgr()->saveSession()); // no path: back to its own file, name kept
        QCOMPARE(log.events, QStringList({"clean", "saved"}));
        QCOMPARE(mgr()->session().filePath, path);
        const QByteArray text = readFile(path);
        QVERIFY(text.contains("\n    \"")); // indented form
        QCOMPARE(QJsonDocument::fromJson(text).object(), mgr()->session().toJson());
        QCOMPARE(mgr()->recentFiles().value(0), path);

        // Saving under another name moves the session there.
        const QString other = m_dir + "/other.vx";
        QVERIFY(mgr()->saveSession(other));
        QCOMPARE(mgr()->session().filePath, other);
        QCOMPARE(mgr()->recentFiles().mid(0, 2), QStringList({other, path}));
        QCOMPARE(QDir(m_dir).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }

    void failedSaveLeavesTheOldFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("disk full") << "full";
        QTest::newRow("target is a folder") << "folder";
        QTest::newRow("parent is a file") << "parentfile";
        QTest::newRow("read-only folder") << "readonly";
    }
    void failedSaveLeavesTheOldFile()
    {
        QFETCH(QString, kind);
        const QString dir = m_dir + "/sets";
        QDir().mkpath(dir);
        QString target = dir + "/show.vx";
        const QByteArray old = "{\"tabs\":[{\"id\":\"old\",\"name\":\"Old\"}],\"note\":\"precious\"}\n";
        writeFile(target, old);
        QVERIFY(mgr()->loadSession(target));
        for (int i = 0; i < 3; ++i)
            mgr()->session().tabs << SessionManager::makeDefaultTab(); // well above the size limit below
        mgr()->markDirty();

        struct rlimit saved {};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto lift = [&] {
            setrlimit(RLIMIT_FSIZE, &saved);
            QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        };
        auto restore = qScopeGuard(lift);
        if (kind == "full") {
            // Writes beyond 4 KiB fail as on a full disk.
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = saved;
            small.rlim_cur = 4096;
            QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        } else if (kind == "folder") {
            target = dir + "/inner.vx";
            QDir().mkpath(target + "/keep");
        } else if (kind == "parentfile") {
            target = target + "/again.vx";
        } else if (kind == "readonly") {
            if (geteuid() == 0)
                QSKIP("root writes into read-only folders; the other rows cover this");
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        }

        const Snapshot before = Snapshot::take();
        SignalLog log;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot write session: \"" + QRegularExpression::escape(target) + "\""));
        QVERIFY(!mgr()->saveSession(target));
        lift();

        QVERIFY(Snapshot::take() == before);
        QVERIFY(mgr()->isDirty());
        QCOMPARE(log.events, QStringList());
        QCOMPARE(readFile(dir + "/show.vx"), old);
        // No temporary file is left behind.
        QStringList left = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        left.removeAll("inner.vx");
        QCOMPARE(left, QStringList({"show.vx"}));
        if (kind == "folder")
            QVERIFY(QFileInfo(dir + "/inner.vx/keep").isDir());

        // With the obstacle gone the same save goes through.
        if (kind == "full" || kind == "readonly") {
            QVERIFY(mgr()->saveSession(target));
            QVERIFY(readFile(target) != old);
            QVERIFY(!mgr()->isDirty());
        }
    }

    void saveAsAsksForAName_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("saved");
        QTest::newRow("no suffix") << "set" << "set.vx";
        QTest::newRow("vx") << "set.vx" << "set.vx";
        QTest::newRow("json") << "set.json" << "set.json";
        QTest::newRow("upper JSON") << "set.JSON" << "set.JSON.vx";
        QTest::newRow("upper VX") << "set.VX" << "set.VX.vx";
        QTest::newRow("cancel") << "" << "";
    }
    void saveAsAsksForAName()
    {
        QFETCH(QString, answer);
        QFETCH(QString, saved);
        QList<Modal::Request> asked;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            asked << r;
            return answer.isEmpty() ? QString() : m_dir + "/" + answer;
        });
        mgr()->markDirty();
        // A session that was never saved asks for a name even through saveSession().
        const bool ok = mgr()->saveSession();
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked[0].kind, Modal::Kind::SaveFile);
        QCOMPARE(asked[0].parent, nullptr);
        QCOMPARE(asked[0].title, QString("Save Session As"));
        QCOMPARE(asked[0].label, QString());
        QCOMPARE(asked[0].text, QString("Tarvello Session (*.vx);;JSON Files (*.json)"));
        if (saved.isEmpty()) {
            QVERIFY(!ok);
            QVERIFY(mgr()->isDirty());
            QVERIFY(mgr()->session().filePath.isEmpty());
            QCOMPARE(QDir(m_dir).entryList(QDir::Files).size(), 0);
            return;
        }
        QVERIFY(ok);
        QCOMPARE(mgr()->session().filePath, m_dir + "/" + saved);
        QVERIFY(QFile::exists(m_dir + "/" + saved));
        QVERIFY(!mgr()->isDirty());
    }

    void recentFilesNewestFirstWithoutDuplicates()
    {
        QCOMPARE(mgr()->recentFiles(), QStringList());
        for (int i = 0; i < 5; ++i)
            mgr()->addRecentFile(QString("/s/%1.vx").arg(i));
        mgr()->addRecentFile("/s/3.vx"); // was second
        QCOMPARE(mgr()->recentFiles(), QStringList({"/s/3.vx", "/s/4.vx", "/s/2.vx", "/s/1.vx", "/s/0.vx"}));
        mgr()->addRecentFile("/S/3.vx"); // letter case makes another entry
        QCOMPARE(mgr()->recentFiles().size(), 6);
        for (int i = 10; i < 16; ++i)
            mgr()->addRecentFile(QString("/s/%1.vx").arg(i));
        const QStringList l = mgr()->recentFiles();
        QCOMPARE(l.size(), 10);
        QCOMPARE(l.first(), QString("/s/15.vx"));
        QCOMPARE(l.last(), QString("/s/2.vx")); // the oldest ones went
        // Kept in the settings under "recentFiles".
        QCOMPARE(AppSettings().value("recentFiles").toStringList(), l);
    }

    void autosaveOnlyDirtySessionsWithAFile()
    {
        auto* timer = mgr()->findChild<QTimer*>();
        QVERIFY(timer);
        QVERIFY(!timer->isActive());
        mgr()->setAutoSaveInterval(120000);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 120000);
        QVERIFY(!timer->isSingleShot());

        TestSupport::ModalScript noDialog([](const Modal::Request&) -> QVariant {
            qFatal("autosave must not ask for a file name");
            return {};
        });
        // Dirty, but never saved: nothing happens.
        mgr()->markDirty();
        QMetaObject::invokeMethod(mgr(), "onAutoSaveTimeout");
        QVERIFY(mgr()->isDirty());

        // With a file: saved on the tick and clean.
        const QString dir = m_dir + "/auto";
        QDir().mkpath(dir);
        const QString path = dir + "/auto.vx";
        writeFile(path, "{}");
        QVERIFY(mgr()->loadSession(path));
        QMetaObject::invokeMethod(mgr(), "onAutoSaveTimeout"); // clean: no write
        QCOMPARE(readFile(path), QByteArray("{}"));
        mgr()->session().gridCols = 5;
        mgr()->markDirty();
        QSignalSpy saved(mgr(), &SessionManager::sessionSaved);
        QMetaObject::invokeMethod(mgr(), "onAutoSaveTimeout");
        QCOMPARE(saved.size(), 1);
        QVERIFY(!mgr()->isDirty());
        QCOMPARE(QJsonDocument::fromJson(readFile(path)).object().value("gridCols").toInt(), 5);

        // A failing autosave leaves the session dirty for the next tick, and
        // is told once for a run of failures.
        QSignalSpy failed(mgr(), &SessionManager::autoSaveFailed);
        mgr()->markDirty();
        QVERIFY(QDir(dir).removeRecursively());
        writeFile(dir, "now a file");
        for (int tick = 0; tick < 3; ++tick) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot write session: "));
            QMetaObject::invokeMethod(mgr(), "onAutoSaveTimeout");
        }
        QVERIFY(mgr()->isDirty());
        QCOMPARE(saved.size(), 1);
        QCOMPARE(failed.size(), 1);
        QVERIFY(failed[0][0].toString().contains("auto.vx"));

        // The next success says nothing; a failure after it starts a new run.
        QFile::remove(dir);
        QDir().mkpath(dir);
        QMetaObject::invokeMethod(mgr(), "onAutoSaveTimeout");
        QCOMPARE(saved.size(), 2);
        QCOMPARE(failed.size(), 1);
        mgr()->markDirty();
        QVERIFY(QDir(dir).removeRecursively());
        writeFile(dir, "a file again");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Cannot write session: "));
        QMetaObject::invokeMethod(mgr(), "onAutoSaveTimeout");
        QCOMPARE(failed.size(), 2);

        mgr()->setAutoSaveInterval(0);
        QVERIFY(!timer->isActive());
        mgr()->setAutoSaveInterval(-5);
        QVERIFY(!timer->isActive());
    }
};

QTEST_GUILESS_MAIN(TstSessionManager)
#include "tst_sessionmanager.moc"
