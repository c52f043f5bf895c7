#pragma once
// A recorder in place of the engines, a reach into the window, and a small
// session whose buttons carry short readable ids.
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSlider>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <utility>

#include "ButtonGrid.h"
#include "GridHeader.h"
#include "MainWindow.h"
#include "PlaybackEngines.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "TestSupport.h"
#include "ToastCapture.h"
#include "ToastManager.h"

// Records every call as one line ("audio.stop S") and answers the queries
// from sets of playing ids, as the engines would.
class RecordingEngines : public PlaybackEngines
{
public:
    QStringList calls;
    QSet<QString> audio, dsMaster, dsVoices, wasapi, pcm, ready;
    // Ready ids whose pre-decoded sound is of an earlier version of the file:
    // not ready until a preload has decoded it anew.
    QSet<QString> stale;
    // Ids whose file's header the players have not read yet: only the start
    // can tell whether they play.
    QSet<QString> unread;
    // Ids on their stop fade: players still playing, pre-decoded voices
    // still sounding.
    QSet<QString> audioStopping, dsFading;
    bool dsUp = true;
    // A pre-load is refused (nothing is queued, so nothing follows).
    bool dsRefusesPreload = false;
    bool wasapiUp = false;
    QString wasapiDev;
    QHash<int, double> tabVol;
    QList<std::function<void()>> pending;
    // Every record handed to audioPlay, in order.
    QList<ButtonData> plays;
    // The engines' signals: AudioEngine's playStarted after notifyPlay and
    // playStopped after a stop of a playing id.
    std::function<void(const QString&)> started, stopped;

    QStringList take()
    {
        QStringList c = calls;
        calls.clear();
        return c;
    }
    void runLater()
    {
        const auto jobs = std::move(pending);
        pending.clear();
        for (const auto& job : jobs)
            job();
    }
    // Nothing plays, nothing recorded, nothing waiting.
    void reset()
    {
        clearPlaying();
        calls.clear();
        pending.clear();
        plays.clear();
        stale.clear();
        dsRefusesPreload = false;
        unread.clear();
    }
    void clearPlaying()
    {
        audio.clear();
        dsMaster.clear();
        dsVoices.clear();
        wasapi.clear();
        pcm.clear();
        audioStopping.clear();
        dsFading.clear();
    }

    bool audioIsPlaying(const QString& id) override { return audio.contains(id); }
    bool audioStartKnown(const ButtonData& b) override { return !unread.contains(b.id); }
    void audioPlay(const ButtonData& b, const QString& dev) override
    {
        calls << QStringLiteral("audio.play %1 %2 %3").arg(b.id, b.audioPath, dev);
        plays.append(b);
        audio.insert(b.id);
    }
    void audioPlayRapid(const ButtonData& b, const QString& dev) override
    {
        calls << QStringLiteral("audio.playRapid %1 %2 %3").arg(b.id).arg(b.volume).arg(dev);
        audio.insert(b.id);
    }
    // As the engine does: each id leaves the players and is reported stopped
    // while the call runs.
    void audioStopAll() override
    {
        calls << QStringLiteral("audio.stopAll");
        const QSet<QString> was = std::exchange(audio, {});
        for (const QString& id : was)
            if (stopped)
                stopped(id);
    }
    void audioCancelFade(const QString& id) override { calls << QStringLiteral("audio.cancelFade ") + id; }
    bool audioIsStopping(const QString& id) override { return audioStopping.contains(id); }
    void audioStop(const QString& id) override
    {
        calls << QStringLiteral("audio.stop ") + id;
        if (audio.remove(id) && stopped)
            stopped(id);
    }
    void audioSetButtonFade(const QString& id, double ms) override
    {
        calls << QStringLiteral("audio.fade %1 %2").arg(id).arg(ms);
    }
    void audioNotifyPlay(const QString& id) override
    {
        calls << QStringLiteral("audio.notifyPlay ") + id;
        if (started)
            started(id);
    }
    void audioNotifyStop(const QString& id) override
    {
        calls << QStringLiteral("audio.notifyStop ") + id;
        if (stopped)
            stopped(id);
    }
    void audioPanic() override
    {
        calls << QStringLiteral("audio.panic");
        audio.clear();
    }
    double audioTabVolume(int tab) override { return tabVol.value(tab, 1.0); }
    void audioSetTabVolume(int tab, double v) override { tabVol[tab] = qBound(0.0, v, 1.0); }
    void audioSetButtonVolume(const QString& id, double v) override
    {
        if (audio.contains(id))
            calls << QStringLiteral("audio.buttonVolume %1 %2").arg(id).arg(v);
    }
    void audioSetGlobalVolume(double v) override { calls << QStringLiteral("audio.globalVolume %1").arg(v); }
    void audioSetDefaultDevice(const QString& d) override { calls << QStringLiteral("audio.defaultDevice ") + d; }
    void audioPreBuffer(const QStringList& paths) override
    {
        calls << QStringLiteral("audio.preBuffer ") + paths.join(QLatin1Char(','));
    }

