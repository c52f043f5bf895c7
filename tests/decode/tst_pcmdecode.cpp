#include <QtConcurrent>
#include <QtTest>

#include <atomic>

#include "AudioFixture.h"
#include "OpLog.h"
#include "PcmDecode.h"
#include "PcmDecoder.h"
#include "TestSupport.h"
#include "WavBuilder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace {

// A stereo ramp whose every frame can be identified: left = i % 30000,
// right = -(i % 30000).
QVector<qint16> rampStereo(int frames)
{
    QVector<qint16> s(frames * 2);
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = qint16(i % 30000);
        s[2 * i + 1] = qint16(-(i % 30000));
    }
    return s;
}

qint16 sampleAt(const QByteArray& pcm, qsizetype index)
{
    return qFromLittleEndian<qint16>(pcm.constData() + 2 * index);
}

// The order FFmpeg reads a headerless file in, given its layout.
int rawSourceOrder(const QString& path, const QByteArray& layout)
{
    AVDictionary* opts = nullptr;
    av_dict_set(&opts, "ch_layout", layout.constData(), 0);
    AVFormatContext* fmt = nullptr;
    const int err = avformat_open_input(&fmt, QFile::encodeName(path).constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (err < 0 || fmt->nb_streams < 1) {
        avformat_close_input(&fmt);
        return -1;
    }
    const int order = fmt->streams[0]->codecpar->ch_layout.order;
    avformat_close_input(&fmt);
    return order;
}

// Whether this FFmpeg's resampler takes a source in layout as it stands.
bool resamplerTakes(const QByteArray& layout)
{
    AVChannelLayout in{};
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext* swr = nullptr;
    bool ok = av_channel_layout_from_string(&in, layout.constData()) == 0
              && swr_alloc_set_opts2(&swr, &out, AV_SAMPLE_FMT_S16, 44100, &in, AV_SAMPLE_FMT_S16, 44100, 0, nullptr) >= 0
              && swr_init(swr) >= 0;
    swr_free(&swr);
    av_channel_layout_uninit(&in);
    return ok;
}

bool logHas(const QString& needle)
{
    for (const QString& e : OpLog::entriesNewestFirst())
        if (e.contains(needle))
            return true;
    return false;
}

} // namespace

class TestPcmDecode : public QObject
{
    Q_OBJECT

private:
    QString m_dir;
    QString m_ramp;     // 2 s stereo ramp, 44100 Hz

private slots:
    void initTestCase()
    {
        m_dir = TestSupport::tempDir();
        m_ramp = m_dir + "/ramp.wav";
        QVERIFY(TestSupport::writeWav16(m_ramp, rampStereo(88200), 2, 44100));
    }

