// Session commands of the window: new, open (by the file dialog, by path and
// by a file dropped on the window), save, save as, the unsaved-changes
// question and the window title. Nothing replaces a session with unsaved
// changes without asking.
#include "MainWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>

#include "EventLog.h"
#include "FileCheck.h"
#include "Modal.h"
#include "SessionManager.h"

namespace {

// A local file of a drag or drop that names a session: suffix "vx" or "json".
QString sessionFileOf(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return {};
    const QString path = mime->urls().first().toLocalFile();
    const QString suffix = QFileInfo(path).suffix().toLower();
    return (suffix == QLatin1String("vx") || suffix == QLatin1String("json")) ? path : QString();
}

} // namespace

void MainWindow::onNewSession()
{
    if (!confirmUnsavedChanges())
        return;
    SessionManager::instance()->newSession();
    if (eventLog)
        eventLog->log(QStringLiteral("File"), QStringLiteral("New session created"), QStringLiteral("info"));
    toast(QStringLiteral("📄  New session created"), ToastManager::Info, 2000);
}

void MainWindow::onOpenSession()
{
    const QString path = Modal::getOpenFileName(
        this, QStringLiteral("Open Session"), QString(),
        QStringLiteral("Tarvello Session (*.vx *.json);;JSON Files (*.json);;All Files (*)"));
    if (!path.isEmpty())
        openSessionFile(path);
}

void MainWindow::onSaveSession()
{
    syncGridsToSession();
    if (SessionManager::instance()->saveSession())
        toast(QStringLiteral("✅  Session saved"), ToastManager::Success, 2200);
    else
        reportSaveFailure();
}

void MainWindow::onSaveSessionAs()
{
    syncGridsToSession();
    if (SessionManager::instance()->saveSessionAs())
        toast(QStringLiteral("✅  Session saved as new file"), ToastManager::Success, 2200);
    else
        reportSaveFailure();
}

void MainWindow::reportSaveFailure()
{
    // A cancelled file dialog is no failure: nothing to say.
    const QString why = SessionManager::instance()->lastSaveError();
    if (why.isEmpty())
        return;
    toast(QStringLiteral("❌  Save failed — check file permissions"), ToastManager::Error, 3000);
    if (eventLog)
        eventLog->log(QStringLiteral("File"), QStringLiteral("Save failed: ") + why, QStringLiteral("error"));
}

void MainWindow::onAutoSaveFailed(const QString& why)
{
    toast(QStringLiteral("⚠️  Autosave failed — your changes are not saved yet"), ToastManager::Warning, 4000);
    if (eventLog)
        eventLog->log(QStringLiteral("File"), QStringLiteral("Autosave failed: ") + why, QStringLiteral("warn"));
}

void MainWindow::reportRenewedIds()
{
    const int renewed = SessionManager::instance()->renewedIdsOnLoad();
    if (renewed <= 0 || !eventLog)
        return;
    eventLog->log(QStringLiteral("Session"),
                  renewed == 1 ? QStringLiteral("1 button had the id of another and got a new one")
                               : QStringLiteral("%1 buttons had the id of another and got new ones").arg(renewed),
                  QStringLiteral("warn"));
}

bool MainWindow::openSessionFile(const QString& path)
{
    switch (FileCheck::kindOf(path)) {
    case FileCheck::Kind::Missing:
        Modal::critical(this, QStringLiteral("Error"), QStringLiteral("File not found:\n") + path);
        return false;
    case FileCheck::Kind::NotRegular:
        // A folder, pipe or device is no session; no need to ask first.
        Modal::critical(this, QStringLiteral("Error"), QStringLiteral("Failed to load session:\n") + path);
        toast(QStringLiteral("❌  Failed to open session"), ToastManager::Error, 3000);
        return false;
    case FileCheck::Kind::Regular:
        break;
    }
    if (!confirmUnsavedChanges())
        return false;
    if (!SessionManager::instance()->loadSession(path)) {
        Modal::critical(this, QStringLiteral("Error"), QStringLiteral("Failed to load session:\n") + path);
        toast(QStringLiteral("❌  Failed to open session"), ToastManager::Error, 3000);
        return false;
    }
    toast(QStringLiteral("📂  Session opened: ") + QFileInfo(path).baseName(), ToastManager::Success, 2500);
    return true;
}

bool MainWindow::confirmUnsavedChanges()
{
    SessionManager* sm = SessionManager::instance();
    if (!sm->isDirty())
        return true;
    const int answer = Modal::question(this, QStringLiteral("Unsaved Changes"),
                                       QStringLiteral("You have unsaved changes. Save before continuing?"),
                                       QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    // A save that fails or whose file dialog is cancelled keeps the session:
    // the caller does not go on, and a failure says why.
    if (answer == QMessageBox::Save) {
        syncGridsToSession();
        if (sm->saveSession())
            return true;
        reportSaveFailure();
        return false;
    }
    return answer == QMessageBox::Discard;
}

// The program's name alone until the window holds a session; then the name of
// the session's file ("Untitled" before its first save) and a star while it
// has unsaved changes.
void MainWindow::setWindowTitleFromSession()
{
    const QString app = QStringLiteral("Tarvello Rododu");
    if (!holdsSession) {
        setWindowTitle(app);
        return;
    }
    const SessionManager* sm = SessionManager::instance();
    const QString path = sm->session().filePath;
    const QString name = path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).baseName();
    setWindowTitle(QStringLiteral("%1 — %2%3").arg(app, name, sm->isDirty() ? QStringLiteral(" *") : QString()));
}

void MainWindow::onDirtyChanged(bool)
{
    setWindowTitleFromSession();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e)
{
    if (!sessionFileOf(e->mimeData()).isEmpty())
        e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e)
{
    const QString path = sessionFileOf(e->mimeData());
    if (!path.isEmpty())
        openSessionFile(path);
}
