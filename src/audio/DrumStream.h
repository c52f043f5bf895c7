#pragma once
#include <QByteArray>
#include <QIODevice>

#include <array>
#include <atomic>
#include <mutex>

// The pad mixer: a fixed bank of 32 voices, each playing one buffer of 16-bit
// stereo 44100 Hz PCM once from start to end at a linear gain, with an optional
// linear fade to silence. A Qt audio sink can pull the mix through readData;
// the drum engine's own render thread calls mix() directly.
//
// The GUI thread starts, stops, fades and re-levels voices; one audio thread
// mixes. Every voice access is under the one voice mutex. Nothing here
// allocates or frees while mixing: a voice started by copy keeps its copy until
// its slot is started by copy again (on the GUI thread) or the stream dies.
class DrumStream : public QIODevice
{
    Q_OBJECT
public:
    static constexpr int kVoices = 32;
    static constexpr int kFrameBytes = 4;

    explicit DrumStream(QObject* parent = nullptr);
    ~DrumStream() override;

    // Starts a voice on a buffer owned by the caller, who keeps it alive while
    // the voice may play.
    void trigger(const QByteArray* pcm, float volume);
    // Starts a voice on its own copy of the buffer (an implicitly shared copy).
    void triggerCopy(QByteArray pcm, float volume);

    void stopByPcm(const QByteArray* pcm);
    void stopByPcmData(const char* data);
    // A fade of step s lowers the level by s per output frame and lasts 1/s frames.
    void fadeStopByPcm(const QByteArray* pcm, double step);
    void fadeStopByPcmData(const char* data, double step);
    void setVolumeByPcmData(const char* data, float volume);
    void stopAll();
    bool isVoiceActive(const char* data) const;

    // Fills out with len bytes of mixed 16-bit stereo PCM. Never throws.
    void mix(char* out, qint64 len);

    // While silenced the stream yields only zeros.
    void setSilenced(bool on) { m_silenced.store(on); }
    bool isSilenced() const { return m_silenced.load(); }
    // True while readData is inside a pull (polled from the GUI thread while an
    // output is torn down).
    bool isReading() const { return m_reading.load(); }

    int activeVoiceCount() const;

    // A live stream: no seeking, no size, and no read-ahead inside QIODevice
    // (a sink's pull reaches the mixer directly).
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    struct Voice
    {
        const QByteArray* pcm = nullptr;
        QByteArray ownPcm;
        float volume = 1.0f;
        std::atomic<bool> active{false};
        qint64 position = 0;
        // Kept in double so that a long fade ends on its exact frame instead of
        // drifting by float rounding over tens of thousands of steps.
        double fade = 1.0;
        double fadeStep = 0.0;
    };

    int pickVoiceLocked();
    void startLocked(int idx, const QByteArray* pcm, float volume);
    static const char* dataOf(const QByteArray* pcm);

    std::array<Voice, kVoices> m_voices;
    int m_nextVoice = 0;
    mutable std::mutex m_mx;
    std::atomic<bool> m_silenced{false};
    std::atomic<bool> m_reading{false};
};
