#include "PcmPlayer.h"

#include "DrumEngine.h"
#include "MultiVoiceStream.h"
#include "PcmDecode.h"

#include <QAudioSink>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {
PcmPlayer* s_instance = nullptr;
}

PcmPlayer* PcmPlayer::instance()
{
    if (!s_instance)
        s_instance = new PcmPlayer(QCoreApplication::instance());
    return s_instance;
}

PcmPlayer::PcmPlayer(QObject* parent)
    : QObject(parent)
    , m_stream(new MultiVoiceStream(this))
{
}

QByteArray PcmPlayer::decode(const QString& path, double in, double out, float gain)
{
    if (!PcmDecode::decodable(path))
        return {};
    QByteArray pcm = decodePcmMF_stereo(path, in, out, gain);
    if (!pcm.isEmpty())
        return pcm;
    if (QFileInfo(path).suffix().toLower() != QLatin1String("wav"))
        return {};
    // The samples of a plain 16-bit stereo 44100 Hz WAV, header left out, cut
    // to the range the decoder would have given: a trim that starts past the
    // end gives nothing, never the whole file.
    const QByteArray all = PcmDecode::readWavSamples(path, gain);
    qint64 offset = 0;
    qint64 length = 0;
    PcmDecode::rangeSlice(all.size(), in, out, &offset, &length);
    if (length <= 0)
        return {};
    if (offset == 0 && length == all.size())
        return all;
    return all.mid(offset, length);
}

void PcmPlayer::preload(const QString& id, const QString& path, double trimIn, double trimOut, float gain,
                        double, double)
{
    if (path.isEmpty() || !PcmDecode::decodable(path))
        return;
    {
        QMutexLocker lock(&m_mx);
        auto it = m_pcm.constFind(id);
        if (it != m_pcm.constEnd() && !it->isEmpty())
            return;
    }
    if (!(trimIn == trimIn))
        trimIn = 0.0;
    // At most 5 seconds: an end at or before the start (which the decoder
    // reads as "to the end of the file") gets the 5 s window too.
    if (trimOut <= 0.0 || !(trimOut > trimIn + 0.01) || trimOut - trimIn > kMaxSeconds)
        trimOut = trimIn + kMaxSeconds;

    // Only the newest decode of an id may store its block: an older one that
    // ends later, or one for a button evicted meanwhile, is dropped.
    const quint64 token = ++m_tokenSeq;
    m_tokens.insert(id, token);
    ++m_pending;

    auto* watcher = new QFutureWatcher<QByteArray>(this);
    connect(watcher, &QFutureWatcher<QByteArray>::finished, this, [this, watcher, id, token] {
        watcher->deleteLater();
        --m_pending;
        const QByteArray block = watcher->result();
        if (m_tokens.value(id) != token)
            return;
        m_tokens.remove(id);
        if (block.isEmpty())
            return;
        {
            QMutexLocker lock(&m_mx);
            m_pcm.insert(id, block);
        }
        QMetaObject::invokeMethod(this, [this, id] { emit preloadDone(id); }, Qt::QueuedConnection);
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), &PcmPlayer::decode, path, trimIn, trimOut,
                                         gain));
}

void PcmPlayer::feedDrumEngine(const QString& id)
{
    QByteArray block;
    {
        QMutexLocker lock(&m_mx);
        block = m_pcm.value(id);
    }
    if (block.isEmpty())
        return;
    // The samples already carry the button's gain.
    DrumEngine::instance()->preload(id, block, 1.0f);
}

bool PcmPlayer::isReady(const QString& id) const
{
    QMutexLocker lock(&m_mx);
    auto it = m_pcm.constFind(id);
    return it != m_pcm.constEnd() && !it->isEmpty();
}

bool PcmPlayer::isPlaying(const QString& id)
{
    return !id.isEmpty() && id == m_lastTriggered && m_stream->isAnyActive();
}

bool PcmPlayer::trigger(const QString& id)
{
    QByteArray block;
    {
        QMutexLocker lock(&m_mx);
        auto it = m_pcm.constFind(id);
        if (it == m_pcm.constEnd())
            return false;
        block = *it;
    }
    m_lastTriggered = id;
    m_stream->trigger(block, 0);
    return true;
}

void PcmPlayer::stopAll()
{
    m_stream->stopAll();
}

void PcmPlayer::clearAll()
{
    m_stream->stopAll();
    m_tokens.clear();
    QMutexLocker lock(&m_mx);
    m_pcm.clear();
}

void PcmPlayer::evictButton(const QString& id)
{
    m_tokens.remove(id);
    QMutexLocker lock(&m_mx);
    m_pcm.remove(id);
}

void PcmPlayer::setVolume(float v)
{
    m_volume = v;
    if (m_sink)
        m_sink->setVolume(v);
}
