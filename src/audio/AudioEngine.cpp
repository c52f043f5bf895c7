// The engine of the media players: the play and restart of a press, the
// sound server and outputs they need, output levels, stops, lookups, volumes
// and a lost output. Its other parts: AudioEngineFades.cpp (fades),
// AudioEngineClock.cpp (the sound clock and the start check),
// AudioEngineStream.cpp (loops and short sounds on their own stream, and the
// file-head facts), AudioEnginePlayers.cpp (the seamless loop, the players'
// reports and ends), AudioEnginePrepare.cpp (players made ahead, devices,
// warm-up, waveforms).
#include "AudioEngine.h"
#include "AudioEngineUtil.h"
#include "LoopStream.h"
#include "SoundServer.h"

#include "MediaPlayer.h"
#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QMediaDevices>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "SettingsKeys.h"
#include "DrainGuard.h"
#include "DrumEngine.h"
#include "FileCheck.h"
#include "HeapUse.h"
#include "KnownFiles.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PcmDecoder.h"

using namespace AudioEngineUtil;

AudioEngine* AudioEngine::s_instance = nullptr;

AudioEngine::AudioEngine(QObject* parent)
    : QObject(parent)
{
    m_defaultDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
    // Who the players' server is, and whether it has gone, is learnt anew.
    m_players->forgetServer();
    connect(m_players, &Players::serverAnswers, this, &AudioEngine::serverAnswersAgain);
    connect(m_players, &Players::serverStalled, this, &AudioEngine::serverStalled);
    LoopStream::prepareThreads();
    // Queued: told from the reading thread.
    connect(FileHeads::instance(), &FileHeads::headRead, this, &AudioEngine::headRead);
}

AudioEngine::~AudioEngine()
{
    for (PlaybackSlot* s : std::as_const(m_slots)) {
        if (s->player)
            detachPlayer(s->player);
        // A stream is no child of the engine: its threads would play on
        // (and hold their connection to the sound server) for ever.
        if (s->stream)
            s->stream->dropQueued();
        delete s->stream;
        delete s;
    }
    m_slots.clear();
    qDeleteAll(std::exchange(m_retired, {}));
    // Stand-ins a test gave for the server go with the engine.
    m_players->setServerIdSource({});
    m_players->setAnsweringSource({});
    if (s_instance == this)
        s_instance = nullptr;
}

AudioEngine* AudioEngine::instance()
{
    if (!s_instance)
        s_instance = new AudioEngine(nullptr);
    return s_instance;
}

// ---- output level -------------------------------------------------------

double AudioEngine::appliedVolume(const PlaybackSlot& s) const
{
    return bounded(s.volume * m_globalVolume, 0.0, 2.0);
}

// The level the output plays at: the button volume times the master volume,
// shaped by whichever envelopes run (fade-in, the fade-out before the end, a
// stop fade), limited to what an output can do. A stop fade only ever goes
// down from where it started: a volume change can lower it, never lift it.
double AudioEngine::outputLevel(const PlaybackSlot& s) const
{
    const double applied = appliedVolume(s);
    double v = applied;
    if (s.fadeInTimer && s.fadeInSteps > 0)
        v = std::min(v, std::max(kFadeInFloor, std::min(fadeInStepsHeard(s), s.fadeInSteps) * (applied / s.fadeInSteps)));
    else if (s.fadeInHeld)
        v = std::min(v, kFadeInFloor);
    if (s.endFade < 1.0)
        v = std::min(v, applied * s.endFade);
    v = std::clamp(v, 0.0, 1.0);
    // A stream falls by itself (LoopStream::fadeOut); a player as heard.
    if (s.stopFading)
        v = std::min(v, s.stopFadeFrom * (s.stream ? 1.0 : stopFadeLeft(s)));
    return std::clamp(v, 0.0, 1.0);
}

void AudioEngine::applyOutput(PlaybackSlot& s)
{
    const double level = outputLevel(s);
    if (s.output)
        s.output->setVolume(float(level));
    if (s.stream)
        s.stream->setLevel(float(level));
    // A stop fades the round a loop just handed over too, while it plays out.
    if (s.tailOutput && s.stopFading)
        s.tailOutput->setVolume(std::min(s.tailOutput->volume(), float(level)));
}

// ---- play ---------------------------------------------------------------

