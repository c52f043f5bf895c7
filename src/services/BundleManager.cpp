#include "BundleManager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QProgressDialog>
#include <QThread>

#include <memory>
#include <utility>

#include "BundleWorker.h"
#include "Modal.h"
#include "SessionManager.h"

BundleManager* BundleManager::instance()
{
    static BundleManager* s = new BundleManager(QCoreApplication::instance());
    return s;
}

BundleManager::BundleManager(QObject* parent) : QObject(parent)
{
    registerSessionTypes();
}

void BundleManager::applyProgress(QProgressDialog* dialog, int current, int total, const QString& msg)
{
    if (total > 0)
        dialog->setValue(int(double(current) * 100.0 / double(total)));
    dialog->setLabelText(msg);
}

QString BundleManager::scopeTabLabel(const TabData& tab, int position)
{
    int sounds = 0;
    for (const ButtonData& b : tab.buttons)
        if (!b.audioPath.isEmpty())
            ++sounds;
    const QString name = tab.name.isEmpty() ? QStringLiteral("Tab %1").arg(position) : tab.name;
    return QStringLiteral("%1  (%2 sound(s))").arg(name).arg(sounds);
}

QString BundleManager::suggestedBundlePath(const QString& sessionFile, bool perTab, const QList<TabData>& chosen)
{
    QString name = QDir::homePath() + QLatin1Char('/') + QFileInfo(sessionFile).completeBaseName();
    if (perTab && chosen.size() == 1)
        name += QLatin1Char('_') + (chosen.first().name.isEmpty() ? QStringLiteral("Tab") : chosen.first().name);
    return name + QStringLiteral(".vxbundle");
}

namespace {

// Everything one job owns on the GUI side. Whichever result comes first
// releases it; anything after that finds it released and does nothing.
struct Job
{
    QPointer<QProgressDialog> dialog;
    QPointer<BundleWorker> worker;
    QPointer<QThread> thread;
    QPointer<QWidget> parent;
    QMetaObject::Connection cancelLink;   // the dialog's Cancel to the worker
    int missingSounds = 0;   // sounds the project names that the bundle lacks
    bool released = false;

    bool release()
    {
        if (released)
            return false;
        released = true;
        if (dialog) {
            // Closing the dialog must not reach the worker any more. Only that
            // link goes: Qt's own ones (the style's note of the dialog's end
            // among them) stay.
            QObject::disconnect(cancelLink);
            dialog->close();
            dialog->deleteLater();
        }
        // Posted before the thread can end, so the thread's own end deletes
        // the worker when the event loop is gone by then.
        if (worker)
            worker->deleteLater();
        if (thread)
            thread->quit();
        return true;
    }
};

} // namespace

