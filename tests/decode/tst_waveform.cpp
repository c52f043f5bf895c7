#include <QtConcurrent>
#include <QtTest>

#include <cmath>

#include "AudioFixture.h"
#include "Mp3Decoder.h"
#include "OpLog.h"
#include "TestSupport.h"
#include "WavBuilder.h"
#include "WaveformDecoder.h"

namespace {

QByteArray floats(const QVector<float>& v)
{
    QByteArray b(v.size() * 4, '\0');
    memcpy(b.data(), v.constData(), size_t(b.size()));
    return b;
}

QVector<qint16> toneThenTone(double f1, double f2, double secondsEach, int rate)
{
    QVector<qint16> a = TestSupport::sine(f1, secondsEach, 1, rate, 0.5);
    a += TestSupport::sine(f2, secondsEach, 1, rate, 0.5);
    return a;
}

} // namespace

class TestWaveform : public QObject
{
    Q_OBJECT

private:
    QString m_dir;

    QString writeBytes(const QString& name, const QByteArray& b)
    {
        const QString p = m_dir + "/" + name;
        QFile f(p);
        if (f.open(QIODevice::WriteOnly))
            f.write(b);
        return p;
    }

private slots:
    void initTestCase() { m_dir = TestSupport::tempDir(); }

    // The chunk walker and the sample formats it reads.
    void wavReader()
    {
        int rate = 0;
        // Stereo extremes average to about 0 instead of adding up.
        const QByteArray ext = WavBuilder().fmt(1, 2, 22050, 16).data(WavBuilder::pcm16({32767, -32768, 32767, -32768})).bytes();
        QList<float> s = WaveformDecoder::wavToFloat(ext, rate);
        QCOMPARE(s.size(), 2);
        QVERIFY(std::fabs(s[0]) < 1e-4f);
        QCOMPARE(rate, 22050);

        // A LIST chunk first, an odd-sized chunk with its pad byte.
        const QByteArray odd = WavBuilder()
                                   .chunk("LIST", QByteArray("abc", 3))
                                   .fmt(1, 1, 8000, 16)
                                   .chunk("junk", QByteArray("x", 1))
                                   .data(WavBuilder::pcm16({16384, -16384}))
                                   .bytes();
        s = WaveformDecoder::wavToFloat(odd, rate);
        QCOMPARE(s, (QList<float>{0.5f, -0.5f}));
        QCOMPARE(rate, 8000);

        // Extensible with a float sub-format is read as float.
        const QByteArray flt = WavBuilder()
                                   .chunk("fmt ", WavBuilder::extensibleBody(3, 1, 48000, 32))
                                   .data(floats({0.25f, -0.75f, 1.5f}))
                                   .bytes();
        const WavLayout l = WaveformDecoder::walkWav(flt);
        QVERIFY(l.ok);
        QCOMPARE(l.formatTag, 3);
        QCOMPARE(WaveformDecoder::wavToFloat(flt, rate), (QList<float>{0.25f, -0.75f, 1.5f}));

        // 8, 24 and 32-bit integers.
        QCOMPARE(WaveformDecoder::wavToFloat(WavBuilder().fmt(1, 1, 8000, 8).data(QByteArray("\x80\xc0\x00", 3)).bytes(), rate),
                 (QList<float>{0.0f, 0.5f, -1.0f}));
        QCOMPARE(WaveformDecoder::wavToFloat(WavBuilder().fmt(1, 1, 8000, 24).data(QByteArray("\x00\x00\x40\x00\x00\x80", 6)).bytes(), rate),
                 (QList<float>{0.5f, -1.0f}));
        QCOMPARE(WaveformDecoder::wavToFloat(WavBuilder().fmt(1, 1, 8000, 32).data(QByteArray("\x00\x00\x00\xc0", 4)).bytes(), rate),
                 (QList<float>{-0.5f}));

        // A data size beyond the file is read up to the end; rate 0 means 44100.
        const QByteArray lying = WavBuilder().fmt(1, 1, 0, 16).data(WavBuilder::pcm16({8192, 8192, 8192}), 1000000).bytes();
        s = WaveformDecoder::wavToFloat(lying, rate);
        QCOMPARE(s.size(), 3);
        QCOMPARE(rate, 44100);
    }

