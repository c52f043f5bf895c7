#include "DrumEngine.h"

#include "DrumStream.h"
#include "OpLog.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QThread>

#include <exception>

namespace {
DrumEngine* s_instance = nullptr;
std::mutex s_instanceMx;
} // namespace

// The render output: endpoint, render thread and the flags shared with it.
struct DrumEngine::Output
{
};

DrumEngine* DrumEngine::instance()
{
    if (!s_instance) {
        std::lock_guard<std::mutex> lock(s_instanceMx);
        if (!s_instance)
            s_instance = new DrumEngine(QCoreApplication::instance());
    }
    return s_instance;
}

DrumEngine::DrumEngine(QObject* parent)
    : QObject(parent)
    , m_generation(std::make_shared<std::atomic<int>>(0))
{
    m_stream = new DrumStream(this);
    VX_LOG(QStringLiteral("[DrumEngine] Constructor complete - call initialize() to start audio"));
}

DrumEngine::~DrumEngine()
{
    VX_LOG(QStringLiteral("[DrumEngine] Destructor: starting cleanup"));
    m_generation->fetch_add(1);
    m_stream->setSilenced(true);
    shutdownEndpoint();
    dropSink();
    waitForPullToEnd(100);
    m_stream->stopAll();
    VX_LOG(QStringLiteral("[DrumEngine] Destructor: cleanup complete"));
}

void DrumEngine::initialize()
{
    std::call_once(m_initOnce, [this] { doInit(); });
}

void DrumEngine::doInit()
{
    VX_LOG(QStringLiteral("[DrumEngine] doInit: synchronous startup begin"));
    m_generation->fetch_add(1);
    m_stream->setSilenced(false);
    shutdownEndpoint();
    initOutputs();
    VX_LOG(QStringLiteral("[DrumEngine] doInit: complete"));
}

