#include "SoundServer.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace SoundServer {

QString socketPath()
{
    const QString server = qEnvironmentVariable("PULSE_SERVER").trimmed();
    if (!server.isEmpty()) {
        QString first = server.split(QLatin1Char(' '), Qt::SkipEmptyParts).value(0);
        if (first.startsWith(QLatin1Char('{'))) {   // "{machine id}address"
            const qsizetype close = first.indexOf(QLatin1Char('}'));
            first = close < 0 ? QString() : first.mid(close + 1);
        }
        if (first.startsWith(QLatin1String("unix:")))
            return first.mid(5);
        return first.startsWith(QLatin1Char('/')) ? first : QString();
    }
    const QString runtime = qEnvironmentVariable("PULSE_RUNTIME_PATH");
    if (!runtime.isEmpty())
        return runtime + QStringLiteral("/native");
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return xdg.isEmpty() ? QString() : xdg + QStringLiteral("/pulse/native");
}

qint64 currentId()
{
    const QByteArray path = QFile::encodeName(socketPath());
    if (path.isEmpty())
        return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (size_t(path.size()) >= sizeof(addr.sun_path))
        return -1;
    std::memcpy(addr.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    qint64 id = -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) {
        ucred cred{};
        socklen_t len = sizeof(cred);
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.pid > 0)
            id = cred.pid;
    } else if (errno == ECONNREFUSED || errno == ENOENT || errno == ENOTDIR) {
        id = 0;   // nothing listens there (a busy server, EAGAIN, cannot be told)
    }
    ::close(fd);
    return id;
}

} // namespace SoundServer