QUrl AudioEngine::sourceUrl(const QString& path)
{
    if (path.startsWith(QLatin1String("http")))
        return QUrl(path);
    return QUrl::fromLocalFile(path);
}

void AudioEngine::play(const ButtonData& button, const QString& deviceId, bool prepareOnly)
{
    const bool announce = std::exchange(m_announceStart, true);
    const bool mayWait = !std::exchange(m_goOnUnread, false);
    // What the player or stream this press replaces held goes back to the
    // system once it has gone.
    HeapUse::trimSoon();
    const QString path = button.audioPath;
    if (path.isEmpty())
        return;
    // From a press on, the server is watched: a stall must be known before
    // the next stop of a player.
    m_players->keepAwake();
    const QString id = button.id;
    const QString dev = deviceId.isEmpty() ? m_defaultDevice : deviceId;
    if (!prepareOnly && !hasAnyOutput()) {
        reportNoOutput(id);
        return;
    }
    if (!m_players->stillOurs()) {
        if (!m_outputLost)
            loseOutput();
        if (prepareOnly)
            return;
    }
    if (!prepareOnly && m_outputLost) {
        VX_LOG(QStringLiteral("[AudioEngine] output lost; not playing ") + id);
        reportFailedStart(id, lostOutputRefusal());
        return;
    }

    dropHeadWait(id);
    killStopFade(id);
    // An old slot under this id ends now; a fade of it must never reach the new one.
    if (m_slots.contains(id))
        stopAtOnce(id);

    // The media back end opens the file on this thread: a pipe would block
    // it until a writer comes, a device would never end. Such a path fails
    // as a missing file does, without a player. A file last seen as a
    // regular one is not looked at again here.
    if (!path.startsWith(QLatin1String("http")) && !KnownFiles::instance()->lastSeen(path).exists()
        && FileCheck::kindOf(path) == FileCheck::Kind::NotRegular) {
        VX_LOG(QStringLiteral("[AudioEngine] cannot play %1: not a regular file").arg(path));
        if (!prepareOnly) {
            if (announce)
                emit playStarted(id);
            reportFailedStart(id, tr("Could not open file"));
        }
        return;
    }
    // An empty file, a WAV with a header and no sample, a file with nothing
    // this program decodes, a trim-in at or past the end (a file saved over
    // by a shorter one): the back end would end it at once, or fail it a
    // moment later, so it is reported as a file that cannot be played. Only
    // a header read tells (see FileHeads): the press waits for an unread one.
    if (!prepareOnly && mayWait && waitForHead(button, dev, announce))
        return;
    if (!prepareOnly && !path.startsWith(QLatin1String("http"))) {
        const QString head = fileHeadOf(path).refusal;
        const QString refusal = head.isEmpty() ? trimRefusal(button) : head;
        if (!refusal.isEmpty()) {
            VX_LOG(QStringLiteral("[AudioEngine] cannot play %1: %2").arg(path, refusal));
            emit playStarted(id);
            reportFailedStart(id, refusal);
            return;
        }
    }

    auto* s = new PlaybackSlot;
    s->id = id;
    s->volume = bounded(button.volume, 0.0, 2.0);
    s->loop = button.loop;
    s->prepareOnly = prepareOnly;
    s->trimIn = button.trimStart;
    s->trimOut = button.trimEnd;
    s->fadeInMs = button.fadeIn * 1000.0;
    s->fadeOutMs = button.fadeOut * 1000.0;
    s->fadeInHeld = !prepareOnly && s->fadeInMs > 10;
    s->path = path;
    s->deviceId = dev;

    if (wantsStream(*s)) {
        startStream(*s);
        return;
    }
    if (!prepareOnly) {
        resolveDevice(dev);
        if (!adoptBuffered(path, dev, *s))
            makePlayer(*s, m_cachedDevice, sourceUrl(path));
        applyOutput(*s);
    } else {
        s->player = new MediaPlayer(this);
        MediaPlayer* player = s->player;
        player->setSource(sourceUrl(path));
    }
    s->active = !prepareOnly;
    m_slots.insert(id, s);

    MediaPlayer* player = s->player;
    connectPlayer(player);

    if (!prepareOnly) {
        // Before the report: a receiver may play on another device.
        scheduleRebuffer(*s);
        if (announce)
            emit playStarted(id);
    }
    // A receiver of playStarted may have stopped or replaced the slot.
    if (m_slots.value(id) != s)
        return;

    const QMediaPlayer::MediaStatus status = player->mediaStatus();
    if (player->error() != QMediaPlayer::NoError || status == QMediaPlayer::InvalidMedia) {
        if (!prepareOnly)
            queueFailureCheck(player);
        return;
    }
    const qint64 startMs = startPosFor(s->path, s->trimIn);
    if (!prepareOnly)
        startWhenReady(*s, startMs);
    else if (readyToStart(*s) && startMs > 0)
        s->player->setPosition(startMs);
}

