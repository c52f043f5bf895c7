// Session load and the grid panes: one GridPanel per tab, the wiring of each
// pane's header, the header's tab chooser and the small operations that keep
// a pane and the engines' decode caches in step with the session.
#include "MainWindow.h"

#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QSet>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QListWidget>
#include <QStackedWidget>
#include <algorithm>
#include <cmath>

#include "AudioEngine.h"
#include "ButtonGrid.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "EventLog.h"
#include "GridHeader.h"
#include "MainWindowStop.h"
#include "NowPlayingBar.h"
#include "OpLog.h"
#include "PcmPlayer.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "ThemeManager.h"
#include "WasapiEngine.h"

namespace {

constexpr int kMusicRefillDelayMs = 100;

int percentOf(double v)
{
    return int(std::lround(v * 100.0));
}

// Non-empty audio paths of tab t, in button order, into out (first one kept).
void collectPaths(const TabData& t, QStringList& out, QSet<QString>& seen)
{
    for (const ButtonData& b : t.buttons) {
        if (!b.audioPath.isEmpty() && !seen.contains(b.audioPath)) {
            seen.insert(b.audioPath);
            out.append(b.audioPath);
        }
    }
}

} // namespace

void MainWindow::onSessionLoaded(const Session& s)
{
    AudioEngine* audio = AudioEngine::instance();
    WasapiEngine* wasapi = WasapiEngine::instance();
    PcmPlayer* pcm = PcmPlayer::instance();
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    SessionManager* sm = SessionManager::instance();

    // 1-4. Everything stops and nothing stays lit.
    audio->stopAll();
    wasapi->stopAll();
    pcm->stopAll();
    DrumEngine::instance()->stopAll();
    if (ds->isInitialized())
        ds->stopAll();
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.grid)
            p.grid->setAllStopped();
        if (p.header)
            p.header->setPlaying(false);
    }
    for (const TabData& t : s.tabs) {
        for (const ButtonData& b : t.buttons) {
            if (b.id.isEmpty())
                continue;
            audio->cancelFade(b.id);
            audio->stop(b.id);
            wasapi->stop(b.id);
            pcm->stop(b.id);
        }
    }
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid)
            p.grid->resetAllTriggers();

    // 5-9. Keys, the button-to-tab cache and the tab volumes are derived
    // from the session once its panes exist (below); nothing of the old
    // session is left to reach meanwhile.
    keyButtonMap.clear();
    tabIndexCache.clear();
    // No button plays now: the strip shows a music track the stops above
    // moved on to, else nothing, no title or time of a sound that stopped.
    if (isSounding(musicId))
        showOnStrip(musicId, musicTitle, musicPath);
    else
        showStripIdle();

    // 10. The old panes go at once.
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (QWidget* w = p.panel.data()) {
            w->setParent(nullptr);
            delete w;
        }
    }
    m_panels.clear();
    if (QLayout* lay = gridArea ? gridArea->layout() : nullptr) {
        while (QLayoutItem* item = lay->takeAt(0))
            delete item;
    }

    // 11-12. A stored tab volume below 0.01 counts as full from here on,
    // so that every later refresh keeps what the slider shows.
    for (TabData& t : sm->session().tabs)
        t.volume = effectiveTabVolume(t.volume);
    for (int i = 0; i < s.tabs.size(); ++i)
        buildPanelForTab(i, s.tabs[i]);
    currentTab = s.tabs.isEmpty() ? 0 : qBound(0, s.activeTab, int(s.tabs.size()) - 1);

    // 13-14. The controls take the file's values without running their edit
    // handlers: a load is not an edit, so nothing is marked changed or toasted.
    if (volSlider) {
        const QSignalBlocker block(volSlider);
        const int percent = percentOf(s.globalVolume);
        volSlider->setValue(percent);
        if (volPercentLabel)
            volPercentLabel->setText(QStringLiteral("%1%").arg(volSlider->value()));
    }
    audio->setGlobalVolume(s.globalVolume);
    engines().dsSetVolume(float(s.globalVolume)); // the master volume reaches the pre-decoded buttons too
    const std::pair<QPushButton*, bool> toggles[] = {
        {autoStopToggle, s.autoStop}, {restartToggle, s.restart}, {crossTabStopToggle, s.crossTabStop}};
    // The Transport menu's entries follow the toggles; only a user's choice
    // of an entry is an edit.
    for (const auto& [toggle, on] : toggles) {
        if (toggle)
            toggle->setChecked(on);
    }
    applyPlaybackState();

    // 15-17. A session with a known layout has its strip rebuilt by
    // setGridLayout below; rebuilding it here too would only be thrown away.
    const bool knownLayout = s.layoutMode == 1 || s.layoutMode == 2 || s.layoutMode == 4;
    if (!knownLayout)
        rebuildTabStrip();
    holdsSession = true;
    setWindowTitleFromSession();
    updateStatusBar();
    if (eventLog)
        eventLog->log(QStringLiteral("Session"), QStringLiteral("Session loaded"), QStringLiteral("ok"));

    // 18-19.
    if (knownLayout)
        setGridLayout(s.layoutMode);
    const int perTab = validButtonsPerTab(s.buttonsPerTab);
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid && p.grid->buttonsPerTab() != perTab)
            p.grid->setButtonsPerTab(perTab);

    // 20-21. The grids' copies are the complete ones (ids made, padded).
    // The session names the layout the window shows (an unknown mode left
    // the window's own), so that every save writes it.
    Session& live = sm->session();
    live.layoutMode = layoutMode;
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid && p.tabIndex >= 0 && p.tabIndex < live.tabs.size())
            live.tabs[p.tabIndex].buttons = p.grid->tab().buttons;
    refreshTabDerivedState();

    // 22.
    onColumnsChanged(s.gridCols);
    onRowsChanged(s.gridRows);

    // 23. Decode caches, the active tab's files first.
    QStringList paths;
    QSet<QString> seen;
    if (!s.tabs.isEmpty()) {
        collectPaths(s.tabs[currentTab], paths, seen);
        for (int t = 0; t < s.tabs.size(); ++t)
            if (t != currentTab)
                collectPaths(s.tabs[t], paths, seen);
    }
    audio->clearBuffer();
    // What each file's header says is read at once, off this thread: a
    // press needs it to refuse a file that cannot play.
    audio->readHeadsAhead(paths);
    // Pre-buffering opens a player per file; until the window is first shown
    // it waits, so start-up shows the window without that work before it.
    if (everShown)
        audio->preBuffer(paths);
    else
        pendingPreBuffer = paths;
    pcm->clearAll();
    DrumEngine::instance()->clearAll();
    if (ds->isInitialized()) {
        wasapi->clearCache();
        ds->clearAll();
        preloadWaits.clear();   // cleared pre-loads end without a word
        queueDirectSoundPreloads(currentTab, false);
    }

    // 24.
    QTimer::singleShot(kMusicRefillDelayMs, this, [this] {
        if (refreshMusicList)
            refreshMusicList();
        if (musicList && musicList->count() > 0 && musicStack)
            musicStack->setCurrentIndex(0);
    });
}

