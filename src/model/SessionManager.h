#pragma once
#include <QObject>
#include <QStringList>

#include "Types.h"

class QTimer;

// Owns the one current session of the process and everything that happens to
// it as a file: new, load, save, save as, the dirty flag, autosave and the
// list of recently used files. GUI thread only.
class SessionManager : public QObject
{
    Q_OBJECT
public:
    static SessionManager* instance();

    // The current session; edit it in place, then call markDirty().
    Session& session() { return m_session; }
    const Session& session() const { return m_session; }
    bool isDirty() const { return m_dirty; }

    // Replaces the current session by a fresh one with one tab "Tab 1" of 36 buttons.
    void newSession();
    // Reads a session file. Every tab then holds at least the buttons its
    // grid shows, each with an id of its own that the next load of the same
    // file gives it again. On any failure (cannot open or read, not a plain
    // file, larger than 1 GiB, not JSON, not a JSON object) returns false and
    // leaves the current session, its file path, the dirty flag and the
    // recent files as they were.
    bool loadSession(const QString& path);
    // Writes the current session to path, or to its own file when path is
    // empty (asking for a name when it has none). The file is replaced only
    // once the whole text is on disk; a failure returns false and leaves the
    // old file as it was.
    bool saveSession(const QString& path = QString());
    // Asks for a file name, then saves there. False when cancelled or failed.
    bool saveSessionAs();
    // How many repeated button ids the last load replaced by fresh ones (two
    // buttons of one id would share one sound); 0 after a new session.
    int renewedIdsOnLoad() const { return m_renewedIds; }
    // Why the last save that ran failed to write its file: the file and the
    // system's reason; empty after a save that succeeded or was cancelled.
    QString lastSaveError() const { return m_lastSaveError; }

    void markDirty();
    void setDirty(bool dirty);
    // Saves a dirty session that has a file every ms milliseconds; 0 or less stops.
    void setAutoSaveInterval(int ms);

    QStringList recentFiles() const;
    void addRecentFile(const QString& path);

    // A tab "Tab 1" with 36 unassigned buttons, every id fresh.
    static TabData makeDefaultTab();

    // The session file reader: turns a file's bytes into a session (with a
    // tab "Tab 1" without buttons when the file has none, its id derived from
    // those bytes), touching nothing else. Button ids are made by loadSession.
    enum class ReadResult { Ok, ParseError, NotAnObject };
    static ReadResult readSession(const QByteArray& data, Session* out, QString* parserError = nullptr);

signals:
    void sessionLoaded(const Session& s);
    void sessionSaved();
    void dirtyChanged(bool dirty);
    // An autosave failed to write the file (why: the file and the system's
    // reason). Said once per run of failures: the next failures stay quiet
    // until a save succeeds or another session comes in.
    void autoSaveFailed(const QString& why);

private slots:
    void onAutoSaveTimeout();

private:
    SessionManager();

    Session m_session;
    bool m_dirty = false;
    QTimer* m_autoSave = nullptr;
    QString m_lastSaveError;
    int m_renewedIds = 0;
    bool m_autoSaveFailing = false;
};
