#pragma once
#include <QByteArray>
#include <mutex>

#include "AudioOutput.h"

typedef struct _snd_pcm snd_pcm_t;
struct pollfd;

// The ALSA backend. Shared mode opens the device through ALSA's conversions
// (plug, or the sound server's plugin); exclusive mode asks the device for
// the exact format without automatic resampling or conversion and fails when
// it is not taken. Frames released before start() are held back and
// handed to the device by start(). Underruns (EPIPE) and suspends (ESTRPIPE) are recovered
// here and counted; only a device that is gone is reported (isDeviceLost).
// A stream on a sound server (ALSA's pulse plugin) is kept through dry
// spells instead: it keeps running while nothing is written and the server
// plays what comes next at once; its underruns are counted when the queue
// is seen empty.
class AlsaOutput : public AudioOutput
{
public:
    ~AlsaOutput() override;

    // Opens the device that AudioDevices maps the id to. In shared mode an id
    // that does not open falls back to "default"; an exclusive stream never
    // falls back: it opens on the mapped device or not at all. nullptr with a
    // reason on failure.
    static std::unique_ptr<AlsaOutput> open(const AudioOutputConfig& config, QString* error,
                                            AudioOutputConfig* closest = nullptr);
    // As mixRate() of AudioOutput, for an ALSA device.
    static int deviceMixRate(const QByteArray& deviceId);

    Backend backend() const override { return Backend::Alsa; }
    bool start() override;
    void stop() override;
    WaitResult waitForPeriod(int timeoutMs) override;
    int padding() override;
    void* getBuffer(int frames) override;
    bool releaseBuffer(int frames, bool silent) override;
    bool feedsSoundServer() const override { return m_keptStream; }

private:
    explicit AlsaOutput(const AudioOutputConfig& config);
    bool openDevice(const QByteArray& alsaName, QString* error, AudioOutputConfig* closest);
    // Recovers from err (EPIPE, ESTRPIPE); false when the device is lost.
    bool recover(int err);
    int availFrames();

    // Starts a started stream that sits prepared; false when lost.
    bool runIfPrepared();
    // Writes frames to the device, recovering from underruns; false when lost.
    bool writeFrames(const char* data, int frames);

    snd_pcm_t* m_pcm = nullptr;
    std::mutex m_mx;            // start/stop against the render calls; never held in poll
    QByteArray m_scratch;
    // Frames released before start() wait here (the device would start on
    // its own once it holds a period).
    QByteArray m_pending;
    int m_pendingFrames = 0;
    pollfd* m_fds = nullptr;    // [0] the wake event, then the device's
    int m_nfds = 0;
    int m_got = 0;
    // Opened with the plugin's underrun reports off (never stops by itself).
    bool m_keptStream = false;
    // Frames were written since the queue was last seen empty.
    bool m_fedSinceDry = false;
};
