// The media players' rounds and reports: the seamless loop's second player,
// the players' state, position and error reports, and the ends they bring
// (a natural end whose stream is held until heard, the purge of ended
// slots, a player that fails).
#include "AudioEngine.h"
#include "AudioEngineUtil.h"

#include "MediaPlayer.h"
#include <QDateTime>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "FileCheck.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PcmDecoder.h"

using namespace AudioEngineUtil;

// ---- the seamless loop --------------------------------------------------

// A looping sound goes round: from its trim-in again, at full level.
void AudioEngine::restartLoop(PlaybackSlot& s)
{
    s.endFade = 1.0;
    applyOutput(s);
    seekAndPlay(s);
}

// Where the running round is heard to end (its trim-out, else the file's
// end) on the sound clock; 0 while that end is not known yet.
qint64 AudioEngine::heardEndAtMs(const PlaybackSlot& s) const
{
    const qint64 endMs = s.trimOut > 0 ? qint64(s.trimOut * 1000.0) : (s.player ? s.player->duration() : 0);
    if (endMs <= 0 || s.startCalledAtMs == 0)
        return 0;
    return s.heardStartAtMs + (endMs - s.startPosMs);
}

// A second player on the same file and output, silent and loaded ahead,
// taken at the trim-in once it can seek there.
void AudioEngine::prepareNextRound(PlaybackSlot& s)
{
    if (!s.loop || s.prepareOnly || s.nextPlayer || !s.player || !s.output || !canMakePlayers())
        return;
    const QAudioDevice device = s.output->device();
    s.nextOutput = device.isNull() ? new MediaOutput(this) : new MediaOutput(device, this);
    s.nextPlayer = new MediaPlayer(this);
    MediaPlayer* next = s.nextPlayer;
    MediaOutput* nextOutput = s.nextOutput;
    const qint64 startMs = startPosFor(s.path, s.trimIn);
    auto seekWhenReady = [next, startMs] {
        const QMediaPlayer::MediaStatus st = next->mediaStatus();
        const bool loaded = st == QMediaPlayer::LoadedMedia || st == QMediaPlayer::BufferedMedia;
        if (loaded && startMs > 0 && next->isSeekable() && next->position() != startMs
            && next->playbackState() == QMediaPlayer::StoppedState)
            next->setPosition(startMs);
    };
    connect(next, &MediaPlayer::mediaStatusChanged, next, seekWhenReady);
    connect(next, &MediaPlayer::seekableChanged, next, seekWhenReady);
    nextOutput->setVolume(0);
    next->setAudioOutput(nextOutput);
    next->setSource(s.player->source());
    seekWhenReady();
}

bool AudioEngine::nextRoundReady(const PlaybackSlot& s) const
{
    if (!s.nextPlayer || s.nextPlayer->error() != QMediaPlayer::NoError)
        return false;
    const QMediaPlayer::MediaStatus st = s.nextPlayer->mediaStatus();
    const bool loaded = st == QMediaPlayer::LoadedMedia || st == QMediaPlayer::BufferedMedia;
    return loaded && (s.trimIn <= 0 || s.nextPlayer->isSeekable());
}

// The next round starts as long before the running one is heard to end as
// a start takes to be heard, so that one follows the other.
void AudioEngine::armWrap(PlaybackSlot& s)
{
    const qint64 endAt = s.loop && s.nextPlayer ? heardEndAtMs(s) : 0;
    if (endAt <= 0) {
        if (s.wrapTimer)
            s.wrapTimer->stop();
        return;
    }
    QTimer* timer = slotTimer(s, &PlaybackSlot::wrapTimer, &AudioEngine::wrapRound);
    const qint64 at = endAt - m_startDelayMs - kWrapLeadMs;
    timer->start(int(std::clamp<qint64>(at - MonoClock::ms(), 0, std::numeric_limits<int>::max())));
}

