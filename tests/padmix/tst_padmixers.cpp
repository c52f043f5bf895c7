#include <QtEndian>
#include <QtTest>

#include "DrumStream.h"
#include "MultiVoiceStream.h"
#include "PadTestUtil.h"

namespace {


// frame i holds (i, -i)
QByteArray rampPcm(int frames)
{
    QByteArray b(frames * 4, Qt::Uninitialized);
    for (int i = 0; i < frames; ++i) {
        qToLittleEndian<qint16>(qint16(i), b.data() + i * 4);
        qToLittleEndian<qint16>(qint16(-i), b.data() + i * 4 + 2);
    }
    return b;
}


// Pulls len bytes through the QIODevice interface into a buffer that starts
// out full of 0x55, so untouched bytes show.
QByteArray pull(QIODevice& dev, qint64 len, qint64* got = nullptr)
{
    QByteArray b(len, char(0x55));
    const qint64 n = dev.read(b.data(), len);
    if (got)
        *got = n;
    return b;
}

QByteArray mixFrames(DrumStream& s, int frames)
{
    QByteArray b(frames * 4, char(0x55));
    s.mix(b.data(), b.size());
    return b;
}

} // namespace

class TstPadMixers : public QObject
{
    Q_OBJECT
private slots:
    void drumVoiceChoiceRotatesAndTakesOverAtTheCursor()
    {
        DrumStream s;
        QList<QByteArray> bufs;
        for (int i = 0; i < 32; ++i)
            bufs << pcm16(100, qint16((i + 1) * 10), qint16(-(i + 1) * 10));
        for (const QByteArray& b : bufs)
            s.trigger(&b, 1.0f);
        QCOMPARE(s.activeVoiceCount(), 32);

        // The 33rd start cuts the voice at the cursor (voice 0) and nothing else.
        const QByteArray x = pcm16(100, 1000, -1000);
        s.trigger(&x, 1.0f);
        QCOMPARE(s.activeVoiceCount(), 32);
        QVERIFY(!s.isVoiceActive(bufs[0].constData()));
        for (int i = 1; i < 32; ++i)
            QVERIFY2(s.isVoiceActive(bufs[i].constData()), qPrintable(QString::number(i)));
        QVERIFY(s.isVoiceActive(x.constData()));
        const QByteArray out = mixFrames(s, 1);
        // 20 + 30 + ... + 320 (voices 1..31) plus the newcomer
        QCOMPARE(int(sample16(out, 0, 0)), 5270 + 1000);
        QCOMPARE(int(sample16(out, 0, 1)), -5270 - 1000);

        // The next one takes voice 1.
        const QByteArray y = pcm16(100, 1, 1);
        s.trigger(&y, 1.0f);
        QVERIFY(!s.isVoiceActive(bufs[1].constData()));
        QVERIFY(s.isVoiceActive(x.constData()));
        QVERIFY(s.isVoiceActive(bufs[2].constData()));

        // A free voice is found from the cursor on: stopping voice 5's sound
        // makes the next start land there, cutting nothing.
        s.stopByPcm(&bufs[5]);
        const QByteArray z = pcm16(100, 2, 2);
        s.trigger(&z, 1.0f);
        QCOMPARE(s.activeVoiceCount(), 32);
        for (int i = 2; i < 32; ++i)
            if (i != 5)
                QVERIFY(s.isVoiceActive(bufs[i].constData()));
    }

    void drumIgnoresNullEmptyAndDropsTinyBuffers()
    {
        DrumStream s;
        s.trigger(nullptr, 1.0f);
        const QByteArray empty;
        s.trigger(&empty, 1.0f);
        s.triggerCopy(QByteArray(), 1.0f);
        QCOMPARE(s.activeVoiceCount(), 0);

        // 1 to 3 bytes start a voice that the first mix drops without sound.
        const QByteArray one(1, char(0x7f)), two(2, char(0x7f)), three(3, char(0x7f));
        s.trigger(&one, 1.0f);
        s.trigger(&two, 1.0f);
        s.triggerCopy(three, 1.0f);
        QCOMPARE(s.activeVoiceCount(), 3);
        const QByteArray out = mixFrames(s, 4);
        QCOMPARE(out, QByteArray(16, '\0'));
        QCOMPARE(s.activeVoiceCount(), 0);
    }

    void drumOddPullLengthAndSilence()
    {
        DrumStream s;
        QVERIFY(s.isOpen());
        QVERIFY(s.isSequential());
        const QByteArray ramp = rampPcm(100);
        s.trigger(&ramp, 1.0f);

        qint64 got = 0;
        QByteArray out = pull(s, 5 * 4 + 3, &got);
        QCOMPARE(got, qint64(23));
        for (int f = 0; f < 5; ++f) {
            QCOMPARE(int(sample16(out, f, 0)), f);
            QCOMPARE(int(sample16(out, f, 1)), -f);
        }
        QCOMPARE(out.mid(20), QByteArray(3, '\0'));

        // Silenced: zeros of the full length, and the voice does not move on.
        s.setSilenced(true);
        out = pull(s, 40, &got);
        QCOMPARE(got, qint64(40));
        QCOMPARE(out, QByteArray(40, '\0'));
        QVERIFY(!s.isReading());
        s.setSilenced(false);
        out = pull(s, 8);
        QCOMPARE(int(sample16(out, 0, 0)), 5);
        QCOMPARE(int(sample16(out, 1, 0)), 6);

        // No voice: still the full length, all zeros; the stream never ends.
        s.stopAll();
        out = pull(s, 4096, &got);
        QCOMPARE(got, qint64(4096));
        QCOMPARE(out, QByteArray(4096, '\0'));
    }