QString AudioEngine::startRefusal(const ButtonData& button)
{
    const QString& path = button.audioPath;
    if (path.isEmpty())
        return {};
    // As play finds it: a server gone since the last look is lost now.
    checkServer();
    if (m_outputLost)
        return lostOutputRefusal();
    if (path.startsWith(QLatin1String("http")))
        return {};
    // The file as last seen (a path never looked at is left to its read
    // ahead and to the start): no player is made for one that is not there.
    // It is looked at again soon, so that one back on a disk that sends no
    // notice plays at the next press rather than after the next sweep.
    KnownFiles* known = KnownFiles::instance();
    bool seenOnce = false;
    const FileCheck::Stamp seen = known->lastSeen(path, &seenOnce);
    if (!seenOnce) {
        FileHeads::instance()->readAhead({path});
        return {};
    }
    if (!seen.exists()) {
        VX_LOG(QStringLiteral("[AudioEngine] cannot play %1: %2")
                   .arg(path, seen.notRegular ? QStringLiteral("not a regular file")
                                              : QStringLiteral("cannot be seen on disk")));
        known->recheck(path);
        return tr("Could not open file");
    }
    const QString head = fileHeadOf(path).refusal;
    if (head.isEmpty())
        return trimRefusal(button);
    // One seen empty may be a save under way: the next press sees it anew.
    if (seen.size == 0)
        known->recheck(path);
    return head;
}

QString AudioEngine::trimRefusal(const ButtonData& button)
{
    const QString& path = button.audioPath;
    if (path.isEmpty() || path.startsWith(QLatin1String("http")) || !(button.trimStart > 0.0)
        || !std::isfinite(button.trimStart))
        return {};
    const qint64 fileMs = fileHeadOf(path).durationMs;
    if (fileMs <= 0 || button.trimStart * 1000.0 < double(fileMs))
        return {};
    return FileHeads::trimInPastEnd(button.trimStart, fileMs);
}

// A player made ready again for the path's next start, on the slot's
// device, a while after a play or a restart took the one made ahead (or
// none was).
void AudioEngine::scheduleRebuffer(const PlaybackSlot& s)
{
    const QString path = s.path;
    const QString dev = s.deviceId;
    if (path.startsWith(QLatin1String("http")) || m_buffer.contains(path))
        return;
    const QAudioDevice device = m_cachedDevice;
    schedule(kRebufferDelayMs, [this, path, dev, device] {
        if (!m_buffer.contains(path))
            makeBufferEntry(path, dev, device, true);
    });
}

// A player and its output for the slot, on the device (null: the default
// output), loading the source.
void AudioEngine::makePlayer(PlaybackSlot& s, const QAudioDevice& device, const QUrl& source)
{
    s.output = device.isNull() ? new MediaOutput(this) : new MediaOutput(device, this);
    s.player = new MediaPlayer(this);
    MediaPlayer* player = s.player;
    MediaOutput* output = s.output;
    player->setAudioOutput(output);
    player->setSource(source);
}

// Plays the slot's player from startMs now, or once it has loaded and can
// seek there.
void AudioEngine::startWhenReady(PlaybackSlot& s, qint64 startMs)
{
    if (!readyToStart(s)) {
        s.startPending = true;
        waitForSeek(s);
        return;
    }
    if (startMs > 0)
        s.player->setPosition(startMs);
    startFrom(s, startMs);
}


void AudioEngine::connectPlayer(MediaPlayer* player)
{
    connect(player, &MediaPlayer::playbackStateChanged, this, &AudioEngine::onPlayerStateChanged);
    connect(player, &MediaPlayer::errorOccurred, this, &AudioEngine::onPlayerError);
    connect(player, &MediaPlayer::positionChanged, this, &AudioEngine::onPositionChanged);
    connect(player, &MediaPlayer::mediaStatusChanged, this, &AudioEngine::onMediaStatusChanged);
    connect(player, &MediaPlayer::seekableChanged, this, &AudioEngine::onSeekableChanged);
}

