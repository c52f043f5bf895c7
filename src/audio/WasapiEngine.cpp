#include "WasapiEngine.h"
#include "StandingThreads.h"

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "AudioDevices.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PcmDecode.h"
#include "RenderThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
WasapiEngine* s_instance = nullptr;

constexpr int kDefaultBufferFrames = 128;
// Shared streams wake every 5 ms and keep four periods queued: normal
// wake-ups stay far below the stall threshold.
constexpr int kSharedPeriodMs = 5;
constexpr int kSharedPeriods = 4;

bool exclusiveRequested(const QString& engine)
{
    return engine == QLatin1String("wasapi_exclusive") || engine == QLatin1String("asio")
           || engine == QLatin1String("wdm_ks") || engine.startsWith(QLatin1String("asio_"));
}
bool isHardwareName(const QString& alsaName)
{
    return alsaName.startsWith(QLatin1String("hw:"));
}

} // namespace

struct WasapiEngine::Thread
{
    RenderThread thread;
    // Wakes the render thread while it rests on a lost device.
    std::shared_ptr<WakeEvent> park;
};

WasapiEngine* WasapiEngine::instance()
{
    if (!s_instance)
        s_instance = new WasapiEngine(QCoreApplication::instance());
    return s_instance;
}

WasapiEngine::WasapiEngine(QObject* parent)
    : QObject(parent)
    , m_bank(std::make_shared<VoiceBank>())
{
}

WasapiEngine::~WasapiEngine()
{
    // A destroyed engine leaves no render thread behind.
    stopThread();
}

bool WasapiEngine::fail(const QString& reason)
{
    VX_LOG(QStringLiteral("[WASAPI] init failed: %1").arg(reason));
    emit initFailed(reason);
    return false;
}

std::unique_ptr<AudioOutput> WasapiEngine::openOutput(AudioOutput::Backend backend, const AudioOutputConfig& cfg,
                                                      QString* error, AudioOutputConfig* closest)
{
    if (m_factory)
        return m_factory(backend, cfg);
    return AudioOutput::openBackend(backend, cfg, error, closest);
}

