#include "WakeEvent.h"

#include "MonoClock.h"

#include <cerrno>
#include <cstdint>
#include <QtGlobal>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

WakeEvent::WakeEvent()
{
    m_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

WakeEvent::~WakeEvent()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void WakeEvent::set()
{
    if (m_fd < 0)
        return;
    const uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled, so the result can be ignored.
    ssize_t r;
    do {
        r = ::write(m_fd, &one, sizeof one);
    } while (r < 0 && errno == EINTR);
}

bool WakeEvent::tryConsume()
{
    if (m_fd < 0)
        return false;
    uint64_t v = 0;
    ssize_t r;
    do {
        r = ::read(m_fd, &v, sizeof v);
    } while (r < 0 && errno == EINTR);
    return r == sizeof v && v > 0;
}

void WakeEvent::reset()
{
    tryConsume();
}

WakeEvent::Result WakeEvent::wait(int timeoutMs)
{
    if (m_fd < 0)
        return Result::Failed;
    const qint64 deadline = timeoutMs >= 0 ? MonoClock::system()->nowMs() + timeoutMs : 0;
    for (;;) {
        if (tryConsume())
            return Result::Signalled;
        int left = -1;
        if (timeoutMs >= 0) {
            const qint64 l = deadline - MonoClock::system()->nowMs();
            if (l <= 0)
                return Result::Timeout;
            left = int(l);
        }
        pollfd p{m_fd, POLLIN, 0};
        const int r = ::poll(&p, 1, left);
        if (r < 0 && errno != EINTR)
            return Result::Failed;
        // Readable, interrupted or timed out: the loop re-tests. Another
        // waiter may have consumed the signal first; then we wait on.
    }
}
