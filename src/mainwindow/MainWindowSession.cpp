// Session commands of the window: opening a file by path, the unsaved-changes
// question, the window title, and session files dropped on the window.
#include "MainWindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>

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

// The session commands of the toolbar and the Control keys; their bodies
// come with the session commands.
void MainWindow::onNewSession() {}

void MainWindow::onOpenSession() {}

void MainWindow::onSaveSession() {}

void MainWindow::openSessionFile(const QString& path)
{
    if (!QFile::exists(path)) {
        Modal::critical(this, QStringLiteral("Error"), QStringLiteral("File not found:\n") + path);
        return;
    }
    if (!SessionManager::instance()->loadSession(path)) {
        Modal::critical(this, QStringLiteral("Error"), QStringLiteral("Failed to load session:\n") + path);
        toast(QStringLiteral("❌  Failed to open session"), ToastManager::Error, 3000);
        return;
    }
    toast(QStringLiteral("📂  Session opened: ") + QFileInfo(path).baseName(), ToastManager::Success, 2500);
}

bool MainWindow::confirmUnsavedChanges()
{
    SessionManager* sm = SessionManager::instance();
    if (!sm->isDirty())
        return true;
    const int answer = Modal::question(this, QStringLiteral("Unsaved Changes"),
                                       QStringLiteral("You have unsaved changes. Save before continuing?"),
                                       QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    if (answer == QMessageBox::Save) {
        sm->saveSession();
        return true;
    }
    return answer == QMessageBox::Discard;
}

void MainWindow::setWindowTitleFromSession()
{
    const SessionManager* sm = SessionManager::instance();
    const QString path = sm->session().filePath;
    const QString name = path.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(path).baseName();
    setWindowTitle(QStringLiteral("Tarvello Rododu — %1%2").arg(name, sm->isDirty() ? QStringLiteral(" *") : QString()));
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