bool WasapiEngine::init(const QString& deviceId)
{
    if (m_out || m_thread)
        shutdown();
    m_deviceId = deviceId;

    AppSettings s;
    if (!s.contains(QStringLiteral("audio/engine")))
        s.setValue(QStringLiteral("audio/engine"), QStringLiteral("wasapi_shared"));
    const QString engine = SettingsKeys::readString(SettingsKeys::AudioEngine, QStringLiteral("wasapi_shared"));
    // 16 to 4096 frames; anything else stored reads as the default.
    const int buffer = SettingsKeys::readInt(SettingsKeys::AudioBuffer, kDefaultBufferFrames);
    const bool wantExclusive = exclusiveRequested(engine);

    const QByteArray devId = deviceId.toUtf8();
    int rate = m_factory ? 48000 : AudioOutput::mixRate(devId);
    if (rate < 1)
        rate = 48000;
    s.setValue(QStringLiteral("audio/format_rate"), rate);

    AudioOutputConfig cfg;
    cfg.deviceId = devId;
    cfg.format = SampleFormat::Float32;
    cfg.channels = 2;
    cfg.rate = rate;

    const AudioOutput::Backend preferred = AudioOutput::preferredBackend();
    std::unique_ptr<AudioOutput> out;
    bool exclusive = false;
    if (wantExclusive) {
        AudioOutputConfig ex = cfg;
        ex.mode = ShareMode::Exclusive;
        ex.periodFrames = buffer;
        ex.bufferFrames = buffer * 2;
        AudioOutputConfig closest;
        closest.rate = 0; // set only by a device that names what it takes
        QString error;
        const bool onHardware = !m_factory && preferred == AudioOutput::Backend::Alsa;
        if (onHardware) {
            // Exclusive streams go straight to the card the id names (the
            // default card for the default output), never to another one.
            ex.deviceId = AudioDevices::hardwareNameForId(devId).toUtf8();
            if (ex.deviceId.isEmpty())
                error = devId.isEmpty() ? QStringLiteral("no hardware output device")
                                        : QStringLiteral("%1 names no hardware output device")
                                              .arg(QString::fromUtf8(devId));
        }
        if (!onHardware || !ex.deviceId.isEmpty())
            out = openOutput(preferred, ex, &error, &closest);
        if (!out && closest.rate > 0 && (closest.rate != ex.rate || closest.format != ex.format
                                         || closest.channels != ex.channels)
            && closest.channels == 2) {
            // The device named the nearest format it takes: use that.
            closest.deviceId = ex.deviceId;
            closest.mode = ShareMode::Exclusive;
            out = openOutput(preferred, closest, &error, nullptr);
        }
        // A card held by a sound server does not open; a stream that ended up
        // anywhere but on the card is no exclusive stream either.
        if (out && onHardware && !isHardwareName(out->deviceName())) {
            error = QStringLiteral("%1 is held by another program; %2 opened instead")
                        .arg(QString::fromUtf8(ex.deviceId), out->deviceName());
            out.reset();
        }
        if (out) {
            exclusive = true;
        } else {
            qWarning("[WASAPI] Exclusive failed %s", qPrintable(error));
            VX_LOG(QStringLiteral("[WASAPI] Exclusive failed %1").arg(error));
        }
    }
    if (!out) {
        AudioOutputConfig sh = cfg;
        sh.mode = ShareMode::Shared;
        sh.periodFrames = std::max(16, rate * kSharedPeriodMs / 1000);
        sh.bufferFrames = sh.periodFrames * kSharedPeriods;
        QString error;
        if (m_factory)
            out = m_factory(preferred, sh);
        else
            out = AudioOutput::open(sh, &error); // the null output when no device opens
        if (!out) {
            // The stream in 16-bit; the render pass converts the float mix.
            sh.format = SampleFormat::S16;
            out = m_factory ? m_factory(preferred, sh) : AudioOutput::open(sh, &error);
        }
        if (!out)
            return fail(QStringLiteral("Shared init failed"));
    }
    if (out->channels() != 2)
        return fail(QStringLiteral("Shared init failed"));

    m_exclusive = exclusive;
    m_engineName = engine;
    m_driverName = out->deviceName();
    m_sampleRate = out->rate();
    m_bufferFrames = out->bufferFrames();
    m_bufferMs = int(std::floor(double(m_bufferFrames) * 1000.0 / m_sampleRate + 0.5));

    std::shared_ptr<AudioOutput> shared(std::move(out));
    if (shared->getBuffer(m_bufferFrames))
        shared->releaseBuffer(m_bufferFrames, true);
    shared->start();

    auto running = std::make_shared<std::atomic<bool>>(true);
    auto th = std::make_unique<Thread>();
    th->park = std::make_shared<WakeEvent>();

    RenderContext ctx;
    ctx.out = shared;
    ctx.bank = m_bank;
    ctx.running = running;
    ctx.bufferFrames = m_bufferFrames;
    ctx.lastWakeNs = MonoClock::ns();
    ctx.mix.assign(size_t(kMaxPassFrames) * 2, 0.0f);
    ctx.idles = shared->backend() == AudioOutput::Backend::Alsa;
    ctx.park = th->park;
    if (!th->thread.start(QStringLiteral("tr-wasapi"),
                          [ctx = std::move(ctx)]() mutable {
                              RenderThread::requestRealtimeProcessClass();
                              renderLoop(std::move(ctx));
                          },
                          RenderThread::Priority::ProAudio)) {
        shared->stop();
        return fail(QStringLiteral("render thread"));
    }
    m_out = shared;
    m_running = running;
    m_thread = std::move(th);
    m_active.store(true);
    VX_LOG(QStringLiteral("[WASAPI] %1 stream on %2: %3 Hz, %4 frames (%5 ms)")
               .arg(exclusive ? QStringLiteral("exclusive") : QStringLiteral("shared"), m_driverName)
               .arg(m_sampleRate)
               .arg(m_bufferFrames)
               .arg(m_bufferMs));
    return true;
}

