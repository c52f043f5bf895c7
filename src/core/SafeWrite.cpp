#include "SafeWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

mode_t currentUmask()
{
    // umask can only be read by setting it; put it straight back.
    const mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

// The temporary files of the writers open now, in any thread.
struct OpenTemps
{
    QMutex mx;
    QSet<QString> paths;
};

OpenTemps& openTemps()
{
    static OpenTemps* temps = new OpenTemps;   // lives to the process's end
    return *temps;
}

// Notes that a temporary file is being written, or no longer is.
void noteWriting(const QString& temp, bool writing)
{
    OpenTemps& t = openTemps();
    const QMutexLocker lock(&t.mx);
    if (writing)
        t.paths.insert(temp);
    else
        t.paths.remove(temp);
}

} // namespace

bool SafeFileWriter::isBeingWritten(const QString& path)
{
    OpenTemps& t = openTemps();
    const QMutexLocker lock(&t.mx);
    return !path.isEmpty() && t.paths.contains(path);
}

void SafeFileWriter::dropTempName()
{
    if (m_temp.isEmpty())
        return;
    noteWriting(m_temp, false);
    m_temp.clear();
}

SafeFileWriter::SafeFileWriter(const QString& path) : m_path(path) {}

SafeFileWriter::~SafeFileWriter()
{
    cancel();
}

void SafeFileWriter::fail(const QString& what, int err)
{
    m_failed = true;
    if (m_error.isEmpty())
        m_error = err ? what + QStringLiteral(": ") + errnoText(err) : what;
}

bool SafeFileWriter::open()
{
    cancel();
    m_failed = false;
    m_error.clear();
    m_written = 0;
    if (m_path.isEmpty()) {
        fail(QStringLiteral("No file name given"), 0);
        return false;
    }

    // Symbolic links are followed, so the links stay and the file they end
    // at is replaced. A loop of links ends the walk like the kernel would.
    m_final = QFileInfo(m_path).absoluteFilePath();
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo link(m_final);
        if (!link.isSymLink())
            break;
        const QString next = link.symLinkTarget();
        if (next.isEmpty())
            break;
        m_final = next;
    }

    struct stat st {};
    const QByteArray finalName = QFile::encodeName(m_final);
    bool targetExists = false;
    if (::stat(finalName.constData(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            fail(QStringLiteral("Cannot write \"%1\": not a regular file").arg(m_final), 0);
            return false;
        }
        targetExists = true;
    }

    const QFileInfo finalInfo(m_final);
    // The temporary name adds 8 bytes to the target's; a target name near the
    // 255-byte limit gets a short temporary name instead.
    QByteArray tmpName = QFile::encodeName(QLatin1Char('.') + finalInfo.fileName() + QStringLiteral(".XXXXXX"));
    if (tmpName.size() > 255)
        tmpName = QByteArrayLiteral(".safewrite.XXXXXX");
    QByteArray tmpl = QFile::encodeName(finalInfo.absolutePath() + QLatin1Char('/')) + tmpName;
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) {
        fail(QStringLiteral("Cannot create a file in \"%1\"").arg(finalInfo.absolutePath()), errno);
        return false;
    }
    m_fd = fd;
    m_temp = QFile::decodeName(tmpl);
    noteWriting(m_temp, true);

    // The new file gets the old one's permissions, else the usual ones.
    const mode_t mode = targetExists ? (st.st_mode & 07777) : (0666 & ~currentUmask());
    ::fchmod(m_fd, mode);
    return true;
}

bool SafeFileWriter::write(const char* data, qint64 len)
{
    if (m_fd < 0 || m_failed) {
        if (m_fd < 0 && !m_failed)
            fail(QStringLiteral("File is not open"), 0);
        return false;
    }
    while (len > 0) {
        const ssize_t n = ::write(m_fd, data, size_t(len));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(QStringLiteral("Cannot write \"%1\"").arg(m_final), errno);
            return false;
        }
        if (n == 0) {
            fail(QStringLiteral("Cannot write \"%1\"").arg(m_final), ENOSPC);
            return false;
        }
        data += n;
        len -= n;
        m_written += n;
    }
    return true;
}

bool SafeFileWriter::commit()
{
    if (m_fd < 0) {
        if (!m_failed)
            fail(QStringLiteral("File is not open"), 0);
        return false;
    }
    if (m_failed) {
        cancel();
        return false;
    }
    if (::fsync(m_fd) != 0 && errno != EINVAL && errno != EROFS) {
        fail(QStringLiteral("Cannot write \"%1\"").arg(m_final), errno);
        cancel();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        fail(QStringLiteral("Cannot write \"%1\"").arg(m_final), errno);
        ::unlink(QFile::encodeName(m_temp).constData());
        dropTempName();
        return false;
    }
    if (::rename(QFile::encodeName(m_temp).constData(), QFile::encodeName(m_final).constData()) != 0) {
        fail(QStringLiteral("Cannot replace \"%1\"").arg(m_final), errno);
        ::unlink(QFile::encodeName(m_temp).constData());
        dropTempName();
        return false;
    }
    dropTempName();
    // The new name is on disk only once the folder is synced as well.
    const int dir = ::open(QFile::encodeName(QFileInfo(m_final).absolutePath()).constData(),
                           O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void SafeFileWriter::cancel()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temp.isEmpty()) {
        ::unlink(QFile::encodeName(m_temp).constData());
        dropTempName();
    }
}

bool safeWriteFile(const QString& path, const QByteArray& data, QString* error)
{
    SafeFileWriter w(path);
    const bool ok = w.open() && w.write(data) && w.commit();
    if (!ok && error)
        *error = w.errorString();
    return ok;
}
