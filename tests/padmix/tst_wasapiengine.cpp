#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include <cmath>

#include "AppSettings.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PadTestUtil.h"
#include "TestSupport.h"
#include "WasapiEngine.h"

namespace {



int newLogLines(int mark, const QString& text)
{
    const int n = std::min(OpLog::totalWritten() - mark, OpLog::kCapacity);
    return OpLog::entriesNewestFirst().mid(0, n).filter(text).size();
}

AudioOutputConfig floatCfg(int bufferFrames = 4096)
{
    AudioOutputConfig c;
    c.format = SampleFormat::Float32;
    c.rate = 48000;
    c.bufferFrames = bufferFrames;
    c.periodFrames = 240;
    return c;
}

WasapiEngine::RenderContext contextFor(WasapiEngine& e, std::shared_ptr<AudioOutput> out)
{
    WasapiEngine::RenderContext c;
    c.out = std::move(out);
    c.bank = std::shared_ptr<WasapiEngine::VoiceBank>(&e.voiceBank(), [](WasapiEngine::VoiceBank*) {});
    c.running = std::make_shared<std::atomic<bool>>(true);
    c.bufferFrames = c.out->bufferFrames();
    c.lastWakeNs = MonoClock::ns();
    c.mix.assign(size_t(WasapiEngine::kMaxPassFrames) * 2, 0.0f);
    c.park = std::make_shared<WakeEvent>();
    return c;
}

// The engine on test endpoints; remembers what each open asked for.
struct Opened
{
    QList<AudioOutputConfig> asked;
    std::function<bool(const AudioOutputConfig&)> refuse = [](const AudioOutputConfig&) { return false; };
    WasapiEngine::OutputFactory factory()
    {
        return [this](AudioOutput::Backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            asked << c;
            if (refuse(c))
                return nullptr;
            AudioOutputConfig got = c;
            got.format = c.format;
            return std::make_unique<ManualOutput>(got);
        };
    }
};

void setEngineSetting(const QVariant& engine, const QVariant& buffer = QVariant())
{
    AppSettings s;
    s.remove(QStringLiteral("audio"));
    if (engine.isValid())
        s.setValue(QStringLiteral("audio/engine"), engine);
    if (buffer.isValid())
        s.setValue(QStringLiteral("audio/buffer"), buffer);
}

} // namespace

