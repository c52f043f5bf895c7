// Auto-Mix on the real AudioEngine and the sound server's null sink: a
// playlist that mixes files the players cannot play with good short tracks.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <functional>
#include <thread>
#include <sys/mman.h>
#include <unistd.h>

#include "AudioEngine.h"
#include "EventLog.h"
#include "Modal.h"
#include "MusicItemDelegate.h"
#include "RoutingSupport.h"
#include "SettingsKeys.h"
#include "SoundServer.h"
#include "TermSignals.h"

using A = RoutingTestAccess;

namespace {

// How long mapping a page of memory waited at worst while it was watched,
// and how long a thread that sleeps 2 ms at a time was held past its wake-up.
// Mapping memory waits for the process's memory-map lock; a thread that holds
// it (unmapping a file, handing memory back) and is then held back by a busy
// machine holds every thread that starts a thread or maps memory meanwhile,
// for hundreds of milliseconds with every core busy. A machine with more
// work than cores holds any thread, the window's too, as long.
class MapLockWait
{
public:
    MapLockWait()
    {
        m_probe = std::thread([this] {
            while (!m_stop.load()) {
                const auto before = std::chrono::steady_clock::now();
                void* page = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
                if (page != MAP_FAILED)
                    ::munmap(page, 4096);
                const qint64 took = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - before)
                                        .count();
                m_worstMs.store(std::max(m_worstMs.load(), took));
                const auto asleep = std::chrono::steady_clock::now();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const qint64 late = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - asleep)
                                        .count()
                                    - 2;
                m_heldMs.store(std::max(m_heldMs.load(), late));
            }
        });
    }
    ~MapLockWait()
    {
        m_stop.store(true);
        m_probe.join();
    }
    qint64 worstMs() const { return m_worstMs.load(); }
    qint64 heldMs() const { return m_heldMs.load(); }

private:
    std::thread m_probe;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_worstMs{0};
    std::atomic<qint64> m_heldMs{0};
};

// The test's stopped sound server goes on again from a thread of its own
// (a window held by the server could not do it), whatever happens; one that
// was killed (pid 0) is not sent on.
struct Resume
{
    pid_t pid;
    std::thread later;
    std::atomic<bool> now{false};    // go on before the time
    std::atomic<bool> sent{false};
    ~Resume()
    {
        now.store(true);
        if (later.joinable())
            later.join();
        if (pid > 0)
            ::kill(pid, SIGCONT);
    }
};

// What a recording of a sink's monitor (44.1 kHz stereo s16) holds of a
// tone from a point on its clock: whether it was heard just before, how long
// it went on from there without a break, and how much of it was heard after
// that run first fell silent. Told in 5 ms windows, a window loud when a
// sample in it passes a tenth of the tones' level; or, given the tone's
// pitch, when that pitch alone does (other tones on the sink are not
// counted).
struct ToneAfter
{
    bool heardBefore = false;
    qint64 runMs = 0;
    qint64 laterMs = 0;
};

ToneAfter toneAfter(const QByteArray& pcm, qint64 fromMs, double hz = 0)
{
    constexpr qint64 kFrames = 220;   // 4.99 ms
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    const qint64 windows = pcm.size() / 4 / kFrames;
    const auto loud = [&](qint64 w) {
        if (hz > 0) {
            // The pitch's level in the window's left channel (Goertzel,
            // Hann-windowed: a tone of another pitch leaks nothing here).
            const double k = 2 * std::cos(2 * M_PI * hz / 44100);
            double s1 = 0, s2 = 0;
            for (qint64 i = 0; i < kFrames; ++i) {
                const double win = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(kFrames - 1));
                const double s0 = win * s[2 * (w * kFrames + i)] + k * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
            return 2 * std::sqrt(std::max(0.0, power)) / (kFrames / 2.0) > 800;
        }
        for (qint64 i = w * kFrames * 2; i < (w + 1) * kFrames * 2; ++i)
            if (std::abs(int(s[i])) > 800)
                return true;
        return false;
    };
    const qint64 first = fromMs * 44100 / 1000 / kFrames;
    ToneAfter t;
    for (qint64 w = std::max<qint64>(0, first - 20); w < std::min(first, windows); ++w)
        t.heardBefore = t.heardBefore || loud(w);
    qint64 w = first;
    for (; w < windows && loud(w); ++w)
        t.runMs += 5;
    for (; w < windows; ++w)
        t.laterMs += loud(w) ? 5 : 0;
    return t;
}

} // namespace
using RoutingTest::drainToasts;