    bool dsInitialized() override { return dsUp; }
    bool dsReady(const QString& id) override { return dsUp && ready.contains(id) && !stale.contains(id); }
    bool dsStale(const QString& id) override { return dsUp && ready.contains(id) && stale.contains(id); }
    bool dsIsPlaying(const QString& id) override { return dsMaster.contains(id) || dsVoices.contains(id); }
    bool dsIsMasterPlaying(const QString& id) override { return dsMaster.contains(id); }
    bool dsTrigger(const QString& id, float v) override
    {
        calls << QStringLiteral("ds.trigger %1 %2").arg(id).arg(v);
        dsVoices.insert(id);
        return true;
    }
    bool dsTriggerSingle(const QString& id, float v) override
    {
        calls << QStringLiteral("ds.triggerSingle %1 %2").arg(id).arg(v);
        dsVoices.remove(id);
        dsMaster.insert(id);
        return true;
    }
    void dsStop(const QString& id) override
    {
        calls << QStringLiteral("ds.stop ") + id;
        dsMaster.remove(id);
        dsVoices.remove(id);
    }
    void dsStopAll() override
    {
        calls << QStringLiteral("ds.stopAll");
        dsMaster.clear();
        dsVoices.clear();
    }
    void dsEvict(const QString& id) override { calls << QStringLiteral("ds.evict ") + id; }
    void dsStopWithFade(const QString& id, int ms) override { calls << QStringLiteral("ds.fade %1 %2").arg(id).arg(ms); }
    bool dsIsFadingOut(const QString& id) override { return dsFading.contains(id); }
    void dsSetVolume(float v) override { calls << QStringLiteral("ds.volume %1").arg(v); }
    void dsSetSoundVolume(const QString& id, float v) override
    {
        calls << QStringLiteral("ds.soundVolume %1 %2").arg(id).arg(v);
    }
    bool dsSetLoop(const QString& id, bool loop) override
    {
        calls << QStringLiteral("ds.setLoop %1 %2").arg(id).arg(int(loop));
        return dsReady(id);
    }
    bool dsPreload(const ButtonData& b) override
    {
        calls << QStringLiteral("ds.preload %1 %2 loop=%3").arg(b.id, b.audioPath).arg(int(b.loop));
        if (dsRefusesPreload)
            return false;
        // A stale sound is dropped for the new decode.
        if (stale.remove(b.id))
            ready.remove(b.id);
        return dsUp;
    }

    bool wasapiActive() override { return wasapiUp; }
    QString wasapiDevice() override { return wasapiDev; }
    bool wasapiIsPlaying(const QString& id) override { return wasapi.contains(id); }
    void wasapiStop(const QString& id) override
    {
        calls << QStringLiteral("wasapi.stop ") + id;
        wasapi.remove(id);
    }
    void wasapiStopAll() override
    {
        calls << QStringLiteral("wasapi.stopAll");
        wasapi.clear();
    }
    void wasapiReopen(const QString& device) override
    {
        calls << QStringLiteral("wasapi.reopen ") + device;
        wasapiDev = device;
    }
    void wasapiEvict(const QString& id) override { calls << QStringLiteral("wasapi.evict ") + id; }
    void wasapiStampClick() override { calls << QStringLiteral("wasapi.stamp"); }

