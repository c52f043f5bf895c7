#include "MonoClock.h"

#include <time.h>

std::atomic<MonoClock*> MonoClock::s_current{nullptr};

qint64 MonoClock::nowNs() const
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

MonoClock* MonoClock::system()
{
    static MonoClock clock;
    return &clock;
}

MonoClock* MonoClock::current()
{
    MonoClock* c = s_current.load(std::memory_order_acquire);
    return c ? c : system();
}

void MonoClock::setCurrent(MonoClock* clock)
{
    s_current.store(clock, std::memory_order_release);
}
