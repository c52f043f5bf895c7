#include <QtTest>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSemaphore>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <thread>

#include "AudioOutput.h"
#include "BufferMixer.h"
#include "DirectSoundEngine.h"
#include "FileCalls.h"
#include "FileCheck.h"
#include "KnownFiles.h"
#include "ManualOutput.h"
#include "OpLog.h"
#include "TestSupport.h"

namespace {

constexpr int kPeriod = BufferMixer::kPeriodFrames;

// Interleaved stereo: left = base + (i % wrap), right = -(that).
QByteArray ramp(int frames, int base = 1, int wrap = 1000)
{
    QByteArray b(qsizetype(frames) * 4, '\0');
    auto* s = reinterpret_cast<qint16*>(b.data());
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = qint16(base + i % wrap);
        s[2 * i + 1] = qint16(-(base + i % wrap));
    }
    return b;
}

qint16 sampleAt(const QByteArray& pcm, qint64 frame, int ch = 0)
{
    if (frame < 0 || (frame + 1) * 4 > pcm.size())
        return 0;
    return reinterpret_cast<const qint16*>(pcm.constData())[frame * 2 + ch];
}

// What the decoder gives the engine in these tests: blocks registered by
// path, the gain applied the way the real decoder does, every call recorded.
struct FakeDecoder
{
    struct Call
    {
        QString path;
        double in, out;
        float gain;
    };
    QMutex mx;
    QHash<QString, QByteArray> blocks;
    QList<Call> calls;
    QSemaphore* gate = nullptr; // when set, a decode of "gated" waits for it

    QByteArray decode(const QString& path, double in, double out, float gain)
    {
        QSemaphore* g = nullptr;
        QByteArray b;
        {
            QMutexLocker lock(&mx);
            calls.append({path, in, out, gain});
            b = blocks.value(path);
            if (path == QLatin1String("gated"))
                g = gate;
        }
        if (g)
            g->acquire();
        if (!b.startsWith("RIFF") && std::abs(gain - 1.0f) > 0.01f) {
            auto* s = reinterpret_cast<qint16*>(b.data());
            for (qsizetype i = 0; i < b.size() / 2; ++i)
                s[i] = qint16(std::clamp(std::trunc(float(s[i]) * gain), -32768.0f, 32767.0f));
        }
        return b;
    }
    int callCount()
    {
        QMutexLocker lock(&mx);
        return int(calls.size());
    }
    Call lastCall()
    {
        QMutexLocker lock(&mx);
        return calls.last();
    }
};

QByteArray wavImage(const QVector<qint16>& samples, int channels, int rate)
{
    const QString path = TestSupport::tempDir() + "/img.wav";
    if (!TestSupport::writeWav16(path, samples, channels, rate))
        return {};
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

// An endpoint that opens but never starts.
class RefusingOutput : public ManualOutput
{
public:
    RefusingOutput(const AudioOutputConfig& c, int* attempts) : ManualOutput(c), m_attempts(attempts) {}
    bool start() override
    {
        ++*m_attempts;
        return false;
    }

private:
    int* m_attempts;
};

} // namespace

class TestDsEngine : public QObject
{
    Q_OBJECT

    DirectSoundEngine* e = nullptr;
    std::shared_ptr<FakeDecoder> dec;
    int factoryCalls = 0;

    ManualOutput* out() const { return static_cast<ManualOutput*>(e->mixer()->output()); }

    // Lets the endpoint play frames (a period at a time) and waits until the
    // render thread has refilled them.
    bool pump(int frames)
    {
        ManualOutput* o = out();
        while (frames > 0) {
            const int n = std::min(frames, kPeriod);
            const qint64 target = o->framesWritten() + n;
            o->consume(n);
            QDeadlineTimer deadline(10000);
            while (o->framesWritten() < target) {
                if (deadline.hasExpired())
                    return false;
                QThread::usleep(50);
            }
            frames -= n;
        }
        return true;
    }
    qint64 written() const { return out()->framesWritten(); }

    bool load(const QString& id, const QString& path, const QByteArray& block, float gain = 1.0f,
              bool loop = false)
    {
        {
            QMutexLocker lock(&dec->mx);
            dec->blocks.insert(path, block);
        }
        e->preload(id, path, 0.0, 0.0, gain, loop, 0.0, 0.0);
        return QTest::qWaitFor([&] { return e->isReady(id); }, 5000);
    }

    void stopTimers()
    {
        for (QTimer* t : e->findChildren<QTimer*>())
            t->stop();
    }

    // Waits until the notices of files seen are told (queued, then gathered).
    bool seenTold()
    {
        QCoreApplication::processEvents();
        auto* gather = e->findChild<QTimer*>(QStringLiteral("dseFilesSeen"));
        return gather && QTest::qWaitFor([&] { return !gather->isActive(); }, 5000);
    }

    bool watchersDone()
    {
        return QTest::qWaitFor([&] { return e->findChildren<QFutureWatcherBase*>().isEmpty(); }, 5000);
    }

    // --- What is heard of the sound "h" (whatIsHeard) ---------------------

    // With the sweep held, a save, a rename or a delete is known from the
    // system's notices within a few milliseconds; waiting a second for it
    // leaves room for a busy machine, and none for notices held back for
    // seconds before their files are looked at.
    static constexpr int kKnownWithinMs = 1000;

    static constexpr qint16 kHeardLevel = 16000;
    static qint16 heardCode(qint64 frame) { return qint16(frame % 30000); }

    // Left a steady level, right the frame number (counted from codeFrom).
    static bool writeHeardWav(const QString& path, double seconds, qint64 codeFrom = 0)
    {
        const qint64 frames = qint64(std::llround(seconds * 44100));
        QVector<qint16> samples(frames * 2);
        for (qint64 f = 0; f < frames; ++f) {
            samples[2 * f] = kHeardLevel;
            samples[2 * f + 1] = heardCode(codeFrom + f);
        }
        return TestSupport::writeWav16(path, samples, 2, 44100);
    }

    // Plays "h" from the cursor given (in frames of the sound) for n frames;
    // what was mixed, from the first frame after the jump.
    QByteArray listen(qint64 from, int n)
    {
        e->mixer()->setCurrentPosition(e->slotView("h").master, quint32(from * 4));
        const qint64 at = written();
        if (!pump(n))
            return QByteArray();
        return out()->written().mid(at * 4, qsizetype(n) * 4);
    }
    static double levelOf(const QByteArray& w) { return double(sampleAt(w, 0)) / kHeardLevel; }

    // From the trim-in to the last frame, then silence.
    void hearWholeLength(qint64 frames, qint64 first)
    {
        QByteArray w = listen(0, kPeriod);
        QCOMPARE(sampleAt(w, 0, 1), heardCode(first));
        w = listen(frames - kPeriod, 3 * kPeriod);
        QCOMPARE(sampleAt(w, kPeriod - 1), kHeardLevel);
        QCOMPARE(sampleAt(w, kPeriod - 1, 1), heardCode(first + frames - 1));
        for (int i = kPeriod; i < 3 * kPeriod; ++i)
            QCOMPARE(sampleAt(w, i), qint16(0));
        QVERIFY(!e->isPlaying("h"));
    }

    // Straight from the last frame back to the first.
    void hearLoopWithoutGap(qint64 frames)
    {
        const QByteArray w = listen(frames - kPeriod, 3 * kPeriod);
        for (int i = 0; i < 3 * kPeriod; ++i) {
            QCOMPARE(sampleAt(w, i), kHeardLevel);
            QCOMPARE(sampleAt(w, i, 1), heardCode(i < kPeriod ? frames - kPeriod + i : i - kPeriod));
        }
        QVERIFY(e->isMasterPlaying("h"));
    }

    // A tab volume change on the playing sound, then the master on top.
    void hearTabVolume()
    {
        QCOMPARE(levelOf(listen(1000, kPeriod)), 1.0);
        auto dbOff = [&](double expected) {
            const double got = levelOf(listen(2000, kPeriod));
            return got > 0 ? std::abs(20 * std::log10(got / expected)) : 99.0;
        };
        e->setSoundVolume("h", 0.42f);
        QVERIFY2(dbOff(0.42) < 0.5, "tab volume on a playing sound");
        e->setVolume(0.5f);
        QVERIFY2(dbOff(0.21) < 0.5, "master volume after a tab change");
        e->setVolume(1.0f);
        QVERIFY2(dbOff(0.42) < 0.5, "master back to full");
    }

