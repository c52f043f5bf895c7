#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <malloc.h>
#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <unistd.h>
#include <vector>

#include "AudioDevices.h"
#include "SoundServer.h"
#include "AudioOutput.h"
#include "DrainGuard.h"
#include "HeapUse.h"
#include "ManualOutput.h"
#include "MonoClock.h"
#include "NullOutput.h"
#include "PlatformLog.h"
#include "RenderThread.h"
#include "StandingThreads.h"
#include "WakeEvent.h"

// Every thread of this process is started through here (the program's own
// definition comes before the C library's). A thread named g_startsFrom
// (a keeper of standing threads) can be refused its starts, or have its
// start number g_holdStart held until released; the thread whose start was
// held says when its body has returned.
namespace {

std::atomic<const char*> g_startsFrom{nullptr};
std::atomic<bool> g_refuseStarts{false};
std::atomic<int> g_refusedStarts{0};
std::atomic<int> g_starts{0};
std::atomic<int> g_holdStart{0};
QSemaphore g_startHeld, g_startGoes;
std::atomic<bool> g_heldThreadEnded{false};

struct HeldBody
{
    void* (*body)(void*);
    void* arg;
};

void* heldThreadBody(void* p)
{
    const HeldBody held = *static_cast<HeldBody*>(p);
    delete static_cast<HeldBody*>(p);
    void* result = held.body(held.arg);
    g_heldThreadEnded = true;
    return result;
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*body)(void*), void* arg)
{
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    char name[16] = {0};
    pthread_getname_np(pthread_self(), name, sizeof name);
    const char* from = g_startsFrom;
    if (from && std::strcmp(from, name) == 0) {
        if (g_refuseStarts) {
            ++g_refusedStarts;
            return EAGAIN;
        }
        if (++g_starts == g_holdStart) {
            g_startHeld.release();
            g_startGoes.acquire();
            return real(thread, attr, &heldThreadBody, new HeldBody{body, arg});
        }
    }
    return real(thread, attr, body, arg);
}

namespace {

QStringList g_lines;
QMutex g_linesMx;
void captureLine(const QString& l)
{
    QMutexLocker lk(&g_linesMx);
    g_lines.append(l);
}
int linesWith(const QString& part)
{
    QMutexLocker lk(&g_linesMx);
    return int(g_lines.filter(part).size());
}

// Threads of this process named name, as the system lists them.
int threadsNamed(const QString& name)
{
    int n = 0;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(QStringLiteral("/proc/self/task/%1/comm").arg(task));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == name.toUtf8())
            ++n;
    }
    return n;
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : -1;
}

AudioOutputConfig cfg(int buffer = 4410, int period = 441)
{
    AudioOutputConfig c;
    c.bufferFrames = buffer;
    c.periodFrames = period;
    return c;
}

