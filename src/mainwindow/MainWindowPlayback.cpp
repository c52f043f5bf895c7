// Play requests and the way back from the engines to the display: the routing
// of a press under the playback rules, the start, stop and position reports,
// the master and tab volumes, and the state derived from the tab positions
// and keys.
#include "MainWindow.h"
#include "AudioEngine.h"

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <cmath>

#include "ButtonGrid.h"
#include "DirectSoundEngine.h"
#include "EventLog.h"
#include "GridHeader.h"
#include "NowPlayingBar.h"
#include "OpLog.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "ThemeManager.h"

namespace {

constexpr int kStripTitlePx = 155;
constexpr int kDotPx = 11;
constexpr double kMaxButtonGain = 2.0;

MainWindow::WallClock& wallClockSlot()
{
    static MainWindow::WallClock clock;
    return clock;
}

QString titleOf(const QString& name, const QString& path)
{
    return name.isEmpty() ? QFileInfo(path).completeBaseName() : name;
}

QString accentName()
{
    return ThemeManager::instance()->colors().accent.name();
}

// Whether a press resolved to this output may play on the pre-decoded
// engine, which plays on the system's default output: no output named, or
// the default one by its id.
bool onDefaultOutput(const QString& device)
{
    return device.isEmpty() || device == QString::fromUtf8(QMediaDevices::defaultAudioOutput().id());
}

// The record of id in tab t of the session, or null.
const ButtonData* sessionRecord(int t, const QString& id)
{
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (t < 0 || t >= tabs.size())
        return nullptr;
    for (const ButtonData& b : tabs[t].buttons)
        if (b.id == id)
            return &b;
    return nullptr;
}

// "m:ss" with the minutes unbounded.
QString minSec(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

// --- Clock, seam and small helpers ---------------------------------------------

void MainWindow::setWallClock(WallClock clock)
{
    wallClockSlot() = std::move(clock);
}

qint64 MainWindow::wallNow()
{
    const WallClock& clock = wallClockSlot();
    return clock ? clock() : QDateTime::currentMSecsSinceEpoch();
}

void MainWindow::setPlaybackEngines(PlaybackEngines* e)
{
    m_engines = e ? e : &PlaybackEngines::system();
}

double MainWindow::effectiveTabVolume(double v)
{
    return v < 0.01 ? 1.0 : v;
}

SoundButton* MainWindow::findButtonWidget(const QString& id, int* pane) const
{
    for (int p = 0; p < m_panels.size(); ++p) {
        const ButtonGrid* grid = m_panels[p].grid.data();
        if (!grid)
            continue;
        if (SoundButton* w = grid->buttonWidgetById(id)) {
            if (pane)
                *pane = p;
            return w;
        }
    }
    return nullptr;
}

int MainWindow::tabOfButton(const QString& id)
{
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    // The cache is rebuilt at every change of the tab list; a hit is still
    // checked against its tab, which costs one short walk.
    const auto hit = tabIndexCache.constFind(id);
    if (hit != tabIndexCache.constEnd() && *hit >= 0 && *hit < tabs.size()) {
        for (const ButtonData& b : tabs[*hit].buttons)
            if (b.id == id)
                return *hit;
    }
    // With an id in two tabs, the later tab wins.
    int found = -1;
    for (int t = 0; t < tabs.size(); ++t) {
        for (const ButtonData& b : tabs[t].buttons) {
            if (b.id == id) {
                tabIndexCache.insert(id, t);
                found = t;
                break;
            }
        }
    }
    return found;
}

void MainWindow::setNpDotColor(const QString& color, int px)
{
    if (!npDot)
        return;
    const QString style = QStringLiteral("color:%1;font-size:%2px;").arg(color).arg(px);
    // Setting the same sheet again would re-polish the label for nothing.
    if (npDot->styleSheet() != style)
        npDot->setStyleSheet(style);
}

void MainWindow::setStripTitle(const QString& title)
{
    if (npTitle)
        npTitle->setText(QFontMetrics(npTitle->font()).elidedText(title, Qt::ElideRight, kStripTitlePx));
}

void MainWindow::setStripTrack(const ButtonData& b)
{
    showOnStrip(b.id, b.name, b.audioPath);
}

void MainWindow::showOnStrip(const QString& id, const QString& title, const QString& path)
{
    nowPlayingId = id;
    barSetTrack(title, path);
    setStripTitle(titleOf(title, path));
    // The time shown is this sound's, from its next report on.
    if (npTime)
        npTime->clear();
    setNpDotColor(accentName(), kDotPx);
}

void MainWindow::showStripIdle()
{
    nowPlayingId.clear();
    if (nowPlayingBar)
        nowPlayingBar->clearTrack();
    if (npTitle)
        npTitle->setText(QStringLiteral("No Track"));
    if (npTime)
        npTime->clear();
    setNpDotColor(ThemeManager::instance()->colors().textMuted.name(), kDotPx);
}

bool MainWindow::isSounding(const QString& id)
{
    PlaybackEngines& e = engines();
    return !id.isEmpty()
           && (e.audioIsPlaying(id) || e.dsIsPlaying(id) || e.wasapiIsPlaying(id) || e.pcmIsPlaying(id));
}

// The music panel's now-playing bar, once the panel has built it.
void MainWindow::barSetTrack(const QString& title, const QString& path)
{
    if (nowPlayingBar)
        nowPlayingBar->setTrack(title, path);
}

void MainWindow::barSetPosition(qint64 posMs, qint64 durMs)
{
    if (nowPlayingBar)
        nowPlayingBar->setPosition(posMs, durMs);
}

// --- The routing of one press ------------------------------------------------

// A pre-decoded sound made from an earlier version of the button's file (the
// file was saved over, or has grown since) is decoded anew; until that is
// done the press plays the file as it is now through the players.
void MainWindow::refreshChangedSound(const ButtonData& btn)
{
    PlaybackEngines& e = engines();
    if (preloadOn && e.dsInitialized() && e.dsStale(btn.id))
        e.dsPreload(btn);
}

QString MainWindow::pressOutput(const ButtonData& btn, const TabData* tab) const
{
    if (!btn.outputDevice.isEmpty())
        return btn.outputDevice;
    if (tab && !tab->soundCard.isEmpty())
        return tab->soundCard;
    return defaultDevice;
}

// As a press decides it (a lost output aside, which is told of its own). A
// sound the engine holds that no button of the session has plays as one on
// the default output would.
bool MainWindow::playsFromMemory(const QString& id)
{
    PlaybackEngines& e = engines();
    if (!preloadOn || !e.dsInitialized() || !e.dsReady(id))
        return false;
    const int t = tabOfButton(id);
    const TabData* tab = t >= 0 ? &SessionManager::instance()->session().tabs[t] : nullptr;
    const ButtonData* b = sessionRecord(t, id);
    return onDefaultOutput(b ? pressOutput(*b, tab) : defaultDevice);
}

bool MainWindow::refusedStart(const ButtonData& btn)
{
    const QString why = engines().audioStartRefusal(btn);
    if (why.isEmpty())
        return false;
    onPlaybackError(btn.id, why);
    return true;
}

// The rules a press plays under (its tab's own when it overrides them, else
// the toolbar's), its output, and the engine that can take it.
MainWindow::PressPlan MainWindow::planPress(const ButtonData& btn)
{
    PlaybackEngines& e = engines();
    const Session& s = SessionManager::instance()->session();
    PressPlan p;
    p.tab = tabOfButton(btn.id);
    const TabData* tab = p.tab >= 0 ? &s.tabs[p.tab] : nullptr;
    const bool ownRules = tab && tab->useTabPb;
    p.autoStop = ownRules ? tab->pb_as : s.autoStop;
    p.restart = ownRules ? tab->pb_rs : s.restart;
    p.crossTab = ownRules ? tab->pb_cts : (crossTabStopToggle && crossTabStopToggle->isChecked());
    p.fade = tab ? tab->fadeMs : 0.0;
    p.device = pressOutput(btn, tab);
    // The pre-decoded engine plays on the default output only: a button, tab
    // or window default naming another output plays through the players, there.
    // With its output lost it plays nothing: the players take the press (or
    // report that they cannot). With pre-loading off every press goes to the
    // players.
    refreshChangedSound(btn);
    p.dsUsable = preloadOn && e.dsInitialized() && e.dsReady(btn.id) && onDefaultOutput(p.device)
                 && e.dsOutputAvailable();
    // Without a tab the sound plays at the button's own volume.
    p.tabVol = p.tab >= 0 ? e.audioTabVolume(p.tab) : 1.0;
    p.played = btn;
    p.played.volume = btn.volume * p.tabVol;
    if (p.played.volume > kMaxButtonGain)
        p.played.volume = kMaxButtonGain;
    else if (!(p.played.volume > 0.0))
        p.played.volume = 0.0;
    return p;
}

void MainWindow::onPlayRequested(const ButtonData& btn)
{
    VX_LOG(QStringLiteral("[onPlayRequested] id=") + btn.id + QStringLiteral(" path=") + btn.audioPath);
    if (btn.audioPath.isEmpty()) {
        onEditRequested(btn.id, QStringLiteral("assign"));
        return;
    }
    PlaybackEngines& e = engines();
    soundStartedSincePanic = true;
    applyPlaybackState();
    const PressPlan p = planPress(btn);

    // Rapid buttons overlap their presses: no rules, only the button lights.
    if (btn.rapid) {
        pressRapid(btn, p);
        return;
    }

    // A sound on its stop fade is shown idle already: a press on it is a new
    // start, never a second stop.
    const bool wasPlaying = (e.audioIsPlaying(btn.id) && !e.audioIsStopping(btn.id))
                            || (e.dsIsMasterPlaying(btn.id) && !e.dsIsFadingOut(btn.id));

    // A press that cannot play changes nothing: it is refused before its
    // stops. (A second press that stops its sound, and a restart of a running
    // player, play no file anew.) A file whose header is not read yet for
    // its version is not looked at here: its start waits for the header and
    // then tells, and the stops wait until it is heard (see onStartHeard).
    const bool startsAnew = !wasPlaying || (p.restart && !e.audioIsPlaying(btn.id));
    if (startsAnew && !p.dsUsable && refusedStart(btn))
        return;
    const bool holdStops = startsAnew && !p.dsUsable && !e.audioStartKnown(btn);

    const QStringList toStop = stopsForPress(btn, p.tab, p.autoStop, p.crossTab);
    if (!holdStops)
        stopListed(toStop, p.fade);

    if (wasPlaying) {
        if (!p.restart) {
            routedStop(btn.id, p.fade);
            return;
        }
        if (e.audioIsPlaying(btn.id)) {
            // The running player restarts from its trim-in point.
            e.audioPlayRapid(p.played, p.device);
            return;
        }
        // Playing on the pre-decoded engine only: its start below rewinds it.
    }

    if (holdStops) {
        // Told before the start: its own start report must not show it.
        heldPresses.insert(btn.id, HeldPress{btn, toStop, p.fade, false});
        VX_LOG(QStringLiteral("[onPlayRequested] id=%1: its stops wait until it is heard").arg(btn.id));
    }
    startPressed(btn, p, wasPlaying);
    if (!holdStops)
        showRoutedStart(btn);
    followOutput(p.device);
    if (p.dsUsable)
        watchDsSound(btn.id);
}

// A rapid press: no rules, no strip, only the button lit. Where only the
// start can tell whether its file plays, the button lights once it is heard.
void MainWindow::pressRapid(const ButtonData& btn, const PressPlan& p)
{
    PlaybackEngines& e = engines();
    if (p.dsUsable) {
        const float v = float(p.tabVol > 1.0 ? 1.0 : (p.tabVol > 0.0 ? p.tabVol : 0.0));
        e.dsTrigger(btn.id, v);
        watchDsSound(btn.id);
    } else {
        if (refusedStart(btn))
            return;
        if (!e.audioStartKnown(btn))
            heldPresses.insert(btn.id, HeldPress{btn, {}, 0.0, true});
        e.audioCancelFade(btn.id);
        startingId = btn.id;
        e.audioPlayRapid(p.played, p.device);
        startingId.clear();
        if (heldPresses.contains(btn.id))
            return;
    }
    if (SoundButton* w = findButtonWidget(btn.id))
        w->setPlaying(true);
}

// The press's sound starts: on the pre-decoded engine when it can, else on
// the players.
void MainWindow::startPressed(const ButtonData& btn, const PressPlan& p, bool wasPlaying)
{
    PlaybackEngines& e = engines();
    routingStartId = btn.id;
    startingId = btn.id;
    if (!p.dsUsable) {
        // A pre-decoded voice of the button that still sounds (its output
        // was changed meanwhile) gives way to the new start.
        if (wasPlaying && e.dsIsMasterPlaying(btn.id))
            e.dsStop(btn.id);
        e.audioCancelFade(btn.id);
        e.audioPlayRapid(p.played, p.device);
    } else {
        // Sounding before the display is brought up to date: the pad, the
        // strip and the log below take a while, and are not heard.
        // The button's own volume is in the decoded sound already.
        e.dsTriggerSingle(btn.id, float(p.tabVol));
    }
    routingStartId.clear();
    startingId.clear();
}

// The pad, its tab's header, the strip and the log show the press's sound
// playing; the start is announced once, here.
void MainWindow::showRoutedStart(const ButtonData& btn)
{
    routingStartId = btn.id;
    int pane = -1;
    if (SoundButton* w = findButtonWidget(btn.id, &pane)) {
        w->setPlaying(true);
        w->setTriggerMark(2);
        if (GridHeader* h = m_panels[pane].header)
            h->setPlaying(true);
        const ButtonData shown = w->buttonData();
        setStripTrack(shown);
        if (eventLog)
            eventLog->log(QStringLiteral("Audio"), QStringLiteral("Playing: ") + shown.name, QStringLiteral("ok"));
    } else {
        setStripTrack(btn);
    }
    engines().audioNotifyPlay(btn.id);
    routingStartId.clear();
}

// The float stream follows the device the press chose. The players' default
// device stays as it is: a later button that names no device still plays on
// the default.
void MainWindow::followOutput(const QString& device)
{
    PlaybackEngines& e = engines();
    if (e.wasapiActive() && !device.isEmpty()) {
        const QString current = e.wasapiDevice();
        if (!current.isEmpty() && current != device)
            QMetaObject::invokeMethod(
                this, [this, device] { engines().wasapiReopen(device); }, Qt::QueuedConnection);
    }
}

// A press whose stops waited is heard: what it would have stopped, and
// still plays, stops now, and the press is shown playing.
void MainWindow::onStartHeard(const QString& id)
{
    const auto it = heldPresses.constFind(id);
    if (it == heldPresses.constEnd())
        return;
    const HeldPress held = *it;
    heldPresses.erase(it);
    VX_LOG(QStringLiteral("[onStartHeard] id=%1: %2 held stop(s)").arg(id).arg(held.toStop.size()));
    if (held.rapid) {
        if (SoundButton* w = findButtonWidget(id))
            w->setPlaying(true);
        return;
    }
    PlaybackEngines& e = engines();
    QStringList still;
    for (const QString& other : held.toStop)
        if (e.audioIsPlaying(other) || e.dsIsPlaying(other))
            still << other;
    stopListed(still, held.fade);
    showRoutedStart(held.btn);
}

// A held press that failed or ended unheard lets its stops go: what it
// would have stopped plays on.
void MainWindow::dropHeldPress(const QString& id)
{
    if (heldPresses.remove(id) > 0)
        VX_LOG(QStringLiteral("[dropHeldPress] id=%1: not heard; its stops are dropped").arg(id));
}

// Auto-Stop (the pressed tab's other sounds) and Cross-Tab Stop (every other
// tab's); the music track plays on.
QStringList MainWindow::stopsForPress(const ButtonData& btn, int t, bool autoStop, bool crossTab)
{
    PlaybackEngines& e = engines();
    const Session& s = SessionManager::instance()->session();
    // The sweeps collect first: a stop reports back into the display, which
    // must not run while the session's lists are being walked.
    QStringList toStop;
    auto collect = [&](const TabData& other) {
        for (const ButtonData& b : other.buttons) {
            if (b.id == btn.id || b.audioPath.isEmpty() || (!musicId.isEmpty() && b.id == musicId))
                continue;
            if (e.audioIsPlaying(b.id) || e.dsIsPlaying(b.id))
                toStop.append(b.id);
        }
    };
    if (t >= 0 && t < s.tabs.size() && autoStop)
        collect(s.tabs[t]);
    if (crossTab) {
        for (int o = 0; o < s.tabs.size(); ++o)
            if (o != t)
                collect(s.tabs[o]);
    }
    return toStop;
}

// Each with the pressed tab's fade.
void MainWindow::stopListed(const QStringList& ids, double fade)
{
    for (const QString& id : ids)
        routedStop(id, fade);
}

void MainWindow::routedStop(const QString& id, double fadeMs)
{
    PlaybackEngines& e = engines();
    if (fadeMs > 0) {
        if (e.audioIsPlaying(id)) {
            e.audioSetButtonFade(id, fadeMs);
        } else {
            e.audioCancelFade(id);
        }
        e.audioStop(id);
        // Pre-decoded voices fall to silence in the engine's mixer and are
        // let go there. The stop when the fade would have ended is for what
        // was not falling; a voice still falling (its output runs late) is
        // left to end its fall, and one started again meanwhile to play. A
        // session file may hold any fade time: beyond what a timer can count
        // the stop waits for the timer's limit.
        const quint64 serial = dsStartSerial.value(id);
        const int cutMs = fadeMs < double(std::numeric_limits<int>::max()) ? int(fadeMs)
                                                                           : std::numeric_limits<int>::max();
        if (e.dsIsPlaying(id))
            e.dsStopWithFade(id, cutMs);
        e.later(cutMs, this, [this, id, serial] {
            if (dsStartSerial.value(id) == serial && !engines().dsIsFadingOut(id))
                engines().dsStop(id);
        });
    } else {
        e.audioCancelFade(id);
        e.audioStop(id);
        e.dsStop(id);
    }
    if (SoundButton* w = findButtonWidget(id)) {
        w->setTriggerMark(0);
        w->setPlaying(false);
    }
}

void MainWindow::applyPlaybackState()
{
    Session& s = SessionManager::instance()->session();
    s.autoStop = autoStopToggle ? autoStopToggle->isChecked() : false;
    s.restart = restartToggle ? restartToggle->isChecked() : true;
    s.crossTabStop = crossTabStopToggle ? crossTabStopToggle->isChecked() : true;
}

// --- The way back ------------------------------------------------------------------

void MainWindow::watchDsSound(const QString& id)
{
    ++dsStartSerial[id];
    dsSounding.insert(id);
    if (!dsEndWatch) {
        dsEndWatch = new QTimer(this);
        dsEndWatch->setInterval(DirectSoundEngine::kPositionIntervalMs);
        connect(dsEndWatch, &QTimer::timeout, this, &MainWindow::dsEndWatchTick);
    }
    if (!dsEndWatch->isActive())
        dsEndWatch->start();
    updateStatusBar();
}

// The pre-decoded engine reports no end: a watched sound that no longer
// plays there has ended, by itself or by a stop, and is shown stopped as an
// AudioEngine sound is.
void MainWindow::dsEndWatchTick()
{
    PlaybackEngines& e = engines();
    const QList<QString> ids = dsSounding.values();
    bool ended = false;
    for (const QString& id : ids) {
        if (e.dsIsPlaying(id))
            continue;
        dsSounding.remove(id);
        ended = true;
        if (!e.audioIsPlaying(id))
            onPlayStopped(id);
    }
    if (dsSounding.isEmpty() && dsEndWatch)
        dsEndWatch->stop();
    if (ended)
        updateStatusBar();
}

void MainWindow::onPlayStarted(const QString& id)
{
    VX_LOG(QStringLiteral("[onPlayStarted] id=") + id);
    // A press whose stops wait is shown once it is heard.
    if (heldPresses.contains(id))
        return;
    int pane = -1;
    SoundButton* w = findButtonWidget(id, &pane);
    if (w) {
        w->setTriggerMark(2);
        w->setPlaying(true);
        if (GridHeader* h = m_panels[pane].header)
            h->setPlaying(true);
        const ButtonData b = w->buttonData();
        // A start the routing announces is logged once, by the routing.
        if (eventLog && id != routingStartId)
            eventLog->log(QStringLiteral("Audio"), QStringLiteral("Playing: ") + b.name, QStringLiteral("ok"));
        setStripTrack(b);
    } else if (!id.isEmpty() && id == musicId) {
        if (nowPlayingId != id)
            showOnStrip(id, musicTitle, musicPath);
    } else if (const ButtonData* b = sessionRecord(tabOfButton(id), id)) {
        // A button of a tab no pane shows.
        setStripTrack(*b);
    }
    // Anything else is a preview (the online page's, the trim dialog's): it
    // is not on air, and the strip and the bar stay with what they showed.
    updateStatusBar();
}

void MainWindow::onPlayStopped(const QString& id)
{
    VX_LOG(QStringLiteral("[onPlayStopped] id=") + id);
    // The end of an earlier run, told as the held press starts, is not its.
    if (id != startingId)
        dropHeldPress(id);
    int pane = -1;
    if (SoundButton* w = findButtonWidget(id, &pane)) {
        w->setTriggerMark(0);
        w->setPlaying(false);
        w->setPosition(0, 0);
        const ButtonGrid* grid = m_panels[pane].grid;
        bool stillPlaying = false;
        for (int i = 0; i < grid->buttonCount() && !stillPlaying; ++i)
            if (const SoundButton* other = grid->buttonWidget(i))
                stillPlaying = other->isPlaying();
        if (GridHeader* h = m_panels[pane].header)
            h->setPlaying(stillPlaying);
    }
    if (id == nowPlayingId) {
        nowPlayingId.clear();
        showNextNowPlaying(id);
    }
    updateStatusBar();
    onAutoMixTrackStopped(id);
}

void MainWindow::showNextNowPlaying(const QString& endedId)
{
    const bool shownIsOnAir =
        !nowPlayingId.isEmpty() && (nowPlayingId == musicId || tabOfButton(nowPlayingId) >= 0);
    if (shownIsOnAir && nowPlayingId != endedId && isSounding(nowPlayingId))
        return;
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    for (const TabData& t : tabs) {
        for (const ButtonData& b : t.buttons) {
            if (b.id == endedId || b.audioPath.isEmpty() || b.id == musicId)
                continue;
            if (isSounding(b.id)) {
                setStripTrack(b);
                return;
            }
        }
    }
    if (musicId != endedId && isSounding(musicId)) {
        // The track that plays, as it was started.
        showOnStrip(musicId, musicTitle, musicPath);
        return;
    }
    showStripIdle();
}

void MainWindow::onPositionChanged(const QString& id, qint64 posMs, qint64 durMs)
{
    // A music track that moves on really plays: a later failure starts a
    // new run of them.
    if (posMs > 0 && !id.isEmpty() && id == musicId)
        musicFailShown = false;
    // Only the sound on the strip moves its time.
    if (!id.isEmpty() && id == nowPlayingId) {
        barSetPosition(posMs, durMs);
        if (durMs > 0 && npTime) {
            const qint64 p = posMs / 1000;
            const qint64 d = durMs / 1000;
            const qint64 r = d > p ? d - p : 0;
            npTime->setText(minSec(p) + QStringLiteral(" / ") + minSec(d) + QStringLiteral("  -") + minSec(r));
        }
    }
    // A report that comes after the end (a player's last position, read
    // once it has stopped) finds the pad idle: an idle pad shows no time.
    if (SoundButton* w = findButtonWidget(id); w && w->isPlaying())
        w->setPosition(posMs, durMs);
}

// The float stream's second stop connection: one more stop report (the first
// went straight to AudioEngine), then the strip lets go of the sound.
void MainWindow::onWasapiStopped(const QString& id)
{
    engines().audioNotifyStop(id);
    if (id == nowPlayingId)
        showNextNowPlaying(id);
}

// The name a sound of the players goes by in messages: the music track's,
// the button's, else its id.
QString MainWindow::playbackTitle(const QString& id)
{
    if (!id.isEmpty() && id == musicId)
        return titleOf(musicTitle, musicPath);
    if (SoundButton* w = findButtonWidget(id))
        return titleOf(w->buttonData().name, w->buttonData().audioPath);
    if (const ButtonData* b = sessionRecord(tabOfButton(id), id))
        return titleOf(b->name, b->audioPath);
    return id;
}

// A stalled start that a fresh player took over: the sound plays on, so a
// line in the event log says so and nothing more.
void MainWindow::onStartRetried(const QString& id, const QString& why)
{
    if (eventLog)
        eventLog->log(QStringLiteral("Audio"), QStringLiteral("Started again: %1 (%2)").arg(playbackTitle(id), why),
                      QStringLiteral("warn"));
}

void MainWindow::onPlaybackError(const QString& id, const QString& why)
{
    const QString title = playbackTitle(id);
    const bool music = !id.isEmpty() && id == musicId;
    VX_LOG(QStringLiteral("[onPlaybackError] id=") + id + QStringLiteral(" ") + why);
    dropHeldPress(id);
    if (eventLog)
        eventLog->log(QStringLiteral("Audio"), QStringLiteral("Cannot play: %1 (%2)").arg(title, why),
                      QStringLiteral("error"));
    if (music)
        letGoOfFailedMusic();
    // A run of tracks Auto-Mix cannot play shows one toast, not one each.
    if (music && musicFailShown)
        return;
    if (music)
        musicFailShown = autoMixBtn && autoMixBtn->isChecked();
    toast(QStringLiteral("⚠  Cannot play \"%1\": %2").arg(title, why), ToastManager::Warning, 3000);
}

// A music track that cannot play keeps no mark: its row, the now-playing bar
// and the strip let go of it. Auto-Mix with a flagged row after it moves on
// at the track's stop report instead, which marks that row.
void MainWindow::letGoOfFailedMusic()
{
    const bool autoMixGoesOn = autoMixBtn && autoMixBtn->isChecked() && autoMixIndex >= 0
                               && nextMusicRow(autoMixIndex + 1, 1, false, true) >= 0;
    if (autoMixGoesOn)
        return;
    musicId.clear();
    const bool failShown = musicFailShown;
    showMusicStopped();
    musicFailShown = failShown;
}

void MainWindow::onAudioOutputLost(const QString& engine, const QString& device)
{
    VX_LOG(QStringLiteral("[Main] audio output lost (%1): %2").arg(engine, device));
    const bool first = lostOutputs.isEmpty();
    lostOutputs.insert(engine);
    // The engine has stopped its sounds: show them ended now, not at the
    // next watch tick.
    dsEndWatchTick();
    AudioEngine* audio = AudioEngine::instance();
    const bool players = engine == QLatin1String("players");
    // A lost pre-decoded output is often the sound server going away: the
    // players learn it now (their loss is reported first, from inside this
    // call), not at the next press of a long sound.
    if (!players)
        audio->checkServer();
    // The players cannot follow a sound server that went away (see
    // SoundServer.h): say so rather than promise a reconnection.
    const bool forGood = players && audio->isServerGone();
    if (eventLog)
        eventLog->log(QStringLiteral("Audio"),
                      forGood ? QStringLiteral("Output lost (%1, %2): long sounds and music play again once the "
                                               "program starts anew")
                                    .arg(device, engine)
                              : QStringLiteral("Output lost (%1, %2); reconnecting").arg(device, engine),
                      QStringLiteral("warn"));
    if (audio->isServerGone())
        announcePlayersGone();
    else if (first)
        toast(QStringLiteral("⚠  Audio output lost: sounds stopped, reconnecting"), ToastManager::Warning, 4000);
    showNextNowPlaying(QString());
    applyStatusBarTheme();
    updateStatusBar();
}

void MainWindow::onAudioOutputRestored(const QString& engine, const QString& device)
{
    VX_LOG(QStringLiteral("[Main] audio output back (%1): %2").arg(engine, device));
    lostOutputs.remove(engine);
    if (eventLog)
        eventLog->log(QStringLiteral("Audio"), QStringLiteral("Output back (%1, %2)").arg(device, engine),
                      QStringLiteral("ok"));
    AudioEngine* audio = AudioEngine::instance();
    if (engine != QLatin1String("players")) {
        // The server that answers now may be another one than the players'.
        audio->checkServer();
        if (audio->isServerGone() && !lostOutputs.contains(engine))
            toast(QStringLiteral("✅  Short sounds ready. Long sounds and music: restart the program"),
                  ToastManager::Info, 5000);
    }
    applyStatusBarTheme();
    updateStatusBar();
}

// The sound server does not answer: told once it has kept quiet for a
// while (a moment's wait on a busy machine is nothing to tell), until it
// answers again.
void MainWindow::onSoundServerStalled()
{
    if (!serverQuietTimer) {
        serverQuietTimer = new QTimer(this);
        serverQuietTimer->setObjectName(QStringLiteral("serverQuietTimer"));
        serverQuietTimer->setSingleShot(true);
        connect(serverQuietTimer, &QTimer::timeout, this, [this] {
            serverQuiet = true;
            VX_LOG(QStringLiteral("[Main] the sound server does not answer"));
            if (eventLog)
                eventLog->log(QStringLiteral("Audio"),
                              QStringLiteral("The sound server does not answer: nothing is heard until it does"),
                              QStringLiteral("warn"));
            applyStatusBarTheme();
        });
    }
    if (!serverQuiet && !serverQuietTimer->isActive())
        serverQuietTimer->start(kServerQuietShowMs);
}

void MainWindow::onSoundServerAnswers()
{
    if (serverQuietTimer)
        serverQuietTimer->stop();
    if (!std::exchange(serverQuiet, false))
        return;
    VX_LOG(QStringLiteral("[Main] the sound server answers again"));
    if (eventLog)
        eventLog->log(QStringLiteral("Audio"), QStringLiteral("The sound server answers again"),
                      QStringLiteral("ok"));
    if (!serverBackTimer) {
        serverBackTimer = new QTimer(this);
        serverBackTimer->setObjectName(QStringLiteral("serverBackTimer"));
        serverBackTimer->setSingleShot(true);
        connect(serverBackTimer, &QTimer::timeout, this, &MainWindow::applyStatusBarTheme);
    }
    serverBackTimer->start(kServerBackShowMs);
    applyStatusBarTheme();
}

// Once per run: the players' sound server has gone, and with it long sounds
// and music until the program starts anew. Said at the loss, while the server
// may still be down; its return has a toast of its own (the short sounds).
void MainWindow::announcePlayersGone()
{
    if (playersGoneShown)
        return;
    playersGoneShown = true;
    toast(QStringLiteral("⚠  Sound server lost: sounds stopped. Once it is back, long sounds and music need a "
                         "restart of the program"),
          ToastManager::Warning, 6000);
}

void MainWindow::restoreButtonPlayingStates(int pane)
{
    if (pane < 0 || pane >= m_panels.size() || !m_panels[pane].grid)
        return;
    const GridPanel& p = m_panels[pane];
    PlaybackEngines& e = engines();
    bool any = false;
    for (int i = 0; i < p.grid->buttonCount(); ++i) {
        SoundButton* b = p.grid->buttonWidget(i);
        if (!b || b->buttonData().id.isEmpty())
            continue;
        const QString& id = b->buttonData().id;
        const bool playing = e.audioIsPlaying(id) || e.dsIsPlaying(id);
        b->setPlaying(playing);
        any = any || playing;
    }
    if (p.header)
        p.header->setPlaying(any);
}

void MainWindow::evictButtonFromAllEngines(const QString& id)
{
    if (id.isEmpty())
        return;
    PlaybackEngines& e = engines();
    e.dsEvict(id);
    e.pcmEvict(id);
    e.drumEvict(id);
    e.wasapiEvict(id);
}

// --- Tab positions and keys ----------------------------------------------------------

void MainWindow::refreshTabDerivedState()
{
    const Session& session = SessionManager::instance()->session();
    const QList<TabData>& tabs = session.tabs;
    const int shown = validButtonsPerTab(session.buttonsPerTab);
    tabIndexCache.clear();
    keyButtonMap.clear();
    for (int i = 0; i < tabs.size(); ++i) {
        for (int k = 0; k < tabs[i].buttons.size(); ++k) {
            const ButtonData& b = tabs[i].buttons[k];
            if (!b.id.isEmpty())
                tabIndexCache.insert(b.id, i); // a later tab wins
            // Only what a pad shows plays by its key; a later button wins.
            if (k < shown && !b.key.isEmpty() && !b.audioPath.isEmpty())
                keyButtonMap.insert(b.key, b);
        }
    }
    // Each tab keeps the volume it has: a muted tab stays muted. (The rule
    // that a stored volume below 0.01 counts as full is applied once, when
    // a session or an imported tab is taken in.)
    PlaybackEngines& e = engines();
    for (int i = 0; i < tabs.size(); ++i)
        e.audioSetTabVolume(i, tabs[i].volume);
    registerTabStopShortcuts();
    registerTabVolShortcuts();
    refreshKeyBadges();
}

// --- Volumes -----------------------------------------------------------------------

void MainWindow::onVolumeChanged(int percent)
{
    static int lastToasted = -1;
    if (percent % 10 == 0 && percent != lastToasted) {
        lastToasted = percent;
        const char32_t icon = percent == 0 ? 0x1F507 : percent < 40 ? 0x1F508 : percent < 80 ? 0x1F509 : 0x1F50A;
        toast(QString::fromUcs4(&icon, 1) + QStringLiteral("  Volume: %1%").arg(percent), ToastManager::Info,
              1400);
    }
    if (volPercentLabel)
        volPercentLabel->setText(QStringLiteral("%1%").arg(percent));
    PlaybackEngines& e = engines();
    e.audioSetGlobalVolume(percent / 100.0);
    // The pre-decoded buttons follow the master volume as well, playing ones
    // at once.
    e.dsSetVolume(float(percent / 100.0));
    SessionManager::instance()->session().globalVolume = percent / 100.0;
    SessionManager::instance()->markDirty();
}

void MainWindow::onPanelVolumeChanged(int pane, double v)
{
    if (pane < 0 || pane >= m_panels.size())
        return;
    const int tab = m_panels[pane].tabIndex >= 0 ? m_panels[pane].tabIndex : pane;
    PlaybackEngines& e = engines();
    e.audioSetTabVolume(tab, v);
    SessionManager* sm = SessionManager::instance();
    if (tab < sm->session().tabs.size()) {
        sm->session().tabs[tab].volume = v;
        sm->markDirty();
    }
    reachPlayingPredecoded(tab, v);
    auto applyToGrid = [&e, v](ButtonGrid* grid) {
        for (int i = 0; i < grid->buttonCount(); ++i)
            if (SoundButton* b = grid->buttonWidget(i))
                e.audioSetButtonVolume(b->buttonData().id, b->buttonData().volume * v);
    };
    if (m_panels[pane].grid)
        applyToGrid(m_panels[pane].grid);
    for (int p = 0; p < m_panels.size(); ++p) {
        if (p == pane || m_panels[p].tabIndex != tab)
            continue;
        if (GridHeader* h = m_panels[p].header) {
            const QSignalBlocker block(h);
            h->m_volSlider->setValue(int(std::lround(v * 100.0)));
        }
        if (m_panels[p].grid)
            applyToGrid(m_panels[p].grid);
    }
}

// A tab volume change reaches the tab's pre-decoded sounds that play now, as
// it reaches its players; later presses take it from the tab as before.
void MainWindow::reachPlayingPredecoded(int tab, double v)
{
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (tab < 0 || tab >= tabs.size())
        return;
    PlaybackEngines& e = engines();
    for (const ButtonData& b : tabs[tab].buttons) {
        if (!b.id.isEmpty() && tabOfButton(b.id) == tab && e.dsIsPlaying(b.id))
            e.dsSetSoundVolume(b.id, float(std::clamp(v, 0.0, 1.0)));
    }
}
