// The engine's rules, driven by hand: the tests emit a slot's own player
// signals and fire its fade timers themselves; scheduled work is recorded and
// run on demand. Nothing here waits for real time.
#include "MediaPlayer.h"
#include <QAudioOutput>
#include <QFile>
#include <QMediaDevices>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>
#include <mutex>
#include <thread>

#include <QPointer>
#include <QScopeGuard>
#include <QSemaphore>
#include <atomic>
#include <dlfcn.h>
#include <pthread.h>

#include "AudioEngine.h"
#include "AudioEngineUtil.h"
#include "FileCheck.h"
#include "FileHeads.h"
#include "KnownFiles.h"
#include "LoopStream.h"
#include "LoopStreamWaits.h"
#include "ManualOutput.h"
#include "MonoClock.h"
#include "SafeWrite.h"
#include "TestSupport.h"
#include "WaveformDecoder.h"

// Every thread of this process is started through here (the program's own
// definition comes before the C library's): those the test's main thread,
// the window's, starts are counted.
namespace {
std::atomic<int> g_startsOnMain{0};
const pthread_t g_main = pthread_self();
} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*body)(void*), void* arg)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (pthread_equal(pthread_self(), g_main))
        ++g_startsOnMain;
    return real(thread, attr, body, arg);
}

namespace {

struct Scheduled
{
    int ms;
    std::function<void()> work;
};

// An engine with every signal recorded and its deferred work held back.
struct Rig
{
    AudioEngine e;
    QList<Scheduled> scheduled;
    QSignalSpy started{&e, &AudioEngine::playStarted};
    QSignalSpy stopped{&e, &AudioEngine::playStopped};
    QSignalSpy all{&e, &AudioEngine::allStopped};
    QSignalSpy positions{&e, &AudioEngine::positionChanged};
    QSignalSpy errors{&e, &AudioEngine::playbackError};

    Rig()
    {
        e.setScheduler([this](int ms, std::function<void()> w) { scheduled.append({ms, std::move(w)}); });
        // The players' own loop, which a loop falls back to when it has no stream.
        e.setLoopStreams(false);
        // The test's server answers: a busy machine's late greeting would
        // send a restart through a fresh start, which reports a start again.
        e.setServerAnsweringSource([] { return true; });
    }
    void runScheduled()
    {
        const QList<Scheduled> now = scheduled;
        scheduled.clear();
        for (const Scheduled& s : now)
            s.work();
    }
    PlaybackSlot* slot(const QString& id) { return e.slotFor(id); }
    MediaPlayer* player(const QString& id) { return e.slotFor(id) ? e.slotFor(id)->player : nullptr; }
    double out(const QString& id) { return e.slotFor(id)->output->volume(); }
    void playing(const QString& id) { emit player(id)->playbackStateChanged(QMediaPlayer::PlayingState); }
    void ended(const QString& id) { emit player(id)->playbackStateChanged(QMediaPlayer::StoppedState); }
    void at(const QString& id, qint64 ms) { emit player(id)->positionChanged(ms); }
    // From here the id's player pauses as soon as it plays: only the reports
    // sent by hand reach the engine, whatever the machine's pace.
    void holdReports(const QString& id)
    {
        MediaPlayer* p = player(id);
        QObject::connect(p, &MediaPlayer::playbackStateChanged, p, [p](QMediaPlayer::PlaybackState st) {
            if (st == QMediaPlayer::PlayingState)
                p->pause();
        });
    }
    // From here the id's player reports no position at all, as a back end
    // that never starts playing.
    void muteReports(const QString& id)
    {
        holdReports(id);
        QObject::disconnect(player(id), &MediaPlayer::positionChanged, &e, nullptr);
    }
};

// Fires a fade timer n times by hand (the timer itself is stopped first so
// that it can never tick on its own).
void fire(QTimer* t, int n = 1)
{
    QVERIFY(t);
    t->stop();
    for (int i = 0; i < n; ++i)
        QVERIFY(QMetaObject::invokeMethod(t, "timeout", Qt::DirectConnection));
}

ButtonData button(const QString& id, const QString& path)
{
    ButtonData b;
    b.id = id;
    b.audioPath = path;
    return b;
}

constexpr double kTol = 1e-4;


// The file's header is read ahead, off this thread, as the program does for
// a session's files and a button's new file long before a press.
void headsRead(const QString& path)
{
    KnownFiles::instance()->lookNow(path);
    FileHeads::instance()->readAhead({path});
    QTRY_VERIFY_WITH_TIMEOUT(!FileHeads::instance()->busy(), 30000);
}

void writtenLongAgo(const QString& path)
{
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-60), QFileDevice::FileModificationTime));
    }
    headsRead(path);
}

// An output other than the default one, when the sound server lists one.
QAudioDevice secondOutput()
{
    for (const QAudioDevice& d : QMediaDevices::audioOutputs())
        if (d != QMediaDevices::defaultAudioOutput())
            return d;
    return {};
}

} // namespace

class TstAudioEngine : public QObject
{
    Q_OBJECT

    QString m_tone;   // 5 s of 440 Hz, mono, 8 kHz
    QString m_click;  // 100 ms of it
    QString m_silence; // 5 s of silence, mono, 8 kHz

private slots:
    void initTestCase()
    {
        // Some cases make the players really play; Qt 6.4's ffmpeg back end
        // crashes when it plays without any output device.
        if (QMediaDevices::audioOutputs().isEmpty())
            QSKIP("no audio output: run under scripts/test or scripts/sound-server");
        m_tone = TestSupport::tempDir() + "/tone5s.wav";
        QVERIFY(TestSupport::writeWav16(m_tone, TestSupport::sine(440, 5.0, 1, 8000), 1, 8000));
        writtenLongAgo(m_tone);   // as a button's file usually is (its date changes nothing)
        m_click = TestSupport::tempDir() + "/click100ms.wav";
        QVERIFY(TestSupport::writeWav16(m_click, TestSupport::sine(440, 0.1, 1, 8000), 1, 8000));
        writtenLongAgo(m_click);
        // For players on the second output: the playback test records that
        // sink alone, and runs beside this one.
        m_silence = TestSupport::tempDir() + "/silence5s.wav";
        QVERIFY(TestSupport::writeWav16(m_silence, QVector<qint16>(5 * 8000, 0), 1, 8000));
        writtenLongAgo(m_silence);
    }

    void fadeInSteps_data()
    {
        QTest::addColumn<double>("fadeIn");
        QTest::addColumn<int>("steps");   // 0: no fade
        QTest::addColumn<int>("stallMs");  // pressed while the sound server does not answer, for so long
        QTest::newRow("10 ms is none") << 0.010 << 0 << 0;
        QTest::newRow("11 ms one step") << 0.011 << 1 << 0;
        QTest::newRow("31 ms one step") << 0.031 << 1 << 0;
        QTest::newRow("32 ms two steps") << 0.032 << 2 << 0;
        QTest::newRow("100 ms six steps") << 0.100 << 6 << 0;
        QTest::newRow("100 ms pressed in a 2 s stall: the same six steps after it") << 0.100 << 6 << 2000;
    }
    void fadeInSteps()
    {
        QFETCH(double, fadeIn);
        QFETCH(int, steps);
        QFETCH(int, stallMs);
        ScopedFakeClock clock;
        Rig r;
        bool answering = stallMs == 0;
        r.e.setServerAnsweringSource([&answering] { return answering; });
        ButtonData b = button("a", m_tone);
        b.fadeIn = fadeIn;
        r.e.play(b, QString());
        r.playing("a");
        PlaybackSlot* s = r.slot("a");
        if (steps == 0) {
            QVERIFY(!s->fadeInTimer);
            QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
            return;
        }
        QVERIFY(s->fadeInTimer);
        QCOMPARE(s->fadeInTimer->interval(), 16);
        // Nothing is heard while the server stalls: the fade waits for it,
        // silent, and starts from silence once it answers.
        for (int held = 0; held < stallMs; held += 16) {
            clock.advanceMs(16);
            fire(s->fadeInTimer);
            QCOMPARE_LE(r.out("a"), AudioEngine::kFadeInFloor + kTol);
        }
        answering = true;
        fire(s->fadeInTimer);
        // Silent until the sound's first samples are heard: the back end
        // writes them into an empty output, heard as soon as written (no
        // report has come yet); then a step every 16 ms.
        QCOMPARE_LE(r.out("a"), AudioEngine::kFadeInFloor + kTol);
        const qint64 firstWrite = r.e.startDelayMs();
        QVERIFY2(firstWrite > 16, "the first write must come after the start");
        clock.advanceMs(firstWrite);
        fire(s->fadeInTimer);
        QCOMPARE_LE(r.out("a"), AudioEngine::kFadeInFloor + kTol);
        for (int k = 1; k < steps; ++k) {
            clock.advanceMs(16);
            fire(s->fadeInTimer);
            QVERIFY(s->fadeInTimer);
            QCOMPARE_LE(qAbs(r.out("a") - 0.85 * k / steps), kTol);
        }
        clock.advanceMs(16);
        fire(s->fadeInTimer);
        QVERIFY(!s->fadeInTimer);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
    }

    // The fade-in follows the sound as the reports place it: a start heard
    // later than guessed holds the ramp back.
    void fadeInFollowsTheReports()
    {
        ScopedFakeClock clock;
        Rig r;
        ButtonData b = button("a", m_tone);
        b.fadeIn = 0.16;   // ten steps
        r.e.play(b, QString());
        r.playing("a");
        PlaybackSlot* s = r.slot("a");
        QVERIFY(s->fadeInTimer);
        const int reportLead = r.e.timing().reportLeadMs;
        const int volumeLead = r.e.timing().volumeLeadMs;
        // 300 ms on, the sound is reported 50 ms in (heard 50 - reportLead
        // ms in): the next step is set for where the writes have got to.
        clock.advanceMs(300);
        r.at("a", 50);
        fire(s->fadeInTimer);
        const double heardMs = 50 - reportLead + volumeLead;   // what a change made now reaches
        QCOMPARE_LE(qAbs(r.out("a") - 0.85 * std::floor(heardMs / 16) / 10), kTol);
        // The next start's guess is learnt once the reports move with the clock.
        QCOMPARE(r.e.startDelayMs(), qint64(AudioEngine::kFirstStartDelayMs));
        clock.advanceMs(100);
        r.at("a", 150);
        QCOMPARE(r.e.startDelayMs(), qint64(300 - (50 - reportLead)));
    }