// Loaded, and able to go to its trim-in: a file that loads at once says it
// is loaded before it can seek, and a seek then is lost (it would play from
// its very start).
bool AudioEngine::readyToStart(const PlaybackSlot& s)
{
    const QMediaPlayer::MediaStatus status = s.player->mediaStatus();
    const bool loaded = status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia;
    return loaded && (s.trimIn <= 0 || s.player->isSeekable());
}

// Starts a pending slot from its trim-in once it can be.
void AudioEngine::startPendingSlot(PlaybackSlot& s)
{
    if (!s.startPending || !readyToStart(s))
        return;
    s.startPending = false;
    if (s.trimIn > 0)
        s.player->setPosition(startPosFor(s.path, s.trimIn));
    startFrom(s, startPosFor(s.path, s.trimIn));
}

// A loaded player that never becomes seekable (a stream) still plays, from
// where it can, after a short wait.
void AudioEngine::waitForSeek(PlaybackSlot& s)
{
    const QMediaPlayer::MediaStatus status = s.player->mediaStatus();
    if (status != QMediaPlayer::LoadedMedia && status != QMediaPlayer::BufferedMedia)
        return;
    MediaPlayer* player = s.player;
    QTimer::singleShot(kSeekWaitMs, player, [this, player] {
        PlaybackSlot* slot = slotForPlayer(player);
        if (!slot || !slot->startPending)
            return;
        slot->startPending = false;
        startFrom(*slot, 0);
    });
}

void AudioEngine::onSeekableChanged(bool seekable)
{
    auto* player = qobject_cast<MediaPlayer*>(sender());
    PlaybackSlot* s = player ? slotForPlayer(player) : nullptr;
    if (s && seekable)
        startPendingSlot(*s);
}

void AudioEngine::triggerArmed(const ButtonData& button)
{
    play(button, QString(), false);
}

void AudioEngine::seekAndPlay(PlaybackSlot& s)
{
    s.player->setPosition(startPosFor(s.path, s.trimIn));
    startFrom(s, startPosFor(s.path, s.trimIn));
}

// ---- a press that restarts its sound ------------------------------------

void AudioEngine::playRapid(const ButtonData& button, const QString& deviceId)
{
    if (button.audioPath.isEmpty())
        return;
    cancelFade(button.id);
    PlaybackSlot* s = slotFor(button.id);
    if (s && !s->active && s->player && s->player->source().isEmpty()) {
        // Ended, its media let go: started anew, as a restart, with no stop report.
        removeSlot(button.id);
        s = nullptr;
    }
    // A seek waits for the player's threads, which wait for a stalled
    // server: the old player is let go instead, and a fresh one started.
    if (!s || m_outputLost || !hasAnyOutput() || !m_players->stillOurs() || !m_players->answering() || !s->player
        || s->player->mediaStatus() == QMediaPlayer::NoMedia
        || s->player->mediaStatus() == QMediaPlayer::InvalidMedia
        || s->player->error() != QMediaPlayer::NoError) {
        play(button, deviceId, false);
        return;
    }
    // Restart the live player: no new pipeline, only a seek and play. One
    // that has read to its file's end does not play again from a seek.
    const bool atEnd = readToFileEnd(*s);
    s->active = true;
    s->stalledStarts = 0;
    s->volume = bounded(button.volume, 0.0, 2.0);
    s->endFade = 1.0;
    const qint64 startMs = startPosFor(s->path, button.trimStart);
    if (atEnd) {
        restartOnFreshPlayer(*s, startMs);
        return;
    }
    applyOutput(*s);
    s->player->setPosition(startMs);
    startFrom(*s, startMs, false);
}

// Whether the slot's player has read its file to the end, or nearly: ended,
// or heard within kReadAheadMs of the end. The FFmpeg back end reads that far
// ahead of what is heard; once it has met the end of the file a seek cuts
// what it had written but it writes nothing more, and the run stands still
// until the start check takes it for stalled.
bool AudioEngine::readToFileEnd(const PlaybackSlot& s) const
{
    if (!s.active || s.player->mediaStatus() == QMediaPlayer::EndOfMedia)
        return true;
    const qint64 duration = s.player->duration();
    if (duration <= 0)
        return false;
    const qint64 heard = s.startCalledAtMs > 0 ? s.startPosMs + (MonoClock::ms() - s.heardStartAtMs) : 0;
    return duration - std::max(heard, s.lastPosMs) < kReadAheadMs;
}

