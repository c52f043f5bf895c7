#include "AudioEngine.h"
#include "LoopStream.h"
#include "SoundServer.h"

#include <QAudioOutput>
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
#include "DrumEngine.h"
#include "FileCheck.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PcmDecoder.h"

namespace {

// NaN and infinities from a bad caller become the lower bound.
double bounded(double v, double lo, double hi)
{
    if (!std::isfinite(v))
        return lo;
    return std::clamp(v, lo, hi);
}

int stepsFor(double ms)
{
    return std::max(1, int(ms * 0.0625));
}

// Stops a slot's timer and lets it go.
void dropTimer(QTimer*& timer)
{
    if (timer) {
        timer->stop();
        timer->deleteLater();
        timer = nullptr;
    }
}

} // namespace

AudioEngine* AudioEngine::s_instance = nullptr;

AudioEngine::AudioEngine(QObject* parent)
    : QObject(parent)
{
    m_defaultDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
}

AudioEngine::~AudioEngine()
{
    for (PlaybackSlot* s : std::as_const(m_slots)) {
        if (s->player)
            detachPlayer(s->player);
        delete s;
    }
    m_slots.clear();
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
    if (s.stopFading) {
        const double left = s.stopFadeSteps > 0 ? 1.0 - double(s.stopFadeTick) / s.stopFadeSteps : 0.0;
        v = std::min(v, s.stopFadeFrom * std::max(0.0, left));
    }
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
    const QString path = button.audioPath;
    if (path.isEmpty())
        return;
    const QString id = button.id;
    const QString dev = deviceId.isEmpty() ? m_defaultDevice : deviceId;
    if (!prepareOnly && !hasAnyOutput()) {
        reportNoOutput(id);
        return;
    }
    if (!serverStillOurs()) {
        if (!m_outputLost)
            loseOutput();
        if (prepareOnly)
            return;
    }
    if (!prepareOnly && m_outputLost) {
        VX_LOG(QStringLiteral("[AudioEngine] output lost; not playing ") + id);
        reportFailedStart(id, m_serverGone ? tr("long sounds and music are off until the program is restarted")
                                           : tr("The audio output was lost"));
        return;
    }

    killStopFade(id);
    // An old slot under this id ends now; a fade of it must never reach the new one.
    if (m_slots.contains(id))
        stopAtOnce(id);

    // The media back end opens the file on this thread: a pipe would block
    // it until a writer comes, a device would never end. Such a path fails
    // as a missing file does, without a player.
    if (!path.startsWith(QLatin1String("http")) && FileCheck::kindOf(path) == FileCheck::Kind::NotRegular) {
        VX_LOG(QStringLiteral("[AudioEngine] cannot play %1: not a regular file").arg(path));
        if (!prepareOnly) {
            emit playStarted(id);
            reportFailedStart(id, tr("Could not open file"));
        }
        return;
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
        s->player = new QMediaPlayer(this);
        s->player->setSource(sourceUrl(path));
    }
    s->active = !prepareOnly;
    m_slots.insert(id, s);

    QMediaPlayer* player = s->player;
    connectPlayer(player);

    if (!prepareOnly) {
        emit playStarted(id);
        if (!path.startsWith(QLatin1String("http")) && !m_buffer.contains(path)) {
            const QAudioDevice device = m_cachedDevice;
            schedule(kRebufferDelayMs, [this, path, dev, device] {
                if (!m_buffer.contains(path))
                    makeBufferEntry(path, dev, device, true);
            });
        }
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
        player->setPosition(startMs);
}

// A player and its output for the slot, on the device (null: the default
// output), loading the source.
void AudioEngine::makePlayer(PlaybackSlot& s, const QAudioDevice& device, const QUrl& source)
{
    s.output = device.isNull() ? new QAudioOutput(this) : new QAudioOutput(device, this);
    s.player = new QMediaPlayer(this);
    s.player->setAudioOutput(s.output);
    s.player->setSource(source);
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

// ---- loops and short sounds on their own stream ---------------------------

// A local loop plays on a stream of its own: a media player cannot keep a
// loop's rounds to the range (its reports and timers move every wrap). So
// does a short sound played once (see kShortSoundMs), unless its file is
// still being written: its header cannot be trusted yet.
bool AudioEngine::wantsStream(const PlaybackSlot& s)
{
    if (!m_loopStreams || s.prepareOnly || s.path.startsWith(QLatin1String("http")))
        return false;
    if (s.loop)
        return true;
    const qint64 length = playedLengthMs(s);
    return length > 0 && length <= kShortSoundMs && !writtenRecently(s.path);
}

qint64 AudioEngine::playedLengthMs(const PlaybackSlot& s)
{
    const double in = std::isfinite(s.trimIn) ? std::max(0.0, s.trimIn) : 0.0;
    if (std::isfinite(s.trimOut) && s.trimOut > in + 0.001)
        return qint64(std::llround((s.trimOut - in) * 1000.0));
    const qint64 file = fileHeadOf(s.path).durationMs;
    return file > 0 ? std::max<qint64>(0, file - qint64(std::llround(in * 1000.0))) : 0;
}

void AudioEngine::startStream(PlaybackSlot& s)
{
    const QString id = s.id;
    resolveDevice(s.deviceId);
    // Each round fades in and out on the stream itself.
    s.fadeInHeld = false;
    LoopStream::Params p;
    p.path = s.path;
    p.deviceId = m_cachedDevice.isNull() ? QByteArray() : m_cachedDevice.id();
    p.trimIn = s.trimIn;
    p.trimOut = s.trimOut;
    p.fadeIn = s.fadeInMs / 1000.0;
    p.fadeOut = s.fadeOutMs / 1000.0;
    p.level = float(outputLevel(s));
    p.once = !s.loop;
    s.stream = new LoopStream(p);
    s.active = true;
    m_slots.insert(id, &s);
    auto* timer = new QTimer(this);
    timer->setInterval(kStreamReportMs);
    s.streamTimer = timer;
    connect(timer, &QTimer::timeout, this, [this, id, timer] {
        PlaybackSlot* slot = slotFor(id);
        if (slot && slot->streamTimer == timer)
            streamTick(id);
    });
    timer->start();
    emit playStarted(id);
}

// Reports where the stream is heard, ends a stream played once when its
// last frame has been heard, and ends or moves a stream that failed.
void AudioEngine::streamTick(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (!s || !s->stream)
        return;
    if (s->stream->outputLost()) {
        VX_LOG(QStringLiteral("[AudioEngine] the output of sound %1 was lost").arg(id));
        stopAtOnce(id);
        checkServer();
        return;
    }
    if (s->stream->state() == LoopStream::State::Ended) {
        stopAtOnce(id);
        return;
    }
    if (s->stream->state() == LoopStream::State::Failed) {
        const QString why = s->stream->error();
        if (s->stream->positionMs() < 0) {
            VX_LOG(QStringLiteral("[AudioEngine] sound %1 plays on a media player: %2").arg(id, why));
            moveStreamToPlayers(*s);
            return;
        }
        stopAtOnce(id);
        emit playbackError(id, why);
        return;
    }
    const qint64 pos = s->stream->positionMs();
    if (pos >= 0 && pos != s->lastPosMs) {
        s->lastPosMs = pos;
        emit positionChanged(id, pos, s->stream->durationMs());
    }
}

// A stream that could not start (no sound card stream, or a file our decoder
// does not read) leaves the sound to a media player, as before streams.
void AudioEngine::moveStreamToPlayers(PlaybackSlot& s)
{
    ButtonData b;
    b.id = s.id;
    b.audioPath = s.path;
    b.volume = s.volume;
    b.loop = s.loop;
    b.trimStart = s.trimIn;
    b.trimEnd = s.trimOut;
    b.fadeIn = s.fadeInMs / 1000.0;
    b.fadeOut = s.fadeOutMs / 1000.0;
    const QString dev = s.deviceId;
    const double stopFade = s.stopFadeMs;
    removeSlot(s.id);
    const bool was = std::exchange(m_loopStreams, false);
    play(b, dev);
    m_loopStreams = was;
    setButtonFade(b.id, stopFade);
}

void AudioEngine::connectPlayer(QMediaPlayer* player)
{
    connect(player, &QMediaPlayer::playbackStateChanged, this, &AudioEngine::onPlayerStateChanged);
    connect(player, &QMediaPlayer::errorOccurred, this, &AudioEngine::onPlayerError);
    connect(player, &QMediaPlayer::positionChanged, this, &AudioEngine::onPositionChanged);
    connect(player, &QMediaPlayer::mediaStatusChanged, this, &AudioEngine::onMediaStatusChanged);
    connect(player, &QMediaPlayer::seekableChanged, this, &AudioEngine::onSeekableChanged);
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
    QMediaPlayer* player = s.player;
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
    auto* player = qobject_cast<QMediaPlayer*>(sender());
    PlaybackSlot* s = player ? slotForPlayer(player) : nullptr;
    if (s && seekable)
        startPendingSlot(*s);
}

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
    if (!s || m_outputLost || !hasAnyOutput() || !serverStillOurs() || !s->player
        || s->player->mediaStatus() == QMediaPlayer::NoMedia
        || s->player->mediaStatus() == QMediaPlayer::InvalidMedia
        || s->player->error() != QMediaPlayer::NoError) {
        play(button, deviceId, false);
        return;
    }
    // Restart the live player: no new pipeline, only a seek and play.
    s->active = true;
    s->stalledStarts = 0;
    s->volume = bounded(button.volume, 0.0, 2.0);
    s->endFade = 1.0;
    applyOutput(*s);
    s->player->setPosition(startPosFor(s->path, button.trimStart));
    startFrom(*s, startPosFor(s->path, button.trimStart), false);
}

// The sound server the players were made on still answers. The first
// server seen is the players' own; once another answers, or none, it has
// gone for good for this process (Qt cannot follow it: see SoundServer.h).
bool AudioEngine::serverStillOurs()
{
    if (m_serverGone)
        return false;
    // Asked at most every kServerCheckMs: a burst of presses or pre-buffers
    // does not knock on the server's door each time.
    const qint64 now = MonoClock::ms();
    if (m_playersServer > 0 && m_serverCheckedAtMs > 0 && now - m_serverCheckedAtMs < kServerCheckMs)
        return true;
    m_serverCheckedAtMs = now;
    const qint64 id = m_serverIdSource ? m_serverIdSource() : SoundServer::currentId();
    if (id < 0)
        return true;   // not a local server: nothing can be told
    if (m_playersServer == 0 && id > 0) {
        m_playersServer = id;
        return true;
    }
    if (id == m_playersServer)
        return true;
    VX_LOG(QStringLiteral("[AudioEngine] the sound server the players were made on has gone; "
                          "no player is made again until the program starts anew"));
    m_serverGone = true;
    return false;
}

void AudioEngine::checkServer()
{
    if (!serverStillOurs() && !m_outputLost)
        loseOutput();
}

// A new player may be made: an output is listed and the players' server is
// still there.
bool AudioEngine::canMakePlayers()
{
    return hasAnyOutput() && serverStillOurs();
}

// A player whose server has gone is never stopped or deleted (either can
// wait for ever on the dead connection): it is cut off and left. Every
// release of a player goes here once the server has gone.
void AudioEngine::parkPlayer(QMediaPlayer* player, QAudioOutput* output)
{
    if (player) {
        QObject::disconnect(player, nullptr, nullptr, nullptr);
        player->setParent(nullptr);
    }
    if (output)
        output->setParent(nullptr);
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

void AudioEngine::triggerArmed(const ButtonData& button)
{
    play(button, QString(), false);
}

void AudioEngine::seekAndPlay(PlaybackSlot& s)
{
    s.player->setPosition(startPosFor(s.path, s.trimIn));
    startFrom(s, startPosFor(s.path, s.trimIn));
}

// Where a run from a trim-in (seconds) starts in the file. An uncompressed
// file starts on the sample of its trim-in (see pcmSeekMs); any other a
// little before it, as its back end drops the first moments of a start.
qint64 AudioEngine::startPosFor(const QString& path, double trimIn)
{
    const qint64 ms = std::isfinite(trimIn) ? qint64(std::llround(std::clamp(trimIn, 0.0, 1.0e7) * 1000.0)) : 0;
    if (ms <= 0)
        return 0;
    const int rate = pcmRateOf(path);
    if (rate > 0)
        return pcmSeekMs(ms, rate);
    return std::max<qint64>(0, ms - m_timing.startLossMs);
}

qint64 AudioEngine::pcmSeekMs(qint64 trimMs, int rate)
{
    if (rate <= 0 || rate % 1000 == 0)
        return trimMs;
    // The sample a position in ms becomes (rounded to the nearest, halves
    // up), and the time it is heard at, in thousandths of a ms.
    const auto heardAt = [rate](qint64 ms) {
        const qint64 sample = (ms * rate + 500) / 1000;
        return sample * 1000000 / rate;
    };
    qint64 best = trimMs;
    qint64 bestErr = std::numeric_limits<qint64>::max();
    for (qint64 ms = std::max<qint64>(0, trimMs - 20); ms <= trimMs + 20; ++ms) {
        const qint64 remainder = (ms * rate) % 1000;
        if (remainder != 0 && remainder < 500)
            continue;   // rounds down: the back end would drop a whole block
        const qint64 err = heardAt(ms) - trimMs * 1000;
        // The nearest; between two as near, the one not early.
        if (std::abs(err) < std::abs(bestErr) || (std::abs(err) == std::abs(bestErr) && err > bestErr)) {
            best = ms;
            bestErr = err;
        }
    }
    return best;
}

// The back end opens the file on this thread anyway when it is given it;
// this reads only its header, once for each version of the file.
AudioEngine::FileHead AudioEngine::fileHeadOf(const QString& path)
{
    if (path.isEmpty() || path.startsWith(QLatin1String("http")) || !FileCheck::isRegularFile(path))
        return {};
    const QString key = path + QLatin1Char('|') + QString::number(QFileInfo(path).lastModified().toMSecsSinceEpoch());
    auto it = m_fileHeads.constFind(key);
    if (it != m_fileHeads.constEnd())
        return it.value();
    PcmDecoder::Info info;
    FileHead head;
    if (PcmDecoder::probe(path, &info)) {
        head.pcmRate = info.codec.startsWith(QLatin1String("pcm_")) ? info.sourceRate : 0;
        head.durationMs = std::max<qint64>(0, info.durationMs);
    }
    if (m_fileHeads.size() > 512)
        m_fileHeads.clear();
    m_fileHeads.insert(key, head);
    return head;
}

// Starts a run from startMs. Every run but a rapid restart fades in (a loop
// round too, as the pre-decoded sounds do); the fade holds the output
// silent from before the first sample is written.
void AudioEngine::startFrom(PlaybackSlot& s, qint64 startMs, bool withFadeIn)
{
    dropTimer(s.releaseTimer);   // an ended player started again keeps its media
    noteStart(s, startMs);
    armStartCheck(s, kStartWaitMs);
    if (withFadeIn) {
        killFadeIn(s);
        startFadeIn(s);
    }
    s.player->play();
    armTrimOut(s);
    updateEndFade(s);
    watchForStalls(s);
    prepareNextRound(s);
    armWrap(s);
}

// The sound clock of a run that starts now from startMs: heard after the
// delay the last start took, until this run's own reports tell.
void AudioEngine::noteStart(PlaybackSlot& s, qint64 startMs)
{
    const qint64 now = MonoClock::ms();
    s.startPosMs = startMs;
    s.startCalledAtMs = now;
    s.heardStartAtMs = now + m_startDelayMs;
    s.startHeard = false;
    s.anchorPosMs = -1;
    s.anchorAtMs = 0;
}

// A position report places the run's start: the back end's reports come
// every 100 ms, each a little behind what is heard. A report from before a
// seek (it can come late), or one that has not moved yet, says nothing.
// Until the start is heard each report is the best guess of it; from then
// on the steady clock keeps the time, and each report moves the start by a
// share: the back end's reports fall a little early or late of what is
// heard, and the least of some hundreds of them lies well before it.
void AudioEngine::placeStart(PlaybackSlot& s, qint64 pos)
{
    if (s.startCalledAtMs == 0)
        return;
    const qint64 now = MonoClock::ms();
    const qint64 played = pos - s.startPosMs;
    if (played <= 0 || played > now - s.startCalledAtMs + kReportSpacingMs)
        return;
    const qint64 placed = now - (played - m_timing.reportLeadMs);
    if (s.startHeard) {
        const double off = std::clamp(double(placed) - s.heardStartMeanMs, -double(kPlaceJitterMs),
                                      double(kPlaceJitterMs));
        s.placedReports = std::min(s.placedReports + 1, int(kPlaceMeanReports));
        s.heardStartMeanMs += off / s.placedReports;
        s.heardStartAtMs = std::llround(s.heardStartMeanMs);
    } else {
        s.heardStartAtMs = placed;
        const qint64 moved = pos - s.anchorPosMs;
        const qint64 span = now - s.anchorAtMs;
        if (s.anchorAtMs == 0) {
            s.anchorPosMs = pos;
            s.anchorAtMs = now;
            armStartCheck(s, kStartStallMs);
        } else if (moved >= kHeardSpanMs && 2 * moved >= span) {
            hearStart(s);
        } else if (2 * moved < span) {
            // Behind the clock: measured again from here.
            s.anchorPosMs = pos;
            s.anchorAtMs = now;
        }
    }
    if (s.trimOutTimer)
        armTrimOut(s);
    if (s.wrapTimer)
        armWrap(s);
}

void AudioEngine::hearStart(PlaybackSlot& s)
{
    s.startHeard = true;
    s.heardStartMeanMs = double(s.heardStartAtMs);
    s.placedReports = 1;
    m_startDelayMs = std::clamp<qint64>(s.heardStartAtMs - s.startCalledAtMs, 0, 1000);
    dropTimer(s.startCheckTimer);
}

void AudioEngine::armStartCheck(PlaybackSlot& s, int ms)
{
    slotTimer(s, &PlaybackSlot::startCheckTimer, &AudioEngine::startCheckFired)->start(ms);
}

// The run was not heard in time: a fresh player takes over from the same
// point, and a second stall ends the sound with its error, so that nothing
// stays lit and silent. A player that never played counts as stalled too.
// Left alone: a run that played to its end before its start counted as
// heard (it simply played), one the operator stopped (its stop fade ends
// it), and a source still arriving (it may well play late).
void AudioEngine::startCheckFired(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (!s || s->startHeard || !s->active || !s->player || s->startCalledAtMs == 0)
        return;
    if (s->player->mediaStatus() == QMediaPlayer::EndOfMedia || s->stopFading || m_stopFades.contains(id)
        || stillArriving(*s))
        return;
    const QString where = QStringLiteral("%1 from %2 ms: %3 ms played in %4 ms")
                              .arg(id)
                              .arg(s->startPosMs)
                              .arg(std::max<qint64>(0, s->lastPosMs - s->startPosMs))
                              .arg(MonoClock::ms() - s->startCalledAtMs);
    if (++s->stalledStarts >= kStartTries || !canMakePlayers()) {
        VX_LOG(QStringLiteral("[AudioEngine] start stalled again, the sound ends: ") + where);
        failPlayer(s->player, tr("the audio output did not start playing it"));
        return;
    }
    VX_LOG(QStringLiteral("[AudioEngine] start stalled, a new player takes over: ") + where);
    replaceStalledPlayer(*s);
    emit startRetried(id, tr("the audio output did not start playing it; a new player took over"));
}

// A stream, or a local file still being written (a preview played while it
// downloads): it can stand still or creep for a while and still play.
bool AudioEngine::stillArriving(const PlaybackSlot& s)
{
    const QUrl source = s.player ? s.player->source() : QUrl();
    if (source.scheme().startsWith(QLatin1String("http")))
        return true;
    return source.isLocalFile() && writtenRecently(source.toLocalFile());
}

bool AudioEngine::writtenRecently(const QString& path)
{
    const QDateTime written = QFileInfo(path).lastModified();
    return written.isValid() && written.msecsTo(QDateTime::currentDateTime()) < kArrivingMs;
}

void AudioEngine::replaceStalledPlayer(PlaybackSlot& s)
{
    const QAudioDevice device = s.output ? s.output->device() : QAudioDevice();
    const QUrl source = s.player->source();
    killFadeIn(s);
    killTrimOut(s);
    killEndFade(s);
    QMediaPlayer* stalled = std::exchange(s.player, nullptr);
    QAudioOutput* output = std::exchange(s.output, nullptr);
    detachPlayer(stalled);
    stalled->stop();
    stalled->deleteLater();
    if (output)
        output->deleteLater();
    makePlayer(s, device, source);
    s.fadeInHeld = s.fadeInMs > 10;
    s.endFade = 1.0;
    applyOutput(s);
    connectPlayer(s.player);
    startWhenReady(s, s.startPosMs);
}

// The trim-out is timed on the sound clock, set again at every report: the
// reports alone come up to 100 ms apart, and a timer from the start call
// alone ends the sound early by however long the start took to be heard. A
// report at or past the mark still ends it as well.
void AudioEngine::armTrimOut(PlaybackSlot& s)
{
    const qint64 endMs = s.trimOut > 0 ? qint64(s.trimOut * 1000.0) : 0;
    if (endMs <= 0 || s.prepareOnly) {
        killTrimOut(s);
        return;
    }
    QTimer* timer = slotTimer(s, &PlaybackSlot::trimOutTimer, &AudioEngine::trimOutTimerFired);
    timer->start(int(std::clamp<qint64>(trimOutHeardAtMs(s) - MonoClock::ms(), 0, std::numeric_limits<int>::max())));
}

// When the trim-out is heard, on the sound clock.
qint64 AudioEngine::trimOutHeardAtMs(const PlaybackSlot& s) const
{
    return s.heardStartAtMs + (qint64(s.trimOut * 1000.0) - s.startPosMs);
}

// The slot's single-shot timer kept in field, made on first use: it calls
// fire with the slot's id while it is still that slot's timer.
QTimer* AudioEngine::slotTimer(PlaybackSlot& s, QTimer* PlaybackSlot::*field, void (AudioEngine::*fire)(QString))
{
    if (QTimer* timer = s.*field)
        return timer;
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    s.*field = timer;
    const QString id = s.id;
    connect(timer, &QTimer::timeout, this, [this, id, timer, field, fire] {
        PlaybackSlot* slot = slotFor(id);
        if (slot && slot->*field == timer)
            (this->*fire)(id);
    });
    return timer;
}

void AudioEngine::killTrimOut(PlaybackSlot& s)
{
    dropTimer(s.trimOutTimer);
}

// A looping sound goes round: from its trim-in again, at full level.
void AudioEngine::restartLoop(PlaybackSlot& s)
{
    s.endFade = 1.0;
    applyOutput(s);
    seekAndPlay(s);
}

// ---- the seamless loop --------------------------------------------------

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
    s.nextOutput = device.isNull() ? new QAudioOutput(this) : new QAudioOutput(device, this);
    s.nextOutput->setVolume(0);
    s.nextPlayer = new QMediaPlayer(this);
    s.nextPlayer->setAudioOutput(s.nextOutput);
    QMediaPlayer* next = s.nextPlayer;
    const qint64 startMs = startPosFor(s.path, s.trimIn);
    auto seekWhenReady = [next, startMs] {
        const QMediaPlayer::MediaStatus st = next->mediaStatus();
        const bool loaded = st == QMediaPlayer::LoadedMedia || st == QMediaPlayer::BufferedMedia;
        if (loaded && startMs > 0 && next->isSeekable() && next->position() != startMs
            && next->playbackState() == QMediaPlayer::StoppedState)
            next->setPosition(startMs);
    };
    connect(next, &QMediaPlayer::mediaStatusChanged, next, seekWhenReady);
    connect(next, &QMediaPlayer::seekableChanged, next, seekWhenReady);
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
    if (!s || !s->loop || !s->active || !nextRoundReady(*s))
        return;
    const qint64 tailLeftMs = std::max<qint64>(0, heardEndAtMs(*s) - MonoClock::ms());
    releaseTail(*s);
    killEndFade(*s);
    detachPlayer(s->player);
    s->tailPlayer = std::exchange(s->player, std::exchange(s->nextPlayer, nullptr));
    s->tailOutput = std::exchange(s->output, std::exchange(s->nextOutput, nullptr));
    QMediaPlayer* tail = s->tailPlayer;
    if (s->trimOut > 0) {
        QTimer::singleShot(int(tailLeftMs), Qt::PreciseTimer, tail, [this, id, tail] {
            PlaybackSlot* slot = slotFor(id);
            if (slot && slot->tailPlayer == tail)
                releaseTail(*slot);
        });
    } else {
        connect(tail, &QMediaPlayer::playbackStateChanged, tail, [this, id, tail](QMediaPlayer::PlaybackState st) {
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
    QMediaPlayer* player = std::exchange(s.tailPlayer, nullptr);
    QAudioOutput* output = std::exchange(s.tailOutput, nullptr);
    if (m_serverGone) {
        parkPlayer(player, output);
        return;
    }
    if (player) {
        detachPlayer(player);
        QObject::disconnect(player, nullptr, player, nullptr);
        player->stop();
        player->deleteLater();
    }
    if (output)
        output->deleteLater();
}

void AudioEngine::releaseLoopPlayers(PlaybackSlot& s)
{
    dropTimer(s.wrapTimer);
    releaseTail(s);
    s.tailPlayer = std::exchange(s.nextPlayer, nullptr);
    s.tailOutput = std::exchange(s.nextOutput, nullptr);
    releaseTail(s);
}

// The trim-out timer is set from a guess of how long a start takes to be
// heard until the reports place it; whether the start counts as heard yet
// does not put it off (a range shorter than that would play on). A report
// that placed the start later since it was set moves it on.
void AudioEngine::trimOutTimerFired(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (s && s->trimOutTimer && s->trimOut > 0 && s->startCalledAtMs > 0) {
        const qint64 left = trimOutHeardAtMs(*s) - MonoClock::ms();
        if (left > 0) {
            s->trimOutTimer->start(int(std::min<qint64>(left, std::numeric_limits<int>::max())));
            return;
        }
        if (standsShortOfTrimOut(*s)) {
            s->trimOutTimer->start(kFadeTickMs);
            return;
        }
    }
    reachTrimOut(id);
}

// A run whose start is not heard yet and whose reports have not come within
// a report of its trim-out has not played its range: its back end stands
// still (or has not started). It is left to the start check, which gives it
// a fresh player or ends it with an error, rather than ended silent as if
// it had played.
bool AudioEngine::standsShortOfTrimOut(const PlaybackSlot& s) const
{
    const qint64 endMs = qint64(s.trimOut * 1000.0);
    return !s.startHeard && s.startCheckTimer && s.startCheckTimer->isActive()
        && s.lastPosMs < endMs - kReportSpacingMs;
}

// The sound reached its trim-out: a looping one starts again from its
// trim-in at full level, any other ends.
void AudioEngine::reachTrimOut(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (!s)
        return;
    if (s->loop) {
        restartLoop(*s);
        return;
    }
    s->loop = false;
    removeSlot(id);
    emitStoppedAndMaybeAll(id);
}

// ---- player reports -----------------------------------------------------

void AudioEngine::onMediaStatusChanged(QMediaPlayer::MediaStatus status)
{
    auto* player = qobject_cast<QMediaPlayer*>(sender());
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
    auto* player = qobject_cast<QMediaPlayer*>(sender());
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
    const qint64 dur = s.player ? s.player->duration() : 0;
    const qint64 heardEnd = s.startCalledAtMs > 0 && dur > s.startPosMs ? s.heardStartAtMs + (dur - s.startPosMs) : now;
    const qint64 wait = std::clamp<qint64>(heardEnd - now + kEndedHoldMs, kEndedHoldMs, kEndedHoldMaxMs);
    slotTimer(s, &PlaybackSlot::releaseTimer, &AudioEngine::releaseEndedMedia)->start(int(wait));
}

// An ended slot keeps its record (it is reported stopped once more when
// stopped, and a press starts it anew through play) but not its media: the
// player's source is cleared, which ends its pipeline and its stream.
void AudioEngine::releaseEndedMedia(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (!s)
        return;
    dropTimer(s->releaseTimer);
    QMediaPlayer* player = s->player;
    if (s->active || !player || player->playbackState() != QMediaPlayer::StoppedState || player->source().isEmpty())
        return;
    s->endedDurationMs = player->duration();
    s->startPending = false;
    disconnect(player, &QMediaPlayer::positionChanged, this, &AudioEngine::onPositionChanged);
    player->setSource(QUrl());
}

// Keeps the table of ended slots from growing without end: at most one other
// ended, stopped slot goes per natural end once there are more than 48.
void AudioEngine::purgeEndedSlot(const QString& keep)
{
    if (m_slots.size() <= kPurgeAbove)
        return;
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it) {
        const PlaybackSlot* o = it.value();
        if (it.key() == keep || o->active || !o->player)
            continue;
        if (o->player->playbackState() == QMediaPlayer::StoppedState) {
            removeSlot(it.key());
            return;
        }
    }
}

void AudioEngine::onPositionChanged(qint64 pos)
{
    auto* player = qobject_cast<QMediaPlayer*>(sender());
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
    auto* player = qobject_cast<QMediaPlayer*>(sender());
    if (player)
        failPlayer(player, errorString);
}

// A player that cannot play ends its slot: the error is reported, and a slot
// that counted as playing reports its stop so the display does not stay lit.
void AudioEngine::failPlayer(QMediaPlayer* player, const QString& errorString)
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
void AudioEngine::queueFailureCheck(QMediaPlayer* player)
{
    QPointer<QMediaPlayer> p(player);
    QMetaObject::invokeMethod(
        this,
        [this, p] {
            if (p)
                failPlayer(p, p->errorString());
        },
        Qt::QueuedConnection);
}

// ---- fades --------------------------------------------------------------

// The fade-in rises in steps of kFadeTickMs on the sound clock, each made
// the back end's volume lead before it is to be heard.
void AudioEngine::startFadeIn(PlaybackSlot& s)
{
    if (s.fadeInMs <= 10 || s.fadeInTimer || !s.output)
        return;
    if (s.startCalledAtMs == 0)
        noteStart(s, s.player ? s.player->position() : 0);
    s.fadeInSteps = stepsFor(s.fadeInMs);
    auto* timer = new QTimer(this);
    timer->setInterval(kFadeTickMs);
    s.fadeInTimer = timer;
    applyOutput(s);
    const QString id = s.id;
    connect(timer, &QTimer::timeout, this, [this, id, timer] { fadeInTick(id, timer); });
    timer->start();
}

void AudioEngine::fadeInTick(const QString& id, QTimer* timer)
{
    PlaybackSlot* s = slotFor(id);
    if (!s || s->fadeInTimer != timer) {
        timer->stop();
        timer->deleteLater();
        return;
    }
    const double level = outputLevel(*s);
    applyOutput(*s);
    const double target = std::min(appliedVolume(*s), 1.0);
    if (fadeInStepsHeard(*s) >= s->fadeInSteps || level >= target - 1e-6) {
        killFadeIn(*s);
        applyOutput(*s);
    }
}

void AudioEngine::killFadeIn(PlaybackSlot& s)
{
    if (s.fadeInTimer) {
        s.fadeInTimer->stop();
        s.fadeInTimer->deleteLater();
        s.fadeInTimer = nullptr;
    }
    s.fadeInSteps = 0;
    s.fadeInHeld = false;
}

// Where in the file the output writes now, on the sound clock: the place a
// volume change made now is heard at. Before a run has started, the last
// report.
qint64 AudioEngine::writePosMs(const PlaybackSlot& s) const
{
    if (s.startCalledAtMs == 0)
        return s.lastPosMs;
    return s.startPosMs + (MonoClock::ms() - s.heardStartAtMs) + m_timing.volumeLeadMs;
}

// The back end writes the first moments of a run in one block, at the level
// it finds then, into an output that is empty: that block is heard about as
// soon as it is written, not a volume lead later. Until a report says the
// run is under way the fade is stepped as heard, so that the block never
// rises above the ramp (a start delay learnt shorter than the lead would
// otherwise have it written some steps up).
int AudioEngine::fadeInStepsHeard(const PlaybackSlot& s) const
{
    const bool underWay = s.startCalledAtMs == 0 || s.startHeard || s.anchorAtMs != 0;
    const qint64 into = writePosMs(s) - s.startPosMs - (underWay ? 0 : m_timing.volumeLeadMs);
    return into <= 0 ? 0 : int(std::min<qint64>(into / kFadeTickMs, std::numeric_limits<int>::max()));
}

// The fade-out before the end (the trim-out, else the file's end), on the
// sound clock: a timer wakes when the writes reach the fade and then sets
// the level every kFadeTickMs until it has fallen to nothing; the reports
// play no part once the run has started. Before that, a report near the
// fade starts the steps.
void AudioEngine::updateEndFade(PlaybackSlot& s)
{
    const qint64 end = s.trimOut > 0 ? qint64(s.trimOut * 1000.0) : (s.player ? s.player->duration() : 0);
    if (s.fadeOutMs <= 10 || !s.output || end <= 0) {
        killEndFade(s);
        return;
    }
    const qint64 fadeStart = end - qint64(s.fadeOutMs);
    const qint64 at = writePosMs(s);
    const double before = s.endFade;
    if (at >= fadeStart) {
        const double f = double(at - fadeStart) / s.fadeOutMs;
        s.endFade = f >= 1.0 ? 0.0 : 1.0 - f;
    } else {
        s.endFade = 1.0;   // before the fade, again after a loop round or a seek
    }
    if (s.endFade != before)
        applyOutput(s);
    const bool started = s.startCalledAtMs > 0;
    if (s.endFade <= 0 || (!started && at < fadeStart - kReportSpacingMs)) {
        killEndFade(s);
        return;
    }
    const qint64 wait = started ? std::max<qint64>(kFadeTickMs, fadeStart - at) : kFadeTickMs;
    QTimer* timer = slotTimer(s, &PlaybackSlot::endFadeTimer, &AudioEngine::endFadeStep);
    timer->start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

void AudioEngine::endFadeStep(QString id)
{
    if (PlaybackSlot* s = slotFor(id))
        updateEndFade(*s);
}

void AudioEngine::killEndFade(PlaybackSlot& s)
{
    dropTimer(s.endFadeTimer);
}

void AudioEngine::killStopFade(const QString& id)
{
    if (QTimer* t = m_stopFades.take(id)) {
        t->stop();
        t->deleteLater();
    }
}

void AudioEngine::stopFadeTick(const QString& id)
{
    PlaybackSlot* s = slotFor(id);
    if (s) {
        ++s->stopFadeTick;
        applyOutput(*s);
    }
    if (!s || s->stopFadeTick >= s->stopFadeSteps)
        finishStop(id);
}

void AudioEngine::finishStop(const QString& id)
{
    killStopFade(id);
    removeSlot(id);
    emitStoppedAndMaybeAll(id);
}

// ---- stopping -----------------------------------------------------------

void AudioEngine::detachPlayer(QMediaPlayer* player)
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
    PlaybackSlot* s = slotFor(id);
    if (!s)
        return;
    // A stop fade already runs for it: that fade ends it, once.
    if (m_stopFades.contains(id))
        return;
    s->loop = false;
    if (s->stopFadeMs > 0 && (s->output || s->stream)) {
        const double now = s->stream ? s->stream->level() : s->output->volume();
        s->stopFadeFrom = std::clamp(now, 0.0, 1.0);
        killFadeIn(*s);
        s->stopFadeSteps = stepsFor(s->stopFadeMs);
        s->stopFadeTick = 0;
        s->stopFading = true;
        applyOutput(*s);
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
    const QList<QString> ids = m_slots.keys();
    for (const QString& id : ids) {
        PlaybackSlot* s = slotFor(id);
        if (!s)
            continue;
        s->stopFadeMs = 0;
        removeSlot(id);
        emit playStopped(id);
    }
    if (!ids.isEmpty())
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
    const QList<PlaybackSlot*> all = m_slots.values();
    m_slots.clear();
    for (PlaybackSlot* s : all) {
        releaseSlotMedia(*s);
        // A handler further up the stack may still hold the record.
        if (QCoreApplication::instance())
            QTimer::singleShot(0, QCoreApplication::instance(), [s] { delete s; });
        else
            delete s;
    }
    emit allStopped();
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

void AudioEngine::releaseSlotMedia(PlaybackSlot& s)
{
    // A stream only hears that it is to end: it never keeps this thread.
    dropTimer(s.streamTimer);
    delete std::exchange(s.stream, nullptr);
    killFadeIn(s);
    killTrimOut(s);
    killEndFade(s);
    dropTimer(s.startCheckTimer);
    dropTimer(s.releaseTimer);
    releaseLoopPlayers(s);
    if (m_serverGone) {
        parkPlayer(s.player, s.output);
        return;
    }
    if (s.player) {
        // Cut the connections first, so stopping it reports nothing.
        detachPlayer(s.player);
        s.player->stop();
        s.player->deleteLater();
    }
    if (s.output)
        s.output->deleteLater();
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
    return s && s->active;
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

PlaybackSlot* AudioEngine::slotForPlayer(QMediaPlayer* player) const
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
    if (!m_outputLost && !m_slots.isEmpty() && !serverStillOurs()) {
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
    if (m_serverGone) {
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
    if (!FileCheck::isRegularFile(file) || !canMakePlayers()) {
        if (m_serverGone)
            return;   // no player can be made again: no more probes
        probeDone(false);
        return;
    }
    auto* output = new QAudioOutput(this);
    output->setVolume(0);
    m_probe = new QMediaPlayer(this);
    output->setParent(m_probe);
    m_probe->setAudioOutput(output);
    QMediaPlayer* probe = m_probe;
    auto moved = [this, probe] {
        if (m_probe == probe)
            probeDone(true);
    };
    connect(probe, &QMediaPlayer::positionChanged, this, [moved](qint64 pos) {
        if (pos > 0)
            moved();
    });
    connect(probe, &QMediaPlayer::mediaStatusChanged, this, [moved](QMediaPlayer::MediaStatus st) {
        if (st == QMediaPlayer::EndOfMedia)
            moved();
    });
    QTimer::singleShot(kProbeWaitMs, probe, [this, probe] {
        if (m_probe == probe)
            probeDone(false);
    });
    probe->setSource(QUrl::fromLocalFile(file));
    probe->play();
}

void AudioEngine::probeDone(bool moved)
{
    if (m_probe) {
        QObject::disconnect(m_probe, nullptr, this, nullptr);
        m_probe->stop();
        m_probe->deleteLater();
        m_probe = nullptr;
    }
    if (moved) {
        VX_LOG(QStringLiteral("[AudioEngine] output back"));
        m_outputLost = false;
        emit outputRestored();
        return;
    }
    m_probeDelayMs = std::min(m_probeDelayMs * 2, kProbeMaxMs);
    m_probeTimer->start(m_probeDelayMs);
}
