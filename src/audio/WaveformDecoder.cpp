#include "WaveformDecoder.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "FileCheck.h"
#include "Mp3Decoder.h"
#include "OpLog.h"
#include "PcmDecoder.h"
#include "PlatformLog.h"

namespace {

const bool s_platformLogHooked = (PlatformLog::setSink(&VX_LOG), true);

// Most mono samples a WAV gives (an hour of 48 kHz), as the MP3 path's cap.
constexpr qint64 kMaxWavFrames = WaveformDecoder::kMaxMp3Samples / 2;

quint32 le32(const uchar* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

quint16 le16(const uchar* p)
{
    return quint16(p[0] | p[1] << 8);
}

void logFailure(const QString& path, const QString& why)
{
    VX_LOG(QStringLiteral("[Waveform] no bars for %1: %2").arg(path, why));
}

// The file's bytes without copying them: a read-only mapping that lives as
// long as the object.
class FileImage
{
public:
    explicit FileImage(const QString& path) : m_file(path)
    {
        // A pipe or a device would block open() or never end.
        QString why;
        if (!FileCheck::isRegularFile(path, &why)) {
            m_error = why;
            return;
        }
        if (!m_file.open(QIODevice::ReadOnly)) {
            m_error = m_file.errorString();
            return;
        }
        const qint64 size = m_file.size();
        if (size > WaveformDecoder::kMaxFileBytes) {
            m_error = QStringLiteral("file too large (%1 bytes)").arg(size);
            return;
        }
        if (size == 0) {
            m_ok = true;
            return;
        }
        if (uchar* p = m_file.map(0, size)) {
            m_bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(p), qsizetype(size));
        } else {
            m_bytes = m_file.readAll();
            if (m_bytes.size() != size) {
                m_error = QStringLiteral("short read");
                return;
            }
        }
        m_ok = true;
    }
    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    const QByteArray& bytes() const { return m_bytes; }

private:
    QFile m_file;
    QByteArray m_bytes;
    QString m_error;
    bool m_ok = false;
};

QString suffixOf(const QString& path)
{
    return QFileInfo(path).suffix().toLower();
}

} // namespace

WavLayout WaveformDecoder::walkWav(const QByteArray& image)
{
    WavLayout l;
    const qint64 size = image.size();
    const uchar* d = reinterpret_cast<const uchar*>(image.constData());
    if (size < 12 || memcmp(d, "RIFF", 4) != 0 || memcmp(d + 8, "WAVE", 4) != 0 || size < 20)
        return l;
    bool haveFmt = false;
    bool haveData = false;
    qint64 pos = 12;
    // 64-bit offsets throughout: a chunk size near 4 GiB must not wrap the
    // walk back to an earlier chunk.
    while (pos + 8 <= size) {
        const uchar* id = d + pos;
        const qint64 csize = le32(d + pos + 4);
        const qint64 body = pos + 8;
        if (memcmp(id, "fmt ", 4) == 0) {
            if (pos + 23 < size) {
                l.formatTag = le16(d + body);
                l.channels = le16(d + body + 2);
                l.rate = int(le32(d + body + 4) & 0x7fffffff);
                l.bits = le16(d + body + 14);
                if (l.formatTag == 0xFFFE && pos + 33 < size)
                    l.formatTag = le16(d + body + 24);
                haveFmt = true;
            }
        } else if (memcmp(id, "data", 4) == 0) {
            l.dataOffset = body;
            l.dataSize = csize;
            haveData = true;
        }
        if (csize == 0 && memcmp(id, "data", 4) != 0)
            break;
        if (haveFmt && haveData)
            break;
        const qint64 next = body + csize + (csize & 1);
        if (next + 8 > size)
            break;
        pos = next;
    }
    if (!haveData || l.dataOffset >= size) {
        l.dataOffset = haveData ? l.dataOffset : -1;
        l.ok = false;
        return l;
    }
    const qint64 left = size - l.dataOffset;
    if (l.dataSize == 0 || l.dataSize > left)
        l.dataSize = left;
    l.ok = haveFmt && l.channels > 0 && l.bits > 0 && (l.formatTag == 1 || l.formatTag == 3);
    return l;
}