    // Loop on while it plays: it goes on and ends as started; the next press
    // loops; off again while looping: it goes on, and presses overlap again.
    void hearLoopToggle(qint64 frames)
    {
        BufferMixer* m = e->mixer();
        BufferMixer::Buffer* master = e->slotView("h").master;
        QVERIFY(e->setLoop("h", true));
        QByteArray w = listen(1000, kPeriod);
        QCOMPARE(sampleAt(w, kPeriod - 1), kHeardLevel);
        QVERIFY(!(m->status(master) & BufferMixer::StatusLooping));
        w = listen(frames - kPeriod, 2 * kPeriod);
        QCOMPARE(sampleAt(w, kPeriod), qint16(0));
        QVERIFY(!e->isPlaying("h"));
        QVERIFY(e->triggerSingle("h", 1.0f));
        QVERIFY(m->status(master) & BufferMixer::StatusLooping);
        QVERIFY(e->setLoop("h", false));
        QCOMPARE(e->slotView("h").duplicates.size(), DirectSoundEngine::kDuplicates);
        w = listen(frames - kPeriod, 2 * kPeriod);
        QCOMPARE(sampleAt(w, kPeriod), kHeardLevel);
        QVERIFY(e->trigger("h", 1.0f));
        QVERIFY(e->isMasterPlaying("h"));
    }

    // The gain every 50 ms within 0.05 of the linear ramps.
    void hearFades(qint64 frames, double fade)
    {
        const double length = double(frames) / 44100;
        for (double t = 0; t < length; t += 0.05) {
            const double ramp = std::min({1.0, t / fade, (length - t) / fade});
            const double got = levelOf(listen(std::llround(t * 44100), kPeriod));
            QVERIFY2(std::abs(got - ramp) <= 0.05, qPrintable(QString("%1 s: %2 for %3").arg(t).arg(got).arg(ramp)));
        }
    }

private slots:
    void initTestCase()
    {
        e = DirectSoundEngine::instance();
        QCOMPARE(e, DirectSoundEngine::instance());
        QCOMPARE(e->parent(), QCoreApplication::instance());
    }

    void init()
    {
        dec = std::make_shared<FakeDecoder>();
        std::shared_ptr<FakeDecoder> d = dec;
        e->setDecoder([d](const QString& p, double i, double o, float g) { return d->decode(p, i, o, g); });
        factoryCalls = 0;
        e->setOutputFactory([this]() -> std::unique_ptr<AudioOutput> {
            ++factoryCalls;
            return std::make_unique<ManualOutput>(BufferMixer::outputConfig());
        });
        e->setVolume(1.0f);
        QTRY_VERIFY(e->init(nullptr));   // the output opens on a thread of its own
        QVERIFY(e->isInitialized());
    }

    void cleanup()
    {
        releaseLook();
        e->shutdown();
        QVERIFY(!e->isInitialized());
        QVERIFY(watchersDone());
    }

    void dsVolumeTable_data()
    {
        QTest::addColumn<float>("v");
        QTest::addColumn<int>("expected");
        QTest::newRow("unity") << 1.0f << 0;
        QTest::newRow("above") << 1.5f << 0;
        QTest::newRow("half") << 0.5f << -602;
        QTest::newRow("tenth") << 0.1f << -2000;
        QTest::newRow("1e-4") << 0.0001f << -8000;
        QTest::newRow("1e-5") << 0.00001f << -10000;
        QTest::newRow("1e-6 clamped") << 0.000001f << -10000;
        QTest::newRow("zero") << 0.0f << -10000;
        QTest::newRow("negative") << -0.5f << -10000;
        QTest::newRow("nan") << std::nanf("") << -10000;
    }
    void dsVolumeTable()
    {
        QFETCH(float, v);
        QFETCH(int, expected);
        QCOMPARE(DirectSoundEngine::dsVolume(v), expected);
    }

    void initFailuresAndRetry()
    {
        e->shutdown();
        QSignalSpy failed(e, &DirectSoundEngine::initFailed);

        e->setOutputFactory([] { return std::unique_ptr<AudioOutput>(); });
        QVERIFY(!e->init(nullptr));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.last().at(0).toString(), QString("DirectSoundCreate8 failed: 0x88780078"));

        int attempts = 0;
        e->setOutputFactory([&]() -> std::unique_ptr<AudioOutput> {
            return std::make_unique<RefusingOutput>(BufferMixer::outputConfig(), &attempts);
        });
        QVERIFY(!e->init(nullptr));
        QCOMPARE(failed.last().at(0).toString(), QString("SetCooperativeLevel failed: 0x80004005"));
        QCOMPARE(attempts, 2); // tried once more before giving up
        QVERIFY(!e->isInitialized());

        AudioOutputConfig other = BufferMixer::outputConfig();
        other.rate = 48000;
        e->setOutputFactory([other] { return std::make_unique<ManualOutput>(other); });
        QVERIFY(!e->init(nullptr));
        QCOMPARE(failed.last().at(0).toString(), QString("DirectSoundCreate8 failed: 0x80070057"));

        // Not ready: preloads are ignored and presses go elsewhere.
        e->preload("a", "x.wav", 0, 0, 1.0f, false, 0, 0);
        QCOMPARE(e->pendingPreloads(), 0);
        QCOMPARE(dec->callCount(), 0);
        QVERIFY(!e->triggerSingle("a", 1.0f));

        // The repeated failures were logged once each, not per retry.
        const int logged = OpLog::totalWritten();
        QVERIFY(!e->init(nullptr));
        QCOMPARE(OpLog::totalWritten(), logged);

        // An endpoint whose sound server does not answer: neither init nor
        // its retries wait for it; the retry after it opened takes it. It
        // answers 2.5 s on at the latest: an init that waited that long
        // (the window frozen with it) would take it at once.
        auto gate = std::make_shared<QSemaphore>(0);
        e->setOutputFactory([gate]() -> std::unique_ptr<AudioOutput> {
            gate->acquire();
            return std::make_unique<ManualOutput>(BufferMixer::outputConfig());
        });
        QSemaphore answer;
        std::thread server([&answer, gate] {
            answer.tryAcquire(1, 2500);
            gate->release();
        });
        const bool readyAtOnce = e->init(nullptr);
        const bool readyOnRetry = e->init(nullptr);
        answer.release();
        server.join();
        QVERIFY(!readyAtOnce && !readyOnRetry);
        QTRY_VERIFY(e->init(nullptr));
        e->shutdown();