// Restarts the slot from startMs on a player made ready ahead (else a new
// one, its file opened while the old one still plays: a silence before the
// new run otherwise). Then the old player is silenced, stopped and
// destroyed, its stream with it (see retirePlayer): what that stream still
// has queued, the last moments of one that ended by itself and is held
// only so that they are heard too, would play under the new start. The new
// one starts right after.
void AudioEngine::restartOnFreshPlayer(PlaybackSlot& s, qint64 startMs)
{
    endRun(s);
    MediaPlayer* old = std::exchange(s.player, nullptr);
    MediaOutput* oldOutput = std::exchange(s.output, nullptr);
    detachPlayer(old);
    resolveDevice(s.deviceId);
    if (!adoptBuffered(s.path, s.deviceId, s))
        makePlayer(s, m_cachedDevice, sourceUrl(s.path));
    silenceOutput(oldOutput);
    retirePlayer(old, oldOutput, Retire::DropQueue);
    s.fadeInHeld = false;
    applyOutput(s);
    connectPlayer(s.player);
    if (s.player->error() != QMediaPlayer::NoError || s.player->mediaStatus() == QMediaPlayer::InvalidMedia) {
        queueFailureCheck(s.player);
        return;
    }
    scheduleRebuffer(s);
    s.startPending = true;
    startRestart(s, startMs);
}

// Nothing more an output writes is heard: its level goes to nothing and it
// is muted. What it had written before plays on until its player's stop is
// carried out.
void AudioEngine::silenceOutput(MediaOutput* output)
{
    if (!output || m_players->isGone())
        return;
    output->setVolume(0);
    output->setMuted(true);
}

// Plays a restart's pending player from startMs, now or once it can.
void AudioEngine::startRestart(PlaybackSlot& s, qint64 startMs)
{
    if (!s.startPending)
        return;
    if (!readyToStart(s)) {
        waitForSeek(s);
        return;
    }
    s.startPending = false;
    if (startMs > 0)
        s.player->setPosition(startMs);
    startFrom(s, startMs, false);
}

// ---- the sound server and the outputs -----------------------------------

// A stalled server answers again: one that died in its stall is a lost
// output, its players parked. The fades a stall held go on from where they
// were (see holdClocks).
void AudioEngine::serverAnswersAgain()
{
    if (m_players->answering())
        checkServer();
    soundHeld();
}

void AudioEngine::serverStalled()
{
    soundHeld();
}

void AudioEngine::checkServer()
{
    if (!m_players->stillOurs() && !m_outputLost)
        loseOutput();
}

// A new player may be made: an output is listed and the players' server is
// still there.
bool AudioEngine::canMakePlayers()
{
    return hasAnyOutput() && m_players->stillOurs();
}

void AudioEngine::retirePlayer(MediaPlayer* player, MediaOutput* output, Retire how)
{
    if (player)
        detachPlayer(player);
    m_players->letGo(player, output, how);
    HeapUse::trimSoon();
}

// Qt 6.4's ffmpeg back end crashes when a player starts with no output
// device at all, so nothing is started then.
bool AudioEngine::hasAnyOutput()
{
    return !QMediaDevices::audioOutputs().isEmpty();
}

void AudioEngine::reportNoOutput(const QString& id)
{
    VX_LOG(QStringLiteral("[AudioEngine] no audio output device; not playing ") + id);
    reportFailedStart(id, tr("No audio output device"));
}

// Reported from the event loop, after the caller has announced the start.
void AudioEngine::reportFailedStart(const QString& id, const QString& why)
{
    QMetaObject::invokeMethod(
        this,
        [this, id, why] {
            emit playbackError(id, why);
            emitStoppedAndMaybeAll(id);
        },
        Qt::QueuedConnection);
}

// ---- stopping -----------------------------------------------------------

void AudioEngine::detachPlayer(MediaPlayer* player)
{
    QObject::disconnect(player, nullptr, this, nullptr);
}

void AudioEngine::emitStoppedAndMaybeAll(const QString& id)
{
    emit playStopped(id);
    if (m_slots.isEmpty())
        emit allStopped();
}

void AudioEngine::stopAtOnce(const QString& id)
{
    removeSlot(id);
    emitStoppedAndMaybeAll(id);
}