void MainWindow::buildPanelForTab(int i, const TabData& t, bool imported)
{
    SessionManager* sm = SessionManager::instance();
    const QColor color = (imported || t.color.isValid()) ? t.color : ThemeManager::vibrantColor(i);

    auto* container = new QWidget(gridArea);
    container->setObjectName(QStringLiteral("gridPanel"));
    auto* col = new QVBoxLayout(container);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);

    auto* header = new GridHeader(t.name, color, container);
    header->setFadeMs(t.fadeMs);
    header->updateFadeLabel();

    auto* grid = new ButtonGrid(container);
    // Before the window first shows, panes out of sight make their pads
    // later (see showEvent).
    grid->setDeferPads(!everShown);
    // Every pane, however made, shows the session's columns and rows.
    grid->setColumns(sm->session().gridCols);
    grid->setRows(sm->session().gridRows);
    // Built once with the session's button count (not the grid's default and
    // then again): a pane of 72 buttons is the costliest part of a load.
    grid->setTab(t, validButtonsPerTab(sm->session().buttonsPerTab));
    connectGrid(grid);

    if (i < sm->session().tabs.size())
        sm->session().tabs[i].buttons = grid->tab().buttons;

    col->addWidget(header, 0);
    col->addWidget(grid, 1);
    m_panels.append(GridPanel{header, grid, container, i});

    wireHeader(header);

    // Header state from the tab. The slider is set with the header's signals
    // blocked: the tab already has this volume, so there is nothing to store.
    if (i < sm->session().tabs.size()) {
        const TabData& st = sm->session().tabs[i];
        if (!st.stopKey.isEmpty()) {
            header->m_stopKey = st.stopKey;
            header->stopButton()->setToolTip(
                QStringLiteral("Stop Tab  [%1]\nRight-click to assign shortcut or MIDI").arg(st.stopKey));
        }
        if (st.stopMidi >= 0)
            header->m_stopMidiNote = st.stopMidi;
        {
            const QSignalBlocker block(header);
            header->m_volSlider->setValue(percentOf(st.volume));
        }
        AudioEngine::instance()->setTabVolume(i, st.volume);
        if (!st.volUpKey.isEmpty())
            header->m_volUpKey = st.volUpKey;
        if (!st.volDnKey.isEmpty())
            header->m_volDnKey = st.volDnKey;
        if (st.volCC >= 0) {
            header->m_volCC = st.volCC;
            header->m_volSlider->setToolTip(
                QStringLiteral("Tab Volume  [MIDI CC %1]\nRight-click to assign").arg(st.volCC));
        }
    }
    header->setCurrentDevice(t.soundCard);
}