void DrumEngine::initOutputs()
{
    VX_LOG(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: begin"));
    m_generation->fetch_add(1);
    shutdownEndpoint();
    m_outputKind = OutputKind::None;

    VX_LOG(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: attempting WASAPI"));
    bool ok = false;
    try {
        ok = initEndpoint();
    } catch (...) {
        VX_LOG(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: WASAPI exception, trying Qt fallback"));
        ok = false;
    }
    if (ok) {
        VX_LOG(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: WASAPI OK"));
        m_outputKind = OutputKind::Endpoint;
        return;
    }

    VX_LOG(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: WASAPI failed, falling back to Qt"));
    m_stream->setSilenced(false);
    if (initQtSink()) {
        m_outputKind = OutputKind::QtSink;
        return;
    }
    if (initNullOutput())
        m_outputKind = OutputKind::Null;
}

bool DrumEngine::initEndpoint()
{
    return false;
}

bool DrumEngine::initNullOutput()
{
    return false;
}

void DrumEngine::shutdownEndpoint()
{
}

bool DrumEngine::isRenderThreadRunning() const
{
    return false;
}

void DrumEngine::dropSink()
{
    if (!m_sink)
        return;
    try {
        m_sink->stop();
    } catch (...) {
    }
    try {
        m_sink->reset();
    } catch (...) {
    }
    delete m_sink;
    m_sink = nullptr;
}

bool DrumEngine::initQtSink()
{
    dropSink();
    try {
        QAudioFormat fmt;
        fmt.setSampleRate(kSampleRate);
        fmt.setChannelCount(2);
        fmt.setSampleFormat(QAudioFormat::Int16);
        const QAudioDevice dev = m_device.isNull() ? QMediaDevices::defaultAudioOutput() : m_device;
        if (dev.isNull()) {
            VX_LOG(QStringLiteral("[DrumEngine] Qt audio: no output device"));
            return false;
        }
        m_sink = new QAudioSink(dev, fmt, this);
        m_sink->setBufferSize(2048);
        m_sink->setVolume(m_masterVolume);
        if (m_stream && !m_stream->isSilenced()) {
            m_sink->start(m_stream);
            if (m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
                VX_LOG(QStringLiteral("[DrumEngine] Qt audio sink failed to start (error %1)")
                           .arg(int(m_sink->error())));
                dropSink();
                return false;
            }
            VX_LOG(QStringLiteral("[DrumEngine] Qt audio playback started successfully"));
        }
        return true;
    } catch (const std::exception& e) {
        VX_LOG(QStringLiteral("[DrumEngine] Exception during Qt init: %1").arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        VX_LOG(QStringLiteral("[DrumEngine] Unknown exception during Qt sink init"));
    }
    dropSink();
    return false;
}

void DrumEngine::waitForPullToEnd(int maxMs)
{
    for (int i = 0; i < maxMs && m_stream->isReading(); ++i)
        QThread::msleep(1);
}

void DrumEngine::reinitialize()
{
    bool expected = false;
    if (!m_reinitializing.compare_exchange_strong(expected, true)) {
        VX_LOG(QStringLiteral("[DrumEngine] reinitialize: already in progress, skipping"));
        return;
    }
    VX_LOG(QStringLiteral("[DrumEngine] reinitialize: begin (device change or hot-plug)"));
    m_stream->setSilenced(true);
    m_generation->fetch_add(1);
    dropSink();
    shutdownEndpoint();
    waitForPullToEnd(50);
    m_stream->stopAll();
    m_stream->setSilenced(false);
    try {
        doInit();
    } catch (...) {
        VX_LOG(QStringLiteral("[DrumEngine] reinitialize: exception during init"));
    }
    m_reinitializing.store(false);
    VX_LOG(QStringLiteral("[DrumEngine] reinitialize: complete"));
}

void DrumEngine::setDevice(const QAudioDevice& device)
{
    m_device = device;
    reinitialize();
}

void DrumEngine::setVolume(float v)
{
    m_masterVolume = v < 0.0f ? 0.0f : (v >= 1.0f ? 1.0f : v);
    if (m_sink)
        m_sink->setVolume(m_masterVolume);
}

void DrumEngine::preload(const QString& id, const QByteArray& pcm, float volume)
{
    if (id.isEmpty() || pcm.isEmpty())
        return;
    VX_LOG(QStringLiteral("[DrumEngine] preload: %1 size=%2 vol=%3").arg(id).arg(pcm.size()).arg(volume));

    QStringList evicted;
    {
        QMutexLocker lock(&m_cacheMx);
        // Replacing a pad: its old bytes leave the total before the limits are checked.
        if (auto it = m_pcm.find(id); it != m_pcm.end()) {
            m_byteTotal -= it->size();
            m_pcm.erase(it);
            m_order.removeOne(id);
        }
        const qint64 incoming = pcm.size();
        if (m_byteTotal.load() + incoming > kCacheHighBytes) {
            while (!m_order.isEmpty() && m_byteTotal.load() + incoming > kCacheLowBytes) {
                const QString oldest = m_order.takeFirst();
                m_byteTotal -= m_pcm.value(oldest).size();
                m_pcm.remove(oldest);
                evicted << oldest;
            }
        }
        m_pcm.insert(id, pcm);
        m_order.append(id);
        m_byteTotal += incoming;
        m_volumes.insert(id, volume);
    }
    QMutexLocker fast(&m_fastMx);
    for (const QString& old : evicted)
        m_fast.remove(old);
    m_fast.insert(id, FastEntry{pcm, volume});
}

void DrumEngine::triggerDirect(const QString& id)
{
    triggerDirect(id, 1.0f);
}

void DrumEngine::triggerDirect(const QString& id, float volume)
{
    if (id.isEmpty() || !m_stream || m_stream->isSilenced())
        return;
    QByteArray pcm;
    float gain = 1.0f;
    bool found = false;
    {
        QMutexLocker fast(&m_fastMx);
        if (auto it = m_fast.constFind(id); it != m_fast.constEnd()) {
            pcm = it->pcm;
            gain = it->volume;
            found = true;
        }
    }
    if (!found) {
        QMutexLocker lock(&m_cacheMx);
        auto it = m_pcm.constFind(id);
        if (it == m_pcm.constEnd())
            return;
        pcm = *it;
        gain = m_volumes.value(id, 1.0f);
    }
    if (pcm.isEmpty()) {
        VX_LOG(QStringLiteral("[DrumEngine] triggerDirect: empty buffer for %1").arg(id));
        return;
    }
    float v = volume * (gain * m_masterVolume);
    if (!(v >= 0.0f && v <= 2.0f)) {
        VX_LOG(QStringLiteral("[DrumEngine] WARNING: volume out of range: %1").arg(v));
        v = v > 2.0f ? 2.0f : 0.0f; // a NaN becomes silence
    }
    m_stream->triggerCopy(std::move(pcm), v);
}

void DrumEngine::stopById(const QString& id)
{
    if (id.isEmpty() || !m_stream)
        return;
    QMutexLocker lock(&m_cacheMx);
    if (auto it = m_pcm.constFind(id); it != m_pcm.constEnd())
        m_stream->stopByPcmData(it->constData());
}

void DrumEngine::fadeStop(const QString& id, double ms)
{
    if (id.isEmpty() || !m_stream || !(ms > 0.0))
        return;
    QMutexLocker lock(&m_cacheMx);
    auto it = m_pcm.constFind(id);
    if (it == m_pcm.constEnd())
        return;
    const double frames = double(kSampleRate) * ms / 1000.0;
    const double step = frames > 0.0 ? 1.0 / frames : 1.0;
    m_stream->fadeStopByPcmData(it->constData(), step);
}

void DrumEngine::setVolumeForId(const QString& id, float volume)
{
    if (id.isEmpty() || !m_stream)
        return;
    volume = volume < 0.0f ? 0.0f : (volume > 2.0f ? 2.0f : volume);
    QByteArray pcm;
    {
        QMutexLocker lock(&m_cacheMx);
        auto it = m_pcm.constFind(id);
        if (it == m_pcm.constEnd())
            return;
        m_volumes.insert(id, volume);
        pcm = *it;
    }
    if (!pcm.isEmpty())
        m_stream->setVolumeByPcmData(pcm.constData(), volume * m_masterVolume);
}

bool DrumEngine::isReady(const QString& id) const
{
    if (id.isEmpty())
        return false;
    QMutexLocker lock(&m_cacheMx);
    auto it = m_pcm.constFind(id);
    return it != m_pcm.constEnd() && !it->isEmpty();
}

bool DrumEngine::isPlaying(const QString& id) const
{
    if (id.isEmpty() || !m_stream)
        return false;
    QMutexLocker lock(&m_cacheMx);
    auto it = m_pcm.constFind(id);
    return it != m_pcm.constEnd() && m_stream->isVoiceActive(it->constData());
}

void DrumEngine::evictButton(const QString& id)
{
    if (id.isEmpty())
        return;
    {
        QMutexLocker lock(&m_cacheMx);
        if (auto it = m_pcm.find(id); it != m_pcm.end()) {
            m_byteTotal -= it->size();
            m_pcm.erase(it);
            m_order.removeOne(id);
        }
        m_volumes.remove(id);
    }
    QMutexLocker fast(&m_fastMx);
    m_fast.remove(id);
}

void DrumEngine::clearAll()
{
    m_stream->stopAll();
    {
        QMutexLocker lock(&m_cacheMx);
        m_pcm.clear();
        m_volumes.clear();
        m_order.clear();
        m_byteTotal = 0;
    }
    QMutexLocker fast(&m_fastMx);
    m_fast.clear();
}

void DrumEngine::stopAll()
{
    if (m_stream)
        m_stream->stopAll();
}

QStringList DrumEngine::cachedIds() const
{
    QMutexLocker lock(&m_cacheMx);
    return m_order;
}
