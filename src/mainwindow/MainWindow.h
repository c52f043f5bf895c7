#pragma once
#include <QElapsedTimer>
#include <QHash>
#include <QKeySequence>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <limits>
#include <memory>

#include "MidiManager.h"
#include "PlaybackEngines.h"
#include "StingerImporter.h"
#include "TabKeys.h"
#include "ToastManager.h"
#include "Types.h"

class ButtonGrid;
class EventLog;
class GridHeader;
class NowPlayingBar;
class QComboBox;
class QListWidgetItem;
class QKeyEvent;
class QColor;
class QComboBox;
class QDialog;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QListWidget;
struct LibraryEntry;
struct UpdateDownload;
class QListWidgetItem;
class QMediaDevices;
class QPushButton;
class QScrollArea;
class QShortcut;
class QSlider;
class QSpinBox;
class QSplitter;
class QStackedWidget;
class QTimer;
class QUrl;
class QVBoxLayout;
class AudioEngine;
class WasapiEngine;
class DirectSoundEngine;
class SessionManager;
class SoundButton;

// The one top-level window of the program: toolbar, the three columns (library
// browser, grid area with its tab strip, music panel) and the status bar. It
// turns the current session into one grid pane per tab, routes every play and
// stop request to the engines and keeps the display in step with them.
//
// The class is split into source files by topic (all MainWindow*.cpp):
// frame and timers, centre area and theming, session load and panes, tab
// strip, pane layout, playback routing, session commands, window state, the
// status bar, the toolbar and the other builders.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The keys a tab can carry.
    using TabKey = TabKeys::Kind;

    // One pane of the split view per session tab, in tab order. Owns nothing:
    // its widgets belong to the grid area; every user checks the pointers.
    struct GridPanel
    {
        QPointer<GridHeader> header;
        QPointer<ButtonGrid> grid;
        QPointer<QWidget> panel;
        int tabIndex = -1;
    };

    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // --- Called by start-up and the other top-level code ---------------------

    // Colours the native title bar and frame from the theme (nothing on X11
    // and Wayland). Start-up calls it right after the window is first shown.
    void applyTitleBarTheme();
    // Opens a session file by path and tells the user about success or failure.
    // True when the file was opened; false when it was refused, failed to
    // load, or the user kept the unsaved session.
    bool openSessionFile(const QString& path);
    // Writes what a close stores of the window (geometry, state, splitter and
    // the theme preset) and flushes the settings to disk at once. A close the
    // system asks for calls it before the close's questions.
    void storeWindowStateNow();

    // The music panel's list hooks, installed when the panel is built; every
    // caller skips one that is not set.
    // refreshMusicList: ALL MUSIC from the library, with the tree's counts.
    // refreshPlaylist: PLAYLIST from the library's tracks in playlistPaths.
    // rebuildLibraryTree: the library tree from the saved library folders.
    std::function<void()> refreshMusicList;
    std::function<void()> refreshPlaylist;
    std::function<void()> rebuildLibraryTree;
    // The music panel's pages: 0 ALL MUSIC, 1 its empty hint, 2 PLAYLIST,
    // 3 its empty hint. Null until the panel exists.
    QStackedWidget* musicStack = nullptr;
    // The music panel's ALL MUSIC list; null until the music panel exists.
    QListWidget* musicList = nullptr;

    // Re-applies the accent colour stored under "appearance/accent" (applying a
    // preset replaces the accent with the preset's own). Returns false when
    // no valid colour is stored. Start-up calls it after its theme step.
    static bool reapplyStoredAccent();

    // The window's CPU figure from one sample to the next: busy and wall time
    // in the same unit, over the processor count (0 taken as 1); whole-number
    // arithmetic, above 100 gives 100, below 1 gives 0.
    static int cpuPercent(quint64 wallDelta, quint64 busyDelta, int processors);

    // Panes shown at once for the layout mode m: whether pane k of n is
    // visible when tab `current` is current (1 for an unknown mode).
    static bool paneVisible(int k, int n, int current, int mode);

    // The first output, in list order, whose description (description, id)
    // names a Realtek or a High Definition Audio device; empty when none does.
    static QString guessDefaultOutput(const QList<QPair<QString, QByteArray>>& outputs);

    // The clock of the UI-freeze watchdog, in milliseconds; the default is a
    // monotonic clock. Tests install their own before building a window.
    using WatchdogClock = std::function<qint64()>;
    static void setWatchdogClock(WatchdogClock clock);

    // The wall clock in milliseconds since the epoch that the panic guard, the
    // stop-all toast and the hot-key repeat guard read. Tests install their
    // own; an empty function restores the system clock.
    using WallClock = std::function<qint64()>;
    static void setWallClock(WallClock clock);

    // Shows and raises the debug window (Ctrl+Shift+D); start-up installs it,
    // since that window lives in a layer above this one.
    static void setDebugWindowOpener(std::function<void()> open);

    // The engines the play and stop routing talks to; null restores the
    // engine singletons. Tests put a recorder here.
    void setPlaybackEngines(PlaybackEngines* engines);

    // A stored tab volume as a load takes it: below 0.01 counts as full.
    // Loads and imports put it into the session's tabs; from then on every
    // refresh uses the volume the tab has.
    static double effectiveTabVolume(double v);
    // The session's buttons per tab as the grids take it: 24, 36, 48 or 72,
    // anything else 36.
    static int validButtonsPerTab(int n);
    // The first record of the id in tab t, when a pad shows it (its index is
    // below the session's buttons per tab); else null. Records past the
    // count stay in the session unseen and fire by no key or note.
    static const ButtonData* shownRecord(int t, const QString& id);

    // The music panel's pieces that the keys, drops and stops reach; null (or
    // -1) until the music panel exists. autoMixBtn: the Auto-Mix toggle;
    // autoMixIndex: the row of musicList that Auto-Mix plays.
    QPushButton* autoMixBtn = nullptr;
    QListWidget* playlistList = nullptr;
    QLabel* musicEmptyHint = nullptr;
    int autoMixIndex = -1;
    QComboBox* musicDevCombo = nullptr;
    QComboBox* musicFadeCombo = nullptr;
    QLabel* musicCountLabel = nullptr;
    QWidget* autoMixBar = nullptr;
    // Files in the playlist (for the process only) and library folders
    // dropped on the PLAYLIST page whose scan has not finished yet.
    QSet<QString> playlistPaths;
    QSet<QString> pendingPlaylistFolders;

    // The left panel: pages 0 SETS, 1 LIBRARY, 2 ONLINE; the recent sets,
    // the library folder tree and its search box. Null until built.
    QStackedWidget* leftStack = nullptr;
    QListWidget* setsList = nullptr;
    QTreeWidget* libraryTree = nullptr;
    // Sub-folder walks of library roots under way (addFolderToTree).
    int folderTreeWalks = 0;
    // One sub-folder of a library root: its parent's index in the walk's
    // list (-1 for the root itself), its name and its path.
    struct SubFolder
    {
        int parent = -1;
        QString name;
        QString path;
    };
    static QList<SubFolder> listSubFolders(const QString& path);
    void fillFolderTree(const QString& name, const QString& path, const QList<SubFolder>& subs);
    QLineEdit* libSearchBox = nullptr;

    // --- Grid panes -----------------------------------------------------------
    ButtonGrid* gridForTab(int i) const;
    ButtonGrid* currentGrid() const;
    const QList<GridPanel>& gridPanels() const { return m_panels; }
    int currentTabIndex() const { return currentTab; }
    int currentLayoutMode() const { return layoutMode; }

