// The frame of the main window: construction in its fixed order, the
// window's timers (UI-freeze watchdog, WASAPI positions, CPU figure, cache
// heal, DirectSound start) and toasts.
#include "MainWindow.h"

#include <QApplication>
#include <QAudioDevice>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMediaDevices>
#include <QMenuBar>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "AudioEngine.h"
#include "BundleManager.h"
#include "DirectSoundEngine.h"
#include "EventLog.h"
#include "KnownFiles.h"
#include "OpLog.h"
#include "PcmPlayer.h"
#include "ScreenFit.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "ThemeManager.h"
#include "VXIcons.h"
#include "WasapiEngine.h"
#include "WindowManager.h"

namespace {

constexpr int kWatchdogIntervalMs = 250;
constexpr qint64 kStallThresholdMs = 800;
constexpr int kPositionPollMs = 250;
constexpr int kCpuIntervalMs = 2000;
constexpr int kRecordTickMs = 1000;
constexpr int kCacheHealMs = 20000;
constexpr int kDirectSoundRetryMs = 300;
constexpr int kUpdateCheckDelayMs = 3000;
constexpr int kDeviceDebounceMs = 1500;

MainWindow::WatchdogClock& watchdogClockSlot()
{
    static MainWindow::WatchdogClock clock;
    return clock;
}

// The window whose key lookup the pads use.
const MainWindow* keyLookupOwner = nullptr;

} // namespace

void MainWindow::setWatchdogClock(WatchdogClock clock)
{
    watchdogClockSlot() = std::move(clock);
}

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent, Qt::WindowFlags())
{
    // 1. State
    layoutMode = 1;
    currentTab = 0;
    SoundButton::setKeyHolderLookup([this](const ButtonData& b) { return keyHolderOf(b); });
    keyLookupOwner = this;

    // 2. UI-freeze watchdog
    startFreezeWatchdog();

    // 3. Window
    setUpWindowFrame();

    // 4. Output device the routing falls back to
    defaultDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());

    // 5. Palette
    applyStartPalette();

    // 6. Central column
    buildCentralColumn();

    // 7. Record indicator
    buildRecIndicator();

    // 8. Engines and managers
    AudioEngine* audio = AudioEngine::instance();
    WasapiEngine* wasapi = WasapiEngine::instance();
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    SessionManager* sm = SessionManager::instance();
    MidiManager* midi = MidiManager::instance();

    connectEngineSignals(audio, wasapi, ds);
    connectSessionSignals(sm);
    connectMidiSignals(midi);
    startWindowTimers(ds);

    // 10. First session
    openFirstSession(sm);

    // 11.
    loadWindowState();
    refreshSetsList();

    // 12.
    connect(ThemeManager::instance(), &ThemeManager::themeChanged, this, &MainWindow::onThemeChanged);

    // 13.
    WindowManager::instance()->registerWindow(this);

    // 14.
    scheduleUpdateCheck();

    // 15.
    pickDefaultOutputDevice();

    // 16. WASAPI starts at the next turn of the event loop.
    QMetaObject::invokeMethod(this, [this] { startWasapi(); }, Qt::QueuedConnection);

    // 17. Output-device watch
    watchOutputDevices();

    // 18.
    setFocusPolicy(Qt::StrongFocus);
    setFocus();
    qApp->installEventFilter(this);

    // 19.
    createTabShortcuts();
}

// A tick that comes much later than asked means the event loop was blocked.
void MainWindow::startFreezeWatchdog()
{
    freezeTimer = new QTimer(this);
    freezeTimer->setInterval(kWatchdogIntervalMs);
    freezeClock = new QElapsedTimer;
    freezeClock->start();
    lastFreezeTick = watchdogClockSlot() ? watchdogClockSlot()() : 0;
    connect(freezeTimer, &QTimer::timeout, this, &MainWindow::watchdogTick);
    freezeTimer->start();
}

void MainWindow::setUpWindowFrame()
{
    setWindowTitleFromSession();
    setAttribute(Qt::WA_TranslucentBackground, false);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    setMinimumSize(480, 400);
    resize(1380, 860);
    ScreenFit::fitWindow(this);
    setAcceptDrops(true);
    menuBar()->hide();
}

