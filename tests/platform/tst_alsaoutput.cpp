#include <QProcess>
#include <QtTest>

#include <cmath>

#include "AlsaOutput.h"
#include "AudioOutput.h"
#include "TestSupport.h"

// The ALSA backend against the test sound server's null sink: a tone played
// through it arrives at the sink's monitor, and a starved stream recovers.
// The server may consume in bursts, so nothing here depends on pacing.
// A frequency no other test plays, so the check below finds this test's
// sound even when others play into the same sink at the same time.
constexpr double kToneHz = 1234.0;

// Amplitude of the kToneHz component of the left channel over a window.
double toneAmplitude(const qint16* stereo, int frames)
{
    const double w = 2 * M_PI * kToneHz / 44100.0;
    double re = 0, im = 0;
    for (int i = 0; i < frames; ++i) {
        re += stereo[2 * i] * std::cos(w * i);
        im -= stereo[2 * i] * std::sin(w * i);
    }
    return 2.0 * std::sqrt(re * re + im * im) / frames;
}

class TestAlsaOutput : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<AudioOutput> m_out;
    double m_phase = 0;

    // Renders up to frames of the test tone (or silence) into the free space;
    // returns the frames queued, -1 on a lost device.
    int render(int frames, bool tone)
    {
        const int free = m_out->bufferFrames() - m_out->padding();
        const int n = std::min(free, frames);
        if (n <= 0)
            return m_out->isDeviceLost() ? -1 : 0;
        auto* p = static_cast<qint16*>(m_out->getBuffer(n));
        if (!p)
            return -1;
        for (int i = 0; i < n; ++i) {
            const qint16 v = tone ? qint16(std::lround(std::sin(m_phase) * 16000)) : 0;
            m_phase += 2 * M_PI * kToneHz / 44100.0;
            p[2 * i] = v;
            p[2 * i + 1] = v;
        }
        return m_out->releaseBuffer(n, false) ? n : -1;
    }

    // Plays frames through the render loop shape of the engines. false when
    // the device was lost or nothing moved for a long while.
    bool play(qint64 frames, bool tone)
    {
        QDeadlineTimer stall(20000);
        qint64 done = 0;
        while (done < frames) {
            if (m_out->waitForPeriod(200) == AudioOutput::WaitResult::DeviceLost)
                return false;
            const int r = render(int(std::min<qint64>(frames - done, 1 << 20)), tone);
            if (r < 0)
                return false;
            if (r > 0) {
                done += r;
                stall.setRemainingTime(20000);
            } else if (stall.hasExpired()) {
                return false;
            }
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("no test sound server (start one with scripts/sound-server)");
        AudioOutputConfig c;
        c.deviceId = "tr_null";
        c.bufferFrames = 4410;
        c.periodFrames = 441;
        QString err;
        m_out = AudioOutput::openBackend(AudioOutput::Backend::Alsa, c, &err);
        if (!m_out)
            QSKIP(qPrintable("the sound server is not reachable through ALSA: " + err));
    }

    void opensTheNamedSink()
    {
        QCOMPARE(m_out->backend(), AudioOutput::Backend::Alsa);
        QCOMPARE(m_out->deviceName(), QString("pulse:DEVICE=tr_null"));
        QVERIFY(m_out->bufferFrames() >= 2 * m_out->periodFrames());
        QCOMPARE(m_out->rate(), 44100);
        QVERIFY(AudioOutput::mixRate("tr_null") > 0);
        QVERIFY(m_out->feedsSoundServer());

        // An unknown device plays on the default output rather than failing.
        AudioOutputConfig c;
        c.deviceId = "no_such_sink_here";
        QString err;
        auto fallback = AudioOutput::openBackend(AudioOutput::Backend::Alsa, c, &err);
        QVERIFY2(fallback, qPrintable(err));
        QCOMPARE(fallback->deviceName(), QString("default"));
    }

    // An exclusive stream opens on the device asked for or not at all: never
    // on "default", never on the null output.
    void exclusiveNeverFallsBack()
    {
        for (const QByteArray id : {QByteArray("no_such_sink_here"), QByteArray("hw:99,0")}) {
            AudioOutputConfig c;
            c.deviceId = id;
            c.mode = ShareMode::Exclusive;
            QString err;
            auto out = AudioOutput::openBackend(AudioOutput::Backend::Alsa, c, &err);
            QVERIFY2(!out, qPrintable(id + " opened exclusively on " + (out ? out->deviceName() : QString())));
            QVERIFY2(err.contains(QString::fromUtf8(id)), qPrintable(err));
            QVERIFY(!err.contains("default"));
            QVERIFY(!AudioOutput::open(c, &err));
        }
        // (In shared mode the same ids play on the default output: opensTheNamedSink.)
    }

    void playsIntoTheSink()
    {
        // Prefilled silence waits for start().
        QVERIFY(render(m_out->bufferFrames(), false) > 0);
        QCOMPARE(m_out->padding(), m_out->bufferFrames());
        QProcess rec;
        const QString monitor = qEnvironmentVariable("TR_PULSE_MONITOR", "tr_null.monitor");
        rec.start("parec", {"-d", monitor, "--format=s16le", "--rate=44100", "--channels=2", "--raw",
                            "--latency-msec=50"});
        if (!rec.waitForStarted(5000))
            QSKIP("parec is not available");
        QVERIFY(m_out->start());
        QVERIFY(play(44100 * 2, true));
        QVERIFY(play(44100 / 2, false));
        QByteArray got;
        // Wait until the recording holds the tone, then stop it.
        // The tone is played at amplitude 16000; some window of the
        // recording must carry it.
        auto toneLevel = [&]() {
            got += rec.readAllStandardOutput();
            const auto* s = reinterpret_cast<const qint16*>(got.constData());
            const int window = 2205;
            double best = 0;
            for (qsizetype f = 0; f + window <= got.size() / 4; f += window)
                best = std::max(best, toneAmplitude(s + 2 * f, window));
            return best;
        };
        QTRY_VERIFY_WITH_TIMEOUT(toneLevel() > 12000, 30000);
        rec.terminate();
        rec.waitForFinished(5000);
        QVERIFY(!m_out->isDeviceLost());
    }

    // Stopping the writes empties the queue; the underrun is counted and
    // recovered, and the stream takes and plays frames again. It is the same
    // stream on the server all along: made anew, it would join after the
    // server had gone back to mixing far ahead for no one, and be heard late.
    void recoversFromUnderrun()
    {
        const QList<int> streams = TestSupport::ownServerStreams();
        QCOMPARE(streams.size(), 1);
        const quint64 before = m_out->underrunCount();
        QDeadlineTimer dl(30000);
        while (m_out->underrunCount() == before && !dl.hasExpired()) {
            QVERIFY(m_out->padding() >= 0);
            QTest::qWait(20);
        }
        QVERIFY2(m_out->underrunCount() > before, "the starved stream never reported an underrun");
        QVERIFY(!m_out->isDeviceLost());
        QVERIFY(play(44100, true));
        // Frames written after the recovery are consumed.
        QTRY_VERIFY_WITH_TIMEOUT(m_out->padding() < m_out->bufferFrames(), 20000);
        QVERIFY(!m_out->isDeviceLost());
        QCOMPARE(TestSupport::ownServerStreams(), streams);
    }

    void stopWakesAndRestarts()
    {
        std::atomic<int> r{-1};
        std::thread waiter([&] { r = int(m_out->waitForPeriod(-1)); });
        QTest::qWait(10);
        m_out->stop();
        waiter.join();
        QCOMPARE(r.load(), int(AudioOutput::WaitResult::Ready));
        QVERIFY(!m_out->isStarted());
        QCOMPARE(m_out->padding(), 0);
        QVERIFY(render(1000, true) > 0);
        QCOMPARE(m_out->padding(), 1000);       // held back until started
        QVERIFY(m_out->start());
        QVERIFY(play(22050, true));
        QVERIFY(!m_out->isDeviceLost());
    }

    void cleanupTestCase() { m_out.reset(); }
};

QTEST_GUILESS_MAIN(TestAlsaOutput)
#include "tst_alsaoutput.moc"