    void wavReaderRefuses_data()
    {
        QTest::addColumn<QByteArray>("image");
        const QByteArray pcm = WavBuilder::pcm16({1, 2, 3, 4});
        QTest::newRow("12-bit") << WavBuilder().fmt(1, 1, 8000, 12).data(pcm).bytes();
        QTest::newRow("20-bit") << WavBuilder().fmt(1, 1, 8000, 20).data(pcm).bytes();
        QTest::newRow("64-bit float") << WavBuilder().fmt(3, 1, 8000, 64).data(pcm).bytes();
        QTest::newRow("adpcm") << WavBuilder().fmt(2, 1, 8000, 4).data(pcm).bytes();
        QTest::newRow("zero channels") << WavBuilder().fmt(1, 0, 8000, 16).data(pcm).bytes();
        QTest::newRow("no data") << WavBuilder().fmt(1, 1, 8000, 16).bytes();
        QTest::newRow("data before nothing") << WavBuilder().data(pcm).bytes();
        QTest::newRow("fewer samples than channels") << WavBuilder().fmt(1, 6, 8000, 16).data(pcm).bytes();
        QTest::newRow("empty chunk ends walk") << WavBuilder().chunk("LIST", QByteArray()).fmt(1, 1, 8000, 16).data(pcm).bytes();
        QTest::newRow("RIFX") << WavBuilder().fmt(1, 1, 8000, 16).data(pcm).bytes().replace(0, 4, "RIFX");
        QTest::newRow("short") << QByteArray("RIFF\0\0\0\0WAVE", 12);
        QTest::newRow("empty") << QByteArray();
        // A chunk size that would wrap a 32-bit offset must not loop back.
        QTest::newRow("wrapping size") << WavBuilder().chunk("LIST", QByteArray(8, 'x'), 0xfffffff4).fmt(1, 1, 8000, 16).data(pcm).bytes();
    }
    void wavReaderRefuses()
    {
        QFETCH(QByteArray, image);
        int rate = 0;
        QVERIFY(WaveformDecoder::wavToFloat(image, rate).isEmpty());
        QCOMPARE(rate, 44100);
        const int before = OpLog::totalWritten();
        QVERIFY(WaveformDecoder::decode(writeBytes("bad.wav", image), 1).isEmpty());
        QVERIFY(OpLog::totalWritten() > before);
    }

    void peaks()
    {
        QCOMPARE(WaveformDecoder::floatToBars({0.1f, -0.4f, 0.2f, 0.2f, -0.1f, 0.8f, 0.9f}, 3),
                 (QList<float>{0.5f, 0.25f, 1.0f}));   // per 2; the 7th sample is not used
        QCOMPARE(WaveformDecoder::floatToBars({0.0f, 0.0f}, 2), (QList<float>{0.0f, 0.0f}));
        QVERIFY(WaveformDecoder::floatToBars({0.5f}, 2).isEmpty());
        QVERIFY(WaveformDecoder::floatToBars({0.5f}, 0).isEmpty());
        QVERIFY(WaveformDecoder::floatToWaveBars({0.5f}, 2, 44100).isEmpty());
    }

    // Constant amplitude: every non-zero field normalises to 1; silence stays 0.
    void bandNormalisation()
    {
        const QList<WaveBar> bars = WaveformDecoder::floatToWaveBars(QList<float>(44100, 0.5f), 10, 44100);
        QCOMPARE(bars.size(), 10);
        for (const WaveBar& b : bars) {
            QCOMPARE(b.full, 1.0f);
            for (float v : {b.low, b.mid, b.high})
                QVERIFY2(v == 0.0f || v == 1.0f || b.low > 0.999f, qPrintable(QString::number(v)));
        }
        QCOMPARE(bars[0].mid, 1.0f);    // the step at the start is the loudest mid and high
        QCOMPARE(bars[0].high, 1.0f);
        QVERIFY(bars[9].low > 0.999f);
        for (const WaveBar& b : WaveformDecoder::floatToWaveBars(QList<float>(1000, 0.0f), 4, 44100))
            QVERIFY(b.low == 0 && b.mid == 0 && b.high == 0 && b.full == 0);
    }