int MainWindow::validButtonsPerTab(int n)
{
    return shownButtonsPerTab(n);
}

const ButtonData* MainWindow::shownRecord(int t, const QString& id)
{
    const Session& s = SessionManager::instance()->session();
    if (t < 0 || t >= s.tabs.size())
        return nullptr;
    const QList<ButtonData>& buttons = s.tabs[t].buttons;
    const qsizetype shown = std::min<qsizetype>(buttons.size(), validButtonsPerTab(s.buttonsPerTab));
    for (qsizetype i = 0; i < shown; ++i)
        if (buttons[i].id == id)
            return &buttons[i];
    return nullptr;
}

int MainWindow::paneOfHeader(const GridHeader* header) const
{
    for (int p = 0; p < m_panels.size(); ++p)
        if (m_panels[p].header.data() == header)
            return p;
    return -1;
}

int MainWindow::tabOfHeader(const GridHeader* header) const
{
    const int p = paneOfHeader(header);
    if (p < 0)
        return -1;
    return m_panels[p].tabIndex >= 0 ? m_panels[p].tabIndex : p;
}

// Every builder of a pane wires its header here. Each handler looks up, when
// the signal arrives, the pane that holds the header and the tab that pane
// shows now, so a pane pointed at another tab, or moved by a tab insert or
// delete, edits the tab the user sees.
void MainWindow::wireHeader(GridHeader* header)
{
    SessionManager* sm = SessionManager::instance();
    // Runs edit(tab) on the tab the header's pane shows, then marks dirty.
    auto editTab = [this, header, sm](auto&& edit) {
        const int tab = tabOfHeader(header);
        if (tab < 0 || tab >= sm->session().tabs.size())
            return false;
        edit(sm->session().tabs[tab]);
        sm->markDirty();
        return true;
    };

    connect(header, &GridHeader::stopClicked, this,
            [this, header] { stopTabByHeader(header, m_panels, engines()); });
    connect(header, &GridHeader::volumeChanged, this, [this, header](double v) {
        const int p = paneOfHeader(header);
        if (p >= 0)
            onPanelVolumeChanged(p, v);
    });
    connect(header, &GridHeader::fadeChanged, this,
            [editTab](double ms) { editTab([ms](TabData& t) { t.fadeMs = ms; }); });
    // A tab key that a window command, a button or another tab key holds is
    // refused: the holder would keep the key or neither would get it.
    connect(header, &GridHeader::stopShortcutChanged, this, [this, header, editTab](const QString& key) {
        if (refuseTabKey(header, tabOfHeader(header), TabKey::Stop, key))
            return;
        if (!editTab([&key](TabData& t) { t.stopKey = key; }))
            return;
        claimTabStopKey(tabOfHeader(header), key);
        refreshTabDerivedState();
    });
    // The header's menus only ever clear the note or the controller; a clear
    // also ends the live binding, or the pad would go on stopping the tab.
    auto tabMidiEdit = [this, header, editTab](int TabData::*field, bool stop) {
        return [this, header, editTab, field, stop](int number) {
            if (number < 0)
                clearTabMidi(tabOfHeader(header), stop);
            else
                editTab([field, number](TabData& t) { t.*field = number; });
        };
    };
    connect(header, &GridHeader::stopMidiNoteChanged, this, tabMidiEdit(&TabData::stopMidi, true));
    connect(header, &GridHeader::midiLearnRequested, this,
            [this, header](const QString& target) { onHeaderMidiLearn(tabOfHeader(header), target); });
    connect(header, &GridHeader::volShortcutChanged, this,
            [this, header, editTab](const QString& up, const QString& down) {
                const int tab = tabOfHeader(header);
                if (refuseTabKey(header, tab, TabKey::VolumeUp, up)
                    || refuseTabKey(header, tab, TabKey::VolumeDown, down))
                    return;
                if (editTab([&](TabData& t) {
                        t.volUpKey = up;
                        t.volDnKey = down;
                    }))
                    refreshTabDerivedState();
            });
    connect(header, &GridHeader::volMidiCCChanged, this, tabMidiEdit(&TabData::volCC, false));
    connect(header, &GridHeader::tabSwitchRequested, this, [this, header](int idx) {
        const int p = paneOfHeader(header);
        if (p >= 0)
            onHeaderTabSwitch(p, idx);
    });
    connect(header, &GridHeader::deviceChanged, this, [this, editTab](const QString& id) {
        QString name;
        if (!editTab([&](TabData& t) {
                t.soundCard = id;
                name = t.name;
            }))
            return;
        if (eventLog) {
            const QString dev = id.isEmpty() ? QStringLiteral("Default") : id.left(30);
            eventLog->log(QStringLiteral("Audio"), QStringLiteral("Tab '%1' output: %2").arg(name, dev),
                          QStringLiteral("ok"));
        }
    });
    connect(header, &GridHeader::playbackSettingsRequested, this, [this, header] {
        const int tab = tabOfHeader(header);
        if (tab < 0)
            return;
        currentTab = tab;
        showTabPlaybackDialog(tab);
    });
}