    // A fade-in ends at its steps or at the output's own limit, and later
    // volume changes are not overwritten by a fade that never ended.
    void fadeInEnds()
    {
        ScopedFakeClock clock;
        Rig r;
        ButtonData b = button("a", m_tone);
        b.fadeIn = 0.1;
        b.volume = 2.0;   // 1.7 with the master at 0.85: the output tops out at 1
        r.e.play(b, QString());
        r.playing("a");
        PlaybackSlot* s = r.slot("a");
        QTimer* t = s->fadeInTimer;
        // Three of six steps in: half of 1.7.
        clock.advanceMs(r.e.startDelayMs() + 3 * 16);
        fire(t);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
        clock.advanceMs(16);
        fire(t);
        QVERIFY(!s->fadeInTimer);
        QCOMPARE_LE(qAbs(r.out("a") - 1.0), kTol);

        ButtonData c = button("c", m_tone);
        c.fadeIn = 0.1;
        c.volume = 0.7;
        r.e.play(c, QString());
        r.playing("c");
        clock.advanceMs(r.e.startDelayMs() + 6 * 16);
        fire(r.slot("c")->fadeInTimer);
        QVERIFY(!r.slot("c")->fadeInTimer);
        r.e.setGlobalVolume(0.5);
        QCOMPARE_LE(qAbs(r.out("c") - 0.35), kTol);
        r.e.setButtonVolume("c", 0.2);
        QCOMPARE_LE(qAbs(r.out("c") - 0.1), kTol);
    }

    void stopWithoutAndWithFade()
    {
        ScopedFakeClock clock;
        Rig r;
        r.e.play(button("a", m_tone), QString());
        r.e.stop("a");
        QCOMPARE(r.stopped.count(), 1);
        QCOMPARE(r.all.count(), 1);
        QVERIFY(!r.slot("a"));

        r.e.play(button("b", m_tone), QString());
        r.e.play(button("x", m_tone), QString());
        r.player("b")->play();   // really playing: its stop() reports a state change
        QTRY_VERIFY(r.slot("b")->startCalledAtMs > 0);
        clock.advanceMs(200);
        r.at("b", 100);   // under way: a level set now is heard a volume lead later
        r.e.setButtonFade("b", 100);
        r.stopped.clear();
        r.all.clear();
        // The fall is heard from a volume lead after the press and runs the
        // fade's length from there; each step sets what is due where its
        // hold ends, never above the ramp.
        const auto due = [](qint64 sincePress) {
            return 0.85 * std::max(0.0, 1.0 - double(sincePress + AudioEngine::kStepHoldMs) / 100);
        };
        r.e.stop("b");
        QCOMPARE_LE(qAbs(r.out("b") - due(0)), kTol);
        QTimer* t = r.e.stopFadeTimer("b");
        QVERIFY(t);
        QCOMPARE(t->interval(), 16);
        r.e.stop("b");   // again while fading: the running fade ends it
        QCOMPARE(r.e.stopFadeTimer("b"), t);
        clock.advanceMs(48);
        fire(t);
        QCOMPARE_LE(qAbs(r.out("b") - due(48)), kTol);
        const double before = r.out("b");
        r.e.setButtonVolume("b", 2.0);   // a louder button must not lift the fade
        QCOMPARE_LE(r.out("b"), before + kTol);
        r.e.setButtonVolume("b", 1.0);
        // Past the ramp's end at its hold's end, a faint tail until the
        // ramp as heard is there too; then nothing.
        clock.advanceMs(32);
        fire(t);
        QCOMPARE_LE(qAbs(r.out("b") - 0.85 * AudioEngineUtil::kFadeTailLevel), kTol);
        clock.advanceMs(20);
        fire(t);
        QCOMPARE_LE(r.out("b"), kTol);
        // Let go once that silence has been heard: a volume lead and a step on.
        clock.advanceMs(r.e.timing().volumeLeadMs);
        fire(t);
        QVERIFY(r.e.isPlaying("b"));
        QCOMPARE(r.stopped.count(), 0);
        clock.advanceMs(AudioEngine::kFadeTickMs);
        fire(t);
        QVERIFY(!r.slot("b"));
        QVERIFY(!r.e.stopFadeTimer("b"));
        QCOMPARE(r.stopped.count(), 1);
        QCOMPARE(r.stopped.at(0).at(0).toString(), QString("b"));
        QCOMPARE(r.all.count(), 0);   // "x" still holds a slot

        // A short sound on a stream of its own falls on the stream itself,
        // from the frame heard at the press (its level stays), and goes once
        // the stream has been heard silent; its replay during the fade ends
        // the faded one at once.
        r.e.stop("x");   // the event loop runs below: its sound would end
        r.stopped.clear();
        r.e.setLoopStreams(true);
        ButtonData c = button("c", m_tone);
        c.trimStart = 1.0;
        c.trimEnd = 1.2;
        r.e.play(c, QString());
        QVERIFY(r.slot("c")->stream);
        r.e.setButtonFade("c", 100);
        r.e.stop("c");
        QPointer<QTimer> ct = r.e.stopFadeTimer("c");
        QVERIFY(ct);
        fire(ct, 3);
        QCOMPARE_LE(qAbs(r.slot("c")->stream->level() - 0.85), kTol);
        QVERIFY(r.slot("c") && !r.slot("c")->stream->stopFadeHeard());
        // Heard out on its own thread (or ended before that, as a 200 ms
        // sound may on a busy machine).
        QTRY_VERIFY_WITH_TIMEOUT(!r.slot("c") || r.slot("c")->stream->stopFadeHeard(), 10000);
        if (r.slot("c"))
            fire(ct);
        QVERIFY(!r.slot("c"));
        QCOMPARE(r.stopped.count(), 1);
        r.e.play(c, QString());
        r.e.setButtonFade("c", 100);
        r.e.stop("c");
        r.e.play(c, QString());
        QVERIFY(!r.e.stopFadeTimer("c"));
        QCOMPARE(r.stopped.count(), 2);
        QCOMPARE_LE(qAbs(r.slot("c")->stream->level() - 0.85), kTol);
    }

    // Whatever ends a fading slot first, it reports its stop once.
    void fadingSlotEndsOnce()
    {
        Rig r;
        ButtonData b = button("a", m_tone);
        b.trimEnd = 3.5;
        r.e.play(b, QString());
        r.e.setButtonFade("a", 200);
        r.e.stop("a");
        r.ended("a");   // ran out while fading
        QCOMPARE(r.stopped.count(), 1);
        QVERIFY(!r.slot("a"));
        QVERIFY(!r.e.stopFadeTimer("a"));

        r.e.play(b, QString());
        r.e.setButtonFade("a", 200);
        r.e.stop("a");
        r.at("a", 3600);   // reached trim-out while fading
        QCOMPARE(r.stopped.count(), 2);
        QVERIFY(!r.e.stopFadeTimer("a"));
        QCOMPARE(r.all.count(), 2);
    }

    void cancelFadeThenPlayRapid()
    {
        Rig r;
        ButtonData b = button("a", m_tone);
        b.trimStart = 1.25;
        b.fadeIn = 0.2;
        r.e.play(b, QString());
        MediaPlayer* p = r.player("a");
        p->play();   // really playing, so the restart below changes no state
        QCOMPARE(p->playbackState(), QMediaPlayer::PlayingState);
        QVERIFY(r.slot("a")->fadeInTimer);
        r.started.clear();

        // Restart of a live slot: same player, from trim start, nothing emitted.
        r.e.cancelFade("a");
        QVERIFY(!r.slot("a")->fadeInTimer);
        b.volume = 0.5;
        r.e.playRapid(b, QString());
        QCOMPARE(r.player("a"), p);
        QCOMPARE(p->position(), 1250);
        QCOMPARE(r.started.count(), 0);
        QCOMPARE(r.stopped.count(), 0);
        QCOMPARE_LE(qAbs(r.out("a") - 0.425), kTol);
        r.e.setGlobalVolume(1.0);   // the restart's volume is what the master scales
        QCOMPARE_LE(qAbs(r.out("a") - 0.5), kTol);

        // A running stop fade is finished at once; the next start is a new slot.
        r.e.setButtonFade("a", 500);
        r.e.stop("a");
        r.e.cancelFade("a");
        QCOMPARE(r.stopped.count(), 1);
        QVERIFY(!r.slot("a"));
        r.e.playRapid(b, QString());
        QCOMPARE(r.started.count(), 1);
        QVERIFY(r.player("a") && r.player("a") != p);
    }

    void playReplacesFadingSlotAtOnce()
    {
        Rig r;
        r.e.play(button("a", m_tone), QString());
        r.e.setButtonFade("a", 300);
        r.e.play(button("a", m_tone), QString());   // the old slot ends now, without a fade
        QCOMPARE(r.stopped.count(), 1);
        QVERIFY(!r.e.stopFadeTimer("a"));
        QVERIFY(r.e.isPlaying("a"));
        QCOMPARE(r.slot("a")->stopFadeMs, 0.0);

        r.e.stop("a");
        r.e.setButtonFade("a", 300);   // no slot: no effect
        QCOMPARE(r.stopped.count(), 2);
    }

