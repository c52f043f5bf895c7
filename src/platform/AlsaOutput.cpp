#include "AlsaOutput.h"
#include "RenderThread.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <cstring>
#include <time.h>

#include "AudioDevices.h"
#include "MonoClock.h"
#include "PlatformLog.h"

namespace {

snd_pcm_format_t alsaFormat(SampleFormat f)
{
    return f == SampleFormat::S16 ? SND_PCM_FORMAT_S16_LE : SND_PCM_FORMAT_FLOAT_LE;
}

QString alsaError(int err)
{
    return QString::fromLocal8Bit(snd_strerror(err));
}

struct HwParams
{
    snd_pcm_hw_params_t* p = nullptr;
    HwParams() { snd_pcm_hw_params_malloc(&p); }
    ~HwParams() { snd_pcm_hw_params_free(p); }
};

struct SwParams
{
    snd_pcm_sw_params_t* p = nullptr;
    SwParams() { snd_pcm_sw_params_malloc(&p); }
    ~SwParams() { snd_pcm_sw_params_free(p); }
};

// The nearest format a device offers to the one asked for.
void fillClosest(snd_pcm_t* pcm, const AudioOutputConfig& want, AudioOutputConfig* closest)
{
    if (!closest)
        return;
    *closest = want;
    HwParams hw;
    if (!hw.p || snd_pcm_hw_params_any(pcm, hw.p) < 0)
        return;
    snd_pcm_hw_params_set_rate_resample(pcm, hw.p, 0);
    snd_pcm_hw_params_set_access(pcm, hw.p, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (snd_pcm_hw_params_test_format(pcm, hw.p, alsaFormat(want.format)) == 0)
        snd_pcm_hw_params_set_format(pcm, hw.p, alsaFormat(want.format));
    else if (snd_pcm_hw_params_set_format(pcm, hw.p, SND_PCM_FORMAT_FLOAT_LE) == 0)
        closest->format = SampleFormat::Float32;
    else if (snd_pcm_hw_params_set_format(pcm, hw.p, SND_PCM_FORMAT_S16_LE) == 0)
        closest->format = SampleFormat::S16;
    unsigned ch = unsigned(want.channels);
    if (snd_pcm_hw_params_set_channels_near(pcm, hw.p, &ch) == 0)
        closest->channels = int(ch);
    unsigned rate = unsigned(want.rate);
    int dir = 0;
    if (snd_pcm_hw_params_set_rate_near(pcm, hw.p, &rate, &dir) == 0)
        closest->rate = int(rate);
}

// The name a sound server's stream is opened under from the copy of its
// definition below.
constexpr const char* kKeptStreamPcm = "tr_kept_server_stream";

// Whether an expanded PCM definition is the sound server's plugin.
bool isServerPlugin(snd_config_t* def)
{
    snd_config_t* type = nullptr;
    const char* name = nullptr;
    return snd_config_search(def, "type", &type) == 0 && snd_config_get_string(type, &name) == 0 && name
        && std::strcmp(name, "pulse") == 0;
}

// The sound server's ALSA plugin reports an underrun when the server finds
// the stream empty, and a stream in that state has to be prepared again,
// which the plugin does by closing the server's stream and making a new
// one. Between the two the server has no stream of ours, so it goes back to
// the latency it keeps for no one (a null sink mixes up to two seconds
// ahead), and whatever the new stream plays is heard behind that mix. With
// the plugin's underrun reports off the stream stays through a dry spell:
// the server waits for data, and when it comes, rewinds its mix so it plays
// at once. Opens name so when its definition is the plugin's, through a
// copy of the configuration; any other error leaves the caller to open it
// as it is.
int openKeptServerStream(snd_pcm_t** pcm, const QByteArray& name, int mode)
{
    snd_config_t* global = nullptr;
    if (snd_config_update_ref(&global) < 0 || !global)
        return -ENOENT;
    snd_config_t* def = nullptr;
    int err = snd_config_search_definition(global, "pcm", name.constData(), &def);
    snd_config_t* local = nullptr;
    if (err >= 0) {
        err = isServerPlugin(def) ? snd_config_copy(&local, global) : -EINVAL;
        if (err < 0)
            snd_config_delete(def);
    }
    snd_config_unref(global);
    if (err < 0)
        return err;
    snd_config_t* underruns = nullptr;
    if (snd_config_search(def, "handle_underrun", &underruns) == 0)
        snd_config_delete(underruns);
    underruns = nullptr;
    if ((err = snd_config_imake_integer(&underruns, "handle_underrun", 0)) >= 0
        && (err = snd_config_add(def, underruns)) < 0)
        snd_config_delete(underruns);
    snd_config_t* pcms = nullptr;
    if (err < 0 || (err = snd_config_set_id(def, kKeptStreamPcm)) < 0
        || (err = snd_config_search(local, "pcm", &pcms)) < 0 || (err = snd_config_add(pcms, def)) < 0) {
        snd_config_delete(def);
        snd_config_delete(local);
        return err;
    }
    err = snd_pcm_open_lconf(pcm, kKeptStreamPcm, SND_PCM_STREAM_PLAYBACK, mode, local);
    snd_config_delete(local);
    return err;
}

} // namespace

AlsaOutput::AlsaOutput(const AudioOutputConfig& config) : AudioOutput(config) {}

AlsaOutput::~AlsaOutput()
{
    if (m_pcm) {
        snd_pcm_drop(m_pcm);
        snd_pcm_close(m_pcm);
    }
    delete[] m_fds;
}

std::unique_ptr<AlsaOutput> AlsaOutput::open(const AudioOutputConfig& config, QString* error,
                                             AudioOutputConfig* closest)
{
    const QString mapped = AudioDevices::alsaNameForId(config.deviceId);
    std::unique_ptr<AlsaOutput> out(new AlsaOutput(config));
    QString why;
    if (out->openDevice(mapped.toUtf8(), &why, closest))
        return out;
    // An exclusive stream belongs to the device asked for: on any other it
    // would be neither exclusive nor where the user wanted it. The caller
    // decides what comes instead (usually a shared stream, with a warning).
    if (mapped != QLatin1String("default") && config.mode != ShareMode::Exclusive) {
        // A device that is gone or unknown plays on the default output.
        PlatformLog::write(QStringLiteral("[AudioOutput] %1 did not open (%2); using default").arg(mapped, why));
        out.reset(new AlsaOutput(config));
        QString why2;
        if (out->openDevice("default", &why2, closest))
            return out;
        why += QStringLiteral("; default: ") + why2;
    }
    if (error)
        *error = why;
    return nullptr;
}

bool AlsaOutput::openDevice(const QByteArray& alsaName, QString* error, AudioOutputConfig* closest)
{
    const bool exclusive = m_config.mode == ShareMode::Exclusive;
    int mode = SND_PCM_NONBLOCK;
    if (exclusive)
        mode |= SND_PCM_NO_AUTO_RESAMPLE | SND_PCM_NO_AUTO_CHANNELS | SND_PCM_NO_AUTO_FORMAT;
    int err = 0;
    {
        // A sound-server plugin starts its client thread here; it inherits
        // the render thread's class rather than the opener's.
        const RenderThread::InheritedProAudio inherit;
        m_keptStream = !exclusive && openKeptServerStream(&m_pcm, alsaName, mode) == 0;
        if (!m_keptStream)
            err = snd_pcm_open(&m_pcm, alsaName.constData(), SND_PCM_STREAM_PLAYBACK, mode);
    }
    if (err < 0) {
        m_pcm = nullptr;
        *error = QStringLiteral("cannot open %1: %2").arg(QString::fromUtf8(alsaName), alsaError(err));
        return false;
    }
    auto fail = [&](const QString& what, int e) {
        *error = QStringLiteral("%1 on %2: %3").arg(what, QString::fromUtf8(alsaName), alsaError(e));
        if (exclusive)
            fillClosest(m_pcm, m_config, closest);
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
        return false;
    };

    HwParams hw;
    if (!hw.p)
        return fail(QStringLiteral("no memory"), -ENOMEM);
    if ((err = snd_pcm_hw_params_any(m_pcm, hw.p)) < 0)
        return fail(QStringLiteral("no configuration"), err);
    if ((err = snd_pcm_hw_params_set_rate_resample(m_pcm, hw.p, exclusive ? 0 : 1)) < 0 && exclusive)
        return fail(QStringLiteral("resampling cannot be turned off"), err);
    if ((err = snd_pcm_hw_params_set_access(m_pcm, hw.p, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0)
        return fail(QStringLiteral("interleaved access refused"), err);
    if ((err = snd_pcm_hw_params_set_format(m_pcm, hw.p, alsaFormat(m_config.format))) < 0)
        return fail(QStringLiteral("sample format refused"), err);
    if ((err = snd_pcm_hw_params_set_channels(m_pcm, hw.p, unsigned(m_config.channels))) < 0)
        return fail(QStringLiteral("%1 channels refused").arg(m_config.channels), err);
    if ((err = snd_pcm_hw_params_set_rate(m_pcm, hw.p, unsigned(m_config.rate), 0)) < 0)
        return fail(QStringLiteral("rate %1 refused").arg(m_config.rate), err);
    snd_pcm_uframes_t period = snd_pcm_uframes_t(m_config.periodFrames);
    int dir = 0;
    snd_pcm_hw_params_set_period_size_near(m_pcm, hw.p, &period, &dir);
    snd_pcm_uframes_t buffer = std::max<snd_pcm_uframes_t>(snd_pcm_uframes_t(m_config.bufferFrames), 2 * period);
    snd_pcm_hw_params_set_buffer_size_near(m_pcm, hw.p, &buffer);
    if ((err = snd_pcm_hw_params(m_pcm, hw.p)) < 0)
        return fail(QStringLiteral("hardware parameters refused"), err);
    snd_pcm_hw_params_get_period_size(hw.p, &period, &dir);
    snd_pcm_hw_params_get_buffer_size(hw.p, &buffer);
    if (buffer < 2 || period < 1)
        return fail(QStringLiteral("unusable buffer"), -EINVAL);
    m_config.periodFrames = int(period);
    // The server's plugin never hands out the last frame of its ring, so a
    // writer can queue that much less, and a queue that has run dry shows
    // all of that free.
    m_config.bufferFrames = m_keptStream ? int(buffer) - 1 : int(buffer);

    SwParams sw;
    if (!sw.p || (err = snd_pcm_sw_params_current(m_pcm, sw.p)) < 0)
        return fail(QStringLiteral("no software parameters"), err < 0 ? err : -ENOMEM);
    // The device starts once it holds a period (frames released before
    // start() are held back, so this only restarts it after an underrun); a
    // wake-up for each period of free space; an underrun stops the stream
    // (and is recovered) when the queue runs dry. A start threshold beyond
    // the buffer would make sound servers wait for a full buffer after every
    // underrun. A sound server's stream kept through dry spells never stops
    // on its own.
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_sw_params_get_boundary(sw.p, &boundary);
    snd_pcm_sw_params_set_start_threshold(m_pcm, sw.p, period);
    snd_pcm_sw_params_set_avail_min(m_pcm, sw.p, period);
    snd_pcm_sw_params_set_stop_threshold(m_pcm, sw.p, m_keptStream && boundary > 0 ? boundary : buffer);
    if ((err = snd_pcm_sw_params(m_pcm, sw.p)) < 0)
        return fail(QStringLiteral("software parameters refused"), err);
    if ((err = snd_pcm_prepare(m_pcm)) < 0)
        return fail(QStringLiteral("prepare failed"), err);

    const int n = snd_pcm_poll_descriptors_count(m_pcm);
    if (n < 1)
        return fail(QStringLiteral("no poll descriptors"), -EINVAL);
    m_fds = new pollfd[size_t(n) + 1];
    m_fds[0] = pollfd{m_wake.fd(), POLLIN, 0};
    if ((err = snd_pcm_poll_descriptors(m_pcm, m_fds + 1, unsigned(n))) < 0)
        return fail(QStringLiteral("poll descriptors failed"), err);
    m_nfds = n + 1;
    m_scratch.fill('\0', qsizetype(m_config.bufferFrames) * m_config.bytesPerFrame());
    m_pending.fill('\0', m_scratch.size());
    m_deviceName = QString::fromUtf8(alsaName);
    return true;
}

int AlsaOutput::deviceMixRate(const QByteArray& deviceId)
{
    const QByteArray name = AudioDevices::alsaNameForId(deviceId).toUtf8();
    snd_pcm_t* pcm = nullptr;
    if (snd_pcm_open(&pcm, name.constData(), SND_PCM_STREAM_PLAYBACK,
                     SND_PCM_NONBLOCK | SND_PCM_NO_AUTO_RESAMPLE) < 0)
        return 48000;
    int rate = 48000;
    HwParams hw;
    if (hw.p && snd_pcm_hw_params_any(pcm, hw.p) >= 0) {
        snd_pcm_hw_params_set_rate_resample(pcm, hw.p, 0);
        unsigned lo = 0, hi = 0;
        int dir = 0;
        snd_pcm_hw_params_get_rate_min(hw.p, &lo, &dir);
        snd_pcm_hw_params_get_rate_max(hw.p, &hi, &dir);
        if (lo == hi && lo > 0)
            rate = int(lo);
        else if (snd_pcm_hw_params_test_rate(pcm, hw.p, 48000, 0) == 0)
            rate = 48000;
        else if (snd_pcm_hw_params_test_rate(pcm, hw.p, 44100, 0) == 0)
            rate = 44100;
        else if (lo > 0)
            rate = int(lo);
    }
    snd_pcm_close(pcm);
    return rate;
}

bool AlsaOutput::recover(int err)
{
    if (err == -EPIPE) {
        countUnderrun();
        if (snd_pcm_prepare(m_pcm) == 0)
            return true;
    } else if (err == -ESTRPIPE) {
        countUnderrun();
        int r = -EAGAIN;
        // The device is waking from a suspend; give it a few tries, then
        // start it afresh.
        for (int i = 0; i < 5 && (r = snd_pcm_resume(m_pcm)) == -EAGAIN; ++i) {
            timespec ts{0, 2000000};
            nanosleep(&ts, nullptr);
        }
        if (r == 0 || snd_pcm_prepare(m_pcm) == 0)
            return true;
    } else if (err == -EAGAIN || err == -EINTR) {
        return true;
    }
    if (!isDeviceLost())
        PlatformLog::write(QStringLiteral("[AudioOutput] device %1 lost: %2").arg(m_deviceName, alsaError(err)));
    markLost();
    return false;
}

int AlsaOutput::availFrames()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const snd_pcm_sframes_t a = snd_pcm_avail(m_pcm);
        if (a >= 0) {
            // A kept stream reports no underrun: it is counted here, once
            // each time the queue is seen empty after frames were written.
            if (m_keptStream && m_fedSinceDry && a >= m_config.bufferFrames
                && snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING) {
                m_fedSinceDry = false;
                countUnderrun();
            }
            return int(std::min<snd_pcm_sframes_t>(a, m_config.bufferFrames));
        }
        if (!recover(int(a)))
            return -1;
    }
    return -1;
}

bool AlsaOutput::start()
{
    if (isDeviceLost())
        return false;
    std::lock_guard<std::mutex> lk(m_mx);
    if (isStarted())
        return true;
    snd_pcm_state_t st = snd_pcm_state(m_pcm);
    if (st != SND_PCM_STATE_PREPARED && st != SND_PCM_STATE_RUNNING) {
        snd_pcm_drop(m_pcm);
        if (int e = snd_pcm_prepare(m_pcm); e < 0 && !recover(e))
            return false;
    }
    m_started.store(true, std::memory_order_release);
    const int pending = m_pendingFrames;
    m_pendingFrames = 0;
    if (pending > 0 && !writeFrames(m_pending.constData(), pending))
        return false;
    return runIfPrepared();
}

bool AlsaOutput::runIfPrepared()
{
    if (snd_pcm_state(m_pcm) != SND_PCM_STATE_PREPARED)
        return true;
    const int e = snd_pcm_start(m_pcm);
    return e >= 0 || e == -EBADFD || recover(e);
}

void AlsaOutput::stop()
{
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_started.store(false, std::memory_order_release);
        m_pendingFrames = 0;
        if (m_pcm && !isDeviceLost()) {
            snd_pcm_drop(m_pcm);
            snd_pcm_prepare(m_pcm);
        }
    }
    m_wake.set();
}