    // A WAV already in the engines' format is read straight from its data
    // chunk: the result must be the decoder's, frame for frame, whatever
    // chunks surround the data, however the range falls and with any gain.
    void cdWavMatchesTheDecoder_data()
    {
        QTest::addColumn<bool>("extraChunks");
        QTest::addColumn<double>("in");
        QTest::addColumn<double>("out");
        QTest::addColumn<float>("gain");
        QTest::addColumn<int>("seconds");
        // An earlier version of the file, decoded through the decode cache
        // first: "" none, "shorter" a 1 s file, "other samples" the same
        // length with other samples, "half written" the first half of the
        // samples with the header of the whole file. The file is then saved
        // over (with the modification time the earlier one had) and the
        // cache must give what the file holds now. "moved away": the same
        // file, moved away after its decode: the cache gives what it kept.
        QTest::addColumn<QString>("earlier");
        QTest::newRow("whole") << false << 0.0 << 0.0 << 1.0f << 2 << "";
        QTest::newRow("range") << false << 0.25 << 1.5 << 1.0f << 2 << "";
        QTest::newRow("tiny start") << false << 0.0009 << 0.0 << 1.0f << 2 << "";
        QTest::newRow("frame fraction") << true << 0.123456 << 0.987654 << 1.0f << 2 << "";
        QTest::newRow("out past end") << true << 1.5 << 9.0 << 0.5f << 2 << "";
        QTest::newRow("gain up") << true << 0.0 << 0.3 << 1.7f << 2 << "";
        QTest::newRow("out below in") << true << 1.0 << 0.5 << 1.0f << 2 << "";
        QTest::newRow("start at end") << false << 2.0 << 0.0 << 1.0f << 2 << "";
        // Longer than the head read to find the chunks: a range past that
        // head is read from the file itself.
        QTest::newRow("long, early range") << false << 0.1 << 0.5 << 1.0f << 7 << "";
        QTest::newRow("long, whole") << false << 0.0 << 0.0 << 1.0f << 7 << "";
        QTest::newRow("long, late range") << true << 5.5 << 6.5 << 0.8f << 7 << "";
        QTest::newRow("whole, saved over a shorter file") << false << 0.0 << 0.0 << 1.0f << 2 << "shorter";
        QTest::newRow("range, saved over a shorter file") << true << 0.5 << 1.8 << 1.0f << 2 << "shorter";
        QTest::newRow("whole, saved over other samples") << false << 0.0 << 0.0 << 1.0f << 2 << "other samples";
        QTest::newRow("range, saved over other samples") << true << 0.25 << 0.75 << 0.8f << 2 << "other samples";
        QTest::newRow("whole, grown since") << false << 0.0 << 0.0 << 1.0f << 2 << "half written";
        QTest::newRow("range, grown since") << false << 0.5 << 1.5 << 1.0f << 2 << "half written";
        QTest::newRow("whole, moved away since") << false << 0.0 << 0.0 << 1.0f << 2 << "moved away";
        QTest::newRow("range, moved away since") << true << 0.25 << 0.75 << 0.8f << 2 << "moved away";
    }
    void cdWavMatchesTheDecoder()
    {
        QFETCH(bool, extraChunks);
        QFETCH(double, in);
        QFETCH(double, out);
        QFETCH(float, gain);
        QFETCH(int, seconds);
        QFETCH(QString, earlier);
        const QString path = m_dir + QStringLiteral("/%1%2%3.wav")
                                         .arg(extraChunks ? "chunks" : "plain")
                                         .arg(seconds)
                                         .arg(earlier.isEmpty() ? QString() : "-" + QString(QTest::currentDataTag()));
        const auto writeWav = [&](const QVector<qint16>& samples, qsizetype keepBytes) {
            WavBuilder w;
            if (extraChunks)
                w.chunk("JUNK", QByteArray(7, 'j'));
            w.chunk("fmt ", WavBuilder::fmtBody(1, 2, 44100, 16));
            if (extraChunks)
                w.chunk("LIST", QByteArray("INFOISFT\x04\0\0\0abc\0", 16));
            const QByteArray bytes = w.data(WavBuilder::pcm16(samples)).chunk("cue ", QByteArray(4, '\0')).bytes();
            QFile f(path);
            return f.open(QIODevice::WriteOnly) && f.write(bytes.left(keepBytes)) == std::min(keepBytes, bytes.size());
        };
        const auto expectedNow = [&] {
            const qint64 limit = PcmDecode::rangeByteLimit(in, out);
            QByteArray expected;
            if (limit != 0) {
                expected = PcmDecoder::decodeS16Stereo44100(path, in > 0.001 ? in : 0.0, limit < 0 ? -1 : limit / 4);
                PcmDecode::applyGain(expected, gain);
            }
            return expected;
        };
        const QVector<qint16> samples = rampStereo(44100 * seconds);
        const auto setModified = [&](const QDateTime& t) {
            QFile f(path);
            return f.open(QIODevice::ReadWrite) && f.setFileTime(t, QFileDevice::FileModificationTime);
        };

        PcmDecode::DecodeCache cache;
        // Whole milliseconds, so that both versions can be given it exactly.
        const QDateTime earlierTime = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch() - 60000);
        if (!earlier.isEmpty()) {
            QVector<qint16> before = earlier == "shorter" ? rampStereo(44100) : samples;
            if (earlier == "other samples")
                for (qint16& v : before)
                    v = qint16(v / 2 + 1);
            const qsizetype halfWritten = 44 + (extraChunks ? 16 + 24 : 0) + samples.size();   // header, half the frames
            QVERIFY(writeWav(before, earlier == "half written" ? halfWritten : qsizetype(1) << 40));
            QVERIFY(setModified(earlierTime));
            const QByteArray first = cache.decodeCached(path, in, out, gain);
            QCOMPARE(first, expectedNow());
            QVERIFY(!first.isEmpty());
            if (earlier == "moved away") {
                // A file that cannot be seen is no change.
                QVERIFY(QFile::rename(path, path + ".away"));
                const QByteArray kept = cache.decodeCached(path, in, out, gain);
                QVERIFY(QFile::rename(path + ".away", path));
                QCOMPARE(kept, first);
                QCOMPARE(cache.size(), 1);
                return;
            }
        }
        QVERIFY(writeWav(samples, qsizetype(1) << 40));
        if (!earlier.isEmpty()) {
            // A file of another length keeps the earlier time: its size tells
            // it apart. One of the same length is told apart by its time
            // alone (a rewrite keeping size, time and inode is not seen), set
            // here as a save a second later would leave it.
            QVERIFY(setModified(earlier == "other samples" ? earlierTime.addSecs(1) : earlierTime));
        }

