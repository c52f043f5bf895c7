#include "KnownFiles.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QTimer>

// Lives on the watching thread: the paths to look at, their folders, the
// system's notices, and the sweep.
class KnownFilesWatcher : public QObject
{
public:
    explicit KnownFilesWatcher(KnownFiles* files) : m_files(files) {}

    // On the watching thread, once it runs.
    void start()
    {
        m_fsw = new QFileSystemWatcher(this);
        connect(m_fsw, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) { gather(path); });
        connect(m_fsw, &QFileSystemWatcher::directoryChanged, this, [this](const QString& dir) {
            for (const QString& path : std::as_const(m_byDir[dir]))
                gather(path);
        });
        m_gatherTimer = new QTimer(this);
        m_gatherTimer->setSingleShot(true);
        m_gatherTimer->setInterval(KnownFiles::kGatherMs);
        connect(m_gatherTimer, &QTimer::timeout, this, [this] { lookAtGathered(); });
        m_sweepTimer = new QTimer(this);
        m_sweepTimer->setInterval(KnownFiles::kSweepMs);
        connect(m_sweepTimer, &QTimer::timeout, this, [this] { sweep(); });
        m_sweepTimer->start();
    }

    void add(const QString& path)
    {
        if (m_paths.contains(path))
            return;
        m_paths.insert(path);
        m_byDir[folderOf(path)].insert(path);
        gather(path);
    }

    void gather(const QString& path)
    {
        m_gathered.insert(path);
        if (m_gatherTimer && !m_gatherTimer->isActive())
            m_gatherTimer->start();
    }

private:
    static QString folderOf(const QString& path) { return QFileInfo(path).absolutePath(); }

    void lookAtGathered()
    {
        const QSet<QString> paths = std::exchange(m_gathered, {});
        lookAt(paths);
    }

    void sweep()
    {
        lookAt(m_paths);
    }

    void lookAt(const QSet<QString>& paths)
    {
        const QStringList watchedFiles = m_fsw->files();
        const QStringList watchedDirs = m_fsw->directories();
        const QSet<QString> files(watchedFiles.cbegin(), watchedFiles.cend());
        const QSet<QString> dirs(watchedDirs.cbegin(), watchedDirs.cend());
        QStringList addFiles;
        QSet<QString> addDirs;
        for (const QString& path : paths) {
            const FileCheck::Stamp stamp = m_files->look(path);
            m_files->record(path, stamp);
            // A file rewritten in place tells only a watch of its own; one
            // saved through a new file, moved or deleted tells its folder.
            // Both watches go with what they watch and are taken up again
            // once it is back.
            if (stamp.exists() && !files.contains(path))
                addFiles << path;
            const QString dir = folderOf(path);
            if (!dirs.contains(dir) && !addDirs.contains(dir) && QFileInfo(dir).isDir())
                addDirs.insert(dir);
        }
        if (!addDirs.isEmpty())
            m_fsw->addPaths(QStringList(addDirs.cbegin(), addDirs.cend()));
        if (!addFiles.isEmpty())
            m_fsw->addPaths(addFiles);
    }

    KnownFiles* m_files;
    QFileSystemWatcher* m_fsw = nullptr;
    QTimer* m_gatherTimer = nullptr;
    QTimer* m_sweepTimer = nullptr;
    QSet<QString> m_paths;
    QHash<QString, QSet<QString>> m_byDir;
    QSet<QString> m_gathered;
};

// Never destroyed: a look hanging on a lost disk must hold neither the exit
// nor find its keeper gone when it returns. The process ends the thread.
KnownFiles* KnownFiles::instance()
{
    static KnownFiles* s_instance = new KnownFiles;
    return s_instance;
}

KnownFiles::KnownFiles()
{
    // Belongs to the application's thread, whichever thread asked first.
    if (QCoreApplication* app = QCoreApplication::instance(); app && QThread::currentThread() != app->thread())
        moveToThread(app->thread());
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("KnownFiles"));
    m_watcher = new KnownFilesWatcher(this);
    m_watcher->moveToThread(m_thread);
    m_thread->start(QThread::LowPriority);
    KnownFilesWatcher* w = m_watcher;
    QMetaObject::invokeMethod(w, [w] { w->start(); }, Qt::QueuedConnection);
}

FileCheck::Stamp KnownFiles::look(const QString& path) const
{
    Look lookFn;
    {
        QMutexLocker lock(&m_mx);
        lookFn = m_look;
    }
    return lookFn ? lookFn(path) : FileCheck::stampOf(path);
}

bool KnownFiles::record(const QString& path, const FileCheck::Stamp& stamp)
{
    bool isNew = false;
    bool differs = false;
    {
        QMutexLocker lock(&m_mx);
        auto it = m_seen.find(path);
        isNew = it == m_seen.end();
        if (isNew) {
            m_seen.insert(path, stamp);
        } else if (!(*it == stamp)) {
            *it = stamp;
            differs = true;
        }
    }
    if (differs)
        emit fileSeen(path);
    return isNew;
}

FileCheck::Stamp KnownFiles::lastSeen(const QString& path, bool* known) const
{
    QMutexLocker lock(&m_mx);
    const auto it = m_seen.constFind(path);
    if (known)
        *known = it != m_seen.constEnd();
    return it != m_seen.constEnd() ? *it : FileCheck::Stamp{};
}

bool KnownFiles::changedSince(const QString& path, const FileCheck::Stamp& was) const
{
    return changed(was, lastSeen(path));
}

FileCheck::Stamp KnownFiles::stampOf(const QString& path)
{
    bool known = false;
    const FileCheck::Stamp stamp = lastSeen(path, &known);
    return known ? stamp : lookNow(path);
}

FileCheck::Stamp KnownFiles::lookNow(const QString& path)
{
    if (path.isEmpty())
        return {};
    const FileCheck::Stamp stamp = look(path);
    if (record(path, stamp)) {
        KnownFilesWatcher* w = m_watcher;
        QMetaObject::invokeMethod(w, [w, path] { w->add(path); }, Qt::QueuedConnection);
    }
    return stamp;
}

void KnownFiles::recheck(const QString& path)
{
    if (path.isEmpty())
        return;
    KnownFilesWatcher* w = m_watcher;
    QMetaObject::invokeMethod(
        w,
        [w, path] {
            w->add(path);
            w->gather(path);
        },
        Qt::QueuedConnection);
}

void KnownFiles::setLook(Look look)
{
    QMutexLocker lock(&m_mx);
    m_look = std::move(look);
}
