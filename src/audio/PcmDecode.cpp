#include "PcmDecode.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QtEndian>

#include <algorithm>

#include <cmath>
#include <cstring>

#include "FileCheck.h"
#include "KnownFiles.h"
#include "OpLog.h"
#include "PcmDecoder.h"
#include "PlatformLog.h"
#include "WaveformDecoder.h"

namespace {

// The platform layer logs through a hook; the audio layer points it at the
// operation log as soon as it is linked in.
const bool s_platformLogHooked = (PlatformLog::setSink(&VX_LOG), true);

// The largest WAV image the fallback reads: an hour of 16-bit stereo 44100 Hz
// plus room for the header and other chunks.
constexpr qint64 kMaxWavImageBytes = qint64(PcmDecoder::kMaxOutputSeconds) * 176400 + (1 << 20);

QByteArray readWholeFile(const QString& path, qint64 maxBytes, QString* why)
{
    if (!FileCheck::isRegularFile(path, why))
        return QByteArray();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *why = f.errorString();
        return QByteArray();
    }
    if (f.size() > maxBytes) {
        *why = QStringLiteral("file too large (%1 bytes)").arg(f.size());
        return QByteArray();
    }
    QByteArray data = f.readAll();
    if (data.size() != f.size()) {
        *why = QStringLiteral("short read");
        return QByteArray();
    }
    return data;
}

bool isCdFormat(const WavLayout& l)
{
    return l.ok && l.formatTag == 1 && l.channels == 2 && l.rate == 44100 && l.bits == 16;
}

// The format tag as the "fmt " chunk states it (an extensible format stays
// 0xFFFE: the decoder knows only some of its sub-formats); 0 when the chunk
// is not found in the image.
int plainFormatTag(const QByteArray& image)
{
    qint64 pos = 12;
    while (pos + 8 <= image.size()) {
        const quint32 len = qFromLittleEndian<quint32>(image.constData() + pos + 4);
        if (std::memcmp(image.constData() + pos, "fmt ", 4) == 0)
            return pos + 10 <= image.size() ? qFromLittleEndian<quint16>(image.constData() + pos + 8) : 0;
        pos += 8 + qint64(len) + (len & 1);
    }
    return 0;
}

// The range of a WAV file that is already 16-bit stereo 44100 Hz PCM, read
// straight from its data chunk: the same frames the decoder gives for it, at
// a fraction of the cost (the decoder's WAV reader probes plain PCM samples
// for other formats over up to a megabyte). Empty whenever the file is not
// such a WAV or the case is one the decoder should settle (no frames in the
// range, an open-ended or over-long data chunk); the decoder then takes it.
QByteArray readCdWavRange(const QString& path, double in, double out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray magic = f.peek(12);
    if (magic.size() < 12 || !magic.startsWith("RIFF") || magic.mid(8, 4) != "WAVE")
        return QByteArray();
    const qint64 size = f.size();
    const QByteArray head = f.read(std::min<qint64>(size, 1 << 20));
    const WavLayout l = WaveformDecoder::walkWav(head);
    if (!isCdFormat(l) || l.dataOffset < 8 || l.dataOffset > head.size() || plainFormatTag(head) != 1)
        return QByteArray();
    const quint32 declared = qFromLittleEndian<quint32>(head.constData() + l.dataOffset - 4);
    if (declared == 0 || declared == 0xFFFFFFFFu)
        return QByteArray();
    qint64 total = std::min<qint64>(declared, size - l.dataOffset);
    total -= total % PcmDecode::kBytesPerFrame;
    if (total <= 0 || total > qint64(PcmDecoder::kMaxOutputSeconds) * 176400)
        return QByteArray();
    qint64 off = 0, len = 0;
    PcmDecode::rangeSlice(total, in, out, &off, &len);
    if (len <= 0)
        return QByteArray();
    // A short sound lies whole in the head already read.
    const qint64 at = l.dataOffset + off;
    if (at + len <= head.size())
        return head.mid(at, len);
    if (!f.seek(at))
        return QByteArray();
    QByteArray pcm = f.read(len);
    if (pcm.size() != len)
        return QByteArray();
    return pcm;
}

} // namespace