// Stopping and closing an output can wait on the sound server (ALSA's
// PulseAudio plug-in waits for the server's answer, for ever while it is
// stopped): the output is stopped, and let go for the last time, on a
// standing thread of its own. Only when none can be had is it done here.
void WasapiEngine::stopOffThisThread(std::shared_ptr<AudioOutput> out)
{
    static StandingThreads* const closers = new StandingThreads(QStringLiteral("tr-wasapi-end"));
    // The one reference travels in a box, so that no copy of it is let go here.
    auto* box = new std::shared_ptr<AudioOutput>(std::move(out));
    const auto stopAndRelease = [box] {
        (*box)->stop();
        delete box;
    };
    if (!closers->run(stopAndRelease))
        stopAndRelease();
}

void WasapiEngine::stopThread()
{
    m_active.store(false);
    if (m_running)
        m_running->store(false);
    if (m_out)
        m_out->wake();
    if (m_thread) {
        if (m_thread->park)
            m_thread->park->set();
        if (m_thread->thread.isStarted() && !m_thread->thread.join(2000)) {
            // Never killed: the thread holds its own references and ends at
            // its next wake-up.
            VX_LOG(QStringLiteral("[WASAPI] render thread did not end within 2000 ms; detached"));
            m_thread->thread.detach(QStringLiteral("float render thread did not answer within 2000 ms"));
        } else if (m_out) {
            stopOffThisThread(std::exchange(m_out, nullptr));
        }
        m_thread.reset();
    }
    m_out.reset();
    m_running.reset();
}

void WasapiEngine::shutdown()
{
    stopThread();
    m_deviceId.clear();
}

bool WasapiEngine::isReady(const QString& id) const
{
    QMutexLocker lock(&m_cacheMx);
    auto it = m_fast.constFind(id);
    return it != m_fast.constEnd() && !it->pcm.isEmpty();
}

bool WasapiEngine::isPlaying(const QString& id) const
{
    QMutexLocker lock(&m_bank->mx);
    auto it = m_bank->map.constFind(id);
    return it != m_bank->map.constEnd() && *it >= 0 && *it < kVoices && m_bank->voices[*it].active.load();
}

void WasapiEngine::setGlobalVolume(float v)
{
    // A NaN would reach the device as NaN samples: it counts as silence.
    m_bank->globalVolume.store(!(v > 0.0f) ? 0.0f : (v >= 1.0f ? 1.0f : v));
}

void WasapiEngine::stampClickTime()
{
    m_clickWallMs = QDateTime::currentMSecsSinceEpoch();
    m_bank->clickStampNs.store(MonoClock::ns());
    // An idle render thread renders the next buffer at once.
    if (m_out)
        m_out->wake();
}

int WasapiEngine::lastLatencyUs() const
{
    return m_bank->lastLatencyUs.load();
}

void WasapiEngine::emitQueued(void (WasapiEngine::*sig)(const QString&), const QString& id)
{
    QMetaObject::invokeMethod(this, [this, sig, id] { emit(this->*sig)(id); }, Qt::QueuedConnection);
}

void WasapiEngine::cachePad(const QString& id, const QByteArray& floatPcm, float volume, bool loop)
{
    if (id.isEmpty())
        return;
    FastSlot slot;
    slot.pcm = floatPcm;
    slot.frames = floatPcm.size() / 8;
    slot.volume = volume;
    slot.loop = loop;
    QMutexLocker lock(&m_cacheMx);
    if (auto it = m_slots.find(id); it != m_slots.end())
        m_byteTotal -= it->size();
    m_slots.insert(id, floatPcm);
    m_byteTotal += floatPcm.size();
    m_fast.insert(id, slot);
}

bool WasapiEngine::trigger(const QString& id, bool restart)
{
    FastSlot pad;
    {
        QMutexLocker lock(&m_cacheMx);
        auto it = m_fast.constFind(id);
        if (it == m_fast.constEnd() || it->pcm.isEmpty())
            return false;
        pad = *it;
    }
    if (pad.pcm.isEmpty() || pad.frames < 1)
        return false;

    QByteArray released; // the buffer a voice gives up, freed after the unlock
    {
        QMutexLocker lock(&m_bank->mx);
        if (restart) {
            auto it = m_bank->map.constFind(id);
            if (it != m_bank->map.constEnd() && *it >= 0 && *it < kVoices)
                m_bank->voices[*it].active.store(false);
        }
        const int index = m_nextVoice.fetch_add(1) % kVoices;
        Voice& v = m_bank->voices[index];
        v.active.exchange(false, std::memory_order_seq_cst);
        released = std::exchange(v.pcm, pad.pcm);
        v.data = reinterpret_cast<const float*>(v.pcm.constData());
        v.frames = std::min<qint64>(pad.frames, v.pcm.size() / 8);
        v.position = 0;
        v.volume = pad.volume;
        v.loop = pad.loop;
        v.fade = 1.0;
        v.fadeStep = 0.0;
        v.active.store(true, std::memory_order_seq_cst);
        // The voice no longer plays whatever id it played before.
        for (auto it = m_bank->map.begin(); it != m_bank->map.end();) {
            if (it.value() == index && it.key() != id)
                it = m_bank->map.erase(it);
            else
                ++it;
        }
        m_bank->map.insert(id, index);
    }
    emitQueued(&WasapiEngine::started, id);
    if (m_out)
        m_out->wake(); // an idle render thread starts the voice at once
    return true;
}

