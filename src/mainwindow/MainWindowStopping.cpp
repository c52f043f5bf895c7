// Every way to stop sound: one button, one tab, all sound-grid buttons, the
// panic stop of everything at once, and the music track's stop and reset.
#include "MainWindow.h"

#include <QListWidget>
#include <QPushButton>
#include <QTimer>

#include "ButtonGrid.h"
#include "EventLog.h"
#include "GridHeader.h"
#include "MainWindowStop.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "ThemeManager.h"

namespace {

constexpr qint64 kPanicGuardMs = 150;
constexpr qint64 kStopAllToastGapMs = 1500;

} // namespace

// A stop asked for on the button: at once, on the players and on the
// pre-decoded engine alike.
void MainWindow::onStopRequested(const QString& id)
{
    if (SoundButton* w = findButtonWidget(id))
        w->stopRepeat();
    routedStop(id, 0);
}

void MainWindow::stopTab(int t)
{
    PlaybackEngines& e = engines();
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (t >= 0 && t < tabs.size()) {
        QStringList ids;
        for (const ButtonData& b : tabs[t].buttons)
            if (!b.id.isEmpty())
                ids.append(b.id);
        stopInEveryEngine(e, ids);
    }
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.tabIndex != t || !p.grid || !p.header)
            continue;
        p.grid->setAllStopped();
        p.header->setPlaying(false);
    }
}

void MainWindow::stopAllAudio()
{
    PlaybackEngines& e = engines();
    // A press waiting to be heard stops nothing once everything is stopped.
    heldPresses.clear();
    QStringList ids;
    for (const TabData& t : SessionManager::instance()->session().tabs)
        for (const ButtonData& b : t.buttons)
            if (!b.audioPath.isEmpty() && (musicId.isEmpty() || b.id != musicId))
                ids.append(b.id);
    for (const QString& id : std::as_const(ids)) {
        e.dsStop(id);
        e.audioStop(id);
    }
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        for (int i = 0; i < p.grid->buttonCount(); ++i)
            if (SoundButton* w = p.grid->buttonWidget(i)) {
                w->stopRepeat();
                w->setPlaying(false);
            }
        if (p.header)
            p.header->setPlaying(false);
    }
    // The strip lets go of a stopped sound as after any other stop; a music
    // track that plays on keeps or takes it.
    if (!nowPlayingId.isEmpty() && nowPlayingId != musicId) {
        const QString was = nowPlayingId;
        nowPlayingId.clear();
        showNextNowPlaying(was);
    }
}

void MainWindow::onStopAll()
{
    stopAllAudio();
    if (eventLog)
        eventLog->log(QStringLiteral("Transport"), QStringLiteral("Stop All"), QStringLiteral("info"));
    const qint64 now = wallNow();
    if (lastStopAllToastMs == kNever || now - lastStopAllToastMs > kStopAllToastGapMs) {
        lastStopAllToastMs = now;
        toast(QStringLiteral("⏹  Stopped all audio"), ToastManager::Info, 1400);
    }
}

void MainWindow::onPanic()
{
    // A request within the guard time of the last one is a repeat of it,
    // unless a sound was started since that panic ran.
    const qint64 now = wallNow();
    const bool repeat = lastPanicMs != kNever && now - lastPanicMs < kPanicGuardMs && !soundStartedSincePanic;
    if (panicRunning || repeat)
        return;
    lastPanicMs = now;
    panicRunning = true;
    // The key or click that asked returns at once; the stop runs next.
    engines().later(0, this, [this] {
        PlaybackEngines& e = engines();
        soundStartedSincePanic = false;
        heldPresses.clear();
        // The music goes too, and no stop report may move Auto-Mix on.
        musicId.clear();
        musicFading.clear();
        if (autoMixBtn && autoMixBtn->isChecked())
            autoMixBtn->setChecked(false);
        autoMixIndex = -1;
        e.wasapiStopAll();
        e.audioPanic();
        e.pcmStopAll();
        e.dsStopAll();
        for (const GridPanel& p : std::as_const(m_panels)) {
            if (p.grid)
                p.grid->setAllStopped();
            if (p.header)
                p.header->setPlaying(false);
        }
        // Nothing plays any more: nothing stays lit.
        dsSounding.clear();
        if (dsEndWatch)
            dsEndWatch->stop();
        nowPlayingId.clear();
        showMusicStopped();
        updateStatusBar();
        if (eventLog)
            eventLog->log(QStringLiteral("Transport"), QStringLiteral("Panic Stop"), QStringLiteral("warn"));
        toast(QStringLiteral("🛑  Panic stop"), ToastManager::Warning, 1200);
        panicRunning = false;
    });
}

void MainWindow::onTransportStop()
{
    endFadingMusic();
    endCurrentMusic(MusicEnd::Panel);
    showMusicStopped();
    if (eventLog)
        eventLog->log(QStringLiteral("Transport"), QStringLiteral("Stop"), QStringLiteral("info"));
    toast(QStringLiteral("⏹  Stopped"), ToastManager::Info, 1200);
}

void MainWindow::stopMusicOnly()
{
    endFadingMusic();
    endCurrentMusic(MusicEnd::Panel);
    showMusicStopped();
    if (eventLog)
        eventLog->log(QStringLiteral("Transport"), QStringLiteral("Reset Music"), QStringLiteral("info"));
    toast(QStringLiteral("↺  Music reset"), ToastManager::Info, 1200);
}
