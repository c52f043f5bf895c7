// Loops, and short sounds played once, on an output stream of their own
// (LoopStream) rather than a media player: which sounds go there, the stream's
// reports and ends, the move to a player when no stream can be had, and the
// file-head facts (length, PCM rate) that choose them and place a run's start
// in its file.
#include "AudioEngine.h"
#include "AudioEngineUtil.h"
#include "LoopStream.h"

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
#include "FileHeads.h"
#include "KnownFiles.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "SafeWrite.h"

using namespace AudioEngineUtil;

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
    return length > 0 && length <= kShortSoundMs && !beingWritten(s.path);
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
    p.follows = m_endedStreams.take(id);
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
    if (pos >= 0 && !s->streamHeard) {
        s->streamHeard = true;
        reportHeard(id);
    }
    if (pos >= 0 && pos != s->lastPosMs) {
        s->lastPosMs = pos;
        emit positionChanged(id, pos, s->stream->durationMs());
    }
}

// A stream that could not start (no sound card stream, or a file our decoder
// does not read) leaves the sound to a media player, as before streams. The
// press was reported started already: the player's start is not again.
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
    m_announceStart = false;
    play(b, dev);
    m_loopStreams = was;
    setButtonFade(b.id, stopFade);
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

// What was read ahead of the file's header for its version last seen, into
// *head; false for one not read yet, and a read is asked for (a stream's
// needs none and counts as read). Never touches the disk: the window's
// thread does not wait on a header.
bool AudioEngine::lookUpHead(const QString& path, FileHead* head)
{
    if (path.isEmpty() || path.startsWith(QLatin1String("http")))
        return true;
    if (FileHeads::instance()->find(path, head))
        return true;
    FileHeads::instance()->readAhead({path});
    return false;
}

AudioEngine::FileHead AudioEngine::fileHeadOf(const QString& path)
{
    FileHead head;
    return lookUpHead(path, &head) ? head : FileHead{};
}

void AudioEngine::readHeadsAhead(const QStringList& paths)
{
    FileHeads::instance()->readAhead(paths);
}

bool AudioEngine::headKnown(const QString& path)
{
    return lookUpHead(path, nullptr);
}

QString AudioEngine::lostOutputRefusal() const
{
    // The players cannot follow a sound server that went, even when another
    // one answers now: the pre-decoded sounds come back with it, not this.
    return m_players->isGone() ? tr("The sound server was lost: it cannot play until the program is restarted")
                        : tr("The audio output was lost");
}

// A press whose file's header is not read for its version last seen waits
// for the read, on a thread of its own, rather than being tried blind: only
// the header tells a file that cannot play, and a short sound's stream. The
// window's thread never waits on it. A file this program is still writing
// (a preview while it downloads) has no steady header: it is tried at once.
bool AudioEngine::waitForHead(const ButtonData& button, const QString& deviceId, bool announce)
{
    const QString& path = button.audioPath;
    if (path.startsWith(QLatin1String("http")) || FileHeads::instance()->find(path, nullptr)
        || SafeFileWriter::isBeingWritten(path))
        return false;
    const QString id = button.id;
    auto* timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("headWait"));
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, id] { goOnWithPress(id, true); });
    timer->start(kHeadWaitMs);
    m_headWaits.insert(id, {button, deviceId, announce, m_loopStreams, timer});
    VX_LOG(QStringLiteral("[AudioEngine] %1 waits for the header of %2").arg(id, path));
    FileHeads::instance()->readFirst(path);
    return true;
}

void AudioEngine::headRead(const QString& path)
{
    QStringList ready;
    bool changed = false;
    for (auto it = m_headWaits.cbegin(); it != m_headWaits.cend(); ++it) {
        if (it->button.audioPath != path)
            continue;
        if (FileHeads::instance()->find(path, nullptr))
            ready << it.key();
        else
            changed = true;
    }
    // Seen changed again since that read: the new version is read for it.
    if (changed)
        FileHeads::instance()->readFirst(path);
    for (const QString& id : std::as_const(ready))
        goOnWithPress(id, false);
}

void AudioEngine::goOnWithPress(QString id, bool untold)
{
    const auto it = m_headWaits.constFind(id);
    if (it == m_headWaits.constEnd())
        return;
    const HeadWait wait = *it;
    dropHeadWait(id);
    if (untold)
        VX_LOG(QStringLiteral("[AudioEngine] the header of %1 was not read in time; tried as it is")
                   .arg(wait.button.audioPath));
    m_announceStart = wait.announce;
    m_goOnUnread = untold;
    const bool streams = std::exchange(m_loopStreams, wait.streams);
    play(wait.button, wait.deviceId);
    m_loopStreams = streams;
}

bool AudioEngine::dropHeadWait(const QString& id)
{
    const auto it = m_headWaits.find(id);
    if (it == m_headWaits.end())
        return false;
    if (it->timer) {
        it->timer->stop();
        it->timer->deleteLater();
    }
    m_headWaits.erase(it);
    return true;
}