// Pop-up windows (a combo box's list, menus) take the application's
// palette, not the window's: it follows the theme too.
void MainWindow::applyStartPalette()
{
    QPalette appPal = QApplication::palette();
    fillThemePalette(appPal, true);
    QApplication::setPalette(appPal);
    QPalette pal = palette();
    fillThemePalette(pal, false);
    setPalette(pal);
    setAttribute(Qt::WA_StyledBackground, true);
    setAutoFillBackground(true);
}

// Toolbar, (update bar), splitter, status bar.
void MainWindow::buildCentralColumn()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    setCentralWidget(central);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildToolbar());
    column->addSpacing(0);
    column->addWidget(buildCentralSplitter(), 1);
    buildUpdateBar();
    column->addWidget(buildStatusBar());
}

// Hidden until a recording runs.
void MainWindow::buildRecIndicator()
{
    // White on the indicator's own red in every preset.
    const QString text = QStringLiteral("#ffffff");
    recIndicator = new QWidget(this);
    recIndicator->setObjectName(QStringLiteral("recIndicator"));
    recIndicator->setFixedHeight(sc(28));
    recIndicator->setStyleSheet(QStringLiteral("background:rgba(227,27,35,0.9);border-radius:4px;"));
    auto* row = new QHBoxLayout(recIndicator);
    row->setContentsMargins(8, 0, 8, 0);
    auto* dot = new QLabel(QStringLiteral("●"), recIndicator);
    dot->setStyleSheet(QStringLiteral("color:%1;font-size:10px;").arg(text));
    row->addWidget(dot);
    row->addWidget(new QLabel(QStringLiteral("REC"), recIndicator));
    recTimeLabel = new QLabel(QStringLiteral("00:00"), recIndicator);
    recTimeLabel->setStyleSheet(
        QStringLiteral("color:%1;font-family:Consolas;font-size:11px;").arg(text));
    row->addWidget(recTimeLabel);
    recIndicator->hide();
    placeRecIndicator();
}

void MainWindow::connectEngineSignals(AudioEngine* audio, WasapiEngine* wasapi, DirectSoundEngine* ds)
{
    connect(audio, &AudioEngine::playStarted, this, &MainWindow::onPlayStarted);
    connect(audio, &AudioEngine::playStopped, this, &MainWindow::onPlayStopped);
    connect(audio, &AudioEngine::playbackError, this, &MainWindow::onPlaybackError);
    connect(audio, &AudioEngine::startHeard, this, &MainWindow::onStartHeard);
    connect(audio, &AudioEngine::startRetried, this, &MainWindow::onStartRetried);
    connect(wasapi, &WasapiEngine::started, audio, &AudioEngine::notifyPlay, Qt::UniqueConnection);
    connect(wasapi, &WasapiEngine::stopped, audio, &AudioEngine::notifyStop, Qt::UniqueConnection);
    connect(audio, &AudioEngine::positionChanged, this, &MainWindow::onPositionChanged);
    connect(ds, &DirectSoundEngine::positionChanged, this, &MainWindow::onPositionChanged,
            Qt::QueuedConnection);
    connect(wasapi, &WasapiEngine::positionChanged, this, &MainWindow::onPositionChanged,
            Qt::UniqueConnection);
    connect(wasapi, &WasapiEngine::stopped, this, &MainWindow::onWasapiStopped, Qt::UniqueConnection);
    connect(ds, &DirectSoundEngine::outputLost, this,
            [this](const QString& device) { onAudioOutputLost(QStringLiteral("pre-decoded"), device); });
    connect(ds, &DirectSoundEngine::outputRestored, this,
            [this](const QString& device) { onAudioOutputRestored(QStringLiteral("pre-decoded"), device); });
    connect(ds, &DirectSoundEngine::preloadDone, this, &MainWindow::onPreloadEnded, Qt::QueuedConnection);
    connect(ds, &DirectSoundEngine::preloadFailed, this, &MainWindow::onPreloadEnded, Qt::QueuedConnection);
    // Queued: a burst is gathered on this thread, never inside a look.
    connect(KnownFiles::instance(), &KnownFiles::filesSeen, this, &MainWindow::gatherFilesSeen,
            Qt::QueuedConnection);
    connect(audio, &AudioEngine::outputLost, this,
            [this] { onAudioOutputLost(QStringLiteral("players"), QStringLiteral("sound server")); });
    connect(audio, &AudioEngine::outputRestored, this,
            [this] { onAudioOutputRestored(QStringLiteral("players"), QStringLiteral("sound server")); });
    connect(audio, &AudioEngine::soundServerStalled, this, &MainWindow::onSoundServerStalled);
    connect(audio, &AudioEngine::soundServerAnswers, this, &MainWindow::onSoundServerAnswers);

    positionTimer = new QTimer(this);
    positionTimer->setInterval(kPositionPollMs);
    connect(positionTimer, &QTimer::timeout, wasapi, &WasapiEngine::pollPositions);
    positionTimer->start();
}