void AudioEngine::stop(const QString& id)
{
    if (dropHeadWait(id)) {
        emitStoppedAndMaybeAll(id);
        return;
    }
    PlaybackSlot* s = slotFor(id);
    if (!s)
        return;
    // A stop fade already runs for it: that fade ends it, once.
    if (m_stopFades.contains(id))
        return;
    s->loop = false;
    if (s->stopFadeMs > 0 && (s->output || s->stream)) {
        soundHeld();   // a fall asked in a stall is heard once it ends
        const double now = s->stream ? s->stream->level() : s->output->volume();
        s->stopFadeFrom = std::clamp(now, 0.0, 1.0);
        killFadeIn(*s);
        s->stopFadeAtMs = MonoClock::ms();
        s->stopSilentAtMs = 0;
        s->stopFading = true;
        if (s->stream)
            s->stream->fadeOut(s->stopFadeMs);
        stepStopFade(*s);
        auto* timer = new QTimer(this);
        timer->setInterval(kFadeTickMs);
        m_stopFades.insert(id, timer);
        connect(timer, &QTimer::timeout, this, [this, id] { stopFadeTick(id); });
        timer->start();
        return;
    }
    stopAtOnce(id);
}

void AudioEngine::cancelFade(const QString& id)
{
    if (PlaybackSlot* s = slotFor(id))
        killFadeIn(*s);
    if (m_stopFades.contains(id))
        finishStop(id);
}

void AudioEngine::stopAll()
{
    for (QTimer* t : std::as_const(m_stopFades)) {
        t->stop();
        t->deleteLater();
    }
    m_stopFades.clear();
    const QList<QString> waits = m_headWaits.keys();
    for (const QString& id : waits) {
        dropHeadWait(id);
        emit playStopped(id);
    }
    const QList<QString> ids = m_slots.keys();
    for (const QString& id : ids) {
        PlaybackSlot* s = slotFor(id);
        if (!s)
            continue;
        s->stopFadeMs = 0;
        removeSlot(id);
        emit playStopped(id);
    }
    if (!ids.isEmpty() || !waits.isEmpty())
        emit allStopped();
}

void AudioEngine::panic()
{
    // The shutdown job calls this from a pool thread; players live here.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, &AudioEngine::panic, Qt::QueuedConnection);
        return;
    }
    for (QTimer* t : std::as_const(m_stopFades)) {
        t->stop();
        t->deleteLater();
    }
    m_stopFades.clear();
    for (const QString& id : m_headWaits.keys())
        dropHeadWait(id);
    const QList<PlaybackSlot*> all = m_slots.values();
    m_slots.clear();
    for (PlaybackSlot* s : all) {
        releaseSlotMedia(*s);
        m_retired.append(s);
    }
    // A handler further up the stack may still hold a record: they go from
    // the event loop, or at shutdown when no loop runs them.
    if (QCoreApplication::instance())
        QTimer::singleShot(0, this, [this] { qDeleteAll(std::exchange(m_retired, {})); });
    else
        qDeleteAll(std::exchange(m_retired, {}));
    emit allStopped();
}

// The program closes: every sound ends as at a panic, and what the slots
// held is freed here: their records, and the players, outputs and timers
// let go (those are children of the engine, deleted later by default, and
// the event loop that would do it ends next). The engine can play again
// afterwards.
void AudioEngine::shutdown()
{
    panic();
    qDeleteAll(std::exchange(m_retired, {}));
    QList<QPointer<QObject>> own;
    for (QObject* child : children())
        own.append(child);
    for (const QPointer<QObject>& child : std::as_const(own))
        if (child)
            QCoreApplication::sendPostedEvents(child, QEvent::DeferredDelete);
    // The players' thread ends what was let go; a server that does not
    // answer is not waited for beyond the bound.
    if (!m_players->settle(kShutdownWaitMs))
        VX_LOG(QStringLiteral("[AudioEngine] the players' thread still waits on the sound server at the close"));
}

void AudioEngine::removeSlot(const QString& id)
{
    PlaybackSlot* s = m_slots.take(id);
    if (!s)
        return;
    killStopFade(id);
    releaseSlotMedia(*s);
    delete s;
}