    void drumSumsClipAndGainTruncates()
    {
        DrumStream s;
        const QByteArray hi = pcm16(4, 30000, -30000);
        s.trigger(&hi, 1.0f);
        s.triggerCopy(hi, 1.0f);
        s.triggerCopy(pcm16(4, 30000, -30000), 1.0f);
        QByteArray out = mixFrames(s, 4);
        for (int f = 0; f < 4; ++f) {
            QCOMPARE(int(sample16(out, f, 0)), 32767);
            QCOMPARE(int(sample16(out, f, 1)), -32768);
        }

        // 3 x 0.5 = 1.5 and -1.5 truncate toward zero; a gain of 2 clips alone.
        s.stopAll();
        s.triggerCopy(pcm16(2, 3, -3), 0.5f);
        out = mixFrames(s, 2);
        QCOMPARE(int(sample16(out, 0, 0)), 1);
        QCOMPARE(int(sample16(out, 0, 1)), -1);
        s.triggerCopy(pcm16(1, 20000, -20000), 2.0f);
        out = mixFrames(s, 1);
        QCOMPARE(int(sample16(out, 0, 0)), 32767);
        QCOMPARE(int(sample16(out, 0, 1)), -32768);

        // A sound plays once: the voice ends exactly at its last frame.
        s.triggerCopy(pcm16(3, 100, 100), 1.0f);
        out = mixFrames(s, 5);
        QCOMPARE(int(sample16(out, 2, 0)), 100);
        QCOMPARE(int(sample16(out, 3, 0)), 0);
        QCOMPARE(s.activeVoiceCount(), 0);
    }

    void drumFadeEndsOnItsExactFrame_data()
    {
        QTest::addColumn<int>("fadeFrames");
        QTest::addColumn<int>("chunk");
        QTest::newRow("100 ms in one pull") << 4410 << 8192;
        QTest::newRow("100 ms in 441-frame pulls") << 4410 << 441;
        QTest::newRow("1 s in 1000-frame pulls") << 44100 << 1000;
        QTest::newRow("7 frames") << 7 << 3;
    }
    void drumFadeEndsOnItsExactFrame()
    {
        QFETCH(int, fadeFrames);
        QFETCH(int, chunk);
        DrumStream s;
        const QByteArray src = pcm16(fadeFrames + 1000, 10000, -10000);
        s.triggerCopy(src, 1.0f);
        mixFrames(s, 10); // some frames at full level first
        s.fadeStopByPcmData(src.constData(), 1.0 / fadeFrames);

        // frames 1 .. N-1 of the fade sound at (1 - k/N); frame N ends the voice.
        QByteArray all;
        int left = fadeFrames - 1;
        while (left > 0) {
            const int n = std::min(chunk, left);
            all += mixFrames(s, n);
            left -= n;
        }
        QVERIFY(s.isVoiceActive(src.constData()));
        for (int k : {0, fadeFrames / 2, fadeFrames - 2}) {
            const double level = 1.0 - double(k + 1) / fadeFrames;
            QVERIFY2(std::abs(sample16(all, k, 0) - 10000.0 * level) <= 1.0, qPrintable(QString::number(k)));
        }
        QVERIFY(sample16(all, fadeFrames - 2, 0) >= 0);
        const QByteArray last = mixFrames(s, 4);
        QCOMPARE(last, QByteArray(16, '\0'));
        QVERIFY(!s.isVoiceActive(src.constData()));
    }

    void drumFadeByPointerRestartsFromFullLevel()
    {
        DrumStream s;
        const QByteArray src = pcm16(1000, 8000, 8000);
        s.trigger(&src, 1.0f);
        s.fadeStopByPcm(&src, 0.0); // no step: nothing
        s.fadeStopByPcm(nullptr, 0.1);
        QCOMPARE(int(sample16(mixFrames(s, 1), 0, 0)), 8000);
        s.fadeStopByPcm(&src, 0.25);
        QCOMPARE(int(sample16(mixFrames(s, 1), 0, 0)), 6000);
        s.fadeStopByPcm(&src, 0.25); // starts again from full level
        QByteArray out = mixFrames(s, 4);
        QCOMPARE(int(sample16(out, 0, 0)), 6000);
        QCOMPARE(int(sample16(out, 1, 0)), 4000);
        QCOMPARE(int(sample16(out, 2, 0)), 2000);
        QCOMPARE(int(sample16(out, 3, 0)), 0);
        QCOMPARE(s.activeVoiceCount(), 0);
    }

