#include "DrumEngine.h"

#include "AudioOutput.h"
#include "DrumStream.h"
#include "OpLog.h"
#include "RenderThread.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QCoreApplication>
#include <QMediaDevices>
#include <QThread>

#include <exception>

namespace {
std::atomic<DrumEngine*> s_instance{nullptr};
std::mutex s_instanceMx;
} // namespace

// The render output: endpoint, render thread and the flag shared with it.
struct DrumEngine::Output
{
    std::shared_ptr<AudioOutput> out;
    std::shared_ptr<std::atomic<bool>> running;
    RenderThread thread;
};

DrumEngine* DrumEngine::instance()
{
    DrumEngine* e = s_instance.load(std::memory_order_acquire);
    if (!e) {
        std::lock_guard<std::mutex> lock(s_instanceMx);
        e = s_instance.load(std::memory_order_relaxed);
        if (!e) {
            e = new DrumEngine(QCoreApplication::instance());
            s_instance.store(e, std::memory_order_release);
        }
    }
    return e;
}

DrumEngine::DrumEngine(QObject* parent)
    : QObject(parent)
    , m_generation(std::make_shared<std::atomic<int>>(0))
{
    // Shared with the render thread, which may outlive a stop request.
    m_stream = std::make_shared<DrumStream>();
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
        m_outputKind = output()->backend() == AudioOutput::Backend::Null ? OutputKind::Null : OutputKind::Endpoint;
        return;
    }

    VX_LOG(QStringLiteral("[DrumEngine] initWasapiOrQtFallback: WASAPI failed, falling back to Qt"));
    m_stream->setSilenced(false);
    if (m_qtSinkEnabled && initQtSink()) {
        m_outputKind = OutputKind::QtSink;
        return;
    }
    if (initNullOutput())
        m_outputKind = OutputKind::Null;
}

namespace {
AudioOutputConfig drumConfig(SampleFormat format)
{
    AudioOutputConfig cfg;
    cfg.deviceId.clear(); // the endpoint always plays on the default output
    cfg.mode = ShareMode::Shared;
    cfg.format = format;
    cfg.channels = 2;
    cfg.rate = DrumEngine::kSampleRate;
    cfg.bufferFrames = DrumEngine::kSampleRate * DrumEngine::kBufferMs / 1000;
    cfg.periodFrames = DrumEngine::kSampleRate / 100; // 10 ms wake-ups
    return cfg;
}
} // namespace

std::unique_ptr<AudioOutput> DrumEngine::openOutput(int backend, const AudioOutputConfig& cfg, QString* error)
{
    std::unique_ptr<AudioOutput> out;
    if (m_factory)
        out = m_factory(backend, cfg);
    else
        out = AudioOutput::openBackend(AudioOutput::Backend(backend), cfg, error);
    if (out && (out->channels() != 2 || out->rate() != kSampleRate)) {
        if (error)
            *error = QStringLiteral("endpoint opened as %1 ch %2 Hz").arg(out->channels()).arg(out->rate());
        out.reset();
    }
    return out;
}

bool DrumEngine::initEndpoint()
{
    const int backend = int(AudioOutput::preferredBackend());
    QString error;
    // 16-bit stereo 44100 Hz with the endpoint's own conversion; when that
    // does not open, float at the same rate, converted in the render pass. The
    // mix is never written as 16-bit frames into a float stream.
    std::unique_ptr<AudioOutput> out = openOutput(backend, drumConfig(SampleFormat::S16), &error);
    if (!out) {
        VX_LOG(QStringLiteral("[DrumEngine] endpoint refused 16-bit: %1").arg(error));
        out = openOutput(backend, drumConfig(SampleFormat::Float32), &error);
    }
    if (!out) {
        VX_LOG(QStringLiteral("[DrumEngine] endpoint failed: %1").arg(error));
        return false;
    }
    // A silent output is only the last resort, after the Qt sink, unless it
    // was asked for by name.
    if (out->backend() == AudioOutput::Backend::Null && !AudioOutput::backendForced())
        return false;
    return startRenderOn(std::move(out));
}

bool DrumEngine::initNullOutput()
{
    QString error;
    std::unique_ptr<AudioOutput> out =
        openOutput(int(AudioOutput::Backend::Null), drumConfig(SampleFormat::S16), &error);
    if (!out) {
        VX_LOG(QStringLiteral("[DrumEngine] null output failed: %1").arg(error));
        return false;
    }
    if (!startRenderOn(std::move(out)))
        return false;
    VX_LOG(QStringLiteral("[DrumEngine] no sound output: pads run on the silent null output"));
    return true;
}