public slots:
    void toast(const QString& text, ToastManager::Type type = ToastManager::Info, int ms = 2800);

    // Session load and panes
    void onSessionLoaded(const Session& s);
    void syncGridsToSession();
    void syncPanelHeaderToTab(int pane);
    void preloadTabButtons(int tab);

    // Tab strip and panes
    void rebuildTabStrip();
    void setGridLayout(int mode);
    void rebuildPaneLayout();

    // Centre area and theming
    void toggleLeftPanel();
    void toggleRightPanel();
    void applyThemeToWidgets();

    // Playback routing and display (grown in MainWindowPlayback.cpp)
    void onPlayRequested(const ButtonData& btn);
    void onPlayStarted(const QString& id);
    void onPlayStopped(const QString& id);
    void onPositionChanged(const QString& id, qint64 posMs, qint64 durMs);
    void onStopRequested(const QString& id);
    void onWasapiStopped(const QString& id);
    void applyPlaybackState();
    void restoreButtonPlayingStates(int pane);
    void evictButtonFromAllEngines(const QString& id);
    void onVolumeChanged(int percent);
    void onPanelVolumeChanged(int pane, double v);
    void setNpDotColor(const QString& color, int px);
    void onPlaybackError(const QString& id, const QString& why);
    void onStartHeard(const QString& id);
    void onStartRetried(const QString& id, const QString& why);
    QString playbackTitle(const QString& id);
    // An engine's output went away (its sounds were stopped) or came back.
    // engine names the engine ("pre-decoded", "players"); the first loss
    // while every output works shows the toast.
    void onAudioOutputLost(const QString& engine, const QString& device);
    void onAudioOutputRestored(const QString& engine, const QString& device);
    void onSoundServerStalled();
    void onSoundServerAnswers();
    void announcePlayersGone();
    // The event log's line for sounds of one folder whose files went out of
    // sight (away) or came back: which of them play from memory and which
    // cannot play meanwhile; at a return, each file still missing. The
    // toast of the burst follows once every folder is told.
    void onSoundFilesSeen(const QString& folder, const QStringList& ids, bool away);
    // Whether a press of the sound plays it from memory now, rather than
    // through the players, which read its file.
    bool playsFromMemory(const QString& id);
    // The output a press of btn goes to: its own, else its tab's, else the
    // window's default (empty: the system's default output).
    QString pressOutput(const ButtonData& btn, const TabData* tab) const;
    // Distinct sounds playing now in any engine, buttons and music.
    int playingSoundCount();
    // Rebuilds everything derived from the positions of the tabs and from the
    // keys: the button-to-tab cache, the key map, the engine's tab volumes
    // and the tab shortcuts. Every change of the tab list or of keys ends here.
    void refreshTabDerivedState();
    // What a press of the button's key fires when it is not the button
    // itself, named for its pad (SoundButton::keyHolder): a tab key of one
    // key alone, else the current tab's own first pad with the key, else
    // the later pad of any tab. Empty when the key fires the button or
    // nothing.
    QString keyHolderOf(const ButtonData& b);
    // Repaints every pad, whose key badge shows whether its key is its own.
    // After a change of keys or of the current tab.
    void refreshKeyBadges();
    // Says, after tabs were added, which keys of the tabs already there the
    // added ones use too: a toast and a line in the event log.
    void reportSharedKeys(const QList<TabData>& present, const QList<TabData>& added);

    // Stopping (MainWindowStopping.cpp)
    void stopAllAudio();
    void onStopAll();
    void onPanic();
    void onTransportStop();
    void stopMusicOnly();
    // Stops every sound of session tab t at once, in every engine, and shows
    // its panes idle: the tab's stop key and its MIDI stop note.
    void stopTab(int t);

    // Keys (MainWindowKeys.cpp)
    void openSettingsDialog();

    // Button edits (grown later)
    void onEditRequested(const QString& id, const QString& action);
    void onButtonDataChanged(const ButtonData& btn);
    void onButtonSwapRequested(const QString& srcId, const QString& destId);

    // Tab commands, tab keys, grid size (grown later)
    void onAddTab();
    void onDuplicateTab();
    void onDeleteTab();
    void onRenameTab();
    void showTabPlaybackDialog(int tabIdx);
    void registerTabStopShortcuts();
    void registerTabVolShortcuts();
    void onColumnsChanged(int cols);
    void onRowsChanged(int rows);
    // The Grid menu's "%1 Buttons": every tab filled up to n (never
    // shortened), every grid shows n, the session is changed.
    void setButtonsPerTab(int n);

    // Session commands
    void onNewSession();
    void onOpenSession();
    void onSaveSession();
    void onSaveSessionAs();
    // True when the caller may replace or close the session: it was clean, the
    // user discarded it, or the save they chose succeeded.
    bool confirmUnsavedChanges();
    // After a save that returned false: when it failed to write (not when
    // its file dialog was cancelled), the error toast and an event-log line
    // with the file and the reason.
    void reportSaveFailure();
    // The first autosave failure of a run: a warning toast and an event-log line.
    void onAutoSaveFailed(const QString& why);
    // After a load that had to renew repeated button ids: an event-log line.
    void reportRenewedIds();
    // The one place the session's window title is built: after a load, a
    // save and every dirty change (an update offer shows its own notice
    // there in between).
    void setWindowTitleFromSession();
    void onDirtyChanged(bool dirty);

    // Status bar
    void updateStatusBar();
    void updateCpuUsage();
    void applyStatusBarTheme();

    // The style sheet of the toolbar's menus, from the current theme.
    QString toolbarMenuSS() const;
    void onSearchChanged(const QString& text);

    // Bundles (MainWindowBundles.cpp) and BSI Stinger import (MainWindowStinger.cpp)
    void onExportBundle();
    void onImportBundle();
    // A bundle's unpacked session is ready to open; tabs of a bundle to merge.
    void onBundleProjectReady(const QString& vxPath);
    void onBundleTabsReady(QList<TabData> tabs);
    // An import whose sounds were not all in the bundle: one event-log line
    // with the count, one per button left without its sound.
    void onBundleSoundsMissing(int sounds, const QStringList& buttons);
    // An export that left out buttons whose files are missing: one line for
    // the count, one per button.
    void onBundleSoundsLeftOut(int sounds, const QStringList& buttons);
    void onImportStg();
    void onImportCol();
    // Appends the tabs read from a BSI Stinger page or collection to the
    // session (up to 16 tabs), one pane each, and reports the outcome by
    // toast, warning box and event log. sourceName: the file's name.
    void applyStingerImport(const StingerImporter::Result& result, const QString& sourceName);

    // Side panels, search and update check (grown later)
    void refreshSetsList();
    void onSwitchLeftPanel(int index);
    // Adds the root row at once; its sub-folders are listed off the GUI
    // thread and appear when the walk is done.
    void addFolderToTree(const QString& name, const QString& path);
    void onDirTreeItemClicked(QTreeWidgetItem* item, int column);
    void onLibSearch(const QString& text);
    // After the music list was filled for a view (a folder, a search): a
    // view other than the last one shows from the top, the same one again
    // (a refresh) keeps its place.
    void placeMusicListFor(const QString& view);
    void onLibAddFolder();
    void handleMusicFolderDrop(const QList<QUrl>& urls);
    void handlePlaylistDrop(const QList<QUrl>& urls);
    void showSearchDialog();

    // Music playback and Auto-Mix (MainWindowMusic.cpp)
    void onMusicItemDoubleClicked(QListWidgetItem* item);
    void onPlaylistItemDoubleClicked(QListWidgetItem* item);
    // Starts row of musicList, the previous track fading out over fadeMs
    // (at once when 0); autoMixPlayRow takes the fade from the panel.
    void autoMixPlayIdx(int row, int fadeMs);
    void autoMixPlayRow(int row);
    void autoMixNext();
    void autoMixPrev();
    void onNowPlayingPlay();
    void onAutoMixToggled(bool on);
    // Every stop report: the end of the current track moves Auto-Mix on.
    void onAutoMixTrackStopped(const QString& id);
    // The track menu of ALL MUSIC (MainWindowMusicMenu.cpp).
    void showMusicListMenu(const QPoint& pos);
    void shuffleMusicList();
    // One update check. silent: no toast of what the service answered (the
    // day's and the retry's checks). asked: the user asked from the menu, so
    // a service that is not set or cannot be reached is said to be so;
    // other checks stay quiet about it.
    void checkForUpdates(bool silent, bool asked = false);
    // Downloads the offered package; a second call while one runs does nothing.
    void startSilentDownload(const QString& url);
    // Hands the downloaded package to the system's package tool, saves and closes.
    void applyUpdate(const QString& path);

    // MIDI wiring (grown later)
    void onMidiButtonTriggered(const QString& buttonId, int velocity);
    void onMidiControlTriggered(const QString& controlId, int value);
    void onMidiMappingLearned(const MidiMapping& mapping);
    void onMidiMappingConflict(const MidiMapping& incoming, const MidiMapping& existing);
    void onMidiMappingChanged();