QList<float> WaveformDecoder::wavToFloat(const QByteArray& image, int& sampleRate)
{
    sampleRate = 44100;
    const WavLayout l = walkWav(image);
    if (!l.ok)
        return {};
    const int bps = l.bits / 8;
    if (bps == 0)
        return {};
    if (l.bits != 8 && l.bits != 16 && l.bits != 24 && l.bits != 32)
        return {};
    const qint64 total = l.dataSize / bps;
    if (total < l.channels)
        return {};
    qint64 frames = total / l.channels;
    if (frames > kMaxWavFrames)
        frames = kMaxWavFrames;
    const uchar* p = reinterpret_cast<const uchar*>(image.constData()) + l.dataOffset;
    const int ch = l.channels;
    const float inv = 1.0f / float(ch);
    QList<float> out(frames);
    float* o = out.data();
    for (qint64 f = 0; f < frames; ++f) {
        float sum = 0;
        for (int c = 0; c < ch; ++c, p += bps) {
            float v;
            switch (l.bits) {
            case 8:
                v = float(int(p[0]) - 128) * (1.0f / 128.0f);
                break;
            case 16:
                v = float(qint16(le16(p))) * (1.0f / 32768.0f);
                break;
            case 24: {
                qint32 s = qint32(quint32(p[0]) << 8 | quint32(p[1]) << 16 | quint32(p[2]) << 24) >> 8;
                v = float(s) * (1.0f / 8388608.0f);
                break;
            }
            default:
                if (l.formatTag == 3) {
                    const quint32 bits = le32(p);
                    memcpy(&v, &bits, 4);
                } else {
                    v = float(qint32(le32(p))) * (1.0f / 2147483648.0f);
                }
                break;
            }
            sum += v;
        }
        o[f] = ch == 1 ? sum : sum * inv;
    }
    sampleRate = l.rate > 0 ? l.rate : 44100;
    return out;
}

QList<float> WaveformDecoder::decodeWavToFloat(const QString& path, int& sampleRate)
{
    sampleRate = 44100;
    FileImage img(path);
    if (!img.ok()) {
        logFailure(path, img.error());
        return {};
    }
    QList<float> s = wavToFloat(img.bytes(), sampleRate);
    if (s.isEmpty())
        logFailure(path, QStringLiteral("not a readable WAV file"));
    return s;
}

QList<float> WaveformDecoder::decodeMP3(const QString& path)
{
    FileImage img(path);
    if (!img.ok()) {
        logFailure(path, img.error());
        return {};
    }
    Mp3Decoder dec;
    QString why;
    if (!dec.openBuffer(img.bytes(), &why)) {
        logFailure(path, why);
        return {};
    }
    const int channels = dec.channels() > 0 ? dec.channels() : 2;
    const qint64 total = std::min(dec.totalSamples(), kMaxMp3Samples);
    // Reserved, then filled as samples arrive: only what the stream really
    // holds is ever touched, whatever length a damaged header claims.
    QList<float> s;
    s.reserve(qsizetype(total));
    qint64 got = 0;
    while (got < total) {
        const qint64 want = std::min<qint64>(total - got, 1 << 20);
        s.resize(got + want);
        const qint64 n = dec.readFloat(s.data() + got, want);
        if (n <= 0)
            break;
        got += n;
    }
    dec.close();
    s.resize(got);
    if (channels == 2) {
        float* d = s.data();
        const qint64 frames = got / 2;
        for (qint64 i = 0; i < frames; ++i)
            d[i] = (d[2 * i] + d[2 * i + 1]) * 0.5f;
        s.resize(frames);
    }
    if (s.isEmpty())
        logFailure(path, QStringLiteral("the MP3 decoded to nothing"));
    return s;
}

QList<float> WaveformDecoder::floatToBars(const QList<float>& samples, int n)
{
    const qint64 count = samples.size();
    if (n < 1 || n > count)
        return {};
    const qint64 per = std::max<qint64>(1, count / n);
    QList<float> bars(n, 0.0f);
    const float* s = samples.constData();
    float top = 0;
    for (int i = 0; i < n; ++i) {
        const qint64 a = qint64(i) * per;
        const qint64 b = std::min(a + per, count);
        float peak = 0;
        for (qint64 k = a; k < b; ++k)
            peak = std::max(peak, std::fabs(s[k]));
        bars[i] = peak;
        top = std::max(top, peak);
    }
    if (top > 0)
        for (float& b : bars)
            b /= top;
    return bars;
}

