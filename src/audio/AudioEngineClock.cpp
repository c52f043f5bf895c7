// The sound clock of a media player's run and the start check: when the
// run's first sample is heard (guessed at the start, then placed by the
// position reports), the trim-out timed on that clock, and the fresh player
// that takes over a start that stalled.
#include "AudioEngine.h"
#include "AudioEngineUtil.h"

#include "MediaPlayer.h"
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "FileCheck.h"
#include "KnownFiles.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "PcmDecoder.h"
#include "SafeWrite.h"

using namespace AudioEngineUtil;

// ---- the sound clock and the start check ---------------------------------

// Starts a run from startMs. Every run but a rapid restart fades in (a loop
// round too, as the pre-decoded sounds do); the fade holds the output
// silent from before the first sample is written.
void AudioEngine::startFrom(PlaybackSlot& s, qint64 startMs, bool withFadeIn)
{
    dropTimer(s.releaseTimer);   // an ended player started again keeps its media
    stillArriving(s);            // a first look at its file's size, for the start check
    noteStart(s, startMs);
    armStartCheck(s, kStartWaitMs);
    if (withFadeIn) {
        killFadeIn(s);
        startFadeIn(s);
    }
    MediaPlayer* player = s.player;
    player->play();
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
    soundHeld();   // a run started in a stall is heard once it ends
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
    reportHeard(s.id);
}

// From the event loop: a receiver may stop other sounds, and the report of
// a position that told it is still being handled.
void AudioEngine::reportHeard(const QString& id)
{
    QMetaObject::invokeMethod(this, [this, id] { emit startHeard(id); }, Qt::QueuedConnection);
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
    // A start the server holds back has not failed: it is checked again
    // once the server has answered for a while.
    if (soundHeld()) {
        armStartCheck(*s, kStartWaitMs);
        return;
    }
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
    return source.isLocalFile() && beingWritten(source.toLocalFile());
}

// Whether a local file is being written now: our own download writes it, or
// its size grew between this look and the one before (when that was not
// long ago), or at a look a moment ago. A file seen for the first time, or
// after a long while, counts as whole: a file copied or saved a moment
// before a press plays, whatever its date, and so does one replaced since
// it was last played. The size is the one last seen (KnownFiles): nothing
// here waits on the disk.
bool AudioEngine::beingWritten(const QString& path)
{
    if (SafeFileWriter::isBeingWritten(path))
        return true;
    const FileCheck::Stamp stamp = KnownFiles::instance()->stampOf(path);
    if (!stamp.exists()) {
        m_sizeLooks.remove(path);
        return false;
    }
    const qint64 size = stamp.size;
    const qint64 now = MonoClock::ms();
    auto it = m_sizeLooks.find(path);
    if (it == m_sizeLooks.end()) {
        if (m_sizeLooks.size() >= 512)
            m_sizeLooks.clear();
        m_sizeLooks.insert(path, SizeLook{size, now});
        return false;
    }
    if (size > it->size && now - it->lookedAtMs <= kArrivingMs) {
        it->grew = true;
        it->grewAtMs = now;
    }
    it->size = size;
    it->lookedAtMs = now;
    return it->grew && now - it->grewAtMs <= kArrivingMs;
}

void AudioEngine::replaceStalledPlayer(PlaybackSlot& s)
{
    const QAudioDevice device = s.output ? s.output->device() : QAudioDevice();
    const QUrl source = s.player->source();
    killFadeIn(s);
    killTrimOut(s);
    killEndFade(s);
    retirePlayer(std::exchange(s.player, nullptr), std::exchange(s.output, nullptr));
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

// The trim-out timer is set from a guess of how long a start takes to be
// heard until the reports place it; whether the start counts as heard yet
// does not put it off (a range shorter than that would play on). A report
// that placed the start later since it was set moves it on.
void AudioEngine::trimOutTimerFired(QString id)
{
    PlaybackSlot* s = slotFor(id);
    if (s && soundHeld())
        return;   // timed again when the server answers
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
