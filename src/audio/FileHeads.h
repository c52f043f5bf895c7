#pragma once
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "FileCheck.h"

// What each sound file's header says (its length, its PCM rate, or why it
// cannot play), read ahead of any press, away from the window's thread: when
// a session is loaded, when a button is given a file, and again whenever the
// file is seen other than it was (KnownFiles). A press only looks up what was
// read for the version of the file last seen; a file not read yet for that
// version is not known: the press has it read first (readFirst) and goes on
// once it is told (headRead). The window's thread never waits for a read.
//
// The facts of every file read are kept for as long as the program runs, as
// KnownFiles keeps each file's stamp: what is kept is bounded by the files
// the program plays (those of the sessions it held, and any file pressed),
// not by a count, so a big show's files are all known. A file is read again
// whenever KnownFiles sees it changed, whether read before or not.
//
// The reads run one after another on a thread of the standing set; a file on
// a slow or hung share holds only the reads behind it.
class FileHeads : public QObject
{
    Q_OBJECT
public:
    struct Head
    {
        int pcmRate = 0;              // uncompressed PCM: its rate; else 0
        qint64 durationMs = 0;        // 0: unknown
        QString refusal;              // why it cannot play; empty: it may
        FileCheck::Stamp stamp;       // the version these facts are of
    };

    static FileHeads* instance();

    // Why a press whose trim-in lies at or past the end of its file (of
    // fileMs) cannot play, worded as the other refusals are.
    static QString trimInPastEnd(double trimInSeconds, qint64 fileMs);

    // The facts read of the file's version last seen, into *head; false
    // when none were read for it. A file that cannot be seen now keeps what
    // was read of it (nothing, when nothing was); one last seen empty needs
    // no read. Never touches the
    // disk.
    bool find(const QString& path, Head* head) const;
    // Has each file's header read, unless read for its version last seen or
    // waiting to be. Never touches the disk.
    void readAhead(const QStringList& paths);
    // Has the file's header read now, on a thread of its own beside the
    // reads ahead (a press waits for it), and tells headRead once it is
    // known for the version last seen. Never touches the disk.
    void readFirst(const QString& path);

    // --- for tests --------------------------------------------------------
    // While held, reads wait (those under way finish).
    void setHeld(bool held);
    // Reads done on the application's thread, ever: there should be none.
    int readsOnAppThread() const { return m_appThreadReads.load(); }
    // Whether a read is waiting or under way.
    bool busy() const;
    // Forgets every fact read (a test's files are read again).
    void clear();

signals:
    // The header of a file asked for by readFirst is known now; told from
    // the reading thread.
    void headRead(const QString& path);

private:
    FileHeads();
    // What the header says, and why the file cannot play when it cannot:
    // the media back end would take such a file, be heard as started, and
    // fail or end at once a moment later.
    void readHead(const QString& path, Head* head);
    // Whether the first moments of a compressed file decode to any sound.
    static bool decodesSound(const QString& path);
    // Under m_mx: whether the path waits for a read or is read for the
    // version last seen.
    bool upToDate(const QString& path) const;
    void queue(const QString& path);
    void drain();
    // Reads the file's header and keeps it, or queues the file again when
    // it changed meanwhile. The caller has counted it under way.
    void readAndStore(const QString& path);
    void store(const QString& path, const Head& head);

    mutable std::mutex m_mx;
    std::condition_variable m_released;
    QHash<QString, Head> m_heads;
    QStringList m_waiting;
    QSet<QString> m_waitingSet;
    QSet<QString> m_asked;          // by readFirst, not told yet
    quint64 m_reads = 0;
    bool m_draining = false;
    int m_underWay = 0;
    bool m_held = false;
    std::atomic<int> m_appThreadReads{0};
};