class TestMusicEngine : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    QTemporaryDir tmp;
    // The files heard, in order, and the id last heard.
    QStringList started;
    QString lastHeard;
    bool termTaken = false;      // the termination signals are ours (see windowAnswersWhileTheServerStalls)
    bool closedByTerm = false;

    QString at(const QString& name) const { return tmp.path() + QLatin1Char('/') + name; }

    // A tone file as a show holds it: written an hour ago.
    bool writeTone(const QString& name, double seconds, double hz = 440)
    {
        if (!TestSupport::writeWav16(at(name), TestSupport::sine(hz, seconds, 2, 44100, 0.3), 2, 44100))
            return false;
        QFile f(at(name));
        return f.open(QIODevice::ReadWrite)
               && f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
    }

    // Makes the presses in turn, one every 100 ms, from the event loop, for
    // ms; the longest the event loop went without turning meanwhile (a
    // 20 ms tick's gaps on the steady clock), in ms.
    qint64 longestGapWhilePressing(const QList<std::function<void()>>& presses, int ms)
    {
        using Clock = std::chrono::steady_clock;
        Clock::time_point last = Clock::now();
        qint64 longest = 0;
        QTimer tick;
        tick.setInterval(20);
        connect(&tick, &QTimer::timeout, this, [&] {
            const Clock::time_point now = Clock::now();
            longest = std::max<qint64>(longest, std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
            last = now;
        });
        int next = 0;
        QTimer press;
        press.setInterval(100);
        connect(&press, &QTimer::timeout, this, [&] { presses[next++ % presses.size()](); });
        tick.start();
        press.start();
        QTest::qWait(ms);
        // A pause that ends the wait is not followed by a tick.
        return std::max<qint64>(
            longest, std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last).count());
    }

    void setRows(const QStringList& paths)
    {
        w->musicList->clear();
        for (const QString& p : paths) {
            auto* item = new QListWidgetItem(QFileInfo(p).fileName(), w->musicList);
            item->setData(Qt::UserRole, p);
            item->setData(MusicItemDelegate::kInPlaylistRole, true);
        }
    }

    // The stall rows' show: pads on every path (see the rows), Q to O, on
    // two tabs; the presses the rows make, in turn.
    // fadedStops: Restart off and a tab fade of 300 ms, so that a second
    // press is a faded stop.
    QList<std::function<void()>> loadStallShow(bool fadedStops = false)
    {
        const QString second = qEnvironmentVariable("TR_PULSE_OWN_SINK");
        struct Pad { const char* name; double seconds; bool loop; bool secondOutput; double fadeIn; int tab; };
        const Pad pads[] = {{"short.wav", 0.3, false, false, 0, 0}, {"click.wav", 0.06, false, true, 0, 0},
                            {"bed.wav", 2.0, true, false, 0, 0},    {"three.wav", 3.0, false, true, 0, 0},
                            {"long.wav", 35.0, false, false, 0, 0}, {"four.wav", 4.0, false, false, 0, 0},
                            {"rise.wav", 3.0, false, true, 0.2, 0}, {"swell.wav", 30.0, false, false, 0.2, 0},
                            {"other.wav", 3.0, false, true, 0, 1}};
        const int keys[] = {Qt::Key_Q, Qt::Key_W, Qt::Key_E, Qt::Key_R, Qt::Key_T,
                            Qt::Key_Y, Qt::Key_U, Qt::Key_I, Qt::Key_O};
        Session session;
        session.buttonsPerTab = 24;
        session.restart = !fadedStops;
        session.crossTabStop = true;
        TabData tabs[2];
        for (int t = 0; t < 2; ++t) {
            tabs[t].id = QStringLiteral("tab-stall-%1").arg(t);
            tabs[t].name = QStringLiteral("Stall %1").arg(t);
            tabs[t].fadeMs = fadedStops ? 300 : 100;
        }
        for (int i = 0; i < int(std::size(pads)); ++i) {
            const QString name = QString::fromLatin1(pads[i].name);
            if (!writeTone(name, pads[i].seconds)) {
                QTest::qFail("a tone file could not be written", __FILE__, __LINE__);
                return {};
            }
            ButtonData b = RoutingTest::button(QStringLiteral("stall-%1").arg(i), at(name));
            b.loop = pads[i].loop;
            b.fadeIn = pads[i].fadeIn;
            b.key = QKeySequence(keys[i]).toString();
            if (pads[i].secondOutput)
                b.outputDevice = second;
            tabs[pads[i].tab].buttons << b;
        }
        session.tabs << tabs[0] << tabs[1];
        RoutingTest::load(session);
        w->show();
        if (!QTest::qWaitForWindowExposed(w)) {
            QTest::qFail("the window was never shown", __FILE__, __LINE__);
            return {};
        }
        const auto key = [this](int k) { return [this, k] { QTest::keyClick(w->windowHandle(), Qt::Key(k)); }; };
        const auto master = [this](int percent) { return [this, percent] { w->onVolumeChanged(percent); }; };
        const auto tabVolume = [this](double v) { return [this, v] { w->onPanelVolumeChanged(0, v); }; };
        return {
            key(Qt::Key_Q), key(Qt::Key_U), key(Qt::Key_W),      key(Qt::Key_R),      key(Qt::Key_I),
            key(Qt::Key_T), key(Qt::Key_O), master(60),          key(Qt::Key_E),      key(Qt::Key_U),
            tabVolume(0.5), key(Qt::Key_I), key(Qt::Key_Space),  key(Qt::Key_Y),      key(Qt::Key_R),
            key(Qt::Key_U), master(85),     key(Qt::Key_O),      key(Qt::Key_Q),      tabVolume(1.0),
            key(Qt::Key_I), key(Qt::Key_Escape), key(Qt::Key_T), key(Qt::Key_W)};
    }

    // The 35 s pad (T, players on the shared sink) and the 3 s pad on the
    // second output (R) play, the server is stopped, pads are pressed in the
    // stall, and Panic Stop is pressed 1.5 s into it. With sharedOutput, a
    // tone of another pitch plays on the second output too, and goes on:
    // only T and R are stopped, each by itself. Both sinks are recorded, and
    // each sound is looked for on its sink's clock from where the stall
    // began. Once the server goes on it plays what it held of each (Qt's
    // players keep about 300 ms ahead of it), in pieces as its stream fills
    // to start again; nothing sent after that may be heard of a stopped
    // sound, and the sound not stopped plays on. Before, the players'
    // threads wrote on through the stall and after it until their stops
    // were made: up to 0.7 s was heard, and more while the window was busy.
    void stoppedSoundsStayStopped(pid_t server, bool sharedOutput)
    {
        AudioEngine* audio = AudioEngine::instance();
        w->onStopAll();
        QTRY_COMPARE_WITH_TIMEOUT(audio->playersHeldForServer(), 0, 10000);
        const QString second = qEnvironmentVariable("TR_PULSE_OWN_SINK");
        TestSupport::MonitorCapture shared, own;
        if (!shared.start() || !own.start(second + QStringLiteral(".monitor")))
            QSKIP("no monitor to record");
        // Each has played half a second, on its player's clock.
        QSet<QString> playing;
        QObject context;
        connect(audio, &AudioEngine::positionChanged, &context, [&playing](const QString& id, qint64 pos, qint64) {
            if (pos >= 500)
                playing.insert(id);
        });
        QTest::keyClick(w->windowHandle(), Qt::Key_T);
        QTest::keyClick(w->windowHandle(), Qt::Key_R);
        static constexpr double kKeptHz = 2000;
        if (sharedOutput) {
            QVERIFY(writeTone(QStringLiteral("kept.wav"), 12.0, kKeptHz));
            audio->play(RoutingTest::button(QStringLiteral("kept"), at(QStringLiteral("kept.wav"))), second);
        }
        // The tone plays into the rows after this one if a check ends it early.
        const auto stopKept = qScopeGuard([audio] { audio->stop(QStringLiteral("kept")); });
        QTRY_COMPARE_WITH_TIMEOUT(playing.size(), sharedOutput ? 3 : 2, 20000);
        // What has been recorded so far was mixed before the stall.
        static constexpr int kStallMs = 2000;
        const qint64 sharedAt = shared.sinkMs();
        const qint64 ownAt = own.sinkMs();
        Resume resume{server, {}};
        QCOMPARE(::kill(resume.pid, SIGSTOP), 0);
        resume.later = std::thread([pid = resume.pid] {
            std::this_thread::sleep_for(std::chrono::milliseconds(kStallMs));
            ::kill(pid, SIGCONT);
        });
        // The stall is known 50 to 100 ms after it begins. Pads pressed in
        // it make players that wait for the server too, and are let go with
        // the rest: once it answers, there is more to do than these two stops.
        QTest::qWait(200);
        for (int round = 0; round < 4 && !sharedOutput; ++round)
            for (const int key : {Qt::Key_Y, Qt::Key_U, Qt::Key_I})
                QTest::keyClick(w->windowHandle(), Qt::Key(key));
        QTest::qWait(1300);
        if (sharedOutput) {
            // Each pad's own stop, as its button asks for it: every engine
            // that may play it stops it.
            w->onStopRequested(QStringLiteral("stall-3"));
            w->onStopRequested(QStringLiteral("stall-4"));
        } else {
            QTest::keyClick(w->windowHandle(), Qt::Key_Escape);
        }
        // The window turns a few times before the server comes back.
        QTest::qWait(100);
        resume.later.join();
        // The window is busy as the server comes back: the players let go
        // are stopped only once it turns again, and must not be heard
        // meanwhile (without their streams hushed, this alone plays them
        // on for the whole of it).
        QThread::msleep(800);
        QTRY_COMPARE_WITH_TIMEOUT(audio->playersHeldForServer(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(audio->callsKeptForServer(), 0, 10000);
        QVERIFY(QTest::qWaitFor(
            [&] { return shared.mixedMs() > sharedAt + kStallMs + 1500 && own.mixedMs() > ownAt + kStallMs + 1500; },
            20000));
        const QByteArray sharedPcm = shared.stop(), ownPcm = own.stop();
        const ToneAfter bed = toneAfter(sharedPcm, sharedAt);
        const ToneAfter three = toneAfter(ownPcm, ownAt, sharedOutput ? 440 : 0);
        qInfo() << "from the stall on, the 35 s pad was heard" << bed.runMs << "ms on end and" << bed.laterMs
                << "ms after; the 3 s pad on the second output" << three.runMs << "ms and" << three.laterMs << "ms";
        QVERIFY(bed.heardBefore && three.heardBefore);
        // What the server held, with the monitor's latency (20 ms) and a
        // window on either side of a piece (5 ms each).
        static constexpr qint64 kHeldMs = 300 + 20 + 2 * 5;
        QCOMPARE_LE(bed.runMs + bed.laterMs, kHeldMs);
        QCOMPARE_LE(three.runMs + three.laterMs, kHeldMs);
        if (sharedOutput) {
            // The tone not stopped plays on once the server answers: what it
            // held, and at least a second more of the 1.5 s recorded since.
            const ToneAfter kept = toneAfter(ownPcm, ownAt, kKeptHz);
            qInfo() << "the tone not stopped was heard" << kept.runMs + kept.laterMs << "ms from the stall on";
            QVERIFY(kept.heardBefore);
            QCOMPARE_GE(kept.runMs + kept.laterMs, 1000);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        TestSupport::isolateSettings();
        w = new MainWindow;
        w->musicFadeCombo->setCurrentIndex(w->musicFadeCombo->findText(QStringLiteral("No fade")));
        // A track counts as heard once its position moves.
        connect(AudioEngine::instance(), &AudioEngine::positionChanged, this,
                [this](const QString& id, qint64 pos, qint64) {
                    if (pos <= 0 || id != A::musicId(w) || id == lastHeard)
                        return;
                    lastHeard = id;
                    started << QFileInfo(w->musicList->item(w->autoMixIndex)->data(Qt::UserRole).toString()).fileName();
                });
    }
    void cleanupTestCase()
    {
        AudioEngine::instance()->stopAll();
        delete w;
    }

    void goodTracksAmongBadOnes()
    {
        if (!AudioEngine::backendIsFfmpeg())
            QSKIP("the failure paths are the program's own back end's (FFmpeg)");
        const auto tone = TestSupport::sine(440, 1.0, 2, 44100);
        for (const char* name : {"good1.wav", "good2.wav", "good3.wav", "deleted.wav"})
            QVERIFY(TestSupport::writeWav16(at(QString::fromLatin1(name)), tone, 2, 44100));
        QFile(at(QStringLiteral("empty.mp3"))).open(QIODevice::WriteOnly);
        {
            QFile text(at(QStringLiteral("text.wav")));
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("this is not a sound file\n");
        }
        {
            // The first 40 bytes of a WAV file: a header whose data never comes.
            QFile good(at(QStringLiteral("good1.wav")));
            QVERIFY(good.open(QIODevice::ReadOnly));
            QFile cut(at(QStringLiteral("cut.wav")));
            QVERIFY(cut.open(QIODevice::WriteOnly));
            cut.write(good.read(40));
        }
        setRows({at(QStringLiteral("missing.mp3")), at(QStringLiteral("good1.wav")), at(QStringLiteral("empty.mp3")),
                 at(QStringLiteral("text.wav")), at(QStringLiteral("good2.wav")), at(QStringLiteral("cut.wav")),
                 at(QStringLiteral("deleted.wav")), at(QStringLiteral("good3.wav"))});
        QVERIFY(QFile::remove(at(QStringLiteral("deleted.wav"))));
        started.clear();
        drainToasts();
        w->autoMixBtn->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!w->autoMixBtn->isChecked(), 30000);
        QCOMPARE(started, (QStringList{"good1.wav", "good2.wav", "good3.wav"}));
        QCOMPARE(w->autoMixIndex, -1);
        QVERIFY(A::musicId(w).isEmpty());
    }

    // Two thousand files that cannot be played: Auto-Mix runs through them
    // from the event loop, one at a time, with one toast, and the loop keeps
    // turning meanwhile.
    void manyUnplayable()
    {
        if (!AudioEngine::backendIsFfmpeg())
            QSKIP("the failure paths are the program's own back end's (FFmpeg)");
        QStringList paths;
        for (int i = 0; i < 2000; ++i)
            paths << at(QStringLiteral("nothing/%1.mp3").arg(i));
        setRows(paths);
        drainToasts();
        // Cards live for seconds while the run goes on: each is noted as it
        // comes up.
        int ticks = 0;
        QSet<ToastWidget*> cards;
        QStringList shown;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            ++ticks;
            ToastManager::instance()->pump();
            ToastWidget* card = ToastManager::instance()->current();
            if (card && !cards.contains(card) && card->textLabel()) {
                cards.insert(card);
                shown << card->property("toastMsg").toString();
            }
        });
        tick.start(0);
        w->autoMixBtn->setChecked(true);
        // The switch returns at once: the failures come later.
        QVERIFY(w->autoMixBtn->isChecked() || w->autoMixIndex == -1);
        QTRY_VERIFY_WITH_TIMEOUT(!w->autoMixBtn->isChecked(), 60000);
        tick.stop();
        QVERIFY(ticks > 100);
        // The cards still up are read too; one the tick noted counts once.
        ToastManager::instance()->pump();
        if (ToastWidget* card = ToastManager::instance()->current(); card && cards.contains(card))
            delete card;
        shown << drainToasts();
        const QStringList toasts = shown.filter(QStringLiteral("Cannot play"));
        QVERIFY2(toasts.size() == 1, qPrintable(toasts.join(QLatin1String(" | "))));
        QVERIFY(toasts.first().contains(QLatin1String("\"0\"")));
    }

    // Auto-Mix twice over the same two files, with a pause between the
    // passes during which the engine holds them prepared. Each pass is timed
    // in sound mixed between the engine's reports (its first track's start
    // to its last track's stop): the second takes about as long as the
    // first, on either back end.
    void secondPassTakesAsLongAsTheFirst()
    {
        QVERIFY(TestSupport::writeWav16(at(QStringLiteral("pass1.wav")), TestSupport::sine(440, 1.09, 2, 44100), 2, 44100));
        QVERIFY(TestSupport::writeWav16(at(QStringLiteral("pass2.wav")), TestSupport::sine(550, 2.2, 2, 44100), 2, 44100));
        setRows({at(QStringLiteral("pass1.wav")), at(QStringLiteral("pass2.wav"))});
        // Timed on the sound server's clock, which a busy machine does not stretch.
        TestSupport::MonitorCapture clock;
        if (!clock.start())
            QSKIP("no monitor to record");
        qint64 firstStart = -1;
        qint64 lastStop = -1;
        QObject context;
        connect(AudioEngine::instance(), &AudioEngine::playStarted, &context, [&](const QString&) {
            if (firstStart < 0)
                firstStart = clock.mixedMs();
        });
        connect(AudioEngine::instance(), &AudioEngine::playStopped, &context, [&](const QString&) {
            lastStop = clock.mixedMs();
        });
        // The pass's span in ms, -1 when Auto-Mix did not end.
        auto pass = [&]() -> qint64 {
            firstStart = lastStop = -1;
            w->autoMixBtn->setChecked(true);
            if (!QTest::qWaitFor([&] { return !w->autoMixBtn->isChecked(); }, 40000))
                return -1;
            return lastStop - firstStart;
        };
        const qint64 first = pass();
        QVERIFY(AudioEngine::instance()->isBuffered(at(QStringLiteral("pass1.wav"))));
        QTest::qWait(4000);   // the prepared players wait, as between two passes
        const qint64 second = pass();
        qInfo() << "back end" << qgetenv("QT_MEDIA_BACKEND") << ": first pass" << first << "ms, second pass" << second
                << "ms, for 3.29 s of sound";
        QVERIFY(first > 0 && second > 0);
        // The fault adds the 4 s wait; half of it is the line.
        QVERIFY2(second < first + 2000, qPrintable(QStringLiteral("first %1 ms, second %2 ms").arg(first).arg(second)));
    }

    // The test's own sound server stops for a moment (SIGSTOP) while pads
    // are pressed on every path (pre-decoded, a stream of its own, players,
    // a second output, pads that fade in, a pad of another tab that fades
    // out the first tab's by the tab's fade) and the master and the tab's
    // volume are changed, and Stop All and Panic are pressed: the window
    // keeps answering. Its longest pause is held against the same presses
    // with the server answering, and against half the stall at most. A
    // SIGTERM in the stall closes the window as the program's own request
    // does, its engines shut down, while the server is still stopped (that
    // the process then ends in the stall, the start-up suite checks on the
    // program itself). Last
    // of all the server is killed while it is stopped: the program runs on
    // and reports the output lost (no player of the server may be made
    // again in this process, so this row comes last).
    void windowAnswersWhileTheServerStalls_data()
    {
        QTest::addColumn<bool>("killed");       // the stopped server is killed rather than let go on
        QTest::addColumn<bool>("terminated");   // SIGTERM closes the window while the server is stopped
        QTest::addColumn<bool>("listened");     // two sounds stopped in the stall are recorded instead
        QTest::addColumn<bool>("sharedOutput"); // and a sound on one's output plays on
        QTest::addColumn<bool>("midFade");      // it stops a few ms after presses that fade in and faded stops
        QTest::newRow("a stall of 2 s") << false << false << false << false << false;
        QTest::newRow("SIGTERM while the server is stopped") << false << true << false << false << false;
        QTest::newRow("sounds stopped in a stall stay stopped") << false << false << true << false << false;
        QTest::newRow("a sound stopped in a stall beside one that plays on") << false << false << true << true << false;
        QTest::newRow("a stall that begins while fades are under way") << false << false << false << false << true;
        QTest::newRow("the server killed in a stall begun mid-fade, then SIGTERM") << true << true << false << false
                                                                                   << true;
    }
    void windowAnswersWhileTheServerStalls()
    {
        QFETCH(bool, killed);
        QFETCH(bool, terminated);
        QFETCH(bool, listened);
        QFETCH(bool, sharedOutput);
        QFETCH(bool, midFade);
        const qint64 server = SoundServer::currentId();
        if (server <= 0)
            QSKIP("no sound server of this test's own");
        if (midFade && SettingsKeys::readBool(SettingsKeys::AudioPreload)) {
            // Nothing decoded ahead: every press goes to the players, as
            // with pre-loading off (this row and the last).
            QSettings().setValue(SettingsKeys::AudioPreload, false);
            delete w;
            w = new MainWindow;
            w->musicFadeCombo->setCurrentIndex(w->musicFadeCombo->findText(QStringLiteral("No fade")));
        }
        const QList<std::function<void()>> presses = loadStallShow(midFade);
        if (QTest::currentTestFailed())
            return;
        if (listened) {
            stoppedSoundsStayStopped(pid_t(server), sharedOutput);
            return;
        }
        // Every pad has played once, and pre-loads have had their time.
        longestGapWhilePressing(presses, 2000);
        const qint64 answering = longestGapWhilePressing(presses, 2000);

        // The server goes on again after the stall from a thread of its
        // own (a window held by the server could not do it), and whatever
        // happens below; a killed one is not sent on. Before a SIGTERM it
        // is held stopped much longer, and sent on as soon as the window
        // has closed: a close that waits on it ends only once it goes on,
        // where it would hang for good.
        static constexpr int kStallMs = 2000;
        // Pads on the players that fade in, long pads that have played a
        // while (their players keep the server's queue full) stopped again
        // by the tab's fade: the server stops a few ms later, while those
        // fades step. Three such stalls come first; the row's own stall
        // begins the same way.
        const auto fadesUnderWay = [this] {
            for (const int k : {Qt::Key_U, Qt::Key_R, Qt::Key_T, Qt::Key_O})
                QTest::keyClick(w->windowHandle(), Qt::Key(k));
            QTest::qWait(600);
            for (const int k : {Qt::Key_R, Qt::Key_T, Qt::Key_O, Qt::Key_U})
                QTest::keyClick(w->windowHandle(), Qt::Key(k));
            QTest::keyClick(w->windowHandle(), Qt::Key_U);
        };
        qint64 midFadeStalled = 0;
        for (int round = 0; midFade && round < 3; ++round) {
            fadesUnderWay();
            Resume early{pid_t(server), {}};
            QCOMPARE(::kill(early.pid, SIGSTOP), 0);
            early.later = std::thread([&early] {
                std::this_thread::sleep_for(std::chrono::milliseconds(kStallMs));
                ::kill(early.pid, SIGCONT);
                early.pid = 0;
            });
            midFadeStalled = std::max(midFadeStalled, longestGapWhilePressing(presses, kStallMs));
            early.later.join();
            longestGapWhilePressing(presses, 500);
        }
        if (midFade)
            fadesUnderWay();
        Resume resume{pid_t(server), {}};
        QCOMPARE(::kill(resume.pid, SIGSTOP), 0);
        if (!killed) {
            resume.later = std::thread([&resume, ms = terminated ? 5 * kStallMs : kStallMs] {
                const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
                while (!resume.now.load() && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                ::kill(resume.pid, SIGCONT);
                resume.sent.store(true);
            });
        }
        AudioEngine* audio = AudioEngine::instance();
        QSignalSpy lost(audio, &AudioEngine::outputLost);
        const MapLockWait mapLock;
        qint64 stalled = longestGapWhilePressing(presses, killed || terminated ? kStallMs * 3 / 4 : kStallMs);
        stalled = std::max(stalled, midFadeStalled);
        // Pads fading, others stopped, players held: the signal closes the
        // window as the program's request does, its question answered, and
        // the engines shut down, while the server is still stopped (or
        // dead). The window is hidden first, and the float engine's render
        // thread, held in the server's client library, is given up to 2 s
        // to end: the close is not held to the window's bound, only to the
        // stall.
        const auto closeOnSigterm = [&] {
            // The signals are taken once in a process: the first row that
            // sends one takes them for every row after it.
            if (!termTaken) {
                // The test goes on after each close: the next signal is a
                // request of its own, not one that insists.
                QVERIFY(TermSignals::install(this, [this](int) {
                    w->storeWindowStateNow();
                    closedByTerm = w->close();
                    return true;
                }));
                termTaken = true;
            }
            closedByTerm = false;
            Modal::setHandler([](const Modal::Request&) -> QVariant { return int(QMessageBox::Discard); });
            QCOMPARE(::kill(::getpid(), SIGTERM), 0);
            QTRY_VERIFY_WITH_TIMEOUT(closedByTerm || resume.sent.load(), 30000);
            Modal::setHandler(nullptr);
            QVERIFY(closedByTerm && !w->isVisible());
            QVERIFY2(!resume.sent.load(), "the window closed only once the server went on");
            resume.now.store(true);
        };
        if (terminated && !killed) {
            closeOnSigterm();
            if (QTest::currentTestFailed())
                return;
        }
        if (killed) {
            QCOMPARE(::kill(resume.pid, SIGKILL), 0);
            resume.pid = 0;
            // The program runs on (a crash ends the test here) and says the output is lost.
            stalled = std::max(stalled, longestGapWhilePressing(presses, kStallMs / 4));
            QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 10000);
            QVERIFY(audio->isServerGone() && audio->isOutputLost());
        }
        // What the stall held back comes right after it.
        const qint64 after = longestGapWhilePressing(terminated ? QList<std::function<void()>>{[] {}} : presses, 500);
        w->onStopAll();
        qInfo() << "longest pause of the window: answering" << answering << "ms, stalled" << stalled << "ms, after"
                << after << "ms; mapping a page waited up to" << mapLock.worstMs() << "ms, a thread was held up to"
                << mapLock.heldMs() << "ms";
        // A stall is known 50 to 100 ms after it begins; a busy machine adds
        // to every pause (up to 134 ms with every core busy). Qt's back end
        // starts a player's threads on the window's thread, and starting a
        // thread maps its stack: the window may wait as long as mapping
        // memory did, or as long as the machine held a thread. A window held
        // by the stall waits most of it out (1.2 s and more of 2 s): never
        // more than half of it is allowed. A machine that held a thread for
        // a quarter of the stall leaves nothing to tell the two apart: the
        // pause is then not judged (a quiet run judges it).
        const qint64 machine = std::max(mapLock.worstMs(), mapLock.heldMs());
        const qint64 allowed = std::min<qint64>(std::max<qint64>(250, 3 * answering) + machine, kStallMs / 2);
        if (machine < kStallMs / 4)
            QVERIFY2(std::max(stalled, after) <= allowed,
                     qPrintable(QStringLiteral("the window paused %1 ms in a stall of %2 ms (%3 ms without one)")
                                    .arg(std::max(stalled, after)).arg(kStallMs).arg(answering)));
        else
            qInfo() << "the machine held a thread" << machine << "ms: the window's pause is not judged";
        if (killed) {
            // Nothing more is asked of the dead server's players: presses
            // are refused, and nothing is queued to the players' thread.
            const int queued = audio->callsKeptForServer();
            longestGapWhilePressing(presses, 300);
            w->onStopAll();
            QCOMPARE(audio->callsKeptForServer(), queued);
            if (terminated)
                closeOnSigterm();
            return;
        }
        // The players let go meanwhile are stopped and destroyed, and what
        // was asked of them is made, once the server answers.
        QTRY_COMPARE_WITH_TIMEOUT(audio->playersHeldForServer(), 0, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(audio->callsKeptForServer(), 0, 10000);
        if (terminated) {
            // The rows after this one play in a window of their own.
            delete w;
            w = new MainWindow;
            w->musicFadeCombo->setCurrentIndex(w->musicFadeCombo->findText(QStringLiteral("No fade")));
        }
    }
};

QTEST_MAIN(TestMusicEngine)
#include "tst_music_engine.moc"