AudioOutput::WaitResult AlsaOutput::waitForPeriod(int timeoutMs)
{
    const qint64 deadline = timeoutMs >= 0 ? MonoClock::system()->nowMs() + timeoutMs : 0;
    for (;;) {
        if (isDeviceLost())
            return WaitResult::DeviceLost;
        if (m_wake.tryConsume())
            return isDeviceLost() ? WaitResult::DeviceLost : WaitResult::Ready;
        int left = -1;
        if (timeoutMs >= 0) {
            left = int(std::max<qint64>(0, deadline - MonoClock::system()->nowMs()));
        }
        // A started stream that is not running (prepared again after an
        // underrun, or in an error state) needs data or recovery now. One not
        // started never frees space by itself: only the wake event ends the
        // wait then.
        snd_pcm_state_t state;
        {
            // stop() drops and prepares the stream under this lock from
            // another thread; never look at the stream halfway through that.
            std::lock_guard<std::mutex> lk(m_mx);
            state = snd_pcm_state(m_pcm);
            const bool runningNow = state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_DRAINING;
            if (isStarted() && !runningNow) {
                if (state == SND_PCM_STATE_PREPARED)
                    return WaitResult::Ready;
                if (availFrames() < 0)
                    return WaitResult::DeviceLost;
                return WaitResult::Ready;
            }
        }
        const bool running = state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_DRAINING;
        const int nfds = running ? m_nfds : 1;
        const int r = ::poll(m_fds, nfds_t(nfds), left);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return WaitResult::Timeout;
        }
        if (r == 0)
            return WaitResult::Timeout;
        if (m_fds[0].revents & POLLIN)
            continue;   // consumed at the top of the loop
        if (!running)
            continue;
        std::lock_guard<std::mutex> lk(m_mx);
        // Stopped while we slept: the stream was dropped on purpose and the
        // wake event, consumed at the top of the loop, ends the wait.
        if (!isStarted())
            continue;
        unsigned short revents = 0;
        const int e = snd_pcm_poll_descriptors_revents(m_pcm, m_fds + 1, unsigned(m_nfds - 1), &revents);
        if (e < 0) {
            if (!recover(e))
                return WaitResult::DeviceLost;
            return WaitResult::Ready;
        }
        if (revents & (POLLERR | POLLNVAL | POLLHUP)) {
            const snd_pcm_state_t st = snd_pcm_state(m_pcm);
            int code = -ENODEV;
            if (st == SND_PCM_STATE_XRUN)
                code = -EPIPE;
            else if (st == SND_PCM_STATE_SUSPENDED)
                code = -ESTRPIPE;
            else if (st == SND_PCM_STATE_RUNNING || st == SND_PCM_STATE_PREPARED)
                return WaitResult::Ready;
            return recover(code) ? WaitResult::Ready : WaitResult::DeviceLost;
        }
        if (revents & POLLOUT)
            return WaitResult::Ready;
        if (timeoutMs >= 0 && MonoClock::system()->nowMs() >= deadline)
            return WaitResult::Timeout;
    }
}

