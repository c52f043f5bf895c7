#include "PcmDecode.h"

#include <QThread>

QByteArray decodePcmMF_stereo(const QString&, double, double, float) { return {}; }

namespace PcmDecode {
QByteArray decodePcm(const QString&, double, double, float) { return {}; }
QByteArray readWavImage(const QString&, float) { return {}; }
QByteArray readWavSamples(const QString&, float) { return {}; }
bool locateRiffSamples(const QByteArray&, qsizetype*, qsizetype*) { return false; }
qint64 rangeByteLimit(double in, double out)
{
    if (!(out > in + 0.01))
        return -1;
    const qint64 b = qint64(44100.0 * (out - in) * 4.0);
    return b - b % 4;
}
void applyGain(QByteArray&, qsizetype, qsizetype, float) {}
QString cacheKey(const QString& path, double in, double out, float gain)
{
    return path + QLatin1Char('|') + QString::number(in, 'f', 3) + QLatin1Char('|')
        + QString::number(out, 'f', 3) + QLatin1Char('|') + QString::number(double(gain), 'f', 3);
}
DecodeCache::DecodeCache(int capacity, Decoder decoder) : m_capacity(capacity), m_decoder(std::move(decoder)) {}
QByteArray DecodeCache::decodeCached(const QString&, double, double, float) { return {}; }
QByteArray DecodeCache::decodeCachedAtIdle(const QString& p, double i, double o, float g) { return decodeCached(p, i, o, g); }
bool DecodeCache::contains(const QString& key) const { QMutexLocker lk(&m_mx); return m_blocks.contains(key); }
int DecodeCache::size() const { QMutexLocker lk(&m_mx); return int(m_blocks.size()); }
QList<QString> DecodeCache::keys() const { QMutexLocker lk(&m_mx); return m_order; }
void DecodeCache::clear() { QMutexLocker lk(&m_mx); m_blocks.clear(); m_order.clear(); }
}
