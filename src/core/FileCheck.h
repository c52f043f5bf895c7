#pragma once
#include <QByteArray>
#include <QString>

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

} // namespace FileCheck