    bool pcmIsPlaying(const QString& id) override { return pcm.contains(id); }
    void pcmStop(const QString& id) override { calls << QStringLiteral("pcm.stop ") + id; }
    void pcmStopAll() override
    {
        calls << QStringLiteral("pcm.stopAll");
        pcm.clear();
    }
    void pcmEvict(const QString& id) override { calls << QStringLiteral("pcm.evict ") + id; }
    void drumEvict(const QString& id) override { calls << QStringLiteral("drum.evict ") + id; }
    void pcmPreload(const ButtonData& b) override
    {
        calls << QStringLiteral("pcm.preload %1 %2").arg(b.id, b.audioPath);
    }

    void later(int ms, QObject*, std::function<void()> fn) override
    {
        calls << QStringLiteral("later %1").arg(ms);
        pending.append(std::move(fn));
    }
};

class RoutingTestAccess
{
public:
    static QString& nowPlayingId(MainWindow* w) { return w->nowPlayingId; }
    static QString& musicId(MainWindow* w) { return w->musicId; }
    static QString& defaultDevice(MainWindow* w) { return w->defaultDevice; }
    static bool& preloadOn(MainWindow* w) { return w->preloadOn; }
    static QHash<QString, int>& tabIndexCache(MainWindow* w) { return w->tabIndexCache; }
    static const QHash<QString, ButtonData>& keyButtonMap(MainWindow* w) { return w->keyButtonMap; }
    static QString npTitle(MainWindow* w) { return w->npTitle->text(); }
    static QString npTime(MainWindow* w) { return w->npTime->text(); }
    static QString npDotStyle(MainWindow* w) { return w->npDot->styleSheet(); }
    static void showStripIdle(MainWindow* w) { w->showStripIdle(); }
    static QTimer* dsEndWatch(MainWindow* w) { return w->dsEndWatch; }
    static QTimer* deviceDebounceTimer(MainWindow* w) { return w->deviceDebounceTimer; }
    static bool& themeApplying(MainWindow* w) { return w->themeApplying; }
    static bool& reinitRunning(MainWindow* w) { return w->reinitRunning; }
    static QPushButton* toggle(MainWindow* w, int i)
    {
        return i == 0 ? w->autoStopToggle : i == 1 ? w->restartToggle : w->crossTabStopToggle;
    }
    static QSlider* volSlider(MainWindow* w) { return w->volSlider; }
    static QList<MainWindow::GridPanel>& panels(MainWindow* w) { return w->m_panels; }
    static int& currentTab(MainWindow* w) { return w->currentTab; }
    static QScrollArea* tabStripScroll(MainWindow* w) { return w->tabStripScroll; }
    static QWidget* tabStrip(MainWindow* w) { return w->tabStrip; }
    static void setEventLog(MainWindow* w, EventLog* log) { w->eventLog = log; }
    static void setNowPlayingBar(MainWindow* w, NowPlayingBar* bar) { w->nowPlayingBar = bar; }
    static void onAudioOutputsChanged(MainWindow* w) { w->onAudioOutputsChanged(); }
    static const QList<QShortcut*>& tabStopShortcuts(MainWindow* w) { return w->tabStopShortcuts; }
    static const QList<QShortcut*>& tabVolShortcuts(MainWindow* w) { return w->tabVolShortcuts; }
    static int preloadWaits(MainWindow* w) { return int(w->preloadWaits.size()); }
    static bool waitsForPreload(MainWindow* w, const QString& id) { return w->preloadWaits.contains(id); }
    static void cacheHealTick(MainWindow* w) { w->cacheHealTick(); }
    static const QList<QPushButton*>& tabButtons(MainWindow* w) { return w->tabButtons; }

    static QSet<QString>& musicFading(MainWindow* w) { return w->musicFading; }
    static NowPlayingBar* nowPlayingBar(MainWindow* w) { return w->nowPlayingBar; }
    static EventLog* eventLog(MainWindow* w) { return w->eventLog; }
    static QString playingText(MainWindow* w) { return w->sbPlaying->text(); }
    static QString audioText(MainWindow* w) { return w->sbAudio->text(); }
    static QString audioTip(MainWindow* w) { return w->sbAudio->toolTip(); }
    static void routedStop(MainWindow* w, const QString& id, double fadeMs) { w->routedStop(id, fadeMs); }
    static bool leftPanelVisible(MainWindow* w) { return w->leftPanel && !w->leftPanel->isHidden(); }
};