void MainWindow::onHeaderMidiLearn(int tab, const QString& target)
{
    if (tab < 0)
        return;
    if (target == QLatin1String("__tab_stop__"))
        MidiManager::instance()->startLearn(QStringLiteral("__tab_stop_%1__").arg(tab));
    else if (target == QLatin1String("__tab_vol__"))
        MidiManager::instance()->startLearn(QStringLiteral("__tab_vol_%1__").arg(tab));
}

void MainWindow::onHeaderTabSwitch(int p, int idx)
{
    Session& s = SessionManager::instance()->session();
    if (p < 0 || p >= m_panels.size())
        return;
    if (idx < 0 || idx >= s.tabs.size()) {
        applyPlaybackState();
        updateStatusBar();
        return;
    }
    GridPanel& pane = m_panels[p];
    pane.tabIndex = idx;
    const TabData& t = s.tabs[idx];
    if (pane.grid)
        pane.grid->setTab(t);
    if (pane.header) {
        pane.header->setTabName(t.name);
        pane.header->setTabColor(t.color.isValid() ? t.color : ThemeManager::vibrantColor(idx));
        QStringList names;
        for (const TabData& tab : s.tabs)
            names << tab.name;
        pane.header->setTabList(names, idx);
    }
    currentTab = idx;
    s.activeTab = idx;
    restoreButtonPlayingStates(p);
    syncPanelHeaderToTab(p);
    preloadTabButtons(idx);
    applyPlaybackState();
    updateStatusBar();
    refreshKeyBadges();
}

void MainWindow::syncPanelHeaderToTab(int p)
{
    if (p < 0 || p >= m_panels.size())
        return;
    const GridPanel& pane = m_panels[p];
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (!pane.header || pane.tabIndex < 0 || pane.tabIndex >= tabs.size())
        return;
    const TabData& t = tabs[pane.tabIndex];
    const double v = t.volume;
    {
        const QSignalBlocker block(pane.header.data());
        pane.header->m_volSlider->setValue(percentOf(v));
    }
    pane.header->setFadeMs(t.fadeMs);
    pane.header->updateFadeLabel();
    AudioEngine::instance()->setTabVolume(pane.tabIndex, v);
}

void MainWindow::preloadTabButtons(int t)
{
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (t < 0 || t >= tabs.size())
        return;
    QStringList paths;
    QSet<QString> seen;
    collectPaths(tabs[t], paths, seen);
    if (paths.isEmpty())
        return;
    AudioEngine::instance()->preBuffer(paths);
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    if (!ds->isInitialized() || !preloadOn)
        return;
    for (const ButtonData& b : tabs[t].buttons) {
        if (!b.audioPath.isEmpty() && !ds->isReady(b.id))
            ds->preload(b.id, b.audioPath, b.trimStart, b.trimEnd, float(b.volume), b.loop, b.fadeIn,
                        b.fadeOut);
    }
}

void MainWindow::syncGridsToSession()
{
    Session& s = SessionManager::instance()->session();
    for (int p = 0; p < m_panels.size(); ++p) {
        const GridPanel& pane = m_panels[p];
        if (!pane.grid)
            continue;
        const int tab = pane.tabIndex >= 0 ? pane.tabIndex : p;
        if (tab < s.tabs.size())
            pane.grid->syncFromSession(s.tabs[tab]);
    }
    // The columns, rows and layout are kept in the session as they change;
    // every pane takes its columns and rows from there.
    s.layoutMode = layoutMode;
}