    // A low tone then a high tone: the bars say which band carries each half.
    void bandsOfKnownSignal()
    {
        const QString path = m_dir + "/two-tones.WAV";     // upper-case suffix reads as wav
        QVERIFY(TestSupport::writeWav16(path, toneThenTone(80, 9000, 1.0, 44100), 1, 44100));
        const QList<WaveBar> bars = WaveformDecoder::decodeBands(path, 20);
        QCOMPARE(bars.size(), 20);
        for (int i = 1; i < 10; ++i) {
            QVERIFY2(bars[i].low > 0.9f, qPrintable(QString::number(bars[i].low)));
            QVERIFY(bars[i].high < 0.15f);
        }
        for (int i = 11; i < 20; ++i) {
            QVERIFY2(bars[i].high > 0.9f, qPrintable(QString::number(bars[i].high)));
            QVERIFY(bars[i].low < 0.15f);
        }
        // A mid tone sits in the mid band.
        const QString mid = m_dir + "/mid.wav";
        QVERIFY(TestSupport::writeWav16(mid, TestSupport::sine(1200, 0.5, 2, 44100), 2, 44100));
        const QList<WaveBar> m = WaveformDecoder::decodeBands(mid, 5);
        for (const WaveBar& b : m)
            QVERIFY(b.mid > 0.9f);

        const QList<float> peaks = WaveformDecoder::decode(path, 4);
        QCOMPARE(peaks.size(), 4);
        for (float p : peaks)
            QVERIFY(p > 0.95f && p <= 1.0f);

        // Other suffixes go through FFmpeg, which reads the content, not the name.
        const QString renamed = m_dir + "/two-tones.flac";
        QVERIFY(QFile::copy(path, renamed));
        QCOMPARE(WaveformDecoder::decode(renamed, 4).size(), 4);
        QVERIFY(WaveformDecoder::decodeBands(m_dir + "/noext", 4).isEmpty());
        // More bars than samples.
        QVERIFY(WaveformDecoder::decode(path, 88201).isEmpty());
    }

