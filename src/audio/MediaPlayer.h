#pragma once
#include <QAudioDevice>
#include <QMediaPlayer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>

class QAudioOutput;

// A Qt media player and its audio output as the window's thread sees them.
// The real QMediaPlayer and QAudioOutput live on the players' own thread
// (see Players.h): Qt 6.4's players wait on the sound server inside their
// own threads while holding a lock that every call into them takes, so a
// call made from the window's thread would hold the window for as long as
// the server stalls.
//
// Every call here is queued, in order, to the players' thread and returns at
// once. What is read here is what is known on this thread: what was last
// asked (a source, a position, playing or stopped, a level), and what the
// real player last reported (its load, duration, seekability, errors, its
// position as it plays, and its state). A report made before the player
// had carried out a later call here is stale and dropped: a position
// reported before a seek, a state reported before a play. The signals have
// QMediaPlayer's names and arguments; a change asked here is signalled at
// once, as Qt's player signals it from within the call.

class MediaOutput : public QObject
{
    Q_OBJECT
public:
    explicit MediaOutput(QObject* parent = nullptr);
    explicit MediaOutput(const QAudioDevice& device, QObject* parent = nullptr);
    // Its real output goes on the players' thread, after whatever was asked
    // of it before (unless it was parked).
    ~MediaOutput() override;

    // The level last asked for. Levels are not queued one by one: the real
    // output takes the latest asked, before any call queued after the
    // first of them.
    float volume() const { return m_volume; }
    void setVolume(float level);
    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);
    QAudioDevice device() const { return m_device; }
    // The level the real output has taken, as the players' thread last set
    // it (for tests and the debug window).
    float levelTaken() const;
    // Left for good as it stands: its sound server has gone, and touching
    // it could wait for ever. Nothing more is asked of it, not even its end.
    void park();

    struct Core;
    const std::shared_ptr<Core>& core() const { return m_core; }

private:
    void make(const QAudioDevice& device);

    std::shared_ptr<Core> m_core;
    float m_volume = 1.0f;
    bool m_muted = false;
    QAudioDevice m_device;
};

class MediaPlayer : public QObject
{
    Q_OBJECT
public:
    explicit MediaPlayer(QObject* parent = nullptr);
    // Its real player is stopped by its own destruction on the players'
    // thread, after whatever was asked of it before (unless it was parked).
    ~MediaPlayer() override;

    void setSource(const QUrl& source);
    QUrl source() const { return m_source; }
    void setAudioOutput(MediaOutput* output);
    MediaOutput* audioOutput() const { return m_output; }
    void play();
    void pause();
    void stop();
    void setPosition(qint64 ms);

    qint64 position() const { return m_position; }
    qint64 duration() const { return m_duration; }
    QMediaPlayer::PlaybackState playbackState() const { return m_state; }
    QMediaPlayer::MediaStatus mediaStatus() const { return m_status; }
    bool isSeekable() const { return m_seekable; }
    QMediaPlayer::Error error() const { return m_error; }
    QString errorString() const { return m_errorString; }

    // As MediaOutput::park.
    void park();
    bool isParked() const;
    // The key the players' thread reports under.
    quint64 key() const;
    // Parked, or let go: nothing more is asked of it from here.
    bool closed() const;

    struct Core;

signals:
    void playbackStateChanged(QMediaPlayer::PlaybackState state);
    void mediaStatusChanged(QMediaPlayer::MediaStatus status);
    void positionChanged(qint64 position);
    void durationChanged(qint64 duration);
    void seekableChanged(bool seekable);
    void errorOccurred(QMediaPlayer::Error error, const QString& errorString);

private:
    friend class Players;
    // The real player's reports, each with the number of the last call it
    // had carried out when it made it.
    void reportedState(QMediaPlayer::PlaybackState state, quint64 done);
    void reportedStatus(QMediaPlayer::MediaStatus status, quint64 done);
    void reportedPosition(qint64 ms, quint64 done);
    void reportedDuration(qint64 ms, quint64 done);
    void reportedSeekable(bool seekable, quint64 done);
    void reportedError(QMediaPlayer::Error error, const QString& text, quint64 done);
    quint64 ask();
    void send(quint64 n, std::function<void(QMediaPlayer&)> call);
    void setState(QMediaPlayer::PlaybackState state);
    void setStatus(QMediaPlayer::MediaStatus status);

    std::shared_ptr<Core> m_core;
    QPointer<MediaOutput> m_output;
    QUrl m_source;
    qint64 m_position = 0;
    qint64 m_duration = 0;
    QMediaPlayer::PlaybackState m_state = QMediaPlayer::StoppedState;
    QMediaPlayer::MediaStatus m_status = QMediaPlayer::NoMedia;
    bool m_seekable = false;
    QMediaPlayer::Error m_error = QMediaPlayer::NoError;
    QString m_errorString;
    // The number of the last call asked, and of the last that made what
    // each kind of report tells stale.
    quint64 m_asked = 0;
    quint64 m_sourceAsked = 0;
    quint64 m_stateAsked = 0;
    quint64 m_positionAsked = 0;
};
