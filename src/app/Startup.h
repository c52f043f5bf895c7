#pragma once
#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>

#include "ThemeManager.h"

struct Session;

// The program's entry: prepares the process and the application, shows the
// splash while it creates the engines, the managers and the one main window,
// and runs the event loop until the last main window goes. Returns the event
// loop's result, or 1 when start-up or the running program threw.
int qMain(int argc, char** argv);

// The application object of the program. An exception that leaves an event
// handler ends the event loop and is thrown again from exec(), so the
// start-up guard sees it instead of the process being torn down inside Qt.
class StartupApplication : public QApplication
{
public:
    StartupApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
    // QApplication::exec, then the exception that ended it, if one did.
    int execAndRethrow();
    // One pass of pending events; an exception one of them threw comes out
    // here, so start-up stops at the step that failed.
    void processEventsAndRethrow();

private:
    std::exception_ptr m_pending;
};

namespace Startup {

constexpr int kPrebufferLimitMs = 6000;
constexpr int kPrebufferPollMs = 30;
constexpr int kSplashHoldMs = 300;
constexpr int kCategoryRefreshMs = 500;
// Once the last window has stored what it keeps (or the event loop has
// ended), what is left of the exit may take this long before the process
// ends regardless (see ProcessExit::endWithin).
constexpr int kExitBoundMs = 3000;

// The stored "appearance/preset" as a preset: the exact lower-case names of
// the presets; anything else, "default" and "dark" included, is Dark.
ThemeManager::Preset presetForSetting(const QString& stored);

// The session file named on the command line (arguments after the program
// name): the first one that is an existing file whose suffix is exactly "vx"
// or "json"; empty when none is.
QString sessionPathFromArguments(const QStringList& args);

// Corner radius of the window icon at a size: max(round(size x 0.14), 2).
int iconCornerRadius(int size);
// The pixmap clipped to a rounded rectangle of the given radius; a null
// pixmap comes back as it is.
QPixmap roundCorners(const QPixmap& source, int radius);
// The logo: the first candidate that loads (resource paths or files).
QPixmap loadLogo(const QStringList& candidates);
// The window icon: the ".ico" pixmap when not null, plus the logo rounded at
// 16, 32, 48, 64, 128 and 256 pixels when the logo is not null.
QIcon makeApplicationIcon(const QPixmap& ico, const QPixmap& logo);
// Stand-in icon when no image is found: "VX" on a rounded accent square.
QPixmap paintFallbackIcon(const QColor& accent);

// Ids of the active tab's buttons that have a file, in order; none when the
// session's active tab is not a valid index.
QStringList activeTabAudioIds(const Session& session);

// Waits for the decoded sounds of ids: while some are not ready and no more
// than 5999 ms have passed (by now()), calls waiting(ready, total), which
// shows the count, lets events run and sleeps. Returns the ready count at the
// last look.
int waitForDecodedSounds(const QStringList& ids, const std::function<bool(const QString&)>& isReady,
                         const std::function<qint64()>& now,
                         const std::function<void(int ready, int total)>& waiting);

// Runs body; a standard exception is added to the crash report file as
// "C++ Exception: <text>" and shown in the "Tarvello Crash" box, any other
// exception only shown; both give 1. Otherwise body's result.
int runGuarded(const std::function<int()>& body);

} // namespace Startup
