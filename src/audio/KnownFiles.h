#pragma once
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

#include "FileCheck.h"

class QThread;
class KnownFilesWatcher;
class KnownFilesSweeper;

// What the program knows of the sound files it plays: each file's stamp as
// last seen. Everything made from a file (a decoded sound, a header's facts,
// waveform peaks, a prepared player) is kept with the stamp the file had then
// and asks here whether it still holds.
//
// The files are looked at away from the GUI thread, on two threads of their
// own. One watches each file and its folder and looks only at the files the
// system names in its notices: a save in place, a save through a new file
// and a rename are known within milliseconds. The other sweeps, looking at
// every file again for disks that send no notice (network shares); a slow or
// hung share holds only the sweep. So asking here never waits on a disk,
// except for the very first look at a path nobody has looked at yet
// (stampOf).
//
// The rule, written once: a file that cannot be seen (moved away, deleted,
// its disk gone) is not a change; a file has changed when it is there and
// its stamp differs.
class KnownFiles : public QObject
{
    Q_OBJECT
public:
    static KnownFiles* instance();

    // Whether what was made of version `was` has given way to the file as
    // seen `now`: only a file that is there and differs.
    static bool changed(const FileCheck::Stamp& was, const FileCheck::Stamp& now)
    {
        return now.exists() && !(now == was);
    }

    // The stamp as last seen; never touches the disk. *known (when given)
    // is false for a path never looked at, whose stamp is that of none.
    FileCheck::Stamp lastSeen(const QString& path, bool* known = nullptr) const;
    // Whether any look saw the file there: one missing since its first look
    // was never lost. Never touches the disk.
    bool seenThereOnce(const QString& path) const;
    // changed(was, lastSeen(path)); false for a path never looked at.
    bool changedSince(const QString& path, const FileCheck::Stamp& was) const;
    // The stamp as last seen, or for a path never looked at, a look now
    // (lookNow).
    FileCheck::Stamp stampOf(const QString& path);
    // Looks at the file now, on the calling thread, and keeps what it saw;
    // the file is watched from then on. For decoder threads and for checks
    // that must see the disk as it is this moment.
    FileCheck::Stamp lookNow(const QString& path);
    // Has the sweeping thread look at the file again soon, between its
    // runs: like the sweep's, that look may hang on a share, and holds no
    // notice.
    void recheck(const QString& path);

    // --- for tests --------------------------------------------------------
    // What looks at a file (FileCheck::stampOf when empty). It is called
    // on the watching and sweeping threads and on threads that call lookNow
    // or stampOf.
    using Look = std::function<FileCheck::Stamp(const QString&)>;
    void setLook(Look look);
    // How long the watching thread gathers notices before it looks at
    // their files (0 until it runs).
    int gatherMs() const { return m_gatherMs.load(); }
    // From now on at most `more` watches are taken; later ones are refused
    // as at the system's limit. -1 lifts the limit.
    void setWatchLimit(int more);
    // How many times a watch of path was tried and refused.
    int refusedWatches(const QString& path) const;
    // Whether the file at path has a watch of its own.
    bool isWatched(const QString& path) const;

    // A sweep starts at most this often. On a slow disk the sweep rests
    // after each run of looks three times as long as the run took, so it
    // looks at most a quarter of the time and a sweep takes longer.
    static constexpr int kSweepMs = 2000;
    // Notices that come together are looked at together, this long after
    // the first.
    static constexpr int kGatherMs = 5;

signals:
    // Looks saw these files other than they were last seen (gone, back, or
    // another version). Emitted on the thread that looked, once its batch of
    // looks is done: the files of a folder renamed away, looked at together,
    // are told together however long the looks took.
    void filesSeen(QStringList paths);

private:
    friend class KnownFilesWatcher;
    friend class KnownFilesSweeper;
    KnownFiles();

    struct Seen
    {
        FileCheck::Stamp stamp;
        quint64 ticket = 0;   // which look saw it; later looks have greater ones
        bool wasThere = false;   // some look kept saw it there
    };
    struct Looked
    {
        FileCheck::Stamp stamp;   // what this look saw
        bool isNew = false;       // the path's first look
        bool differs = false;     // other than last seen (to be told by filesSeen)
    };
    FileCheck::Stamp look(const QString& path) const;
    // Each look takes a ticket before it begins. What it saw is kept unless
    // a look begun after it was kept meanwhile: the last look begun holds.
    quint64 nextTicket() { return ++m_tickets; }
    Looked keep(const QString& path, const FileCheck::Stamp& stamp, quint64 ticket);
    Looked lookAndKeep(const QString& path);
    // A path looked at for the first time is watched and swept from then on.
    void follow(const QString& path, const FileCheck::Stamp& stamp);
    void countRefused(const QString& path);
    void noteWatched(const QString& path, bool watched);

    mutable QMutex m_mx;
    QHash<QString, Seen> m_seen;
    QHash<QString, int> m_refused;
    QSet<QString> m_watched;
    Look m_look;
    std::atomic<quint64> m_tickets{0};
    std::atomic<int> m_gatherMs{0};
    QThread* m_watchThread = nullptr;
    QThread* m_sweepThread = nullptr;
    KnownFilesWatcher* m_watcher = nullptr;
    KnownFilesSweeper* m_sweeper = nullptr;
};