void WasapiEngine::stop(const QString& id)
{
    QByteArray released;
    {
        QMutexLocker lock(&m_bank->mx);
        auto it = m_bank->map.find(id);
        if (it == m_bank->map.end())
            return;
        const int index = it.value();
        if (index >= 0 && index < kVoices) {
            Voice& v = m_bank->voices[index];
            v.active.store(false);
            v.data = nullptr;
            released = std::exchange(v.pcm, QByteArray());
        }
        m_bank->map.erase(it);
    }
    emitQueued(&WasapiEngine::stopped, id);
}

void WasapiEngine::fadeStop(const QString& id, double ms)
{
    if (id.isEmpty() || !(ms > 0.0)) {
        stop(id);
        return;
    }
    const double frames = ms / 1000.0 * (m_sampleRate > 0 ? m_sampleRate : 48000);
    const double step = frames > 1.0 ? 1.0 / frames : 1.0;
    QMutexLocker lock(&m_bank->mx);
    auto it = m_bank->map.constFind(id);
    if (it == m_bank->map.constEnd() || *it < 0 || *it >= kVoices)
        return;
    Voice& v = m_bank->voices[*it];
    if (v.active.load()) {
        v.fade = 1.0;
        v.fadeStep = step;
    }
}

void WasapiEngine::stopAll()
{
    std::array<QByteArray, kVoices> released;
    QStringList ids;
    {
        QMutexLocker lock(&m_bank->mx);
        for (int i = 0; i < kVoices; ++i) {
            Voice& v = m_bank->voices[i];
            v.active.store(false);
            v.data = nullptr;
            released[i] = std::exchange(v.pcm, QByteArray());
        }
        ids = m_bank->map.keys();
        m_bank->map.clear();
    }
    for (const QString& id : ids)
        emitQueued(&WasapiEngine::stopped, id);
}

void WasapiEngine::evictButton(const QString& id)
{
    QMutexLocker lock(&m_cacheMx);
    if (auto it = m_slots.find(id); it != m_slots.end()) {
        m_byteTotal -= it->size();
        m_slots.erase(it);
    }
    m_fast.remove(id);
}

void WasapiEngine::clearCache()
{
    QMutexLocker lock(&m_cacheMx);
    m_slots.clear();
    m_fast.clear();
    m_byteTotal = 0;
}

void WasapiEngine::pollPositions()
{
    if (!isActive())
        return;
    const qint64 rate = m_sampleRate >= 1 ? m_sampleRate : 48000;
    struct Pos
    {
        QString id;
        qint64 pos, dur;
    };
    QList<Pos> report;
    {
        QMutexLocker lock(&m_bank->mx);
        for (auto it = m_bank->map.constBegin(); it != m_bank->map.constEnd(); ++it) {
            const int i = it.value();
            if (i < 0 || i >= kVoices || !m_bank->voices[i].active.load())
                continue;
            const Voice& v = m_bank->voices[i];
            report.append({it.key(), v.position * 1000 / rate, v.frames * 1000 / rate});
        }
    }
    for (const Pos& p : report)
        QMetaObject::invokeMethod(
            this, [this, p] { emit positionChanged(p.id, p.pos, p.dur); }, Qt::QueuedConnection);
}