        factoryCalls = 0;
        e->setOutputFactory([this]() -> std::unique_ptr<AudioOutput> {
            ++factoryCalls;
            return std::make_unique<ManualOutput>(BufferMixer::outputConfig());
        });
        QTRY_VERIFY(e->init(nullptr));
        QVERIFY(e->init(reinterpret_cast<void*>(0x1234)));
        QCOMPARE(factoryCalls, 1);
    }

    void preloadWindowAndGuards()
    {
        dec->blocks.insert("f.wav", ramp(100));
        e->preload("", "f.wav", 0, 0, 1.0f, false, 0, 0);
        e->preload("a", "", 0, 0, 1.0f, false, 0, 0);
        QCOMPARE(e->pendingPreloads(), 0);

        // A decode reads the window and a little more, never the whole file.
        const double past = DirectSoundEngine::kMaxDecodeSeconds + DirectSoundEngine::kOverrunProbeSeconds;
        e->preload("a", "f.wav", 2.0, 0.0, 0.8f, false, 0.5, 0.7);
        QTRY_VERIFY(e->isReady("a"));
        FakeDecoder::Call c = dec->lastCall();
        QCOMPARE(c.in, 2.0);
        QCOMPARE(c.out, 2.0 + past);
        QCOMPARE(c.gain, 0.8f);

        e->preload("b", "f.wav", 1.0, 46.0, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("b"));
        QCOMPARE(dec->lastCall().out, 1.0 + past);
        e->preload("c", "f.wav", 1.0, 5.5, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("c"));
        QCOMPARE(dec->lastCall().out, 5.5);
        // Crossed trims would read "to the end of the file": bounded as well.
        e->preload("crossed", "f.wav", 10.0, 4.0, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("crossed"));
        QCOMPARE(dec->lastCall().in, 10.0);
        QCOMPARE(dec->lastCall().out, 10.0 + past);
        e->evict("crossed");

        // More than the window decoded: never ready (it would stop early),
        // done with as far as a wait is concerned, and not decoded again
        // until something about it changes.
        const int windowFrames = int(DirectSoundEngine::kMaxDecodeSeconds * 44100);
        dec->blocks.insert("long.wav", ramp(windowFrames + 1));
        dec->blocks.insert("exact.wav", ramp(windowFrames));
        e->preload("long", "long.wav", 0, 0, 1.0f, false, 0, 0);
        e->preload("exact", "exact.wav", 0, 0, 1.0f, true, 0, 0);
        QVERIFY(watchersDone());
        QVERIFY(!e->isReady("long"));
        QVERIFY(e->isSettled("long"));
        QVERIFY(e->isReady("exact"));
        const int before = dec->callCount();
        QVERIFY(!e->preload("long", "long.wav", 0, 0, 1.0f, false, 0, 0)); // says it queued nothing
        QCOMPARE(e->pendingPreloads(), 0);
        QVERIFY(!e->preload("long", "long.wav", 0, 0, 1.0f, true, 0, 0)); // the loop flag changes nothing
        QCOMPARE(e->pendingPreloads(), 0);
        QCOMPARE(dec->callCount(), before);
        e->evict("long"); // a changed button: asked again
        QVERIFY(!e->isSettled("long"));
        QVERIFY(e->preload("long", "long.wav", 0, 0, 1.0f, false, 0, 0));
        QVERIFY(watchersDone());
        QCOMPARE(dec->callCount(), before + 1);
        QVERIFY(!e->isReady("long"));
        e->evict("long");
        e->evict("exact");

        // Same file, range and gain again: served by the cache.
        const int calls = dec->callCount();
        e->preload("d", "f.wav", 1.0, 5.5, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("d"));
        QCOMPARE(dec->callCount(), calls);

        // An id that has its buffers is left alone.
        QSignalSpy done(e, &DirectSoundEngine::preloadDone);
        QVERIFY(!e->preload("a", "f.wav", 0, 0, 1.0f, false, 0, 0));
        QCOMPARE(e->pendingPreloads(), 0);
        QTest::qWait(20);
        QCOMPARE(done.size(), 0);
        QCOMPARE(e->slotCount(), 4);
    }

    void slotsFromDecodeResults()
    {
        QSignalSpy done(e, &DirectSoundEngine::preloadDone);
        // Raw PCM, cut to whole frames.
        QByteArray raw = ramp(1000);
        raw.append("xyz");
        QVERIFY(load("raw", "raw.bin", raw));
        QCOMPARE(e->slotView("raw").pcmBytes, 4000u);
        QCOMPARE(e->slotView("raw").durationMs, qint64(22));
        QCOMPARE(e->slotView("raw").duplicates.size(), DirectSoundEngine::kDuplicates);
        QTRY_COMPARE(done.size(), 1);
        QCOMPARE(done.at(0).at(0).toString(), QString("raw"));

        // A RIFF image of a 16-bit stereo 44100 Hz file: its data chunk only.
        QVector<qint16> samples;
        for (int i = 0; i < 600; ++i)
            samples << qint16(7 + i) << qint16(-7 - i);
        const QByteArray image = wavImage(samples, 2, 44100);
        QVERIFY(load("riff", "img.wav", image));
        QCOMPARE(e->slotView("riff").pcmBytes, 2400u);
        QVERIFY(e->triggerSingle("riff", 1.0f));
        const qint64 at = written();
        QVERIFY(pump(kPeriod));
        QCOMPARE(sampleAt(out()->written(), at), qint16(7));
        QCOMPARE(sampleAt(out()->written(), at + 5, 1), qint16(-12));

        // The WAV reader's image holds the whole file: the range is cut from it.
        e->preload("riffcut", "img.wav", 0.002, 0.0122, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("riffcut"));
        QCOMPARE(e->slotView("riffcut").pcmBytes, 1796u); // trunc(44100 * 0.0102 * 4), whole frames
        e->stop("riff");
        QVERIFY(e->triggerSingle("riffcut", 1.0f));
        const qint64 cutAt = written();
        QVERIFY(pump(kPeriod));
        QCOMPARE(sampleAt(out()->written(), cutAt), qint16(7 + 88)); // from frame round(0.002 * 44100)

        // Anything else in a RIFF image is refused, and so is nothing at all:
        // each pre-load ends, told as one that failed.
        const QByteArray mono = wavImage(QVector<qint16>(400, 100), 1, 22050);
        dec->blocks.insert("mono.wav", mono);
        dec->blocks.insert("empty.mp3", QByteArray());
        QSignalSpy failed(e, &DirectSoundEngine::preloadFailed);
        const qsizetype doneBefore = done.size();
        e->preload("mono", "mono.wav", 0, 0, 1.0f, false, 0, 0);
        e->preload("none", "empty.mp3", 0, 0, 1.0f, false, 0, 0);
        QVERIFY(watchersDone());
        QVERIFY(!e->isReady("mono"));
        QVERIFY(!e->isReady("none"));
        QTRY_COMPARE(failed.size(), 2);
        QCOMPARE(QSet<QString>({failed.at(0).at(0).toString(), failed.at(1).at(0).toString()}),
                 QSet<QString>({QStringLiteral("mono"), QStringLiteral("none")}));
        QCOMPARE(done.size(), doneBefore);
        // Nothing more comes of waiting for either.
        QVERIFY(e->isSettled("mono"));
        QVERIFY(e->isSettled("none"));
        QVERIFY(e->isSettled("raw"));
        QVERIFY(!e->isSettled("never asked"));
        const QString log = OpLog::entriesNewestFirst().join('\n');
        QVERIFY(log.contains("[DSE] nothing decoded for none (empty.mp3)"));
        QVERIFY(log.contains("[DSE] no 16-bit stereo 44100 Hz samples for mono (mono.wav)"));

        // Nothing decoded is not remembered: the next preload asks again
        // (and the failure is not logged again).
        // (Counted by its own line: the engine may have other things to say
        // meanwhile, such as a queue grown on a busy machine.)
        const int calls = dec->callCount();
        const auto toldOfNone = [] { return OpLog::entriesNewestFirst().filter("nothing decoded for none").size(); };
        const qsizetype told = toldOfNone();
        e->preload("none", "empty.mp3", 0, 0, 1.0f, false, 0, 0);
        QVERIFY(watchersDone());
        QCOMPARE(dec->callCount(), calls + 1);
        QCOMPARE(toldOfNone(), told);
    }

    void onsetWithinOnePeriod()
    {
        QVERIFY(load("s", "s.bin", ramp(3000)));
        QVERIFY(pump(kPeriod));
        for (int round = 0; round < 2; ++round) {
            const qint64 at = written();
            QVERIFY(round == 0 ? e->triggerSingle("s", 1.0f) : e->trigger("s", 1.0f));
            QVERIFY(pump(2 * kPeriod));
            const QByteArray w = out()->written();
            qint64 onset = -1;
            for (qint64 f = at; f < written(); ++f) {
                if (sampleAt(w, f) != 0) {
                    onset = f;
                    break;
                }
            }
            QVERIFY(onset >= at);
            QVERIFY2(onset - at < kPeriod, qPrintable(QString::number(onset - at)));
            for (int i = 0; i < 2 * kPeriod - (onset - at); ++i)
                QCOMPARE(sampleAt(w, onset + i), qint16(1 + i));
            e->stop("s");
            QVERIFY(pump(kPeriod));
        }
    }

    void rapidPressesRotateThroughDuplicates()
    {
        QVERIFY(load("r", "r.bin", ramp(5000, 1, 500)));
        const DirectSoundEngine::SlotView v = e->slotView("r");
        QCOMPARE(v.duplicates.size(), 8);
        BufferMixer* m = e->mixer();
        QVector<qint64> starts;
        for (int press = 0; press < 9; ++press) {
            starts << written();
            QVERIFY(e->trigger("r", 1.0f));
            QCOMPARE(e->slotView("r").nextDuplicate, (press + 1) % 8);
            for (int d = 0; d < 8; ++d) {
                const bool shouldPlay = d <= press || press == 8;
                QCOMPARE(bool(m->status(v.duplicates[d]) & BufferMixer::StatusPlaying), shouldPlay);
            }
            QVERIFY(!(m->status(v.master) & BufferMixer::StatusPlaying));
            QVERIFY(pump(kPeriod));
        }
        // The ninth press took duplicate 0 again, from its start.
        quint32 cursor = 0;
        m->currentPosition(v.duplicates[0], &cursor);
        QCOMPARE(cursor, quint32(kPeriod * 4));
        QVERIFY(e->isPlaying("r"));
        QVERIFY(!e->isMasterPlaying("r"));

        // Exact sum of the overlapping voices.
        const QByteArray w = out()->written();
        const QByteArray x = ramp(5000, 1, 500);
        for (qint64 f = starts[0]; f < written(); ++f) {
            int expect = 0;
            for (int k = 1; k < 8; ++k)
                expect += f >= starts[k] ? sampleAt(x, f - starts[k]) : 0;
            expect += f >= starts[8] ? sampleAt(x, f - starts[8]) : sampleAt(x, f - starts[0]);
            QCOMPARE(sampleAt(w, f), qint16(expect));
        }
    }

    void loopingSlotRestartsItsMaster()
    {
        const QByteArray x = ramp(300, 10, 300);
        QVERIFY(load("l", "l.bin", x, 1.0f, true));
        const DirectSoundEngine::SlotView v = e->slotView("l");
        QVERIFY(v.loop);
        QVERIFY(v.duplicates.isEmpty());
        QVERIFY(e->trigger("l", 1.0f));
        QVERIFY(pump(500));
        QVERIFY(e->isMasterPlaying("l"));
        const qint64 at = written();
        QVERIFY(e->trigger("l", 1.0f)); // back to the start, still looping
        QVERIFY(pump(800));
        QVERIFY(e->isMasterPlaying("l"));
        QCOMPARE(e->mixer()->status(v.master), BufferMixer::StatusPlaying | BufferMixer::StatusLooping);
        const QByteArray w = out()->written();
        for (int i = 0; i < 800; ++i)
            QCOMPARE(sampleAt(w, at + i), sampleAt(x, i % 300));
    }

    void triggerSingleRestartsFromTheStart()
    {
        const QByteArray x = ramp(4000, 1, 4000);
        QVERIFY(load("t", "t.bin", x));
        QVERIFY(e->trigger("t", 1.0f)); // a duplicate sounding
        QVERIFY(e->triggerSingle("t", 1.0f));
        QVERIFY(pump(3 * kPeriod));
        QVERIFY(e->isMasterPlaying("t"));
        const qint64 at = written();
        QVERIFY(e->triggerSingle("t", 1.0f));
        QVERIFY(pump(kPeriod));
        const QByteArray w = out()->written();
        // Only the master, from frame 0: the duplicate was stopped by the first
        // single start.
        for (int i = 0; i < kPeriod; ++i)
            QCOMPARE(sampleAt(w, at + i), sampleAt(x, i));
        QCOMPARE(e->positionMs("t"), qint64(double(kPeriod * 4) / (4000 * 4) * e->slotView("t").durationMs));
    }

    void stopSilencesEveryVoice()
    {
        QVERIFY(load("p", "p.bin", ramp(5000)));
        QVERIFY(load("q", "q.bin", ramp(5000)));
        for (int i = 0; i < 3; ++i)
            QVERIFY(e->trigger("p", 1.0f));
        QVERIFY(e->isPlaying("p"));
        QVERIFY(!e->isMasterPlaying("p"));
        QVERIFY(pump(kPeriod));
        e->stop("p");
        QVERIFY(!e->isPlaying("p"));
        qint64 at = written();
        QVERIFY(pump(kPeriod));
        QByteArray w = out()->written();
        for (int i = 0; i < kPeriod; ++i)
            QCOMPARE(sampleAt(w, at + i), qint16(0));

        // stop keeps the master's cursor; the next single start rewinds.
        QVERIFY(e->triggerSingle("p", 1.0f));
        QVERIFY(e->trigger("q", 1.0f));
        QVERIFY(pump(kPeriod));
        e->stopAll();
        QVERIFY(!e->isPlaying("p"));
        QVERIFY(!e->isPlaying("q"));
        QCOMPARE(e->positionMs("p"), qint64(double(kPeriod) / 5000 * e->slotView("p").durationMs));
        at = written();
        QVERIFY(pump(kPeriod));
        w = out()->written();
        for (int i = 0; i < kPeriod; ++i)
            QCOMPARE(sampleAt(w, at + i), qint16(0));
        // A stop with a fade of 500 ms: the mixer lowers the sound frame by
        // frame along its fall, to nothing after 22050 frames mixed however
        // late the engine's own timers run; the voice stops there by itself,
        // keeping its cursor, and the engine's next look lets it go. A new
        // press in the middle plays at full level.
        QByteArray flat(30000 * 4, '\0');
        auto* f = reinterpret_cast<qint16*>(flat.data());
        for (int i = 0; i < 60000; ++i)
            f[i] = 10000;
        QVERIFY(load("f", "f.bin", flat));
        const qint64 pressedAt = written();
        QVERIFY(e->triggerSingle("f", 1.0f));
        QVERIFY(pump(kPeriod));
        const qint64 from = written();
        e->stopWithFade("f", 500);
        stopTimers();
        QVERIFY(e->isFadingOut("f"));
        constexpr int kFall = 22050;
        QVERIFY(pump(kFall + 4 * kPeriod));
        const QByteArray pcm = out()->written();
        QCOMPARE(sampleAt(pcm, from - 1), qint16(10000));
        qint16 last = 10000;
        for (int k = 0; k <= kFall; ++k) {
            const qint16 level = sampleAt(pcm, from + k);
            QCOMPARE_LE(std::abs(level - 10000.0 * std::pow(1.0 - double(k) / kFall, 1.5)), 1.0);   // (1 - x)^1.5
            QCOMPARE_LE(level, last);
            last = level;
        }
        QVERIFY(std::abs(sampleAt(pcm, from + kFall / 2) - 3536) <= 1);   // half way: -9 dB
        QCOMPARE(sampleAt(pcm, from + kFall - 1), qint16(0));
        for (int k = kFall; k < kFall + 4 * kPeriod; ++k)
            QCOMPARE(sampleAt(pcm, from + k), qint16(0));
        QVERIFY(!e->isPlaying("f"));
        QVERIFY(e->isFadingOut("f"));   // until the engine looks
        QVERIFY(QMetaObject::invokeMethod(e, "onFadeTick"));
        QVERIFY(!e->isFadingOut("f"));
        quint32 cursor = 0;
        e->mixer()->currentPosition(e->slotView("f").master, &cursor);
        QCOMPARE(qint64(cursor / 4), from - pressedAt + kFall);

        QVERIFY(e->triggerSingle("f", 1.0f));
        e->stopWithFade("f", 500);
        QVERIFY(pump(kFall / 2));
        QVERIFY(QMetaObject::invokeMethod(e, "onFadeTick"));
        QVERIFY(e->isFadingOut("f"));
        QVERIFY(e->triggerSingle("f", 1.0f));
        QVERIFY(!e->isFadingOut("f"));
        QVERIFY(pump(kFall + 4 * kPeriod));
        QCOMPARE(sampleAt(out()->written(), written() - 1), qint16(10000));
        QVERIFY(e->isPlaying("f"));
        e->stop("f");
        // The sound's volume halved half way through a fall: the rest of the
        // fall is at half.
        QVERIFY(e->triggerSingle("f", 1.0f));
        QVERIFY(pump(kPeriod));
        const qint64 fallFrom = written();
        e->stopWithFade("f", 500);
        QVERIFY(pump(kFall / 2));
        e->setSoundVolume("f", 0.5f);
        const qint64 changed = written();
        QVERIFY(pump(kPeriod));
        const double half = BufferMixer::gainForVolume(DirectSoundEngine::dsVolume(0.5f));
        for (qint64 k = changed; k < changed + kPeriod; ++k) {
            const double share = std::pow(1.0 - double(k - fallFrom) / kFall, 1.5);
            QCOMPARE_LE(std::abs(sampleAt(out()->written(), k) - 10000.0 * half * share), 2.0);
        }
        e->stop("f");

        QVERIFY(!e->triggerSingle("nobody", 1.0f));
        QVERIFY(!e->trigger("nobody", 1.0f));
        e->stop("nobody");
        QVERIFY(!e->isPlaying("nobody"));
        QCOMPARE(e->positionMs("nobody"), qint64(-1));
    }

    // The button's gain is in the samples; the buffer adds only the press
    // volume and the master volume.
    void gainIsHeardOnce()
    {
        QByteArray flat(2000 * 4, '\0');
        auto* s = reinterpret_cast<qint16*>(flat.data());
        for (int i = 0; i < 4000; ++i)
            s[i] = qint16(i % 2 ? -1001 : 1001);
        QVERIFY(load("g", "g.bin", flat, 0.5f));
        QCOMPARE(e->mixer()->volume(e->slotView("g").master), 0);

        qint64 at = written();
        QVERIFY(e->triggerSingle("g", 1.0f));
        QVERIFY(pump(kPeriod));
        QCOMPARE(sampleAt(out()->written(), at), qint16(500));
        QCOMPARE(sampleAt(out()->written(), at, 1), qint16(-500));

        // A press at half volume, then a master volume of a half on top.
        const float half = BufferMixer::gainForVolume(DirectSoundEngine::dsVolume(0.5f));
        at = written();
        QVERIFY(e->triggerSingle("g", 0.5f));
        QVERIFY(pump(kPeriod));
        QCOMPARE(sampleAt(out()->written(), at), qint16(std::nearbyint(500 * half)));
        // The master volume comes on top of the press volume the sound plays at.
        e->setVolume(0.5f);
        QCOMPARE(e->mixer()->volume(e->slotView("g").master), DirectSoundEngine::dsVolume(0.25f));
        const float quarter = BufferMixer::gainForVolume(DirectSoundEngine::dsVolume(0.25f));
        at = written();
        QVERIFY(e->trigger("g", 0.5f));
        QVERIFY(e->triggerSingle("g", 0.5f));
        QVERIFY(pump(kPeriod));
        QCOMPARE(sampleAt(out()->written(), at), qint16(std::nearbyint(500 * quarter)));
        e->setVolume(7.0f);
        QCOMPARE(e->volume(), 1.0f);
        e->setVolume(-1.0f);
        QCOMPARE(e->volume(), 0.0f);
        e->setVolume(1.0f);
    }

    void positionsAndTheSilentEnd()
    {
        // 4410 frames: 100 ms.
        QVERIFY(load("pos", "pos.bin", ramp(4410)));
        QCOMPARE(e->slotView("pos").durationMs, qint64(100));
        QSignalSpy pos(e, &DirectSoundEngine::positionChanged);
        QVERIFY(e->triggerSingle("pos", 1.0f));
        stopTimers(); // the test drives the ticks
        QVERIFY(pump(2200));
        QMetaObject::invokeMethod(e, "onPositionTick");
        QCOMPARE(pos.size(), 0); // queued
        QCoreApplication::processEvents();
        QCOMPARE(pos.size(), 1);
        QCOMPARE(pos.at(0).at(0).toString(), QString("pos"));
        QCOMPARE(pos.at(0).at(1).toLongLong(), qint64(2200.0 / 4410 * 100));
        QCOMPARE(pos.at(0).at(2).toLongLong(), qint64(100));
        QCOMPARE(e->positionMs("pos"), qint64(2200.0 / 4410 * 100));

        const qint64 at = written();
        QVERIFY(pump(4410 - 2200 + kPeriod));
        const QByteArray w = out()->written();
        QCOMPARE(sampleAt(w, at + 4410 - 2200 - 1), qint16(1 + 4409 % 1000));
        for (qint64 f = at + 4410 - 2200; f < written(); ++f)
            QCOMPARE(sampleAt(w, f), qint16(0));
        QVERIFY(!e->isPlaying("pos"));
        QVERIFY(e->isReady("pos"));
        QMetaObject::invokeMethod(e, "onPositionTick");
        QMetaObject::invokeMethod(e, "onPositionTick");
        QCoreApplication::processEvents();
        QCOMPARE(pos.size(), 1); // nothing more, not even an end
        // Still ready for the next press.
        QVERIFY(e->triggerSingle("pos", 1.0f));
        QVERIFY(pump(kPeriod));
        QMetaObject::invokeMethod(e, "onPositionTick");
        QCoreApplication::processEvents();
        QCOMPARE(pos.size(), 2);

        // An underrun while it plays grows the output's queue; the tick says so.
        const int logged = OpLog::totalWritten();
        out()->injectUnderrun();
        QVERIFY(pump(kPeriod));
        QTRY_VERIFY(e->mixer()->queueFrames() > BufferMixer::kPeriodFrames * BufferMixer::kBufferPeriods);
        QMetaObject::invokeMethod(e, "onPositionTick");
        QMetaObject::invokeMethod(e, "onPositionTick");
        QCOMPARE(OpLog::totalWritten(), logged + 1);
        QVERIFY(TestSupport::logged(QStringLiteral("[DSE] output queue 14.5 ms (was 8.7 ms)")));
    }

    void evictWhilePlaying()
    {
        QVERIFY(load("ev", "ev.bin", ramp(8000)));
        QVERIFY(load("keep", "keep.bin", ramp(8000, 2000)));
        QCOMPARE(e->mixer()->stats().buffers, 18u);
        QVERIFY(e->triggerSingle("ev", 1.0f));
        QVERIFY(e->trigger("ev", 1.0f));
        QVERIFY(e->trigger("ev", 1.0f));
        QVERIFY(e->triggerSingle("keep", 1.0f));
        QVERIFY(pump(kPeriod));
        e->evict("ev");
        QVERIFY(!e->isReady("ev"));
        QVERIFY(!e->isPlaying("ev"));
        QVERIFY(!e->trigger("ev", 1.0f));
        const qint64 at = written();
        QVERIFY(pump(2 * kPeriod));
        const QByteArray w = out()->written();
        for (int i = 0; i < 2 * kPeriod; ++i)
            QCOMPARE(sampleAt(w, at + i), qint16(2000 + (kPeriod + i) % 1000));
        QMetaObject::invokeMethod(e, "onCleanupTick");
        QCOMPARE(e->mixer()->stats().buffers, 9u);
        QMetaObject::invokeMethod(e, "onPositionTick"); // forgets the evicted voice safely
        e->clearAll();
        QCOMPARE(e->slotCount(), 0);
        QMetaObject::invokeMethod(e, "onCleanupTick");
        QCOMPARE(e->mixer()->stats().buffers, 0u);
    }

    void lostOutputIsReopenedOnPress()
    {
        QVERIFY(load("lo", "lo.bin", ramp(3000)));
        out()->loseDevice();
        QTRY_VERIFY(e->mixer()->isOutputLost());
        const int calls = factoryCalls;
        QVERIFY(e->triggerSingle("lo", 1.0f));
        QCOMPARE(factoryCalls, calls + 1);
        QVERIFY(!e->mixer()->isOutputLost());
        const qint64 at = written();
        QVERIFY(pump(kPeriod));
        QCOMPARE(sampleAt(out()->written(), at), qint16(1));
        QVERIFY(OpLog::entriesNewestFirst().first().contains("[DSE] output lost; reopened on manual"));

        // No endpoint to be had: the press is taken, logged once.
        out()->loseDevice();
        QTRY_VERIFY(e->mixer()->isOutputLost());
        e->setOutputFactory([] { return std::unique_ptr<AudioOutput>(); });
        const int logged = OpLog::totalWritten();
        QVERIFY(e->triggerSingle("lo", 1.0f));
        QVERIFY(e->trigger("lo", 1.0f));
        QCOMPARE(OpLog::totalWritten(), logged + 1);
        QVERIFY(OpLog::entriesNewestFirst().first().contains("[DSE] output lost; no endpoint opens"));
    }

    void racingAndCancelledPreloads()
    {
        QSignalSpy done(e, &DirectSoundEngine::preloadDone);
        dec->blocks.insert("one.bin", ramp(500));
        dec->blocks.insert("two.bin", ramp(600));
        e->preload("x", "one.bin", 0, 0, 1.0f, false, 0, 0);
        e->preload("x", "two.bin", 0, 0, 1.0f, false, 0, 0);
        QCOMPARE(e->pendingPreloads(), 2);
        QVERIFY(watchersDone());
        QCoreApplication::processEvents();
        QCOMPARE(e->slotCount(), 1);
        int doneForX = 0;
        for (const QList<QVariant>& args : std::as_const(done))
            doneForX += args.at(0).toString() == "x";
        QCOMPARE(doneForX, 1);
        QCOMPARE(e->mixer()->stats().buffers, 9u); // one master, eight duplicates
        QCOMPARE(e->pendingPreloads(), 0);

        // Evicted, or everything cleared, while decoding: the late result is dropped.
        QSemaphore gate;
        dec->gate = &gate;
        dec->blocks.insert("gated", ramp(700));
        e->evict("x");
        e->preload("x", "gated", 0, 0, 1.0f, false, 0, 0);
        e->evict("x");
        e->preload("y", "gated", 0, 0, 1.0f, false, 0, 0);
        e->clearAll();
        gate.release(2);
        QVERIFY(watchersDone());
        QCOMPARE(e->slotCount(), 0);
        QMetaObject::invokeMethod(e, "onCleanupTick");
        QCOMPARE(e->mixer()->stats().buffers, 0u);

        // After a shutdown nothing is built either.
        dec->gate = nullptr;
        dec->blocks.insert("late", ramp(100));
        e->preload("z", "late", 0, 0, 1.0f, false, 0, 0);
        e->shutdown();
        QVERIFY(watchersDone());
        QVERIFY(!e->isReady("z"));
    }

    // Ten thousand ready buttons cost the mixing pass nothing: it visits
    // only the voices that play.
    void tenThousandReadyButtons()
    {
        dec->blocks.insert("many.bin", ramp(2000));
        for (int i = 0; i < 10000; ++i)
            e->preload(QString("b%1").arg(i), "many.bin", 0, 0, 1.0f, false, 0, 0);
        QVERIFY(QTest::qWaitFor([&] { return e->slotCount() == 10000; }, 30000));
        // One block shared by every slot (a few pool threads may have decoded
        // the same key at once before the first stored it).
        QVERIFY(dec->callCount() <= std::max(6, QThread::idealThreadCount()));
        QCOMPARE(e->mixer()->stats().buffers, 90000u);
        QVERIFY(e->trigger("b17", 1.0f));
        QVERIFY(e->triggerSingle("b9000", 1.0f));
        QVERIFY(pump(kPeriod));
        QCOMPARE(e->mixer()->stats().lastVisited, 2u);
        e->clearAll();
    }

    // What a press sounds like, with the real decoder on WAV files written
    // here (left channel a steady 16000, right channel the frame number so
    // positions can be read back): each row a sound and what must be heard
    // on the mixed output.
    void whatIsHeard_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("trimIn");
        QTest::addColumn<double>("trimOut");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<double>("fade"); // in and out, seconds
        QTest::addColumn<QString>("check");
        QTest::newRow("10 s whole") << 10.0 << 0.0 << 0.0 << false << 0.0 << "length";
        QTest::newRow("45 s to the players") << 45.0 << 0.0 << 0.0 << false << 0.0 << "players";
        QTest::newRow("45 s looping to the players") << 45.0 << 0.0 << 0.0 << true << 0.0 << "players";
        QTest::newRow("45 s trimmed past the window") << 45.0 << 2.0 << 40.0 << false << 0.0 << "players";
        QTest::newRow("20 s of 45 s") << 45.0 << 5.0 << 25.0 << false << 0.0 << "length";
        QTest::newRow("10 s looping") << 10.0 << 0.0 << 0.0 << true << 0.0 << "loop";
        QTest::newRow("tab fader to 42 %") << 10.0 << 0.0 << 0.0 << false << 0.0 << "tab";
        QTest::newRow("loop turned on while playing") << 10.0 << 0.0 << 0.0 << false << 0.0 << "toggle";
        QTest::newRow("1 s fades in and out") << 3.0 << 0.0 << 0.0 << false << 1.0 << "fades";
        QTest::newRow("1 s fades of 2 s cut from 10 s") << 10.0 << 4.0 << 6.0 << false << 1.0 << "fades";
        // A WAV with a header and no sample decodes to nothing: its presses
        // go to the players, which say why it cannot play.
        QTest::newRow("header only to the players") << 0.0 << 0.0 << 0.0 << false << 0.0 << "nothing";
        // The file was ready, then saved over under the same name: the
        // press after it hears the file as it is now, whole. Past the
        // system's limit of watches the file has none of its own: a rewrite
        // in place is found by the sweep, and the watch is not tried again
        // at every look.
        QTest::newRow("2 s saved over past the watch limit") << 2.0 << 0.0 << 0.0 << false << 0.0
                                                             << "saved over samples past the watch limit";
        QTest::newRow("1 s saved over a 0.1 s file") << 1.0 << 0.0 << 0.0 << false << 0.0 << "saved over 0.1 s";
        QTest::newRow("3 s saved over other samples") << 3.0 << 0.0 << 0.0 << false << 0.0 << "saved over samples";
        QTest::newRow("2 s of 10 s saved over other samples") << 10.0 << 2.0 << 4.0 << false << 0.0
                                                              << "saved over samples";
        QTest::newRow("looping 1 s saved over a 0.1 s file") << 1.0 << 0.0 << 0.0 << true << 0.0
                                                             << "saved over 0.1 s";
        QTest::newRow("2 s saved through a new file") << 2.0 << 0.0 << 0.0 << false << 0.0
                                                      << "saved over samples through a new file";
        QTest::newRow("2 s saved through a new file, the old one open") << 2.0 << 0.0 << 0.0 << false << 0.0
                                                                        << "saved over samples through a new file held";
        // A file last seen missing on a share that stopped answering is
        // looked at again (as a press on it asks): the local save is known
        // as soon as ever while that look hangs.
        QTest::newRow("2 s saved over, a look on a hung share asked for") << 2.0 << 0.0 << 0.0 << false << 0.0
                                                                            << "saved over samples, a hung look asked for";
        // The file was ready, then went away (a stick pulled, a share
        // dropped, a folder renamed): the press plays it from memory, and
        // nothing is decoded until a version other than the one in memory
        // is there.
        QTest::newRow("renamed away") << 2.0 << 0.0 << 0.0 << false << 0.0 << "away: renamed";
        QTest::newRow("deleted") << 2.0 << 0.0 << 0.0 << false << 0.0 << "away: deleted";
        QTest::newRow("1 s of 3 s renamed away") << 3.0 << 1.0 << 2.0 << false << 0.0 << "away: renamed";
        QTest::newRow("back unchanged") << 2.0 << 0.0 << 0.0 << false << 0.0 << "away: back unchanged";
        QTest::newRow("back with other samples") << 2.0 << 0.0 << 0.0 << false << 0.0 << "away: back changed";
        // A pad's gain changed again and again during a show: each version
        // is decoded anew, and what the engine keeps stays within its bounds.
        QTest::newRow("29 s, its gain changed again and again") << 29.0 << 0.0 << 0.0 << false << 0.0
                                                                 << "again and again";
        // Every look at the disk hangs (a share that stopped answering):
        // the press plays at once all the same, and looks at nothing itself.
        QTest::newRow("looks hanging") << 2.0 << 0.0 << 0.0 << false << 0.0 << "away: looks hang";
    }
    void whatIsHeard()
    {
        QFETCH(double, seconds);
        QFETCH(double, trimIn);
        QFETCH(double, trimOut);
        QFETCH(bool, loop);
        QFETCH(double, fade);
        QFETCH(QString, check);
        const bool savedOver = check.startsWith("saved over");
        const bool away = check.startsWith("away");
        const QString path = savedOver || away
                                 ? TestSupport::tempDir() + "/saved-" + QTest::currentDataTag() + ".wav"
                                 : TestSupport::tempDir() + QString("/heard-%1.wav").arg(seconds);
        e->setDecoder({});
        if (savedOver) {
            QVERIFY(readyThenSavedOver(path, check, seconds, trimIn, trimOut, loop));
            // Known within milliseconds of the save: notices are not held
            // longer than that before their files are looked at.
            QCOMPARE_LE(KnownFiles::instance()->gatherMs(), 50);
        }
        else if (away)
            QVERIFY(readyThenAway(path, check, seconds, trimIn, trimOut));
        else
            QVERIFY(QFileInfo::exists(path) || writeHeardWav(path, seconds));
        e->preload("h", path, trimIn, trimOut, 1.0f, loop, fade, fade);
        QVERIFY(QTest::qWaitFor([&] { return e->isSettled("h"); }, 60000));
        QVERIFY(watchersDone());
        if (check == "nothing") {
            QVERIFY(!e->isReady("h"));
            QVERIFY(!e->isStale("h"));
            return;
        }
        if (check == "players") {
            QVERIFY(!e->isReady("h"));
            e->preload("h", path, trimIn, trimOut, 1.0f, loop, fade, fade);
            QCOMPARE(e->pendingPreloads(), 0); // not decoded again
            return;
        }
        QVERIFY(e->isReady("h"));
        if (check == "again and again") {
            changedAgainAndAgain(path);
            e->stop("h");
            return;
        }
        const qint64 frames = e->slotView("h").pcmBytes / 4;
        const double heard = (trimOut > 0 ? trimOut : seconds) - trimIn;
        QVERIFY2(std::abs(frames - heard * 44100) <= 441, qPrintable(QString::number(frames)));
        if (away) {
            // A press as the window makes it (its heal's preload, the ready
            // check, the start) makes no file call on this thread, through
            // KnownFiles or any other way.
            FileCalls::start();
            const bool pressed = !e->preload("h", path, trimIn, trimOut, 1.0f, loop, fade, fade) && !e->isStale("h")
                                 && e->isReady("h") && e->triggerSingle("h", 1.0f);
            const int calls = FileCalls::stop();
            QVERIFY(pressed);
            QVERIFY2(calls == 0,
                     qPrintable(QString("%1 file calls, the last at %2").arg(calls).arg(FileCalls::lastPath())));
            // The row's version: from memory, or decoded anew once another
            // version was there.
            hearWholeLength(frames, std::llround(trimIn * 44100));
            QCOMPARE(m_guiLooks.load(), 0);
            return;
        }
        QVERIFY(e->triggerSingle("h", 1.0f));
        if (check == "length" || (savedOver && !loop))
            hearWholeLength(frames, std::llround(trimIn * 44100));
        else if (savedOver)
            hearLoopWithoutGap(frames);
        else if (check == "loop")
            hearLoopWithoutGap(frames);
        else if (check == "tab")
            hearTabVolume();
        else if (check == "toggle")
            hearLoopToggle(frames);
        else if (check == "fades")
            hearFades(frames, fade);
        e->stop("h");
    }

    // Each change made ready anew as the window makes it (the sound evicted,
    // then preloaded) and pressed: one sound with its buffers, whatever the
    // versions before it, and a decode cache within its bytes.
    void changedAgainAndAgain(const QString& path)
    {
        const quint32 buffers = e->mixer()->stats().buffers;
        for (int round = 1; round <= 40; ++round) {
            e->evict("h");
            e->preload("h", path, 0, 0, 1.0f - 0.02f * round, false, 0, 0);
            QVERIFY(QTest::qWaitFor([&] { return e->isReady("h"); }, 60000));
            QVERIFY(e->triggerSingle("h", 1.0f));
            QVERIFY(e->trigger("h", 1.0f));
            QCOMPARE(e->slotCount(), 1);
            QCOMPARE(e->mixer()->stats().buffers, buffers);
            QVERIFY2(e->decodeCacheBytes() <= PcmDecode::DecodeCache::kDefaultMaxBytes,
                     qPrintable(QString("%1 blocks of %2 bytes in all after %3 versions")
                                    .arg(e->decodeCacheSize())
                                    .arg(e->decodeCacheBytes())
                                    .arg(round)));
        }
        QVERIFY(watchersDone());
    }

    // The earlier version of a saved-over file made ready ("saved over
    // 0.1 s": a 0.1 s file; "saved over samples": the same length with other
    // samples), then the file saved over with the row's: the id is no longer
    // ready, and is left to the next preload to decode anew. Saved in place,
    // or "through a new file" written beside it and renamed over it ("held":
    // while the old one is held open), then made ready and rewritten in
    // place. With the sweep held, only the system's notices tell; "past the
    // watch limit": with no watch of its own, a rewrite in place is found by
    // the sweep, and the watch was tried once. Its first looks there are
    // made as slow as on a share: after each, the sweep rests three times
    // as long as it took, so the next begins no sooner than twice that. "A
    // hung look asked for": right before the save, the file on the share
    // the sweep hangs on is asked to be looked at again; made ready again,
    // the file is saved over once more, and that save too is known from its
    // notice.
    bool readyThenSavedOver(const QString& path, const QString& check, double seconds, double trimIn,
                            double trimOut, bool loop)
    {
        const bool shorter = check.endsWith("0.1 s");
        const bool throughNew = check.contains("through a new file");
        const bool unwatched = check.endsWith("past the watch limit");
        KnownFiles* files = KnownFiles::instance();
        const QDateTime then = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch() - 60000);
        const auto setModified = [&](const QString& p, const QDateTime& t) {
            QFile f(p);
            return f.open(QIODevice::ReadWrite) && f.setFileTime(t, QFileDevice::FileModificationTime);
        };
        const auto readyNow = [&] {
            e->preload("h", path, trimIn, trimOut, 1.0f, loop, 0, 0);
            return QTest::qWaitFor([&] { return e->isReady("h"); }, 60000) && watchersDone()
                   && (unwatched || QTest::qWaitFor([&] { return files->isWatched(path); }, 5000));
        };
        constexpr int kSlowLooks = 4;
        struct SweepLooks
        {
            QMutex mx;
            QElapsedTimer clock;
            QList<qint64> began, ended;
        };
        const auto sweepLooks = std::make_shared<SweepLooks>();
        if (unwatched) {
            releaseSweep();
            files->setWatchLimit(0);
            sweepLooks->clock.start();
            files->setLook([sweepLooks](const QString& p) {
                bool slow = false;
                if (QThread::currentThread()->objectName() == QLatin1String("KnownFiles sweep")) {
                    QMutexLocker lock(&sweepLooks->mx);
                    slow = sweepLooks->began.size() < kSlowLooks;
                    if (sweepLooks->began.size() <= kSlowLooks)
                        sweepLooks->began << sweepLooks->clock.elapsed();
                }
                if (slow) {
                    QThread::msleep(30);
                    QMutexLocker lock(&sweepLooks->mx);
                    sweepLooks->ended << sweepLooks->clock.elapsed();
                }
                return FileCheck::stampOf(p);
            });
        } else if (!holdSweep()) {
            return false;
        }
        const auto liftLimit = qScopeGuard([&] { files->setWatchLimit(-1); });
        if (!writeHeardWav(path, shorter ? 0.1 : seconds, shorter ? 0 : 12345) || !setModified(path, then)
            || !readyNow())
            return false;
        const quint32 before = e->slotView("h").pcmBytes;
        QFile held(path);
        if (check.endsWith("held") && !held.open(QIODevice::ReadOnly))
            return false;
        // Another length keeps the time; the same length shows a time a
        // second on, as a save a second later would. A rewrite in place
        // that sets no time tells only the file's own watch.
        // Every look at the file on the share hangs, but the window's (the
        // sweep still hangs on its own look there), until the row ends.
        const auto hung = std::make_shared<QSemaphore>(0);
        const auto unhang = qScopeGuard([hung] { hung->release(); });
        const bool hungAsked = check.endsWith("a hung look asked for");
        if (hungAsked) {
            QThread* gui = QThread::currentThread();
            const QString stuck = stuckOnShare();
            files->setLook([gui, hung, stuck](const QString& p) {
                if (p == stuck && QThread::currentThread() != gui) {
                    hung->acquire();
                    hung->release();
                }
                return FileCheck::stampOf(p);
            });
            files->recheck(stuck);
        }
        QElapsedTimer saved;
        saved.start();
        const QString beside = path + ".new";
        if (throughNew) {
            if (!writeHeardWav(beside, seconds) || !setModified(beside, then.addSecs(1))
                || std::rename(QFile::encodeName(beside).constData(), QFile::encodeName(path).constData()) != 0)
                return false;
        } else if (!writeHeardWav(path, seconds) || (!unwatched && !setModified(path, shorter ? then : then.addSecs(1)))) {
            return false;
        }
        if (!QTest::qWaitFor([&] { return e->isStale("h"); }, unwatched ? 20000 : kKnownWithinMs))
            return false;
        qInfo("known %lld ms after the save", saved.elapsed());
        if (e->isReady("h") || e->slotView("h").pcmBytes != before)
            return false;
        if (unwatched) {
            if (!QTest::qWaitFor([&] {
                    QMutexLocker lock(&sweepLooks->mx);
                    return sweepLooks->began.size() > kSlowLooks;
                }, 20000))
                return false;
            QMutexLocker lock(&sweepLooks->mx);
            for (int i = 0; i < kSlowLooks; ++i) {
                const qint64 took = sweepLooks->ended[i] - sweepLooks->began[i];
                if (sweepLooks->began[i + 1] - sweepLooks->ended[i] < 2 * took)
                    return false;
            }
            return files->refusedWatches(path) <= 1;
        }
        if (!throughNew && !hungAsked)
            return true;
        // The new file is watched in its turn. The look asked for hangs on
        // the sweep's thread, and the next save is known as soon as the
        // first: had it hung where the notices are looked at, a save looked
        // at together with it could still have been known, but none after.
        if (!readyNow() || !writeHeardWav(path, seconds)
            || !QTest::qWaitFor([&] { return e->isStale("h"); }, kKnownWithinMs))
            return false;
        return !e->isReady("h");
    }