        const QByteArray expected = expectedNow();
        QCOMPARE(decodePcmMF_stereo(path, in, out, gain), expected);
        if (!earlier.isEmpty()) {
            QCOMPARE(cache.decodeCached(path, in, out, gain), expected);
            // The earlier version's block is gone, not kept beside the new one.
            QCOMPARE(cache.size(), 1);
        }
    }

    // The range: start frame, length, the "to the end" rules and whole frames.
    void rangeStartAndLength()
    {
        const QByteArray part = decodePcmMF_stereo(m_ramp, 0.5, 1.0, 1.0f);
        QCOMPARE(part.size(), 22050 * 4);
        QCOMPARE(sampleAt(part, 0), qint16(22050));
        QCOMPARE(sampleAt(part, 1), qint16(-22050));
        QCOMPARE(sampleAt(part, part.size() / 2 - 2), qint16((22050 + 22049) % 30000));

        // No seek below 0.001 s; an end not above start + 0.01 means the end of the file.
        const QByteArray whole = decodePcmMF_stereo(m_ramp, 0.0005, 0.0, 1.0f);
        QCOMPARE(whole.size(), 88200 * 4);
        QCOMPARE(sampleAt(whole, 0), qint16(0));
        QCOMPARE(decodePcmMF_stereo(m_ramp, 1.0, 1.0, 1.0f).size(), 44100 * 4);
        QCOMPARE(decodePcmMF_stereo(m_ramp, 1.0, 1.01, 1.0f).size(), 44100 * 4);

        // A limit that ends inside a frame is rounded down to whole frames:
        // 44100 * 0.0123 * 4 = 2169.72 bytes -> 2168.
        QCOMPARE(PcmDecode::rangeByteLimit(0.0, 0.0123), qint64(2168));
        const QByteArray tiny = decodePcmMF_stereo(m_ramp, 0.0, 0.0123, 1.0f);
        QCOMPARE(tiny.size(), 2168);
        QCOMPARE(PcmDecode::rangeByteLimit(2.0, 1.0), qint64(-1));
        // A start past the end gives nothing, however far past.
        QVERIFY(decodePcmMF_stereo(m_ramp, 5.0, 6.0, 1.0f).isEmpty());
        QVERIFY(decodePcmMF_stereo(m_ramp, 1e300, 0, 1.0f).isEmpty());
        QCOMPARE(decodePcmMF_stereo(m_ramp, 1.5, 1e300, 1.0f).size(), 22050 * 4);
    }

    void gainRounding()
    {
        const QVector<qint16> v{3, -3, 20000, -20000, 32767, -32768, 1, -1, 101, -101};
        const QString path = m_dir + "/gain.wav";
        QVERIFY(TestSupport::writeWav16(path, v, 2, 44100));
        auto samples = [](const QByteArray& b) {
            QVector<qint16> s;
            for (qsizetype i = 0; i < b.size() / 2; ++i)
                s.append(sampleAt(b, i));
            return s;
        };
        QCOMPARE(samples(decodePcmMF_stereo(path, 0, 0, 1.005f)), v);
        QCOMPARE(samples(decodePcmMF_stereo(path, 0, 0, 2.0f)),
                 (QVector<qint16>{6, -6, 32767, -32768, 32767, -32768, 2, -2, 202, -202}));
        // Halving truncates toward zero.
        QCOMPARE(samples(decodePcmMF_stereo(path, 0, 0, 0.5f)),
                 (QVector<qint16>{1, -1, 10000, -10000, 16383, -16384, 0, 0, 50, -50}));

        QByteArray block = WavBuilder::pcm16({100, -100, 7});
        const QByteArray shared = block;
        PcmDecode::applyGain(block, 2, 4, 3.0f);
        QCOMPARE(sampleAt(block, 0), qint16(100));      // before the range: untouched
        QCOMPARE(sampleAt(block, 1), qint16(-300));
        QCOMPARE(sampleAt(block, 2), qint16(21));
        QCOMPARE(sampleAt(shared, 1), qint16(-100));    // a shared copy is not changed
    }

    void monoBecomesStereoAndRatesConvert()
    {
        QVector<qint16> mono(4410);
        for (int i = 0; i < mono.size(); ++i)
            mono[i] = qint16((i * 37) % 20000 - 10000);
        const QString m = m_dir + "/mono.wav";
        QVERIFY(TestSupport::writeWav16(m, mono, 1, 44100));
        const QByteArray st = decodePcmMF_stereo(m, 0, 0, 1.0f);
        QCOMPARE(st.size(), mono.size() * 4);
        for (int i = 0; i < mono.size(); ++i) {
            QCOMPARE(sampleAt(st, 2 * i), mono[i]);
            QCOMPARE(sampleAt(st, 2 * i + 1), mono[i]);
        }

        // 48 kHz: one second becomes exactly 44100 frames; 0.25 s from 0.5 s
        // becomes 11025.
        const QString hi = m_dir + "/48k.wav";
        QVERIFY(TestSupport::writeWav16(hi, TestSupport::sine(440, 1.0, 2, 48000), 2, 48000));
        QCOMPARE(decodePcmMF_stereo(hi, 0, 0, 1.0f).size(), 44100 * 4);
        QCOMPARE(decodePcmMF_stereo(hi, 0.5, 0.75, 1.0f).size(), 11025 * 4);
        const QString lo = m_dir + "/22k.wav";
        QVERIFY(TestSupport::writeWav16(lo, TestSupport::sine(440, 0.5, 1, 22050), 1, 22050));
        QCOMPARE(decodePcmMF_stereo(lo, 0, 0, 1.0f).size(), 22050 * 4);

        // Float output at another rate for the float mixers.
        PcmDecoder::Options o;
        o.rate = 48000;
        o.format = SampleFormat::Float32;
        QByteArray f;
        PcmDecoder::Info info;
        QVERIFY(PcmDecoder::decode(m_ramp, o, &f, nullptr, &info));
        QCOMPARE(f.size(), 96000 * 8);
        QCOMPARE(info.sourceRate, 44100);
        QCOMPARE(info.sourceChannels, 2);
    }

    // Every channel order a file may have: one second with a tone in its
    // first channel only becomes one second of stereo 44100 Hz with the tone
    // on the left and silence on the right (a mono file: on both sides), and
    // one second of mono float at 48000 Hz with the tone in it. A file that
    // does not say where its channels go is taken in the usual order for its
    // count. A source in an order of its own (FFmpeg holds its map in memory
    // of its own, which every copy of the layout allocates again) has its
    // first channel where the map says, or, where this FFmpeg's resampler
    // cannot take such an order, is refused with its reason; either way
    // every copy is released (tst_pcmdecode_leaks runs it under valgrind).
    void everyChannelOrderBecomesStereo_data()
    {
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<qint64>("mask");   // speaker mask of an extensible header; -1: plain header, no mask
        QTest::addColumn<QByteArray>("rawLayout");   // a headerless file in this layout instead of a WAV
        QTest::newRow("mono") << 1 << 44100 << qint64(-1) << QByteArray();
        QTest::newRow("mono, masked, 22k") << 1 << 22050 << qint64(0x4) << QByteArray();
        QTest::newRow("stereo 48k") << 2 << 48000 << qint64(-1) << QByteArray();
        QTest::newRow("stereo, masked") << 2 << 44100 << qint64(0x3) << QByteArray();
        QTest::newRow("5.1") << 6 << 44100 << qint64(0x3F) << QByteArray();
        QTest::newRow("5.1 side, 48k") << 6 << 48000 << qint64(0x60F) << QByteArray();
        QTest::newRow("3 channels, no mask") << 3 << 44100 << qint64(-1) << QByteArray();
        QTest::newRow("6 channels, no mask, 48k") << 6 << 48000 << qint64(-1) << QByteArray();
        QTest::newRow("4 channels, mask 0") << 4 << 44100 << qint64(0) << QByteArray();
        QTest::newRow("custom order") << 3 << 44100 << qint64(-1) << QByteArray("FR+FL+LFE");
    }
    void everyChannelOrderBecomesStereo()
    {
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(qint64, mask);
        QFETCH(QByteArray, rawLayout);
        const QVector<qint16> tone = TestSupport::sine(440, 1.0, 1, rate);
        QVector<qint16> samples(tone.size() * channels, 0);
        for (int i = 0; i < tone.size(); ++i)
            samples[i * channels] = tone[i];
        const QByteArray fmt = mask < 0 ? WavBuilder::fmtBody(1, channels, rate, 16)
                                        : WavBuilder::extensibleBody(1, channels, rate, 16, quint32(mask));
        const QString path = m_dir + QStringLiteral("/order-%1-%2-%3.%4").arg(channels).arg(rate).arg(mask)
                                         .arg(rawLayout.isEmpty() ? "wav" : "sw");
        if (rawLayout.isEmpty()) {
            QVERIFY(WavBuilder().chunk("fmt ", fmt).data(WavBuilder::pcm16(samples)).write(path));
        } else {
            QFile raw(path);
            QVERIFY(raw.open(QIODevice::WriteOnly) && raw.write(WavBuilder::pcm16(samples)) > 0);
        }
        PcmDecoder::Options stereo;
        stereo.rawLayout = rawLayout;

        QByteArray st;
        QString why;
        PcmDecoder::Info info;
        if (!rawLayout.isEmpty()) {
            QCOMPARE(rawSourceOrder(path, rawLayout), int(AV_CHANNEL_ORDER_CUSTOM));
            if (!resamplerTakes(rawLayout)) {
                QVERIFY(!PcmDecoder::decode(path, stereo, &st, &why, &info));
                QVERIFY(!why.isEmpty());
                QVERIFY(st.isEmpty());
                return;
            }
        }
        QVERIFY2(PcmDecoder::decode(path, stereo, &st, &why, &info), qPrintable(why));
        QCOMPARE(info.sourceChannels, channels);
        QCOMPARE(st.size(), 44100 * 4);
        int left = 0, right = 0, apart = 0;
        for (qsizetype i = 0; i < st.size() / 4; ++i) {
            left = std::max(left, qAbs(int(sampleAt(st, 2 * i))));
            right = std::max(right, qAbs(int(sampleAt(st, 2 * i + 1))));
            apart = std::max(apart, qAbs(sampleAt(st, 2 * i) - sampleAt(st, 2 * i + 1)));
        }
        if (rawLayout.startsWith("FR+"))
            std::swap(left, right);   // its first channel is the right one
        QVERIFY2(left > 3000, qPrintable(QString::number(left)));
        if (channels == 1)
            QCOMPARE(apart, 0);
        else
            QVERIFY2(right <= 1, qPrintable(QString::number(right)));

        PcmDecoder::Options mono;
        mono.rawLayout = rawLayout;
        mono.channels = 1;
        mono.rate = 48000;
        mono.format = SampleFormat::Float32;
        QByteArray m;
        QVERIFY2(PcmDecoder::decode(path, mono, &m, &why), qPrintable(why));
        QCOMPARE(m.size(), 48000 * 4);
        float peak = 0;
        for (qsizetype i = 0; i < m.size() / 4; ++i) {
            float v = 0;
            memcpy(&v, m.constData() + 4 * i, 4);
            peak = std::max(peak, std::abs(v));
        }
        QVERIFY2(peak > 0.05f, qPrintable(QString::number(peak)));
    }

    // Compressed sources: a start inside the file gives exactly the frames a
    // decode from the top has there.
    void compressedStartIsSampleAccurate_data()
    {
        QTest::addColumn<int>("codec");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("rate");
        QTest::addColumn<bool>("exact");
        QTest::newRow("mp3") << int(AudioFixture::Codec::Mp3) << "mp3" << 44100 << true;
        QTest::newRow("flac 48k") << int(AudioFixture::Codec::Flac) << "flac" << 48000 << true;
        QTest::newRow("flac") << int(AudioFixture::Codec::Flac) << "flac" << 44100 << true;
        QTest::newRow("ogg") << int(AudioFixture::Codec::Vorbis) << "ogg" << 44100 << false;
    }
    void compressedStartIsSampleAccurate()
    {
        QFETCH(int, codec);
        QFETCH(QString, suffix);
        QFETCH(int, rate);
        QFETCH(bool, exact);
        const auto c = AudioFixture::Codec(codec);
        if (!AudioFixture::hasEncoder(c))
            QSKIP("this libavcodec has no encoder for the format");
        const QString path = m_dir + "/tone." + suffix + QString::number(rate) + "." + suffix;
        QVector<qint16> src = TestSupport::sine(330, 3.0, 2, rate, 0.6);
        QString err;
        QVERIFY2(AudioFixture::encode(path, c, src, 2, rate, &err), qPrintable(err));

        const QByteArray whole = decodePcmMF_stereo(path, 0, 0, 1.0f);
        // Within a frame of encoder padding of 3 s at 44100.
        QVERIFY2(qAbs(whole.size() / 4 - 3 * 44100) <= 2048, qPrintable(QString::number(whole.size() / 4)));
        const QByteArray part = decodePcmMF_stereo(path, 1.25, 2.0, 1.0f);
        QCOMPARE(part.size(), qsizetype(std::llround(0.75 * 44100)) * 4);
        const QByteArray expect = whole.mid(qsizetype(std::llround(1.25 * 44100)) * 4, part.size());
        if (exact) {
            QCOMPARE(part, expect);
        } else {
            // Lossy with overlapping windows: after a seek the first window
            // may differ slightly; the tone must be the same one.
            double diff = 0;
            for (qsizetype i = 2048; i < part.size() / 2; ++i)
                diff = std::max(diff, double(qAbs(sampleAt(part, i) - sampleAt(expect, i))));
            QVERIFY2(diff < 300, qPrintable(QString::number(diff)));
        }
    }

    // A 10-minute start in a long FLAC goes through the demuxer's seek.
    void longSeekLandsOnTheFrame()
    {
        if (!AudioFixture::hasEncoder(AudioFixture::Codec::Flac))
            QSKIP("no FLAC encoder");
        // 70 s of the ramp at 44100 (longer than the decode-from-top range).
        const QString path = m_dir + "/long.flac";
        QVERIFY(AudioFixture::encode(path, AudioFixture::Codec::Flac, rampStereo(44100 * 70), 2, 44100));
        const QByteArray part = decodePcmMF_stereo(path, 65.0, 65.25, 1.0f);
        QCOMPARE(part.size(), 11025 * 4);
        const int first = (65 * 44100) % 30000;
        QCOMPARE(sampleAt(part, 0), qint16(first));
        QCOMPARE(sampleAt(part, 1), qint16(-first));
    }

    // Damage inside a stream costs the damaged packets, not the file.
    void corruptAndTruncatedStreams()
    {
        if (!AudioFixture::hasEncoder(AudioFixture::Codec::Mp3))
            QSKIP("no MP3 encoder");
        const QString path = m_dir + "/ok.mp3";
        QVERIFY(AudioFixture::encode(path, AudioFixture::Codec::Mp3, TestSupport::sine(500, 4.0, 2, 44100), 2, 44100));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray bytes = f.readAll();
        f.close();

        QByteArray damaged = bytes;
        for (int i = 0; i < 3000; ++i)
            damaged[damaged.size() / 2 + i] = char((i * 151) & 0xff);
        const QString dpath = m_dir + "/damaged.mp3";
        QFile d(dpath);
        QVERIFY(d.open(QIODevice::WriteOnly));
        d.write(damaged);
        d.close();
        const QByteArray pcm = decodePcmMF_stereo(dpath, 0, 0, 1.0f);
        QVERIFY2(pcm.size() / 4 > 3.5 * 44100, qPrintable(QString::number(pcm.size() / 4)));

        const QString tpath = m_dir + "/half.mp3";
        QFile t(tpath);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write(bytes.left(bytes.size() / 2));
        t.close();
        const int frames = int(decodePcmMF_stereo(tpath, 0, 0, 1.0f).size() / 4);
        QVERIFY2(frames > 1.7 * 44100 && frames < 2.3 * 44100, qPrintable(QString::number(frames)));
    }

    // The engine's own WAV reader takes over only what FFmpeg cannot open,
    // and only a 16-bit stereo 44100 Hz PCM file as it stands.
    void wavFallback()
    {
        const QVector<qint16> s{1000, -1000, 2000, -2000, 30000, -30000};
        const QByteArray list("INFOISFT\x04\0\0\0abc\0", 16);
        // An extensible format whose sub-format FFmpeg does not know; the
        // chunk walker takes its first bytes (1: PCM) as the format.
        auto fmtOf = [](int channels, int rate) {
            QByteArray f = WavBuilder::fmtBody(0xFFFE, channels, rate, 16);
            f.append(QByteArray::fromHex("16001000030000000100"));
            f.append(QByteArray(14, char(0xEE)));
            return f;
        };
        const QByteArray image = WavBuilder().chunk("fmt ", fmtOf(2, 44100)).data(WavBuilder::pcm16(s)).chunk("LIST", list).bytes();
        const QString path = m_dir + "/odd.WAV";
        QVERIFY(WavBuilder().chunk("fmt ", fmtOf(2, 44100)).data(WavBuilder::pcm16(s)).chunk("LIST", list).write(path));
        QVERIFY(decodePcmMF_stereo(path, 0, 0, 1.0f).isEmpty());

        // Unity gain, any range: the whole file as it is.
        QCOMPARE(PcmDecode::decodePcm(path, 0.5, 0.7, 1.0f), image);
        const QByteArray doubled = PcmDecode::decodePcm(path, 0, 0, 2.0f);
        QCOMPARE(doubled.size(), image.size());
        qsizetype off = 0, len = 0;
        QVERIFY(PcmDecode::locateRiffSamples(doubled, &off, &len));
        QCOMPARE(off, qsizetype(12 + 8 + 40 + 8));
        QCOMPARE(len, qsizetype(12));
        QCOMPARE(sampleAt(doubled.mid(off), 0), qint16(2000));
        QCOMPARE(sampleAt(doubled.mid(off), 4), qint16(32767));
        QCOMPARE(sampleAt(doubled.mid(off), 5), qint16(-32768));
        // The chunk after the samples keeps its bytes.
        QCOMPARE(doubled.right(list.size()), list);
        QCOMPARE(PcmDecode::readWavSamples(path, 0.5f), WavBuilder::pcm16({500, -500, 1000, -1000, 15000, -15000}));

        // Any other WAV that FFmpeg cannot read is refused rather than
        // played at the wrong speed or as noise.
        const QString other = m_dir + "/odd48.wav";
        QVERIFY(WavBuilder().chunk("fmt ", fmtOf(2, 48000)).data(WavBuilder::pcm16(s)).write(other));
        QVERIFY(PcmDecode::decodePcm(other, 0, 0, 1.0f).isEmpty());
        QVERIFY(logHas("not 16-bit stereo 44100 Hz PCM"));
        const QString mono = m_dir + "/oddmono.wav";
        QVERIFY(WavBuilder().chunk("fmt ", fmtOf(1, 44100)).data(WavBuilder::pcm16(s)).write(mono));
        QVERIFY(PcmDecode::decodePcm(mono, 0, 0, 1.0f).isEmpty());
        // Not a "wav" suffix: no fallback.
        const QString named = m_dir + "/odd.bin";
        QVERIFY(QFile::copy(path, named));
        QVERIFY(PcmDecode::decodePcm(named, 0, 0, 1.0f).isEmpty());
        // A readable WAV goes through the decoder: raw PCM, no header.
        QCOMPARE(PcmDecode::decodePcm(m_ramp, 0, 0.1, 1.0f).size(), 4410 * 4);
    }

    void badInput_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        const QByteArray pcm = WavBuilder::pcm16(TestSupport::sine(440, 0.1, 2, 44100));
        QTest::newRow("empty") << QByteArray() << "empty.wav";
        QTest::newRow("header only") << WavBuilder().fmt(1, 2, 44100, 16).bytes() << "header.wav";
        QTest::newRow("truncated") << WavBuilder().fmt(1, 2, 44100, 16).data(pcm).bytes().left(30) << "trunc.wav";
        QTest::newRow("text") << QByteArray("this is not audio at all\n").repeated(40) << "text.mp3";
        QTest::newRow("zero channels") << WavBuilder().fmt(1, 0, 44100, 16).data(pcm).bytes() << "zeroch.wav";
        QTest::newRow("zero rate") << WavBuilder().fmt(1, 2, 0, 16).data(pcm).bytes() << "zerorate.wav";
        QTest::newRow("lying sizes") << WavBuilder().chunk("fmt ", WavBuilder::fmtBody(1, 2, 44100, 16), 0xfffffff0)
                                            .data(pcm, 0xffffffff).bytes() << "lying.wav";
        QTest::newRow("absurd rate") << WavBuilder().fmt(1, 2, 788000000, 16).data(pcm).bytes() << "absurd.wav";
        QTest::newRow("huge channels") << WavBuilder().fmt(1, 65535, 44100, 16).data(pcm).bytes() << "manych.wav";
        QByteArray junk(4096, '\0');
        for (int i = 0; i < junk.size(); ++i)
            junk[i] = char((i * 7919 + 13) & 0xff);
        QTest::newRow("junk") << junk << "junk.flac";
    }
    void badInput()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        const QString path = m_dir + "/" + name;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        const int before = OpLog::totalWritten();
        const QByteArray out = PcmDecode::decodePcm(path, 0, 0, 1.5f);
        // Whatever the decoder makes of it, a result is whole frames of sane size.
        QCOMPARE(out.size() % 4, 0);
        QVERIFY(out.size() <= 44100 * 4 * 60);
        if (out.isEmpty())
            QVERIFY(OpLog::totalWritten() > before);
        QVERIFY(decodePcmMF_stereo(m_dir + "/missing.wav", 0, 0, 1.0f).isEmpty());
    }

    // The FIFO cache: key, eviction, empty results, sharing.
    void cacheKeyAndEviction()
    {
        QCOMPARE(PcmDecode::cacheKey("/a.wav", 0, 12.5, 1.0f), QString("/a.wav|0.000|12.500|1.000"));
        QCOMPARE(PcmDecode::cacheKey("/a.wav", 0, 1, 1.0004f), PcmDecode::cacheKey("/a.wav", 0, 1, 1.0f));
        QVERIFY(PcmDecode::cacheKey("/a.wav", 0, 1, 1.001f) != PcmDecode::cacheKey("/a.wav", 0, 1, 1.0f));

        std::atomic<int> calls{0};
        PcmDecode::DecodeCache cache(200, [&](const QString& p, double, double, float) {
            ++calls;
            if (p.startsWith("empty"))
                return QByteArray();
            QByteArray b;
            b.reserve(1 << 16);     // spare capacity must not be kept
            b.append(p.toUtf8());
            return b;
        });
        const QByteArray first = cache.decodeCached("f0", 0, 0, 1.0f);
        QCOMPARE(first, QByteArray("f0"));
        QVERIFY(first.capacity() < 1024);
        QCOMPARE(cache.decodeCached("f0", 0, 0, 1.0004f).constData(), first.constData());   // shared, no copy
        QCOMPARE(calls.load(), 1);
        cache.decodeCached("f0", 0, 0, 1.001f);
        QCOMPARE(calls.load(), 2);
        for (int i = 1; i < 199; ++i)
            cache.decodeCached(QString("f%1").arg(i), 0, 0, 1.0f);
        QCOMPARE(cache.size(), 200);
        QVERIFY(cache.contains(PcmDecode::cacheKey("f0", 0, 0, 1.0f)));
        // The 201st key pushes out the first one stored.
        cache.decodeCached("f199", 0, 0, 1.0f);
        QCOMPARE(cache.size(), 200);
        QVERIFY(!cache.contains(PcmDecode::cacheKey("f0", 0, 0, 1.0f)));
        QCOMPARE(cache.keys().first(), PcmDecode::cacheKey("f0", 0, 0, 1.001f));
        const int n = calls.load();
        cache.decodeCached("f0", 0, 0, 1.0f);
        QCOMPARE(calls.load(), n + 1);      // decoded anew
        QVERIFY(!cache.contains(PcmDecode::cacheKey("f0", 0, 0, 1.001f)));

        // Empty results are never stored: asked again, decoded again.
        QVERIFY(cache.decodeCached("empty", 0, 0, 1.0f).isEmpty());
        QVERIFY(cache.decodeCached("empty", 0, 0, 1.0f).isEmpty());
        QCOMPARE(calls.load(), n + 3);
        QVERIFY(!cache.contains(PcmDecode::cacheKey("empty", 0, 0, 1.0f)));
    }

    // Two requests for one key decode in parallel (the lock is not held while
    // decoding); the first to finish is stored, the later one keeps its own.
    void cacheParallelSameKey()
    {
        // Each decode waits on a gate of its own, so the test decides which
        // one finishes first (one shared gate could let the second through
        // first and leave the first waiting for ever).
        QSemaphore entered, releaseFirst, releaseSecond;
        std::atomic<int> seq{0};
        PcmDecode::DecodeCache cache(4, [&](const QString&, double, double, float) {
            const int me = ++seq;
            entered.release();
            (me == 1 ? releaseFirst : releaseSecond).acquire();
            return QByteArray(me == 1 ? "first" : "second");
        });
        QFuture<QByteArray> a = QtConcurrent::run([&] { return cache.decodeCached("k", 0, 0, 1.0f); });
        QVERIFY(entered.tryAcquire(1, 10000));
        QFuture<QByteArray> b = QtConcurrent::run([&] { return cache.decodeCached("k", 0, 0, 1.0f); });
        QVERIFY(entered.tryAcquire(1, 10000));      // both are decoding now
        releaseFirst.release();
        a.waitForFinished();
        releaseSecond.release();
        b.waitForFinished();
        QCOMPARE(a.result(), QByteArray("first"));
        QCOMPARE(b.result(), QByteArray("second"));
        QCOMPARE(cache.decodeCached("k", 0, 0, 1.0f), QByteArray("first"));
        QCOMPARE(cache.size(), 1);
    }

    void cacheDecodesAtIdlePriority()
    {
        PcmDecode::DecodeCache cache;
        QThread::Priority seen = QThread::InheritPriority;
        QByteArray got;
        QThread* t = QThread::create([&] {
            got = cache.decodeCachedAtIdle(m_ramp, 0, 0.5, 1.0f);
            seen = QThread::currentThread()->priority();
        });
        t->start();
        QVERIFY(t->wait(30000));
        delete t;
        QCOMPARE(seen, QThread::IdlePriority);
        QCOMPARE(got.size(), 22050 * 4);
        QVERIFY(cache.contains(PcmDecode::cacheKey(m_ramp, 0, 0.5, 1.0f)));
    }

    // Decoders share nothing: many at once give the same blocks.
    void concurrentDecodes()
    {
        const QByteArray ref = decodePcmMF_stereo(m_ramp, 0.3, 1.3, 0.8f);
        QList<QFuture<QByteArray>> fs;
        for (int i = 0; i < 8; ++i)
            fs.append(QtConcurrent::run([this] { return decodePcmMF_stereo(m_ramp, 0.3, 1.3, 0.8f); }));
        for (auto& f : fs)
            QCOMPARE(f.result(), ref);
    }
};

QTEST_GUILESS_MAIN(TestPcmDecode)
#include "tst_pcmdecode.moc"