    void drumSharedCopiesAreOneSound()
    {
        DrumStream s;
        const QByteArray a = pcm16(100, 1000, 1000);
        const QByteArray shared = a; // implicitly shared: same data
        const QByteArray deep(a.constData(), a.size());
        s.triggerCopy(a, 1.0f);
        s.triggerCopy(shared, 1.0f);
        s.triggerCopy(deep, 1.0f);
        QCOMPARE(s.activeVoiceCount(), 3);
        QVERIFY(s.isVoiceActive(shared.constData()));

        s.setVolumeByPcmData(a.constData(), 0.5f);
        QCOMPARE(int(sample16(mixFrames(s, 1), 0, 0)), 500 + 500 + 1000);

        s.stopByPcmData(shared.constData());
        QVERIFY(!s.isVoiceActive(a.constData()));
        QVERIFY(s.isVoiceActive(deep.constData()));
        QCOMPARE(s.activeVoiceCount(), 1);
        s.stopByPcmData(nullptr);
        s.setVolumeByPcmData(nullptr, 0.0f);
        QCOMPARE(s.activeVoiceCount(), 1);
    }

    void drumRestartByCopyAfterFadePlaysFullLevel()
    {
        DrumStream s;
        // Voices 1..31 busy with long silence, voice 0 the pad.
        const QByteArray quiet(40000 * 4, '\0');
        const QByteArray pad = pcm16(1000, 9000, 9000);
        s.triggerCopy(pad, 1.0f);
        for (int i = 1; i < 32; ++i)
            s.trigger(&quiet, 1.0f);
        s.fadeStopByPcmData(pad.constData(), 0.5);
        mixFrames(s, 4);
        QVERIFY(!s.isVoiceActive(pad.constData()));

        // The cursor is back at voice 0, which is free: the new start lands
        // there and must not inherit the finished fade.
        s.triggerCopy(pad, 1.0f);
        QCOMPARE(s.activeVoiceCount(), 32);
        const QByteArray out = mixFrames(s, 3);
        QCOMPARE(int(sample16(out, 0, 0)), 9000);
        QCOMPARE(int(sample16(out, 2, 0)), 9000);
    }

    void multiVoiceTakesOverAndKeepsItsRing()
    {
        MultiVoiceStream s;
        QVERIFY(s.isOpen());
        QByteArray first = pcm16(100, 1, 1);
        const QByteArray keep = first; // our reference, to see when the ring lets go
        s.trigger(first, 0);
        first = QByteArray();
        QVERIFY(!keep.isDetached());
        for (int i = 2; i <= 8; ++i)
            s.trigger(pcm16(100, qint16(i), qint16(i)), 0);
        QCOMPARE(int(sample16(pull(s, 4), 0, 0)), 36); // 1 + 2 + ... + 8

        // The ninth start takes over voice 0.
        s.trigger(pcm16(100, 100, 100), 0);
        QCOMPARE(int(sample16(pull(s, 4), 0, 0)), 35 + 100);

        // The ring still holds the first block until the 33rd start replaces slot 0.
        for (int i = 10; i <= 32; ++i)
            s.trigger(pcm16(10, 0, 0), 0);
        QVERIFY(!keep.isDetached());
        s.trigger(pcm16(10, 0, 0), 0);
        QVERIFY(keep.isDetached());
    }

    void multiVoiceMixesClipsAndEnds()
    {
        MultiVoiceStream s;
        qint64 got = 0;
        QByteArray out = pull(s, 64, &got);
        QCOMPARE(got, qint64(64));
        QCOMPARE(out, QByteArray(64, '\0'));
        QVERIFY(!s.isAnyActive());

        s.trigger(pcm16(3, 32767, -32768), 0);
        s.trigger(pcm16(3, 32767, -32768), 0);
        out = pull(s, 3 * 4 + 2);
        QCOMPARE(int(sample16(out, 0, 0)), 32767);
        QCOMPARE(int(sample16(out, 2, 1)), -32768);
        QCOMPARE(out.mid(12), QByteArray(2, '\0'));
        QVERIFY(!s.isAnyActive());

        // A start byte skips into the block.
        s.trigger(rampPcm(10), 4 * 6);
        out = pull(s, 8);
        QCOMPARE(int(sample16(out, 0, 0)), 6);
        QCOMPARE(int(sample16(out, 1, 0)), 7);

        // A tail shorter than a frame cannot play: the voice still ends.
        s.stopAll();
        QByteArray odd = pcm16(2, 5, 5);
        odd.append(char(1));
        s.trigger(odd, 0);
        pull(s, 64);
        QVERIFY(!s.isAnyActive());

        // stopAll lets go of every block.
        QByteArray block = pcm16(10, 1, 1);
        const QByteArray keep = block;
        s.trigger(block, 0);
        block = QByteArray();
        QVERIFY(s.isAnyActive());
        s.stopAll();
        QVERIFY(!s.isAnyActive());
        QVERIFY(keep.isDetached());
    }
};

QTEST_GUILESS_MAIN(TstPadMixers)
#include "tst_padmixers.moc"