    // Once the sound plays, the fade-out before the end steps on its own
    // between the reports, a volume lead ahead of what is heard.
    void fadeOutStepsBetweenReports()
    {
        ScopedFakeClock clock;
        Rig r;
        ButtonData b = button("a", m_tone);
        b.fadeOut = 1.0;
        b.trimEnd = 3.5;
        r.e.play(b, QString());
        QTRY_VERIFY(r.slot("a")->startCalledAtMs > 0);   // started once the media could
        const int reportLead = r.e.timing().reportLeadMs;
        const int volumeLead = r.e.timing().volumeLeadMs;
        // Reported where a step's hold (see kStepHoldMs) would end 20 ms
        // short of the fade.
        const qint64 pos = 2500 - 20 - AudioEngine::kStepHoldMs + reportLead - volumeLead;
        clock.advanceMs(pos);
        r.at("a", pos);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
        QTimer* t = r.slot("a")->endFadeTimer;
        QVERIFY(t);
        clock.advanceMs(120);   // 100 ms into the fade where its hold ends
        fire(t);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85 * 0.9), kTol);
        clock.advanceMs(900);   // past it there: a faint tail until the writes are
        fire(t);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85 * std::min(AudioEngineUtil::kFadeTailLevel, 0.032)), kTol);
        clock.advanceMs(AudioEngine::kStepHoldMs);
        fire(t);
        QCOMPARE_LE(r.out("a"), kTol);
        QVERIFY(!r.slot("a")->endFadeTimer);   // fallen to nothing: no more steps
    }

    void fadeOutBeforeEnd()
    {
        Rig r;
        ButtonData b = button("a", m_tone);
        b.fadeOut = 1.0;
        b.trimEnd = 3.5;
        r.e.play(b, QString());
        // Each step sets what is due where its hold ends (kStepHoldMs on).
        const auto due = [](qint64 pos, double fadeStart, double fadeMs) {
            return 0.85 * std::clamp(1.0 - (pos + AudioEngine::kStepHoldMs - fadeStart) / fadeMs, 0.0, 1.0);
        };
        r.at("a", 2000);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
        r.at("a", 2500 - AudioEngine::kStepHoldMs);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
        r.at("a", 3000);
        QCOMPARE_LE(qAbs(r.out("a") - due(3000, 2500, 1000)), kTol);
        r.at("a", 3250);
        QCOMPARE_LE(qAbs(r.out("a") - due(3250, 2500, 1000)), kTol);
        QCOMPARE(r.positions.count(), 4);
        QCOMPARE(r.positions.last().at(1).toLongLong(), qint64(3250));

        // Without a trim end the file's own end is the mark (5000 ms here).
        ButtonData c = button("c", m_tone);
        c.fadeOut = 0.4;
        c.loop = true;
        r.e.play(c, QString());
        r.holdReports("c");
        QTRY_COMPARE(r.player("c")->duration(), qint64(5000));
        // The file loads on the players' thread and the run starts as it
        // does: from here the reports are taken as before its start is made.
        r.slot("c")->startCalledAtMs = 0;
        r.at("c", 4800);
        QCOMPARE_LE(qAbs(r.out("c") - due(4800, 4600, 400)), kTol);
        r.at("c", 100);   // looped round: full level again
        QCOMPARE_LE(qAbs(r.out("c") - 0.85), kTol);
    }

    void trimOut()
    {
        Rig r;
        ButtonData b = button("loop", m_tone);
        b.loop = true;
        b.trimStart = 0.75;
        b.trimEnd = 3.5;
        b.fadeOut = 0.5;
        r.e.play(b, QString());
        r.at("loop", 3400);   // due where the step's hold ends
        QCOMPARE_LE(qAbs(r.out("loop") - 0.85 * (1.0 - (400.0 + AudioEngine::kStepHoldMs) / 500)), kTol);
        r.positions.clear();
        r.at("loop", 3500);
        QCOMPARE(r.player("loop")->position(), 750);
        QCOMPARE_LE(qAbs(r.out("loop") - 0.85), kTol);
        for (const QList<QVariant>& p : std::as_const(r.positions))   // the seek itself may report 750
            QCOMPARE_LT(p.at(1).toLongLong(), qint64(3500));
        QVERIFY(r.e.isPlaying("loop"));
        QCOMPARE(r.stopped.count(), 0);

        ButtonData c = button("once", m_tone);
        c.trimEnd = 3.5;
        r.e.play(c, QString());
        r.player("once")->play();
        r.positions.clear();
        r.at("once", 3499);
        QCOMPARE(r.positions.count(), 1);
        r.at("once", 3512);
        QVERIFY(!r.slot("once"));
        QCOMPARE(r.stopped.count(), 1);
        QCOMPARE(r.positions.count(), 1);

        // The end is timed on the sound clock (the reports come too late
        // for it): from the start, plus what the last start took to be
        // heard, again at each restart and loop round.
        r.e.stopAll();   // no other sound's reports teach the start delay
        ScopedFakeClock clock;
        for (const bool loop : {false, true}) {
            ButtonData d = button(loop ? "timedLoop" : "timed", m_tone);
            d.loop = loop;
            d.trimStart = 1.0;
            d.trimEnd = 2.25;
            r.e.play(d, QString());
            r.holdReports(d.id);
            QTRY_VERIFY(r.slot(d.id)->trimOutTimer);
            QTimer* t = r.slot(d.id)->trimOutTimer;
            QVERIFY(t->isActive());
            // From the trim-in: an 8 kHz file starts on its very sample.
            const qint64 span = 2250 - 1000;
            QCOMPARE(t->interval(), span + r.e.startDelayMs());
            r.e.playRapid(d, QString());
            QCOMPARE(t->interval(), span + r.e.startDelayMs());
            QVERIFY(t->isActive());
            r.stopped.clear();
            // A report places the start later than guessed: the end moves
            // with it. One report alone is not a start heard.
            const int reportLead = r.e.timing().reportLeadMs;
            clock.advanceMs(300);
            r.at(d.id, 1100);
            QVERIFY(!r.slot(d.id)->startHeard);
            QCOMPARE(t->interval(), span - 100 + reportLead);
            // Woken before its mark (a report moved it since): set again.
            fire(t);
            QVERIFY(r.slot(d.id));
            QCOMPARE(t->interval(), span - 100 + reportLead);
            QCOMPARE(r.stopped.count(), 0);
            // At its mark with its reports standing well short of it (the
            // back end stands still), the range is not ended as if it had
            // played: the start check, still on guard, deals with it.
            clock.advanceMs(span - 100 + reportLead);
            fire(t);
            QVERIFY(r.slot(d.id));
            QVERIFY(r.slot(d.id)->startCheckTimer && r.slot(d.id)->startCheckTimer->isActive());
            QCOMPARE(r.stopped.count(), 0);
            // Once the reports come within one of the mark, it ends there.
            r.at(d.id, 2150);
            clock.advanceMs(t->interval());
            fire(t);
            if (!loop) {
                QVERIFY(!r.slot(d.id));
                QCOMPARE(r.stopped.count(), 1);
                continue;
            }
            QVERIFY(r.e.isPlaying(d.id));
            QCOMPARE(r.player(d.id)->position(), 1000);
            QVERIFY(r.slot(d.id)->trimOutTimer->isActive());
            QCOMPARE(r.stopped.count(), 0);
            r.e.stop(d.id);
            QCOMPARE(r.stopped.count(), 1);
        }
    }

    // The back end can stall right after a start: its player plays and its
    // position creeps a ms a second with nothing heard. Such a run is never
    // taken as heard nor ended as played; a fresh player takes over from
    // the same point and is heard whole, its trim-out and fade-out timed on
    // the steady clock from its heard start without further reports. A
    // second stall ends the sound with its error (the main window shows it
    // as a toast and an event-log line), never left lit and silent.
    // The replacement plays on the slot's own output, at its volume, with
    // its fades. Left alone by the check: a run the operator stopped (its
    // stop fade ends it) and a source still arriving (a preview played while
    // it downloads may start late): one our own download writes, or one
    // whose size grows between looks. A file's date alone, ahead of the
    // clock or a moment ago, does not make it arriving. A player that never
    // moves at all is given longer (a swamped machine can take seconds to
    // start one), then counts as stalled the same.
    void stalledStartIsReplaced_data()
    {
        QTest::addColumn<double>("trimOut");
        QTest::addColumn<double>("fadeOut");
        QTest::addColumn<int>("stalls");
        QTest::addColumn<QString>("leftAlone");   // why the check leaves it; empty: it does not
        QTest::addColumn<bool>("creeps");         // the stalled player reports a creeping position; false: none
        QTest::addColumn<QString>("file");        // how its file came; empty: written long ago
        QTest::newRow("short range, stalls once") << 1.3 << 0.0 << 1 << QString() << true << QString();
        QTest::newRow("long range with fade-out, stalls once") << 2.2 << 0.6 << 1 << QString() << true << QString();
        QTest::newRow("short range, stalls twice") << 1.3 << 0.0 << 2 << QString() << true << QString();
        QTest::newRow("long range, stalls twice") << 2.2 << 0.0 << 2 << QString() << true << QString();
        QTest::newRow("stopped with a fade") << 2.2 << 0.0 << 1 << QString("stop fade") << true << QString();
        QTest::newRow("still arriving") << 2.2 << 0.0 << 1 << QString("arriving") << true << QString("growing");
        QTest::newRow("still arriving from our download") << 2.2 << 0.0 << 1 << QString("arriving") << true
                                                          << QString("download");
        QTest::newRow("dated a day ahead, stalls twice") << 2.2 << 0.0 << 2 << QString() << true << QString("day ahead");
        QTest::newRow("written a moment ago, stalls twice") << 1.3 << 0.0 << 2 << QString() << true << QString("just now");
        QTest::newRow("never moves, once") << 1.3 << 0.0 << 1 << QString() << false << QString();
        QTest::newRow("never moves, twice") << 2.2 << 0.0 << 2 << QString() << false << QString();
    }
    void stalledStartIsReplaced()
    {
        QFETCH(double, trimOut);
        QFETCH(double, fadeOut);
        QFETCH(int, stalls);
        QFETCH(QString, leftAlone);
        QFETCH(bool, creeps);
        QFETCH(QString, file);
        ScopedFakeClock clock;
        Rig r;
        QSignalSpy retried(&r.e, &AudioEngine::startRetried);
        // Silent: it plays on the second output (see initTestCase).
        ButtonData b = button("a", m_silence);
        SafeFileWriter download(TestSupport::tempDir() + "/downloading.wav");
        if (file == "download") {
            QVERIFY(download.open());
            QVERIFY(download.write(TestSupport::readFile(m_silence)));
            b.audioPath = download.tempPath();
        } else if (!file.isEmpty()) {
            b.audioPath = TestSupport::tempDir() + "/" + QString(file).replace(' ', '-') + ".wav";
            QFile::remove(b.audioPath);
            QVERIFY(QFile::copy(m_silence, b.audioPath));
            QFile f(b.audioPath);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const QDateTime now = QDateTime::currentDateTime();
            QVERIFY(f.setFileTime(file == "day ahead" ? now.addDays(1) : now, QFileDevice::FileModificationTime));
        }
        b.trimStart = 1.0;   // an 8 kHz file starts on its very sample
        b.trimEnd = trimOut;
        b.fadeOut = fadeOut;
        b.volume = 0.5;
        headsRead(b.audioPath);
        const QAudioDevice device = secondOutput();
        r.e.play(b, QString::fromUtf8(device.id()));
        r.e.setButtonFade("a", 480);
        for (int k = 0; k < stalls; ++k) {
            if (creeps)
                r.holdReports("a");
            else
                r.muteReports("a");
            QTRY_COMPARE(r.slot("a")->startCalledAtMs, MonoClock::ms());   // once the media could
            QCOMPARE(r.slot("a")->startPosMs, qint64(1000));
            MediaPlayer* stalled = r.player("a");
            for (int sec = 1; sec <= 3; ++sec) {
                clock.advanceMs(1000);
                if (creeps)
                    r.at("a", 1000 + sec);
                QVERIFY(r.slot("a"));
                fire(r.slot("a")->trimOutTimer);   // the end waits for a start heard
                if (file == "growing" && sec == 1) {
                    // More of it arrives after the look at its start.
                    QFile f(b.audioPath);
                    QVERIFY(f.open(QIODevice::Append));
                    QCOMPARE(f.write(QByteArray(8000, '\0')), qint64(8000));
                    f.close();
                    // Told by the file's notice on the watching thread; the
                    // GUI thread's events stay held meanwhile.
                    QDeadlineTimer told(5000);
                    while (KnownFiles::instance()->lastSeen(b.audioPath).size != QFileInfo(b.audioPath).size()
                           && !told.hasExpired())
                        QThread::yieldCurrentThread();
                    QCOMPARE(KnownFiles::instance()->lastSeen(b.audioPath).size, QFileInfo(b.audioPath).size());
                }
            }
            QVERIFY(r.slot("a") && !r.slot("a")->startHeard);
            QVERIFY(r.slot("a")->startCheckTimer && r.slot("a")->startCheckTimer->isActive());
            QCOMPARE(r.slot("a")->startCheckTimer->interval(),
                     creeps ? AudioEngine::kStartStallMs : AudioEngine::kStartWaitMs);
            QCOMPARE(r.stopped.count(), 0);
            if (leftAlone == "stop fade")
                r.e.stop("a");
            fire(r.slot("a")->startCheckTimer);
            if (!leftAlone.isEmpty()) {
                QCOMPARE(r.player("a"), stalled);
                QCOMPARE(retried.count(), 0);
                QCOMPARE(r.errors.count(), 0);
                return;
            }
            if (k + 1 < AudioEngine::kStartTries) {
                QVERIFY(r.slot("a") && r.player("a") != stalled);
                QCOMPARE(r.stopped.count(), 0);
                QCOMPARE(retried.count(), 1);   // told, though the sound goes on
                QCOMPARE(r.slot("a")->output->device(), device.isNull() ? QMediaDevices::defaultAudioOutput() : device);
                QCOMPARE(r.slot("a")->stopFadeMs, 480.0);
            }
        }
        if (stalls >= AudioEngine::kStartTries) {
            QVERIFY(!r.slot("a"));
            QCOMPARE(r.errors.count(), 1);
            QVERIFY(!r.errors.at(0).at(1).toString().isEmpty());
            QCOMPARE(r.stopped.count(), 1);
            QVERIFY(!r.e.isOutputLost());
            return;
        }
        r.holdReports("a");
        QTRY_COMPARE(r.slot("a")->startCalledAtMs, MonoClock::ms());
        QCOMPARE(r.slot("a")->startPosMs, qint64(1000));
        // The fresh player moves with the clock: heard.
        clock.advanceMs(150);
        r.at("a", 1030);
        QVERIFY(!r.slot("a")->startHeard);
        clock.advanceMs(100);
        r.at("a", 1130);
        PlaybackSlot* s = r.slot("a");
        QVERIFY(s->startHeard);
        QVERIFY(!s->startCheckTimer);
        QCOMPARE_LE(qAbs(r.out("a") - 0.425), kTol);
        const int reportLead = r.e.timing().reportLeadMs;
        const int volumeLead = r.e.timing().volumeLeadMs;
        const qint64 left = qint64(trimOut * 1000) - 1130 + reportLead;   // until the trim-out is heard
        QVERIFY(s->trimOutTimer && s->trimOutTimer->isActive());
        QCOMPARE(s->trimOutTimer->interval(), left);
        qint64 passed = 0;
        if (fadeOut > 0) {
            // The fade wakes a step's hold (kStepHoldMs) before the writes
            // reach it, and is half-way down where a hold half its length
            // later ends.
            const qint64 toFade = left - volumeLead - qint64(fadeOut * 1000) - AudioEngine::kStepHoldMs;
            QVERIFY(s->endFadeTimer);
            QCOMPARE(s->endFadeTimer->interval(), toFade);
            clock.advanceMs(toFade + qint64(fadeOut * 500));
            fire(s->endFadeTimer);
            QCOMPARE_LE(qAbs(r.out("a") - 0.425 * 0.5), kTol);
            clock.advanceMs(AudioEngine::kStepHoldMs);
            // Silent when the writes reach the trim-out.
            clock.advanceMs(qint64(fadeOut * 500));
            fire(s->endFadeTimer);
            QCOMPARE_LE(r.out("a"), kTol);
            passed = toFade + qint64(fadeOut * 1000) + AudioEngine::kStepHoldMs;
        }
        clock.advanceMs(left - passed);
        fire(s->trimOutTimer);
        QVERIFY(!r.slot("a"));
        QCOMPARE(r.stopped.count(), 1);
        QCOMPARE(r.errors.count(), 0);
    }

    void naturalEndAndLoop()
    {
        Rig r;
        r.e.play(button("a", m_tone), QString());
        r.ended("a");
        QCOMPARE(r.stopped.count(), 1);
        QCOMPARE(r.all.count(), 0);   // the ended slot stays in the table
        QVERIFY(r.slot("a"));
        QVERIFY(!r.e.isPlaying("a"));
        QCOMPARE(r.e.playingIds(), QList<QString>{"a"});
        r.ended("a");   // a repeated report is not a second end
        QCOMPARE(r.stopped.count(), 1);
        r.e.stop("a");   // an ended slot stopped later still reports
        QCOMPARE(r.stopped.count(), 2);
        QCOMPARE(r.all.count(), 1);

        ButtonData b = button("l", m_tone);
        b.loop = true;
        b.trimStart = 2.0;
        r.e.play(b, QString());
        r.ended("l");
        QCOMPARE(r.stopped.count(), 2);
        QVERIFY(r.e.isPlaying("l"));
        QCOMPARE(r.player("l")->position(), 2000);

        // A player that ends by itself has written its last sound, not yet
        // heard it: it keeps its stream until its end is heard on the sound
        // clock (here the 5 s tone's, far off: the bound), then lets go.
        r.e.play(button("h", m_tone), QString());
        MediaPlayer* p = r.player("h");
        QTRY_COMPARE(p->playbackState(), QMediaPlayer::PlayingState);
        p->stop();   // its own stop report, as at its end
        QVERIFY(!r.e.isPlaying("h"));
        QTimer* hold = r.slot("h")->releaseTimer;
        QVERIFY(hold && hold->isActive());
        QCOMPARE(hold->interval(), AudioEngine::kEndedHoldMaxMs);
        QCoreApplication::processEvents();
        QCOMPARE(p->source(), QUrl::fromLocalFile(m_tone));
        // Heard, but its output may still have the server's answer to its
        // end to come: destroyed before it, the output would crash the
        // program when it comes. The media goes a second after the end.
        fire(hold);
        QCOMPARE(p->source(), QUrl::fromLocalFile(m_tone));
        QTRY_VERIFY_WITH_TIMEOUT(p->source().isEmpty(), 5000);
        QCOMPARE_GE(MonoClock::ms() - r.slot("h")->endedAtMs, qint64(AudioEngine::kRetireMs));
        QCOMPARE(r.e.durationMs("h"), qint64(5000));
        // Stopped while it is held, it is destroyed a second later: by then
        // the server has answered its stream's last request.
        r.e.play(button("k", m_tone), QString());
        QPointer<MediaPlayer> k = r.player("k");
        QTRY_COMPARE(k->playbackState(), QMediaPlayer::PlayingState);
        k->stop();
        QVERIFY(r.slot("k")->releaseTimer);
        const quint64 kKey = k->key();
        QStringList ends;
        Players::instance()->setWitness([&ends, kKey](const char* what, quint64 key) {
            if (key == kKey && qstrcmp(what, "end") == 0)
                ends << QString::fromLatin1(what);
        });
        r.e.stop("k");
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!k);
        QVERIFY(Players::instance()->settle(30000));
        QCOMPARE(r.e.playersHeldForServer(), 1);   // its end is asked, and waits its second
        QTRY_COMPARE_WITH_TIMEOUT(r.e.playersHeldForServer(), 0, 10000);
        Players::instance()->setWitness({});
        QCOMPARE(ends, QStringList{QStringLiteral("end")});

        // Pressed again (Restart on) after its end report with its stream
        // still held, or within what its back end has read ahead of the end:
        // a fresh player starts it from its trim-in at once, the old one
        // silenced, stopped and destroyed before it (what it still has
        // queued would play under the new start); no stop reported.
        // Earlier, the same player seeks. A player prepared ahead plays
        // within the press.
        struct Again
        {
            const char* name;
            qint64 reportedAt;   // where its last report placed it; -1: ended
            bool fresh;
            bool prepared;       // a player for the file made ready ahead
        };
        const Again agains[] = {
            {"after its end report, held", -1, true, false},
            {"after its end report, held, a player prepared ahead", -1, true, true},
            {"400 ms before its end", 4600, true, false},
            {"400 ms before its end, a player prepared ahead", 4600, true, true},
            {"2 s before its end", 3000, false, false},
        };
        for (const Again& a : agains) {
            Rig g;
            g.e.play(button("g", m_tone), QString());
            QPointer<MediaPlayer> first = g.player("g");
            QPointer<MediaOutput> firstOutput = g.slot("g")->output;
            QTRY_COMPARE(first->playbackState(), QMediaPlayer::PlayingState);
            QPointer<MediaPlayer> prepared;
            if (a.prepared) {
                g.e.preBuffer({m_tone});
                g.runScheduled();
                prepared = g.e.bufferTable().value(m_tone).player;
                QVERIFY2(prepared, a.name);
                QTRY_COMPARE(prepared->mediaStatus(), QMediaPlayer::LoadedMedia);
            }
            if (a.reportedAt < 0) {
                first->stop();   // its own stop report, as at its end
                QVERIFY2(g.slot("g")->releaseTimer, a.name);
            } else {
                g.at("g", a.reportedAt);
            }
            // What the players' thread does, in order, from the press on.
            std::mutex mx;
            QList<QPair<QByteArray, quint64>> done;
            Players::instance()->setWitness([&](const char* what, quint64 key) {
                std::lock_guard<std::mutex> lk(mx);
                done.append({QByteArray(what), key});
            });
            const auto unwatch = qScopeGuard([] { Players::instance()->setWitness({}); });
            const quint64 firstKey = first->key();
            g.e.playRapid(button("g", m_tone), QString());
            QVERIFY2(g.e.isPlaying("g"), a.name);
            QCOMPARE(g.started.count(), 1);
            QCOMPARE(g.stopped.count(), a.reportedAt < 0 ? 1 : 0);
            QVERIFY2((g.player("g") != first) == a.fresh, a.name);
            QVERIFY2(!g.slot("g")->releaseTimer, a.name);
            if (!a.fresh)
                continue;
            QVERIFY2(!g.slot("g")->tailPlayer, a.name);
            // The new one is made (or was made ahead) before the old one
            // goes, and the old one is gone, its stream with it, before the
            // new one is asked anything more: its start comes after. The old
            // output is muted meanwhile.
            QVERIFY2(firstOutput && firstOutput->isMuted() && firstOutput->volume() == 0.0f, a.name);
            if (a.prepared) {
                QCOMPARE(g.player("g"), prepared.data());
                QVERIFY2(!g.slot("g")->startPending, a.name);
                QCOMPARE(prepared->playbackState(), QMediaPlayer::PlayingState);
            }
            QElapsedTimer waited;
            waited.start();
            while (g.slot("g")->startPending && waited.elapsed() < 5000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            QVERIFY2(!g.slot("g")->startPending, a.name);
            QCOMPARE(g.slot("g")->startPosMs, qint64(0));
            QTRY_COMPARE(g.player("g")->playbackState(), QMediaPlayer::PlayingState);
            QVERIFY(Players::instance()->settle(30000));
            {
                std::lock_guard<std::mutex> lk(mx);
                const quint64 newKey = g.player("g")->key();
                const qsizetype made = done.indexOf(qMakePair(QByteArray("make"), newKey));
                const qsizetype ended = done.indexOf(qMakePair(QByteArray("end"), firstKey));
                qsizetype firstCallAfter = -1;
                for (qsizetype i = ended + 1; i < done.size() && firstCallAfter < 0; ++i)
                    if (done.at(i).second == newKey && done.at(i).first == "call")
                        firstCallAfter = i;
                QVERIFY2(ended >= 0 && (a.prepared || (made >= 0 && made < ended)), a.name);
                QVERIFY2(firstCallAfter > ended, a.name);
            }
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY2(!first && !firstOutput, a.name);
            QVERIFY2(g.e.isPlaying("g"), a.name);
        }

        // Either side of the short-sound line (250 ms), to the sample at 8 kHz.
        const QString file250 = TestSupport::tempDir() + "/tone250ms.wav";
        QVERIFY(TestSupport::writeWav16(file250, TestSupport::sine(440, 0.25, 1, 8000), 1, 8000));
        writtenLongAgo(file250);
        const QString file251 = TestSupport::tempDir() + "/tone251ms.wav";
        QVERIFY(TestSupport::writeWav16(file251, TestSupport::sine(440, 0.251, 1, 8000), 1, 8000));
        writtenLongAgo(file251);
        // A sound played once whose range or file is short (250 ms or less,
        // to the ms) plays on a stream of its own, which ends it once it has
        // been heard: the slot goes and its end is reported. A longer one,
        // and a short file our download still writes (its header is not to
        // be trusted yet), stay on a player. A file's date does not count:
        // one written a moment ago or dated ahead of the clock is whole. A
        // stream that cannot start (a file our decoder does not read) leaves
        // the sound to a player, and the press is still reported started once.
        const QString justNow = TestSupport::tempDir() + "/justnow100ms.wav";
        QVERIFY(TestSupport::writeWav16(justNow, TestSupport::sine(440, 0.1, 1, 8000), 1, 8000));
        const QString ahead = TestSupport::tempDir() + "/ahead100ms.wav";
        QVERIFY(TestSupport::writeWav16(ahead, TestSupport::sine(440, 0.1, 1, 8000), 1, 8000));
        {
            QFile f(ahead);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime));
        }
        SafeFileWriter download(TestSupport::tempDir() + "/downloading100ms.wav");
        QVERIFY(download.open());
        QVERIFY(download.write(TestSupport::readFile(m_click)));
        const QString corrupt = TestSupport::tempDir() + "/corrupt.wav";
        QVERIFY(safeWriteFile(corrupt, QByteArray("RIFF\x10\0\0\0WAVEjunkjunkjunkjunk", 24).repeated(40)));
        struct Case
        {
            const char* id;
            QString path;
            double trimIn, trimOut;
            bool onStream;
            bool fails = false;   // refused: nothing reads it
        };
        for (const QString& path : {justNow, ahead, corrupt})
            headsRead(path);
        const Case cases[] = {
            {"file of 100 ms", m_click, 0, 0, true},
            {"range of 250 ms", m_tone, 1.0, 1.25, true},
            {"file of 250 ms", file250, 0, 0, true},
            {"file of 251 ms from 1 ms", file251, 0.001, 0, true},
            {"file of 100 ms from 40 ms", m_click, 0.04, 0, true},
            {"range of 251 ms", m_tone, 1.0, 1.251, false},
            {"file of 251 ms", file251, 0, 0, false},
            {"range of 300 ms", m_tone, 1.0, 1.3, false},
            {"range of 4.9 s", m_tone, 0.1, 0, false},
            {"file still arriving from our download", download.tempPath(), 0, 0, false},
            {"file written a moment ago", justNow, 0, 0, true},
            {"file dated a day ahead", ahead, 0, 0, true},
            {"range of 100 ms our decoder does not read", corrupt, 0, 0.1, true, true},
        };
        for (const Case& c : cases) {
            Rig s;
            s.e.setLoopStreams(true);
            ButtonData b = button(c.id, c.path);
            b.trimStart = c.trimIn;
            b.trimEnd = c.trimOut;
            const int startsBefore = g_startsOnMain.load();
            s.e.play(b, QString());
            // A stream runs on threads kept standing: a press starts none.
            if (c.onStream)
                QCOMPARE(g_startsOnMain.load(), startsBefore);
            QCOMPARE(s.started.count(), 1);
            if (c.fails) {
                // Refused from its header, before a stream or player is made.
                QVERIFY2(!s.slot(c.id), c.id);
                QTRY_COMPARE_WITH_TIMEOUT(s.stopped.count(), 1, 10000);
                QCOMPARE(s.errors.count(), 1);
                continue;
            }
            QVERIFY2(bool(s.slot(c.id)->stream) == c.onStream, c.id);
            QCOMPARE(!s.slot(c.id)->player, c.onStream);
            if (!c.onStream)
                continue;
            QCOMPARE(s.stopped.count(), 0);
            QTRY_COMPARE_WITH_TIMEOUT(s.stopped.count(), 1, 10000);
            QVERIFY2(!s.slot(c.id), c.id);
            QCOMPARE(s.all.count(), 1);
            QCOMPARE(s.errors.count(), 0);
        }

        // A stream stopped in its first block is silent at once: its
        // output's queue is dropped, never played out.
        qputenv("TR_AUDIO_OUTPUT", "manual");
        {
            Rig m;
            m.e.setLoopStreams(true);
            m.e.play(button("first", m_click), QString());
            QVERIFY(m.slot("first")->stream);
            QTRY_VERIFY(ManualOutput::lastOpened() && ManualOutput::lastOpened()->framesQueued() > 0);
            m.e.stop("first");
            QCOMPARE(m.stopped.count(), 1);
            QVERIFY(!m.slot("first"));
            QTRY_VERIFY(!ManualOutput::lastOpened());
        }
        qunsetenv("TR_AUDIO_OUTPUT");
        QCOMPARE(ManualOutput::queuedAtLastClose(), qint64(0));

        // A burst of presses: the next stream of the button does not wait
        // for one let go while its output was still opening, before it wrote
        // anything (it never will).
        qputenv("TR_AUDIO_OUTPUT", "manual");
        {
            // The first open is held until the end of the case.
            struct Gate
            {
                QSemaphore opening, held;
                std::atomic<int> opens{0};
            };
            const auto gate = std::make_shared<Gate>();
            ManualOutput::setOpenHook([gate] {
                if (gate->opens++ == 0) {
                    gate->opening.release();
                    gate->held.acquire();
                }
            });
            const auto unhold = qScopeGuard([gate] {
                ManualOutput::setOpenHook({});
                gate->held.release();
            });
            Rig m;
            m.e.setLoopStreams(true);
            m.e.play(button("burst", m_click), QString());
            QVERIFY(gate->opening.tryAcquire(1, 10000));
            m.e.stop("burst");
            const quint64 waited = loopStreamPredecessorWaitMs();
            m.e.play(button("burst", m_click), QString());
            LoopStream* next = m.slot("burst") ? m.slot("burst")->stream : nullptr;
            QVERIFY(next);
            QTRY_VERIFY_WITH_TIMEOUT(next->state() != LoopStream::State::Starting, 30000);
            QVERIFY(next->state() != LoopStream::State::Failed);
            QCOMPARE(loopStreamPredecessorWaitMs(), waited);
        }
        qunsetenv("TR_AUDIO_OUTPUT");
    }

    void purgeOfEndedSlots()
    {
        Rig r;
        for (int i = 0; i < 49; ++i)
            r.e.play(button(QString("b%1").arg(i), m_tone), QString());
        QCOMPARE(r.e.playingIds().size(), 49);
        r.ended("b3");   // nothing else has ended: nothing to purge
        QCOMPARE(r.e.playingIds().size(), 49);
        QCOMPARE(r.player("b3")->playbackState(), QMediaPlayer::StoppedState);
        // Its player is held until its last sample is heard: not taken.
        QVERIFY(r.slot("b3")->releaseTimer);
        r.ended("b5");
        QCOMPARE(r.e.playingIds().size(), 49);
        QVERIFY(r.slot("b3") && r.slot("b3")->releaseTimer);
        fire(r.slot("b3")->releaseTimer);   // heard: its sound is over
        r.ended("b7");
        QCOMPARE(r.e.playingIds().size(), 48);
        QVERIFY(!r.slot("b3"));
        QVERIFY(r.slot("b5") && r.slot("b7"));
        QCOMPARE(r.stopped.count(), 3);   // purging reports nothing

        // A show played again and again: its pads pressed, ended by
        // themselves and heard to their end, round after round. What the
        // engine holds levels off: once the players let go have gone, a
        // player for each slot it keeps (its media let go) and no other, no
        // more slots than the show has pads (beside those above), and no
        // more players after the fourth round than after the second.
        const auto heldPlayers = [&r] {
            const bool settled = QTest::qWaitFor(
                [&r] {
                    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
                    const QList<QString> ids = r.e.playingIds();
                    return r.e.playersHeldForServer() == 0
                           && std::all_of(ids.cbegin(), ids.cend(), [&r](const QString& id) {
                                  return !id.startsWith(QLatin1String("pad"))
                                         || (!r.e.isPlaying(id) && r.player(id)->source().isEmpty());
                              });
                },
                30000);
            return settled ? int(r.e.findChildren<MediaPlayer*>(Qt::FindDirectChildrenOnly).size()) : -1;
        };
        QList<int> slotsAfter, playersAfter;
        for (int round = 1; round <= 4; ++round) {
            for (int i = 0; i < 12; ++i)
                r.e.play(button(QString("pad%1").arg(i), m_click), QString());
            playersAfter << heldPlayers();
            slotsAfter << int(r.e.playingIds().size());
            QCOMPARE_GE(playersAfter.last(), 0);   // settled
            QCOMPARE_LE(playersAfter.last(), slotsAfter.last());
            QCOMPARE_LE(slotsAfter.last(), 48 + 12);
        }
        qInfo() << "slots after each round" << slotsAfter << "players" << playersAfter;
        QCOMPARE_LE(playersAfter.last(), playersAfter.at(1));
    }

    // The sound server went away: the players stay "playing" with their
    // positions frozen. Once every playing sound has stood still for 3 s they
    // are reported ended, the loss is told once, starts fail meanwhile, and a
    // silent probe finds the output again.
    void outputLostWhenSoundsStandStill()
    {
        ScopedFakeClock clock;
        Rig r;
        r.e.warmupBackend();
        QSignalSpy lost(&r.e, &AudioEngine::outputLost);
        QSignalSpy back(&r.e, &AudioEngine::outputRestored);
        r.e.play(button("a", m_tone), QString());
        QTRY_COMPARE(r.player("a")->playbackState(), QMediaPlayer::PlayingState);
        // From here the engine hears no position move, as with a dead server.
        QObject::disconnect(r.player("a"), &MediaPlayer::positionChanged, &r.e, nullptr);
        for (int i = 1; i < AudioEngine::kStallLimitMs / AudioEngine::kStallCheckMs; ++i) {
            clock.advanceMs(AudioEngine::kStallCheckMs);
            r.e.checkOutput();
        }
        QCOMPARE(lost.count(), 0);   // still for a moment less than the limit: not yet
        QVERIFY(r.e.isPlaying("a"));
        clock.advanceMs(AudioEngine::kStallCheckMs);
        r.e.checkOutput();
        QCOMPARE(lost.count(), 1);
        QVERIFY(!r.e.isPlaying("a"));
        QCOMPARE(r.stopped.count(), 1);
        QVERIFY(r.e.isOutputLost());
        r.e.checkOutput();
        QCOMPARE(lost.count(), 1);

        r.e.playRapid(button("b", m_tone), QString());
        QTRY_COMPARE(r.errors.count(), 1);
        QCOMPARE(r.stopped.count(), 2);
        QVERIFY(!r.slot("b"));

        QTimer* probe = r.e.findChild<QTimer*>(QStringLiteral("audioProbe"));
        QVERIFY(probe && probe->isActive());
        QCOMPARE(probe->interval(), AudioEngine::kProbeFirstMs);
        TestSupport::fireTimer(probe);
        QTRY_COMPARE_WITH_TIMEOUT(back.count(), 1, 10000);   // this server still plays
        QVERIFY(!r.e.isOutputLost());
        r.e.play(button("b", m_tone), QString());
        QVERIFY(r.e.isPlaying("b"));
        QCOMPARE(r.errors.count(), 1);
    }

