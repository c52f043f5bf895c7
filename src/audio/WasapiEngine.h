#pragma once
#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "AudioOutput.h"
#include "WakeEvent.h"

// Reads a file into 32-bit float stereo PCM at a given rate, for the pads of
// the float engine. Only WAV files already stereo at that rate are read.
class WasapiDecoder
{
public:
    // in and out in seconds (out not above in: to the end), rate in frames per
    // second (below 1: 48000). Empty on every failure.
    static QByteArray decode(const QString& path, double in, double out, int rate);
};

// One float output stream on the chosen endpoint, shared or exclusive as
// "audio/engine" asks, with a render thread that mixes up to 16 float voices,
// soft-limits the sum, reports stalls between wake-ups and measures the time
// from a key press to the next rendered buffer.
class WasapiEngine : public QObject
{
    Q_OBJECT
public:
    static constexpr int kVoices = 16;
    static constexpr int kMaxPassFrames = 4096;
    // Longest normal gap between two wake-ups before it counts as a stall.
    static constexpr double kGlitchMs = 15.0;
    // With no voice playing, nothing is written to a sound card: a stream of
    // silence would only keep the sound server mixing (and resampling) it
    // beside every other stream at each of its short cycles. The render
    // thread then looks in this often; a start or a key press wakes it.
    static constexpr int kIdleWaitMs = 10;

    struct FastSlot
    {
        QByteArray pcm;     // float stereo, 8 bytes a frame
        qint64 frames = 0;
        float volume = 1.0f;
        bool loop = false;
    };

    static WasapiEngine* instance();

    explicit WasapiEngine(QObject* parent = nullptr);
    ~WasapiEngine() override;

    bool init(const QString& deviceId);
    void shutdown();
    // Any thread (the exit job shuts the engine down off the GUI thread
    // while the position timer may still ask).
    bool isActive() const { return m_active.load(); }
    bool isReady(const QString& id) const;
    bool isPlaying(const QString& id) const;
    void setGlobalVolume(float v);
    void stampClickTime();
    bool trigger(const QString& id, bool restart);
    void stop(const QString& id);
    void fadeStop(const QString& id, double ms);
    void stopAll();
    void evictButton(const QString& id);
    void clearCache();
    void pollPositions();
    QString activeDriverName() const;

    // Nothing feeds the pad cache through these; they return at once.
    void preload(const QString&, const QString&, double, double, bool, float, double, double) {}
    void mixVoices(float*, unsigned int) {}

    // Stores a pad (float stereo at the stream's rate) in the pad cache, where
    // trigger() finds it.
    void cachePad(const QString& id, const QByteArray& floatPcm, float volume, bool loop);

    int sampleRate() const { return m_sampleRate; }
    int bufferFrames() const { return m_bufferFrames; }
    int bufferMs() const { return m_bufferMs; }
    bool isExclusive() const { return m_exclusive; }
    QString engineName() const { return m_engineName; }
    QString deviceId() const { return m_deviceId; }
    qint64 cachedBytes() const { return m_byteTotal.load(); }
    // Time from the last stamped key press to the next rendered buffer.
    int lastLatencyUs() const;
    qint64 clickWallTimeMs() const { return m_clickWallMs; }
    AudioOutput* output() const { return m_out.get(); }

    // --- the render side -------------------------------------------------

    struct Voice
    {
        QByteArray pcm;             // released only by the GUI thread
        const float* data = nullptr;
        qint64 frames = 0;
        qint64 position = 0;
        std::atomic<bool> active{false};
        bool loop = false;
        float volume = 1.0f;
        double fade = 1.0;
        double fadeStep = 0.0;
    };
    // The voices and what the render thread reads besides them. The voice
    // mutex guards the voices and the id map; the render thread holds it for
    // the mix of one pass, so the GUI thread never frees a buffer being mixed.
    struct VoiceBank
    {
        std::array<Voice, kVoices> voices;
        QMutex mx;
        QHash<QString, int> map;
        std::atomic<float> globalVolume{1.0f};
        std::atomic<qint64> clickStampNs{0};
        std::atomic<int> lastLatencyUs{0};
    };
    struct RenderContext
    {
        std::shared_ptr<AudioOutput> out;
        std::shared_ptr<VoiceBank> bank;
        std::shared_ptr<std::atomic<bool>> running;
        int bufferFrames = 0;
        qint64 lastWakeNs = 0;
        bool lostLogged = false;
        std::vector<float> mix;         // kMaxPassFrames stereo frames
        bool idles = false;             // a sound card: write nothing while no voice plays
        bool idle = false;              // the last pass found nothing to play
        std::shared_ptr<WakeEvent> park; // rest here while the device is lost
    };
    enum class Pass { Continue, Leave };
    // One wake-up of the render thread, given what the wait returned.
    static Pass renderPass(RenderContext& ctx, AudioOutput::WaitResult waited);
    static void renderLoop(RenderContext ctx);
    // Mixes n frames of the bank's voices into mix (stereo float, zeroed by
    // the caller). Call with the voice mutex held.
    static void mixVoicesLocked(VoiceBank& bank, float* mix, int n);
    // x unchanged up to 1.0 in size; above, sign(x) * (1 + tanh(|x| - 1)).
    static float softLimit(float x);

    // Tests put their own endpoints in place of the system's.
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>(AudioOutput::Backend, const AudioOutputConfig&)>;
    void setOutputFactory(OutputFactory factory) { m_factory = std::move(factory); }
    VoiceBank& voiceBank() { return *m_bank; }

signals:
    void started(const QString& id);
    void stopped(const QString& id);
    void preloadDone(const QString& id);
    void initFailed(const QString& reason);
    void positionChanged(const QString& id, qint64 posMs, qint64 durMs);

private:
    bool fail(const QString& reason);
    std::unique_ptr<AudioOutput> openOutput(AudioOutput::Backend backend, const AudioOutputConfig& cfg, QString* error,
                                            AudioOutputConfig* closest);
    void stopThread();
    static void stopOffThisThread(std::shared_ptr<AudioOutput> out);
    void emitQueued(void (WasapiEngine::*sig)(const QString&), const QString& id);

    struct Thread;
    std::shared_ptr<AudioOutput> m_out;
    std::unique_ptr<Thread> m_thread;
    std::shared_ptr<std::atomic<bool>> m_running;
    std::atomic<bool> m_active{false};
    std::shared_ptr<VoiceBank> m_bank;
    std::atomic<int> m_nextVoice{0};

    mutable QMutex m_cacheMx;
    std::atomic<qint64> m_byteTotal{0};
    QHash<QString, QByteArray> m_slots;
    QHash<QString, FastSlot> m_fast;

    int m_sampleRate = 44100;
    int m_bufferFrames = 0;
    int m_bufferMs = 0;
    bool m_exclusive = false;
    QString m_engineName;
    QString m_driverName;
    QString m_deviceId;
    qint64 m_clickWallMs = 0;
    OutputFactory m_factory;
};
