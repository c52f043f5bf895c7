#include <QtTest>

#include <QDeadlineTimer>
#include <QRandomGenerator>
#include <QThread>

#include <atomic>
#include <cmath>
#include <thread>

#include "AudioOutput.h"
#include "BufferMixer.h"
#include "ManualOutput.h"
#include "MonoClock.h"

using Buf = BufferMixer::Buffer;

namespace {

// Interleaved stereo block: left = base + i, right = -(base + i).
QByteArray ramp(int frames, int base = 1)
{
    QByteArray b(qsizetype(frames) * 4, '\0');
    auto* s = reinterpret_cast<qint16*>(b.data());
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = qint16(base + i);
        s[2 * i + 1] = qint16(-(base + i));
    }
    return b;
}

QByteArray constant(int frames, qint16 left, qint16 right)
{
    QByteArray b(qsizetype(frames) * 4, '\0');
    auto* s = reinterpret_cast<qint16*>(b.data());
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = left;
        s[2 * i + 1] = right;
    }
    return b;
}

qint16 expectMix(std::initializer_list<std::pair<int, float>> parts)
{
    float acc = 0.0f;
    for (auto [v, g] : parts)
        acc += float(v) * g;
    const float r = std::nearbyint(acc);
    return r >= 32767.0f ? 32767 : r <= -32768.0f ? -32768 : qint16(r);
}

qint16 frameAt(const QByteArray& pcm, qint64 frame, int ch)
{
    return reinterpret_cast<const qint16*>(pcm.constData())[frame * 2 + ch];
}

// The share of its level a fade-out leaves `done` frames into a fall of
// `length`, as a listener is promised it: (1 - x)^1.5 of the way x through,
// -9 dB half way, nothing from the end on.
float fallShare(quint64 done, quint64 length)
{
    return done >= length ? 0.0f : float(std::pow(1.0 - double(done) / double(length), 1.5));
}

quint32 cursorFrames(const BufferMixer& m, const Buf* b)
{
    quint32 bytes = 0;
    m.currentPosition(b, &bytes);
    return bytes / 4;
}

// One pass as the queue sizer sees it: whether the stretch before it kept
// the queue full, the frames it fed, the endpoint's underrun count, the
// frames queued now and the time in ms.
struct SizerStep
{
    bool fed;
    int frames;
    quint64 underruns;
    int queued = 0;
    int ms = 0;
};

// Lets the endpoint play frames, a queue at a time, each time waiting until
// the render thread has filled the queue it keeps again.
bool drain(ManualOutput* out, const BufferMixer& m, qint64 frames)
{
    while (frames > 0) {
        const int n = out->consume(int(std::min<qint64>(frames, out->framesQueued())));
        frames -= n;
        QDeadlineTimer deadline(10000);
        while (out->framesQueued() < m.queueFrames()) {
            if (deadline.hasExpired())
                return false;
            QThread::usleep(50);
        }
    }
    return true;
}

} // namespace

Q_DECLARE_METATYPE(QVector<SizerStep>)

class TestBufferMixer : public QObject
{
    Q_OBJECT

private slots:
    void mixPassSumsGainsAndSaturates()
    {
        BufferMixer m;
        const QByteArray a = ramp(4, 100);
        QByteArray loud = constant(4, 30000, -30000);
        Buf *va = nullptr, *vb = nullptr, *vc = nullptr, *idle = nullptr;
        QCOMPARE(m.createBuffer(a, 0, a.size(), &va), BufferMixer::Ok);
        QCOMPARE(m.createBuffer(loud, 0, loud.size(), &vb), BufferMixer::Ok);
        QCOMPARE(m.createBuffer(loud, 0, loud.size(), &vc), BufferMixer::Ok);
        QCOMPARE(m.createBuffer(a, 0, a.size(), &idle), BufferMixer::Ok);
        m.setVolume(va, -602);
        m.play(va, false);
        m.play(vb, false);
        m.play(vc, false);
        const float ga = BufferMixer::gainForVolume(-602);

        Buf* voices[] = {va, vb, vc, idle};
        qint16 out[8];
        float acc[8];
        QCOMPARE(BufferMixer::mixPass(voices, 4, out, acc, 4), 4u);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(out[2 * i], expectMix({{100 + i, ga}, {30000, 1.f}, {30000, 1.f}}));
            QCOMPARE(out[2 * i + 1], qint16(-32768));
        }
        QCOMPARE(out[0], qint16(32767));

