#pragma once
// Things that are not regular files, under names that look like sound files:
// a named pipe nobody writes to (open() on it waits for a writer), the
// endless /dev/zero behind a symbolic link, a folder and a listening unix
// socket. Header only; tests that use it make one set in their temp folder.
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QtTest>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace TestSupport {

class SpecialFiles
{
public:
    explicit SpecialFiles(const QString& dir)
    {
        const QString pipe = dir + QStringLiteral("/pipe.wav");
        if (::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0)
            m_paths.insert(QStringLiteral("pipe"), pipe);
        const QString zero = dir + QStringLiteral("/x.wav");
        if (QFile::link(QStringLiteral("/dev/zero"), zero))
            m_paths.insert(QStringLiteral("device"), zero);
        const QString folder = dir + QStringLiteral("/x.mp3");
        if (::mkdir(QFile::encodeName(folder).constData(), 0700) == 0)
            m_paths.insert(QStringLiteral("folder"), folder);
        const QString sock = dir + QStringLiteral("/sock.wav");
        const QByteArray name = QFile::encodeName(sock);
        sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        m_socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_socket >= 0 && size_t(name.size()) < sizeof(addr.sun_path)) {
            std::memcpy(addr.sun_path, name.constData(), size_t(name.size()));
            if (::bind(m_socket, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0
                && ::listen(m_socket, 1) == 0)
                m_paths.insert(QStringLiteral("socket"), sock);
        }
    }
    ~SpecialFiles()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    SpecialFiles(const SpecialFiles&) = delete;
    SpecialFiles& operator=(const SpecialFiles&) = delete;

    // Empty when the kind could not be made here.
    QString path(const QString& kind) const { return m_paths.value(kind); }

    // One row a kind, in a column "kind".
    static void addRows()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("named pipe") << QStringLiteral("pipe");
        QTest::newRow("/dev/zero behind x.wav") << QStringLiteral("device");
        QTest::newRow("folder x.mp3") << QStringLiteral("folder");
        QTest::newRow("unix socket") << QStringLiteral("socket");
    }

private:
    QHash<QString, QString> m_paths;
    int m_socket = -1;
};

} // namespace TestSupport