// Ends what times the slot's run: its fades, trim-out, start check and
// ended hold, and the loop's other players.
void AudioEngine::endRun(PlaybackSlot& s)
{
    killFadeIn(s);
    killTrimOut(s);
    killEndFade(s);
    dropTimer(s.startCheckTimer);
    dropTimer(s.releaseTimer);
    releaseLoopPlayers(s);
}

void AudioEngine::releaseSlotMedia(PlaybackSlot& s)
{
    // A stream only hears that it is to end: it never keeps this thread.
    // It is silent at once, its queue dropped (a stop fade lets it go only
    // once its fall has been heard, so what is left is silence).
    dropTimer(s.streamTimer);
    if (s.stream) {
        s.stream->dropQueued();
        noteEndedStream(s.id, *s.stream);
    }
    delete std::exchange(s.stream, nullptr);
    endRun(s);
    retirePlayer(s.player, s.output);
}

// The id's next stream waits for this one to be silent: a restart replaces
// the sound, it is never laid over it.
void AudioEngine::noteEndedStream(const QString& id, const LoopStream& stream)
{
    if (m_endedStreams.size() > kPurgeAbove)
        m_endedStreams.removeIf([](const auto& it) { return it.value().expired(); });
    m_endedStreams.insert(id, stream.handle());
}

void AudioEngine::notifyPlay(const QString& id)
{
    emit playStarted(id);
}

void AudioEngine::notifyStop(const QString& id)
{
    emitStoppedAndMaybeAll(id);
}

// ---- lookups ------------------------------------------------------------

bool AudioEngine::isPlaying(const QString& id) const
{
    const PlaybackSlot* s = m_slots.value(id);
    return (s && s->active) || m_headWaits.contains(id);
}

QList<QString> AudioEngine::playingIds() const
{
    return m_slots.keys();
}

QList<QString> AudioEngine::activeIds() const
{
    QList<QString> ids;
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        if (it.value()->active)
            ids.append(it.key());
    return ids;
}

qint64 AudioEngine::durationMs(const QString& id) const
{
    const PlaybackSlot* s = m_slots.value(id);
    if (s && s->stream)
        return s->stream->durationMs();
    if (!s || !s->player)
        return 0;
    return s->player->source().isEmpty() ? s->endedDurationMs : s->player->duration();
}

PlaybackSlot* AudioEngine::slotFor(const QString& id) const
{
    return m_slots.value(id);
}

PlaybackSlot* AudioEngine::slotForPlayer(MediaPlayer* player) const
{
    if (!player)
        return nullptr;
    for (PlaybackSlot* s : m_slots)
        if (s->player == player)
            return s;
    return nullptr;
}

// ---- volumes ------------------------------------------------------------

void AudioEngine::setButtonVolume(const QString& id, double v)
{
    v = bounded(v, 0.0, 2.0);
    if (PlaybackSlot* s = slotFor(id)) {
        s->volume = v;
        applyOutput(*s);
    }
    DrumEngine::instance()->setVolumeForId(id, float(v));
}

void AudioEngine::setButtonFade(const QString& id, double ms)
{
    if (PlaybackSlot* s = slotFor(id))
        s->stopFadeMs = std::isfinite(ms) ? std::max(0.0, ms) : 0.0;
}

void AudioEngine::setGlobalVolume(double v)
{
    m_globalVolume = bounded(v, 0.0, 1.0);
    for (PlaybackSlot* s : std::as_const(m_slots))
        applyOutput(*s);
}

void AudioEngine::setTabVolume(int tab, double v)
{
    if (tab < 0)
        return;
    m_tabVolumes.insert(tab, bounded(v, 0.0, 1.0));
}

double AudioEngine::tabVolume(int tab) const
{
    return m_tabVolumes.value(tab, 1.0);
}

// ---- a lost output ------------------------------------------------------

// The media back end says nothing when its sound server goes away: its
// players stay "playing" with their positions frozen, and a new player never
// moves either. Standing positions are the sign.
void AudioEngine::watchForStalls(PlaybackSlot& s)
{
    s.lastPosMs = -1;
    s.lastMoveAtMs = MonoClock::ms();
    if (!m_stallTimer) {
        m_stallTimer = new QTimer(this);
        m_stallTimer->setInterval(kStallCheckMs);
        connect(m_stallTimer, &QTimer::timeout, this, &AudioEngine::checkOutput);
    }
    if (!m_stallTimer->isActive()) {
        m_lastStallCheckMs = MonoClock::ms();
        m_stallTimer->start();
    }
}