QList<WaveBar> WaveformDecoder::floatToWaveBars(const QList<float>& samples, int n, int sampleRate)
{
    const qint64 count = samples.size();
    if (n < 1 || n > count)
        return {};
    const qint64 per = std::max<qint64>(1, count / n);
    const float dt = 1.0f / float(std::max(sampleRate, 8000));
    const float rc300 = 1.0f / (2.0f * float(M_PI) * 300.0f);
    const float rc4000 = 1.0f / (2.0f * float(M_PI) * 4000.0f);
    const float a300 = dt / (rc300 + dt);
    const float a4000 = dt / (rc4000 + dt);
    float l300 = 0, l4000 = 0;
    QList<WaveBar> bars(n);
    WaveBar top;
    const float* s = samples.constData();
    for (int i = 0; i < n; ++i) {
        const qint64 a = qint64(i) * per;
        const qint64 b = std::min(a + per, count);
        WaveBar w;
        for (qint64 k = a; k < b; ++k) {
            const float x = s[k];
            l300 += (x - l300) * a300;
            l4000 += (x - l4000) * a4000;
            w.low = std::max(w.low, std::fabs(l300));
            w.mid = std::max(w.mid, std::fabs(l4000 - l300));
            w.high = std::max(w.high, std::fabs(x - l4000));
            w.full = std::max(w.full, std::fabs(x));
        }
        bars[i] = w;
        top.low = std::max(top.low, w.low);
        top.mid = std::max(top.mid, w.mid);
        top.high = std::max(top.high, w.high);
        top.full = std::max(top.full, w.full);
    }
    for (WaveBar& w : bars) {
        if (top.low > 0)
            w.low /= top.low;
        if (top.mid > 0)
            w.mid /= top.mid;
        if (top.high > 0)
            w.high /= top.high;
        if (top.full > 0)
            w.full /= top.full;
    }
    return bars;
}

QList<float> WaveformDecoder::decodeOtherToFloat(const QString& path)
{
    QString why;
    if (!FileCheck::isRegularFile(path, &why)) {
        logFailure(path, why);
        return {};
    }
    PcmDecoder::Options o;
    o.channels = 1;
    o.rate = kOtherRate;
    o.format = SampleFormat::Float32;
    QByteArray pcm;
    if (!PcmDecoder::decode(path, o, &pcm, &why)) {
        logFailure(path, why);
        return {};
    }
    QList<float> samples(pcm.size() / qsizetype(sizeof(float)));
    memcpy(samples.data(), pcm.constData(), size_t(samples.size()) * sizeof(float));
    return samples;
}

// The file's mono samples: WAV and MP3 through their own readers (MP3 bars
// are computed as if at 44100 Hz), every other suffix through FFmpeg at
// kOtherRate. Empty on failure.
static QList<float> monoSamples(const QString& path, int* rate)
{
    const QString suffix = suffixOf(path);
    *rate = 44100;
    if (suffix == QLatin1String("wav"))
        return WaveformDecoder::decodeWavToFloat(path, *rate);
    if (suffix == QLatin1String("mp3"))
        return WaveformDecoder::decodeMP3(path);
    *rate = WaveformDecoder::kOtherRate;
    return WaveformDecoder::decodeOtherToFloat(path);
}

static void logTooFew(const QString& path, qsizetype samples, int n)
{
    logFailure(path, QStringLiteral("%1 samples are too few for %2 bars").arg(samples).arg(n));
}

QList<float> WaveformDecoder::decode(const QString& path, int n)
{
    int rate = 44100;
    const QList<float> samples = monoSamples(path, &rate);
    if (samples.isEmpty())
        return {};
    QList<float> bars = floatToBars(samples, n);
    if (bars.isEmpty())
        logTooFew(path, samples.size(), n);
    return bars;
}

QList<WaveBar> WaveformDecoder::decodeBands(const QString& path, int n)
{
    int rate = 44100;
    const QList<float> samples = monoSamples(path, &rate);
    if (samples.isEmpty())
        return {};
    QList<WaveBar> bars = floatToWaveBars(samples, n, rate);
    if (bars.isEmpty())
        logTooFew(path, samples.size(), n);
    return bars;
}
