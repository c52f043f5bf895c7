#include "KnownFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMutexLocker>
#include <QSet>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

QString folderOf(const QString& path)
{
    return QFileInfo(path).absolutePath();
}

// The sweep looks in runs of about kRunMs, then rests kRestPerRun times as
// long, but never more than kMaxRestMs: a look that hung for a minute on a
// lost share is not followed by three minutes of rest.
constexpr qint64 kRunMs = 20;
constexpr qint64 kRestPerRun = 3;
constexpr qint64 kMaxRestMs = 10000;

} // namespace

// Lives on the watching thread: the system's notices of each file and its
// folder, and the watches behind them. It looks only at files a notice
// named, so a slow share's looks never hold a local save's notice.
class KnownFilesWatcher : public QObject
{
public:
    explicit KnownFilesWatcher(KnownFiles* files) : m_files(files) {}

    // On the watching thread, once it runs.
    void start()
    {
        m_fsw = new QFileSystemWatcher(this);
        connect(m_fsw, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) {
            m_noticedFiles.insert(path);
            gather(path);
        });
        connect(m_fsw, &QFileSystemWatcher::directoryChanged, this, [this](const QString& dir) {
            m_noticedDirs.insert(dir);
            const auto it = m_byDir.constFind(dir);
            if (it != m_byDir.constEnd())
                for (const QString& path : *it)
                    gather(path);
        });
        m_gatherTimer = new QTimer(this);
        m_gatherTimer->setSingleShot(true);
        m_gatherTimer->setInterval(KnownFiles::kGatherMs);
        connect(m_gatherTimer, &QTimer::timeout, this, [this] { lookAtGathered(); });
        m_files->m_gatherMs.store(m_gatherTimer->interval());
    }

    // A path looked at for the first time, as that look saw it. (A change
    // made between that look and the watch tells nothing: the sweep finds
    // it. Looking again here would hold notices behind a slow share.)
    void follow(const QString& path, const FileCheck::Stamp& stamp)
    {
        if (m_paths.contains(path))
            return;
        m_paths.insert(path);
        m_byDir[folderOf(path)].insert(path);
        keepWatch(path, stamp);
    }

    void gather(const QString& path)
    {
        m_gathered.insert(path);
        if (m_gatherTimer && !m_gatherTimer->isActive())
            m_gatherTimer->start();
    }

    // Keeps a watch on the path's folder (a save through a new file, a move
    // or a delete tells it) and on the file there now (a rewrite in place
    // tells only the file's own watch). Both watches go with what they
    // watch and are taken up again once it is back.
    void keepWatch(const QString& path, const FileCheck::Stamp& stamp)
    {
        const QString dir = folderOf(path);
        if (!m_dirWatch.contains(dir) && !m_unwatched.contains(dir) && QFileInfo(dir).isDir() && watch(dir))
            m_dirWatch.insert(dir);
        if (!stamp.exists())
            return;
        const FileId now{stamp.inode, stamp.device};
        const auto it = m_fileWatch.find(path);
        if (it != m_fileWatch.end()) {
            if (*it == now)
                return;
            // Saved through a new file while something still holds the old
            // one open: the watch stays on the old file, which will never
            // change again. It is taken up on the file there now.
            m_fsw->removePath(path);
            unwatchFile(path);
        }
        if (watch(path))
            watchFile(path, now);
    }

    void setWatchLimit(int more)
    {
        m_limit = more;
        m_takenSinceLimit = 0;
        if (more < 0)
            watchLetGo();
    }

