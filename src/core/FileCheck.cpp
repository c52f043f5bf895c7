#include "FileCheck.h"

#include <QFile>

#include <sys/stat.h>

namespace FileCheck {

Kind kindOf(const QString& path)
{
    if (path.isEmpty())
        return Kind::Missing;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return Kind::Missing;
    return S_ISREG(st.st_mode) ? Kind::Regular : Kind::NotRegular;
}

bool isRegularFile(const QString& path, QString* why)
{
    const Kind k = kindOf(path);
    if (k == Kind::Regular)
        return true;
    if (why)
        *why = k == Kind::Missing ? QStringLiteral("does not exist") : QStringLiteral("not a regular file");
    return false;
}

bool readRegularFile(const QString& path, QByteArray* bytes)
{
    if (!isRegularFile(path))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    *bytes = f.readAll();
    return f.error() == QFileDevice::NoError;
}

Stamp stampOf(const QString& path)
{
    Stamp stamp;
    if (path.isEmpty())
        return stamp;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return stamp;
    if (!S_ISREG(st.st_mode)) {
        stamp.notRegular = true;
        return stamp;
    }
    stamp.size = qint64(st.st_size);
    stamp.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + qint64(st.st_mtim.tv_nsec);
    stamp.inode = quint64(st.st_ino);
    stamp.device = quint64(st.st_dev);
    return stamp;
}

} // namespace FileCheck