void AudioEngine::checkOutput()
{
    const qint64 now = MonoClock::ms();
    // This thread stood still itself (the reports could not come): start
    // counting again rather than blame the output.
    const bool threadStalled = now - m_lastStallCheckMs > 3 * kStallCheckMs;
    m_lastStallCheckMs = now;
    soundHeld();   // a stall told, and the clocks it held moved on
    if (!m_outputLost && !m_slots.isEmpty() && !m_players->stillOurs()) {
        loseOutput();
        return;
    }
    int playing = 0;
    int stalled = 0;
    for (PlaybackSlot* s : std::as_const(m_slots)) {
        if (!s->active || s->startPending || !s->player || s->player->playbackState() != QMediaPlayer::PlayingState
            || stillArriving(*s))
            continue;
        ++playing;
        if (threadStalled)
            s->lastMoveAtMs = now;
        else if (now - s->lastMoveAtMs >= kStallLimitMs)
            ++stalled;
    }
    if (playing == 0) {
        if (m_stallTimer)
            m_stallTimer->stop();
        return;
    }
    if (!m_outputLost && stalled == playing)
        loseOutput();
}

void AudioEngine::loseOutput()
{
    VX_LOG(QStringLiteral("[AudioEngine] output lost: the playing sounds stand still; they end now"));
    m_outputLost = true;
    if (m_stallTimer)
        m_stallTimer->stop();
    const QList<QString> ids = activeIds();
    if (m_players->isGone()) {
        // Its players are left as they are: touching them can hang. Every
        // slot goes; those that played report their end.
        const QList<QString> all = m_slots.keys();
        for (const QString& id : all) {
            removeSlot(id);
            if (ids.contains(id))
                emitStoppedAndMaybeAll(id);
        }
        clearBuffer();
        emit outputLost();
        return;
    }
    for (const QString& id : ids)
        stopAtOnce(id);
    clearBuffer();
    m_probeDelayMs = kProbeFirstMs;
    if (!m_probeTimer) {
        m_probeTimer = new QTimer(this);
        m_probeTimer->setSingleShot(true);
        m_probeTimer->setObjectName(QStringLiteral("audioProbe"));
        connect(m_probeTimer, &QTimer::timeout, this, &AudioEngine::probeOutput);
    }
    m_probeTimer->start(m_probeDelayMs);
    emit outputLost();
}

// Plays the silent warm-up file at volume 0: a position that moves, or its
// end, says the output works again.
void AudioEngine::probeOutput()
{
    if (!m_outputLost || m_probe)
        return;
    const QString file = warmupFilePath();
    if (!FileCheck::isRegularFile(file) || !canMakePlayers() || !m_players->answering()) {
        if (m_players->isGone())
            return;   // no player can be made again: no more probes
        probeDone(false);
        return;
    }
    auto* output = new MediaOutput(this);
    m_probe = new MediaPlayer(this);
    output->setParent(m_probe);
    MediaPlayer* probe = m_probe;
    output->setVolume(0);
    auto moved = [this, probe] {
        if (m_probe == probe)
            probeDone(true);
    };
    connect(probe, &MediaPlayer::positionChanged, this, [moved](qint64 pos) {
        if (pos > 0)
            moved();
    });
    connect(probe, &MediaPlayer::mediaStatusChanged, this, [moved](QMediaPlayer::MediaStatus st) {
        if (st == QMediaPlayer::EndOfMedia)
            moved();
    });
    QTimer::singleShot(kProbeWaitMs, probe, [this, probe] {
        if (m_probe == probe)
            probeDone(false);
    });
    probe->setAudioOutput(output);
    probe->setSource(QUrl::fromLocalFile(file));
    probe->play();
}

void AudioEngine::probeDone(bool moved)
{
    // As it stands: a silent probe has nothing to drop, and it may be let
    // go from within a report of its back end's, which goes on using it.
    if (MediaPlayer* probe = std::exchange(m_probe, nullptr))
        retirePlayer(probe, nullptr, Retire::AsItStands);
    if (moved) {
        VX_LOG(QStringLiteral("[AudioEngine] output back"));
        m_outputLost = false;
        emit outputRestored();
        return;
    }
    m_probeDelayMs = std::min(m_probeDelayMs * 2, kProbeMaxMs);
    m_probeTimer->start(m_probeDelayMs);
}