// Hands the loop to the prepared player. The round that played goes on to
// its end as the tail (cut at its trim-out when it has one); a next round
// not ready in time leaves the wrap to the restart at the end.
void AudioEngine::wrapRound(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (!s || !s->loop || !s->active || !nextRoundReady(*s) || soundHeld())
        return;
    const qint64 tailLeftMs = std::max<qint64>(0, heardEndAtMs(*s) - MonoClock::ms());
    releaseTail(*s);
    killEndFade(*s);
    detachPlayer(s->player);
    s->tailPlayer = std::exchange(s->player, std::exchange(s->nextPlayer, nullptr));
    s->tailOutput = std::exchange(s->output, std::exchange(s->nextOutput, nullptr));
    MediaPlayer* tail = s->tailPlayer;
    if (s->trimOut > 0) {
        QTimer::singleShot(int(tailLeftMs), Qt::PreciseTimer, tail, [this, id, tail] {
            PlaybackSlot* slot = slotFor(id);
            if (slot && slot->tailPlayer == tail)
                releaseTail(*slot);
        });
    } else {
        connect(tail, &MediaPlayer::playbackStateChanged, tail, [this, id, tail](QMediaPlayer::PlaybackState st) {
            PlaybackSlot* slot = st == QMediaPlayer::StoppedState ? slotFor(id) : nullptr;
            if (slot && slot->tailPlayer == tail)
                QMetaObject::invokeMethod(this, [this, id, tail] {
                    PlaybackSlot* later = slotFor(id);
                    if (later && later->tailPlayer == tail)
                        releaseTail(*later);
                }, Qt::QueuedConnection);
        });
    }
    disconnect(s->player, nullptr, s->player, nullptr);   // its own seek on load
    connectPlayer(s->player);
    s->endFade = 1.0;
    applyOutput(*s);
    const qint64 startMs = startPosFor(s->path, s->trimIn);
    if (startMs > 0 && s->player->position() != startMs)
        s->player->setPosition(startMs);
    startFrom(*s, startMs);
}

void AudioEngine::releaseTail(PlaybackSlot& s)
{
    retirePlayer(std::exchange(s.tailPlayer, nullptr), std::exchange(s.tailOutput, nullptr));
}

void AudioEngine::releaseLoopPlayers(PlaybackSlot& s)
{
    dropTimer(s.wrapTimer);
    releaseTail(s);
    s.tailPlayer = std::exchange(s.nextPlayer, nullptr);
    s.tailOutput = std::exchange(s.nextOutput, nullptr);
    releaseTail(s);
}

// ---- player reports and ends --------------------------------------------

void AudioEngine::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    auto* player = qobject_cast<MediaPlayer*>(sender());
    PlaybackSlot* s = player ? slotForPlayer(player) : nullptr;
    if (!s)
        return;
    switch (status) {
    case QMediaPlayer::LoadedMedia:
    case QMediaPlayer::BufferedMedia:
        if (s->startPending) {
            startPendingSlot(*s);
            if (s->startPending)
                waitForSeek(*s);
        }
        break;
    case QMediaPlayer::InvalidMedia:
        s->startPending = false;
        failPlayer(player, player->errorString());
        break;
    case QMediaPlayer::NoMedia:
        s->startPending = false;
        break;
    default:
        break;
    }
}

void AudioEngine::onPlayerStateChanged(QMediaPlayer::PlaybackState state)
{
    auto* player = qobject_cast<MediaPlayer*>(sender());
    PlaybackSlot* s = player ? slotForPlayer(player) : nullptr;
    if (!s)
        return;
    if (state == QMediaPlayer::PlayingState) {
        startFadeIn(*s);
        return;
    }
    if (state != QMediaPlayer::StoppedState)
        return;
    if (s->loop) {
        restartLoop(*s);
        return;
    }
    const QString id = s->id;
    if (m_stopFades.contains(id)) {
        // The sound ran out while fading out: the stop is complete now.
        finishStop(id);
        return;
    }
    if (!s->active)
        return;
    s->active = false;
    killFadeIn(*s);
    killTrimOut(*s);
    killEndFade(*s);
    dropTimer(s->startCheckTimer);
    // Played to its end before its start counted as heard: it was heard
    // all the same, before its end is told.
    if (!s->startHeard && s->startCalledAtMs > 0 && s->lastPosMs > s->startPosMs)
        emit startHeard(id);
    emit playStopped(id);
    if (m_slots.isEmpty())
        emit allStopped();
    purgeEndedSlot(id);
    // A receiver of the report may have stopped or replaced the slot.
    PlaybackSlot* ended = slotFor(id);
    if (ended && ended->player == player)
        holdEndedMedia(*ended);
}

// The ended player still holds its decoding threads and its stream on the
// sound server. The back end reports the end once it has written its last
// sample: the stream goes once that sample has been heard, its end on the
// sound clock (the file's end from the run's heard start), with a margin
// for the output's queue and a bound.
void AudioEngine::holdEndedMedia(PlaybackSlot& s)
{
    const qint64 now = MonoClock::ms();
    s.endedAtMs = now;
    const qint64 dur = s.player ? s.player->duration() : 0;
    const qint64 heardEnd = s.startCalledAtMs > 0 && dur > s.startPosMs ? s.heardStartAtMs + (dur - s.startPosMs) : now;
    const qint64 wait = std::clamp<qint64>(heardEnd - now + kEndedHoldMs, kEndedHoldMs, kEndedHoldMaxMs);
    slotTimer(s, &PlaybackSlot::releaseTimer, &AudioEngine::releaseEndedMedia)->start(int(wait));
}

