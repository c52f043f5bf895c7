#include <QtEndian>
#include <QtTest>

#include <cmath>

#include "DrumEngine.h"
#include "DrumStream.h"
#include "OpLog.h"
#include "PadTestUtil.h"

namespace {

constexpr qint64 MiB = 1024 * 1024;



QByteArray mixFrames(DrumEngine& e, int frames)
{
    QByteArray b(frames * 4, Qt::Uninitialized);
    e.stream()->mix(b.data(), b.size());
    return b;
}

// Log lines written since the mark was taken, oldest first.
class LogMark
{
public:
    LogMark() : m_at(OpLog::totalWritten()) {}
    QStringList lines() const
    {
        const int n = std::min(OpLog::totalWritten() - m_at, OpLog::kCapacity);
        QStringList l = OpLog::entriesNewestFirst().mid(0, n);
        std::reverse(l.begin(), l.end());
        return l;
    }
    bool has(const QString& text) const
    {
        for (const QString& l : lines())
            if (l.contains(text))
                return true;
        return false;
    }

private:
    int m_at;
};

AudioOutputConfig drumCfg(SampleFormat f = SampleFormat::S16)
{
    AudioOutputConfig c;
    c.format = f;
    c.rate = 44100;
    c.channels = 2;
    c.bufferFrames = 4410;
    c.periodFrames = 441;
    return c;
}

DrumEngine::RenderContext contextFor(DrumEngine& e, std::shared_ptr<AudioOutput> out,
                                     std::shared_ptr<std::atomic<int>> gen)
{
    DrumEngine::RenderContext c;
    c.out = std::move(out);
    c.stream = std::shared_ptr<DrumStream>(e.stream(), [](DrumStream*) {}); // the engine owns it
    c.running = std::make_shared<std::atomic<bool>>(true);
    c.generation = std::move(gen);
    c.startGeneration = c.generation->load();
    c.bufferFrames = c.out->bufferFrames();
    if (c.out->config().format == SampleFormat::Float32)
        c.scratch.resize(size_t(c.bufferFrames) * 2);
    return c;
}

} // namespace

class TstDrumEngine : public QObject
{
    Q_OBJECT
private slots:
    // --- the pad cache ---------------------------------------------------

    void preloadReplacesAndCounts()
    {
        DrumEngine e;
        e.preload(QString(), pcm16(10, 1), 1.0f);
        e.preload(QStringLiteral("a"), QByteArray(), 1.0f);
        QCOMPARE(e.cachedBytes(), qint64(0));

        e.preload(QStringLiteral("a"), pcm16(1000, 1), 1.0f);
        e.preload(QStringLiteral("b"), pcm16(500, 1), 1.0f);
        e.preload(QStringLiteral("a"), pcm16(200, 1), 1.0f);
        QCOMPARE(e.cachedBytes(), qint64(700 * 4));
        QVERIFY(e.isReady(QStringLiteral("a")));
        QVERIFY(!e.isReady(QString()));
        // A stored-again pad counts as the newest.
        QCOMPARE(e.cachedIds(), QStringList({"b", "a"}));

        e.evictButton(QStringLiteral("b"));
        QVERIFY(!e.isReady(QStringLiteral("b")));
        QCOMPARE(e.cachedBytes(), qint64(200 * 4));
        e.clearAll();
        QCOMPARE(e.cachedBytes(), qint64(0));
        QVERIFY(e.cachedIds().isEmpty());
        QVERIFY(!e.isReady(QStringLiteral("a")));
    }

