#pragma once
#include <QByteArray>
#include <QString>

// The one way the program writes a file whole. Bytes go to a temporary file
// beside the target; the target is replaced only after every byte was
// written, flushed and synced. On any failure the target stays as it was,
// byte for byte, the temporary file is removed and the error text says why.
//
// (QSaveFile is not used: Qt 6.4's commit() can report success after its
// buffered bytes failed to reach the disk, and then truncates the target.)
class SafeFileWriter
{
public:
    explicit SafeFileWriter(const QString& path);
    ~SafeFileWriter();   // an open, uncommitted writer is cancelled
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Creates the temporary file. Fails when the folder does not exist or
    // cannot be written, or the target exists and is not a regular file.
    bool open();
    // Appends bytes; false (and the writer failed) when not all were written.
    bool write(const char* data, qint64 len);
    bool write(const QByteArray& data) { return write(data.constData(), data.size()); }
    // Syncs, closes and moves the temporary file over the target.
    bool commit();
    // Drops the temporary file; the target is untouched.
    void cancel();

    bool isOpen() const { return m_fd >= 0; }
    qint64 bytesWritten() const { return m_written; }
    QString errorString() const { return m_error; }
    QString path() const { return m_path; }
    // The temporary file being written, while the writer is open.
    QString tempPath() const { return m_temp; }
    // Whether path is the temporary file of a writer of this process that is
    // open now: a file still being written (a download played as it
    // arrives). Safe from any thread.
    static bool isBeingWritten(const QString& path);

private:
    void fail(const QString& what, int err);
    // Lets the temporary file's name go (it is no longer being written).
    void dropTempName();

    QString m_path;     // the target as given
    QString m_final;    // the target with a symbolic link resolved
    QString m_temp;
    QString m_error;
    qint64 m_written = 0;
    int m_fd = -1;
    bool m_failed = false;
};

// Writes data whole to path through SafeFileWriter. On failure returns false
// and, when error is given, the reason.
bool safeWriteFile(const QString& path, const QByteArray& data, QString* error = nullptr);
