#include "TermSignals.h"

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace TermSignals {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

int g_pipe[2] = {-1, -1};
// Set from the first signal until the event loop has dealt with it (and for
// good once the program is ending).
std::atomic<bool> g_handling{false};

extern "C" void onTermSignal(int signo)
{
    const int savedErrno = errno;
    if (g_handling.exchange(true)) {
        // A request is already in hand: this one ends the program.
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(signo, &dfl, nullptr);
        raise(signo);
        errno = savedErrno;
        return;
    }
    const unsigned char byte = static_cast<unsigned char>(signo);
    // The pipe is non-blocking; a full pipe (impossible with one byte in
    // flight) loses nothing that matters.
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

// Takes the waiting signal numbers off the pipe; the last one read, or 0.
int drainPipe()
{
    int signo = 0;
    unsigned char buf[16];
    for (;;) {
        const ssize_t n = read(g_pipe[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        signo = buf[n - 1];
    }
    return signo;
}

} // namespace

bool install(QObject* context, Request onRequest)
{
    if (g_pipe[0] >= 0 || !makePipe())
        return false;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [onRequest = std::move(onRequest)] {
        const int signo = drainPipe();
        if (signo == 0)
            return;
        const bool goesOn = onRequest(signo);
        if (goesOn)
            g_handling.store(false);
    });

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