QByteArray decodePcmMF_stereo(const QString& path, double in, double out, float gain)
{
    const qint64 limit = PcmDecode::rangeByteLimit(in, out);
    if (limit == 0)
        return QByteArray();
    if (!PcmDecode::decodable(path))
        return QByteArray();
    QByteArray cd = readCdWavRange(path, in, out);
    if (!cd.isEmpty()) {
        PcmDecode::applyGain(cd, gain);
        return cd;
    }
    QString why;
    QByteArray pcm = PcmDecoder::decodeS16Stereo44100(path, in > 0.001 ? in : 0.0,
                                                      limit < 0 ? -1 : limit / PcmDecode::kBytesPerFrame, &why);
    if (pcm.isEmpty()) {
        if (!why.isEmpty())
            VX_LOG(QStringLiteral("[PcmDecode] cannot decode %1: %2").arg(path, why));
        return QByteArray();
    }
    PcmDecode::applyGain(pcm, gain);
    return pcm;
}

namespace PcmDecode {

bool decodable(const QString& path)
{
    QString why;
    if (FileCheck::isRegularFile(path, &why))
        return true;
    VX_LOG(QStringLiteral("[PcmDecode] cannot decode %1: %2").arg(path, why));
    return false;
}

qint64 rangeByteLimit(double in, double out)
{
    if (!(out > in + 0.01))
        return -1;
    const double bytes = 44100.0 * (out - in) * 4.0;
    if (!(bytes >= 1.0))
        return 0;
    // A limit inside a frame would leave half a frame at the end.
    const qint64 b = bytes >= 9.0e18 ? qint64(9.0e18) : qint64(bytes);
    return b - b % kBytesPerFrame;
}

void rangeSlice(qint64 total, double in, double out, qint64* offset, qint64* length)
{
    total = std::max<qint64>(total, 0);
    qint64 skip = 0;
    if (in > 0.001) {
        const double frames = std::round(in * kRate);
        skip = frames * kBytesPerFrame >= double(total) ? total : qint64(frames) * kBytesPerFrame;
    }
    *offset = skip;
    *length = total - skip;
    const qint64 limit = rangeByteLimit(in, out);
    if (limit >= 0)
        *length = std::min(*length, limit);
    *length -= *length % kBytesPerFrame;
}

bool hasFade(double seconds)
{
    return seconds * 1000.0 > 10.0;
}

void applyFades(QByteArray& block, double fadeIn, double fadeOut)
{
    const qint64 frames = block.size() / kBytesPerFrame;
    const double inFrames = hasFade(fadeIn) ? fadeIn * kRate : 0.0;
    const double outFrames = hasFade(fadeOut) ? fadeOut * kRate : 0.0;
    if (frames <= 0 || (inFrames <= 0.0 && outFrames <= 0.0))
        return;
    auto* s = reinterpret_cast<qint16*>(block.data());
    auto scale = [s](qint64 f, double g) {
        s[2 * f] = qint16(std::trunc(float(s[2 * f]) * float(g)));
        s[2 * f + 1] = qint16(std::trunc(float(s[2 * f + 1]) * float(g)));
    };
    auto inGain = [inFrames](qint64 f) { return double(f) < inFrames ? double(f) / inFrames : 1.0; };
    // Only the frames inside a fade are touched: the fade-in up to where the
    // fade-out begins, then the fade-out (under the fade-in where they meet).
    const qint64 outStart = std::max<qint64>(0, frames - qint64(std::ceil(outFrames)));
    const qint64 inEnd = std::min<qint64>(outStart, qint64(std::ceil(inFrames)));
    for (qint64 f = 0; f < inEnd; ++f)
        scale(f, inGain(f));
    for (qint64 f = outStart; f < frames; ++f)
        scale(f, std::min(inGain(f), std::min(1.0, double(frames - f) / outFrames)));
}

void applyGain(QByteArray& block, qsizetype offset, qsizetype length, float gain)
{
    if (std::fabs(gain - 1.0f) <= 0.01f || block.isEmpty())
        return;
    if (offset < 0 || offset >= block.size())
        return;
    length = std::min(length, block.size() - offset);
    const qsizetype n = length / 2;
    char* base = block.data() + offset;     // detaches a shared block first
    for (qsizetype i = 0; i < n; ++i) {
        qint16 s;
        memcpy(&s, base + 2 * i, 2);
        const float v = float(s) * gain;
        // Truncation toward zero, then the clamp; NaN gains end at 0.
        qint32 r;
        if (!(v == v))
            r = 0;
        else if (v >= 32767.0f)
            r = 32767;
        else if (v <= -32768.0f)
            r = -32768;
        else
            r = qint32(v);
        const qint16 o = qint16(r);
        memcpy(base + 2 * i, &o, 2);
    }
}

QString cacheKey(const QString& path, double in, double out, float gain)
{
    return path + QLatin1Char('|') + QString::number(in, 'f', 3) + QLatin1Char('|')
        + QString::number(out, 'f', 3) + QLatin1Char('|') + QString::number(double(gain), 'f', 3);
}

bool wavHoldsNoSound(const QString& path)
{
    constexpr qint64 kMaxHeaderBytes = 64 * 1024;
    const FileCheck::Stamp stamp = FileCheck::stampOf(path);
    if (!stamp.exists() || stamp.size > kMaxHeaderBytes)
        return false;
    QByteArray image;
    if (!FileCheck::readRegularFile(path, &image) || image.size() > kMaxHeaderBytes)
        return false;
    const WavLayout l = WaveformDecoder::walkWav(image);
    // A "fmt " chunk was read (the walk set its channels); the samples, if
    // any, would start at dataOffset.
    return l.channels > 0 && (l.dataOffset < 0 || l.dataOffset >= image.size());
}

bool locateRiffSamples(const QByteArray& image, qsizetype* offset, qsizetype* length)
{
    const WavLayout l = WaveformDecoder::walkWav(image);
    if (!isCdFormat(l) || l.dataOffset < 0)
        return false;
    const qsizetype len = qsizetype(l.dataSize - l.dataSize % kBytesPerFrame);
    if (len <= 0)
        return false;
    if (offset)
        *offset = qsizetype(l.dataOffset);
    if (length)
        *length = len;
    return true;
}

static QByteArray readCdWav(const QString& path, float gain, bool withHeader)
{
    QString why;
    QByteArray image = readWholeFile(path, kMaxWavImageBytes, &why);
    if (image.isEmpty()) {
        VX_LOG(QStringLiteral("[PcmDecode] WAV fallback cannot read %1: %2")
                   .arg(path, why.isEmpty() ? QStringLiteral("empty file") : why));
        return QByteArray();
    }
    qsizetype off = 0, len = 0;
    if (!locateRiffSamples(image, &off, &len)) {
        VX_LOG(QStringLiteral("[PcmDecode] WAV fallback refuses %1: not 16-bit stereo 44100 Hz PCM").arg(path));
        return QByteArray();
    }
    applyGain(image, off, len, gain);
    if (withHeader)
        return image;
    return image.mid(off, len);
}

QByteArray readWavImage(const QString& path, float gain)
{
    return readCdWav(path, gain, true);
}

QByteArray readWavSamples(const QString& path, float gain)
{
    return readCdWav(path, gain, false);
}

QByteArray decodePcm(const QString& path, double in, double out, float gain)
{
    // Neither the decoder nor the WAV fallback may open a pipe or a device.
    if (!PcmDecode::decodable(path))
        return QByteArray();
    QByteArray pcm = decodePcmMF_stereo(path, in, out, gain);
    if (!pcm.isEmpty())
        return pcm;
    if (QFileInfo(path).suffix().toLower() != QLatin1String("wav"))
        return QByteArray();
    return readWavImage(path, gain);
}

DecodeCache::DecodeCache(int capacity, Decoder decoder, qint64 maxBytes)
    : m_capacity(std::max(1, capacity)), m_maxBytes(maxBytes), m_decoder(std::move(decoder))
{
    if (!m_decoder)
        m_decoder = &decodePcm;
}

QByteArray DecodeCache::decodeCached(const QString& path, double in, double out, float gain,
                                     FileCheck::Stamp* stamp)
{
    const QString key = cacheKey(path, in, out, gain);
    // Taken before the decode: a file that changes while it is read shows
    // another stamp at the next request, and is read again then. A block
    // of a file that cannot be seen now still holds.
    const FileCheck::Stamp now = KnownFiles::instance()->lookNow(path);
    if (stamp)
        *stamp = now;
    {
        QMutexLocker lk(&m_mx);
        auto it = m_blocks.constFind(key);
        if (it != m_blocks.constEnd() && !KnownFiles::changed(it->stamp, now)) {
            if (stamp)
                *stamp = it->stamp;
            return it->block;
        }
    }
    QByteArray block = m_decoder(path, in, out, gain);
    if (block.isEmpty())
        return block;
    // Spare capacity would stay allocated for as long as the entry lives.
    if (block.capacity() > block.size())
        block.squeeze();
    QMutexLocker lk(&m_mx);
    auto it = m_blocks.constFind(key);
    if (it != m_blocks.constEnd() && it->stamp == now)
        return block;
    store(key, path, now, block);
    return block;
}

void DecodeCache::store(const QString& key, const QString& path, const FileCheck::Stamp& stamp,
                        const QByteArray& block)
{
    QStringList gone;
    for (const QString& k : std::as_const(m_order)) {
        const auto it = m_blocks.constFind(k);
        if (k == key || (it != m_blocks.constEnd() && it->path == path && !(it->stamp == stamp)))
            gone.append(k);
    }
    for (const QString& k : std::as_const(gone))
        drop(k);
    // A block larger than the bound alone is still kept, as the only one.
    while (!m_order.isEmpty() && (m_order.size() >= m_capacity || m_bytes + block.size() > m_maxBytes))
        drop(m_order.constFirst());
    m_blocks.insert(key, Entry{block, path, stamp});
    m_order.append(key);
    m_bytes += block.size();
}

void DecodeCache::drop(const QString& key)
{
    const auto it = m_blocks.constFind(key);
    if (it != m_blocks.constEnd()) {
        m_bytes -= it->block.size();
        m_blocks.erase(it);
    }
    m_order.removeOne(key);
}

QByteArray DecodeCache::decodeCachedAtIdle(const QString& path, double in, double out, float gain,
                                           FileCheck::Stamp* stamp)
{
    if (QThread* t = QThread::currentThread())
        t->setPriority(QThread::IdlePriority);
    return decodeCached(path, in, out, gain, stamp);
}

bool DecodeCache::contains(const QString& key) const
{
    QMutexLocker lk(&m_mx);
    return m_blocks.contains(key);
}

int DecodeCache::size() const
{
    QMutexLocker lk(&m_mx);
    return int(m_blocks.size());
}

qint64 DecodeCache::bytes() const
{
    QMutexLocker lk(&m_mx);
    return m_bytes;
}

QList<QString> DecodeCache::keys() const
{
    QMutexLocker lk(&m_mx);
    return m_order;
}

void DecodeCache::forget(const QString& key)
{
    QMutexLocker lk(&m_mx);
    drop(key);
}

void DecodeCache::clear()
{
    QMutexLocker lk(&m_mx);
    m_blocks.clear();
    m_order.clear();
    m_bytes = 0;
}

} // namespace PcmDecode
