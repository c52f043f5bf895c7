#pragma once
#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

#include "WakeEvent.h"

// One output stream on an audio endpoint, shaped like an event-driven render
// client: the render thread waits for a period, asks how many frames are still
// queued (padding), takes a buffer for the free space, fills it and releases
// it. Backends: ALSA (the real device), a paced null output that consumes
// frames in real time by the monotonic clock (machines without sound), and a
// manual output for tests.
//
// Threading: open/start/stop/close on a control thread; waitForPeriod,
// padding, getBuffer and releaseBuffer on the one render thread. wake() and
// stop() may be called from any thread and wake a waiting render thread. The
// ALSA and null backends allocate nothing after open().

enum class SampleFormat { S16, Float32 };
enum class ShareMode { Shared, Exclusive };

struct AudioOutputConfig
{
    QByteArray deviceId;            // QAudioDevice::id(); empty or unknown: default output
    ShareMode mode = ShareMode::Shared;
    SampleFormat format = SampleFormat::S16;
    int channels = 2;
    int rate = 44100;
    int bufferFrames = 4410;        // whole device buffer (here 100 ms)
    int periodFrames = 441;         // wake-up granularity

    int bytesPerFrame() const { return channels * (format == SampleFormat::S16 ? 2 : 4); }
};

class AudioOutput
{
public:
    enum class Backend { Alsa, Null, Manual };
    enum class WaitResult { Ready, Timeout, DeviceLost };

    virtual ~AudioOutput();
    AudioOutput(const AudioOutput&) = delete;
    AudioOutput& operator=(const AudioOutput&) = delete;

    // Opens an output: the backend named by TR_AUDIO_OUTPUT ("alsa", "null",
    // "manual") when it is set, else ALSA, falling back to the null output when
    // no ALSA device opens in shared mode. nullptr when a forced backend
    // fails, or when an exclusive ALSA stream cannot be had (the caller then
    // asks for a shared one). error receives a one-line reason.
    static std::unique_ptr<AudioOutput> open(const AudioOutputConfig& config,
                                             QString* error = nullptr);
    // Opens exactly one backend; nullptr and error on failure. In exclusive
    // mode a format the device does not take as it is fails, and closest (when
    // given) receives the nearest format the device offers; a device that does
    // not open fails too (no other device is tried in its place).
    static std::unique_ptr<AudioOutput> openBackend(Backend backend, const AudioOutputConfig& config,
                                                    QString* error = nullptr,
                                                    AudioOutputConfig* closest = nullptr);
    // The backend the factory tries first: forced by TR_AUDIO_OUTPUT, else Alsa.
    static Backend preferredBackend();
    // True when TR_AUDIO_OUTPUT names a backend.
    static bool backendForced();
    // The rate a shared stream on the device runs at natively (the mix
    // format): the device's fixed rate, else 48000 or 44100 when offered.
    // 48000 for the null and manual backends and when nothing can be asked.
    static int mixRate(const QByteArray& deviceId);
    static QString backendName(Backend b);

    virtual Backend backend() const = 0;
    // The format actually in use (buffer and period as the device set them).
    const AudioOutputConfig& config() const { return m_config; }
    int bufferFrames() const { return m_config.bufferFrames; }
    int periodFrames() const { return m_config.periodFrames; }
    int rate() const { return m_config.rate; }
    int channels() const { return m_config.channels; }
    int bytesPerFrame() const { return m_config.bytesPerFrame(); }
    // A readable name of the endpoint ("pulse:DEVICE=tr_null", "null", ...).
    QString deviceName() const { return m_deviceName; }

    // Starts consuming queued frames. Frames released before start() are
    // played first (fill the buffer with silence before starting).
    virtual bool start() = 0;
    // Stops consuming (queued frames are dropped) and wakes a waiting render
    // thread. start() may follow.
    virtual void stop() = 0;
    bool isStarted() const { return m_started.load(std::memory_order_acquire); }

    // Waits until the device wants more data (about one period freed), until
    // wake()/stop() is called, or for timeoutMs. Ready covers a wake-up too:
    // the caller re-checks its own running flag.
    virtual WaitResult waitForPeriod(int timeoutMs) = 0;
    // Wakes a render thread blocked in waitForPeriod or waitForWake.
    void wake() { m_wake.set(); }
    // Waits for wake() or timeoutMs only, whatever the device's free space:
    // for a render side that keeps less queued than a period frees.
    WaitResult waitForWake(int timeoutMs)
    {
        if (!isDeviceLost())
            m_wake.wait(timeoutMs);
        return isDeviceLost() ? WaitResult::DeviceLost : WaitResult::Ready;
    }

    // Frames released and not yet played; -1 when the device is lost.
    virtual int padding() = 0;
    // A buffer of frames * bytesPerFrame() bytes for the caller to fill, or
    // nullptr when frames exceeds the free space, frames < 1, or the device is
    // lost. The buffer stays valid until releaseBuffer.
    virtual void* getBuffer(int frames) = 0;
    // Queues the first frames of the buffer (0 .. the frames asked). silent
    // queues silence whatever the buffer holds. False on a lost device.
    virtual bool releaseBuffer(int frames, bool silent) = 0;

    // Set once the device is gone (unplugged, server died). It stays set; the
    // owner closes this output and opens another.
    bool isDeviceLost() const { return m_lost.load(std::memory_order_acquire); }
    // Underruns met and recovered from since open.
    quint64 underrunCount() const { return m_underruns.load(std::memory_order_relaxed); }
    // Whether what is written goes to a sound server's stream rather than
    // straight to a card: it passes through the server's own threads before
    // its mixer takes it, so a render side keeps more queued.
    virtual bool feedsSoundServer() const { return false; }

protected:
    explicit AudioOutput(const AudioOutputConfig& config);
    void markLost() { m_lost.store(true, std::memory_order_release); m_wake.set(); }
    void countUnderrun() { m_underruns.fetch_add(1, std::memory_order_relaxed); }

    AudioOutputConfig m_config;
    QString m_deviceName;
    WakeEvent m_wake;
    std::atomic<bool> m_started{false};
    std::atomic<bool> m_lost{false};
    std::atomic<quint64> m_underruns{0};
};

// Checks and normalises a requested format: channels 1..8, rate 8000..384000,
// buffer at least two periods, period at least 16 frames. False with a reason
// for values no backend can take.
bool normaliseOutputConfig(AudioOutputConfig& c, QString* error);
