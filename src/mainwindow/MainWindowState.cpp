// Window state between runs and the close of the window, which ends the
// program: unsaved work, the engines' shutdown and the window list.
#include "MainWindow.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QSplitter>

#include "AppSettings.h"
#include "SettingsKeys.h"
#include "AudioEngine.h"
#include "DrumEngine.h"
#include "LibraryManager.h"
#include "Modal.h"
#include "PcmPlayer.h"
#include "ScreenFit.h"
#include "SessionManager.h"
#include "ThemeManager.h"
#include "WasapiEngine.h"
#include "WindowManager.h"

namespace {
const char* const kLayoutVersion = "native_v1";
}

void MainWindow::loadWindowState()
{
    AppSettings s;
    if (SettingsKeys::readString(SettingsKeys::WindowVersion, QString()) == QLatin1String(kLayoutVersion)) {
        if (s.contains(QStringLiteral("window/geometry"))) {
            restoreGeometry(SettingsKeys::read(SettingsKeys::WindowGeometry).toByteArray());
            // Saved on a larger screen, it is bounded to this one's.
            ScreenFit::fitWindow(this);
        }
        if (s.contains(QStringLiteral("window/state")))
            restoreState(SettingsKeys::read(SettingsKeys::WindowState).toByteArray(), 0);
        return;
    }
    s.remove(QStringLiteral("window/geometry"));
    s.remove(QStringLiteral("window/state"));
    s.setValue(QStringLiteral("window/version"), QString::fromLatin1(kLayoutVersion));
    s.sync();
}

void MainWindow::saveWindowState()
{
    AppSettings s;
    s.setValue(QStringLiteral("window/geometry"), saveGeometry());
    s.setValue(QStringLiteral("window/state"), saveState(0));
    if (mainSplitter)
        s.setValue(QStringLiteral("window/splitter"), mainSplitter->saveState());
}

void MainWindow::storeWindowStateNow()
{
    saveWindowState();
    AppSettings s;
    s.setValue(QStringLiteral("appearance/preset"), ThemeManager::instance()->presetName());
    s.sync();
}

void MainWindow::closeEvent(QCloseEvent* e)
{
    {
        AppSettings s;
        s.setValue(QStringLiteral("appearance/preset"), ThemeManager::instance()->presetName());
        s.sync();
    }
    SessionManager* sm = SessionManager::instance();
    if (sm->session().filePath.isEmpty() && sm->isDirty()) {
        const int answer = Modal::question(this, QStringLiteral("Save Before Exit"),
                                           QStringLiteral("Save your session before exiting?"),
                                           QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                           QMessageBox::NoButton);
        if (answer == QMessageBox::Save) {
            // A cancelled file dialog or a failed write keeps the window
            // open; a failed write says why.
            syncGridsToSession();
            if (!sm->saveSessionAs() || sm->session().filePath.isEmpty()) {
                reportSaveFailure();
                e->ignore();
                return;
            }
        } else if (answer != QMessageBox::Discard) {
            e->ignore();
            return;
        }
    } else if (!confirmUnsavedChanges()) {
        e->ignore();
        return;
    }

    e->accept();
    closing = true;
    // Stored first: what comes after lets go of the sound server, which may
    // not answer, and the exit that follows the last window is ended at a
    // bound (see noteClosing below).
    saveWindowState();
    // The saved library folders are forgotten at each normal exit; the
    // download folder and the library's output device stay.
    LibraryManager::instance()->clearSavedFolders();
    hide();
    // A preview's fetched copy is the program's own temporary file.
    if (onlineList)
        stopOnlinePreview();
    WindowManager::instance()->noteClosing(this);

    // The engines live on the GUI thread and stop there, in shutdown order,
    // before the window list ends the event loop; the window is already
    // hidden, so nobody waits on a frozen window.
    WasapiEngine::instance()->shutdown();
    AudioEngine::instance()->shutdown();
    PcmPlayer::instance()->stopAll();
    DrumEngine::instance()->stopAll();

    WindowManager::instance()->unregisterWindow(this);
}
