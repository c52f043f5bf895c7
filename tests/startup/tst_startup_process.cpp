// Start-up end to end: the real program in a child process, headless, with a
// home of its own; what it did is read from the report it writes.
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QThread>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>

#include "SoundServer.h"
#include "StartupFixture.h"

using namespace StartupFixture;

namespace {

QStringList strings(const QJsonValue& v)
{
    QStringList out;
    for (const QJsonValue& x : v.toArray())
        out << x.toString();
    return out;
}

QStringList tabStrip(const Run& r)
{
    QStringList out;
    // Strip buttons carry a marker before the name ("● Tab 1").
    for (const QString& t : strings(r.report[QStringLiteral("window")][QStringLiteral("tabStrip")]))
        out << t.section(QLatin1Char(' '), 1);
    return out;
}

QJsonArray modal(const Run& r)
{
    return r.report[QStringLiteral("modal")].toArray();
}

bool autoSaveRunning(const Run& r)
{
    for (const QJsonValue& t : r.report[QStringLiteral("session")][QStringLiteral("timers")].toArray()) {
        if (t[QStringLiteral("active")].toBool() && t[QStringLiteral("intervalMs")].toInt() == 120000)
            return true;
    }
    return false;
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

// The test's own sound server, stopped (SIGSTOP) and sent on again from a
// thread of its own once let go, or once heldMs have passed, and whatever
// ends the test.
struct HeldServer
{
    pid_t pid = 0;
    std::atomic<bool> letGo{false};
    std::atomic<bool> sentOn{false};
    std::thread later;

    bool hold(pid_t server, int heldMs)
    {
        if (::kill(server, SIGSTOP) != 0)
            return false;
        pid = server;
        later = std::thread([this, heldMs] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(heldMs);
            while (!letGo.load() && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::kill(pid, SIGCONT);
            sentOn.store(true);
        });
        return true;
    }
    ~HeldServer()
    {
        letGo.store(true);
        if (later.joinable())
            later.join();
    }
};

} // namespace

class TestStartupProcess : public QObject
{
    Q_OBJECT
private slots:
    // A plain start: every step in order, the fixed names, a new session in
    // one pane (named in the title), autosave on by default, and the end
    // through the window list.
    void plainStart()
    {
        const Home home = makeHome();
        // Sound plays through FFmpeg even when the environment asks for GStreamer.
        const Run r = runProgram(home, {}, {{QStringLiteral("QT_MEDIA_BACKEND"), QStringLiteral("gstreamer")}});
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.exitCode, 0);

        QList<int> progress;
        QStringList texts;
        for (const QJsonValue& s : r.report[QStringLiteral("steps")].toArray()) {
            progress << s[QStringLiteral("progress")].toInt();
            texts << s[QStringLiteral("status")].toString();
        }
        QCOMPARE(progress, QList<int>({8, 20, 30, 38, 45, 62, 84, 93, 97, 99, 100}));
        QCOMPARE(texts.first(), QStringLiteral("Applying theme..."));
        QCOMPARE(texts.last(), QStringLiteral("Ready! Starting VX-Rododu..."));
        QCOMPARE(strings(r.report[QStringLiteral("startupLog")]),
                 QStringList({QStringLiteral("[Startup] Applying theme"),
                              QStringLiteral("[Startup] Starting AudioEngine"),
                              QStringLiteral("[Startup] Initializing DrumEngine (synchronous)"),
                              QStringLiteral("[Startup] Warming up audio playback backend"),
                              QStringLiteral("[Startup] Starting LibraryManager"),
                              QStringLiteral("[Startup] Starting MidiManager"),
                              QStringLiteral("[Startup] Building MainWindow"),
                              QStringLiteral("[Startup] Loading last session")}));

