#include "MediaPlayer.h"
#include "Players.h"

#include <QAudioOutput>
#include <QMediaPlayer>

// ---- the output ---------------------------------------------------------

MediaOutput::MediaOutput(QObject* parent)
    : QObject(parent)
{
    make(QAudioDevice());
}

MediaOutput::MediaOutput(const QAudioDevice& device, QObject* parent)
    : QObject(parent)
{
    make(device);
}

void MediaOutput::make(const QAudioDevice& device)
{
    m_device = device;
    m_core = std::make_shared<Core>();
    Players::instance()->post([core = m_core, device] {
        core->real.store(device.isNull() ? new QAudioOutput : new QAudioOutput(device));
        core->applyLevel();
    });
}

MediaOutput::~MediaOutput()
{
    if (!m_core)
        return;   // parked
    Players::instance()->post([core = m_core] { delete core->real.exchange(nullptr); });
}

void MediaOutput::setVolume(float level)
{
    m_volume = level;
    if (!m_core)
        return;
    m_core->level.store(level);
    if (!m_core->levelDue.exchange(true))
        Players::instance()->levelAsked(m_core);
}

float MediaOutput::levelTaken() const
{
    return m_core ? m_core->taken.load() : m_volume;
}

void MediaOutput::setMuted(bool muted)
{
    m_muted = muted;
    if (!m_core)
        return;
    Players::instance()->post([core = m_core, muted] {
        if (QAudioOutput* real = core->real.load())
            real->setMuted(muted);
    });
}

void MediaOutput::park()
{
    m_core.reset();
}

// Runs on the players' thread: the latest level asked, once. A level asked
// before the real output is made waits for it (see make): its first sample
// is written at that level.
bool MediaOutput::Core::applyLevel()
{
    QAudioOutput* out = real.load();
    if (!out || !levelDue.exchange(false))
        return false;
    const float l = level.load();
    out->setVolume(l);
    taken.store(l);
    return true;
}

// ---- the player ---------------------------------------------------------

MediaPlayer::MediaPlayer(QObject* parent)
    : QObject(parent)
    , m_core(std::make_shared<Core>())
{
    Players* players = Players::instance();
    m_core->key = players->add(this);
    players->post([core = m_core] { Players::instance()->makePlayer(core); });
}

MediaPlayer::~MediaPlayer()
{
    Players* players = Players::instance();
    players->remove(m_core->key);
    if (closed())
        return;
    players->post([core = m_core] { Players::instance()->endPlayer(core); });
}

quint64 MediaPlayer::key() const
{
    return m_core->key;
}

bool MediaPlayer::isParked() const
{
    return m_core->parked;
}

void MediaPlayer::park()
{
    m_core->parked = true;
    if (m_output)
        m_output->park();
}

quint64 MediaPlayer::ask()
{
    return ++m_asked;
}

// Queues the call for the real player, as the n-th asked of it.
void MediaPlayer::send(quint64 n, std::function<void(QMediaPlayer&)> call)
{
    Players::instance()->post([core = m_core, n, call = std::move(call)] {
        Players::instance()->made(*core, n);
        if (core->real)
            call(*core->real);
    });
}

void MediaPlayer::setState(QMediaPlayer::PlaybackState state)
{
    if (std::exchange(m_state, state) != state)
        emit playbackStateChanged(state);
}

void MediaPlayer::setStatus(QMediaPlayer::MediaStatus status)
{
    if (std::exchange(m_status, status) != status)
        emit mediaStatusChanged(status);
}

void MediaPlayer::setSource(const QUrl& source)
{
    if (closed())
        return;
    const quint64 n = ask();
    m_sourceAsked = m_stateAsked = m_positionAsked = n;
    send(n, [source](QMediaPlayer& real) { real.setSource(source); });
    m_source = source;
    m_error = QMediaPlayer::NoError;
    m_errorString.clear();
    m_position = 0;
    if (std::exchange(m_duration, 0) != 0)
        emit durationChanged(0);
    if (std::exchange(m_seekable, false))
        emit seekableChanged(false);
    setState(QMediaPlayer::StoppedState);
    setStatus(source.isEmpty() ? QMediaPlayer::NoMedia : QMediaPlayer::LoadingMedia);
}

void MediaPlayer::setAudioOutput(MediaOutput* output)
{
    if (closed() || m_output == output)
        return;
    m_output = output;
    std::shared_ptr<MediaOutput::Core> out = output ? output->core() : nullptr;
    const quint64 n = ask();
    send(n, [out](QMediaPlayer& real) { real.setAudioOutput(out ? out->real.load() : nullptr); });
}

void MediaPlayer::play()
{
    if (closed())
        return;
    const quint64 n = ask();
    m_stateAsked = n;
    send(n, [](QMediaPlayer& real) { real.play(); });
    if (!m_source.isEmpty() && m_status != QMediaPlayer::InvalidMedia && m_error == QMediaPlayer::NoError)
        setState(QMediaPlayer::PlayingState);
}

void MediaPlayer::pause()
{
    if (closed())
        return;
    const quint64 n = ask();
    m_stateAsked = n;
    send(n, [](QMediaPlayer& real) { real.pause(); });
    if (m_state == QMediaPlayer::PlayingState)
        setState(QMediaPlayer::PausedState);
}

void MediaPlayer::stop()
{
    if (closed())
        return;
    const quint64 n = ask();
    m_stateAsked = n;
    send(n, [](QMediaPlayer& real) { real.stop(); });
    setState(QMediaPlayer::StoppedState);
}

void MediaPlayer::setPosition(qint64 ms)
{
    if (closed())
        return;
    const quint64 n = ask();
    m_positionAsked = n;
    send(n, [ms](QMediaPlayer& real) { real.setPosition(ms); });
    m_position = ms;
}

// ---- reports ------------------------------------------------------------

void MediaPlayer::reportedState(QMediaPlayer::PlaybackState state, quint64 done)
{
    if (done >= m_stateAsked)
        setState(state);
}

void MediaPlayer::reportedStatus(QMediaPlayer::MediaStatus status, quint64 done)
{
    if (done >= m_sourceAsked)
        setStatus(status);
}

void MediaPlayer::reportedPosition(qint64 ms, quint64 done)
{
    if (done < m_positionAsked)
        return;
    m_position = ms;
    emit positionChanged(ms);
}

void MediaPlayer::reportedDuration(qint64 ms, quint64 done)
{
    if (done >= m_sourceAsked && std::exchange(m_duration, ms) != ms)
        emit durationChanged(ms);
}

void MediaPlayer::reportedSeekable(bool seekable, quint64 done)
{
    if (done >= m_sourceAsked && std::exchange(m_seekable, seekable) != seekable)
        emit seekableChanged(seekable);
}

void MediaPlayer::reportedError(QMediaPlayer::Error error, const QString& text, quint64 done)
{
    if (done < m_sourceAsked)
        return;
    m_error = error;
    m_errorString = text;
    emit errorOccurred(error, text);
}

bool MediaPlayer::closed() const
{
    return m_core->parked || m_core->gone;
}
