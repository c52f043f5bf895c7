#include "Startup.h"
#include "FileCheck.h"
#include "VXIcons.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QStackedWidget>
#include <QStyle>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <malloc.h>

#include "SettingsKeys.h"
#include "AudioEngine.h"
#include "CrashReport.h"
#include "DebugWindow.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "HeapUse.h"
#include "LibraryManager.h"
#include "MainWindow.h"
#include "MidiManager.h"
#include "Modal.h"
#include "OpLog.h"
#include "ProcessExit.h"
#include "SessionManager.h"
#include "SplashScreen.h"
#include "StartupReport.h"
#include "TermSignals.h"
#include "WindowManager.h"

// --- StartupApplication ------------------------------------------------------

StartupApplication::StartupApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool StartupApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // Qt's own frames cannot carry an exception: end the loop here and
        // hand the exception to the start-up guard once exec() has returned.
        if (!m_pending)
            m_pending = std::current_exception();
        exit(1);
        return false;
    }
}

namespace {
void rethrowIfSet(std::exception_ptr& pending)
{
    if (pending) {
        std::exception_ptr e = pending;
        pending = nullptr;
        std::rethrow_exception(e);
    }
}
} // namespace

int StartupApplication::execAndRethrow()
{
    rethrowIfSet(m_pending);
    const int rc = exec();
    rethrowIfSet(m_pending);
    return rc;
}

void StartupApplication::processEventsAndRethrow()
{
    processEvents();
    rethrowIfSet(m_pending);
}

// --- Pieces of start-up --------------------------------------------------------

namespace Startup {

ThemeManager::Preset presetForSetting(const QString& stored)
{
    static const char* const names[] = {"deepblack", "lightblue", "green", "red",
                                        "purple",    "lightclassic", "slate", "navyorange"};
    for (int i = 0; i < 8; ++i) {
        if (stored == QLatin1String(names[i]))
            return ThemeManager::Preset(i + 1);
    }
    return ThemeManager::Dark;
}

QString sessionPathFromArguments(const QStringList& args)
{
    for (const QString& arg : args) {
        // Named pipes, devices and sockets are never handed on: opening one
        // could wait for ever.
        if (!FileCheck::isRegularFile(arg))
            continue;
        const QString suffix = QFileInfo(arg).suffix();
        // Made absolute now, in the folder the program was started from.
        if (suffix == QLatin1String("vx") || suffix == QLatin1String("json"))
            return QDir::cleanPath(QFileInfo(arg).absoluteFilePath());
    }
    return QString();
}

int iconCornerRadius(int size)
{
    return std::max(int(std::lround(size * 0.14)), 2);
}

QPixmap roundCorners(const QPixmap& source, int radius)
{
    return VXIcons::roundedCorners(source, radius);
}

QPixmap loadLogo(const QStringList& candidates)
{
    for (const QString& path : candidates) {
        QPixmap logo(path);
        if (!logo.isNull())
            return logo;
    }
    return QPixmap();
}

QIcon makeApplicationIcon(const QPixmap& ico, const QPixmap& logo)
{
    QIcon icon;
    if (!ico.isNull())
        icon = QIcon(ico);
    if (!logo.isNull()) {
        for (int size : {16, 32, 48, 64, 128, 256}) {
            const QPixmap scaled = logo.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            icon.addPixmap(roundCorners(scaled, iconCornerRadius(size)), QIcon::Normal, QIcon::Off);
        }
    }
    return icon;
}

QPixmap paintFallbackIcon(const QColor& accent)
{
    QPixmap pm(64, 64);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(accent);
    p.drawRoundedRect(QRectF(0, 0, 64, 64), 10, 10);
    QFont font = p.font();
    font.setWeight(QFont::Bold);
    font.setPixelSize(26);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, 64, 64), Qt::AlignCenter, QStringLiteral("VX"));
    p.end();
    return pm;
}

QStringList activeTabAudioIds(const Session& session)
{
    QStringList ids;
    if (session.activeTab < 0 || session.activeTab >= session.tabs.size())
        return ids;
    for (const ButtonData& b : session.tabs[session.activeTab].buttons) {
        if (!b.audioPath.isEmpty())
            ids << b.id;
    }
    return ids;
}

int waitForDecodedSounds(const QStringList& ids, const std::function<bool(const QString&)>& isReady,
                         const std::function<qint64()>& now,
                         const std::function<void(int ready, int total)>& waiting)
{
    const int total = int(ids.size());
    const qint64 start = now();
    int pending = total;
    while (pending > 0) {
        if (now() - start > kPrebufferLimitMs - 1)
            break;
        pending = 0;
        for (const QString& id : ids) {
            if (!isReady(id))
                ++pending;
        }
        if (pending == 0)
            break;
        waiting(total - pending, total);
    }
    return total - pending;
}

