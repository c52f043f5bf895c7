#pragma once
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>

#include <functional>

#include "FileCheck.h"

class QThread;
class KnownFilesWatcher;

// What the program knows of the sound files it plays: each file's stamp as
// last seen. Everything made from a file (a decoded sound, a header's facts,
// waveform peaks, a prepared player) is kept with the stamp the file had then
// and asks here whether it still holds.
//
// The files are looked at away from the GUI thread: a thread of its own
// watches each file and its folder (a save through a new file and a rename
// are seen within milliseconds), and looks at every file again every
// kSweepMs, for disks that send no notice (network shares). So asking here
// never waits on a disk, except for the very first look at a path nobody
// has looked at yet (stampOf).
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
    // changed(was, lastSeen(path)); false for a path never looked at.
    bool changedSince(const QString& path, const FileCheck::Stamp& was) const;
    // The stamp as last seen, or for a path never looked at, a look now
    // (lookNow).
    FileCheck::Stamp stampOf(const QString& path);
    // Looks at the file now, on the calling thread, and keeps what it saw;
    // the file is watched from then on. For decoder threads and for checks
    // that must see the disk as it is this moment.
    FileCheck::Stamp lookNow(const QString& path);
    // Has the watching thread look at the file again soon.
    void recheck(const QString& path);

    // --- for tests --------------------------------------------------------
    // What looks at a file (FileCheck::stampOf when empty). It is called
    // on the watching thread and on threads that call lookNow or stampOf.
    using Look = std::function<FileCheck::Stamp(const QString&)>;
    void setLook(Look look);

    static constexpr int kSweepMs = 2000;
    // Notices that come together are looked at together, this long after
    // the first.
    static constexpr int kGatherMs = 5;

signals:
    // A look saw the file other than it was last seen (gone, back, or
    // another version). Emitted on the thread that looked.
    void fileSeen(QString path);

private:
    friend class KnownFilesWatcher;
    KnownFiles();
    FileCheck::Stamp look(const QString& path) const;
    // Keeps a look's result; true when the path was not known before.
    bool record(const QString& path, const FileCheck::Stamp& stamp);

    mutable QMutex m_mx;
    QHash<QString, FileCheck::Stamp> m_seen;
    Look m_look;
    QThread* m_thread = nullptr;
    KnownFilesWatcher* m_watcher = nullptr;
};
