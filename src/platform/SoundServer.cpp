#include "SoundServer.h"

#include <QFile>
#include <QStringList>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
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

namespace {

// A non-blocking stream socket, and connect()'s result and errno, on the
// server's socket; -1 when the address is not a local socket.
int connectToServer(int* result, int* error)
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
    *result = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
    *error = errno;
    return fd;
}

// A greeting's bytes: the descriptor, three numbers and a cookie, each
// with its tag (the cookie's with its length too).
constexpr size_t kGreetingBytes = 20 + 3 * 5 + 5 + 256;

// The watch keeps the machine's own time, whatever clock the rest is given.
qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void putU32(std::array<unsigned char, kGreetingBytes>& b, size_t at, quint32 v)
{
    b[at] = uchar(v >> 24);
    b[at + 1] = uchar(v >> 16);
    b[at + 2] = uchar(v >> 8);
    b[at + 3] = uchar(v);
}

// The first thing a client says on the server's native protocol: a control
// packet (a 20-byte descriptor, then the command's fields, each with its
// type tag) asking to be let in, with an empty cookie. The server replies
// whether or not it lets us in.
std::array<unsigned char, kGreetingBytes> greeting()
{
    std::array<unsigned char, kGreetingBytes> b{};
    constexpr quint32 kAuth = 8, kTag = 1, kVersion = 13, kCookie = 256;
    const quint32 payload = 5 * 3 + 5 + kCookie;
    putU32(b, 0, payload);
    putU32(b, 4, 0xFFFFFFFFu);   // the control channel
    size_t at = 20;
    for (quint32 v : {kAuth, kTag, kVersion}) {
        b[at] = 'L';
        putU32(b, at + 1, v);
        at += 5;
    }
    b[at] = 'x';
    putU32(b, at + 1, kCookie);
    return b;
}

} // namespace

qint64 currentId()
{
    int result = -1, error = 0;
    const int fd = connectToServer(&result, &error);
    if (fd < 0)
        return -1;
    errno = error;
    qint64 id = -1;
    if (result == 0) {
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

Watch::Watch(std::function<void()> resumed, std::function<void()> stalled)
    : m_resumed(std::move(resumed))
    , m_stalledFound(std::move(stalled))
{
    m_thread = std::thread([this] { run(); });
}

Watch::~Watch()
{
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_quit = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void Watch::keepAwake()
{
    const qint64 until = steadyMs() + kAwakeMs;
    if (m_awakeUntilMs.exchange(until) <= steadyMs()) {
        std::lock_guard<std::mutex> lk(m_mx);
        m_cv.notify_all();
    }
}

void Watch::run()
{
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(m_mx);
            m_cv.wait_for(lk, std::chrono::milliseconds(kPeriodMs), [this] {
                return m_quit.load() || m_stalled.load() || m_awakeUntilMs.load() > steadyMs();
            });
            if (m_quit)
                return;
            if (!m_stalled && m_awakeUntilMs.load() <= steadyMs())
                continue;
        }
        // Stalled before or during this greeting, and answered now.
        if (greetAndWait() && m_stalled.exchange(false, std::memory_order_acq_rel) && m_resumed)
            m_resumed();
        if (!m_quit)
            std::this_thread::sleep_for(std::chrono::milliseconds(kPeriodMs));
    }
}

bool Watch::greetAndWait()
{
    int result = -1, error = 0;
    const int fd = connectToServer(&result, &error);
    if (fd < 0)
        return true;   // nothing to ask: never counted as stalled
    const qint64 start = steadyMs();
    bool answered = false;
    // A server that does not take the connection at all (its queue of new
    // ones full) has not answered either.
    if (result == 0 || error == EINPROGRESS || error == EAGAIN) {
        const auto hello = greeting();
        size_t sent = 0;
        while (!m_quit) {
            pollfd p{fd, short(sent < hello.size() ? POLLOUT : POLLIN), 0};
            const qint64 waited = steadyMs() - start;
            if (waited >= kStalledMs && !m_stalled.load(std::memory_order_acquire)) {
                // Asked without a break since its last answer: it was taking
                // what its clients sent until then at least.
                const bool awake = start - m_answeredAtMs <= 2 * kPeriodMs;
                m_stalledSinceMs.store(awake ? m_answeredAtMs : start, std::memory_order_release);
                m_stalled.store(true, std::memory_order_release);
                if (m_stalledFound)
                    m_stalledFound();
            }
            const int r = ::poll(&p, 1, kStalledMs);
            if (r < 0 && errno != EINTR)
                break;
            if (r <= 0)
                continue;
            if (p.revents & (POLLERR | POLLHUP)) {
                answered = true;   // the server closed it: an answer
                break;
            }
            if (sent < hello.size()) {
                const ssize_t w = ::send(fd, hello.data() + sent, hello.size() - sent, MSG_NOSIGNAL);
                if (w < 0 && errno != EAGAIN && errno != EINTR) {
                    answered = true;
                    break;
                }
                sent += size_t(std::max<ssize_t>(0, w));
                continue;
            }
            char reply[64];
            (void)::recv(fd, reply, sizeof reply, 0);
            answered = true;
            break;
        }
    } else {
        answered = true;   // nothing listens: gone, not stalled (see currentId)
    }
    ::close(fd);
    if (answered)
        m_answeredAtMs = steadyMs();
    return answered;
}

} // namespace SoundServer