namespace RoutingTest {

inline ButtonData button(const QString& id, const QString& path)
{
    ButtonData b;
    b.id = id;
    b.name = QStringLiteral("Sound ") + id;
    b.audioPath = path;
    return b;
}

// Tab 1 holds P (pressed in the tests), S and Q; tab 2 holds O and M. The
// files need not exist for the recorder.
inline Session twoTabs()
{
    Session s;
    s.buttonsPerTab = 24;
    TabData a;
    a.id = QStringLiteral("tab-a");
    a.name = QStringLiteral("One");
    a.buttons << button(QStringLiteral("P"), QStringLiteral("/x/p.wav"))
              << button(QStringLiteral("S"), QStringLiteral("/x/s.wav"))
              << button(QStringLiteral("Q"), QStringLiteral("/x/q.wav"));
    TabData b;
    b.id = QStringLiteral("tab-b");
    b.name = QStringLiteral("Two");
    b.buttons << button(QStringLiteral("O"), QStringLiteral("/x/o.wav"))
              << button(QStringLiteral("M"), QStringLiteral("/x/m.wav"));
    s.tabs << a << b;
    s.layoutMode = 2;
    return s;
}

// A window (with its own settings) whose engines are the recorder; AudioEngine's
// start and stop reports come back into it as the real engine's signals do.
inline MainWindow* windowOn(RecordingEngines& rec)
{
    TestSupport::isolateSettings();
    auto* w = new MainWindow;
    w->setPlaybackEngines(&rec);
    rec.started = [w](const QString& id) { w->onPlayStarted(id); };
    rec.stopped = [w](const QString& id) { w->onPlayStopped(id); };
    return w;
}

inline void closeWindow(MainWindow* w)
{
    w->setPlaybackEngines(nullptr);
    MainWindow::setWallClock(nullptr);
    delete w;
}

inline void load(const Session& s)
{
    SessionManager* sm = SessionManager::instance();
    sm->session() = s;
    emit sm->sessionLoaded(sm->session());
}

inline ButtonData record(const QString& id)
{
    for (const TabData& t : SessionManager::instance()->session().tabs)
        for (const ButtonData& b : t.buttons)
            if (b.id == id)
                return b;
    return {};
}

inline SoundButton* widget(MainWindow* w, const QString& id)
{
    for (const MainWindow::GridPanel& p : RoutingTestAccess::panels(w))
        if (p.grid)
            if (SoundButton* b = p.grid->buttonWidgetById(id))
                return b;
    return nullptr;
}

inline bool headerLit(MainWindow* w, int pane)
{
    // The Stop Tab button's playing look is the stronger accent fill.
    return RoutingTestAccess::panels(w)[pane].header->stopButton()->styleSheet().contains(QLatin1String("0.35)"));
}

// Whether a toast with the text was shown or is waiting; every card goes at
// once, so the next check starts from nothing.
inline bool toastShown(const QString& text)
{
    const QStringList shown = TestSupport::takeToasts();
    return std::any_of(shown.cbegin(), shown.cend(),
                       [&text](const QString& label) { return !label.isEmpty() && text.endsWith(label); });
}

// The text of every toast shown or waiting, in order; each card goes at
// once, so the next call starts from nothing.
inline QStringList drainToasts()
{
    ToastManager* tm = ToastManager::instance();
    QStringList labels;
    tm->pump();
    while (ToastWidget* card = tm->current()) {
        if (card->textLabel())
            labels << card->property("toastMsg").toString();   // the text asked for
        delete card;
        tm->pump();
    }
    return labels;
}

inline void showAllIdle(MainWindow* w)
{
    for (const MainWindow::GridPanel& p : RoutingTestAccess::panels(w)) {
        p.grid->setAllStopped();
        p.header->setPlaying(false);
    }
    RoutingTestAccess::nowPlayingId(w).clear();
}

} // namespace RoutingTest
