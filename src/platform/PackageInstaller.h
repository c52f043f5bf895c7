#pragma once
#include <QString>

// Hands a downloaded update to the system's package tool. Updates are Debian
// packages; they are installed by `pkexec /usr/bin/dpkg -i <file>`, which asks
// for the administrator's password in the desktop's own dialog. The package
// tool is named by its absolute path, never looked up by name. The program
// does not wait for the installer: it starts it detached and goes on.
//
// The result keeps the shape of a shell launch: above 32 means started,
// 32 or less is an error code.
namespace PackageInstaller {

enum Result {
    CouldNotStart = 0,   // the process could not be started
    FileMissing = 2,     // the package file or the launcher is missing
    NotAPackage = 31,    // the file is not a Debian package
    Started = 42,        // the installer is running
};

// Whether the file is a Debian package: an ar archive whose first member is
// "debian-binary". When it is not, why (if given) says what is wrong.
bool isDebianPackage(const QString& path, QString* why = nullptr);

// Starts `<launcher> <package tool> -i <path>` detached. Returns Started, or
// the error code: FileMissing when the file, the launcher or the package tool
// cannot be found, NotAPackage when the file is no Debian package,
// CouldNotStart when the process does not start.
int launch(const QString& path);

// The package tool's absolute path: the first of /usr/bin/dpkg and /bin/dpkg
// that is an executable file; empty when neither is.
QString packageTool();
// Tests name another absolute path to try in place of those two (an empty
// text restores them).
void setPackageTool(const QString& absolutePath);

// The program started in place of "pkexec" (a name looked up in PATH, or an
// absolute path). Tests put a script of theirs here; an empty text restores
// "pkexec".
void setLauncher(const QString& program);
QString launcher();

} // namespace PackageInstaller