private:
    // The sweep held on its look at a file of a share that stopped
    // answering, so that only the system's notices make a change known. It
    // stays held from row to row until released.
    std::shared_ptr<QSemaphore> m_sweepGate;
    static QString stuckOnShare() { return TestSupport::tempDir() + "/share/stuck.wav"; }
    bool holdSweep()
    {
        if (m_sweepGate)
            return true;
        const QString share = TestSupport::tempDir() + "/share";
        const QString stuck = stuckOnShare();
        auto gate = std::make_shared<QSemaphore>(0);
        auto entered = std::make_shared<QSemaphore>(0);
        QThread* gui = QThread::currentThread();
        KnownFiles::instance()->setLook([gui, gate, entered, stuck](const QString& p) {
            if (p == stuck && QThread::currentThread() != gui) {
                entered->release();
                gate->acquire();
                gate->release();
            }
            return FileCheck::stampOf(p);
        });
        if (!QDir().mkpath(share))
            return false;
        KnownFiles::instance()->lookNow(stuck);
        if (!entered->tryAcquire(1, 20000))
            return false;
        m_sweepGate = gate;
        return true;
    }
    void releaseSweep()
    {
        if (m_sweepGate)
            m_sweepGate->release();
        m_sweepGate.reset();
    }

    // Looks at files counted on the GUI thread, and held while the gate is
    // closed (for the row whose looks hang).
    std::atomic<int> m_guiLooks{0};
    std::shared_ptr<QSemaphore> m_lookGate;

    void installLook(bool hang)
    {
        m_guiLooks = 0;
        auto gate = std::make_shared<QSemaphore>(0);
        auto entered = std::make_shared<QSemaphore>(0);
        if (hang)
            m_lookGate = gate;
        QThread* gui = QThread::currentThread();
        KnownFiles::instance()->setLook([this, gui, gate, entered, hang](const QString& p) {
            // A look on the GUI thread is counted and let through, so that a
            // press that looks fails the row rather than hanging it.
            if (QThread::currentThread() == gui)
                ++m_guiLooks;
            else if (hang) {
                entered->release();
                gate->acquire();
                gate->release();   // once open, every look goes through
            }
            return FileCheck::stampOf(p);
        });
        if (hang) {
            KnownFiles::instance()->recheck(TestSupport::tempDir() + "/any.wav");
            QVERIFY(entered->tryAcquire(1, 5000));
        }
    }
    void releaseLook()
    {
        if (m_lookGate)
            m_lookGate->release();
        m_lookGate.reset();
        KnownFiles::instance()->setLook({});
    }

    // The row's file made ready, then taken away: moved ("renamed"),
    // deleted, moved and put back ("back unchanged"), or moved and another
    // version written in its place ("back changed", the version in memory
    // then being one of other samples). While it is away the id stays
    // ready, no preload decodes it, and the log says once that it is
    // missing, and again when, back, it goes away a second time. Its going
    // and coming back are told by the system's notices, the sweep being
    // held. "looks hang": the file stays, and every look at the disk from
    // then on hangs.
    bool readyThenAway(const QString& path, const QString& check, double seconds, double trimIn, double trimOut)
    {
        const bool changed = check.endsWith("back changed");
        // Where every look hangs, the sweep is let go to hang on its own.
        if (check.endsWith("looks hang"))
            releaseSweep();
        else if (!holdSweep())
            return false;
        const QDateTime then = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch() - 3600000);
        const auto write = [&](qint64 codeFrom, const QDateTime& t) {
            QFile f(path);
            return writeHeardWav(path, seconds, codeFrom) && f.open(QIODevice::ReadWrite)
                   && f.setFileTime(t, QFileDevice::FileModificationTime);
        };
        if (!write(changed ? 12345 : 0, then))
            return false;
        e->preload("h", path, trimIn, trimOut, 1.0f, false, 0, 0);
        KnownFiles* files = KnownFiles::instance();
        if (!QTest::qWaitFor([&] { return e->isReady("h"); }, 60000) || !watchersDone()
            || !QTest::qWaitFor([&] { return files->isWatched(path); }, 5000))
            return false;
        installLook(check.endsWith("looks hang"));
        if (check.endsWith("looks hang"))
            return e->isReady("h") && !e->preload("h", path, trimIn, trimOut, 1.0f, false, 0, 0);
        const QString moved = path + ".away";
        if (!(check.endsWith("deleted") ? QFile::remove(path) : QFile::rename(path, moved)))
            return false;
        if (!QTest::qWaitFor([&] { return !files->lastSeen(path).exists(); }, kKnownWithinMs))
            return false;
        const auto missingLogged = [&] {
            const QString line = QStringLiteral("[DSE] %1 cannot be seen on disk; h plays from memory").arg(path);
            return int(OpLog::entriesNewestFirst().filter(line).size());
        };
        // Pressed twice while away, as the window's heal asks every 20 s.
        for (int i = 0; i < 2; ++i) {
            if (!e->isReady("h") || e->isStale("h") || e->preload("h", path, trimIn, trimOut, 1.0f, false, 0, 0)
                || e->pendingPreloads() != 0 || !e->triggerSingle("h", 1.0f))
                return false;
            e->stop("h");
        }
        if (!QTest::qWaitFor([&] { return missingLogged() == 1; }, 5000))
            return false;
        // A later look that tells of the same loss is no new loss.
        emit files->filesSeen({path});
        if (!seenTold() || missingLogged() != 1)
            return false;
        if (check.endsWith("back unchanged")) {
            // Back once the return is told, the loss before it over.
            const auto putBack = [&](int returns) {
                const QString line = QStringLiteral("[DSE] %1 is back on disk").arg(path);
                return QFile::rename(moved, path)
                       && QTest::qWaitFor([&] { return files->lastSeen(path).exists(); }, kKnownWithinMs)
                       && QTest::qWaitFor([&] { return OpLog::entriesNewestFirst().filter(line).size() == returns; },
                                          5000);
            };
            // Ready at once: nothing to decode.
            if (!putBack(1) || !e->isReady("h") || e->preload("h", path, trimIn, trimOut, 1.0f, false, 0, 0))
                return false;
            // Gone again: a loss of its own, told again.
            if (!QFile::rename(path, moved) || !QTest::qWaitFor([&] { return missingLogged() == 2; }, 5000))
                return false;
            return putBack(2) && e->isReady("h");
        }
        if (changed) {
            if (!write(0, then.addSecs(1)) || !QTest::qWaitFor([&] { return e->isStale("h"); }, kKnownWithinMs))
                return false;
            return !e->isReady("h");
        }
        return missingLogged() == 1;
    }