private:
    // The players' thread is held, as a server that stalls holds it, while
    // the window asks on: levels, stops. Nothing it asks waits. Once the
    // thread goes on, the levels come first, each output's at the latest
    // value asked and once, and then the stops, in the order asked.
    void stallHoldsOnlyThePlayersThread()
    {
        bool answering = true;
        Rig r;
        r.e.setServerAnsweringSource([&answering] { return answering; });
        for (const QString& id : {"a", "b", "c"})
            r.e.play(button(id, m_tone), QString());
        Players* players = Players::instance();
        QVERIFY(players->settle(30000));
        const quint64 b = r.player("b")->key(), c = r.player("c")->key();
        std::mutex mx;
        QStringList made;
        players->setWitness([&](const char* what, quint64 key) {
            std::lock_guard<std::mutex> lk(mx);
            if (qstrcmp(what, "level") == 0)
                made << QStringLiteral("level");
            else if (qstrcmp(what, "end") == 0)
                made << (key == b ? QStringLiteral("end b") : key == c ? QStringLiteral("end c") : QStringLiteral("end"));
        });
        const auto unwatch = qScopeGuard([players] { players->setWitness({}); });
        MediaOutput* a = r.slot("a")->output;
        const float before = a->levelTaken();
        players->holdThread(true);
        answering = false;
        r.e.setGlobalVolume(0.3);
        r.e.stop("b");
        r.e.setButtonVolume("a", 0.5);
        r.e.setGlobalVolume(0.6);
        r.e.stop("c");
        QCOMPARE(r.e.playersHeldForServer(), 2);
        QCOMPARE(r.stopped.count(), 2);
        QCOMPARE_LE(qAbs(a->volume() - 0.3), kTol);
        QCOMPARE(a->levelTaken(), before);
        answering = true;
        players->holdThread(false);
        QTRY_COMPARE(r.e.playersHeldForServer(), 0);
        QVERIFY(players->settle(30000));
        QCOMPARE_LE(qAbs(a->levelTaken() - 0.3), kTol);
        std::lock_guard<std::mutex> lk(mx);
        QCOMPARE(made, QStringList({QStringLiteral("level"), QStringLiteral("level"), QStringLiteral("level"),
                                    QStringLiteral("end b"), QStringLiteral("end c")}));
    }
    // A sound pressed while the players' thread is held, with levels of
    // other outputs taken before its output is made there: its output
    // still takes its own level (silence, as it fades in) before its first
    // sample.
    void levelAskedBeforeItsOutputIsMade()
    {
        Rig r;
        r.e.play(button("a", m_tone), QString());
        Players* players = Players::instance();
        QVERIFY(players->settle(30000));
        players->holdThread(true);
        r.e.setGlobalVolume(0.6);
        ButtonData d = button("d", m_tone);
        d.fadeIn = 2.0;
        r.e.play(d, QString());
        r.e.setGlobalVolume(0.5);
        players->holdThread(false);
        QVERIFY(players->settle(30000));
        std::atomic<float> level{-1};
        players->post([core = r.slot("d")->output->core(), &level] { level = core->real.load()->volume(); });
        QVERIFY(players->settle(30000));
        QCOMPARE_LE(level.load(), AudioEngine::kFadeInFloor + kTol);
    }

