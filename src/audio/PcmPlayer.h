#pragma once
#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

class MultiVoiceStream;
class QAudioSink;

// Decodes at most the first 5 seconds of a button's trimmed range to 16-bit
// stereo 44100 Hz PCM on the global thread pool, keeps the blocks by button id
// and hands each new block to the drum engine, which plays the pads.
class PcmPlayer : public QObject
{
    Q_OBJECT
public:
    // Longest stretch of a button that is decoded, in seconds.
    static constexpr double kMaxSeconds = 5.0;

    static PcmPlayer* instance();
    explicit PcmPlayer(QObject* parent = nullptr);

    // Asynchronous; preloadDone(id) follows a block that decoded to something.
    // The fade arguments are not used here.
    void preload(const QString& id, const QString& path, double trimIn, double trimOut, float gain,
                 double fadeIn = 0.0, double fadeOut = 0.0);
    // The range as raw PCM with the gain applied; any thread.
    static QByteArray decode(const QString& path, double in, double out, float gain);

    bool isReady(const QString& id) const;
    bool isPlaying(const QString& id);
    bool trigger(const QString& id);
    void stop(const QString& id) { Q_UNUSED(id); }
    void stopAll();
    void clearAll();
    void evictButton(const QString& id);
    void setVolume(float v);
    float volume() const { return m_volume; }
    // Decodes still running (for tests and the debug window).
    int pendingDecodes() const { return m_pending; }
    MultiVoiceStream* stream() const { return m_stream; }

public slots:
    void feedDrumEngine(const QString& id);

signals:
    void preloadDone(QString buttonId);

private:
    MultiVoiceStream* m_stream = nullptr;
    QAudioSink* m_sink = nullptr;
    float m_volume = 1.0f;
    QString m_lastTriggered;
    mutable QMutex m_mx;
    QHash<QString, QByteArray> m_pcm;
    QHash<QString, quint64> m_tokens; // id -> the decode whose result may be stored
    quint64 m_tokenSeq = 0;
    int m_pending = 0;
};