int runGuarded(const std::function<int()>& body)
{
    try {
        return body();
    } catch (const std::exception& e) {
        const QString text = QString::fromLocal8Bit(e.what());
        QFile f(CrashReport::crashLogPath());
        if (f.open(QIODevice::WriteOnly | QIODevice::Append)) {
            f.write(QByteArrayLiteral("C++ Exception: ") + text.toLocal8Bit());
            f.close();
        }
        Modal::critical(nullptr, QStringLiteral("Tarvello Crash"), QStringLiteral("C++ Exception:\n\n") + text,
                        QMessageBox::Ok);
        return 1;
    } catch (...) {
        Modal::critical(nullptr, QStringLiteral("Tarvello Crash"),
                        QStringLiteral("Unknown exception during startup."), QMessageBox::Ok);
        return 1;
    }
}

} // namespace Startup

// --- qMain ---------------------------------------------------------------------

namespace {

// One pass of the event loop during start-up.
void pump()
{
    static_cast<StartupApplication*>(QCoreApplication::instance())->processEventsAndRethrow();
}

// One splash step: log line, status, progress, one pass of the event loop.
void step(SplashScreen* splash, int progress, const char* logLine, const QString& status)
{
    if (logLine)
        VX_LOG(QString::fromLatin1(logLine));
    splash->setStatus(status);
    splash->setProgress(progress);
    StartupReport::noteStep(progress, status);
    pump();
    StartupReport::maybeThrowAt(progress);
}

// A termination signal (a logout, a shutdown, kill, Ctrl+C) closes the
// windows the way the user would, so unsaved work is asked about and the
// window state is stored. Before any window is on screen there is nothing to
// keep: the signal then ends the program by its default action.
bool closeWindowsOnSignal(int signo)
{
    const QList<MainWindow*> windows = WindowManager::instance()->windows();
    const bool anyShown = std::any_of(windows.cbegin(), windows.cend(), [](MainWindow* w) { return w->isVisible(); });
    VX_LOG(QStringLiteral("[Shutdown] Signal %1 received: %2")
               .arg(signo)
               .arg(anyShown ? QStringLiteral("closing the window") : QStringLiteral("no window yet, ending now")));
    if (!anyShown) {
        signal(signo, SIG_DFL);
        raise(signo);
        return false;
    }
    // The window state goes to disk before any question: a logout that does
    // not wait for the answer still finds it stored at the next start.
    for (MainWindow* w : windows)
        w->storeWindowStateNow();
    for (MainWindow* w : windows) {
        if (!w->close())
            return true;   // the user kept the window: the program goes on
    }
    return false;
}

// Runs once, when the splash has gone.
void afterSplash(MainWindow* w, const QString& sessionPath)
{
    w->show();
    w->raise();
    w->activateWindow();
    w->applyTitleBarTheme();
    const qint64 shownAt = QDateTime::currentMSecsSinceEpoch();

    if (!sessionPath.isEmpty())
        QTimer::singleShot(0, w, [w, sessionPath] { w->openSessionFile(sessionPath); });

    QTimer::singleShot(Startup::kCategoryRefreshMs, w, [w] {
        if (w->refreshMusicList)
            w->refreshMusicList();
        if (w->musicList && w->musicStack && w->musicList->count() > 0)
            w->musicStack->setCurrentIndex(0);
    });

    SessionManager::instance()->setAutoSaveInterval(SettingsKeys::autoSaveSeconds() * 1000);

    StartupReport::noteShown(w, shownAt);
}

int runStartup(StartupApplication& app, SplashScreen* splash, const QIcon& appIcon, int argc, char** argv)
{
    step(splash, 8, "[Startup] Applying theme", QStringLiteral("Applying theme..."));
    {
        const QString stored = SettingsKeys::readString(SettingsKeys::AppearancePreset, QStringLiteral("default"));
        ThemeManager::instance()->applyPreset(Startup::presetForSetting(stored));
    }
    // Applying a preset puts the preset's own accent in place of the user's.
    MainWindow::reapplyStoredAccent();

    step(splash, 20, "[Startup] Starting AudioEngine", QStringLiteral("Starting audio engine..."));
    AudioEngine::instance();
    pump();

    step(splash, 30, "[Startup] Initializing DrumEngine (synchronous)", QStringLiteral("Initializing drum engine..."));
    DrumEngine::instance()->initialize();
    pump();

    step(splash, 38, "[Startup] Warming up audio playback backend", QStringLiteral("Warming up audio playback..."));
    AudioEngine::instance()->warmupBackend();
    pump();

    step(splash, 45, "[Startup] Starting LibraryManager", QStringLiteral("Scanning sound library..."));
    LibraryManager::instance();
    pump();

    step(splash, 62, "[Startup] Starting MidiManager", QStringLiteral("Setting up MIDI devices..."));
    MidiManager::instance();
    pump();

    step(splash, 84, "[Startup] Building MainWindow", QStringLiteral("Building interface..."));
    MainWindow::setDebugWindowOpener([] {
        DebugWindow* d = DebugWindow::instance();
        d->show();
        d->raise();
    });
    auto* w = new MainWindow(nullptr);
    if (!appIcon.isNull())
        w->setWindowIcon(appIcon);
    pump();

    step(splash, 93, "[Startup] Loading last session", QStringLiteral("Loading last session..."));
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const QString sessionPath = Startup::sessionPathFromArguments(args);
    pump();
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        const QStringList ids = Startup::activeTabAudioIds(SessionManager::instance()->session());
        // With pre-loading off nothing is decoded ahead: there is nothing to wait for.
        if (ds->isInitialized() && !ids.isEmpty() && SettingsKeys::readBool(SettingsKeys::AudioPreload)) {
            // A sound whose decode failed, or that is too long for the
            // engine, is done as well: waiting gains nothing for it.
            Startup::waitForDecodedSounds(
                ids, [ds](const QString& id) { return ds->isSettled(id); }, StartupReport::waitClock(),
                [splash](int done, int total) {
                    splash->setStatus(QStringLiteral("Preparing sounds... (%1/%2)").arg(done).arg(total));
                    splash->setProgress(93);
                    pump();
                    QThread::msleep(Startup::kPrebufferPollMs);
                });
            const auto ready = std::count_if(ids.cbegin(), ids.cend(),
                                             [ds](const QString& id) { return ds->isReady(id); });
            VX_LOG(QStringLiteral("[Startup] Pre-buffer wait done: %1/%2 ready").arg(ready).arg(ids.size()));
        }
    }