QString WasapiEngine::activeDriverName() const
{
    if (!isActive())
        return QStringLiteral("Not initialized");
    if (!m_exclusive)
        return QStringLiteral("WASAPI Shared");
    if (m_engineName.startsWith(QLatin1String("asio_")) || m_engineName == QLatin1String("asio"))
        return QStringLiteral("ASIO via WASAPI Exclusive (%1)").arg(m_driverName);
    return QStringLiteral("WASAPI Exclusive");
}

// ---------------------------------------------------------------------------
// Render side

float WasapiEngine::softLimit(float x)
{
    const float a = std::fabs(x);
    if (a <= 1.0f)
        return x;
    const float y = 1.0f + std::tanh(a - 1.0f);
    return x < 0.0f ? -y : y;
}

void WasapiEngine::mixVoicesLocked(VoiceBank& bank, float* mix, int n)
{
    const float global = bank.globalVolume.load(std::memory_order_relaxed);
    for (Voice& v : bank.voices) {
        if (!v.active.load(std::memory_order_acquire))
            continue;
        if (!v.data || v.frames < 1) {
            v.active.store(false);
            continue;
        }
        int k = 0;
        bool ended = false;
        while (k < n && !ended) {
            if (v.position >= v.frames) {
                if (!v.loop) {
                    ended = true;
                    break;
                }
                v.position = 0; // a loop goes on seamlessly in the same pass
            }
            const qint64 run = std::min<qint64>(v.frames - v.position, n - k);
            const float* src = v.data + v.position * 2;
            float* dst = mix + k * 2;
            qint64 j = 0;
            for (; j < run; ++j) {
                if (v.fadeStep > 0.0) {
                    v.fade -= v.fadeStep;
                    if (v.fade <= v.fadeStep * 0.5) { // a fade of 1/N ends on its Nth frame
                        v.fade = 0.0;
                        ended = true;
                        break;
                    }
                }
                const float gain = global * v.volume * float(v.fade);
                dst[j * 2] += src[j * 2] * gain;
                dst[j * 2 + 1] += src[j * 2 + 1] * gain;
            }
            v.position += j;
            k += int(j);
        }
        if (ended || (!v.loop && v.position >= v.frames))
            v.active.store(false);
    }
}

WasapiEngine::Pass WasapiEngine::renderPass(RenderContext& c, AudioOutput::WaitResult waited)
{
    const qint64 now = MonoClock::ns();
    if (waited == AudioOutput::WaitResult::Timeout) {
        c.lastWakeNs = now;
        return Pass::Continue;
    }
    const double gapMs = double(now - c.lastWakeNs) / 1e6;
    // An idle loop's late look-in is heard by no one.
    if (gapMs > kGlitchMs && !c.idle)
        VX_LOG(QStringLiteral("[GLITCH] WASAPI render loop stalled %1ms \u2014 likely audible click")
                   .arg(gapMs, 0, 'f', 1));
    c.lastWakeNs = now;
    if (!c.running->load(std::memory_order_acquire))
        return Pass::Leave;

    const int queued = c.out->padding();
    if (queued < 0)
        return Pass::Continue; // a device error skips the pass
    VoiceBank& bank = *c.bank;
    c.idle = c.idles && bank.clickStampNs.load() == 0
             && std::none_of(bank.voices.begin(), bank.voices.end(),
                             [](const Voice& v) { return v.active.load(std::memory_order_acquire); });
    if (c.idle)
        return Pass::Continue;
    const int free = c.bufferFrames - queued;
    if (free <= 0)
        return Pass::Continue;
    const int n = std::min(free, kMaxPassFrames);
    void* buf = c.out->getBuffer(n);
    if (!buf)
        return Pass::Continue;

    float* mix = c.mix.data();
    std::fill(mix, mix + size_t(n) * 2, 0.0f);

    const qint64 stamp = bank.clickStampNs.exchange(0);
    if (stamp >= 1) {
        const qint64 us = (now - stamp) / 1000;
        if (us >= 1 && us <= 499999)
            bank.lastLatencyUs.store(int(us));
    }

    {
        QMutexLocker lock(&bank.mx);
        mixVoicesLocked(bank, mix, n);
    }

    if (c.out->config().format == SampleFormat::Float32) {
        float* out = static_cast<float*>(buf);
        for (int i = 0; i < n * 2; ++i)
            out[i] = softLimit(mix[i]);
    } else {
        // A 16-bit stream: the limited mix is converted, never written raw.
        qint16* out = static_cast<qint16*>(buf);
        for (int i = 0; i < n * 2; ++i) {
            const float s = softLimit(mix[i]) * 32767.0f;
            out[i] = qint16(std::clamp(s, -32768.0f, 32767.0f));
        }
    }
    c.out->releaseBuffer(n, false);
    return c.running->load(std::memory_order_acquire) ? Pass::Continue : Pass::Leave;
}

