#include "ProcessTimes.h"

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace ProcessTimes {

namespace {
quint64 toUnits(const timeval& tv)
{
    return quint64(tv.tv_sec) * 10000000ull + quint64(tv.tv_usec) * 10ull;
}
} // namespace

bool processTimes(quint64* kernel100ns, quint64* user100ns)
{
    rusage ru{};
    if (getrusage(RUSAGE_SELF, &ru) != 0)
        return false;
    if (kernel100ns)
        *kernel100ns = toUnits(ru.ru_stime);
    if (user100ns)
        *user100ns = toUnits(ru.ru_utime);
    return true;
}

quint64 systemTime100ns()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return quint64(ts.tv_sec) * 10000000ull + quint64(ts.tv_nsec) / 100ull;
}

int processorCount()
{
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? int(n) : 0;
}

} // namespace ProcessTimes