// Fills all free space with frames whose left sample counts up from next.
int fillFree(AudioOutput& out, qint16& next)
{
    const int pad = out.padding();
    const int n = out.bufferFrames() - pad;
    if (n <= 0)
        return 0;
    auto* p = static_cast<qint16*>(out.getBuffer(n));
    if (!p)
        return -1;
    for (int i = 0; i < n; ++i) {
        p[2 * i] = next++;
        p[2 * i + 1] = 0;
    }
    return out.releaseBuffer(n, false) ? n : -1;
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        PlatformLog::setSink(&captureLine);
        qunsetenv("TR_AUDIO_OUTPUT");
    }

    void wakeEventIsAutoReset()
    {
        WakeEvent e;
        QVERIFY(e.isValid());
        QCOMPARE(e.wait(0), WakeEvent::Result::Timeout);
        e.set();
        e.set();    // collapses with the first
        QCOMPARE(e.wait(0), WakeEvent::Result::Signalled);
        QCOMPARE(e.wait(0), WakeEvent::Result::Timeout);
        e.set();
        e.reset();
        QVERIFY(!e.tryConsume());

        // A waiter on another thread is woken by set().
        std::atomic<int> result{-1};
        std::thread t([&] { result = int(e.wait(-1)); });
        e.set();
        t.join();
        QCOMPARE(result.load(), int(WakeEvent::Result::Signalled));
    }

    void clockInjection()
    {
        const qint64 a = MonoClock::ns();
        QVERIFY(MonoClock::ns() >= a);
        {
            ScopedFakeClock fake(5000000000LL);
            QCOMPARE(MonoClock::ms(), qint64(5000));
            fake.advanceUs(1500);
            QCOMPARE(MonoClock::us(), qint64(5001500));
            QCOMPARE(MonoClock::current(), static_cast<MonoClock*>(&fake));
        }
        QCOMPARE(MonoClock::current(), MonoClock::system());
    }

    // Named threads, a join that gives up, detaching instead of killing, and
    // the priority outcome logged once.
    void renderThread()
    {
        g_lines.clear();
        QSemaphore go;
        std::atomic<bool> ran{false};
        char name[32] = {0};
        RenderThread t;
        QVERIFY(t.start("tr-render-test", [&] {
            pthread_getname_np(pthread_self(), name, sizeof name);
            go.acquire();
            ran = true;
        }));
        QVERIFY(t.isStarted());
        QVERIFY(!t.start("again", [] {}));      // one thread at a time
        QVERIFY(!t.join(20));                   // still blocked: time-out, not a kill
        QVERIFY(t.isRunning());
        go.release();
        QVERIFY(t.join(10000));
        QVERIFY(ran.load());
        QVERIFY(!t.isRunning());
        QCOMPARE(QByteArray(name), QByteArray("tr-render-test"));
        // The request ended somewhere, and that was logged exactly once.
        const QString schedName = RenderThread::schedulingName(t.scheduling());
        int logged = 0;
        for (const QString& l : g_lines)
            logged += l.contains("pro-audio scheduling") ? 1 : 0;
        QCOMPARE(logged, 1);
        RenderThread t2;
        QVERIFY(t2.start("tr-second", [] {}));
        QVERIFY(t2.join(10000));
        if (t2.scheduling() == t.scheduling()) {
            logged = 0;
            for (const QString& l : g_lines)
                logged += l.contains("pro-audio scheduling") ? 1 : 0;
            QCOMPARE(logged, 1);
        }
        QVERIFY(!RenderThread::requestRealtimeProcessClass());
        QVERIFY(!schedName.isEmpty());

        // A thread that will not end is let go with a log line; it ends
        // on its own later, holding only what it shares.
        auto gate = std::make_shared<QSemaphore>();
        auto done = std::make_shared<std::atomic<bool>>(false);
        {
            RenderThread stuck;
            QVERIFY(stuck.start("tr-stuck", [gate, done] { gate->acquire(); *done = true; }, RenderThread::Priority::Normal));
            QVERIFY(!stuck.joinOrDetach(10));
            QVERIFY(!stuck.isStarted());
        }
        bool detachedLogged = false;
        for (const QString& l : g_lines)
            detachedLogged = detachedLogged || (l.contains("tr-stuck") && l.contains("left running"));
        QVERIFY(detachedLogged);
        gate->release();
        QTRY_VERIFY_WITH_TIMEOUT(done->load(), 10000);
    }

    // The paced null output by a fake clock: each period drains exactly a
    // period of frames; a starved queue counts one underrun.
    void nullOutputPacing()
    {
        FakeClock clock;
        NullOutput out(cfg(4410, 441), &clock);
        QCOMPARE(out.backend(), AudioOutput::Backend::Null);
        qint16 next = 0;
        QCOMPARE(fillFree(out, next), 4410);
        QCOMPARE(out.padding(), 4410);
        QVERIFY(out.getBuffer(1) == nullptr);       // full
        QVERIFY(out.start());
        QCOMPARE(out.waitForPeriod(0), AudioOutput::WaitResult::Timeout);
        const qint64 periodNs = 441LL * 1000000000LL / 44100;   // 10 ms
        for (int i = 0; i < 50; ++i) {
            clock.advanceNs(periodNs);
            QCOMPARE(out.waitForPeriod(0), AudioOutput::WaitResult::Ready);
            QCOMPARE(out.padding(), 4410 - 441);
            QCOMPARE(fillFree(out, next), 441);
        }
        QCOMPARE(out.framesWritten(), qint64(4410 + 50 * 441));
        QCOMPARE(out.framesPlayed(), qint64(50 * 441));
        QCOMPARE(out.underrunCount(), quint64(0));

        // Half a period: no wake-up yet, a quarter of the frames gone.
        clock.advanceNs(periodNs / 2);
        QCOMPARE(out.waitForPeriod(0), AudioOutput::WaitResult::Timeout);
        QCOMPARE(out.padding(), 4410 - 220);

        // Nothing written for 200 ms: the queue runs dry once.
        clock.advanceNs(200LL * 1000000);
        QCOMPARE(out.padding(), 0);
        QCOMPARE(out.underrunCount(), quint64(1));
        QCOMPARE(fillFree(out, next), 4410);
        clock.advanceNs(periodNs);
        QCOMPARE(out.padding(), 4410 - 441);
        QCOMPARE(out.underrunCount(), quint64(1));

        // stop() drops the queue and wakes a waiting render thread.
        std::atomic<int> r{-1};
        std::thread waiter([&] { r = int(out.waitForPeriod(-1)); });
        out.stop();
        waiter.join();
        QCOMPARE(r.load(), int(AudioOutput::WaitResult::Ready));
        QCOMPARE(out.padding(), 0);
    }

    // The null output against the real clock, driven by a render thread: it
    // keeps pace without the test measuring time.
    void nullOutputWithRenderThread()
    {
        NullOutput out(cfg(2048, 256));
        std::atomic<bool> running{true};
        std::atomic<qint64> frames{0};
        qint16 next = 0;
        fillFree(out, next);
        QVERIFY(out.start());
        RenderThread t;
        QVERIFY(t.start("tr-null-render", [&] {
            qint16 n = 0;
            while (running.load()) {
                if (out.waitForPeriod(100) != AudioOutput::WaitResult::Ready)
                    continue;
                const int w = fillFree(out, n);
                if (w > 0)
                    frames += w;
            }
        }));
        QTRY_VERIFY_WITH_TIMEOUT(frames.load() > 4096, 10000);
        running = false;
        out.wake();
        QVERIFY(t.join(5000));
        QVERIFY(out.padding() <= 2048);
    }

    void manualOutput()
    {
        qputenv("TR_AUDIO_OUTPUT", "manual");
        QVERIFY(AudioOutput::backendForced());
        QString err;
        std::unique_ptr<AudioOutput> opened = AudioOutput::open(cfg(1000, 100), &err);
        QVERIFY(opened);
        QCOMPARE(opened->backend(), AudioOutput::Backend::Manual);
        ManualOutput* m = ManualOutput::lastOpened();
        QCOMPARE(static_cast<AudioOutput*>(m), opened.get());
        QCOMPARE(AudioOutput::mixRate(QByteArray()), 48000);

        qint16 next = 1;
        QCOMPARE(fillFree(*m, next), 1000);
        QVERIFY(m->getBuffer(1) == nullptr);
        QVERIFY(m->start());
        QCOMPARE(m->waitForPeriod(0), AudioOutput::WaitResult::Timeout);
        QCOMPARE(m->consume(300), 300);
        QCOMPARE(m->waitForPeriod(0), AudioOutput::WaitResult::Ready);
        QCOMPARE(m->padding(), 700);
        // A silent release queues zeros whatever the buffer holds.
        auto* p = static_cast<qint16*>(m->getBuffer(100));
        QVERIFY(p);
        p[0] = 12345;
        QVERIFY(m->releaseBuffer(100, true));
        // Releasing fewer frames than taken queues only those.
        p = static_cast<qint16*>(m->getBuffer(200));
        for (int i = 0; i < 400; ++i)
            p[i] = 7;
        QVERIFY(m->releaseBuffer(50, false));
        QCOMPARE(m->framesWritten(), qint64(1150));
        QCOMPARE(m->consume(5000), 850);
        const QByteArray played = m->played();
        QCOMPARE(played.size(), 1150 * 4);
        const auto* s = reinterpret_cast<const qint16*>(played.constData());
        QCOMPARE(s[0], qint16(1));
        QCOMPARE(s[2 * 999], qint16(1000));
        QCOMPARE(s[2 * 1000], qint16(0));
        QCOMPARE(s[2 * 1100], qint16(7));
        QCOMPARE(m->written(), played);

        m->loseDevice();
        QVERIFY(m->isDeviceLost());
        QCOMPARE(m->padding(), -1);
        QVERIFY(m->getBuffer(1) == nullptr);
        QCOMPARE(m->waitForPeriod(0), AudioOutput::WaitResult::DeviceLost);
        opened.reset();
        QVERIFY(ManualOutput::lastOpened() == nullptr);

        qputenv("TR_AUDIO_OUTPUT", "null");
        opened = AudioOutput::open(cfg(), &err);
        QVERIFY(opened);
        QCOMPARE(opened->backend(), AudioOutput::Backend::Null);
        qunsetenv("TR_AUDIO_OUTPUT");
    }

    void configChecks()
    {
        QString err;
        AudioOutputConfig c = cfg(10, 4);
        QVERIFY(normaliseOutputConfig(c, &err));
        QCOMPARE(c.periodFrames, 16);
        QCOMPARE(c.bufferFrames, 32);
        c = cfg();
        c.channels = 0;
        QVERIFY(!AudioOutput::openBackend(AudioOutput::Backend::Null, c, &err));
        QVERIFY(err.contains("channel"));
        c = cfg();
        c.rate = 0;
        QVERIFY(!AudioOutput::openBackend(AudioOutput::Backend::Manual, c, &err));
        c = cfg();
        c.format = SampleFormat::Float32;
        auto out = AudioOutput::openBackend(AudioOutput::Backend::Null, c, &err);
        QVERIFY(out);
        QCOMPARE(out->bytesPerFrame(), 8);
    }

    // Where the players' sound server is asked who it is, and what it says.
    void soundServerAddress_data()
    {
        QTest::addColumn<QByteArray>("pulseServer");
        QTest::addColumn<QString>("socket");
        QTest::addColumn<int>("answer");   // -1 cannot tell, 0 nobody, 1 a process
        QTest::newRow("unix address") << QByteArray("unix:/nonexistent/native") << "/nonexistent/native" << 0;
        QTest::newRow("plain path") << QByteArray("/nonexistent/x") << "/nonexistent/x" << 0;
        QTest::newRow("machine id, then a list") << QByteArray("{abc}unix:/nonexistent/y tcp:host")
                                                 << "/nonexistent/y" << 0;
        QTest::newRow("network address") << QByteArray("tcp:localhost:4713") << "" << -1;
        QTest::newRow("unterminated machine id") << QByteArray("{abc") << "" << -1;
        QTest::newRow("the test server") << qgetenv("PULSE_SERVER") << "" << 1;
    }
    void soundServerAddress()
    {
        QFETCH(QByteArray, pulseServer);
        QFETCH(QString, socket);
        QFETCH(int, answer);
        if (answer == 1 && !pulseServer.startsWith("unix:"))
            QSKIP("no local test sound server");
        const QByteArray saved = qgetenv("PULSE_SERVER");
        qputenv("PULSE_SERVER", pulseServer);
        const QString path = SoundServer::socketPath();
        const qint64 id = SoundServer::currentId();
        qputenv("PULSE_SERVER", saved);
        if (answer == 1) {
            QCOMPARE_GT(id, qint64(0));
            QVERIFY(id != QCoreApplication::applicationPid());
            return;
        }
        QCOMPARE(path, socket);
        QCOMPARE(id, qint64(answer));
    }

    // Qt's output on the sound server asks for a drain when its stream runs
    // dry and names itself for the answer; it may be closed and freed before
    // the answer comes. Here a stream with sound still to play asks for a
    // drain and is disconnected as the answer is on its way (the server
    // answers once the sound has played, or at once when the stream goes):
    // the answer never reaches its asker, and is seen to be dropped. A server
    // that sends no answer at all leaves nothing to drop: then another round.
    void drainAnswerAfterTheStreamIsGone()
    {
        if (SoundServer::currentId() <= 0)
            QSKIP("no sound server of this test's own");
        pa_mainloop* loop = pa_mainloop_new();
        pa_context* ctx = pa_context_new(pa_mainloop_get_api(loop), "tst_platform");
        auto cleanup = qScopeGuard([&] {
            pa_context_disconnect(ctx);
            pa_context_unref(ctx);
            pa_mainloop_free(loop);
        });
        const auto turnUntil = [loop](const std::function<bool()>& done) {
            for (int i = 0; i < 100000 && !done(); ++i)
                pa_mainloop_iterate(loop, 1, nullptr);
            return done();
        };
        QCOMPARE(pa_context_connect(ctx, nullptr, PA_CONTEXT_NOFLAGS, nullptr), 0);
        QVERIFY(turnUntil([ctx] { return !PA_CONTEXT_IS_GOOD(pa_context_get_state(ctx)) ||
                                          pa_context_get_state(ctx) == PA_CONTEXT_READY; }));
        QCOMPARE(pa_context_get_state(ctx), PA_CONTEXT_READY);
        struct Round
        {
            pa_stream* stream = nullptr;
            bool disconnected = false;
            bool answeredAfter = false;
        };
        const std::uint64_t dropped = DrainGuard::droppedAnswers();
        const pa_sample_spec spec{PA_SAMPLE_S16LE, 44100, 2};
        for (int round = 0; round < 30 && DrainGuard::droppedAnswers() == dropped; ++round) {
            Round r;
            r.stream = pa_stream_new(ctx, "drain", &spec, nullptr);
            QVERIFY(r.stream);
            QCOMPARE(pa_stream_connect_playback(r.stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr), 0);
            QVERIFY(turnUntil([&r] { return pa_stream_get_state(r.stream) != PA_STREAM_CREATING; }));
            QCOMPARE(pa_stream_get_state(r.stream), PA_STREAM_READY);
            // Sound to play, so that the server answers once it has played.
            const QByteArray silence(int(pa_usec_to_bytes(50000, &spec)), 0);
            QCOMPARE(pa_stream_write(r.stream, silence.constData(), size_t(silence.size()), nullptr, 0,
                                     PA_SEEK_RELATIVE), 0);
            const auto answer = [](pa_stream*, int, void* d) {
                auto* r = static_cast<Round*>(d);
                r->answeredAfter = r->disconnected;
            };
            pa_operation* drain = pa_stream_drain(r.stream, answer, &r);
            QVERIFY(drain);
            QCOMPARE(DrainGuard::waiting(), 1);
            // The request goes out; the stream is let go once something has
            // come back (as a rule the answer), before that is read.
            pa_mainloop_iterate(loop, 0, nullptr);
            const bool held = pa_operation_get_state(drain) == PA_OPERATION_RUNNING;
            if (held) {
                QVERIFY(pa_mainloop_prepare(loop, -1) >= 0);
                QVERIFY(pa_mainloop_poll(loop) >= 0);
            }
            r.disconnected = true;
            pa_stream_disconnect(r.stream);
            if (held)
                QVERIFY(pa_mainloop_dispatch(loop) >= 0);
            QVERIFY(turnUntil([&r, drain] {
                return pa_stream_get_state(r.stream) == PA_STREAM_TERMINATED &&
                       pa_operation_get_state(drain) != PA_OPERATION_RUNNING;
            }));
            QVERIFY2(!r.answeredAfter, "a drain's answer reached its asker after its stream was let go");
            QCOMPARE(DrainGuard::waiting(), 0);
            pa_operation_unref(drain);
            pa_stream_unref(r.stream);
        }
        QCOMPARE_GT(DrainGuard::droppedAnswers(), dropped);
        QCOMPARE_GE(DrainGuard::guardedDrains(), std::uint64_t(1));
    }

    // Threads kept standing for presses: a burst leaves no more than
    // kMaxIdle idle, counting one the keeper started while the burst was
    // busy and that came up only after; with no thread to be had, the
    // keeper says so once a spell, however often it tries.
    void standingThreads_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("a burst of 20 jobs, a start held through it") << "tr-st-burst";
        QTest::newRow("no thread to be had, twice") << "tr-st-none";
    }
    void standingThreads()
    {
        QFETCH(QString, name);
        g_startsFrom = qstrdup(qPrintable(name + QStringLiteral("-k")));   // read by threads that outlive the row
        const auto unhook = qScopeGuard([] {
            g_refuseStarts = false;
            g_startsFrom = nullptr;
        });
        auto* set = new StandingThreads(name);   // lives as long as the process
        auto gate = std::make_shared<QSemaphore>();
        auto running = std::make_shared<std::atomic<int>>(0);
        auto done = std::make_shared<std::atomic<int>>(0);
        const auto job = [gate, running, done] {
            ++*running;
            gate->acquire();
            ++*done;
        };
        if (name == QLatin1String("tr-st-burst")) {
            // Each job holds a thread: 20 of them, and kIdle idle beside
            // them, the last of which is held in its start.
            constexpr int kJobs = 20;
            g_starts = 0;
            g_holdStart = kJobs + StandingThreads::kIdle;
            for (int i = 0; i < kJobs; ++i)
                QVERIFY(set->run(job));
            QVERIFY(g_startHeld.tryAcquire(1, 10000));
            QTRY_COMPARE(running->load(), kJobs);
            QTRY_COMPARE(threadsNamed(name), kJobs + 1);
            gate->release(kJobs);
            QTRY_COMPARE(done->load(), kJobs);
            QTRY_COMPARE(threadsNamed(name), StandingThreads::kMaxIdle);
            g_startGoes.release();
            QTRY_VERIFY(g_heldThreadEnded.load());
            QTRY_COMPARE(threadsNamed(name), StandingThreads::kMaxIdle);
            return;
        }
        set->prepare();
        QTRY_COMPARE(threadsNamed(name), StandingThreads::kIdle);
        const QString told = QStringLiteral("cannot start a thread of %1").arg(name);
        int jobs = 0;
        for (int spell = 1; spell <= 2; ++spell) {
            g_refuseStarts = true;
            const int refused = g_refusedStarts;
            // One job beyond the idle threads: it waits for a start that
            // fails, again and again.
            for (int i = 0; i < StandingThreads::kIdle + 1; ++i, ++jobs)
                QVERIFY(set->run(job));
            QTRY_VERIFY_WITH_TIMEOUT(g_refusedStarts >= refused + 3, 20000);
            QCOMPARE(linesWith(told), spell);
            g_refuseStarts = false;
            QTRY_COMPARE(running->load(), jobs);
        }
        gate->release(jobs);
        QTRY_COMPARE(done->load(), jobs);
    }

    // The heap hands back what it frees: a large block comes from the heap
    // and goes back with its free; what lies free below a block still in
    // use goes back with the trim asked for after players are let go.
    void heapUse()
    {
        HeapUse::limitRetention();
        constexpr size_t kMiB = 1024 * 1024;
        const size_t large = size_t(HeapUse::kMmapBytes) - 2 * kMiB;
        const struct mallinfo2 before = mallinfo2();
        void* block = malloc(large);
        QVERIFY(block);
        std::memset(block, 1, large);
        QCOMPARE(mallinfo2().hblks, before.hblks);   // not mapped on its own
        free(block);
        QCOMPARE_LE(mallinfo2().arena, before.arena + kMiB);

        // The last block keeps the others below the heap's top.
        std::vector<void*> blocks(65);
        for (void*& b : blocks) {
            b = malloc(kMiB);
            QVERIFY(b);
            std::memset(b, 1, kMiB);
        }
        void* pin = blocks.back();
        blocks.pop_back();
        for (void* b : blocks)
            free(b);
        const qint64 held = residentBytes();
        const int trims = HeapUse::trimsDone();
        HeapUse::trimSoon();
        QTRY_VERIFY_WITH_TIMEOUT(HeapUse::trimsDone() > trims, HeapUse::kTrimDelayMs + 20000);
        QCOMPARE_LT(residentBytes(), held - qint64(32 * kMiB));
        free(pin);
    }

    void deviceIdMapping()
    {
        QCOMPARE(AudioDevices::alsaNameForId(QByteArray()), QString("default"));
        QCOMPARE(AudioDevices::alsaNameForId("default"), QString("default"));
        QCOMPARE(AudioDevices::alsaNameForId("hw:0,0"), QString("hw:0,0"));
        QCOMPARE(AudioDevices::alsaNameForId("plughw:CARD=PCH,DEV=0"), QString("plughw:CARD=PCH,DEV=0"));
        // Nothing that could smuggle ALSA configuration syntax through.
        QCOMPARE(AudioDevices::alsaNameForId("x;{type file}"), QString("default"));
        QCOMPARE(AudioDevices::alsaNameForId("a b"), QString("default"));
        const QString sink = AudioDevices::alsaNameForId("alsa_output.pci-0000_00_1f.3.analog-stereo");
        if (AudioDevices::hasPulsePlugin())
            QCOMPARE(sink, QString("pulse:DEVICE=alsa_output.pci-0000_00_1f.3.analog-stereo"));
        else
            QCOMPARE(sink, QString("default"));
        const QList<AudioDevices::Output> outs = AudioDevices::outputs();
        QVERIFY(!outs.isEmpty());
        QCOMPARE(outs.first().alsaName, QString("default"));

        // Exclusive streams: the card the id names, never another one.
        QCOMPARE(AudioDevices::hardwareNameForId("hw:2,0"), QString("hw:2,0"));
        QCOMPARE(AudioDevices::hardwareNameForId("plughw:CARD=PCH,DEV=3"), QString("hw:CARD=PCH,DEV=3"));
        QCOMPARE(AudioDevices::hardwareNameForId("sysdefault:CARD=PCH"), QString("hw:CARD=PCH,DEV=0"));
        QCOMPARE(AudioDevices::hardwareNameForId("front:CARD=USB,DEV=1"), QString("hw:CARD=USB,DEV=1"));
        QCOMPARE(AudioDevices::hardwareNameForId("dmix:1,2"), QString("hw:CARD=1,DEV=2"));
        QVERIFY(AudioDevices::hardwareNameForId("alsa_output.usb-headset.analog-stereo").isEmpty());
        QVERIFY(AudioDevices::hardwareNameForId("surround51:CARD=PCH,DEV=0").isEmpty());
        QVERIFY(AudioDevices::hardwareNameForId("x;{type file}").isEmpty());
        QVERIFY(AudioDevices::hardwareNameForId("pulse").isEmpty());
        QString firstCard;
        for (const AudioDevices::Output& o : outs)
            if (firstCard.isEmpty() && o.alsaName.startsWith("hw:"))
                firstCard = o.alsaName;
        QCOMPARE(AudioDevices::hardwareNameForId(QByteArray()), firstCard);
        QCOMPARE(AudioDevices::hardwareNameForId("default"), firstCard);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
