#include <QtTest>

#include <QProcess>

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
        QVERIFY(e->init(nullptr));
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
};

QTEST_GUILESS_MAIN(TestDsEngineAlsa)
#include "tst_dsengine_alsa.moc"
