#include <QtTest>

#include <QFile>
#include <QProcess>
#include <QScopeGuard>

#include <cmath>

#include "AudioOutput.h"
#include "DirectSoundEngine.h"
#include "TestSupport.h"

// A press through the real output: ALSA into the sound server's null sink,
// recorded back from its monitor.
class TestDsEngineAlsa : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("no sound server: start scripts/sound-server (scripts/test does)");
        if (AudioOutput::backendForced() && AudioOutput::preferredBackend() != AudioOutput::Backend::Alsa)
            QSKIP("TR_AUDIO_OUTPUT names another backend");
    }

    void pressSoundsOnTheDevice()
    {
        const QString tone = TestSupport::tempDir() + "/tone.wav";
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(1000, 0.5, 2, 44100, 0.5), 2, 44100));

        QProcess rec;
        const bool recording = !qEnvironmentVariableIsEmpty("TR_PULSE_MONITOR");
        if (recording)
            QVERIFY2(TestSupport::startMonitorRecording(rec), "parec does not record the monitor");

        DirectSoundEngine* e = DirectSoundEngine::instance();
        QTRY_VERIFY_WITH_TIMEOUT(e->init(nullptr), 10000);
        QCOMPARE(e->mixer()->output()->backend(), AudioOutput::Backend::Alsa);
        const QList<int> streams = TestSupport::ownServerStreams();
        QCOMPARE(streams.size(), 1);
        e->preload("tone", tone, 0, 0, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("tone"));
        QCOMPARE(e->slotView("tone").pcmBytes, 22050u * 4);
        AudioOutput* out = e->mixer()->output();
        // No silence is queued on the device while nothing plays, so that a
        // press is not heard after a whole queue of it; while a voice plays
        // the queue is kept full against the machine's stalls.
        const auto mostQueued = [out] {
            int most = 0;
            for (int i = 0; i < 20; ++i) {
                most = std::max(most, out->padding());
                QTest::qWait(2);
            }
            return most;
        };
        QTest::qWait(100);
        const int idleQueue = mostQueued();
        QVERIFY(e->triggerSingle("tone", 1.0f));
        QVERIFY(e->isPlaying("tone"));
        const int playingQueue = mostQueued();
        qInfo() << "frames queued on the device: idle" << idleQueue << "playing" << playingQueue << "of"
                << out->bufferFrames() << "; underruns so far" << out->underrunCount();
        QCOMPARE_LE(idleQueue, BufferMixer::kIdleQueueFrames);
        QCOMPARE_GT(playingQueue, BufferMixer::kIdleQueueFrames);
        // The device takes it at its own pace: half a second to run through.
        QTRY_VERIFY_WITH_TIMEOUT(!e->isPlaying("tone"), 5000);
        QVERIFY(e->mixer()->stats().framesMixed >= 22050);
        qInfo() << "underruns" << out->underrunCount();

        // Between presses the queue runs dry (an underrun of silence, counted),
        // and every press from silence plays on the one stream the engine has
        // on the server. A stream made anew would join behind whatever the
        // server mixed ahead while it had none of ours, and be heard late.
        for (int press = 0; press < 4; ++press) {
            const quint64 before = out->underrunCount();
            QVERIFY(e->triggerSingle("tone", 1.0f));
            QTRY_VERIFY_WITH_TIMEOUT(!e->isPlaying("tone"), 5000);
            QTRY_VERIFY_WITH_TIMEOUT(out->underrunCount() > before, 5000);
        }
        QCOMPARE(TestSupport::ownServerStreams(), streams);

        if (recording) {
            QTest::qWait(300);
            rec.kill();
            rec.waitForFinished(3000);
            const QByteArray raw = rec.readAllStandardOutput();
            const auto* s = reinterpret_cast<const qint16*>(raw.constData());
            const qsizetype frames = raw.size() / 4;
            double loudest = 0;
            for (qsizetype start = 0; start + 441 <= frames; start += 441) {
                double sum = 0;
                for (qsizetype i = start; i < start + 441; ++i)
                    sum += double(s[2 * i]) * s[2 * i];
                loudest = std::max(loudest, std::sqrt(sum / 441));
            }
            qInfo() << "recorded" << frames << "frames; loudest 10 ms RMS" << loudest;
            // Half of full scale: an RMS of about 11600.
            QVERIFY(loudest > 8000);
        }
        e->shutdown();
    }

    // A faded stop heard on a sink of its own (one that never rewinds, so
    // the recording holds every frame once): a steady level falls to
    // silence over the length asked, measured on the sink's clock, with
    // nothing left to cut at the end. Its last 10 ms stay below 0.05 of the
    // level, the engine lets the voice go once it is silent, and the
    // voice's cursor stays where the fall ended.
    void fadedStopEndsInSilence_data()
    {
        QTest::addColumn<int>("fadeMs");
        QTest::newRow("100 ms (a tab's default)") << 100;
        QTest::newRow("200 ms") << 200;
        QTest::newRow("3 s") << 3000;
    }
    void fadedStopEndsInSilence()
    {
        QFETCH(int, fadeMs);
        const QString sink = qEnvironmentVariable("TR_PULSE_OWN_SINK");
        if (sink.isEmpty())
            QSKIP("no sink of its own: start scripts/sound-server (scripts/test does)");
        constexpr int kLevel = 16384;
        constexpr int kSeconds = 5;
        const QString flat = TestSupport::tempDir() + "/flat.wav";
        QVERIFY(TestSupport::writeWav16(flat, QVector<qint16>(kSeconds * 44100 * 2, qint16(kLevel)), 2, 44100));
        {
            // A show's files were written a while ago.
            QFile f(flat);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }

        // The engine's stream goes to the sink of this test alone.
        const QByteArray sinkBefore = qgetenv("PULSE_SINK");
        qputenv("PULSE_SINK", sink.toUtf8());
        DirectSoundEngine* e = DirectSoundEngine::instance();
        const auto restore = qScopeGuard([&] {
            e->shutdown();
            if (sinkBefore.isEmpty())
                qunsetenv("PULSE_SINK");
            else
                qputenv("PULSE_SINK", sinkBefore);
        });
        TestSupport::MonitorCapture rec;
        QVERIFY(rec.start(sink + ".monitor"));
        QTRY_VERIFY_WITH_TIMEOUT(e->init(nullptr), 10000);
        e->preload("flat", flat, 0, 0, 1.0f, false, 0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(e->isReady("flat"), 10000);

        QVERIFY(e->triggerSingle("flat", 1.0f));
        const qint64 startedAt = rec.mixedMs();
        QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - startedAt >= 400, 10000);
        QVERIFY(e->isPlaying("flat"));
        const qint64 pressedAt = rec.mixedMs();
        const quint64 underrunsBefore = e->mixer()->output()->underrunCount();
        e->stopWithFade("flat", fadeMs);
        QVERIFY(e->isFadingOut("flat"));
        QTRY_VERIFY_WITH_TIMEOUT(!e->isPlaying("flat"), fadeMs + 10000);
        QTRY_VERIFY(!e->isFadingOut("flat"));
        const qint64 endedAt = rec.mixedMs();
        QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - endedAt >= 300, 10000);
        const quint64 underruns = e->mixer()->output()->underrunCount() - underrunsBefore;
        const QByteArray raw = rec.stop();

        const auto* s = reinterpret_cast<const qint16*>(raw.constData());
        const int frames = int(raw.size() / 4);
        auto left = [&](int i) { return std::abs(int(s[2 * i])); };
        int lastFull = -1, lastSound = -1;
        for (int i = 0; i < frames; ++i) {
            if (left(i) >= kLevel - 2)
                lastFull = i;
            if (left(i) > 2)
                lastSound = i;
        }
        QVERIFY2(lastFull >= 0, "the sound was not heard at its level");
        const int silentAt = lastSound + 1;
        // The fall on the sound's own clock: a level that only falls is
        // silent inside it only where the stream ran dry on a busy machine
        // and the sink played silence of its own (the output mostly counts
        // those as underruns, not always). Those frames are not the
        // engine's, and are left out: that the mixer's fall has no hole is
        // judged frame by frame in the mixer's own test.
        QList<int> fall;
        for (int i = lastFull + 1; i < silentAt; ++i)
            if (left(i) > 2)
                fall.append(left(i));
        const int dropped = silentAt - (lastFull + 1) - int(fall.size());
        const double fellMs = fall.size() / 44.1;
        double sum = 0, tail = 0;
        const int n = int(fall.size());
        for (int i = std::max(0, n - 441); i < n; ++i)
            sum += double(fall[i]) * fall[i];
        for (int i = std::max(0, n - 88); i < n; ++i)
            tail = std::max(tail, double(fall[i]) / kLevel);
        const double last10 = std::sqrt(sum / 441) / kLevel;
        qInfo("faded stop of %d ms: heard falling %.1f ms after the press, fell for %.1f ms (%.1f ms of the "
              "sink's silence inside left out, %llu underruns); its last 10 ms at %.3f of the level (%.1f dB), "
              "its last 2 ms at most %.4f; let go %.1f ms after the silence",
              fadeMs, (lastFull + 1) / 44.1 - pressedAt, fellMs, dropped / 44.1, (unsigned long long)underruns, last10,
              20 * std::log10(std::max(last10, 1e-6)), tail, endedAt - silentAt / 44.1);
        QCOMPARE_LE(last10, 0.05);
        QCOMPARE_LE(tail, 0.01);
        QCOMPARE_LE(std::abs(fellMs - fadeMs), 15.0);
        // Stopped where the fall ended, not rewound.
        QCOMPARE_GT(e->positionMs("flat"), qint64(400 + fadeMs - 100));
    }
};

QTEST_GUILESS_MAIN(TestDsEngineAlsa)
#include "tst_dsengine_alsa.moc"