void BundleManager::runWorker(BundleWorker* worker, QWidget* parent, const QString& label)
{
    auto* dialog = new QProgressDialog(label, QStringLiteral("Cancel"), 0, 100, parent);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setMinimumDuration(0);
    dialog->setMinimumWidth(420);
    // The job's own result closes the dialog, not the value reaching 100.
    dialog->setAutoReset(false);
    dialog->setAutoClose(false);
    dialog->setValue(0);
    dialog->show();

    auto* thread = new QThread;
    worker->moveToThread(thread);

    auto job = std::make_shared<Job>();
    job->dialog = dialog;
    job->worker = worker;
    job->thread = thread;
    job->parent = parent;

    // Queued like the result that follows it, so it arrives first.
    const bool exporting = worker->isExportJob();
    connect(worker, &BundleWorker::soundsMissing, QCoreApplication::instance(),
            [this, job, exporting](int sounds, const QStringList& buttons) {
                if (job->released)
                    return;
                job->missingSounds = sounds;
                if (exporting)
                    emit exportLeftOutSounds(sounds, buttons);
                else
                    emit importMissedSounds(sounds, buttons);
            }, Qt::QueuedConnection);
    connect(worker, &BundleWorker::appendReady, QCoreApplication::instance(), [this, job](const QByteArray& json) {
        if (!job->release())
            return;
        const qsizetype before = SessionManager::instance()->session().tabs.size();
        notifyAppendReady(json);
        if (SessionManager::instance()->session().tabs.size() <= before)
            return;
        if (job->missingSounds > 0)
            Modal::warning(job->parent, QStringLiteral("Import"),
                           QStringLiteral("Tab(s) added to the current session, but %1 sound(s) were not in the "
                                          "bundle (listed in the event log).")
                               .arg(job->missingSounds));
        else
            Modal::information(job->parent, QStringLiteral("Import"),
                               QStringLiteral("Tab(s) added to the current session."));
    }, Qt::QueuedConnection);
    connect(worker, &BundleWorker::progress, dialog, [dialog](int current, int total, const QString& msg) {
        applyProgress(dialog, current, total, msg);
    }, Qt::QueuedConnection);
    job->cancelLink = connect(dialog, &QProgressDialog::canceled, worker, &BundleWorker::cancel, Qt::DirectConnection);
    connect(worker, &BundleWorker::finished, QCoreApplication::instance(), [job](bool ok, const QString& msg) {
        if (!job->release())
            return;
        if (ok && job->missingSounds > 0)
            Modal::warning(job->parent, QStringLiteral("Bundle"), msg);
        else if (ok)
            Modal::information(job->parent, QStringLiteral("Bundle"), msg);
        else if (msg != QLatin1String("Cancelled"))
            Modal::critical(job->parent, QStringLiteral("Bundle Error"), msg);
    }, Qt::QueuedConnection);
    connect(thread, &QThread::started, worker, &BundleWorker::run);
    // Deleted only once its thread has really ended.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}

void BundleManager::notifyImportDone(const QString& vxPath, const QByteArray& midiJson)
{
    importedMidi = midiJson;
    emit importedProjectReady(vxPath);
}

QByteArray BundleManager::takeImportedMidi()
{
    return std::exchange(importedMidi, QByteArray());
}

QList<TabData> BundleManager::pickMergeTabs(const QList<TabData>& projectTabs, const QList<int>& indices,
                                            const QList<QString>& names)
{
    if (indices.isEmpty())
        return projectTabs;
    QList<bool> used(projectTabs.size(), false);
    QList<TabData> out;
    for (int n = 0; n < indices.size(); ++n) {
        int pick = -1;
        if (n < names.size()) {
            for (int k = 0; k < projectTabs.size() && pick < 0; ++k)
                if (!used.at(k) && projectTabs.at(k).name == names.at(n))
                    pick = k;
        }
        const int k = indices.at(n);
        if (pick < 0 && k >= 0 && k < projectTabs.size() && !used.at(k))
            pick = k;
        if (pick < 0)
            continue;
        used[pick] = true;
        out << projectTabs.at(pick);
    }
    return out;
}

void BundleManager::notifyAppendReady(const QByteArray& patchedProjectJson)
{
    QJsonParseError err;
    const QJsonDocument doc = QJsonDocument::fromJson(patchedProjectJson, &err);
    if (doc.isNull()) {
        qWarning() << "BundleManager: append-ready JSON parse error:" << err.errorString() << "at offset"
                   << err.offset;
        if (dialogParent)
            Modal::critical(dialogParent, QStringLiteral("Import Error"),
                            QStringLiteral("Failed to parse imported project JSON."));
        dialogParent = nullptr;
        return;
    }
    QList<TabData> all;
    for (const QJsonValue& v : doc.object().value(QStringLiteral("tabs")).toArray())
        all << TabData::fromJson(v.toObject());
    const QList<TabData> result = pickMergeTabs(all, mergeTabIndices, mergeTabNames);
    mergeTabIndices.clear();
    mergeTabNames.clear();
    dialogParent = nullptr;
    if (!result.isEmpty())
        emit tabsReadyForSession(result);
}