private:
    struct FileId
    {
        quint64 inode = 0;
        quint64 device = 0;
        bool operator==(const FileId&) const = default;
    };

    void lookAtGathered()
    {
        noteWatchesLetGo();
        const QSet<QString> paths = std::exchange(m_gathered, {});
        QStringList seen;
        for (const QString& path : paths) {
            const quint64 ticket = m_files->nextTicket();
            const FileCheck::Stamp stamp = m_files->look(path);
            // The watch follows the file before anyone learns of the change.
            keepWatch(path, stamp);
            const KnownFiles::Looked looked = m_files->keep(path, stamp, ticket);
            if (looked.isNew)
                m_files->follow(path, stamp);
            if (looked.differs)
                seen << path;
        }
        if (!seen.isEmpty())
            emit m_files->filesSeen(seen);
    }

    // Qt lets a watch go with the file or folder it watched (deleted, moved
    // away), and says so by a notice. That leaves room for one refused at
    // the system's limit.
    void noteWatchesLetGo()
    {
        bool letGo = false;
        if (!m_noticedFiles.isEmpty()) {
            const QStringList watched = m_fsw->files();
            const QSet<QString> held(watched.cbegin(), watched.cend());
            for (const QString& path : std::exchange(m_noticedFiles, {}))
                letGo |= !held.contains(path) && unwatchFile(path);
        }
        if (!m_noticedDirs.isEmpty()) {
            const QStringList watched = m_fsw->directories();
            const QSet<QString> held(watched.cbegin(), watched.cend());
            for (const QString& dir : std::exchange(m_noticedDirs, {}))
                letGo |= !held.contains(dir) && m_dirWatch.remove(dir);
        }
        if (letGo)
            watchLetGo();
    }

    // Takes a watch of a file or folder; false when none was taken. One
    // refused at the system's limit is left to the sweep, and tried again
    // only once some watch has been let go. Each refusal is a warning from
    // Qt, so after two in a row nothing is tried until then.
    bool watch(const QString& path)
    {
        if (m_unwatched.contains(path))
            return false;
        if (m_full) {
            m_unwatched.insert(path);
            return false;
        }
        const bool pastLimit = m_limit >= 0 && m_takenSinceLimit >= m_limit;
        if (!pastLimit) {
            if (m_fsw->addPath(path) || m_fsw->files().contains(path) || m_fsw->directories().contains(path)) {
                m_refusedLast = false;
                ++m_takenSinceLimit;
                return true;
            }
            if (!QFileInfo::exists(path))
                return false;   // gone meanwhile; its notice is on the way
        }
        m_files->countRefused(path);
        m_unwatched.insert(path);
        m_full = std::exchange(m_refusedLast, true);
        return false;
    }

    void watchFile(const QString& path, const FileId& id)
    {
        m_fileWatch.insert(path, id);
        m_files->noteWatched(path, true);
    }
    bool unwatchFile(const QString& path)
    {
        m_files->noteWatched(path, false);
        return m_fileWatch.remove(path);
    }

    void watchLetGo()
    {
        m_full = m_refusedLast = false;
        const QSet<QString> waiting = std::exchange(m_unwatched, {});
        for (const QString& path : waiting) {
            if (!m_byDir.contains(path))
                keepWatch(path, m_files->lastSeen(path));
            else if (!m_dirWatch.contains(path) && QFileInfo(path).isDir() && watch(path))
                m_dirWatch.insert(path);
        }
    }

    KnownFiles* m_files;
    QFileSystemWatcher* m_fsw = nullptr;
    QTimer* m_gatherTimer = nullptr;
    QSet<QString> m_paths;
    QHash<QString, QSet<QString>> m_byDir;
    QSet<QString> m_gathered;
    QSet<QString> m_noticedFiles;
    QSet<QString> m_noticedDirs;
    QHash<QString, FileId> m_fileWatch;   // the file each watch was taken on
    QSet<QString> m_dirWatch;
    QSet<QString> m_unwatched;   // refused at the limit
    bool m_refusedLast = false;
    bool m_full = false;
    int m_limit = -1;   // watches that may be taken since the limit was set (tests)
    int m_takenSinceLimit = 0;
};

// Lives on a thread of its own: looks at every file again, for disks that
// send no notice. Its looks may be slow or hang; only the sweep waits.
class KnownFilesSweeper : public QObject
{
public:
    explicit KnownFilesSweeper(KnownFiles* files) : m_files(files) {}

    // On the sweeping thread, once it runs.
    void start()
    {
        m_timer = new QTimer(this);
        m_timer->setSingleShot(true);
        connect(m_timer, &QTimer::timeout, this, [this] { lookOn(); });
        m_sweep.start();
        m_timer->start(KnownFiles::kSweepMs);
    }

    void add(const QString& path)
    {
        m_paths << path;
        m_byDir[folderOf(path)] << path;
    }

    // A file asked about again (one last seen missing, pressed): looked at
    // now, between the sweep's runs.
    void recheck(const QString& path)
    {
        QStringList seen;
        lookAt(path, &seen);
        if (!seen.isEmpty())
            emit m_files->filesSeen(seen);
    }

private:
    // Looks at the next files for about kRunMs, then rests: three times as
    // long as the looks took, and at the end of a sweep until kSweepMs
    // after it began.
    void lookOn()
    {
        if (m_next == 0)
            m_sweep.start();
        QElapsedTimer run;
        run.start();
        QStringList seen;
        while (m_next < m_paths.size() && run.elapsed() < kRunMs) {
            const QString& path = m_paths.at(m_next++);
            if (!lookAt(path, &seen))
                continue;
            // A folder renamed away or back, or its disk gone, changes all
            // its files at once: they are looked at now, together, so that
            // the change is told once, not spread over the rests between runs.
            for (const QString& other : m_byDir.value(folderOf(path)))
                if (other != path)
                    lookAt(other, &seen);
        }
        if (!seen.isEmpty())
            emit m_files->filesSeen(seen);
        qint64 rest = std::min(run.elapsed() * kRestPerRun, kMaxRestMs);
        if (m_next >= m_paths.size()) {
            m_next = 0;
            rest = std::max(rest, KnownFiles::kSweepMs - m_sweep.elapsed());
        }
        m_timer->start(int(rest));
    }

