#include "PackageInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace PackageInstaller {

namespace {

QString& launcherSlot()
{
    static QString program = QStringLiteral("pkexec");
    return program;
}

QString& packageToolSlot()
{
    static QString path;
    return path;
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo fi(path);
    return fi.isFile() && fi.isExecutable();
}

// The launcher's absolute path, empty when it cannot be found or run.
QString resolveLauncher()
{
    const QString program = launcherSlot();
    if (QDir::isAbsolutePath(program)) {
        return isExecutableFile(program) ? program : QString();
    }
    return QStandardPaths::findExecutable(program);
}

} // namespace

bool isDebianPackage(const QString& path, QString* why)
{
    auto fail = [why](const char* text) {
        if (why)
            *why = QString::fromLatin1(text);
        return false;
    };
    // Only a regular file is opened: a pipe or a device would block the read.
    if (!QFileInfo(path).isFile())
        return fail("not a regular file");
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return fail("cannot be read");
    // "!<arch>\n", then the first member's 60-byte header, whose first 16
    // bytes hold its name, padded with blanks ("debian-binary" or, from GNU
    // ar, "debian-binary/").
    const QByteArray head = f.read(8 + 60);
    if (head.size() < 8 + 60 || !head.startsWith("!<arch>\n"))
        return fail("not an ar archive");
    QByteArray name = head.mid(8, 16).trimmed();
    if (name.endsWith('/'))
        name.chop(1);
    if (name != "debian-binary")
        return fail("first member is not debian-binary");
    // The header ends with the two bytes "`\n".
    if (head.mid(8 + 58, 2) != "`\n")
        return fail("damaged member header");
    return true;
}

int launch(const QString& path)
{
    if (!QFileInfo::exists(path))
        return FileMissing;
    const QString program = resolveLauncher();
    if (program.isEmpty())
        return FileMissing;
    // The launcher runs what it is given as root: a name would be looked up
    // in a search path.
    const QString tool = packageTool();
    if (tool.isEmpty())
        return FileMissing;
    if (!isDebianPackage(path))
        return NotAPackage;
    const QStringList args{tool, QStringLiteral("-i"), QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())};
    return QProcess::startDetached(program, args) ? Started : CouldNotStart;
}

QString packageTool()
{
    const QStringList candidates = packageToolSlot().isEmpty()
                                       ? QStringList{QStringLiteral("/usr/bin/dpkg"), QStringLiteral("/bin/dpkg")}
                                       : QStringList{packageToolSlot()};
    for (const QString& c : candidates) {
        if (QDir::isAbsolutePath(c) && isExecutableFile(c))
            return c;
    }
    return QString();
}

void setPackageTool(const QString& absolutePath)
{
    packageToolSlot() = absolutePath;
}

void setLauncher(const QString& program)
{
    launcherSlot() = program.isEmpty() ? QStringLiteral("pkexec") : program;
}

QString launcher()
{
    return launcherSlot();
}

} // namespace PackageInstaller