// An ended slot keeps its record (it is reported stopped once more when
// stopped, and a press starts it anew through play) but not its media: the
// player's source is cleared, which ends its pipeline and its stream.
// Clearing it destroys the player's output, which may still have an answer
// of the sound server's to come for its end (see retirePlayer): that is
// done no sooner than kRetireMs after the end report, and not while the
// server does not answer. A busy server answers late, and an output
// destroyed first crashes the program when the answer comes.
void AudioEngine::releaseEndedMedia(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (!s)
        return;
    dropTimer(s->releaseTimer);
    MediaPlayer* player = s->player;
    if (s->active || !player || player->playbackState() != QMediaPlayer::StoppedState || player->source().isEmpty())
        return;
    const qint64 early = s->endedAtMs + kRetireMs - MonoClock::ms();
    if (early > 0 || !m_players->answering()) {
        QTimer::singleShot(int(std::max<qint64>(early, kServerCheckMs)), player, [this, id, player] {
            const PlaybackSlot* t = slotFor(id);
            if (t && t->player == player && !t->releaseTimer)
                releaseEndedMedia(id);
        });
        return;
    }
    s->endedDurationMs = player->duration();
    s->startPending = false;
    disconnect(player, &MediaPlayer::positionChanged, this, &AudioEngine::onPositionChanged);
    player->setSource(QUrl());
}

// Keeps the table of ended slots from growing without end: at most one other
// ended, stopped slot goes per natural end once there are more than 48. Only
// a slot whose sound is over: one still held until its last sample is heard
// (releaseTimer) would have its end cut.
void AudioEngine::purgeEndedSlot(const QString& keep)
{
    if (m_slots.size() <= kPurgeAbove)
        return;
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it) {
        const PlaybackSlot* o = it.value();
        if (it.key() == keep || o->active || !o->player || o->releaseTimer)
            continue;
        if (o->player->playbackState() == QMediaPlayer::StoppedState) {
            removeSlot(it.key());
            return;
        }
    }
}

void AudioEngine::onPositionChanged(qint64 pos)
{
    auto* player = qobject_cast<MediaPlayer*>(sender());
    PlaybackSlot* s = player ? slotForPlayer(player) : nullptr;
    if (!s)
        return;
    if (pos != s->lastPosMs) {
        s->lastPosMs = pos;
        s->lastMoveAtMs = MonoClock::ms();
        placeStart(*s, pos);
    }
    const qint64 dur = player->duration();
    const qint64 trimOutMs = s->trimOut > 0 ? qint64(s->trimOut * 1000.0) : 0;

    updateEndFade(*s);

    if (s->trimOut > 0 && pos >= trimOutMs) {
        reachTrimOut(s->id);
        return;
    }
    emit positionChanged(s->id, pos, dur);
}

void AudioEngine::onPlayerError(QMediaPlayer::Error error, const QString& errorString)
{
    if (error == QMediaPlayer::NoError)
        return;
    auto* player = qobject_cast<MediaPlayer*>(sender());
    if (player)
        failPlayer(player, errorString);
}

// A player that cannot play ends its slot: the error is reported, and a slot
// that counted as playing reports its stop so the display does not stay lit.
void AudioEngine::failPlayer(MediaPlayer* player, const QString& errorString)
{
    PlaybackSlot* s = slotForPlayer(player);
    if (!s)
        return;
    const QString id = s->id;
    const bool wasActive = s->active;
    const QString why = errorString.isEmpty() ? tr("The file cannot be played") : errorString;
    removeSlot(id);
    emit playbackError(id, why);
    if (wasActive)
        emitStoppedAndMaybeAll(id);
}

// A player that failed before we listened to it (an adopted pre-buffered
// player, or a back end that reports during setSource) is reported from the
// event loop, after the caller has finished announcing the start.
void AudioEngine::queueFailureCheck(MediaPlayer* player)
{
    QPointer<MediaPlayer> p(player);
    QMetaObject::invokeMethod(
        this,
        [this, p] {
            if (p)
                failPlayer(p, p->errorString());
        },
        Qt::QueuedConnection);
}
