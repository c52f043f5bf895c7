#include "TermSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "PlatformLog.h"

namespace TermSignals {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
// Marks a byte on the pipe as a signal that joined a request in hand: it is
// only logged.
constexpr unsigned char kJoined = 0x80;

int g_pipe[2] = {-1, -1};
// The signal that began the request in hand, 0 when there is none. Set from
// the first signal until the event loop has dealt with it (and for good once
// the program is ending).
std::atomic<int> g_inHand{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free atomic");

void endAtOnce(int signo)
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signo, &dfl, nullptr);
    raise(signo);
}

extern "C" void onTermSignal(int signo)
{
    const int savedErrno = errno;
    int first = 0;
    unsigned char byte = static_cast<unsigned char>(signo);
    if (!g_inHand.compare_exchange_strong(first, signo)) {
        if (first == signo) {
            // The same request again: whoever sent it insists.
            endAtOnce(signo);
            errno = savedErrno;
            return;
        }
        // Another kind joins the request in hand (a logout sends SIGTERM and
        // SIGHUP back to back).
        byte |= kJoined;
    }
    // The pipe is non-blocking; a full pipe (a handful of bytes in flight at
    // most) loses nothing that matters.
    (void)!write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

bool makePipe()
{
    if (pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        return false;
    }
    return true;
}

// Takes the waiting bytes off the pipe, in the order they came.
QByteArray drainPipe()
{
    QByteArray bytes;
    char buf[16];
    for (;;) {
        const ssize_t n = read(g_pipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(buf, n);
    }
    return bytes;
}

void dispatch(const Request& onRequest)
{
    const QByteArray bytes = drainPipe();
    int request = 0;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte & kJoined)
            PlatformLog::write(QStringLiteral("[Shutdown] Signal %1 joins the request in hand").arg(byte & ~kJoined));
        else
            request = byte;
    }
    if (request == 0)
        return;
    // A question asked here runs a nested event loop, in which this is called
    // again for any signal that joins.
    if (onRequest(request))
        g_inHand.store(0);
}

} // namespace

bool install(QObject* context, Request onRequest)
{
    if (g_pipe[0] >= 0 || !makePipe())
        return false;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context,
                     [onRequest = std::move(onRequest)] { dispatch(onRequest); });

    struct sigaction sa {};
    sa.sa_handler = &onTermSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals)
        sigaddset(&sa.sa_mask, s);
    bool ok = true;
    for (int s : kSignals)
        ok = sigaction(s, &sa, nullptr) == 0 && ok;
    return ok;
}

} // namespace TermSignals