private slots:

    // The sound server the players were made on went away (another, or
    // none, answers): the playing sounds end at once, their players are left
    // untouched (stopping or deleting them can hang), no player is made
    // again, not even a probe, and every start fails with the loss told.
    // An engine made after the server went (none answers at its first look,
    // while the back end still lists the outputs it had) makes no player
    // either: one started then crashes in the back end's render thread.
    // A server that only stalls is not gone: it holds only the players'
    // thread (see stallHoldsOnlyThePlayersThread).
    void serverGoneEndsThePlayersForGood_data()
    {
        QTest::addColumn<qint64>("firstAnswer");   // who answers at the engine's first look; -1: ours, stalling
        QTest::addColumn<bool>("inStall");         // it dies while it does not answer
        // Pressed after another server answers: "long" (a player), "short"
        // (a stream of its own), "second output"; empty: none.
        QTest::addColumn<QString>("pressed");
        QTest::newRow("gone while playing") << qint64(4242) << false << "";
        QTest::newRow("gone before the first look") << qint64(0) << false << "";
        QTest::newRow("gone while it stalls") << qint64(4242) << true << "";
        QTest::newRow("stalls, then answers again") << qint64(-1) << false << "";
        QTest::newRow("another answers, a long sound pressed") << qint64(4242) << false << "long";
        QTest::newRow("another answers, a short sound pressed") << qint64(4242) << false << "short";
        QTest::newRow("another answers, a sound on a second output pressed") << qint64(4242) << false
                                                                              << "second output";
    }
    void serverGoneEndsThePlayersForGood()
    {
        QFETCH(qint64, firstAnswer);
        QFETCH(bool, inStall);
        QFETCH(QString, pressed);
        if (!pressed.isEmpty()) {
            refusedAheadOnceGone(pressed);
            return;
        }
        if (firstAnswer < 0) {
            stallHoldsOnlyThePlayersThread();
            levelAskedBeforeItsOutputIsMade();
            return;
        }
        ScopedFakeClock clock;
        Rig r;
        qint64 server = firstAnswer;
        r.e.setServerIdSource([&server] { return server; });
        QSignalSpy lost(&r.e, &AudioEngine::outputLost);
        if (inStall) {
            // Killed in its stall: nothing listens when it "answers" again.
            // A player let go in the stall, before that was known, is left
            // as it is (destroying it could wait for ever), and nothing more
            // is asked of the players' thread.
            bool answering = true;
            r.e.setServerAnsweringSource([&answering] { return answering; });
            r.e.play(button("a", m_tone), QString());
            QVERIFY(Players::instance()->settle(30000));
            const quint64 a = r.player("a")->key();
            QStringList done;
            Players::instance()->setWitness([&done, a](const char* what, quint64 key) {
                if (key == a)
                    done << QString::fromLatin1(what);
            });
            Players::instance()->holdThread(true);
            answering = false;
            r.e.stop("a");
            QCOMPARE(r.e.playersHeldForServer(), 1);
            server = 0;
            answering = true;
            QVERIFY(QMetaObject::invokeMethod(&r.e, "serverAnswersAgain"));
            QCOMPARE(lost.count(), 1);
            QVERIFY(r.e.isServerGone() && r.e.isOutputLost());
            const int queued = r.e.callsKeptForServer();
            r.e.play(button("b", m_tone), QString());
            r.e.preBuffer({m_tone});
            r.runScheduled();
            QCOMPARE(r.e.callsKeptForServer(), queued);
            Players::instance()->holdThread(false);
            QTRY_COMPARE(r.e.playersHeldForServer(), 0);
            QVERIFY(Players::instance()->settle(30000));
            Players::instance()->setWitness({});
            QCOMPARE(done, QStringList{QStringLiteral("parked")});
            return;
        }
        if (firstAnswer == 0) {
            QVERIFY(!QMediaDevices::audioOutputs().isEmpty());   // outputs are listed all the same
            r.e.play(button("a", m_tone), QString());
            r.e.playRapid(button("b", m_tone), QString());
            r.e.preBuffer({m_tone});
            r.runScheduled();
            QTRY_COMPARE(r.errors.count(), 2);
            QCOMPARE(lost.count(), 1);
            QVERIFY(r.e.isServerGone() && r.e.isOutputLost());
            QVERIFY(!r.e.isPlaying("a") && !r.e.isPlaying("b"));
            QVERIFY(r.e.findChildren<MediaPlayer*>().isEmpty());
            QVERIFY(!r.e.isBuffered(m_tone));
            return;
        }
        r.e.play(button("a", m_tone), QString());
        QPointer<MediaPlayer> player = r.player("a");
        QVERIFY(player);
        for (const qint64 gone : {qint64(0), qint64(5151)}) {
            server = gone;
            clock.advanceMs(AudioEngine::kServerCheckMs);   // an answer holds that long
            r.e.checkOutput();
            QCOMPARE(lost.count(), 1);
        }
        QVERIFY(r.e.isServerGone() && r.e.isOutputLost());
        QVERIFY(!r.slot("a"));
        QCOMPARE(r.stopped.count(), 1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(player && !player->parent());   // left alone, not deleted
        QVERIFY(!r.e.findChild<QTimer*>(QStringLiteral("audioProbe")));

        server = 4242;   // even the first server answering again changes nothing
        r.e.play(button("b", m_tone), QString());
        r.e.playRapid(button("c", m_tone), QString());
        r.e.preBuffer({m_tone});
        r.runScheduled();
        QTRY_COMPARE(r.errors.count(), 2);
        QVERIFY(r.e.findChildren<MediaPlayer*>().isEmpty());
        delete player;
    }

    void stopAllOrder()
    {
        Rig r;
        for (const char* id : {"a", "b", "c"})
            r.e.play(button(id, m_tone), QString());
        r.e.setLoopStreams(true);
        r.e.play(button("d", m_click), QString());   // on a stream of its own
        QVERIFY(r.slot("d")->stream);
        r.e.setButtonFade("b", 400);
        r.e.stop("b");
        r.player("c")->play();
        QStringList seen;
        connect(&r.e, &AudioEngine::playStopped, &r.e, [&](const QString& id) {
            QVERIFY(!r.e.slotFor(id));   // gone before it is reported
            QCOMPARE(r.all.count(), 0);
            seen << id;
        });
        r.e.stopAll();
        seen.sort();
        QCOMPARE(seen, QStringList({"a", "b", "c", "d"}));
        QCOMPARE(r.all.count(), 1);
        QVERIFY(!r.e.stopFadeTimer("b"));
        QVERIFY(r.e.playingIds().isEmpty());
        r.e.stopAll();   // nothing left: nothing reported
        QCOMPARE(r.all.count(), 1);
    }

    void panicStopsSilently()
    {
        Rig r;
        for (const char* id : {"a", "b", "c"})
            r.e.play(button(id, m_tone), QString());
        r.e.setLoopStreams(true);
        r.e.play(button("s", m_click), QString());   // on a stream of its own
        QVERIFY(r.slot("s")->stream);
        r.e.setButtonFade("a", 400);
        r.e.stop("a");
        r.e.panic();
        QCOMPARE(r.all.count(), 1);
        QCOMPARE(r.stopped.count(), 0);
        QVERIFY(r.e.playingIds().isEmpty());
        QVERIFY(!r.e.stopFadeTimer("a"));

        // From the shutdown job's pool thread it runs on the engine's thread.
        r.e.play(button("d", m_tone), QString());
        std::thread([&] { r.e.panic(); }).join();
        QVERIFY(r.slot("d"));
        QCoreApplication::sendPostedEvents(&r.e, QEvent::MetaCall);
        QVERIFY(!r.slot("d"));
        QCOMPARE(r.all.count(), 2);
        QCOMPARE(r.stopped.count(), 0);

        // At the program's close no event loop runs after: the players,
        // outputs and timers of the sounds go at once.
        r.e.play(button("e", m_tone), QString());
        r.e.setButtonFade("e", 400);
        r.e.stop("e");
        const QPointer<MediaPlayer> player = r.player("e");
        const QPointer<MediaOutput> output = r.slot("e")->output;
        const QPointer<QTimer> fade = r.e.stopFadeTimer("e");
        QVERIFY(player && output && fade);
        r.e.shutdown();
        QVERIFY(!player);
        QVERIFY(!output);
        QVERIFY(!fade);
        QVERIFY(r.e.playingIds().isEmpty());
        QCOMPARE(r.all.count(), 3);
        QCOMPARE(r.stopped.count(), 0);

        // An engine let go with a sound still on its stream ends the
        // stream's threads: they would play on, holding their connection to
        // the sound server, for as long as the process runs.
        std::weak_ptr<LoopStream::Shared> left;
        {
            AudioEngine e;
            e.play(button("s", m_click), QString());
            QVERIFY(e.slotFor("s") && e.slotFor("s")->stream);
            left = e.slotFor("s")->stream->handle();
        }
        QTRY_VERIFY(left.expired());
    }

    void notifications()
    {
        Rig r;
        r.e.notifyPlay("w");
        QCOMPARE(r.started.count(), 1);
        r.e.play(button("a", m_tone), QString());
        r.e.notifyStop("w");
        QCOMPARE(r.stopped.count(), 1);
        QCOMPARE(r.all.count(), 0);
        r.e.stop("a");
        r.e.notifyStop("w");
        QCOMPARE(r.all.count(), 2);
        // Operations on ids without a slot do nothing.
        r.e.stop("none");
        r.e.cancelFade("none");
        r.e.play(button("e", QString()), QString());
        r.e.playRapid(button("e", QString()), QString());
        QCOMPARE(r.stopped.count(), 3);
        QCOMPARE(r.started.count(), 2);
        QVERIFY(!r.e.isPlaying("e"));
        QCOMPARE(r.e.durationMs("none"), qint64(0));
    }

    void volumes()
    {
        Rig r;
        r.e.play(button("a", m_tone), QString());
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
        r.e.setButtonVolume("a", 1.5);
        QCOMPARE(r.slot("a")->volume, 1.5);
        QCOMPARE_LE(qAbs(r.out("a") - 1.0), kTol);
        r.e.setButtonVolume("a", 9);
        QCOMPARE(r.slot("a")->volume, 2.0);
        r.e.setButtonVolume("a", std::nan(""));
        QCOMPARE(r.slot("a")->volume, 0.0);
        r.e.setButtonVolume("a", 1.0);
        // The master applies once, however often it changes.
        r.e.setGlobalVolume(0.5);
        QCOMPARE_LE(qAbs(r.out("a") - 0.5), kTol);
        r.e.setGlobalVolume(0.5);
        QCOMPARE_LE(qAbs(r.out("a") - 0.5), kTol);
        r.e.setGlobalVolume(3);
        QCOMPARE(r.e.globalVolume(), 1.0);
        r.e.setGlobalVolume(-1);
        QCOMPARE_LE(r.out("a"), kTol);

        // A short sound on a stream of its own follows both as a player does.
        r.e.setLoopStreams(true);
        r.e.setGlobalVolume(0.8);
        r.e.play(button("s", m_click), QString());
        QVERIFY(r.slot("s")->stream);
        QCOMPARE_LE(qAbs(r.slot("s")->stream->level() - 0.8), kTol);
        r.e.setButtonVolume("s", 0.5);
        QCOMPARE_LE(qAbs(r.slot("s")->stream->level() - 0.4), kTol);
        r.e.setGlobalVolume(0.2);
        QCOMPARE_LE(qAbs(r.slot("s")->stream->level() - 0.1), kTol);

        r.e.setTabVolume(-1, 0.5);
        QCOMPARE(r.e.tabVolume(-1), 1.0);
        QCOMPARE(r.e.tabVolume(7), 1.0);
        r.e.setTabVolume(2, 1.7);
        QCOMPARE(r.e.tabVolume(2), 1.0);
        r.e.setTabVolume(3, 0.25);
        QCOMPARE(r.e.tabVolume(3), 0.25);
    }

    void preBufferSchedule()
    {
        Rig r;
        QList<QString> paths;
        for (int i = 0; i < 70; ++i) {
            paths << QString("/nowhere/p%1.wav").arg(i);
            if (i == 3)
                paths << QString() << QString("/nowhere/p1.wav");
        }
        r.e.preBuffer(paths);
        QCOMPARE(r.scheduled.size(), 64);
        for (int i = 0; i < 64; ++i)
            QCOMPARE(r.scheduled.at(i).ms, 20 * i);
        // The path listed twice took one of the 64: p62 is the last one made.
        r.runScheduled();
        QCOMPARE(r.e.bufferTable().size(), 63);
        QVERIFY(r.e.isBuffered("/nowhere/p62.wav"));
        QVERIFY(!r.e.isBuffered("/nowhere/p63.wav"));
        r.e.clearBuffer();

        // Paths already buffered neither count nor delay.
        r.e.preBuffer({"/nowhere/p0.wav"});
        r.runScheduled();
        QVERIFY(r.e.isBuffered("/nowhere/p0.wav"));
        r.e.preBuffer({"/nowhere/p0.wav", "/nowhere/q.wav"});
        QCOMPARE(r.scheduled.size(), 1);
        QCOMPARE(r.scheduled.at(0).ms, 0);
        r.runScheduled();
        QCOMPARE(r.e.bufferTable().size(), 2);
        QCOMPARE(r.e.bufferTable().value("/nowhere/q.wav").deviceId, QString());
        QCOMPARE(r.e.bufferTable().value("/nowhere/q.wav").output->volume(), 0.0f);
        r.e.clearBuffer();
        QVERIFY(r.e.bufferTable().isEmpty());
    }

    void preBufferBounded()
    {
        Rig r;
        QList<QString> first, second;
        for (int i = 0; i < 40; ++i) {
            first << QString("/nowhere/a%1.wav").arg(i);
            second << QString("/nowhere/b%1.wav").arg(i);
        }
        r.e.preBuffer(first);
        r.runScheduled();
        r.e.preBuffer({first.at(0), first.at(1)});   // used again: kept
        r.e.preBuffer(second);
        r.runScheduled();
        QCOMPARE(r.e.bufferTable().size(), AudioEngine::kMaxBufferEntries);
        QVERIFY(r.e.isBuffered(first.at(0)));
        QVERIFY(r.e.isBuffered(first.at(1)));
        QVERIFY(!r.e.isBuffered(first.at(2)));
        QVERIFY(!r.e.isBuffered(first.at(17)));
        QVERIFY(r.e.isBuffered(first.at(18)));
        QVERIFY(r.e.isBuffered(second.at(39)));
    }

    void adoptionByDevice()
    {
        Rig r;
        r.e.preBuffer({m_tone});
        r.runScheduled();
        MediaPlayer* ready = r.e.bufferTable().value(m_tone).player;
        QVERIFY(ready);

        // Default output on both sides: the ready player is taken over.
        r.e.play(button("a", m_tone), QString());
        QCOMPARE(r.player("a"), ready);
        QCOMPARE(ready->parent(), &r.e);
        QCOMPARE_LE(qAbs(r.out("a") - 0.85), kTol);
        QVERIFY(!r.e.isBuffered(m_tone));
        // And a new one is made half a second after the start.
        QCOMPARE(r.scheduled.size(), 1);
        QCOMPARE(r.scheduled.at(0).ms, 500);
        r.runScheduled();
        QVERIFY(r.e.isBuffered(m_tone));
        QVERIFY(r.e.bufferTable().value(m_tone).player != ready);

        // A button on a named device does not take a default-output player.
        MediaPlayer* other = r.e.bufferTable().value(m_tone).player;
        r.e.play(button("b", m_tone), "no-such-device");
        QVERIFY(r.player("b") != other);
        QVERIFY(!r.e.isBuffered(m_tone));
        QCOMPARE(r.e.cachedDeviceId(), QString("no-such-device"));
        QVERIFY(r.e.cachedDevice().isNull());   // unknown: the default output plays it
        r.runScheduled();
        QCOMPARE(r.e.bufferTable().value(m_tone).deviceId, QString("no-such-device"));

        // The default device id stands in for an empty one.
        r.e.setDefaultDevice("no-such-device");
        QCOMPARE(r.e.defaultDeviceId(), QString("no-such-device"));
        MediaPlayer* named = r.e.bufferTable().value(m_tone).player;
        r.e.play(button("c", m_tone), QString());
        QCOMPARE(r.player("c"), named);

        // A short sound is made ready again after its start, and a press
        // again at its end plays on that player, not on one made (and its
        // file opened) then.
        r.e.setDefaultDevice(QString());
        r.scheduled.clear();
        r.e.play(button("s", m_click), QString());
        QVERIFY(!r.slot("s")->stream);
        QCOMPARE(r.scheduled.size(), 1);
        QCOMPARE(r.scheduled.at(0).ms, AudioEngine::kRebufferDelayMs);
        r.runScheduled();
        MediaPlayer* spare = r.e.bufferTable().value(m_click).player;
        QVERIFY(spare);
        r.ended("s");
        r.e.playRapid(button("s", m_click), QString());
        QCOMPARE(r.player("s"), spare);
        QVERIFY(r.e.isPlaying("s"));

        // Streams are never pre-buffered.
        r.scheduled.clear();
        r.e.play(button("d", "http://localhost:9/x.mp3"), QString());
        QVERIFY(r.scheduled.isEmpty());
        QCOMPARE(r.player("d")->source(), QUrl("http://localhost:9/x.mp3"));
    }

    void primedDevice()
    {
        Rig r;
        r.e.primeDevice(QString());
        r.e.primeDevice("no-such-device");
        QVERIFY(r.scheduled.isEmpty());
        const QList<QAudioDevice> outs = r.e.audioDevices();
        if (outs.isEmpty())
            return;
        const QString id = QString::fromUtf8(outs.first().id());
        r.e.primeDevice(id);
        r.e.primeDevice(id);
        QVERIFY(r.e.isPrimed(id));
        QCOMPARE(r.scheduled.size(), 1);
        QCOMPARE(r.scheduled.at(0).ms, 30000);
        r.runScheduled();
        QVERIFY(!r.e.isPrimed(id));
        r.e.primeDevice(id);
        r.e.resetPrimedDevice(id);
        QVERIFY(!r.e.isPrimed(id));
    }

    void warmupFile()
    {
        QTemporaryDir tmp;
        const QByteArray oldTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", tmp.path().toUtf8());
        AudioEngine e;
        e.warmupBackend();
        const QString path = tmp.path() + "/TarvelloRuzoru_Cache/warmup_silence.wav";
        QCOMPARE(AudioEngine::warmupFilePath(), path);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        f.close();
        QByteArray want = QByteArray::fromHex("52494646" "44030000" "57415645" "666d7420" "10000000" "0100" "0100"
                                              "401f0000" "803e0000" "0200" "1000" "64617461" "20030000");
        want.append(QByteArray(800, '\0'));
        QCOMPARE(b.size(), 844);
        QCOMPARE(b, want);
        // A server that does not answer is not warmed up: no player is made
        // for it, nor a probe for a lost output.
        e.setServerAnsweringSource([] { return false; });
        const int players = int(Players::instance()->all().size());
        e.warmupBackend();
        QCOMPARE(int(Players::instance()->all().size()), players);
        e.setServerAnsweringSource({});

        // Present already: left as it is.
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("kept");
        f.close();
        e.warmupBackend();
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("kept"));
        f.close();

        // A folder that cannot be made ends the warm-up quietly.
        QTemporaryDir tmp2;
        QFile blocker(tmp2.path() + "/TarvelloRuzoru_Cache");
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        qputenv("TMPDIR", tmp2.path().toUtf8());
        e.warmupBackend();
        QVERIFY(!QFile::exists(tmp2.path() + "/TarvelloRuzoru_Cache/warmup_silence.wav"));
        qputenv("TMPDIR", oldTmp);
    }

    void waveform()
    {
        AudioEngine e;
        // Callers decode on a worker thread; several may ask for one path at once.
        QList<QFuture<QList<float>>> jobs;
        for (int i = 0; i < 4; ++i)
            jobs << QtConcurrent::run([&e, this] { return e.waveformData(m_tone, 64); });
        const QList<float> first = jobs.first().result();
        QCOMPARE(first.size(), 64);
        for (QFuture<QList<float>>& j : jobs)
            QCOMPARE(j.result(), first);
        QCOMPARE(first, WaveformDecoder::decode(m_tone, 64));

        const QString bad = TestSupport::tempDir() + "/noise.wav";
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a riff file at all");
        f.close();
        const QList<float> p = e.waveformData(bad, 300);
        QCOMPARE(p.size(), 300);
        for (float v : p)
            QVERIFY(v >= 0.1f && v <= 0.95f);
        QCOMPARE_LE(qAbs(p.at(0) - 0.35f), 1e-6f);
        QCOMPARE(p, AudioEngine::placeholderWaveform(300));
        QCOMPARE(e.waveformData(bad, 50), p);   // cached whatever the count
        // Saved over with a sound under the same name: the sound's peaks,
        // once the new version has been seen.
        QVERIFY(QFile::remove(bad) && QFile::copy(m_tone, bad));
        QTRY_COMPARE(KnownFiles::instance()->lastSeen(bad), FileCheck::stampOf(bad));
        QCOMPARE(e.waveformData(bad, 64), first);
        // Moved away: the peaks stay (no placeholder); back unchanged: the
        // same peaks.
        QVERIFY(QFile::rename(bad, bad + ".away"));
        QTRY_VERIFY(!KnownFiles::instance()->lastSeen(bad).exists());
        QCOMPARE(e.waveformData(bad, 64), first);
        QVERIFY(QFile::rename(bad + ".away", bad));
        QTRY_VERIFY(KnownFiles::instance()->lastSeen(bad).exists());
        QCOMPARE(e.waveformData(bad, 64), first);

        QCOMPARE(e.waveformData(m_tone, 10), first);   // cached
        QVERIFY(e.waveformData("/nowhere/x.wav", 0).isEmpty());
    }