private slots:

    // The real decoder behind the cache: a WAV written here plays sample for
    // sample; a file that cannot be decoded leaves the id not ready.
    void realDecoderEndToEnd()
    {
        e->setDecoder({});
        const QString dir = TestSupport::tempDir();
        QVector<qint16> samples;
        for (int i = 0; i < 3000; ++i)
            samples << qint16((i * 7) % 20000 - 10000) << qint16(-((i * 7) % 20000 - 10000));
        QVERIFY(TestSupport::writeWav16(dir + "/real.wav", samples, 2, 44100));
        e->preload("real", dir + "/real.wav", 0, 0, 1.0f, false, 0, 0);
        e->preload("bad", dir + "/missing.mp3", 0, 0, 1.0f, false, 0, 0);
        QTRY_VERIFY(e->isReady("real"));
        QVERIFY(watchersDone());
        QVERIFY(!e->isReady("bad"));
        QVERIFY(OpLog::entriesNewestFirst().join('\n').contains("[DSE] nothing decoded for bad"));
        QCOMPARE(e->slotView("real").pcmBytes, 12000u);
        const qint64 at = written();
        QVERIFY(e->triggerSingle("real", 1.0f));
        QVERIFY(pump(3000));
        const QByteArray w = out()->written();
        for (int i = 0; i < 3000; ++i) {
            QCOMPARE(sampleAt(w, at + i, 0), samples[2 * i]);
            QCOMPARE(sampleAt(w, at + i, 1), samples[2 * i + 1]);
        }
    }
};

QTEST_GUILESS_MAIN(TestDsEngine)
#include "tst_dsengine.moc"