void MainWindow::connectSessionSignals(SessionManager* sm)
{
    connect(sm, &SessionManager::sessionLoaded, this, &MainWindow::onSessionLoaded);
    connect(sm, &SessionManager::sessionLoaded, this, &MainWindow::reportRenewedIds);
    connect(sm, &SessionManager::autoSaveFailed, this, &MainWindow::onAutoSaveFailed);
    // A decoded pad reaches the drum engine at a later turn of the loop, after
    // the code that reported it has returned.
    connect(PcmPlayer::instance(), &PcmPlayer::preloadDone, PcmPlayer::instance(),
            &PcmPlayer::feedDrumEngine, Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    connect(sm, &SessionManager::sessionLoaded, this, &MainWindow::refreshSetsList);
    connect(sm, &SessionManager::sessionSaved, this, &MainWindow::refreshSetsList);
    // A save may name a new file (Save As) while the session was clean and
    // stays so: the file label and the title follow.
    connect(sm, &SessionManager::sessionSaved, this, &MainWindow::updateStatusBar);
    connect(sm, &SessionManager::sessionSaved, this, &MainWindow::setWindowTitleFromSession);
    connect(sm, &SessionManager::dirtyChanged, this, &MainWindow::onDirtyChanged);
    connect(BundleManager::instance(), &BundleManager::importedProjectReady, this,
            &MainWindow::onBundleProjectReady, Qt::QueuedConnection);
    connect(BundleManager::instance(), &BundleManager::tabsReadyForSession, this, &MainWindow::onBundleTabsReady);
    connect(BundleManager::instance(), &BundleManager::importMissedSounds, this, &MainWindow::onBundleSoundsMissing);
    connect(BundleManager::instance(), &BundleManager::exportLeftOutSounds, this, &MainWindow::onBundleSoundsLeftOut);
}

void MainWindow::connectMidiSignals(MidiManager* midi)
{
    connect(midi, &MidiManager::buttonTriggered, this, &MainWindow::onMidiButtonTriggered,
            Qt::QueuedConnection);
    connect(midi, &MidiManager::mappingConflictDetected, this, &MainWindow::onMidiMappingConflict,
            Qt::QueuedConnection);
    connect(midi, &MidiManager::mappingLearned, this, &MainWindow::onMidiMappingLearned,
            Qt::QueuedConnection);
    connect(midi, &MidiManager::controlTriggered, this, &MainWindow::onMidiControlTriggered,
            Qt::QueuedConnection);
    connect(midi, &MidiManager::devicesChanged, this, &MainWindow::updateStatusBar);
    connect(midi, &MidiManager::mappingChanged, this, &MainWindow::onMidiMappingChanged,
            Qt::QueuedConnection);
}

void MainWindow::startWindowTimers(DirectSoundEngine* ds)
{
    cpuTimer = new QTimer(this);
    connect(cpuTimer, &QTimer::timeout, this, &MainWindow::updateCpuUsage);
    cpuTimer->start(kCpuIntervalMs);

    recordTimer = new QTimer(this);
    recordTimer->setInterval(kRecordTickMs);
    connect(recordTimer, &QTimer::timeout, this, &MainWindow::onRecordTick, Qt::QueuedConnection);

    cacheHealTimer = new QTimer(this);
    cacheHealTimer->setInterval(kCacheHealMs);
    connect(cacheHealTimer, &QTimer::timeout, this, &MainWindow::cacheHealTick);
    cacheHealTimer->start();

    // The pre-decoded engine opens on the window from the start and is retried
    // until it is up, so buttons get the fast path without waiting for the
    // music panel to play a track.
    preloadOn = SettingsKeys::readBool(SettingsKeys::AudioPreload);
    dsInitTimer = new QTimer(this);
    dsInitTimer->setInterval(kDirectSoundRetryMs);
    connect(dsInitTimer, &QTimer::timeout, this, &MainWindow::tryInitDirectSound);
    if (!predecodeSwitchedOff() && !ds->init(reinterpret_cast<void*>(internalWinId())))
        dsInitTimer->start();
}

// The most recent file, else a new session.
void MainWindow::openFirstSession(SessionManager* sm)
{
    const QStringList recent = SettingsKeys::read(SettingsKeys::RecentFiles).toStringList();
    const QString first = recent.isEmpty() ? QString() : recent.first();
    // A relative entry (stored by an older version) names a different
    // file in every folder the program starts from: it is not reopened.
    if (!first.isEmpty() && QFileInfo(first).isAbsolute() && QFileInfo::exists(first)) {
        // A file that does not load leaves a usable new session and
        // says which file it was; the file itself stays as it is.
        if (!sm->loadSession(first)) {
            sm->newSession();
            // Said once the window is on screen (see showEvent).
            pendingStartToast = QStringLiteral("❌  Could not open ") + QFileInfo(first).fileName();
            if (eventLog)
                eventLog->log(QStringLiteral("Session"),
                              QStringLiteral("Could not read the last session: ") + first,
                              QStringLiteral("error"));
        }
    } else {
        sm->newSession();
    }
}

void MainWindow::scheduleUpdateCheck()
{
    updateStartTimer = new QTimer(this);
    updateStartTimer->setSingleShot(true);
    updateStartTimer->setInterval(kUpdateCheckDelayMs);
    connect(updateStartTimer, &QTimer::timeout, this, [this] { checkForUpdates(false); });
    updateStartTimer->start();
}

void MainWindow::watchOutputDevices()
{
    mediaDevices = new QMediaDevices(this);
    deviceDebounceTimer = new QTimer(this);
    deviceDebounceTimer->setSingleShot(true);
    deviceDebounceTimer->setInterval(kDeviceDebounceMs);
    connect(mediaDevices, &QMediaDevices::audioOutputsChanged, this, &MainWindow::onAudioOutputsChanged);
    connect(deviceDebounceTimer, &QTimer::timeout, this, &MainWindow::hotPlugReinit);
}

MainWindow::~MainWindow()
{
    // The pads' key lookup is the newest window's; it goes with that window.
    if (keyLookupOwner == this) {
        SoundButton::setKeyHolderLookup(nullptr);
        keyLookupOwner = nullptr;
    }
    saveWindowState();
    delete freezeClock;
}

void MainWindow::watchdogTick()
{
    qint64 elapsed = 0;
    if (const WatchdogClock& clock = watchdogClockSlot()) {
        const qint64 now = clock();
        elapsed = now - lastFreezeTick;
        lastFreezeTick = now;
    } else {
        elapsed = freezeClock->restart();
    }
    if (elapsed > kStallThresholdMs)
        VX_LOG(QStringLiteral("[UI-FREEZE] main thread stalled ~%1ms").arg(elapsed));
}

void MainWindow::toast(const QString& text, ToastManager::Type type, int ms)
{
    ToastManager::instance()->show(this, text, type, ms);
}

// A benchmark hook: with TR_NO_PREDECODE set the pre-decoded engine never
// starts, so every press of the running program plays through the players.
bool MainWindow::predecodeSwitchedOff()
{
    static const bool off = qEnvironmentVariableIsSet("TR_NO_PREDECODE");
    return off;
}

void MainWindow::tryInitDirectSound()
{
    if (predecodeSwitchedOff()) {
        dsInitTimer->stop();
        return;
    }
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    if (!ds->isInitialized() && !ds->init(reinterpret_cast<void*>(internalWinId())))
        return;
    dsInitTimer->stop();
    // The sounds of the session open now were not queued while the engine was
    // down; queue them at once rather than at the next cache-heal tick.
    const int n = queueDirectSoundPreloads(SessionManager::instance()->session().activeTab, true);
    VX_LOG(QStringLiteral("[Main] DirectSound ready; queued %1 button(s) for preload").arg(n));
}

int MainWindow::queueDirectSoundPreloads(int first, bool onlyMissing)
{
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    if (!ds->isInitialized() || !preloadOn)
        return 0;
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (tabs.isEmpty())
        return 0;
    first = qBound(0, first, int(tabs.size()) - 1);
    QList<int> order{first};
    for (int t = 0; t < tabs.size(); ++t)
        if (t != first)
            order.append(t);
    int queued = 0;
    for (int t : order) {
        for (const ButtonData& b : tabs[t].buttons) {
            if (b.audioPath.isEmpty() || b.id.isEmpty())
                continue;
            if (onlyMissing && ds->isReady(b.id))
                continue;
            // A sound known not to fit the decode window is not asked again.
            if (ds->preload(b.id, b.audioPath, b.trimStart, b.trimEnd, float(b.volume), b.loop, b.fadeIn,
                            b.fadeOut))
                ++queued;
        }
    }
    return queued;
}

void MainWindow::cacheHealTick()
{
    if (!DirectSoundEngine::instance()->isInitialized())
        return;
    // Tab order, as the heal goes through every tab alike.
    const int n = queueDirectSoundPreloads(0, true);
    if (n > 0)
        VX_LOG(QStringLiteral("[CacheHeal] silently re-queued %1 button(s) for background preload").arg(n));
}

void MainWindow::pickDefaultOutputDevice()
{
    const QString saved = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
    AudioEngine::instance()->setDefaultDevice(saved);
    if (!saved.isEmpty())
        return;
    QList<QPair<QString, QByteArray>> outputs;
    for (const QAudioDevice& d : QMediaDevices::audioOutputs())
        outputs.append({d.description(), d.id()});
    const QString guess = guessDefaultOutput(outputs);
    if (!guess.isEmpty()) {
        AppSettings s;
        s.setValue(QStringLiteral("audio/device"), guess);
        AudioEngine::instance()->setDefaultDevice(guess);
    }
}

QString MainWindow::guessDefaultOutput(const QList<QPair<QString, QByteArray>>& outputs)
{
    for (const auto& [description, id] : outputs) {
        const QString desc = description.toLower();
        if (desc.contains(QLatin1String("realtek")) || desc.contains(QLatin1String("high definition audio")))
            return QString::fromUtf8(id);
    }
    return {};
}

void MainWindow::createTabShortcuts()
{
    // Each says what it does: a tab key refused for its key names it.
    auto make = [this](const QKeySequence& keys, const QString& name, auto&& action) {
        auto* sc = new QShortcut(keys, this);
        sc->setContext(Qt::ApplicationShortcut);
        sc->setWhatsThis(name);
        connect(sc, &QShortcut::activated, this, action);
    };
    const auto tabCount = [] { return int(SessionManager::instance()->session().tabs.size()); };
    make(QKeySequence(QStringLiteral("Ctrl+Tab")), QStringLiteral("Next Tab"), [this, tabCount] {
        const int n = tabCount();
        if (n > 0)
            stepTab((currentTab + 1) % n);
    });
    make(QKeySequence(QStringLiteral("Ctrl+Shift+Tab")), QStringLiteral("Previous Tab"), [this, tabCount] {
        const int n = tabCount();
        if (n > 0)
            stepTab((currentTab - 1 + n) % n);
    });
    for (int k = 1; k <= 9; ++k) {
        make(QKeySequence(QStringLiteral("Ctrl+%1").arg(k)), QStringLiteral("Go to Tab %1").arg(k),
             [this, tabCount, k] {
                 const int n = tabCount();
                 if (n > 0)
                     stepTab((k - 1) % n);
             });
    }
    make(QKeySequence(QKeySequence::Find), QStringLiteral("Search Buttons"), [this] { showSearchDialog(); });
}