    void cacheEvictsOldestInInsertionOrder()
    {
        DrumEngine e;
        const QByteArray three(3 * MiB, '\1');
        const QStringList ids = {"zeta", "alpha", "mu", "beta", "omega", "kappa"};
        for (const QString& id : ids)
            e.preload(id, three, 1.0f);
        QCOMPARE(e.cachedBytes(), 18 * MiB);

        // 18 + 3 > 20 MiB: the oldest go until the total with the new pad is
        // at most 10 MiB.
        e.preload(QStringLiteral("new"), three, 1.0f);
        QCOMPARE(e.cachedIds(), QStringList({"omega", "kappa", "new"}));
        QCOMPARE(e.cachedBytes(), 9 * MiB);
        for (const QString& id : ids.mid(0, 4)) {
            QVERIFY(!e.isReady(id));
            e.triggerDirect(id, 1.0f); // gone from the fast table too
        }
        QCOMPARE(e.stream()->activeVoiceCount(), 0);
        e.triggerDirect(QStringLiteral("omega"), 1.0f);
        QCOMPARE(e.stream()->activeVoiceCount(), 1);
    }

    void oversizedPadEmptiesTheCache()
    {
        DrumEngine e;
        for (int i = 0; i < 5; ++i)
            e.preload(QString::number(i), QByteArray(2 * MiB, '\1'), 1.0f);
        e.preload(QStringLiteral("big"), QByteArray(11 * MiB, '\1'), 1.0f);
        QCOMPARE(e.cachedIds(), QStringList({"big"}));
        QCOMPARE(e.cachedBytes(), 11 * MiB);
        // Below the high mark nothing is evicted, however large.
        e.preload(QStringLiteral("small"), QByteArray(MiB, '\1'), 1.0f);
        QCOMPARE(e.cachedIds().size(), 2);
    }

    // --- starting, stopping, levels --------------------------------------

