#include <QFile>
#include <cmath>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>

#include "DrumEngine.h"
#include "DrumStream.h"
#include "MultiVoiceStream.h"
#include "PadTestUtil.h"
#include "PcmDecode.h"
#include "PcmPlayer.h"
#include "TestSupport.h"

namespace {

// A stereo 44100 Hz WAV whose frame i holds (i mod 30000, -(i mod 30000)).
QString rampWav(const QString& name, double seconds)
{
    const int frames = int(seconds * 44100);
    QVector<qint16> s;
    s.reserve(frames * 2);
    for (int i = 0; i < frames; ++i)
        s << qint16(i % 30000) << qint16(-(i % 30000));
    const QString path = TestSupport::tempDir() + "/" + name;
    if (!TestSupport::writeWav16(path, s, 2, 44100))
        return QString();
    return path;
}


} // namespace

class TstPcmPlayer : public QObject
{
    Q_OBJECT
private:
    QString m_eight; // 8 s
    QString m_two;   // 2 s

private slots:
    void initTestCase()
    {
        m_eight = rampWav("eight.wav", 8.0);
        m_two = rampWav("two.wav", 2.0);
        QVERIFY(!m_eight.isEmpty() && !m_two.isEmpty());
    }

    void decodeWindowIsAtMostFiveSeconds()
    {
        PcmPlayer p;
        QSignalSpy done(&p, &PcmPlayer::preloadDone);
        p.preload("open", m_eight, 1.0, 0.0, 1.0f);   // no end: 5 s from 1 s
        p.preload("long", m_eight, 0.0, 7.5, 1.0f);   // longer than 5 s: cut
        p.preload("three", m_eight, 2.0, 5.0, 1.0f);  // 3 s: whole
        p.preload("crossed", m_eight, 2.5, 1.0, 1.0f); // end before start: 5 s, not to the end
        QTRY_COMPARE(done.size(), 4);
        QVERIFY(p.isReady("open"));

        // Blocks are reached through what the drum engine was fed.
        DrumEngine* drum = DrumEngine::instance();
        for (const char* id : {"open", "long", "three", "crossed"})
            p.feedDrumEngine(id);
        QVERIFY(drum->isReady("open"));
        const QStringList ids = drum->cachedIds();
        QVERIFY(ids.contains("three"));
        QCOMPARE(drum->cachedBytes(), qint64(5 * 176400 + 5 * 176400 + 3 * 176400 + 5 * 176400));

        // The range starts where asked: trigger "three" on the drum stream and
        // look at its first frame (2 s = frame 88200).
        drum->stopAll();
        drum->triggerDirect("three", 1.0f);
        QByteArray out(8, '\0');
        drum->stream()->mix(out.data(), out.size());
        QCOMPARE(int(sample16(out, 0)), 88200 % 30000);
        QCOMPARE(int(sample16(out, 1, 1)), -(88201 % 30000));
        drum->clearAll();
    }

    void preloadOncePerIdUntilEvicted()
    {
        PcmPlayer p;
        QSignalSpy done(&p, &PcmPlayer::preloadDone);
        p.preload("a", m_two, 0, 0, 1.0f);
        QTRY_COMPARE(done.size(), 1);
        p.preload("a", m_eight, 0, 0, 1.0f); // already has a block: nothing
        QCOMPARE(p.pendingDecodes(), 0);
        p.preload("b", QString(), 0, 0, 1.0f);
        QCOMPARE(p.pendingDecodes(), 0);

        p.evictButton("a");
        QVERIFY(!p.isReady("a"));
        p.preload("a", m_eight, 0, 0, 1.0f);
        QTRY_COMPARE(done.size(), 2);
        QVERIFY(p.isReady("a"));

        p.clearAll();
        QVERIFY(!p.isReady("a"));
    }

