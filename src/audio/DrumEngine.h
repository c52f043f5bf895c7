#pragma once
#include <QAudioDevice>
#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class AudioOutput;
struct AudioOutputConfig;
class DrumStream;
class QAudioSink;

// The low-latency pad player. It keeps decoded 16-bit stereo 44100 Hz PCM per
// button id and starts a pad at once from memory on a voice of its DrumStream.
// One output runs all the time: its own render thread on the system's output
// endpoint; when that cannot be opened, a Qt audio sink pulling the stream;
// when neither works, a paced null output, so pads still run and report.
// Every public operation belongs to the GUI thread.
class DrumEngine : public QObject
{
    Q_OBJECT
public:
    // Which output is carrying the mix.
    enum class OutputKind { None, Endpoint, QtSink, Null };

    static DrumEngine* instance();

    explicit DrumEngine(QObject* parent = nullptr);
    ~DrumEngine() override;

    // Opens the output once for the life of the engine; synchronous.
    void initialize();
    // Closes and reopens the output; the pads stay cached, voices are stopped.
    void reinitialize();
    // The device for the Qt audio sink path; reopens the output.
    void setDevice(const QAudioDevice& device);
    // Master volume, clamped to 0..1.
    void setVolume(float v);

    void preload(const QString& id, const QByteArray& pcm, float volume);
    void triggerDirect(const QString& id, float volume);
    void triggerDirect(const QString& id);
    void stopById(const QString& id);
    void fadeStop(const QString& id, double ms);
    void setVolumeForId(const QString& id, float volume);
    bool isReady(const QString& id) const;
    bool isPlaying(const QString& id) const;
    void evictButton(const QString& id);
    void clearAll();
    void stopAll();

    // Kept for callers of the older API; they do nothing.
    void shutdownWasapi() {}
    bool initWasapiExclusive() { return false; }

    // Cache limits: past the high mark, the oldest pads go until the new one
    // fits under the low mark.
    static constexpr qint64 kCacheHighBytes = 20 * 1024 * 1024;
    static constexpr qint64 kCacheLowBytes = 10 * 1024 * 1024;
    // Device buffer kept full by the render thread.
    static constexpr int kSampleRate = 44100;
    static constexpr int kBufferMs = 100;
    // Buffer asked of the Qt audio sink fallback (about 93 ms).
    static constexpr int kQtSinkBufferBytes = 16384;

    // State for the settings page, the debug window and tests.
    OutputKind outputKind() const { return m_outputKind; }
    float volume() const { return m_masterVolume; }
    QAudioDevice device() const { return m_device; }
    qint64 cachedBytes() const { return m_byteTotal.load(); }
    QStringList cachedIds() const; // oldest first
    DrumStream* stream() const { return m_stream.get(); }
    bool isRenderThreadRunning() const;
    // The endpoint the render thread writes to (null on the Qt sink path).
    AudioOutput* output() const;
    // Underruns the endpoint has met and recovered from.
    quint64 underrunCount() const;

    // The render thread's view of the output. Everything in it is shared, so a
    // thread that would not end in time can be left to finish on its own.
    struct RenderContext
    {
        std::shared_ptr<AudioOutput> out;
        std::shared_ptr<DrumStream> stream;
        std::shared_ptr<std::atomic<bool>> running;
        std::shared_ptr<std::atomic<int>> generation;
        int startGeneration = 0;
        int bufferFrames = 0;
        std::vector<qint16> scratch; // mix buffer when the endpoint takes float
    };
    enum class Pass { Continue, Leave };
    // One wake-up of the render thread: fills all the free space of the
    // endpoint's buffer from the stream. Leave ends the thread.
    static Pass renderPass(RenderContext& ctx);
    // The thread body: waits for the device, then runs a pass, until a pass
    // says Leave. Logs once when it ends on a device error.
    static void renderLoop(RenderContext ctx);

    // Tests put their own endpoints in place of the system's: the factory is
    // asked for the endpoint first (Alsa, or the forced backend) and for the
    // paced null output last; nullptr means that output does not open.
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>(int backend, const AudioOutputConfig&)>;
    void setOutputFactory(OutputFactory factory) { m_factory = std::move(factory); }
    void setQtSinkEnabled(bool on) { m_qtSinkEnabled = on; }

private:
    struct Output;

    void doInit();
    void initOutputs();
    bool initEndpoint();
    bool initQtSink();
    bool initNullOutput();
    void shutdownEndpoint();
    void dropSink();
    void waitForPullToEnd(int maxMs);

    std::unique_ptr<AudioOutput> openOutput(int backend, const AudioOutputConfig& cfg, QString* error);
    bool startRenderOn(std::unique_ptr<AudioOutput> out);

    std::unique_ptr<Output> m_out;
    std::shared_ptr<DrumStream> m_stream;
    OutputFactory m_factory;
    bool m_qtSinkEnabled = true;
    QAudioSink* m_sink = nullptr;
    QAudioDevice m_device;
    OutputKind m_outputKind = OutputKind::None;

    mutable QMutex m_cacheMx;
    std::atomic<qint64> m_byteTotal{0};
    QHash<QString, QByteArray> m_pcm;
    QHash<QString, float> m_volumes;
    QStringList m_order; // ids of m_pcm in insertion order

    // A second, small table consulted first by a trigger, so that starting a
    // pad never waits on the main cache lock while a preload evicts or inserts.
    struct FastEntry
    {
        QByteArray pcm;
        float volume = 1.0f;
    };
    mutable QMutex m_fastMx;
    QHash<QString, FastEntry> m_fast;

    float m_masterVolume = 1.0f;
    std::once_flag m_initOnce;
    std::shared_ptr<std::atomic<int>> m_generation;
    std::atomic<bool> m_reinitializing{false};
};