    void triggerLevelsAreClampedAndLogged()
    {
        DrumEngine e;
        e.preload(QStringLiteral("loud"), pcm16(100, 1000), 2.5f);
        LogMark mark;
        e.triggerDirect(QStringLiteral("loud"), 1.0f);
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] WARNING: volume out of range: 2.5")));
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 2000);

        e.stopAll();
        e.preload(QStringLiteral("neg"), pcm16(100, 1000), -1.0f);
        e.triggerDirect(QStringLiteral("neg"), 1.0f);
        QVERIFY(mark.has(QStringLiteral("volume out of range: -1")));
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 0);
        QVERIFY(e.isPlaying(QStringLiteral("neg")));

        // Master volume scales the start: 2.5 x 0.5 = 1.25, within range.
        e.stopAll();
        e.setVolume(0.5f);
        e.triggerDirect(QStringLiteral("loud"));
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 1250);
        e.setVolume(7.0f);
        QCOMPARE(e.volume(), 1.0f);

        // Unknown and empty ids start nothing.
        e.stopAll();
        e.triggerDirect(QStringLiteral("nope"), 1.0f);
        e.triggerDirect(QString(), 1.0f);
        QCOMPARE(e.stream()->activeVoiceCount(), 0);
    }

    void pressesOverlapAndStopTogether()
    {
        DrumEngine e;
        e.preload(QStringLiteral("p"), pcm16(1000, 100), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        QCOMPARE(e.stream()->activeVoiceCount(), 2);
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 200);

        e.setVolumeForId(QStringLiteral("p"), 0.5f);
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 100);
        e.setVolumeForId(QStringLiteral("p"), 9.0f); // clamped to 2.0
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 400);
        e.setVolumeForId(QStringLiteral("p"), std::nanf("")); // silence, not noise
        QCOMPARE(int(sample16(mixFrames(e, 1), 0)), 0);
        e.setVolumeForId(QStringLiteral("p"), 1.0f);

        e.stopById(QStringLiteral("p"));
        QVERIFY(!e.isPlaying(QStringLiteral("p")));
        QCOMPARE(e.stream()->activeVoiceCount(), 0);
    }

    void evictedPadPlaysToItsEnd()
    {
        DrumEngine e;
        e.preload(QStringLiteral("p"), pcm16(300, 100), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        e.evictButton(QStringLiteral("p"));
        QVERIFY(!e.isReady(QStringLiteral("p")));
        QVERIFY(!e.isPlaying(QStringLiteral("p"))); // no longer known by id
        QCOMPARE(e.stream()->activeVoiceCount(), 1);
        const QByteArray out = mixFrames(e, 400);
        QCOMPARE(int(sample16(out, 299)), 100);
        QCOMPARE(int(sample16(out, 300)), 0);
        QCOMPARE(e.stream()->activeVoiceCount(), 0);
    }

    void fadeStopOf100msEndsIn4410Frames()
    {
        DrumEngine e;
        e.preload(QStringLiteral("p"), pcm16(44100, 20000), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        e.fadeStop(QStringLiteral("p"), 0.0); // nothing
        e.fadeStop(QStringLiteral("p"), 100.0);
        QByteArray out = mixFrames(e, 4409);
        QVERIFY(e.isPlaying(QStringLiteral("p")));
        QVERIFY(sample16(out, 4408) > 0);
        out = mixFrames(e, 1);
        QCOMPARE(int(sample16(out, 0)), 0);
        QVERIFY(!e.isPlaying(QStringLiteral("p")));
    }

    // --- render passes on a manual endpoint -------------------------------

    void renderPassKeepsTheBufferFull()
    {
        DrumEngine e;
        e.preload(QStringLiteral("p"), pcm16(1000, 300), 1.0f);
        auto out = std::make_shared<ManualOutput>(drumCfg());
        auto gen = std::make_shared<std::atomic<int>>(5);
        DrumEngine::RenderContext ctx = contextFor(e, out, gen);
        QVERIFY(out->start());

        e.triggerDirect(QStringLiteral("p"), 1.0f);
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        QCOMPARE(out->framesWritten(), qint64(4410));
        QByteArray w = out->written();
        QCOMPARE(int(sample16(w, 0)), 300);
        QCOMPARE(int(sample16(w, 999)), 300);
        QCOMPARE(int(sample16(w, 1000)), 0);

        // Full buffer: a pass writes nothing.
        const int releases = out->releaseCount();
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        QCOMPARE(out->releaseCount(), releases);

        // The device played 441 frames: exactly that much is topped up.
        out->consume(441);
        e.triggerDirect(QStringLiteral("p"), 0.5f);
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        QCOMPARE(out->framesWritten(), qint64(4410 + 441));
        QCOMPARE(out->framesQueued(), qint64(4410));
        w = out->written();
        QCOMPARE(int(sample16(w, 4410)), 150);

        // While silenced, silence goes out and the voice waits.
        e.stream()->setSilenced(true);
        out->consume(100);
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        QCOMPARE(out->written().right(400), QByteArray(400, '\0'));
        e.stream()->setSilenced(false);

        // A newer output on the way: silence, then the thread leaves.
        out->consume(100);
        gen->fetch_add(1);
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Leave);
        QCOMPARE(out->written().right(400), QByteArray(400, '\0'));

        // A cleared running flag ends the thread before touching the device.
        ctx.startGeneration = gen->load();
        ctx.running->store(false);
        out->consume(100);
        const qint64 before = out->framesWritten();
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Leave);
        QCOMPARE(out->framesWritten(), before);
    }

    void floatEndpointGetsConvertedFrames()
    {
        DrumEngine e;
        e.preload(QStringLiteral("p"), pcm16(10, 16384), 1.0f);
        auto out = std::make_shared<ManualOutput>(drumCfg(SampleFormat::Float32));
        DrumEngine::RenderContext ctx = contextFor(e, out, std::make_shared<std::atomic<int>>(0));
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        const QByteArray w = out->written();
        QCOMPARE(w.size(), 4410 * 8);
        const float* f = reinterpret_cast<const float*>(w.constData());
        QCOMPARE(f[0], 0.5f);
        QCOMPARE(f[19], 0.5f);
        QCOMPARE(f[20], 0.0f);
    }

    void underrunIsRidenLostDeviceEndsThePass()
    {
        DrumEngine e;
        auto out = std::make_shared<ManualOutput>(drumCfg());
        DrumEngine::RenderContext ctx = contextFor(e, out, std::make_shared<std::atomic<int>>(0));
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        out->consume(4410);
        out->injectUnderrun();
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Continue);
        QCOMPARE(out->framesQueued(), qint64(4410));
        QCOMPARE(out->underrunCount(), quint64(1));

        out->consume(441);
        out->loseDevice();
        QCOMPARE(DrumEngine::renderPass(ctx), DrumEngine::Pass::Leave);
    }

    // --- the engine's outputs and its render thread -----------------------

    void initializeOpensOnceAndRendersOnDeviceWakeups()
    {
        DrumEngine e;
        int opened = 0;
        e.setOutputFactory([&](int backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            ++opened;
            if (backend != int(AudioOutput::Backend::Manual))
                return nullptr;
            return std::make_unique<ManualOutput>(c);
        });
        LogMark mark;
        e.initialize();
        QCOMPARE(e.outputKind(), DrumEngine::OutputKind::Endpoint);
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] WASAPI shared started 44100Hz bufFrames=4410")));
        auto* out = static_cast<ManualOutput*>(e.output());
        QCOMPARE(out->config().format, SampleFormat::S16);
        QCOMPARE(out->bufferFrames(), 4410);
        // Started on a buffer of silence.
        QCOMPARE(out->written(), QByteArray(4410 * 4, '\0'));
        QCOMPARE(out->startCount(), 1);
        QTRY_VERIFY(e.isRenderThreadRunning());

        e.preload(QStringLiteral("p"), pcm16(100, 777), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        out->consume(441);
        QTRY_COMPARE(out->framesWritten(), qint64(4410 + 441));
        QCOMPARE(int(sample16(out->written(), 4410)), 777);

        e.initialize(); // once only
        QCOMPARE(opened, 1);
        QCOMPARE(e.outputKind(), DrumEngine::OutputKind::Endpoint);
    }

    void shutdownEndsTheThreadThroughTheWakeEvent()
    {
        auto e = std::make_unique<DrumEngine>();
        int opened = 0;
        e->setOutputFactory([&](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            ++opened;
            return std::make_unique<WakeOnlyOutput>(c);
        });
        e->initialize();
        QTRY_VERIFY(e->isRenderThreadRunning());

        // The wait has no time limit: only the wake event can end it.
        LogMark mark;
        e->reinitialize();
        QVERIFY(!mark.has(QStringLiteral("timeout")));
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] WASAPI shutdown complete")));
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] reinitialize: complete")));
        QCOMPARE(opened, 2);
        QTRY_VERIFY(e->isRenderThreadRunning());

        e.reset(); // the destructor stops it the same way
        QVERIFY(!mark.has(QStringLiteral("timeout")));
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] Destructor: cleanup complete")));
    }

    void stuckThreadIsDetachedNotKilled()
    {
        auto probe = std::make_shared<StuckOutput::Probe>();
        DrumEngine e;
        e.setOutputFactory([&](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<StuckOutput>(c, probe);
        });
        e.initialize();
        QTRY_COMPARE(probe->waiting.load(), 1);

        LogMark mark;
        e.setQtSinkEnabled(false);
        e.setOutputFactory(nullptr);
        e.setOutputFactory([](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<ManualOutput>(c);
        });
        e.reinitialize();
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] WASAPI thread timeout, detaching")));
        QCOMPARE(e.outputKind(), DrumEngine::OutputKind::Endpoint);
        QVERIFY(!probe->destroyed.load()); // the stuck thread still holds its endpoint

        // Its next wake-up ends it, and its endpoint goes with it.
        probe->gate.release();
        QTRY_VERIFY(probe->destroyed.load());
    }

    void fallsBackToTheNullOutput()
    {
        DrumEngine e;
        e.setQtSinkEnabled(false);
        e.setOutputFactory([](int backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            if (backend != int(AudioOutput::Backend::Null))
                return nullptr;
            return std::make_unique<ManualOutput>(c); // stands in for the paced null output
        });
        LogMark mark;
        e.initialize();
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: WASAPI failed, falling back to Qt")));
        QVERIFY(mark.has(QStringLiteral("no sound output")));
        QCOMPARE(e.outputKind(), DrumEngine::OutputKind::Null);

        // Pads still run, and still end.
        auto* out = static_cast<ManualOutput*>(e.output());
        e.preload(QStringLiteral("p"), pcm16(200, 5), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        QVERIFY(e.isPlaying(QStringLiteral("p")));
        out->consume(441);
        QTRY_VERIFY(!e.isPlaying(QStringLiteral("p")));
    }

    void lostDeviceEndsTheThreadWithALogLine()
    {
        DrumEngine e;
        e.setOutputFactory([](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<ManualOutput>(c);
        });
        e.initialize();
        QTRY_VERIFY(e.isRenderThreadRunning());
        LogMark mark;
        static_cast<ManualOutput*>(e.output())->loseDevice();
        QTRY_VERIFY(!e.isRenderThreadRunning());
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] render thread ended: output device lost")));
        // A re-initialisation brings a fresh output.
        e.reinitialize();
        QTRY_VERIFY(e.isRenderThreadRunning());
    }

    void reinitializeDuringReinitializeIsSkipped()
    {
        DrumEngine e;
        LogMark mark;
        bool inner = false;
        e.setOutputFactory([&](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            if (!inner) {
                inner = true;
                e.reinitialize(); // arrives while the outer one runs
            }
            return std::make_unique<ManualOutput>(c);
        });
        e.reinitialize();
        QVERIFY(mark.has(QStringLiteral("[DrumEngine] reinitialize: already in progress, skipping")));
        QCOMPARE(mark.lines().filter(QStringLiteral("reinitialize: complete")).size(), 1);
        QCOMPARE(e.outputKind(), DrumEngine::OutputKind::Endpoint);

        // Voices are stopped across a re-initialisation; the pads stay.
        e.preload(QStringLiteral("p"), pcm16(100000, 5), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        e.reinitialize();
        QVERIFY(!e.isPlaying(QStringLiteral("p")));
        QVERIFY(e.isReady(QStringLiteral("p")));
    }

    void padsRunOnTheSystemOutput()
    {
        // Whatever this machine has: ALSA (a sound server's null sink under
        // scripts/test), else the Qt sink, else the paced null output.
        qunsetenv("TR_AUDIO_OUTPUT");
        DrumEngine e;
        e.initialize();
        qputenv("TR_AUDIO_OUTPUT", "manual");
        QVERIFY(e.outputKind() != DrumEngine::OutputKind::None);
        if (e.outputKind() != DrumEngine::OutputKind::QtSink)
            QTRY_VERIFY(e.isRenderThreadRunning());
        e.preload(QStringLiteral("p"), pcm16(4410, 1000), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        QVERIFY(e.isPlaying(QStringLiteral("p")));
        QTRY_VERIFY_WITH_TIMEOUT(!e.isPlaying(QStringLiteral("p")), 10000);
    }

    void qtSinkPullsTheStreamWhenTheEndpointFails()
    {
        DrumEngine e;
        e.setOutputFactory([](int, const AudioOutputConfig&) { return std::unique_ptr<AudioOutput>(); });
        e.initialize();
        if (e.outputKind() != DrumEngine::OutputKind::QtSink)
            QSKIP("no Qt audio output on this machine");
        QVERIFY(e.output() == nullptr);
        e.preload(QStringLiteral("p"), pcm16(4410, 1000), 1.0f);
        e.triggerDirect(QStringLiteral("p"), 1.0f);
        QTRY_VERIFY_WITH_TIMEOUT(!e.isPlaying(QStringLiteral("p")), 10000);
    }
};

QTEST_GUILESS_MAIN(TstDrumEngine)
#include "tst_drumengine.moc"