    void staleDecodesAreDropped()
    {
        PcmPlayer p;
        QSignalSpy done(&p, &PcmPlayer::preloadDone);
        // Evicted while decoding: the result must not bring the button back.
        p.preload("gone", m_two, 0, 0, 1.0f);
        p.evictButton("gone");
        // Re-preloaded with another file while the first decode runs: only
        // the newest decode may store its block.
        p.preload("edit", m_eight, 0, 0, 1.0f);
        p.evictButton("edit");
        p.preload("edit", m_two, 0, 1.0, 1.0f);
        QTRY_COMPARE(p.pendingDecodes(), 0);
        QVERIFY(!p.isReady("gone"));
        QCOMPARE(done.size(), 1);
        QCOMPARE(done.first().first().toString(), QStringLiteral("edit"));
        p.feedDrumEngine("edit");
        QCOMPARE(DrumEngine::instance()->cachedBytes(), qint64(176400));
        DrumEngine::instance()->clearAll();

        // A session load drops decodes in flight too.
        p.preload("x", m_two, 0, 0, 1.0f);
        p.clearAll();
        QTRY_COMPARE(p.pendingDecodes(), 0);
        QVERIFY(!p.isReady("x"));
    }

    void headerOnlyWavGivesNothing()
    {
        const QString path = TestSupport::tempDir() + "/empty.wav";
        QVERIFY(TestSupport::writeWav16(path, {}, 2, 44100));
        QVERIFY(PcmPlayer::decode(path, 0, 0, 1.0f).isEmpty());
        PcmPlayer p;
        QSignalSpy done(&p, &PcmPlayer::preloadDone);
        p.preload("e", path, 0, 0, 1.0f);
        QTRY_COMPARE(p.pendingDecodes(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(done.size(), 0);
        QVERIFY(!p.isReady("e"));
        p.feedDrumEngine("e"); // nothing to feed
        QVERIFY(!DrumEngine::instance()->isReady("e"));

        QVERIFY(PcmPlayer::decode(TestSupport::tempDir() + "/missing.wav", 0, 0, 1.0f).isEmpty());
        QVERIFY(PcmPlayer::decode(QString(), 0, 0, 1.0f).isEmpty());
    }

    // A trim that starts past the end of a plain WAV leaves the decoder with
    // nothing; the WAV reader behind it must not hand back the whole file.
    void wavReaderKeepsTheTrimRange()
    {
        const QString path = TestSupport::tempDir() + "/ramp.wav";
        QVector<qint16> samples;
        for (int i = 0; i < 44100; ++i)
            samples << qint16(i % 30000) << qint16(-(i % 30000));
        QVERIFY(TestSupport::writeWav16(path, samples, 2, 44100));
        QVERIFY(PcmPlayer::decode(path, 5.0, 0, 1.0f).isEmpty());
        QVERIFY(PcmPlayer::decode(path, 5.0, 6.0, 1.0f).isEmpty());

        qint64 offset = -1, length = -1;
        PcmDecode::rangeSlice(44100 * 4, 0.5, 0.75, &offset, &length);
        QCOMPARE(offset, qint64(22050 * 4));
        QCOMPARE(length, qint64(11025 * 4));
        PcmDecode::rangeSlice(44100 * 4, 0.5, 0, &offset, &length);
        QCOMPARE(offset + length, qint64(44100 * 4));
        PcmDecode::rangeSlice(44100 * 4, 1e300, 0, &offset, &length);
        QCOMPARE(offset, qint64(44100 * 4));
        QCOMPARE(length, qint64(0));
        PcmDecode::rangeSlice(44100 * 4, std::nan(""), 0, &offset, &length);
        QCOMPARE(offset, qint64(0));
        QCOMPARE(length, qint64(44100 * 4));
    }

    void triggerPlaysOnTheStream()
    {
        PcmPlayer p;
        QSignalSpy done(&p, &PcmPlayer::preloadDone);
        QVERIFY(!p.trigger("t"));
        p.preload("t", m_two, 0, 0, 1.0f);
        QTRY_COMPARE(done.size(), 1);
        QVERIFY(!p.isPlaying("t"));
        QVERIFY(p.trigger("t"));
        QVERIFY(p.isPlaying("t"));
        QVERIFY(!p.isPlaying("other"));
        p.stop("t"); // does nothing
        QVERIFY(p.isPlaying("t"));
        QByteArray out(16, '\0');
        QCOMPARE(p.stream()->read(out.data(), out.size()), qint64(16));
        QCOMPARE(int(sample16(out, 3)), 3);
        p.stopAll();
        QVERIFY(!p.isPlaying("t"));
        p.setVolume(0.25f);
        QCOMPARE(p.volume(), 0.25f);
    }
};

QTEST_GUILESS_MAIN(TstPcmPlayer)
#include "tst_pcmplayer.moc"