        QCOMPARE(r.report[QStringLiteral("applicationName")].toString(), QStringLiteral("Tarvello Rododu"));
        QCOMPARE(r.report[QStringLiteral("organizationName")].toString(), QStringLiteral("Tarvello"));
        QCOMPARE(r.report[QStringLiteral("version")].toString(), QStringLiteral("2.0.84"));
        QCOMPARE(r.report[QStringLiteral("style")].toString(), QStringLiteral("QFusionStyle"));
        QCOMPARE(r.report[QStringLiteral("quitOnLastWindowClosed")].toBool(), false);
        QCOMPARE(r.report[QStringLiteral("threadPoolMax")].toInt(), std::max(2, QThread::idealThreadCount()));
        QCOMPARE(r.report[QStringLiteral("appIconEmpty")].toBool(), false);
        QCOMPARE(r.report[QStringLiteral("mediaBackend")].toString(), QStringLiteral("ffmpeg"));

        const QJsonObject w = r.report[QStringLiteral("window")].toObject();
        QCOMPARE(w[QStringLiteral("title")].toString(), QStringLiteral("Tarvello Rododu — Untitled"));
        QVERIFY(w[QStringLiteral("visible")].toBool());
        QVERIFY(!w[QStringLiteral("iconEmpty")].toBool());
        QCOMPARE(tabStrip(r), QStringList{QStringLiteral("Tab 1")});
        QCOMPARE(w[QStringLiteral("visiblePanes")].toInt(), 1);
        QVERIFY(autoSaveRunning(r));
        QVERIFY(modal(r).isEmpty());
    }

    // The first existing file with the suffix "vx" or "json" (exact case) is
    // opened after the splash and heads the recent files; the title names the
    // session opened, from the command line or as the last one.
    void sessionFromCommandLine()
    {
        const Home home = makeHome();
        const QString dir = home.root + QStringLiteral("/sets");
        QDir().mkpath(dir);
        writeText(dir + QStringLiteral("/notes.txt"), "not a session");
        writeSession(dir + QStringLiteral("/SHOUT.VX"), {QStringLiteral("Upper")}, 24);
        writeSession(dir + QStringLiteral("/evening.json"), {QStringLiteral("News"), QStringLiteral("Ads"),
                                                            QStringLiteral("Beds")}, 24);
        writeSession(dir + QStringLiteral("/later.vx"), {QStringLiteral("Later")}, 24);
        writeSettings(home, {{QStringLiteral("recentFiles"), QStringList{dir + QStringLiteral("/later.vx")}}});

        const Run r = runProgram(home, {dir + QStringLiteral("/notes.txt"), dir + QStringLiteral("/missing.vx"),
                                        dir + QStringLiteral("/SHOUT.VX"), dir + QStringLiteral("/evening.json"),
                                        dir + QStringLiteral("/later.vx")});
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.exitCode, 0);
        const QString opened = dir + QStringLiteral("/evening.json");
        QCOMPARE(r.report[QStringLiteral("session")][QStringLiteral("filePath")].toString(), opened);
        QCOMPARE(strings(r.report[QStringLiteral("session")][QStringLiteral("tabs")]),
                 QStringList({QStringLiteral("News"), QStringLiteral("Ads"), QStringLiteral("Beds")}));
        QCOMPARE(tabStrip(r), QStringList({QStringLiteral("News"), QStringLiteral("Ads"), QStringLiteral("Beds")}));
        const QStringList recent = strings(r.report[QStringLiteral("recentFiles")]);
        QVERIFY(!recent.isEmpty());
        QCOMPARE(recent.first(), opened);
        QVERIFY(!recent.contains(dir + QStringLiteral("/SHOUT.VX")));
        QCOMPARE(r.report[QStringLiteral("session")][QStringLiteral("dirty")].toBool(), false);
        QCOMPARE(r.report[QStringLiteral("window")][QStringLiteral("title")].toString(),
                 QStringLiteral("Tarvello Rododu — evening"));