    // Formats without a reader of their own come through FFmpeg: the same
    // low-then-high picture as the WAV; what FFmpeg cannot read gives nothing.
    void otherFormats_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codec");     // AudioFixture::Codec, or -1: write content as is
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("rate");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("bars");
        const int flac = int(AudioFixture::Codec::Flac);
        const int vorbis = int(AudioFixture::Codec::Vorbis);
        QTest::newRow("flac mono 44.1k") << "a.flac" << flac << 1 << 44100 << QByteArray() << true;
        QTest::newRow("flac stereo 48k") << "b.FLAC" << flac << 2 << 48000 << QByteArray() << true;
        QTest::newRow("ogg vorbis stereo") << "c.ogg" << vorbis << 2 << 44100 << QByteArray() << true;
        QTest::newRow("ogg vorbis 48k") << "d.oga" << vorbis << 2 << 48000 << QByteArray() << true;
        QTest::newRow("flac mono 22k") << "h.flac" << flac << 1 << 22050 << QByteArray() << true;
        QTest::newRow("flac 5.1") << "i.flac" << flac << 6 << 44100 << QByteArray() << true;
        QTest::newRow("ogg vorbis 5.1 48k") << "j.ogg" << vorbis << 6 << 48000 << QByteArray() << true;
        QTest::newRow("text named ogg") << "e.ogg" << -1 << 0 << 0 << QByteArray("hello\n").repeated(500) << false;
        QTest::newRow("empty flac") << "f.flac" << -1 << 0 << 0 << QByteArray() << false;
        QTest::newRow("flac header only") << "g.flac" << -1 << 0 << 0 << QByteArray("fLaC\0\0\0\x22", 8) << false;
    }
    void otherFormats()
    {
        QFETCH(QString, name);
        QFETCH(int, codec);
        QFETCH(int, channels);
        QFETCH(int, rate);
        QFETCH(QByteArray, content);
        QFETCH(bool, bars);
        QString path = m_dir + "/" + name;
        if (codec >= 0) {
            if (!AudioFixture::hasEncoder(AudioFixture::Codec(codec)))
                QSKIP("no encoder for this format");
            QVector<qint16> mono = toneThenTone(80, 6000, 1.0, rate);
            QVector<qint16> samples;
            for (qint16 v : std::as_const(mono))
                for (int c = 0; c < channels; ++c)
                    samples << v;
            QString error;
            QVERIFY2(AudioFixture::encode(path, AudioFixture::Codec(codec), samples, channels, rate, &error),
                     qPrintable(error));
        } else {
            path = writeBytes(name, content);
        }
        const QList<WaveBar> b = WaveformDecoder::decodeBands(path, 20);
        const QList<float> peaks = WaveformDecoder::decode(path, 20);
        if (!bars) {
            QVERIFY(b.isEmpty());
            QVERIFY(peaks.isEmpty());
            return;
        }
        QCOMPARE(b.size(), 20);
        QCOMPARE(peaks.size(), 20);
        // Two seconds of sound at kOtherRate, whatever the file's own rate.
        const qsizetype length = WaveformDecoder::decodeOtherToFloat(path).size();
        QVERIFY2(std::abs(length - 2 * WaveformDecoder::kOtherRate) < WaveformDecoder::kOtherRate / 20,
                 qPrintable(QString::number(length)));
        for (int i = 1; i < 9; ++i) {
            QVERIFY2(b[i].low > 0.9f && b[i].high < 0.15f, qPrintable(QString::number(i)));
            QVERIFY(peaks[i] > 0.8f);
        }
        for (int i = 11; i < 19; ++i)
            QVERIFY2(b[i].high > 0.9f && b[i].low < 0.15f, qPrintable(QString::number(i)));
    }

    // MP3 through the layer: length exact (encoder delay and padding removed),
    // stereo mixed to mono, mono as read; garbage and cut files handled.
    void mp3()
    {
        if (!AudioFixture::hasEncoder(AudioFixture::Codec::Mp3))
            QSKIP("no MP3 encoder");
        const QString st = m_dir + "/st.mp3";
        QVector<qint16> src = TestSupport::sine(440, 2.0, 2, 44100, 0.5);
        for (int i = 0; i < src.size(); i += 2)
            src[i] = 0;     // left silent, right the tone: the mix halves it
        QVERIFY(AudioFixture::encode(st, AudioFixture::Codec::Mp3, src, 2, 44100));
        Mp3Decoder dec;
        QVERIFY(dec.openFile(st));
        QCOMPARE(dec.channels(), 2);
        QCOMPARE(dec.sampleRate(), 44100);
        QCOMPARE(dec.totalSamples(), qint64(src.size()));
        const QList<float> mono = WaveformDecoder::decodeMP3(st);
        QCOMPARE(mono.size(), src.size() / 2);
        float top = 0;
        for (float v : mono)
            top = std::max(top, std::fabs(v));
        QVERIFY2(top > 0.22f && top < 0.28f, qPrintable(QString::number(top)));

        const QString mo = m_dir + "/mono.mp3";
        QVERIFY(AudioFixture::encode(mo, AudioFixture::Codec::Mp3, TestSupport::sine(440, 1.0, 1, 22050), 1, 22050));
        QCOMPARE(WaveformDecoder::decodeMP3(mo).size(), 22050);
        // decodeBands assumes 44100 for MP3 whatever the file's rate; the
        // bars still come.
        QCOMPARE(WaveformDecoder::decodeBands(mo, 100).size(), 100);

        QFile f(st);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        const QString cut = writeBytes("cut.mp3", bytes.left(bytes.size() / 3));
        const qsizetype n = WaveformDecoder::decodeMP3(cut).size();
        QVERIFY(n > 20000 && n < 40000);
        QVERIFY(!dec.openBuffer(QByteArray("RIFF....WAVEfmt definitely not an mp3 stream").repeated(50)));
        QVERIFY(!dec.openBuffer(QByteArray()));
        QVERIFY(WaveformDecoder::decode(writeBytes("text.mp3", QByteArray("hello\n").repeated(500)), 10).isEmpty());
        QVERIFY(WaveformDecoder::decode(m_dir + "/missing.mp3", 10).isEmpty());
    }

    void concurrentCalls()
    {
        const QString path = m_dir + "/conc.wav";
        QVERIFY(TestSupport::writeWav16(path, toneThenTone(100, 5000, 0.5, 44100), 1, 44100));
        const QList<WaveBar> ref = WaveformDecoder::decodeBands(path, 600);
        QList<QFuture<QList<WaveBar>>> fs;
        for (int i = 0; i < 6; ++i)
            fs.append(QtConcurrent::run([path] { return WaveformDecoder::decodeBands(path, 600); }));
        for (auto& f : fs) {
            const QList<WaveBar> r = f.result();
            QCOMPARE(r.size(), ref.size());
            for (int i = 0; i < r.size(); ++i)
                QVERIFY(r[i].low == ref[i].low && r[i].high == ref[i].high && r[i].full == ref[i].full);
        }
    }
};

QTEST_GUILESS_MAIN(TestWaveform)
#include "tst_waveform.moc"
