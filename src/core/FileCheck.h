#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Paths handed in by the user or read from a file are checked with this
// before anything opens them: a named pipe, a device or a socket would block
// open() or read without end. A symbolic link to a regular file is fine.
namespace FileCheck {

enum class Kind { Regular, Missing, NotRegular };

Kind kindOf(const QString& path);

// True when path names a regular file. Otherwise, when why is given, it
// receives "does not exist" or "not a regular file".
bool isRegularFile(const QString& path, QString* why = nullptr);

// The whole content of a regular file. False when path is no regular file,
// cannot be opened or a read fails.
bool readRegularFile(const QString& path, QByteArray* bytes);

// Which version of a file is on disk: what the program decodes or learns from
// a file is kept with the stamp it had then, and is made anew once the stamp
// differs. A file rewritten in place, saved over through a new file, or still
// growing shows a new stamp; only a rewrite that keeps the size, the
// modification time (to the nanosecond) and the inode goes unseen.
struct Stamp
{
    qint64 size = -1;         // -1: no regular file there
    qint64 mtimeNs = 0;       // modification time, ns since the epoch
    quint64 inode = 0;
    quint64 device = 0;
    bool notRegular = false;  // something is there, but no regular file

    bool exists() const { return size >= 0; }
    bool operator==(const Stamp&) const = default;
};

// The stamp of the file at path now (following a symbolic link); one stat()
// call. Anything but a regular file gives the stamp of none, marked
// notRegular when something else (a pipe, a device, a folder) is there.
Stamp stampOf(const QString& path);

} // namespace FileCheck