public:
    // The display name of a mapping's target: a button's name (else its
    // file's base name), a reserved target's description, else the key.
    QString describeMidiTarget(const MidiMapping& m) const;
public slots:

    // Record clock (grown later)
    void onRecordTick();
    void onToggleRecord();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void showEvent(QShowEvent* e) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    friend class MainWindowTestAccess;
    friend class RoutingTestAccess;
    friend class UpdateTestAccess;
    friend class OnlinePageTestAccess;

    // Frame (MainWindow.cpp)
    void watchdogTick();
    void tryInitDirectSound();
    static bool predecodeSwitchedOff();
    void cacheHealTick();
    // Queues DirectSound decoding for the session's buttons with a file, the
    // tab `first` first; with onlyMissing, only those not ready. Returns the
    // number of buttons queued.
    int queueDirectSoundPreloads(int first, bool onlyMissing);
    void pickDefaultOutputDevice();
    void createTabShortcuts();
    // The constructor's steps (MainWindow.cpp), in the order it takes them.
    void startFreezeWatchdog();
    void setUpWindowFrame();
    void applyStartPalette();
    void buildCentralColumn();
    void buildRecIndicator();
    void connectEngineSignals(AudioEngine* audio, WasapiEngine* wasapi, DirectSoundEngine* ds);
    void connectSessionSignals(SessionManager* sm);
    void connectMidiSignals(MidiManager* midi);
    void startWindowTimers(DirectSoundEngine* ds);
    void openFirstSession(SessionManager* sm);
    void scheduleUpdateCheck();
    void watchOutputDevices();

    // Builders
    QWidget* buildToolbar();
    QWidget* buildCentralSplitter();
    QWidget* buildCenterArea();
    QWidget* buildLeftPanel();
    QWidget* buildRightPanel();
    // The ONLINE page of the left panel (MainWindowOnlinePage.cpp).
    QWidget* buildOnlinePage();
    void buildUpdateBar();
    // Takes in what the settings dialog stored (MainWindowSettings.cpp).
    void followSettings();
    // Update check (MainWindowUpdate.cpp)
    void handleUpdateReply(class QNetworkReply* reply, bool silent, bool asked);
    void updateCheckFailed(class QNetworkReply* reply, bool asked);
    void showUpdateOffer(bool force, bool enableDownload, bool silent);
    void showLatestVersion(bool silent);
    void showUpdateNotes();
    void resetDownloadButton();
    void updateFailed(const QString& what);
    // A reply that offers nothing newer: the bar, the title, the notes and
    // the offer's download go.
    void withdrawUpdateOffer();
    void finishDownload(class QNetworkReply* reply, const std::shared_ptr<UpdateDownload>& d);
    void keepDownloadedInstaller(const std::shared_ptr<UpdateDownload>& d);
    void forgetDownloadedInstaller();
    void installChecked(const QString& path, const QString& problem);
    QWidget* buildStatusBar();
    void updateMenuBarCollapse(int width);

    // Toolbar menus (MainWindowMenus.cpp)
    void buildMenuButtons(QHBoxLayout* row);
    QMenu* addToolbarMenu(QHBoxLayout* row, const QString& wide, const QString& narrow, const QString& tip);
    void fitMenuBarButton(QPushButton* b);
    void buildFileMenu(QMenu* m);
    void buildTransportMenu(QMenu* m);
    void buildGridMenu(QMenu* m);
    void buildToolsMenu(QMenu* m);
    void showShortcutsDialog();
    void showAboutBox();
    void showVolumeMenu(const QPoint& pos);
    void startMainVolumeLearn();
    void placeRecIndicator();

    // Panes (MainWindowPanels.cpp)
    // Builds the pane of session tab i from t and appends it to the pane list.
    // The header takes its fade, volume, keys, MIDI note, controller and device
    // from the session's tab i, and the session's tab i takes the grid's own
    // button list (ids made, padded to the grid's count), as at a load.
    // imported: for tabs taken in behind the existing ones (BSI Stinger pages,
    // tabs merged from a bundle): the header shows the tab's own colour as it
    // is, with no stand-in colour when it has none; everything else is built
    // as for a loaded tab. The caller refreshes the tab strip and the derived
    // state (refreshTabDerivedState) once its tabs are in.
    void buildPanelForTab(int i, const TabData& t, bool imported = false);
    // Appends a tab taken in from a file (Stinger page, bundle) to the session
    // under new tab and button ids, with an imported pane of its own.
    void appendImportedTab(TabData tab);
    // Appends imported tabs while the session has room (16 tabs), says
    // limitText once it has none, makes the last tab the current one and
    // rebuilds the tab strip; how many went in.
    int appendImportedTabs(const QList<TabData>& tabs, const QString& limitText, int limitToastMs);
    void wireHeader(GridHeader* header);
    void connectGrid(ButtonGrid* grid);
    int paneOfHeader(const GridHeader* header) const;
    int tabOfHeader(const GridHeader* header) const;
    void onHeaderTabSwitch(int pane, int idx);
    void onHeaderMidiLearn(int tab, const QString& target);
    // Clears tab's stop note (stop) or volume controller in the session, in
    // the headers that show the tab and in the live mapping table.
    void clearTabMidi(int tab, bool stop);
    // Gives tab the stop key: any other tab holding the same key loses it,
    // with a toast that says which; the key then stops one tab.
    void claimTabStopKey(int tab, const QString& key);
    // What already holds key, given to tab as its key of the kind: a window
    // command, a button's key or another tab key, named for a message; empty
    // when nothing does. Another tab's stop key is not a holder of a stop key
    // (it moves, see claimTabStopKey), nor is a text that names no key.
    QString tabKeyHolder(int tab, TabKey kind, const QString& key) const;
    // Refuses, with a message that names the holder, a key a header gave
    // tab that something already holds, and sets the header back to the
    // tab's keys; false when the key may be stored.
    // (The key is a copy: it may be the header's own text, which this sets back.)
    bool refuseTabKey(GridHeader* header, int tab, TabKey kind, QString key);

    // BSI Stinger import (MainWindowStinger.cpp): reads path with read on
    // the thread pool, then applies the result.
    void runStingerImport(const QString& path, StingerImporter::Result (*read)(const QString&));

    // MIDI wiring (MainWindowMidi.cpp)
    // The tab index of a reserved target "<prefix><n>__", -1 when the id has
    // another form or n is not a plain decimal number.
    static int parseTabTarget(const QString& id, QLatin1String prefix);
    // A tab volume from a controller: the headers of the panes that show
    // the tab, then the tab volume itself.
    void applyMidiTabVolume(int tab, double v);
    // The tab's pre-decoded sounds that play take its new volume at once
    // (MainWindowPlayback.cpp).
    void reachPlayingPredecoded(int tab, double v);

    // Tab commands (MainWindowTabCommands.cpp)
    // The pane that buildPanelForTab appended last moves to list position
    // pos; the other panes that showed tab pos or later follow their tab.
    void placeNewPanelAt(int pos);
    // MIDI mappings that name a tab by number follow their tab: numbers from
    // `from` on move by delta; those of tab `removed` (when >= 0) go.
    void retargetTabMidi(int from, int delta, int removed);
    // A tab volume key: steps the volume of the panes that show tab t.
    void stepTabVolume(int t, int step);
    // Duplicate and delete of tab c (the toolbar's commands act on the
    // current tab, the tab menu on the tab it was opened on).
    void duplicateTab(int c);
    void deleteTab(int c);

    // Button edits (MainWindowGridEdit.cpp)
    // The live widget that shows the button, making a tab that no pane shows
    // current first; null when no tab holds it.
    SoundButton* findEditedButton(const QString& id);
    // The commit step: widget, every tab's first record with the id, dirty,
    // then the grid reports the record back.
    void commitButton(const ButtonData& b);
    void runAssignDialog(ButtonData b);
    void runReassignDialog(ButtonData b);
    void runKeyDialog(ButtonData b);
    void runImageDialog(const QString& id);
    // Asks before a key moves from another button; Yes clears it there.
    bool takeKeyFrom(const ButtonData& other, const QString& key, const ButtonData& edited);
    void clearKeyOf(const QString& id);
    // Writes the record into every tab's first record with its id, and into
    // every grid's copy (storeInGrids).
    void storeInEveryTab(const ButtonData& b);
    // Writes the record into the first record with its id of every grid's
    // own copy of its tab; the widgets are left to the caller.
    void storeInGrids(const ButtonData& b);

    // Tab strip (MainWindowTabs.cpp)
    void selectTab(int i);
    void showTabMenu(int i, const QPoint& pos, QWidget* button);
    void renameTab(int i);
    void stepTab(int target);

    // Playback routing and display (MainWindowPlayback.cpp)
    PlaybackEngines& engines() const { return *m_engines; }
    // The session tab that holds the button, -1 when none does.
    int tabOfButton(const QString& id);
    // Stop of one sound under the pressed tab's fade (none when fadeMs <= 0).
    void routedStop(const QString& id, double fadeMs);
    // What a press is to do: its tab (-1: none), rules, output, whether the
    // pre-decoded engine takes it, and the button as played (at its tab's
    // volume).
    struct PressPlan
    {
        int tab = -1;
        bool autoStop = false;
        bool restart = true;
        bool crossTab = false;
        double fade = 0.0;
        QString device;
        bool dsUsable = false;
        double tabVol = 1.0;
        ButtonData played;
    };
    PressPlan planPress(const ButtonData& btn);
    void pressRapid(const ButtonData& btn, const PressPlan& p);
    void startPressed(const ButtonData& btn, const PressPlan& p, bool wasPlaying);
    void showRoutedStart(const ButtonData& btn);
    void followOutput(const QString& device);
    // The sounds a press stops before its start: Auto-Stop in its tab t,
    // Cross-Tab Stop in the others.
    QStringList stopsForPress(const ButtonData& btn, int t, bool autoStop, bool crossTab);
    void stopListed(const QStringList& ids, double fade);
    // A press whose file's header was not read yet: its stops (and its
    // display) wait until its sound is heard, and are dropped if it fails.
    struct HeldPress
    {
        ButtonData btn;
        QStringList toStop;
        double fade = 0.0;
        bool rapid = false;
    };
    void dropHeldPress(const QString& id);
    // A press finds the button's pre-decoded sound made from an earlier
    // version of its file: it is decoded anew, the press goes to the players.
    void refreshChangedSound(const ButtonData& btn);
    // A press the players could not sound (its file is not there, empty or
    // no sound, its trim-in lies past its end) is reported as their failure
    // would be, and nothing is shown playing; true when so.
    bool refusedStart(const ButtonData& btn);
    // The first live pane's widget for the id, else null; pane receives its index.
    SoundButton* findButtonWidget(const QString& id, int* pane = nullptr) const;
    // The toolbar title, elided to the strip's width.
    void setStripTitle(const QString& title);
    void setStripTrack(const ButtonData& b);
    // The toolbar strip and the now-playing bar show one sound, nowPlayingId:
    // its title, and its time from its next position report on. Idle: no
    // sound, "No Track" and no time.
    void showOnStrip(const QString& id, const QString& title, const QString& path);
    void showStripIdle();
    // Whether any engine plays the id.
    bool isSounding(const QString& id);
    // After the now-playing sound ended (or may have): the sound shown stays
    // while it plays, else another playing sound takes the strip, else the
    // music track, else the strip goes idle.
    void showNextNowPlaying(const QString& endedId);
    // The music panel's now-playing bar (nothing until it exists).
    void barSetTrack(const QString& title, const QString& path);
    void barSetPosition(qint64 posMs, qint64 durMs);
    // A sound started on the pre-decoded engine, watched until it ends.
    void watchDsSound(const QString& id);
    void dsEndWatchTick();
    static qint64 wallNow();

    // Keys (MainWindowKeys.cpp)
    bool keysBelongToField(const QObject* watched) const;
    bool notePopupKey(QEvent* event, const QObject* watched);
    bool filterKeyPress(const QObject* watched, QKeyEvent* e);
    bool hotKeyLookup(const QString& text, const QKeyEvent* e);
    // The one press guard of both key paths; true when the press may fire.
    bool acceptHotKeyPress(const QString& text, bool rapid, bool autoRepeat);
    // A held key's repeat: flagged, or a press that came with the time stamp
    // of the same key's release just before it (some window systems send
    // repeats as such pairs without the flag).
    bool isRepeatPress(const QKeyEvent* e) const;
    void noteKeyRelease(const QKeyEvent* e);
    // A key the window's own key handling serves; it has no QShortcut or
    // QAction of its own.
    struct WindowKey
    {
        int key;
        Qt::KeyboardModifiers mods;
        bool anyModifiers; // taken whatever modifiers are held
        bool windowOnly;   // taken when the key reaches the window, not by the filter
        const char* name;
        void (MainWindow::*run)();
    };
    static const QList<WindowKey>& windowKeys();
    static const WindowKey* windowKeyFor(int key, Qt::KeyboardModifiers mods, bool reachedWindow);
    // A key of the window and what it does: every enabled QShortcut and
    // QAction of the window (the tab keys' own shortcuts aside), the
    // buttons' mnemonics, and the keys of windowKeys().
    struct KeyHolder
    {
        QKeySequence keys;
        bool anyModifiers = false; // the key with any modifiers (Space, Esc)
        QString name;
    };
    QList<KeyHolder> windowKeyMap() const;
    bool startMusicDrag(const QPoint& pos);

    // Engines and output device
    void startWasapi();
    void onAudioOutputsChanged();
    void hotPlugReinit();

    // Window state
    void loadWindowState();
    void saveWindowState();

    void onThemeChanged();
    void togglePanel(QWidget* panel, bool& hiddenByUser);
    // The theme's colours into a palette: the window's own roles, or with
    // allRoles every role a theme change sets.
    static void fillThemePalette(QPalette& pal, bool allRoles);
    // The session's field takes the column or row count (a changed value
    // marks the session changed), every live grid gets it, then the
    // settings key.
    void setGridShape(void (ButtonGrid::*set)(int), int value, const char* key, int Session::*field);

    // --- Frame ---------------------------------------------------------------
    QTimer* freezeTimer = nullptr;
    QElapsedTimer* freezeClock = nullptr;
    qint64 lastFreezeTick = 0;
    QTimer* positionTimer = nullptr;
    QTimer* cpuTimer = nullptr;
    QTimer* recordTimer = nullptr;
    QTimer* cacheHealTimer = nullptr;
    QTimer* dsInitTimer = nullptr;
    QString defaultDevice;
    QWidget* recIndicator = nullptr;
    QLabel* recTimeLabel = nullptr;

    // --- Centre ---------------------------------------------------------------
    QSplitter* mainSplitter = nullptr;
    QWidget* leftPanel = nullptr;
    QWidget* rightPanel = nullptr;
    QWidget* centerArea = nullptr;
    QWidget* tabStrip = nullptr;
    QScrollArea* tabStripScroll = nullptr;
    QWidget* gridArea = nullptr;
    bool leftHiddenByUser = false;
    bool rightHiddenByUser = false;
    bool closing = false;
    bool themeApplying = false;
    QTimer* themeDebounceTimer = nullptr;
    QTimer* stripRebuildTimer = nullptr;
    int lastResizeWidth = -1;

    // --- Panes and tabs ---------------------------------------------------------
    QList<GridPanel> m_panels;
    QHash<QString, int> tabIndexCache;
    QHash<QString, ButtonData> keyButtonMap;
    QString nowPlayingId;
    QString musicId;
    PlaybackEngines* m_engines = &PlaybackEngines::system();
    // The id a routed start announces while it runs: its start is logged
    // once, by the routing, however many start reports reach the window.
    QString routingStartId;
    // The id whose start is being called (see onPlayStopped).
    QString startingId;
    // By id, the presses waiting to be heard (see HeldPress).
    QHash<QString, HeldPress> heldPresses;
    // Sounds on the pre-decoded engine that the window shows as playing, and
    // the timer that notices when they end (that engine reports no end).
    QSet<QString> dsSounding;
    // The engines whose output is lost and not open again yet.
    QSet<QString> lostOutputs;
    // The sound server has not answered for kServerQuietShowMs and more
    // (serverQuietTimer times it); serverBackTimer: it answered a moment ago.
    static constexpr int kServerQuietShowMs = 1000;
    static constexpr int kServerBackShowMs = 5000;
    bool serverQuiet = false;
    QTimer* serverQuietTimer = nullptr;
    QTimer* serverBackTimer = nullptr;
    // Whether the loss of the players' sound server for this run was told.
    bool playersGoneShown = false;
    // Files seen gone or back (KnownFiles), gathered into one burst, then
    // told for every sound of the session and every sound in memory.
    void gatherFilesSeen(const QStringList& paths);
    void tellFilesSeen();
    QHash<QString, QStringList> soundsByFile() const;
    QSet<QString> filesSeenGathered;
    QTimer* filesSeenTimer = nullptr;
    QElapsedTimer filesSeenSince;
    // The files told away and not told back yet.
    QSet<QString> filesToldAway;
    // Sounds whose files went away or came back in the burst being told
    // now, for its one toast each way.
    struct FilesSeenBurst
    {
        QStringList folders;
        QStringList ids;
        int stillMissing = 0;
    };
    FilesSeenBurst filesAwayBurst;
    FilesSeenBurst filesBackBurst;
    bool filesSeenToastQueued = false;
    void logStillMissing(const QString& folder);
    void queueFilesSeenToast();
    void showFilesSeenToasts();
    QTimer* dsEndWatch = nullptr;
    // Bumped at every start of an id on the pre-decoded engine; a delayed
    // stop of an older start leaves a newer one alone.
    QHash<QString, quint64> dsStartSerial;

    // --- Stopping and keys --------------------------------------------------
    static constexpr qint64 kNever = std::numeric_limits<qint64>::min();
    bool panicRunning = false;
    qint64 lastPanicMs = kNever;
    // A sound was started since the last panic ran: a quick second panic
    // request is not a repeat then.
    bool soundStartedSincePanic = false;
    qint64 lastStopAllToastMs = kNever;
    QHash<QString, qint64> hotKeyPressTimes;
    // The time stamp of each key's last release, by key code.
    QHash<int, quint64> keyReleaseStamps;
    // A key that a popup saw first, until it is released; pressed once its
    // press came.
    struct PopupKey
    {
        int key = 0;
        bool pressed = false;
    } popupKey;
    QPoint musicDragStart;
    int currentTab = 0;
    int layoutMode = 1;
    QList<QPushButton*> tabButtons;
    // The session's files wait for pre-buffering until the window first shows.
    bool everShown = false;
    // A start-up message that waits for the window to show, else empty.
    QString pendingStartToast;
    // Whether the window has taken a session in (the title names it from then on).
    bool holdsSession = false;
    void makePendingPads();
    QStringList pendingPreBuffer;
    QList<QShortcut*> tabStopShortcuts;
    QList<QShortcut*> tabVolShortcuts;
    // Buttons whose record changed and whose new sound the pre-decoded
    // engine is preparing: each is redrawn once its pre-load ends, ready or
    // not (preloadDone or preloadFailed), and is then let go.
    QSet<QString> preloadWaits;
    void onPreloadEnded(const QString& id);
    // "audio/preload": sounds are decoded ahead and a press plays the decoded
    // sound; off, nothing is decoded ahead and every press goes to the players.
    bool preloadOn = true;
    // Last swap time (wall clock) of each ordered pair of button ids.
    QHash<QString, qint64> lastSwap;

    // --- Toolbar (the pieces the window reads) ------------------------------
    QWidget* toolBar = nullptr;
    QPushButton* autoStopToggle = nullptr;
    QPushButton* restartToggle = nullptr;
    QPushButton* crossTabStopToggle = nullptr;
    QWidget* npBar = nullptr;
    QLabel* npDot = nullptr;
    QLabel* npTitle = nullptr;
    QLabel* npTime = nullptr;
    QList<QPushButton*> layoutButtons;
    QPushButton* stackButton = nullptr;
    bool stackDualPanes = true;
    QSlider* volSlider = nullptr;
    QLabel* volPercentLabel = nullptr;

    // --- Toolbar menus ----------------------------------------------------------
    QList<QPushButton*> menuBarButtons;
    QStringList menuBarLabels;   // wide texts
    QStringList menuBarIcons;    // narrow texts
    QList<QMenu*> menuBarMenus;
    bool menuBarCollapsed = false;
    QSpinBox* colsSpin = nullptr;
    QSpinBox* rowsSpin = nullptr;

    // --- Search dialog and record clock -------------------------------------
    QDialog* searchDialog = nullptr;
    QLineEdit* searchBox = nullptr;
    bool recording = false;
    int recordedSeconds = 0;
    // Monotonic start of the running record clock, in ms; the clock shows
    // the time elapsed since, whatever became of the timer's ticks.
    qint64 recordStartMs = 0;

    // --- Side panels (built by their own builders) ---------------------------
    EventLog* eventLog = nullptr;
    NowPlayingBar* nowPlayingBar = nullptr;
    // The music panel's helpers (MainWindowSidePanels.cpp, MainWindowMusicLists.cpp)
    void buildSetsPage(QStackedWidget* stack);
    void buildLibraryPage(QStackedWidget* stack);
    void installMusicListHooks(const std::shared_ptr<bool>& playlistMode);
    void showSetsMenu(const QPoint& pos);
    void openSetFromList(const QString& path, bool checkExists);
    void showLibraryTreeMenu(const QPoint& pos);
    void onLibraryScanFinished(const QString& category, int count);
    void clearLibraryFromPanel();
    // The in-playlist flag a track row carries: none, in or out.
    enum class PlaylistFlag { None, In, Out };
    // Replaces the rows of list with one track row per entry; flag gives
    // each row's in-playlist flag (none when flag is empty).
    static void setMusicRows(QListWidget* list, const QList<LibraryEntry>& entries,
                             const std::function<PlaylistFlag(const LibraryEntry&)>& flag);
    // Shows page 0 or 1 of musicStack by whether musicList has rows.
    void showAllMusicPage();
    void letGoOfFailedMusic();
    // Whether ALL MUSIC shows what the user picked (a search, a folder other
    // than All Music) rather than the whole library.
    bool musicListChosen() const;
    // After the library's scans: the music list filled again with what it
    // shows, in place (a folder or a search the user chose stays), else with
    // the whole library; the tree's roots relabelled with their counts.
    void refreshShownMusic(bool playlistMode);
    // The tree's top rows relabelled with the counts of entries.
    void relabelLibraryRoots(const QList<LibraryEntry>& entries);
    QTimer* musicScanDebounce = nullptr;
    // The engines told when the current music track ends, in the order of
    // the road that ends it.
    enum class MusicEnd { Panel, AutoMixOn, PlayerOnly };
    // A drop on the music panel; with toPlaylist its files and folders join
    // the playlist as well as the library.
    void takeMusicDrop(const QList<QUrl>& urls, bool toPlaylist);
    // The music panel's widgets to the player, the track menu and the bar.
    void connectMusicPlayer();
    // buildRightPanel's steps, in the order it takes them.
    void buildNowPlayingHeader(QWidget* content, QVBoxLayout* v);
    void buildMusicPageBar(QWidget* content, QVBoxLayout* v, QPushButton*& allBtn, QPushButton*& listBtn);
    void buildMusicDeviceRow(QWidget* content, QVBoxLayout* v);
    QLineEdit* buildMusicSearchRow(QWidget* content, QVBoxLayout* v);
    void buildAutoMixBar(QWidget* content, QVBoxLayout* v, QPushButton*& addAll, QPushButton*& clearList);
    void buildMusicLists(QWidget* panel, QVBoxLayout* v);
    void connectMusicSearch(QLineEdit* search);
    void connectPlaylistButtons(QPushButton* addAll, QPushButton* clearList);
    void connectMusicPageButtons(QPushButton* allBtn, QPushButton* listBtn, const std::shared_ptr<bool>& playlistMode);
    void watchLibraryScans(const std::shared_ptr<bool>& playlistMode);
    void buildEventLogPanel(QWidget* content, QVBoxLayout* v);
    // The one way the current track ends: musicId is copied and cleared
    // before any engine hears of it, so the stop reports that arrive inside
    // the engine calls never count as the track's own end.
    void endCurrentMusic(MusicEnd how);
    // Ends at once the earlier tracks still fading out after faded changes.
    void endFadingMusic();
    // A fresh music record for the file, started on the device and kept as
    // the current track; the strip and the bar show it.
    void startMusicTrack(const QString& path, const QString& device);
    // The now-playing mark on row (none when -1) of musicList.
    void markMusicRow(int row);
    // After the music was stopped: no row marked, Auto-Mix off, and the bar
    // and strip back to a sound button that plays on, else idle.
    void showMusicStopped();
    // The first row from `from` on (walking by step, wrapping when wrap)
    // that is visible and, with flaggedOnly, in the playlist; -1 when none.
    int nextMusicRow(int from, int step, bool wrap, bool flaggedOnly) const;
    // The started track's name and path, beside musicId; earlier tracks
    // still fading out; whether a run of failing Auto-Mix tracks has shown
    // its one toast.
    QString musicTitle;
    QString musicPath;
    QSet<QString> musicFading;
    bool musicFailShown = false;
    QTimer* libraryPoll = nullptr;
    int libraryPollTicks = 0;

    // --- ONLINE page of the left panel (MainWindowOnlinePage.cpp) -------------
    QComboBox* onlineFolderCombo = nullptr;
    QListWidget* onlineList = nullptr;
    QString musicListView;   // what the music list was last filled with (placeMusicListFor)
    QLabel* onlineStatusLabel = nullptr;
    QString onlinePreviewId;    // player id of the preview; empty when none
    QString onlinePreviewUrl;   // address of the previewed file; empty when none
    QString onlinePreviewFile;  // the fetched copy the preview plays
    bool onlinePreviewStreaming = false;  // started on the copy while it arrived
    void restyleOnlineRows();
    void styleOnlineRow(QListWidgetItem* item, const QColor& accent);
    void onOnlineRefresh();
    void onOnlineRowClicked(QListWidgetItem* item);
    void onOnlineFolderChosen(int index);
    void onOnlineContextMenu(const QPoint& pos);
    void onOnlinePreviewReady(const QString& url, const QString& path);
    void onOnlinePreviewProgress(const QString& url, qint64 received, qint64 total);
    void onOnlinePreviewPlayable(const QString& url, const QString& growingPath);
    // The name of the online row of that address; empty when none has it.
    QString onlineRowName(const QString& url) const;
    // Stops the preview (fetch, sound and its file) and forgets it.
    void stopOnlinePreview();

    // --- Status bar -------------------------------------------------------------
    QWidget* statusBarWidget = nullptr;
    QLabel* sbAudio = nullptr;
    QLabel* sbButtons = nullptr;
    QLabel* sbPlaying = nullptr;
    QLabel* sbCpu = nullptr;
    QLabel* sbFile = nullptr;
    QLabel* sbMidi = nullptr;
    QLabel* sbLibrary = nullptr;
    QLabel* sbVersion = nullptr;
    bool cpuFirstSample = true;
    quint64 prevWall = 0;
    quint64 prevKernel = 0;
    quint64 prevUser = 0;

    // --- Output device --------------------------------------------------------
    QMediaDevices* mediaDevices = nullptr;
    QTimer* deviceDebounceTimer = nullptr;
    bool reinitRunning = false;

    // --- Update check ---------------------------------------------------------
    QWidget* updateBar = nullptr;
    QLabel* updateLabel = nullptr;
    QPushButton* updateBtn = nullptr;
    QPushButton* changelogBtn = nullptr;
    QPushButton* updateDismiss = nullptr;
    QString latestVersion;
    QString downloadUrl;
    QString updateNotes;
    QTimer* updateTimer = nullptr;
    // The first check, a little after start-up.
    QTimer* updateStartTimer = nullptr;
    // The one retry after a failed check, and the version label's way back.
    QTimer* updateRetryTimer = nullptr;
    QTimer* versionLabelTimer = nullptr;
    bool updateRetryPending = false;
    bool updateDownloading = false;
    // The downloaded package the bar's button installs, and where it came from.
    QString installerReady;
    QString installerUrl;
    // What the download wrote: size and SHA-256 taken while the bytes came.
    qint64 installerSize = -1;
    QByteArray installerSha256;
    // The installer is being checked before it is handed over.
    bool installerChecking = false;
    // The running download, and why it was cut short by the program (0 not
    // cut, 1 no data for too long, 2 its offer withdrawn).
    QPointer<QObject> downloadReply;
    int downloadCut = 0;
    // No data for this long ends a download; restarted by every chunk.
    QTimer* downloadStallTimer = nullptr;
};

// The fade of a change of music track chosen in combo: "1s", "2s" or "3s" at
// the start of its text give 1000, 2000 or 3000 ms; anything else and no
// combo give 0.
int nowPlayingFadeMs(QComboBox* combo);