bool DrumEngine::startRenderOn(std::unique_ptr<AudioOutput> endpoint)
{
    std::shared_ptr<AudioOutput> out(std::move(endpoint));
    const int frames = out->bufferFrames();
    // Start from a buffer of silence.
    if (out->getBuffer(frames))
        out->releaseBuffer(frames, true);
    if (!out->start()) {
        VX_LOG(QStringLiteral("[DrumEngine] endpoint did not start"));
        return false;
    }

    auto o = std::make_unique<Output>();
    o->out = out;
    o->running = std::make_shared<std::atomic<bool>>(true);

    RenderContext ctx;
    ctx.out = out;
    ctx.stream = m_stream;
    ctx.running = o->running;
    ctx.generation = m_generation;
    ctx.startGeneration = m_generation->load();
    ctx.bufferFrames = frames;
    if (out->config().format == SampleFormat::Float32)
        ctx.scratch.resize(size_t(frames) * 2);

    if (!o->thread.start(QStringLiteral("tr-drum"), [ctx = std::move(ctx)]() mutable { renderLoop(std::move(ctx)); },
                         RenderThread::Priority::ProAudio)) {
        o->running->store(false);
        out->stop();
        VX_LOG(QStringLiteral("[DrumEngine] render thread could not be created"));
        return false;
    }
    m_out = std::move(o);
    VX_LOG(QStringLiteral("[DrumEngine] WASAPI shared started 44100Hz bufFrames=%1").arg(frames));
    return true;
}

DrumEngine::Pass DrumEngine::renderPass(RenderContext& c)
{
    if (!c.running->load(std::memory_order_acquire))
        return Pass::Leave;
    const int queued = c.out->padding();
    if (queued < 0)
        return Pass::Leave; // the device is gone
    if (queued >= c.bufferFrames)
        return Pass::Continue;
    const int n = c.bufferFrames - queued;
    void* buf = c.out->getBuffer(n);
    if (!buf)
        return Pass::Leave;
    if (c.generation->load(std::memory_order_acquire) != c.startGeneration) {
        // A newer output is on its way: hand over silence and end.
        c.out->releaseBuffer(n, true);
        return Pass::Leave;
    }
    DrumStream* s = c.stream.get();
    if (!s || s->isSilenced())
        return c.out->releaseBuffer(n, true) ? Pass::Continue : Pass::Leave;

    if (c.out->config().format == SampleFormat::Float32) {
        qint16* mixBuf = c.scratch.data();
        if (c.scratch.size() < size_t(n) * 2) {
            c.out->releaseBuffer(n, true);
            return Pass::Leave;
        }
        s->mix(reinterpret_cast<char*>(mixBuf), qint64(n) * DrumStream::kFrameBytes);
        float* f = static_cast<float*>(buf);
        for (int i = 0; i < n * 2; ++i)
            f[i] = float(mixBuf[i]) * (1.0f / 32768.0f);
    } else {
        s->mix(static_cast<char*>(buf), qint64(n) * DrumStream::kFrameBytes);
    }
    return c.out->releaseBuffer(n, false) ? Pass::Continue : Pass::Leave;
}

void DrumEngine::renderLoop(RenderContext ctx)
{
    while (ctx.running->load(std::memory_order_acquire)) {
        if (ctx.out->waitForPeriod(100) == AudioOutput::WaitResult::Timeout)
            continue;
        if (renderPass(ctx) == Pass::Leave)
            break;
    }
    ctx.out->stop();
    if (ctx.out->isDeviceLost())
        VX_LOG(QStringLiteral("[DrumEngine] render thread ended: output device lost; silent until re-initialised"));
}

void DrumEngine::shutdownEndpoint()
{
    if (m_out) {
        m_out->running->store(false);
        m_out->out->wake();
        if (m_out->thread.isStarted() && !m_out->thread.join(2000)) {
            // No thread is ever killed: it keeps its own references to the
            // endpoint and the stream and ends at its next wake-up.
            VX_LOG(QStringLiteral("[DrumEngine] WASAPI thread timeout, detaching (it ends at its next wake-up)"));
            m_out->thread.detach(QStringLiteral("drum render thread did not answer within 2000 ms"));
        } else {
            m_out->out->stop();
        }
        m_out.reset();
    }
    VX_LOG(QStringLiteral("[DrumEngine] WASAPI shutdown complete"));
}

bool DrumEngine::isRenderThreadRunning() const
{
    return m_out && m_out->thread.isRunning();
}

AudioOutput* DrumEngine::output() const
{
    return m_out ? m_out->out.get() : nullptr;
}

quint64 DrumEngine::underrunCount() const
{
    return m_out ? m_out->out->underrunCount() : 0;
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
        // Qt's PulseAudio sink (Qt 6.4) stalls without a word on buffers of a
        // few kilobytes (2048 bytes never pulls at all): ask for one it keeps up with.
        m_sink->setBufferSize(kQtSinkBufferBytes);
        m_sink->setVolume(m_masterVolume);
        if (m_stream && !m_stream->isSilenced()) {
            m_sink->start(m_stream.get());
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
    m_masterVolume = !(v > 0.0f) ? 0.0f : (v >= 1.0f ? 1.0f : v); // a NaN is silence
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
    volume = !(volume > 0.0f) ? 0.0f : (volume > 2.0f ? 2.0f : volume); // a NaN is silence
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