    // Looks at the file; true (and the path added to *told) when it is
    // other than last seen. The watch follows the file there now.
    bool lookAt(const QString& path, QStringList* told)
    {
        const KnownFiles::Looked seen = m_files->lookAndKeep(path);
        if (seen.isNew)   // asked about before anyone looked at it
            m_files->follow(path, seen.stamp);
        if (seen.differs) {
            *told << path;
            KnownFilesWatcher* w = m_files->m_watcher;
            const FileCheck::Stamp stamp = seen.stamp;
            QMetaObject::invokeMethod(w, [w, path, stamp] { w->keepWatch(path, stamp); }, Qt::QueuedConnection);
        }
        return seen.differs;
    }

    KnownFiles* m_files;
    QTimer* m_timer = nullptr;
    QElapsedTimer m_sweep;   // since the sweep began
    QStringList m_paths;
    QHash<QString, QStringList> m_byDir;
    qsizetype m_next = 0;
};

// Never destroyed: a look hanging on a lost disk must hold neither the exit
// nor find its keeper gone when it returns. The process ends the threads.
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
    m_watchThread = new QThread;
    m_watchThread->setObjectName(QStringLiteral("KnownFiles"));
    m_watcher = new KnownFilesWatcher(this);
    m_watcher->moveToThread(m_watchThread);
    m_watchThread->start();
    m_sweepThread = new QThread;
    m_sweepThread->setObjectName(QStringLiteral("KnownFiles sweep"));
    m_sweeper = new KnownFilesSweeper(this);
    m_sweeper->moveToThread(m_sweepThread);
    m_sweepThread->start(QThread::LowPriority);
    KnownFilesWatcher* w = m_watcher;
    QMetaObject::invokeMethod(w, [w] { w->start(); }, Qt::QueuedConnection);
    KnownFilesSweeper* s = m_sweeper;
    QMetaObject::invokeMethod(s, [s] { s->start(); }, Qt::QueuedConnection);
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

KnownFiles::Looked KnownFiles::lookAndKeep(const QString& path)
{
    const quint64 ticket = nextTicket();
    return keep(path, look(path), ticket);
}

KnownFiles::Looked KnownFiles::keep(const QString& path, const FileCheck::Stamp& stamp, quint64 ticket)
{
    Looked seen{stamp};
    {
        QMutexLocker lock(&m_mx);
        auto it = m_seen.find(path);
        if (it == m_seen.end()) {
            m_seen.insert(path, {seen.stamp, ticket, stamp.exists()});
            seen.isNew = true;
        } else if (it->ticket < ticket) {
            seen.differs = !(it->stamp == seen.stamp);
            *it = {seen.stamp, ticket, it->wasThere || stamp.exists()};
        }
    }
    return seen;
}

void KnownFiles::follow(const QString& path, const FileCheck::Stamp& stamp)
{
    KnownFilesWatcher* w = m_watcher;
    QMetaObject::invokeMethod(w, [w, path, stamp] { w->follow(path, stamp); }, Qt::QueuedConnection);
    KnownFilesSweeper* s = m_sweeper;
    QMetaObject::invokeMethod(s, [s, path] { s->add(path); }, Qt::QueuedConnection);
}

FileCheck::Stamp KnownFiles::lastSeen(const QString& path, bool* known) const
{
    QMutexLocker lock(&m_mx);
    const auto it = m_seen.constFind(path);
    if (known)
        *known = it != m_seen.constEnd();
    return it != m_seen.constEnd() ? it->stamp : FileCheck::Stamp{};
}

bool KnownFiles::seenThereOnce(const QString& path) const
{
    QMutexLocker lock(&m_mx);
    const auto it = m_seen.constFind(path);
    return it != m_seen.constEnd() && it->wasThere;
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
    const Looked seen = lookAndKeep(path);
    if (seen.isNew)
        follow(path, seen.stamp);
    if (seen.differs)
        emit filesSeen({path});
    return seen.stamp;
}

void KnownFiles::recheck(const QString& path)
{
    if (path.isEmpty())
        return;
    // Not on the watching thread: the file may be on a share that hangs,
    // and the system's notices of every other file would wait behind it.
    KnownFilesSweeper* s = m_sweeper;
    QMetaObject::invokeMethod(s, [s, path] { s->recheck(path); }, Qt::QueuedConnection);
}

void KnownFiles::setLook(Look look)
{
    QMutexLocker lock(&m_mx);
    m_look = std::move(look);
}

void KnownFiles::setWatchLimit(int more)
{
    KnownFilesWatcher* w = m_watcher;
    QMetaObject::invokeMethod(w, [w, more] { w->setWatchLimit(more); }, Qt::QueuedConnection);
}

void KnownFiles::countRefused(const QString& path)
{
    QMutexLocker lock(&m_mx);
    ++m_refused[path];
}

void KnownFiles::noteWatched(const QString& path, bool watched)
{
    QMutexLocker lock(&m_mx);
    if (watched)
        m_watched.insert(path);
    else
        m_watched.remove(path);
}

bool KnownFiles::isWatched(const QString& path) const
{
    QMutexLocker lock(&m_mx);
    return m_watched.contains(path);
}

int KnownFiles::refusedWatches(const QString& path) const
{
    QMutexLocker lock(&m_mx);
    return m_refused.value(path);
}