private:
    // Another sound server answers while a sound plays: the press's refusal
    // ahead of its start (the window's, before its stops) already finds the
    // players' server gone, as play would, and says why this sound cannot
    // play; play says the same. Nothing is started, the loss is told once.
    void refusedAheadOnceGone(const QString& pressed)
    {
        ScopedFakeClock clock;
        Rig r;
        r.e.setLoopStreams(true);
        qint64 server = 4242;
        r.e.setServerIdSource([&server] { return server; });
        QSignalSpy lost(&r.e, &AudioEngine::outputLost);
        r.e.play(button("a", m_tone), QString());
        QVERIFY(r.e.isPlaying("a"));
        const ButtonData b = button("b", pressed == QLatin1String("short") ? m_click : m_tone);
        QString device;
        if (pressed == QLatin1String("second output")) {
            const QAudioDevice second = secondOutput();
            if (second.isNull())
                QSKIP("no second output listed");
            device = QString::fromUtf8(second.id());
        }
        QVERIFY(r.e.startRefusal(b).isEmpty());
        server = 5151;
        clock.advanceMs(AudioEngine::kServerCheckMs);   // an answer holds that long
        const QString why = QStringLiteral("The sound server was lost: it cannot play until the program is restarted");
        QCOMPARE(r.e.startRefusal(b), why);
        QVERIFY(r.e.isServerGone() && r.e.isOutputLost());
        QCOMPARE(lost.count(), 1);
        QVERIFY(!r.e.isPlaying("a"));
        QCOMPARE(r.e.startRefusal(b), why);
        QCOMPARE(lost.count(), 1);
        QVERIFY(!r.e.slotFor("b"));
        // What play says of the same press.
        const int startsBefore = int(r.started.count());
        r.e.playRapid(b, device);
        QTRY_COMPARE(r.errors.count(), 1);
        QCOMPARE(r.errors.first().at(1).toString(), why);
        QCOMPARE(r.started.count(), startsBefore);
        QVERIFY(!r.slot("b"));
    }
};

QTEST_GUILESS_MAIN(TstAudioEngine)
#include "tst_audioengine.moc"