class TstWasapiEngine : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void init() { setEngineSetting(QVariant()); }

    // --- opening the stream ------------------------------------------------

    void sharedStreamAndItsSettings()
    {
        WasapiEngine e;
        Opened o;
        e.setOutputFactory(o.factory());
        QCOMPARE(e.activeDriverName(), QStringLiteral("Not initialized"));
        QVERIFY(e.init(QStringLiteral("some-sink")));
        AppSettings s;
        QCOMPARE(s.value("audio/engine").toString(), QStringLiteral("wasapi_shared"));
        QCOMPARE(s.value("audio/format_rate").toInt(), 48000);
        QVERIFY(e.isActive());
        QCOMPARE(e.activeDriverName(), QStringLiteral("WASAPI Shared"));
        QCOMPARE(e.deviceId(), QStringLiteral("some-sink"));

        QCOMPARE(o.asked.size(), 1);
        const AudioOutputConfig c = o.asked.first();
        QCOMPARE(c.mode, ShareMode::Shared);
        QCOMPARE(c.format, SampleFormat::Float32);
        QCOMPARE(c.deviceId, QByteArray("some-sink"));
        // Wake-ups every 5 ms, far below the 15 ms stall threshold.
        QCOMPARE(c.periodFrames, 240);
        QVERIFY(double(c.periodFrames) * 1000.0 / c.rate < WasapiEngine::kGlitchMs / 2);
        QCOMPARE(e.bufferFrames(), 960);
        QCOMPARE(e.bufferMs(), 20);
        QTRY_VERIFY(static_cast<ManualOutput*>(e.output())->isStarted());

        e.shutdown();
        QVERIFY(!e.isActive());
        QVERIFY(e.deviceId().isEmpty());
        QVERIFY(e.output() == nullptr);
    }

    void exclusiveRequests_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<bool>("exclusive");
        QTest::addColumn<QString>("driver");
        QTest::newRow("wasapi_exclusive") << "wasapi_exclusive" << true << "WASAPI Exclusive";
        QTest::newRow("wdm_ks") << "wdm_ks" << true << "WASAPI Exclusive";
        QTest::newRow("asio") << "asio" << true << "ASIO via WASAPI Exclusive (manual)";
        QTest::newRow("asio_rme") << "asio_rme" << true << "ASIO via WASAPI Exclusive (manual)";
        QTest::newRow("ASIO is not asio") << "ASIO" << false << "WASAPI Shared";
        QTest::newRow("wasapi_shared") << "wasapi_shared" << false << "WASAPI Shared";
        QTest::newRow("garbage") << "??" << false << "WASAPI Shared";
    }
    void exclusiveRequests()
    {
        QFETCH(QString, engine);
        QFETCH(bool, exclusive);
        QFETCH(QString, driver);
        setEngineSetting(engine, 64);
        WasapiEngine e;
        Opened o;
        e.setOutputFactory(o.factory());
        QVERIFY(e.init(QString()));
        QCOMPARE(o.asked.first().mode, exclusive ? ShareMode::Exclusive : ShareMode::Shared);
        if (exclusive)
            QCOMPARE(o.asked.first().periodFrames, 64);
        QCOMPARE(e.isExclusive(), exclusive);
        QCOMPARE(e.activeDriverName(), driver);
    }

    void refusedExclusiveFallsBackToShared()
    {
        setEngineSetting(QStringLiteral("wasapi_exclusive"));
        WasapiEngine e;
        Opened o;
        o.refuse = [](const AudioOutputConfig& c) { return c.mode == ShareMode::Exclusive; };
        e.setOutputFactory(o.factory());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^\\[WASAPI\\] Exclusive failed"));
        QVERIFY(e.init(QString()));
        QCOMPARE(o.asked.last().mode, ShareMode::Shared);
        QVERIFY(!e.isExclusive());
        QCOMPARE(e.activeDriverName(), QStringLiteral("WASAPI Shared"));
    }

    void refusedFloatIsConvertedNotWrittenRaw()
    {
        WasapiEngine e;
        Opened o;
        o.refuse = [](const AudioOutputConfig& c) { return c.format == SampleFormat::Float32; };
        e.setOutputFactory(o.factory());
        QVERIFY(e.init(QString()));
        auto* out = static_cast<ManualOutput*>(e.output());
        QCOMPARE(out->config().format, SampleFormat::S16);

        // A pass on it writes 16-bit samples of the limited float mix.
        e.shutdown();
        e.cachePad(QStringLiteral("p"), pcmFloat(2000, 0.5f, -1.5f), 1.0f, false);
        AudioOutputConfig c16 = floatCfg(960);
        c16.format = SampleFormat::S16;
        auto s16 = std::make_shared<ManualOutput>(c16);
        WasapiEngine::RenderContext ctx = contextFor(e, s16);
        QVERIFY(e.trigger(QStringLiteral("p"), false));
        QCOMPARE(WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready), WasapiEngine::Pass::Continue);
        const QByteArray w = s16->written();
        QCOMPARE(w.size(), 960 * 4);
        QCOMPARE(qFromLittleEndian<qint16>(w.constData()), qint16(16383));
        QCOMPARE(qFromLittleEndian<qint16>(w.constData() + 2), qint16(-32768));
    }

    void nothingOpensReportsInitFailed()
    {
        WasapiEngine e;
        Opened o;
        o.refuse = [](const AudioOutputConfig&) { return true; };
        e.setOutputFactory(o.factory());
        QSignalSpy failed(&e, &WasapiEngine::initFailed);
        QVERIFY(!e.init(QString()));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.first().first().toString(), QStringLiteral("Shared init failed"));
        QVERIFY(!e.isActive());
    }

    void exclusiveOnTheSystemOutput()
    {
        // Exclusive means a card of our own: on a machine where a sound server
        // holds it (or there is none) the request ends in a shared stream with
        // the warning; where a card is free it opens on a hw device.
        setEngineSetting(QStringLiteral("wasapi_exclusive"));
        qunsetenv("TR_AUDIO_OUTPUT");
        WasapiEngine e;
        const int mark = OpLog::totalWritten();
        const bool ok = e.init(QString());
        qputenv("TR_AUDIO_OUTPUT", "manual");
        QVERIFY(ok);
        if (e.isExclusive()) {
            QVERIFY(e.output()->deviceName().startsWith("hw:"));
            QCOMPARE(e.activeDriverName(), QStringLiteral("WASAPI Exclusive"));
        } else {
            QCOMPARE(newLogLines(mark, QStringLiteral("[WASAPI] Exclusive failed")), 1);
            QCOMPARE(e.activeDriverName(), QStringLiteral("WASAPI Shared"));
        }
        QCOMPARE(AppSettings().value("audio/format_rate").toInt(), e.sampleRate());
        e.shutdown();

        // A device that names no card is never swapped for some other card:
        // the warning, and a shared stream on the device asked for.
        qunsetenv("TR_AUDIO_OUTPUT");
        const int mark2 = OpLog::totalWritten();
        const bool ok2 = e.init(QStringLiteral("alsa_output.usb-headset.analog-stereo"));
        qputenv("TR_AUDIO_OUTPUT", "manual");
        QVERIFY(ok2);
        QVERIFY(!e.isExclusive());
        QCOMPARE(newLogLines(mark2, QStringLiteral(
                     "[WASAPI] Exclusive failed alsa_output.usb-headset.analog-stereo names no hardware output device")),
                 1);
        e.shutdown();
    }

    // --- the render pass ---------------------------------------------------

    void stallsAreLoggedTimeoutsAreNot()
    {
        ScopedFakeClock clock;
        WasapiEngine e;
        auto out = std::make_shared<ManualOutput>(floatCfg());
        WasapiEngine::RenderContext ctx = contextFor(e, out);

        int mark = OpLog::totalWritten();
        clock.advanceMs(16);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(newLogLines(mark, QStringLiteral("[GLITCH] WASAPI render loop stalled 16.0ms \u2014 likely audible click")), 1);

        // A time-out is no stall, and the next wake-up counts from it.
        mark = OpLog::totalWritten();
        clock.advanceMs(100);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Timeout);
        clock.advanceMs(5);
        out->consume(240);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        clock.advanceUs(15000);
        out->consume(240);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(newLogLines(mark, QStringLiteral("[GLITCH]")), 0);
        clock.advanceUs(15100);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(newLogLines(mark, QStringLiteral("stalled 15.1ms")), 1);
    }

    // On a sound card nothing is written while no voice plays: the server
    // would go on mixing a stream of silence beside the others. A key press
    // or a start renders at once; an idle loop's late look-in is no stall.
    void idleCardStreamWritesNothing()
    {
        ScopedFakeClock clock;
        WasapiEngine e;
        e.cachePad(QStringLiteral("a"), pcmFloat(100, 0.5f, -0.5f), 1.0f, false);
        auto out = std::make_shared<ManualOutput>(floatCfg(480));
        WasapiEngine::RenderContext ctx = contextFor(e, out);
        ctx.idles = true;
        const int mark = OpLog::totalWritten();
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QVERIFY(ctx.idle);
        clock.advanceMs(40);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(out->framesWritten(), qint64(0));
        QCOMPARE(newLogLines(mark, QStringLiteral("[GLITCH]")), 0);

        e.stampClickTime();
        clock.advanceUs(1500);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QVERIFY(!ctx.idle);
        QCOMPARE(out->framesWritten(), qint64(480));
        QCOMPARE(e.lastLatencyUs(), 1500);
        out->consume(480);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(out->framesWritten(), qint64(480));

        QVERIFY(e.trigger(QStringLiteral("a"), false));
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(out->framesWritten(), qint64(960));
        QCOMPARE(sampleFloat(out->written(), 480), 0.5f);
        QCOMPARE(sampleFloat(out->written(), 579, 1), -0.5f);
        // The voice ended inside that pass: idle again.
        out->consume(480);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(out->framesWritten(), qint64(960));
        // Any other endpoint is fed silence as before.
        ctx.idles = false;
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(out->framesWritten(), qint64(1440));
    }

    void softLimiter()
    {
        QCOMPARE(WasapiEngine::softLimit(0.7f), 0.7f);
        QCOMPARE(WasapiEngine::softLimit(-1.0f), -1.0f);
        QVERIFY(qAbs(WasapiEngine::softLimit(1.5f) - 1.4621172f) < 1e-5f);
        QVERIFY(qAbs(WasapiEngine::softLimit(-3.0f) + 1.9640276f) < 1e-5f);
        QVERIFY(WasapiEngine::softLimit(1e9f) <= 2.0f);

        // Two voices summing to 1.5 leave the pass limited.
        WasapiEngine e;
        e.cachePad(QStringLiteral("a"), pcmFloat(100, 0.75f, -0.75f), 1.0f, false);
        auto out = std::make_shared<ManualOutput>(floatCfg(480));
        WasapiEngine::RenderContext ctx = contextFor(e, out);
        QVERIFY(e.trigger(QStringLiteral("a"), false));
        QVERIFY(e.trigger(QStringLiteral("a"), false));
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        const QByteArray w = out->written();
        QVERIFY(qAbs(sampleFloat(w, 0) - 1.4621172f) < 1e-5f);
        QVERIFY(qAbs(sampleFloat(w, 99, 1) + 1.4621172f) < 1e-5f);
        QCOMPARE(sampleFloat(w, 100), 0.0f);

        // A volume that is not a number silences instead of sending NaN samples.
        e.setGlobalVolume(std::nanf(""));
        QVERIFY(e.trigger(QStringLiteral("a"), false));
        out->consume(480);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(sampleFloat(out->written(), 480), 0.0f);
    }

    void clickToBufferLatency()
    {
        ScopedFakeClock clock;
        WasapiEngine e;
        auto out = std::make_shared<ManualOutput>(floatCfg(480));
        WasapiEngine::RenderContext ctx = contextFor(e, out);
        e.stampClickTime();
        QVERIFY(e.clickWallTimeMs() > 0);
        clock.advanceUs(3250);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(e.lastLatencyUs(), 3250);

        // The stamp is used once; one half a second old is thrown away.
        clock.advanceMs(2);
        out->consume(480);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(e.lastLatencyUs(), 3250);
        e.stampClickTime();
        clock.advanceMs(500);
        out->consume(480);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QCOMPARE(e.lastLatencyUs(), 3250);
        QCOMPARE(e.voiceBank().clickStampNs.load(), qint64(0));
    }

    void voicesMixFadeAndLoop()
    {
        WasapiEngine e;
        auto out = std::make_shared<ManualOutput>(floatCfg(4096));
        WasapiEngine::RenderContext ctx = contextFor(e, out);
        e.setGlobalVolume(0.5f);
        e.cachePad(QStringLiteral("v"), pcmFloat(100, 0.4f, 0.2f), 0.5f, false);
        e.cachePad(QStringLiteral("loop"), pcmFloat(3, 0.1f, 0.1f), 1.0f, true);
        QVERIFY(e.trigger(QStringLiteral("v"), false));
        QVERIFY(e.trigger(QStringLiteral("loop"), false));
        out->consume(0);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QByteArray w = out->written();
        QCOMPARE(w.size(), 4096 * 8);
        // 0.4 x 0.5 x 0.5 + 0.1 x 0.5
        QVERIFY(qAbs(sampleFloat(w, 0) - 0.15f) < 1e-6f);
        QVERIFY(qAbs(sampleFloat(w, 100) - 0.05f) < 1e-6f);
        // The loop runs on without a gap, within the pass and across passes.
        for (int f : {2, 3, 4, 4095})
            QVERIFY2(qAbs(sampleFloat(w, f, 1) - (f < 100 ? 0.1f : 0.05f)) < 1e-6f, qPrintable(QString::number(f)));
        QVERIFY(!e.isPlaying(QStringLiteral("v")));
        QVERIFY(e.isPlaying(QStringLiteral("loop")));
        out->consume(4096);
        WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
        QVERIFY(qAbs(sampleFloat(out->written(), 4096) - 0.05f) < 1e-6f);
        e.stopAll();

        // A 500 ms fade at 48000 Hz lasts 24000 frames and says nothing. (The
        // stream's rate comes from the last init.)
        Opened o;
        e.setOutputFactory(o.factory());
        QVERIFY(e.init(QString()));
        e.shutdown();
        QCOMPARE(e.sampleRate(), 48000);
        e.setGlobalVolume(1.0f);
        e.cachePad(QStringLiteral("long"), pcmFloat(48000, 1.0f, 1.0f), 1.0f, false);
        QVERIFY(e.trigger(QStringLiteral("long"), false));
        QSignalSpy stopped(&e, &WasapiEngine::stopped);
        e.fadeStop(QStringLiteral("long"), 500.0);
        qint64 frames = 0;
        const qint64 base = out->framesWritten();
        while (e.isPlaying(QStringLiteral("long")) && frames < 48000) {
            out->consume(4096);
            WasapiEngine::renderPass(ctx, AudioOutput::WaitResult::Ready);
            frames += 4096;
        }
        QVERIFY(!e.isPlaying(QStringLiteral("long")));
        w = out->written();
        QVERIFY(sampleFloat(w, base + 23998) > 0.0f);
        QCOMPARE(sampleFloat(w, base + 23999), 0.0f);
        QCoreApplication::processEvents();
        for (const QList<QVariant>& s : stopped)
            QVERIFY(s.first().toString() != QStringLiteral("long"));
    }

    // --- voices and signals ------------------------------------------------

    void startStopSignals()
    {
        WasapiEngine e;
        QSignalSpy started(&e, &WasapiEngine::started);
        QSignalSpy stopped(&e, &WasapiEngine::stopped);
        QVERIFY(!e.trigger(QStringLiteral("none"), false));
        e.cachePad(QStringLiteral("a"), pcmFloat(1000, 0.1f, 0.1f), 1.0f, false);
        e.cachePad(QStringLiteral("b"), pcmFloat(1000, 0.1f, 0.1f), 1.0f, false);
        e.cachePad(QStringLiteral("empty"), QByteArray(), 1.0f, false);
        QVERIFY(!e.isReady(QStringLiteral("empty")));
        QVERIFY(!e.trigger(QStringLiteral("empty"), false));
        QVERIFY(e.trigger(QStringLiteral("a"), false));
        QVERIFY(e.trigger(QStringLiteral("b"), false));
        QVERIFY(e.trigger(QStringLiteral("a"), true)); // restart: the old voice goes
        QCOMPARE(e.voiceBank().voices[0].active.load(), false);
        QTRY_COMPARE(started.size(), 3);

        e.stop(QStringLiteral("nobody"));
        e.fadeStop(QStringLiteral("b"), 0); // at once, with the signal
        QVERIFY(!e.isPlaying(QStringLiteral("b")));
        QTRY_COMPARE(stopped.size(), 1);
        QCOMPARE(stopped.last().first().toString(), QStringLiteral("b"));

        e.trigger(QStringLiteral("b"), false);
        stopped.clear();
        e.stopAll();
        QVERIFY(e.voiceBank().voices[3].pcm.isNull());
        QTRY_COMPARE(stopped.size(), 2);
        QStringList ids = {stopped[0].first().toString(), stopped[1].first().toString()};
        ids.sort();
        QCOMPARE(ids, QStringList({"a", "b"}));
    }

    void rotationCutsTheOldestVoice()
    {
        WasapiEngine e;
        for (int i = 0; i < 17; ++i)
            e.cachePad(QString::number(i), pcmFloat(1000, 0.01f, 0.01f), 1.0f, false);
        for (int i = 0; i < 16; ++i)
            QVERIFY(e.trigger(QString::number(i), false));
        QVERIFY(e.isPlaying(QStringLiteral("0")));
        QVERIFY(e.trigger(QStringLiteral("16"), false));
        // Voice 0 now plays "16"; "0" is no longer reported, and stopping it
        // must not cut the newcomer.
        QVERIFY(!e.isPlaying(QStringLiteral("0")));
        e.stop(QStringLiteral("0"));
        QVERIFY(e.isPlaying(QStringLiteral("16")));
        QVERIFY(e.isPlaying(QStringLiteral("1")));
    }

    void positionsAreReported()
    {
        WasapiEngine e;
        Opened o;
        e.setOutputFactory(o.factory());
        QSignalSpy pos(&e, &WasapiEngine::positionChanged);
        e.pollPositions(); // not running: nothing
        QVERIFY(e.init(QString()));
        e.cachePad(QStringLiteral("p"), pcmFloat(96000, 0.1f, 0.1f), 1.0f, false);
        QVERIFY(e.trigger(QStringLiteral("p"), false));
        {
            QMutexLocker lock(&e.voiceBank().mx);
            e.voiceBank().voices[0].position = 24000;
        }
        e.pollPositions();
        QTRY_COMPARE(pos.size(), 1);
        QCOMPARE(pos.first().at(0).toString(), QStringLiteral("p"));
        QCOMPARE(pos.first().at(1).toLongLong(), 500);
        QCOMPARE(pos.first().at(2).toLongLong(), 2000);
    }

    // --- the render thread -------------------------------------------------

    void stuckThreadIsDetachedNotKilled()
    {
        auto probe = std::make_shared<StuckOutput::Probe>();
        WasapiEngine e;
        e.setOutputFactory([&](AudioOutput::Backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<StuckOutput>(c, probe);
        });
        QVERIFY(e.init(QString()));
        QTRY_COMPARE(probe->waiting.load(), 1);
        const int mark = OpLog::totalWritten();
        e.shutdown();
        QCOMPARE(newLogLines(mark, QStringLiteral("[WASAPI] render thread did not end within 2000 ms; detached")), 1);
        QVERIFY(!probe->destroyed.load());
        probe->gate.release();
        QTRY_VERIFY(probe->destroyed.load());
    }

    void shutdownWakesTheThread()
    {
        WasapiEngine e;
        e.setOutputFactory([](AudioOutput::Backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<WakeOnlyOutput>(c);
        });
        QVERIFY(e.init(QString()));
        const int mark = OpLog::totalWritten();
        e.shutdown();
        QCOMPARE(newLogLines(mark, QStringLiteral("detached")), 0);
        QVERIFY(!e.isActive());
    }

    void lostDeviceParksTheThread()
    {
        WasapiEngine e;
        e.setOutputFactory([](AudioOutput::Backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<ManualOutput>(c);
        });
        QVERIFY(e.init(QString()));
        const int mark = OpLog::totalWritten();
        static_cast<ManualOutput*>(e.output())->loseDevice();
        QTRY_COMPARE(newLogLines(mark, QStringLiteral("[WASAPI] output device lost")), 1);
        e.shutdown();
        QCOMPARE(newLogLines(mark, QStringLiteral("detached")), 0);
    }

    // --- the pad file reader -------------------------------------------------

    void decoderReadsStereoWavAtTheRate()
    {
        const QString dir = TestSupport::tempDir();
        QVector<qint16> samples;
        for (int i = 0; i < 48000; ++i)
            samples << qint16(i % 1000) << qint16(-(i % 1000));
        const QString stereo = dir + "/s.wav";
        QVERIFY(TestSupport::writeWav16(stereo, samples, 2, 48000));

        QByteArray f = WasapiDecoder::decode(stereo, 0.5, 0.75, 48000);
        QCOMPARE(f.size(), 12000 * 8);
        QCOMPARE(sampleFloat(f, 0), float(24000 % 1000) / 32768.0f);
        QCOMPARE(sampleFloat(f, 0, 1), -float(24000 % 1000) / 32768.0f);
        QCOMPARE(WasapiDecoder::decode(stereo, 0, 0, 48000).size(), 48000 * 8);
        QCOMPARE(WasapiDecoder::decode(stereo, 0, 0, 0).size(), 48000 * 8); // 0 means 48000
        QVERIFY(WasapiDecoder::decode(stereo, 0, 0, 44100).isEmpty());
        QCOMPARE(WasapiDecoder::decode(stereo, 5.0, 0, 48000).size(), 0);

        const QString mono = dir + "/m.wav";
        QVERIFY(TestSupport::writeWav16(mono, QVector<qint16>(100, 5), 1, 48000));
        QVERIFY(WasapiDecoder::decode(mono, 0, 0, 48000).isEmpty());

        // A chunk after the samples is not played as sound.
        QFile wav(stereo);
        QVERIFY(wav.open(QIODevice::Append));
        wav.write("LIST\x04\0\0\0abcd", 12);
        wav.close();
        QCOMPARE(WasapiDecoder::decode(stereo, 0, 0, 48000).size(), 48000 * 8);

        // Bad input: empty, tiny, garbage, not a wav name.
        const QString junk = dir + "/junk.wav";
        for (const QByteArray& bytes : {QByteArray(), QByteArray("RIFF"), QByteArray(300, '\xff')}) {
            QFile j(junk);
            QVERIFY(j.open(QIODevice::WriteOnly | QIODevice::Truncate));
            j.write(bytes);
            j.close();
            QVERIFY(WasapiDecoder::decode(junk, 0, 0, 48000).isEmpty());
        }
        QVERIFY(WasapiDecoder::decode(dir + "/missing.wav", 0, 0, 48000).isEmpty());
        QVERIFY(WasapiDecoder::decode(dir + "/s.mp3", 0, 0, 48000).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstWasapiEngine)
#include "tst_wasapiengine.moc"