    step(splash, 97, nullptr, QStringLiteral("Warming up..."));
    w->setPalette(QApplication::palette());
    pump();
    w->ensurePolished();
    pump();

    step(splash, 99, nullptr, QStringLiteral("Scanning library..."));
    LibraryManager::instance()->loadConfig();
    if (w->rebuildLibraryTree)
        w->rebuildLibraryTree();
    for (int i = 0; i < 5; ++i)
        pump();

    step(splash, 100, nullptr, QStringLiteral("Ready! Starting VX-Rododu..."));
    pump();

    QObject::connect(splash, &SplashScreen::finished, w, [w, sessionPath] { afterSplash(w, sessionPath); },
                     Qt::SingleShotConnection);
    QTimer::singleShot(Startup::kSplashHoldMs, splash, &SplashScreen::finish);
    return app.execAndRethrow();
}

} // namespace

int qMain(int argc, char** argv)
{
    HeapUse::limitRetention();
    QThreadPool::globalInstance()->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    // Hand the memory the loader and static set-up left behind back to the system.
    malloc_trim(0);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    QApplication::setStyle(QStringLiteral("Fusion"));
    StartupApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Tarvello Rododu"));
    QApplication::setOrganizationName(QStringLiteral("Tarvello"));
    QApplication::setOrganizationDomain(QStringLiteral("tarvello.com"));
    QApplication::setApplicationVersion(QStringLiteral("2.0.84"));

    const QPixmap logo = Startup::loadLogo({QStringLiteral(":/logo.png"), QStringLiteral(":/icons/logo.png"),
                                            QCoreApplication::applicationDirPath()
                                                + QStringLiteral("/resources/logo.png")});
    const QIcon appIcon = Startup::makeApplicationIcon(QPixmap(QStringLiteral(":/vx_ruzoru_icon.ico")), logo);
    if (!appIcon.isNull())
        QApplication::setWindowIcon(appIcon);
    else
        QApplication::setWindowIcon(QIcon(Startup::paintFallbackIcon(ThemeManager::instance()->colors().accent)));

    CrashReport::install();
    TermSignals::install(&app, closeWindowsOnSignal);
    // Once the last window has stored what it keeps (its session question
    // answered, its state and the settings written), and whenever the loop
    // ends, nothing left may keep the process: not the engines letting go
    // of a sound server that does not answer, nor anything destroyed after.
    QObject::connect(WindowManager::instance(), &WindowManager::lastWindowClosing,
                     [] { ProcessExit::endWithin(Startup::kExitBoundMs); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] { ProcessExit::endWithin(Startup::kExitBoundMs); });
    qRegisterMetaType<QList<LibraryEntry>>("QVector<LibraryEntry>");
    QApplication::setPalette(QApplication::style()->standardPalette());
    StartupReport::install();

    // A second window opened from the window list is built the same way.
    WindowManager::setWindowFactory([appIcon] {
        auto* w = new MainWindow(nullptr);
        if (!appIcon.isNull())
            w->setWindowIcon(appIcon);
        w->show();
        w->raise();
        w->activateWindow();
        return w;
    });

    auto* splash = new SplashScreen(nullptr);
    if (!logo.isNull())
        splash->setLogoPixmap(logo);
    splash->show();
    QCoreApplication::processEvents();

    const int rc = Startup::runGuarded([&] { return runStartup(app, splash, appIcon, argc, argv); });
    ProcessExit::noteExitCode(rc);
    ProcessExit::endWithin(Startup::kExitBoundMs);   // a start-up that failed ends bounded too
    StartupReport::finish(rc);
    return rc;
}