        // Only the quiet voice: its samples scaled and rounded, no clipping.
        m.stop(vb);
        m.stop(vc);
        m.setCurrentPosition(va, 0);
        m.play(va, false);
        BufferMixer::mixPass(voices, 4, out, acc, 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(out[2 * i], expectMix({{100 + i, ga}}));
            QCOMPARE(out[2 * i + 1], expectMix({{-(100 + i), ga}}));
        }
        for (Buf* b : voices)
            m.release(b);
    }

    void endOfBufferAndLooping()
    {
        BufferMixer m;
        const QByteArray five = ramp(5);
        const QByteArray three = ramp(3, 50);
        Buf *once = nullptr, *loop = nullptr;
        m.createBuffer(five, 0, five.size(), &once);
        m.createBuffer(three, 0, three.size(), &loop);
        m.play(once, false);
        m.play(loop, true);
        QCOMPARE(m.status(loop), BufferMixer::StatusPlaying | BufferMixer::StatusLooping);

        qint16 out[16];
        float acc[16];
        Buf* v1[] = {once};
        BufferMixer::mixPass(v1, 1, out, acc, 8);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(out[2 * i], qint16(1 + i));
        for (int i = 5; i < 8; ++i)
            QCOMPARE(out[2 * i], qint16(0));
        // Ran out: stopped, the cursor back at the start.
        QCOMPARE(m.status(once), 0u);
        QCOMPARE(cursorFrames(m, once), 0u);

        Buf* v2[] = {loop};
        BufferMixer::mixPass(v2, 1, out, acc, 8);
        const qint16 expect[] = {50, 51, 52, 50, 51, 52, 50, 51};
        for (int i = 0; i < 8; ++i)
            QCOMPARE(out[2 * i], expect[i]);
        QCOMPARE(cursorFrames(m, loop), 2u);
        QVERIFY(m.status(loop) & BufferMixer::StatusPlaying);
        m.release(once);
        m.release(loop);
    }

    void controlsCursorAndVolume()
    {
        BufferMixer m;
        const QByteArray pcm = ramp(10);
        Buf* b = nullptr;
        QCOMPARE(m.createBuffer(pcm, 0, pcm.size(), &b), BufferMixer::Ok);
        QCOMPARE(m.sizeBytes(b), 40u);
        qint16 out[8];
        float acc[8];
        Buf* v[] = {b};

        m.play(b, false);
        BufferMixer::mixPass(v, 1, out, acc, 3);
        m.stop(b); // keeps the cursor
        QCOMPARE(m.status(b), 0u);
        QCOMPARE(cursorFrames(m, b), 3u);
        BufferMixer::mixPass(v, 1, out, acc, 2);
        QCOMPARE(out[0], qint16(0));
        QCOMPARE(cursorFrames(m, b), 3u);
        m.play(b, false);
        BufferMixer::mixPass(v, 1, out, acc, 1);
        QCOMPARE(out[0], qint16(4));

        // Byte positions round down to frames; past the end is refused.
        QCOMPARE(m.setCurrentPosition(b, 7), BufferMixer::Ok);
        QCOMPARE(cursorFrames(m, b), 1u);
        QCOMPARE(m.setCurrentPosition(b, 40), BufferMixer::ErrInvalidParam);
        QCOMPARE(cursorFrames(m, b), 1u);

        QCOMPARE(m.setVolume(b, 1), BufferMixer::ErrInvalidParam);
        QCOMPARE(m.setVolume(b, -10001), BufferMixer::ErrInvalidParam);
        QCOMPARE(m.setVolume(b, -10000), BufferMixer::Ok);
        QCOMPARE(m.volume(b), -10000);
        BufferMixer::mixPass(v, 1, out, acc, 2);
        QCOMPARE(out[0], qint16(0));
        QCOMPARE(out[2], qint16(0));
        QCOMPARE(cursorFrames(m, b), 3u); // silent, but it plays on

        QCOMPARE(BufferMixer::gainForVolume(0), 1.0f);
        QCOMPARE(BufferMixer::gainForVolume(-10000), 0.0f);
        QVERIFY(std::abs(BufferMixer::gainForVolume(-602) - 0.5f) < 1e-4f);
        QVERIFY(std::abs(BufferMixer::gainForVolume(-2000) - 0.1f) < 1e-6f);

        // Bad shapes of a new buffer.
        Buf* bad = reinterpret_cast<Buf*>(1);
        QCOMPARE(m.createBuffer(pcm, 0, 6, &bad), BufferMixer::ErrInvalidParam);
        QCOMPARE(bad, nullptr);
        QCOMPARE(m.createBuffer(pcm, 0, 0, &bad), BufferMixer::ErrInvalidParam);
        QCOMPARE(m.createBuffer(pcm, 4, 40, &bad), BufferMixer::ErrInvalidParam);
        QCOMPARE(m.createBuffer(pcm, -4, 8, &bad), BufferMixer::ErrInvalidParam);
        QCOMPARE(m.stats().buffers, 1u);
        m.release(b);
        QCOMPARE(m.stats().buffers, 0u);
    }

    // A fade-out as mixed: a constant level of 10000 falls along the fade's
    // share, frame by frame across passes of any size, to nothing after its
    // length in frames; the buffer then stops where the fall ended. What
    // comes between the passes (at the frame `at` of the fall) may end or
    // take it over.
    void fadeOutFallsToSilence_data()
    {
        QTest::addColumn<quint32>("length");   // the fade's frames
        QTest::addColumn<int>("pass");         // frames a pass mixes
        QTest::addColumn<bool>("looping");
        QTest::addColumn<int>("bufferFrames");
        QTest::addColumn<QString>("between");  // "", "play", "stop", "fade again", "volume"
        QTest::addColumn<int>("at");
        QTest::newRow("441 frames in passes of 64") << 441u << 64 << false << 4000 << "" << 0;
        QTest::newRow("a pass ends where the fall does") << 256u << 128 << false << 4000 << "" << 0;
        QTest::newRow("one frame") << 1u << 64 << false << 4000 << "" << 0;
        QTest::newRow("a loop falls over its wrap") << 1000u << 100 << true << 300 << "" << 0;
        QTest::newRow("the sound runs out first") << 1000u << 100 << false << 450 << "" << 0;
        QTest::newRow("a play half way ends the fall") << 1000u << 100 << false << 4000 << "play" << 500;
        QTest::newRow("a stop half way ends it at once") << 1000u << 100 << false << 4000 << "stop" << 500;
        QTest::newRow("a second fade goes on from the level reached") << 1000u << 100 << false << 4000
                                                                     << "fade again" << 500;
        QTest::newRow("a volume set half way is followed down") << 1000u << 100 << false << 4000 << "volume"
                                                                << 500;
    }
    void fadeOutFallsToSilence()
    {
        QFETCH(quint32, length);
        QFETCH(int, pass);
        QFETCH(bool, looping);
        QFETCH(int, bufferFrames);
        QFETCH(QString, between);
        QFETCH(int, at);
        BufferMixer m;
        const QByteArray pcm = constant(bufferFrames, 10000, -10000);
        Buf* b = nullptr;
        QCOMPARE(m.createBuffer(pcm, 0, pcm.size(), &b), BufferMixer::Ok);
        m.play(b, looping);
        QCOMPARE(m.setCurrentPosition(b, 40 * 4), BufferMixer::Ok);
        QCOMPARE(m.fadeFramesLeft(b), 0u);
        QCOMPARE(m.fadeOut(b, length), BufferMixer::Ok);
        QCOMPARE(m.fadeFramesLeft(b), length);

        std::vector<qint16> out(size_t(pass) * 2);
        std::vector<float> acc(size_t(pass) * 2);
        Buf* v[] = {b};
        QVector<qint16> heard;   // the left channel, frame by frame
        auto mix = [&](int frames) {
            while (frames > 0) {
                const int n = std::min(frames, pass);
                BufferMixer::mixPass(v, 1, out.data(), acc.data(), n);
                for (int i = 0; i < n; ++i)
                    heard.append(out[size_t(i) * 2]);
                frames -= n;
            }
        };
        const int total = int(length) + 3 * pass;
        if (between.isEmpty()) {
            mix(total);
            // Each frame at the fall's share of the level, never rising,
            // nothing from the fade's length on; stopped where it ended.
            const int sounding = looping ? int(length) : std::min(int(length), bufferFrames - 40);
            for (int k = 0; k < total; ++k) {
                const float want = k < sounding ? 10000.0f * fallShare(k, length) : 0.0f;
                QVERIFY2(std::abs(heard[k] - want) <= 1.0f, qPrintable(QString("frame %1: %2, not %3")
                                                                             .arg(k).arg(heard[k]).arg(want)));
                if (k > 0)
                    QCOMPARE_LE(heard[k], heard[k - 1]);
            }
            QCOMPARE(m.status(b), 0u);
            QCOMPARE(m.fadeFramesLeft(b), 0u);
            if (sounding == int(length))
                QCOMPARE(cursorFrames(m, b), quint32((40 + length) % quint32(bufferFrames)));
            else
                QCOMPARE(cursorFrames(m, b), 0u);   // ran out: back at the start, as ever
            m.release(b);
            return;
        }

        mix(at);
        const float reached = 10000.0f * fallShare(at, length);
        QVERIFY(std::abs(heard.last() - 10000.0f * fallShare(at - 1, length)) <= 1.0f);
        if (between == QLatin1String("play")) {
            m.play(b, looping);
            QCOMPARE(m.fadeFramesLeft(b), 0u);
            mix(total);
            for (int k = at; k < heard.size(); ++k)
                QCOMPARE(heard[k], qint16(10000));
            QVERIFY(m.status(b) & BufferMixer::StatusPlaying);
        } else if (between == QLatin1String("stop")) {
            m.stop(b);
            QCOMPARE(m.fadeFramesLeft(b), 0u);
            mix(pass);
            QCOMPARE(heard[at], qint16(0));
            QCOMPARE(cursorFrames(m, b), quint32(40 + at));
        } else if (between == QLatin1String("fade again")) {
            // Twice as long: from the level reached, never back up, and
            // silent once the rest of the new fade's fall is mixed.
            QCOMPARE(m.fadeOut(b, 2 * length), BufferMixer::Ok);
            const quint32 left = m.fadeFramesLeft(b);
            QVERIFY(left < 2 * length);
            QVERIFY(std::abs(10000.0f * fallShare(2 * length - left, 2 * length) - reached) <= 2.0f);
            mix(int(left) + pass);
            for (int k = at; k < at + int(left); ++k)
                QCOMPARE_LE(heard[k], heard[k - 1] + 1);
            QVERIFY(std::abs(heard[at] - reached) <= 2.0f);
            QCOMPARE(heard.last(), qint16(0));
            QCOMPARE(m.status(b), 0u);
        } else {
            // A volume of a half meanwhile: the rest of the fall at half.
            QCOMPARE(m.setVolume(b, -602), BufferMixer::Ok);
            mix(total);
            const float half = BufferMixer::gainForVolume(-602);
            for (int k = at; k < int(length); ++k)
                QVERIFY(std::abs(heard[k] - 10000.0f * half * fallShare(k, length)) <= 1.0f);
            QCOMPARE(heard[int(length)], qint16(0));
            QCOMPARE(m.status(b), 0u);
        }
        m.release(b);
    }

    void duplicatesShareSamples()
    {
        BufferMixer m;
        QByteArray pcm = ramp(8);
        Buf* master = nullptr;
        // An offset into a larger block: the buffer reads it in place.
        QByteArray block = QByteArray(12, 'x') + pcm;
        QCOMPARE(m.createBuffer(block, 12, pcm.size(), &master), BufferMixer::Ok);
        QVERIFY(!block.isDetached()); // shared with the buffer, not copied
        m.setVolume(master, -602);
        m.play(master, false);
        Buf* dup = nullptr;
        QCOMPARE(m.duplicate(master, &dup), BufferMixer::Ok);
        QCOMPARE(m.status(dup), 0u);
        QCOMPARE(m.volume(dup), -602);
        QCOMPARE(m.sizeBytes(dup), m.sizeBytes(master));

        // The duplicate outlives its original and still sounds the samples.
        m.release(master);
        block = QByteArray();
        m.setVolume(dup, 0);
        m.play(dup, false);
        qint16 out[16];
        float acc[16];
        Buf* v[] = {dup};
        BufferMixer::mixPass(v, 1, out, acc, 8);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(out[2 * i + 1], qint16(-(1 + i)));
        m.release(dup);

        // An odd offset cannot be read as 16-bit samples in place.
        QByteArray odd = QByteArray(1, 'x') + pcm;
        Buf* b = nullptr;
        QCOMPARE(m.createBuffer(odd, 1, pcm.size(), &b), BufferMixer::Ok);
        m.play(b, false);
        Buf* v2[] = {b};
        BufferMixer::mixPass(v2, 1, out, acc, 2);
        QCOMPARE(out[2], qint16(2));
        m.release(b);
    }

    // A session holds thousands of idle buffers; a pass looks only at those
    // started since the last clean-up.
    void passWalksOnlyPlayingBuffers()
    {
        BufferMixer m;
        const QByteArray pcm = ramp(4096);
        const QByteArray shortPcm = ramp(16);
        std::vector<Buf*> all;
        for (int i = 0; i < 10000; ++i) {
            Buf* b = nullptr;
            QCOMPARE(m.createBuffer(i == 5 ? shortPcm : pcm, 0, i == 5 ? shortPcm.size() : pcm.size(), &b),
                     BufferMixer::Ok);
            all.push_back(b);
        }
        m.play(all[5], false);
        m.play(all[7000], true);
        m.play(all[9999], false);
        std::vector<qint16> out(64 * 2);
        m.renderBlock(out.data(), 64);
        QCOMPARE(m.stats().lastVisited, 3u);
        QCOMPARE(out[0], qint16(1 + 1 + 1));
        QCOMPARE(m.status(all[5]), 0u); // ran out within the block
        m.collect();
        m.renderBlock(out.data(), 64);
        QCOMPARE(m.stats().lastVisited, 2u);
        QCOMPARE(m.stats().maxVisited, 3u);
        for (Buf* b : all)
            m.release(b);
        m.collect();
        m.renderBlock(out.data(), 64);
        QCOMPARE(m.stats().lastVisited, 0u);
        QCOMPARE(m.stats().buffers, 0u);
        QCOMPARE(out[0], qint16(0));
    }

    // The queue a playing voice keeps: it grows after holes met while it
    // was kept full (underruns, stalls), never for the dry run of an idle
    // queue nor for a server that takes its data in chunks, stays within
    // its bounds, and comes back down a period at a time after quiet spells
    // of the clock, whether a voice plays or not.
    void queueSizeFollowsUnderruns_data()
    {
        QTest::addColumn<int>("maxFrames");
        QTest::addColumn<int>("rate"); // 0: stalls are not watched
        QTest::addColumn<QVector<SizerStep>>("steps");
        QTest::addColumn<int>("expected");
        const int spell = int(BufferMixer::kQuietSpellNs / 1000000);
        const int grow = BufferMixer::kGrowPeriods * 128;
        QTest::newRow("no underrun keeps the start") << 2047 << 0 << QVector<SizerStep>{{true, 384, 0}, {true, 128, 0}}
                                                     << 384;
        QTest::newRow("an underrun while fed grows it") << 2047 << 0 << QVector<SizerStep>{{true, 128, 0}, {true, 128, 1}}
                                                        << 384 + grow;
        QTest::newRow("several underruns in one stretch grow it once")
            << 2047 << 0 << QVector<SizerStep>{{true, 128, 3}} << 384 + grow;
        QTest::newRow("the idle dry run changes nothing")
            << 2047 << 0 << QVector<SizerStep>{{false, 0, 1}, {true, 384, 1}, {false, 0, 2}} << 384;
        QVector<SizerStep> many;
        for (quint64 u = 1; u <= 12; ++u)
            many.append({true, 128, u});
        QTest::newRow("many underruns end at the buffer") << 2047 << 0 << many << 2047;
        QTest::newRow("a buffer smaller than the start never grows")
            << 300 << 0 << QVector<SizerStep>{{true, 128, 1}, {true, 128, 2}} << 384;
        QTest::newRow("a quiet spell takes a period off")
            << 2047 << 0
            << QVector<SizerStep>{{true, 128, 1}, {true, 128, 2}, {true, 128, 2, 0, spell - 1}, {true, 128, 2, 0, spell}}
            << 384 + 2 * grow - 128;
        QTest::newRow("a millisecond short of a spell keeps it")
            << 2047 << 0 << QVector<SizerStep>{{true, 128, 1}, {true, 128, 1, 0, spell - 1}} << 384 + grow;
        QTest::newRow("idle time counts towards a spell")
            << 2047 << 0 << QVector<SizerStep>{{true, 128, 1}, {false, 0, 1, 0, spell / 2}, {false, 0, 1, 0, spell}}
            << 384 + grow - 128;
        QTest::newRow("frames fed are no spell without the clock")
            << 2047 << 0 << QVector<SizerStep>{{true, 128, 1}, {true, 2 * spell * 44, 1}, {true, 2 * spell * 44, 1}}
            << 384 + grow;
        QTest::newRow("an underrun starts the spell again")
            << 2047 << 0
            << QVector<SizerStep>{{true, 128, 1}, {true, 5, 2, 0, spell - 10}, {true, 128, 2, 0, 2 * spell - 20}}
            << 384 + 2 * grow;
        QTest::newRow("spells bring it down to the start and no further")
            << 2047 << 0
            << QVector<SizerStep>{{true, 128, 1}, {false, 0, 1, 0, spell}, {true, 128, 1, 0, 2 * spell},
                                  {true, 128, 1, 0, 3 * spell}, {true, 128, 1, 0, 4 * spell}}
            << 384;
        // The endpoint took the queue, it was topped up, then nothing was
        // taken for longer than what it took and what was queued: its mixer
        // played on without our sound.
        QTest::newRow("a stall longer than what was taken and queued grows it")
            << 2047 << 44100
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 0, 1}, {true, 384, 0, 384, 2}, {true, 0, 0, 384, 18},
                                  {true, 0, 0, 384, 19}}
            << 384 + grow;
        QTest::newRow("one stall grows it once")
            << 2047 << 44100
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 0, 1}, {true, 384, 0, 384, 2}, {true, 0, 0, 384, 19},
                                  {true, 0, 0, 384, 60}, {true, 0, 0, 384, 500}}
            << 384 + grow;
        QTest::newRow("just within what was taken and queued is no stall")
            << 2047 << 44100
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 0, 1}, {true, 384, 0, 384, 2}, {true, 0, 0, 384, 18}}
            << 384;
        // Taken as it plays, as a card does, 2 ms at a time for 60 ms.
        QVector<SizerStep> steady{{true, 0, 0, 384, 0}, {true, 0, 0, 296, 2}};
        for (int ms = 4; ms <= 60; ms += 2)
            steady.append({true, 88, 0, 296, ms});
        QTest::newRow("a queue going down is no stall") << 2047 << 44100 << steady << 384;
        // A sound server taking chunks: three queues in quick succession,
        // then nothing for longer than a queue lasts, within what it took.
        QTest::newRow("a server taking chunks ahead is no stall")
            << 2047 << 44100
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 0, 1},       {true, 384, 0, 0, 2},
                                  {true, 384, 0, 0, 3}, {true, 384, 0, 384, 4},   {true, 0, 0, 384, 20},
                                  {true, 0, 0, 384, 30}, {true, 0, 0, 128, 31},   {true, 256, 0, 384, 33}}
            << 384;
        QTest::newRow("a fresh queue the server has not begun taking is no stall")
            << 2047 << 44100
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 384, 9}, {true, 0, 0, 384, 1500},
                                  {true, 0, 0, 0, 1501}, {true, 384, 0, 384, 1502}, {true, 0, 0, 384, 1510}}
            << 384;
        QTest::newRow("an idle queue standing still is no stall")
            << 2047 << 44100
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 0, 1}, {false, 0, 0, 0, 2}, {false, 0, 0, 384, 50},
                                  {true, 0, 0, 384, 55}, {true, 0, 0, 384, 90}}
            << 384;
        QTest::newRow("stalls are not watched without a rate")
            << 2047 << 0
            << QVector<SizerStep>{{true, 0, 0, 384, 0}, {true, 0, 0, 0, 1}, {true, 384, 0, 384, 2}, {true, 0, 0, 384, 90}}
            << 384;
    }

    void queueSizeFollowsUnderruns()
    {
        QFETCH(int, maxFrames);
        QFETCH(int, rate);
        QFETCH(QVector<SizerStep>, steps);
        QFETCH(int, expected);
        BufferMixer::QueueSizer q(128, 384, maxFrames, rate);
        QCOMPARE(q.frames(), 384);
        int last = q.frames();
        for (const SizerStep& st : steps)
            last = q.update(st.fed, st.frames, st.underruns, st.queued, qint64(st.ms) * 1000000);
        QCOMPARE(last, expected);
        QCOMPARE(q.frames(), expected);
    }

    // The render thread keeps the queue the sizer asks for: three periods of
    // a larger buffer to start with (eight on a sound server's stream), more
    // after an underrun while a voice plays, and back to the start after
    // quiet spells of its clock (driven here).
    void renderLoopKeepsTheQueueItIsGiven_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<int>("startPeriods");
        QTest::newRow("card") << false << 3;
        QTest::newRow("sound server's stream") << true << 8;
    }

    void renderLoopKeepsTheQueueItIsGiven()
    {
        QFETCH(bool, server);
        QFETCH(int, startPeriods);
        ScopedFakeClock clock;
        BufferMixer m;
        auto owned = std::make_unique<ManualOutput>(BufferMixer::outputConfig());
        ManualOutput* out = owned.get();
        out->setFeedsSoundServer(server);
        QCOMPARE(m.open(std::move(owned)), BufferMixer::Ok);
        const int start = BufferMixer::kPeriodFrames * startPeriods;
        QCOMPARE(m.queueFrames(), start);
        QVERIFY(out->bufferFrames() >= BufferMixer::kPeriodFrames * BufferMixer::kMaxQueuePeriods);
        const QByteArray pcm = constant(441, 1000, -1000);
        Buf* b = nullptr;
        QCOMPARE(m.createBuffer(pcm, 0, pcm.size(), &b), BufferMixer::Ok);
        m.play(b, true);
        QCOMPARE(m.start(), BufferMixer::Ok);
        QVERIFY(drain(out, m, 4 * BufferMixer::kPeriodFrames));
        QCOMPARE(out->framesQueued(), qint64(start));
        QCOMPARE(m.queueGrowths(), 0u);

        out->injectUnderrun();
        QVERIFY(drain(out, m, BufferMixer::kPeriodFrames));
        const int grown = start + BufferMixer::kGrowPeriods * BufferMixer::kPeriodFrames;
        QTRY_COMPARE(m.queueFrames(), grown);
        QVERIFY(drain(out, m, BufferMixer::kPeriodFrames));
        QCOMPARE(out->framesQueued(), qint64(grown));
        QCOMPARE(m.queueGrowths(), 1u);

        // What the grown queue carries is the loop, unbroken.
        const QByteArray w = out->written();
        for (qint64 f = start; f < w.size() / 4; ++f)
            QCOMPARE(frameAt(w, f, 0), qint16(1000));

        // However much is played, only the clock brings it down.
        QVERIFY(drain(out, m, 4 * grown));
        QCOMPARE(m.queueFrames(), grown);
        clock.advanceNs(BufferMixer::kQuietSpellNs);
        QVERIFY(drain(out, m, BufferMixer::kPeriodFrames));
        QTRY_COMPARE(m.queueFrames(), grown - BufferMixer::kPeriodFrames);
        clock.advanceNs(BufferMixer::kQuietSpellNs - 1);
        QVERIFY(drain(out, m, 2 * BufferMixer::kPeriodFrames));
        QCOMPARE(m.queueFrames(), grown - BufferMixer::kPeriodFrames);
        clock.advanceNs(1);
        QVERIFY(drain(out, m, BufferMixer::kPeriodFrames));
        QTRY_COMPARE(m.queueFrames(), start);
        clock.advanceNs(BufferMixer::kQuietSpellNs);
        QVERIFY(drain(out, m, 2 * BufferMixer::kPeriodFrames));
        QCOMPARE(out->framesQueued(), qint64(start));
        m.close();
        m.release(b);
    }

    // The owning thread starts, stops, rewinds, duplicates and releases
    // buffers as fast as it can while the render thread mixes them.
    void handoffUnderLoad()
    {
        BufferMixer m;
        auto owned = std::make_unique<ManualOutput>(BufferMixer::outputConfig());
        ManualOutput* out = owned.get();
        QCOMPARE(m.open(std::move(owned)), BufferMixer::Ok);
        QCOMPARE(m.start(), BufferMixer::Ok);
        std::atomic<bool> go{true};
        std::thread device([&] {
            while (go.load()) {
                out->consume(220);
                std::this_thread::yield();
            }
        });

        QRandomGenerator rng(42);
        const QByteArray pcm = constant(300, 10, -10);
        std::vector<Buf*> live;
        for (int i = 0; i < 20000; ++i) {
            if (i % 500 == 0) {
                // Make sure passes run in between, however the threads are scheduled.
                const quint64 p = m.stats().passes;
                QDeadlineTimer deadline(10000);
                while (m.stats().passes < p + 2 && !deadline.hasExpired())
                    QThread::usleep(20);
                QVERIFY(m.stats().passes >= p + 2);
            }
            const int op = rng.bounded(7);
            if (live.empty() || op == 0) {
                Buf* b = nullptr;
                QCOMPARE(m.createBuffer(pcm, 0, pcm.size(), &b), BufferMixer::Ok);
                live.push_back(b);
                continue;
            }
            Buf* b = live[rng.bounded(int(live.size()))];
            switch (op) {
            case 1: m.play(b, rng.bounded(2) == 0); break;
            case 2: m.stop(b); break;
            case 3: m.setCurrentPosition(b, quint32(rng.bounded(300)) * 4); break;
            case 4: m.setVolume(b, -rng.bounded(3000)); break;
            case 5: {
                Buf* d = nullptr;
                QCOMPARE(m.duplicate(b, &d), BufferMixer::Ok);
                m.play(d, false);
                live.push_back(d);
                break;
            }
            default:
                live.erase(std::find(live.begin(), live.end(), b));
                m.release(b);
            }
            if (live.size() > 200) {
                m.release(live.front());
                live.erase(live.begin());
            }
        }
        QCOMPARE(m.stats().buffers, quint32(live.size()));
        go = false;
        device.join();
        for (Buf* b : live)
            m.release(b);
        // Every voice is +s left, -s right, so every mixed frame is too; a
        // pass reading freed or torn buffers would break that.
        const QByteArray w = out->written();
        for (qint64 f = 0; f < w.size() / 4; ++f) {
            if (frameAt(w, f, 0) != -frameAt(w, f, 1))
                QFAIL(qPrintable(QStringLiteral("frame %1 is not symmetric").arg(f)));
        }
        m.close();
        m.collect();
        QCOMPARE(m.stats().buffers, 0u);
    }
};

QTEST_GUILESS_MAIN(TestBufferMixer)
#include "tst_buffermixer.moc"
