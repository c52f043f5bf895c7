#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPoint>
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

// Every tab's id, then every button's, in order.
QStringList idsOf(const Session& s)
{
    QStringList ids;
    for (const TabData& t : s.tabs)
        ids << t.id;
    for (const TabData& t : s.tabs)
        for (const ButtonData& b : t.buttons)
            ids << b.id;
    return ids;
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

    // The session just loaded from a file of tabs `fileTabs`: every tab holds
    // the file's buttons and at least `shown`; the file's buttons have the
    // ids `kept` ("*": one made at the load); made ids are UUIDs, and no
    // button id is twice in the session. `made` gets the places of the
    // buttons the file holds no id for, pads after its own included.
    void checkLoadedButtons(const QJsonArray& fileTabs, const QStringList& kept, int shown, QList<QPoint>* made)
    {
        QStringList ids;  // every button's
        QStringList read; // the file's buttons'
        const QList<TabData>& loaded = mgr()->session().tabs;
        QCOMPARE(loaded.size(), std::max<qsizetype>(fileTabs.size(), 1));
        for (int t = 0; t < loaded.size(); ++t) {
            const QJsonArray fileButtons = fileTabs.at(t).toObject().value("buttons").toArray();
            const qsizetype inFile = fileButtons.size();
            QCOMPARE(loaded[t].buttons.size(), std::max<qsizetype>(inFile, shown));
            for (int i = 0; i < loaded[t].buttons.size(); ++i) {
                const QString& id = loaded[t].buttons[i].id;
                ids << id;
                if (fileButtons.at(i).toObject().value("id").toString().isEmpty())
                    *made << QPoint(t, i);
                if (i < inFile)
                    read << id;
                else
                    QVERIFY2(isFreshId(id), qPrintable(id));
            }
        }
        QCOMPARE(read.size(), kept.size());
        for (int i = 0; i < read.size(); ++i) {
            if (kept[i] == "*")
                QVERIFY2(isFreshId(read[i]), qPrintable(read[i]));
            else
                QCOMPARE(read[i], kept[i]);
        }
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
    }

    // Had the file `text` held the ids its load made at `made` (in later
    // buttons of the first tab, or in a tab of its own), the load would have
    // made others: no button id is ever twice in a session.
    void checkHeldIdsAreAvoided(const QByteArray& text, const Session& loaded, const QList<QPoint>& made)
    {
        Session raw;
        QCOMPARE(SessionManager::readSession(text, &raw), SessionManager::ReadResult::Ok);
        RecordId::renewRepeatedButtonIds(raw);
        const int shown = shownButtonsPerTab(raw.buttonsPerTab);
        const QString key = RecordId::fileKey(text);
        Session asLoaded = raw;
        RecordId::giveMissingButtonIds(asLoaded, shown, key);
        QCOMPARE(idsOf(asLoaded), idsOf(loaded)); // what the load made, made again

        for (const bool sameTab : {true, false}) {
            Session held = raw;
            TabData own;
            own.id = QStringLiteral("held");
            TabData& holder = sameTab ? held.tabs[0] : own;
            while (sameTab && holder.buttons.size() < shown)
                holder.buttons.append(ButtonData());
            for (const QPoint& p : made) {
                ButtonData b;
                b.id = loaded.tabs[p.x()].buttons[p.y()].id;
                holder.buttons.append(b);
            }
            if (!sameTab)
                held.tabs.append(own);
            RecordId::giveMissingButtonIds(held, shown, key);
            QStringList ids;
            for (const TabData& t : std::as_const(held.tabs))
                for (const ButtonData& b : t.buttons)
                    ids << b.id;
            QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
            for (const QPoint& p : made)
                QVERIFY2(isFreshId(held.tabs[p.x()].buttons[p.y()].id), sameTab ? "same tab" : "own tab");
        }
    }

    // Another file gives the buttons it holds no id for (pads after its own
    // included) other ids than the file `text` gave them, though it holds
    // the same buttons at the same places: a note learned on a pad of one
    // show does not fire the pad at the same place of another. The tabs a
    // file holds keep their ids, even those made from a name; a tab made for
    // a file without any is that file's alone.
    void checkOtherFilesShareNone(const QByteArray& text, const Session& loaded, const QList<QPoint>& made)
    {
        const QStringList ids = idsOf(loaded);
        QByteArray renamed = text;
        renamed.replace(R"("id":"t")", R"("id":"t2")");
        const QByteArray louder = R"({"globalVolume":0.5,)" + text.mid(1);
        for (const QByteArray& other : {renamed, louder}) {
            if (other == text)
                continue;
            QVERIFY(mgr()->loadSession(writeFile(m_dir + "/other.vx", other)));
            const Session& s = mgr()->session();
            for (const QPoint& p : made)
                QVERIFY2(!ids.contains(s.tabs[p.x()].buttons[p.y()].id),
                         qPrintable(QStringLiteral("tab %1, button %2").arg(p.x()).arg(p.y())));
        }
        const bool tabless = QJsonDocument::fromJson(text).object().value("tabs").toArray().isEmpty();
        const Session& s = mgr()->session();
        QCOMPARE(s.tabs.size(), loaded.tabs.size());
        for (int t = 0; t < s.tabs.size(); ++t) {
            if (tabless)
                QVERIFY2(!ids.contains(s.tabs[t].id), qPrintable(s.tabs[t].id));
            else
                QCOMPARE(s.tabs[t].id, loaded.tabs[t].id);
        }
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
        QVERIFY2(isFreshId(s.tabs[0].id), qPrintable(s.tabs[0].id));
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
        // Each tab holds the pads its grid shows, the file's buttons first.
        QCOMPARE(s.tabs[0].buttons.size(), 36);
        QCOMPARE(s.tabs[0].buttons[0].id, QString("x"));
        QCOMPARE(s.tabs[1].buttons.size(), 36);
    }

    // Engines key sounds by button id and learned MIDI notes are stored
    // under it: a repeat gets a fresh id (the first holder keeps its own, and
    // the count is told), a button without an id gets one, and so does every
    // pad a tab shows beyond the file's buttons. The file stays as it is and
    // the session clean. Every load of the file gives each button the id it
    // had the first time, so a note learned on it binds again; a new id is
    // none that another button of the file holds; and the ids made for a
    // file (a file without tabs: its tab's too) are none that another file
    // gets made, even at the same places of same-named tabs.
    void buttonIdsMadeOnLoad_data()
    {
        QTest::addColumn<QByteArray>("tabs");
        QTest::addColumn<int>("perTab");       // "buttonsPerTab" of the file; 0: not written
        QTest::addColumn<QStringList>("kept"); // the file's buttons' ids as loaded, in order; "*" = made
        QTest::addColumn<int>("renewed");
        QTest::addColumn<int>("shown");        // buttons each tab holds after the load, at least
        QTest::newRow("all distinct") << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"b"}]}])") << 0
                                      << QStringList{"a", "b"} << 0 << 36;
        QTest::newRow("in one tab") << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"a"},{"id":"b"}]}])")
                                    << 0 << QStringList{"a", "*", "b"} << 1 << 36;
        QTest::newRow("across tabs")
            << QByteArray(R"([{"id":"t","buttons":[{"id":"a"}]},{"id":"u","buttons":[{"id":"b"},{"id":"a"}]}])") << 0
            << QStringList{"a", "b", "*"} << 1 << 36;
        QTest::newRow("three of one") << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"a"},{"id":"a"}]}])")
                                      << 0 << QStringList{"a", "*", "*"} << 2 << 36;
        // The id the second "a" would get is already a later button's.
        Session clash;
        clash.tabs.append(TabData());
        clash.tabs[0].buttons.resize(2);
        clash.tabs[0].buttons[0].id = clash.tabs[0].buttons[1].id = QStringLiteral("a");
        RecordId::renewRepeatedButtonIds(clash);
        const QByteArray held = clash.tabs[0].buttons[1].id.toLatin1();
        QTest::newRow("new id held by a later button")
            << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{"id":"a"},{"id":")" + held + R"("}]}])") << 0
            << QStringList{"a", "*", held} << 1 << 36;

        QTest::newRow("without ids") << QByteArray(R"([{"id":"t","buttons":[{"name":"x"},{"id":""},{"id":7}]}])")
                                     << 0 << QStringList{"*", "*", "*"} << 0 << 36;
        QTest::newRow("without ids among repeats")
            << QByteArray(R"([{"id":"t","buttons":[{"id":"a"},{},{"id":"a"},{}]}])") << 0
            << QStringList{"a", "*", "*", "*"} << 1 << 36;
        QTest::newRow("tabs of one id") << QByteArray(R"([{"id":"t","buttons":[{}]},{"id":"t","buttons":[{}]}])")
                                        << 0 << QStringList{"*", "*"} << 0 << 36;
        QTest::newRow("tabs without ids, one name")
            << QByteArray(R"([{"name":"A","buttons":[{}]},{"name":"A"}])") << 0 << QStringList{"*"} << 0 << 36;
        QTest::newRow("no tabs") << QByteArray("[]") << 0 << QStringList() << 0 << 36;
        QTest::newRow("no tabs, 72 shown") << QByteArray("[]") << 72 << QStringList() << 0 << 72;
        QTest::newRow("empty tab, 72 shown") << QByteArray(R"([{"id":"t"}])") << 72 << QStringList() << 0 << 72;
        QTest::newRow("24 shown") << QByteArray(R"([{"id":"t","buttons":[{}]}])") << 24 << QStringList{"*"} << 0
                                  << 24;
        QTest::newRow("unknown count shows 36") << QByteArray(R"([{"id":"t"}])") << 50 << QStringList() << 0 << 36;
        // Records beyond what the grid shows get ids too.
        QByteArray many = R"([{"id":"t","buttons":[)";
        for (int i = 0; i < 30; ++i)
            many += i ? ",{}" : "{}";
        many += "]}]";
        QTest::newRow("more buttons than shown") << many << 24 << QStringList(30, "*") << 0 << 30;
        // The file holds ids that the load of another file made for a button
        // without one and for the pad after its buttons: its own are others.
        // (A file holding the ids its own load would make is checked in the
        // test itself.)
        Session place;
        place.tabs.append(TabData());
        place.tabs[0].id = QStringLiteral("t");
        place.tabs[0].buttons.resize(1);
        RecordId::giveMissingButtonIds(place, 3, RecordId::fileKey(R"({"tabs":[{"id":"t","buttons":[{}]}]})"));
        const QByteArray first = place.tabs[0].buttons[0].id.toLatin1();
        const QByteArray pad = place.tabs[0].buttons[2].id.toLatin1();
        QTest::newRow("made id held by a later button")
            << QByteArray(R"([{"id":"t","buttons":[{},{"id":")" + first + R"("}]}])") << 0
            << QStringList{"*", first} << 0 << 36;
        QTest::newRow("made id held in another tab")
            << QByteArray(R"([{"id":"t","buttons":[{}]},{"id":"u","buttons":[{"id":")" + pad + R"("},{"id":")" +
                          first + R"("}]}])")
            << 0 << QStringList{"*", pad, first} << 0 << 36;
    }
    void buttonIdsMadeOnLoad()
    {
        QFETCH(QByteArray, tabs);
        QFETCH(int, perTab);
        QFETCH(QStringList, kept);
        QFETCH(int, renewed);
        QFETCH(int, shown);
        QByteArray text = R"({"tabs":)" + tabs;
        if (perTab)
            text += R"(,"buttonsPerTab":)" + QByteArray::number(perTab);
        text += "}";
        const QString path = writeFile(m_dir + "/ids.vx", text);
        const QJsonArray fileTabs = QJsonDocument::fromJson(tabs).array();
        mgr()->markDirty();
        QVERIFY(mgr()->loadSession(path));
        QCOMPARE(mgr()->renewedIdsOnLoad(), renewed);
        QList<QPoint> made; // tab and place of the buttons the file holds no id for
        checkLoadedButtons(fileTabs, kept, shown, &made);
        if (QTest::currentTestFailed())
            return;
        const Session first = mgr()->session();
        const QStringList ids = idsOf(first);
        if (fileTabs.isEmpty())
            QVERIFY2(isFreshId(first.tabs[0].id), qPrintable(first.tabs[0].id));
        // Only a save writes the new ids.
        QVERIFY(!mgr()->isDirty());
        QCOMPARE(readFile(path), text);

        // After another session, a new load of the file gives every tab and
        // button the id it had the first time.
        mgr()->newSession();
        QVERIFY(mgr()->loadSession(path));
        QCOMPARE(idsOf(mgr()->session()), ids);
        QCOMPARE(mgr()->renewedIdsOnLoad(), renewed);
        QVERIFY(!mgr()->isDirty());
        QCOMPARE(readFile(path), text);
        // Saved, the file holds them all and gives them back.
        QVERIFY(mgr()->saveSession(m_dir + "/ids-saved.vx"));
        mgr()->newSession();
        QCOMPARE(mgr()->renewedIdsOnLoad(), 0);
        QVERIFY(mgr()->loadSession(m_dir + "/ids-saved.vx"));
        QCOMPARE(idsOf(mgr()->session()), ids);
        QCOMPARE(mgr()->renewedIdsOnLoad(), 0);

        checkHeldIdsAreAvoided(text, first, made);
        checkOtherFilesShareNone(text, first, made);
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