int AlsaOutput::padding()
{
    if (isDeviceLost())
        return -1;
    std::lock_guard<std::mutex> lk(m_mx);
    if (!isStarted())
        return m_pendingFrames;
    const int avail = availFrames();
    if (avail < 0)
        return -1;
    return std::max(0, m_config.bufferFrames - avail);
}

void* AlsaOutput::getBuffer(int frames)
{
    if (isDeviceLost() || frames < 1 || frames > m_config.bufferFrames)
        return nullptr;
    std::lock_guard<std::mutex> lk(m_mx);
    const int avail = isStarted() ? availFrames() : m_config.bufferFrames - m_pendingFrames;
    if (avail < 0 || frames > avail)
        return nullptr;
    m_got = frames;
    return m_scratch.data();
}

bool AlsaOutput::releaseBuffer(int frames, bool silent)
{
    if (isDeviceLost())
        return false;
    std::lock_guard<std::mutex> lk(m_mx);
    frames = std::clamp(frames, 0, m_got);
    m_got = 0;
    if (frames == 0)
        return true;
    char* data = m_scratch.data();
    if (silent)
        snd_pcm_format_set_silence(alsaFormat(m_config.format), data, unsigned(frames * m_config.channels));
    if (!isStarted()) {
        const int bpf = m_config.bytesPerFrame();
        frames = std::min(frames, m_config.bufferFrames - m_pendingFrames);
        memcpy(m_pending.data() + qsizetype(m_pendingFrames) * bpf, data, size_t(frames) * size_t(bpf));
        m_pendingFrames += frames;
        return true;
    }
    if (!writeFrames(data, frames))
        return false;
    // After an underrun the stream is prepared again and starts by itself
    // once it holds a period; start it at once when it holds less.
    return runIfPrepared();
}

bool AlsaOutput::writeFrames(const char* data, int frames)
{
    const int bpf = m_config.bytesPerFrame();
    int left = frames;
    int tries = 0;
    while (left > 0 && tries < 4) {
        const snd_pcm_sframes_t w = snd_pcm_writei(m_pcm, data, snd_pcm_uframes_t(left));
        if (w > 0) {
            m_fedSinceDry = true;
            left -= int(w);
            data += w * bpf;
            continue;
        }
        ++tries;
        if (w == -EAGAIN || w == 0) {
            // The device has not freed the space yet; wait for it briefly.
            snd_pcm_wait(m_pcm, 1 + m_config.periodFrames * 1000 / m_config.rate);
            continue;
        }
        if (!recover(int(w)))
            return false;
    }
    return true;
}
