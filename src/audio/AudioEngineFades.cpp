// The fades of a media player's run: the fade-in from silence, the fade-out
// before the end, and a stop's fade, each stepped so that its levels are
// heard when they are due (the back end hears a volume change a while after
// it is made), and a stop let go only once its silence has been heard.
#include "AudioEngine.h"
#include "AudioEngineUtil.h"
#include "LoopStream.h"

#include "MediaPlayer.h"
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "MonoClock.h"

using namespace AudioEngineUtil;

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
    if (soundHeld() && !s->stream)
        return;
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
    const qint64 into = writePosMs(s) - s.startPosMs - (m_timing.volumeLeadMs - volumeHeardAfterMs(s));
    return into <= 0 ? 0 : int(std::min<qint64>(into / kFadeTickMs, std::numeric_limits<int>::max()));
}

// The fade-out before the end (the trim-out, else the file's end), on the
// sound clock: a timer wakes when the writes reach the fade and then sets
// the level every kFadeTickMs until it has fallen to nothing; the reports
// play no part once the run has started. Before that, a report near the
// fade starts the steps. Each step sets what is due where its hold ends
// (see kStepHoldMs): the fall is heard from its set time and is silent at
// the end, never a step behind the ramp.
void AudioEngine::updateEndFade(PlaybackSlot& s)
{
    const qint64 end = s.trimOut > 0 ? qint64(s.trimOut * 1000.0) : (s.player ? s.player->duration() : 0);
    if (s.fadeOutMs <= 10 || !s.output || end <= 0) {
        killEndFade(s);
        return;
    }
    const qint64 fadeStart = end - qint64(s.fadeOutMs);
    const qint64 at = writePosMs(s) + kStepHoldMs;
    const double before = s.endFade;
    if (at >= fadeStart) {
        const auto due = [&](qint64 pos) { return 1.0 - double(pos - fadeStart) / s.fadeOutMs; };
        s.endFade = fadeStep(due(at), due(at - kStepHoldMs));
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
    PlaybackSlot* s = slotFor(id);
    if (s && !(soundHeld() && !s->stream))
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
    if (s && !s->stream && soundHeld())
        return;
    if (s)
        stepStopFade(*s);
    if (!s || stopFadeHeard(*s))
        finishStop(id);
}

// How long after it is set a level is heard: the back end's volume lead once
// the run is under way; before its first block is written, at once (that
// block is heard as soon as it is written: see fadeInStepsHeard).
int AudioEngine::volumeHeardAfterMs(const PlaybackSlot& s) const
{
    const bool underWay = s.startCalledAtMs == 0 || s.startHeard || s.anchorAtMs != 0;
    return underWay ? m_timing.volumeLeadMs : 0;
}

// What is left of a player's stop fade, as heard. What the output had
// queued at the press plays as it was written: the fall is heard from the
// first moment a change can be, a volume lead after the press, and runs the
// fade's length from there (stepped as fadeStep says).
double AudioEngine::stopFadeLeft(const PlaybackSlot& s) const
{
    if (s.stopFadeMs <= 0)
        return 0.0;
    const int lead = volumeHeardAfterMs(s);
    const auto due = [&](qint64 heardAt) { return 1.0 - double(heardAt - (s.stopFadeAtMs + lead)) / s.stopFadeMs; };
    const qint64 now = MonoClock::ms();
    return fadeStep(due(now + lead + kStepHoldMs), due(now + lead));
}

void AudioEngine::stepStopFade(PlaybackSlot& s)
{
    applyOutput(s);
    if (!s.stream && s.stopSilentAtMs == 0 && outputLevel(s) <= 0)
        s.stopSilentAtMs = MonoClock::ms();
}

// A faded stop lets its sound go once its silence has been heard: a player
// a volume lead and a step after its level came down to nothing (what it
// still has queued is silent then), a stream when it says its fall has been
// heard to its end. Either goes kStopFadeSpareMs past its fade whatever it
// says.
bool AudioEngine::stopFadeHeard(const PlaybackSlot& s) const
{
    const qint64 now = MonoClock::ms();
    if (now - s.stopFadeAtMs >= qint64(s.stopFadeMs) + kStopFadeSpareMs)
        return true;
    if (s.stream)
        return s.stream->stopFadeHeard();
    return s.stopSilentAtMs > 0 && now - s.stopSilentAtMs >= volumeHeardAfterMs(s) + kFadeTickMs;
}

void AudioEngine::finishStop(const QString& id)
{
    killStopFade(id);
    removeSlot(id);
    emitStoppedAndMaybeAll(id);
}

// ---- a stall of the sound server ------------------------------------------

// Whether the sound server holds the players' sound now (it does not
// answer). The first tick that finds it so notes when the stall began; the
// first that finds it answering again moves the players' clocks on.
bool AudioEngine::soundHeld()
{
    const bool answers = m_players->answering();
    if (!answers && m_stalledAtMs < 0) {
        m_stalledAtMs = MonoClock::ms();
        emit soundServerStalled();
    } else if (answers && m_stalledAtMs >= 0) {
        holdClocks(std::exchange(m_stalledAtMs, -1), MonoClock::ms());
        emit soundServerAnswers();
    }
    return !answers;
}

// Nothing of a player is heard while the server stalls: its sound clock
// stood still from the stall's start (or its run's start, or its stop,
// when later) until the server answered. Each player's run is heard that
// much later, a stop's fall goes on from the level it had reached, a fade-in
// from where it was (from silence for a run started in the stall), and
// what is timed on those clocks is timed again. A stream keeps its own
// clock, which a stall holds by itself.
void AudioEngine::holdClocks(qint64 stalledAtMs, qint64 answeredAtMs)
{
    const auto heldSince = [&](qint64 at) { return answeredAtMs - std::max(stalledAtMs, at); };
    for (PlaybackSlot* s : std::as_const(m_slots)) {
        if (s->stream || !s->player || !s->active)
            continue;
        if (s->startCalledAtMs > 0 && s->startCalledAtMs < answeredAtMs) {
            const qint64 held = heldSince(s->startCalledAtMs);
            s->heardStartAtMs += held;
            if (s->anchorAtMs > 0)
                s->anchorAtMs += held;
            s->lastMoveAtMs = answeredAtMs;
        }
        if (s->stopFading && s->stopFadeAtMs < answeredAtMs) {
            const qint64 held = heldSince(s->stopFadeAtMs);
            s->stopFadeAtMs += held;
            if (s->stopSilentAtMs > 0)
                s->stopSilentAtMs += held;
        }
        if (s->startCheckTimer && s->startCheckTimer->isActive())
            armStartCheck(*s, kStartWaitMs);
        if (s->trimOutTimer)
            armTrimOut(*s);
        applyOutput(*s);
        updateEndFade(*s);
        armWrap(*s);
    }
}