void WasapiEngine::renderLoop(RenderContext ctx)
{
    while (ctx.running->load(std::memory_order_acquire)) {
        if (ctx.out->isDeviceLost()) {
            // Nothing to feed until the engine is initialised again; rest
            // instead of spinning on a device that answers at once.
            if (!ctx.lostLogged) {
                ctx.lostLogged = true;
                VX_LOG(QStringLiteral("[WASAPI] output device lost; silent until re-initialised"));
            }
            while (ctx.running->load(std::memory_order_acquire))
                ctx.park->wait(100);
            break;
        }
        const AudioOutput::WaitResult r =
            ctx.idle ? ctx.out->waitForWake(kIdleWaitMs) : ctx.out->waitForPeriod(100);
        if (renderPass(ctx, r) == Pass::Leave)
            break;
    }
    ctx.out->stop();
}

// ---------------------------------------------------------------------------
// WAV reader for pads

QByteArray WasapiDecoder::decode(const QString& path, double in, double out, int rate)
{
    if (rate < 1)
        rate = 48000;
    if (QFileInfo(path).suffix().compare(QLatin1String("wav"), Qt::CaseInsensitive) != 0)
        return {};
    if (!PcmDecode::decodable(path))
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray file = f.readAll();
    const qsizetype size = file.size();
    if (size <= 8)
        return {};

    int format = 1, channels = 2, sampleRate = 44100, bits = 16;
    const char* d = file.constData();
    const qsizetype searchEnd = std::min<qsizetype>(256, size - 8);
    for (qsizetype i = 0; i < searchEnd; ++i) {
        if (std::memcmp(d + i, "fmt ", 4) == 0 && i + 24 <= size) {
            format = qFromLittleEndian<quint16>(d + i + 8);
            channels = qFromLittleEndian<quint16>(d + i + 10);
            sampleRate = int(qFromLittleEndian<quint32>(d + i + 12));
            bits = qFromLittleEndian<quint16>(d + i + 22);
            break;
        }
    }
    qsizetype start = 44;
    qsizetype length = -1;
    for (qsizetype i = 0; i < searchEnd; ++i) {
        if (std::memcmp(d + i, "data", 4) == 0) {
            start = i + 8;
            // The chunk's own length, when it fits, keeps trailing chunks out.
            const quint32 declared = qFromLittleEndian<quint32>(d + i + 4);
            if (declared > 0 && qsizetype(declared) <= size - start)
                length = declared;
            break;
        }
    }
    if (channels != 2 || sampleRate != rate)
        return {};
    if (start >= size)
        return {};
    if (length < 0)
        length = size - start;

    const qsizetype frameBytes = qsizetype(bits / 8) * 2;
    if (frameBytes <= 0)
        return {};
    QByteArray samples = file.mid(start, length);
    if (in > 0) {
        const qsizetype skip = std::min<qsizetype>(qsizetype(std::trunc(double(rate) * in)) * frameBytes,
                                                   samples.size());
        samples.remove(0, skip);
    }
    if (out > in) {
        const qsizetype keep = qsizetype(std::trunc((out - in) * rate)) * frameBytes;
        if (keep < samples.size())
            samples.truncate(keep);
    }
    samples.truncate(samples.size() - samples.size() % frameBytes);

    if (format == 3 && bits == 32)
        return samples;
    if (format == 1 && bits == 16) {
        const qsizetype count = samples.size() / 2;
        QByteArray result(count * 4, Qt::Uninitialized);
        float* o = reinterpret_cast<float*>(result.data());
        const char* s = samples.constData();
        for (qsizetype i = 0; i < count; ++i)
            o[i] = float(qFromLittleEndian<qint16>(s + i * 2)) * 3.0517578125e-05f;
        return result;
    }
    return {};
}