        // Named relative to the folder it starts in, the file is remembered by
        // where it is: a later start in another folder that holds a file of
        // the same relative name still opens the first one.
        Home elsewhere = home;
        elsewhere.workingDir = home.root + QStringLiteral("/elsewhere");
        QDir().mkpath(elsewhere.workingDir + QStringLiteral("/sets"));
        writeSession(elsewhere.workingDir + QStringLiteral("/sets/later.vx"), {QStringLiteral("Impostor")}, 24);
        const Run relative = runProgram(home, {QStringLiteral("sets/later.vx")});
        QVERIFY2(relative.finished, relative.errors.constData());
        const QString later = dir + QStringLiteral("/later.vx");
        QCOMPARE(relative.report[QStringLiteral("session")][QStringLiteral("filePath")].toString(), later);
        QCOMPARE(strings(relative.report[QStringLiteral("recentFiles")]).value(0), later);
        const Run again = runProgram(elsewhere, {});
        QVERIFY2(again.finished, again.errors.constData());
        QCOMPARE(again.report[QStringLiteral("session")][QStringLiteral("filePath")].toString(), later);
        QCOMPARE(tabStrip(again), QStringList{QStringLiteral("Later")});
        QCOMPARE(again.report[QStringLiteral("window")][QStringLiteral("title")].toString(),
                 QStringLiteral("Tarvello Rododu — later"));
        // A relative entry left by an older version is not reopened: it would
        // name the file of that name in whatever folder the program starts.
        writeSettings(home, {{QStringLiteral("recentFiles"), QStringList{QStringLiteral("sets/later.vx")}}});
        const Run stale = runProgram(elsewhere, {});
        QVERIFY2(stale.finished, stale.errors.constData());
        QCOMPARE(stale.report[QStringLiteral("session")][QStringLiteral("filePath")].toString(), QString());
        QCOMPARE(tabStrip(stale), QStringList{QStringLiteral("Tab 1")});
    }

    // A suffix in capitals is not taken: the window keeps the session it built.
    void upperCaseSuffixIgnored()
    {
        const Home home = makeHome();
        const QString path = home.root + QStringLiteral("/SHOW.VX");
        writeSession(path, {QStringLiteral("Shouting")}, 36);
        const Run r = runProgram(home, {path});
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.report[QStringLiteral("session")][QStringLiteral("filePath")].toString(), QString());
        QCOMPARE(tabStrip(r), QStringList{QStringLiteral("Tab 1")});
        QVERIFY(strings(r.report[QStringLiteral("recentFiles")]).isEmpty());
    }

    // A file that is not a session: the window says so and goes on with the
    // session it had; the program does not fall over.
    void brokenSessionFile()
    {
        const Home home = makeHome();
        const QString path = home.root + QStringLiteral("/broken.vx");
        writeText(path, "{ \"tabs\": [ {\"name\": \"half");
        const Run r = runProgram(home, {path});
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.exitCode, 0);
        const QJsonArray boxes = modal(r);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0][QStringLiteral("title")].toString(), QStringLiteral("Error"));
        QCOMPARE(boxes[0][QStringLiteral("text")].toString(), QStringLiteral("Failed to load session:\n") + path);
        QVERIFY(r.report[QStringLiteral("window")][QStringLiteral("visible")].toBool());
        QCOMPARE(tabStrip(r), QStringList{QStringLiteral("Tab 1")});
        QVERIFY(strings(r.report[QStringLiteral("recentFiles")]).isEmpty());
    }

    // The stored preset by its exact name; the user's accent survives the
    // theme step.
    void presetAndAccent_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("accent");
        QTest::addColumn<QString>("preset");
        QTest::newRow("navyorange") << "navyorange" << QString() << "navyorange";
        QTest::newRow("mixed case") << "DeepBlack" << QString() << "dark";
        QTest::newRow("accent kept") << "green" << "#00aaff" << "green";
    }
    void presetAndAccent()
    {
        QFETCH(QString, stored);
        QFETCH(QString, accent);
        QFETCH(QString, preset);
        const Home home = makeHome();
        QVariantMap settings{{QStringLiteral("appearance/preset"), stored}};
        if (!accent.isEmpty())
            settings.insert(QStringLiteral("appearance/accent"), accent);
        writeSettings(home, settings);
        const Run r = runProgram(home, {}, {}, 0);
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.report[QStringLiteral("preset")].toString(), preset);
        if (!accent.isEmpty())
            QCOMPARE(r.report[QStringLiteral("accent")].toString(), accent);
    }

    void autoSaveSetting()
    {
        const Home home = makeHome();
        writeSettings(home, {{QStringLiteral("session/autoSave"), false}});
        const Run off = runProgram(home, {}, {}, 0);
        QVERIFY2(off.finished, off.errors.constData());
        QVERIFY(off.report.contains(QStringLiteral("session")));
        QVERIFY(!autoSaveRunning(off));

        writeSettings(home, {{QStringLiteral("session/autoSave"), true}});
        const Run on = runProgram(home, {}, {}, 0);
        QVERIFY(autoSaveRunning(on));
    }

    // The pre-decoded engine is up from the window's construction, so start-up
    // waits for the active tab's sounds before it shows the window. The
    // wait's clock stands still here: its 6 s bound is a matter of the clock
    // (tst_startup_parts drives it), not of how fast this machine decodes;
    // so a sound the wait never counted as done would hold the start for good.
    void waitsForDecodedSounds_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("missing"); // files of the session that do not exist, of 4
        QTest::addColumn<QString>("logged");
        QTest::addColumn<bool>("predecodeOff"); // the benchmarks' switch: no engine, no wait
        QTest::newRow("all decode") << 24 << 0 << "[Startup] Pre-buffer wait done: 24/24 ready" << false;
        QTest::newRow("36 missing files") << 36 << 4 << "[Startup] Pre-buffer wait done: 0/36 ready" << false;
        QTest::newRow("some missing") << 24 << 2 << "[Startup] Pre-buffer wait done: 12/24 ready" << false;
        QTest::newRow("pre-decoding switched off") << 24 << 0 << "" << true;
    }
    void waitsForDecodedSounds()
    {
        QFETCH(int, buttons);
        QFETCH(int, missing);
        QFETCH(QString, logged);
        QFETCH(bool, predecodeOff);
        const Home home = makeHome();
        QStringList wavs = makeWavs(home.root + QStringLiteral("/audio"), 4, 0.3);
        for (int i = 0; i < missing; ++i)
            QVERIFY(QFile::remove(wavs[i]));
        const QString set = home.root + QStringLiteral("/set.vx");
        writeSession(set, {QStringLiteral("One"), QStringLiteral("Two")}, buttons, wavs);
        writeSettings(home, {{QStringLiteral("recentFiles"), QStringList{set}}});
        QHash<QString, QString> env{{QStringLiteral("TR_STARTUP_WAIT_CLOCK"), QStringLiteral("frozen")}};
        if (predecodeOff)
            env.insert(QStringLiteral("TR_NO_PREDECODE"), QStringLiteral("1"));
        const Run r = runProgram(home, {}, env, 0);
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.report[QStringLiteral("dsInitialized")].toBool(), !predecodeOff);
        const QStringList log = strings(r.report[QStringLiteral("startupLog")]);
        if (predecodeOff)
            QVERIFY(!log.join(QLatin1Char('\n')).contains(QLatin1String("Pre-buffer wait")));
        else
            QVERIFY2(log.contains(logged), qPrintable(log.join(QLatin1Char('\n'))));
        for (const QJsonValue& s : r.report[QStringLiteral("steps")].toArray()) {
            const QString text = s[QStringLiteral("status")].toString();
            if (text.startsWith(QLatin1String("Preparing sounds...")))
                QCOMPARE(s[QStringLiteral("progress")].toInt(), 93);
        }
    }

    // A termination signal to a program holding unsaved work closes its
    // window the normal way: the window state is stored, the unsaved-changes
    // question is asked and the program ends with 0. A refused close keeps it
    // running for the next signal. While the question is open a signal of
    // another kind joins the request (a logout sends SIGTERM and SIGHUP back
    // to back); the same kind again ends the program at once, the window
    // state already stored.
    void terminationSignalClosesTheWindow_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("atOnce");   // no wait for the question between the signals
        QTest::addColumn<QString>("answers");
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QStringList>("questions");
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("serverStopped");   // the sound server is stopped (SIGSTOP) before the signal
        const QString exitQuestion = QStringLiteral("Save Before Exit");
        QTest::newRow("SIGTERM, new session") << QList<int>{SIGTERM} << false << "discard" << false
                                              << QStringList{exitQuestion} << true << false;
        QTest::newRow("SIGHUP, new session") << QList<int>{SIGHUP} << false << "discard" << false
                                             << QStringList{exitQuestion} << true << false;
        QTest::newRow("SIGINT, new session") << QList<int>{SIGINT} << false << "discard" << false
                                             << QStringList{exitQuestion} << true << false;
        QTest::newRow("SIGTERM, saved session") << QList<int>{SIGTERM} << false << "discard" << true
                                                << QStringList{QStringLiteral("Unsaved Changes")} << true << false;
        QTest::newRow("cancelled, then SIGHUP") << QList<int>{SIGTERM, SIGHUP} << false << "cancel,discard" << false
                                                << QStringList{exitQuestion, exitQuestion} << true << false;
        QTest::newRow("logout: SIGTERM and SIGHUP at once")
            << QList<int>{SIGTERM, SIGHUP} << true << "discard" << false << QStringList{exitQuestion} << true << false;
        QTest::newRow("SIGHUP while asked, then answered")
            << QList<int>{SIGTERM, SIGHUP} << false << "release" << false << QStringList{exitQuestion} << true << false;
        QTest::newRow("SIGTERM while asked after SIGINT")
            << QList<int>{SIGINT, SIGTERM} << false << "release" << false << QStringList{exitQuestion} << true << false;
        QTest::newRow("second SIGTERM while asked") << QList<int>{SIGTERM, SIGTERM} << false << "hold" << false
                                                    << QStringList{exitQuestion} << false << false;
        QTest::newRow("second SIGINT while asked") << QList<int>{SIGINT, SIGINT} << false << "hold" << false
                                                   << QStringList{exitQuestion} << false << false;
        // The program plays through the sound server, which stops answering
        // before the signal: the window closes, the session question
        // answered, and the process ends, while the server is still stopped.
        QTest::newRow("SIGTERM while the server is stopped") << QList<int>{SIGTERM} << false << "discard" << false
                                                             << QStringList{exitQuestion} << true << true;
    }
    void terminationSignalClosesTheWindow()
    {
        QFETCH(QList<int>, sent);
        QFETCH(bool, atOnce);
        QFETCH(QString, answers);
        QFETCH(bool, withFile);
        QFETCH(QStringList, questions);
        QFETCH(bool, closed);
        QFETCH(bool, serverStopped);
        const qint64 server = serverStopped ? SoundServer::currentId() : 0;
        if (serverStopped && server <= 0)
            QSKIP("no sound server of this test's own");
        const Home home = makeHome();
        QStringList args;
        if (withFile) {
            args << home.root + QStringLiteral("/show.vx");
            writeSession(args.first(), {QStringLiteral("Show")}, 24);
        }
        QHash<QString, QString> env{{QStringLiteral("TR_STARTUP_REPORT_KEEP_OPEN"), QStringLiteral("1")},
                                    {QStringLiteral("TR_STARTUP_REPORT_ANSWERS"), answers}};
        if (serverStopped)
            env.insert(QStringLiteral("TR_AUDIO_OUTPUT"), QStringLiteral("alsa"));
        // Held stopped far longer than an exit may take: a process that
        // ends only once the server goes on waited on it.
        static constexpr int kHeldMs = 40000;
        HeldServer held;
        const auto questionsAsked = [](const QString& reportFile) {
            QFile f(reportFile);
            if (!f.open(QIODevice::ReadOnly))
                return -1;
            return int(QJsonDocument::fromJson(f.readAll())[QStringLiteral("modal")].toArray().size());
        };
        const Run r = runProgram(home, args, env, 300, [&](qint64 pid, const QString& reportFile) {
            // The window is up (and holds its unsaved change) once the first
            // report is there; each signal but the last waits for its answer.
            QTRY_VERIFY_WITH_TIMEOUT(questionsAsked(reportFile) == 0, 60000);
            if (serverStopped) {
                // The pre-decoded engine's stream is open on the server.
                QFile report(reportFile);
                QVERIFY(report.open(QIODevice::ReadOnly));
                QVERIFY(QJsonDocument::fromJson(report.readAll())[QStringLiteral("dsInitialized")].toBool());
                QVERIFY(held.hold(pid_t(server), kHeldMs));
            }
            for (int i = 0; i < sent.size(); ++i) {
                QCOMPARE(::kill(pid_t(pid), sent[i]), 0);
                if (i + 1 < sent.size() && !atOnce)
                    QTRY_VERIFY_WITH_TIMEOUT(questionsAsked(reportFile) == i + 1, 60000);
            }
            // The user comes back to a question held open and answers it.
            QFile release(reportFile + QStringLiteral(".release"));
            QVERIFY(release.open(QIODevice::WriteOnly));
        });
        const bool endedInTheStall = !held.sentOn.load();
        held.letGo.store(true);
        QVERIFY2(r.finished, r.errors.constData());
        if (serverStopped)
            QVERIFY2(endedInTheStall, "the process ended only once the sound server went on");
        QSettings stored(home.settingsFile(), QSettings::IniFormat);
        for (const char* key : {"window/geometry", "window/state", "window/splitter", "appearance/preset"})
            QVERIFY2(stored.contains(QLatin1String(key)), key);
        if (!closed) {
            QCOMPARE(r.exitCode, -1);   // ended by the signal
            return;
        }
        QCOMPARE(r.exitCode, 0);
        QStringList asked;
        for (const QJsonValue& m : modal(r))
            asked << m[QStringLiteral("title")].toString();
        QCOMPARE(asked, questions);
        // Nothing was saved: the answer was Discard.
        QVERIFY(r.report[QStringLiteral("session")][QStringLiteral("dirty")].toBool());
    }

    // An exception during the steps: the crash box, the report file, exit 1,
    // and no main window.
    void exceptionDuringStartup_data()
    {
        QTest::addColumn<bool>("unknown");
        QTest::newRow("standard") << false;
        QTest::newRow("other") << true;
    }
    void exceptionDuringStartup()
    {
        QFETCH(bool, unknown);
        const Home home = makeHome();
        QHash<QString, QString> env{{QStringLiteral("TR_STARTUP_THROW_AT"), QStringLiteral("84")}};
        if (unknown)
            env.insert(QStringLiteral("TR_STARTUP_THROW_UNKNOWN"), QStringLiteral("1"));
        const Run r = runProgram(home, {}, env, 0);
        QVERIFY2(r.finished, r.errors.constData());
        QCOMPARE(r.exitCode, 1);
        QVERIFY(!r.report.contains(QStringLiteral("window")));
        const QJsonArray boxes = modal(r);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0][QStringLiteral("title")].toString(), QStringLiteral("Tarvello Crash"));
        QFile crash(home.crashReportFile());
        if (unknown) {
            QCOMPARE(boxes[0][QStringLiteral("text")].toString(), QStringLiteral("Unknown exception during startup."));
            QVERIFY(!crash.exists());
        } else {
            QCOMPARE(boxes[0][QStringLiteral("text")].toString(),
                     QStringLiteral("C++ Exception:\n\nstep 84 failed on purpose"));
            QVERIFY(crash.open(QIODevice::ReadOnly));
            QCOMPARE(crash.readAll(), QByteArray("C++ Exception: step 84 failed on purpose"));
        }
    }
};

QTEST_GUILESS_MAIN(TestStartupProcess)
#include "tst_startup_process.moc"
