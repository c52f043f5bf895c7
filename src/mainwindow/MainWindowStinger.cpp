// BSI Stinger import: pages and collections become new tabs behind the
// existing ones.
#include "MainWindow.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QtConcurrent>

#include "EventLog.h"
#include "Modal.h"
#include "SessionManager.h"

namespace {

constexpr int kImportToastMs = 3500;

} // namespace

void MainWindow::onImportStg()
{
    const QString path = Modal::getOpenFileName(this, QStringLiteral("Import Stinger Page"), QString(),
                                                QStringLiteral("BSI Stinger Page (*.stg);;All Files (*)"));
    if (!path.isEmpty())
        runStingerImport(path, &StingerImporter::importStg);
}

void MainWindow::onImportCol()
{
    const QString path = Modal::getOpenFileName(this, QStringLiteral("Import Stinger Collection"), QString(),
                                                QStringLiteral("BSI Stinger Collection (*.col);;All Files (*)"));
    if (!path.isEmpty())
        runStingerImport(path, &StingerImporter::importCol);
}

// The files are read and the audio searched for on the thread pool; the
// window takes the result in when it arrives.
void MainWindow::runStingerImport(const QString& path, StingerImporter::Result (*read)(const QString&))
{
    const QString sourceName = QFileInfo(path).fileName();
    auto* watcher = new QFutureWatcher<StingerImporter::Result>(this);
    connect(watcher, &QFutureWatcher<StingerImporter::Result>::finished, this, [this, watcher, sourceName] {
        watcher->deleteLater();
        applyStingerImport(watcher->result(), sourceName);
    });
    watcher->setFuture(QtConcurrent::run(read, path));
}

void MainWindow::applyStingerImport(const StingerImporter::Result& result, const QString& sourceName)
{
    if (!result.ok || result.tabs.isEmpty()) {
        QString text = QStringLiteral("No usable tabs found in: ") + sourceName;
        if (!result.warnings.isEmpty())
            text += QStringLiteral("\n\n") + result.warnings.join(QLatin1Char('\n'));
        Modal::warning(this, QStringLiteral("Stinger Import"), text);
        return;
    }

    const int imported = appendImportedTabs(
        result.tabs, QStringLiteral("⚠️  Tab limit (16) reached — some Stinger tabs were skipped."), kImportToastMs);
    refreshTabDerivedState();
    // The current tab moved: its rules and its counts, as when a tab is picked.
    applyPlaybackState();
    updateStatusBar();

    const int missing = int(std::count_if(result.warnings.cbegin(), result.warnings.cend(), [](const QString& w) {
        return w.contains(QLatin1String("not found"));
    }));
    QString summary = QStringLiteral("✅  %1 Stinger tab(s) imported").arg(imported);
    if (missing > 0)
        summary += QStringLiteral(" (%1 audio file(s) missing — see Event Log)").arg(missing);
    toast(summary, missing > 0 ? ToastManager::Warning : ToastManager::Success, kImportToastMs);

    if (eventLog) {
        for (const QString& w : result.warnings)
            eventLog->log(QStringLiteral("Stinger Import"), w, QStringLiteral("warn"));
    }
}
