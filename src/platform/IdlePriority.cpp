#include "IdlePriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "PlatformLog.h"

namespace {

std::atomic<bool> s_refusedLogged{false};
std::atomic<bool> s_restoreLogged{false};

void logOnce(std::atomic<bool>& flag, const char* text)
{
    if (!flag.exchange(true))
        PlatformLog::write(QString::fromLatin1(text));
}

// Whether this thread may come back from SCHED_IDLE to its present policy.
bool mayReturnFromIdle()
{
    if (geteuid() == 0)
        return true;
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    if (errno != 0)
        return false;
    rlimit rl{};
    if (getrlimit(RLIMIT_NICE, &rl) != 0)
        return false;
    // RLIMIT_NICE n allows nice values down to 20 - n.
    return rl.rlim_cur == RLIM_INFINITY || rlim_t(20 - nice) <= rl.rlim_cur;
}

} // namespace

IdlePriorityScope::IdlePriorityScope()
{
#ifdef SCHED_IDLE
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &m_policy, &param) != 0)
        return;
    m_priority = param.sched_priority;
    if (m_policy == SCHED_IDLE) // already there; nothing to undo
        return;
    if (!mayReturnFromIdle()) {
        logOnce(s_refusedLogged, "[Thread] idle priority skipped: the thread could not return from it");
        return;
    }
    sched_param idle{};
    m_lowered = pthread_setschedparam(pthread_self(), SCHED_IDLE, &idle) == 0;
#endif
}

IdlePriorityScope::~IdlePriorityScope()
{
    if (!m_lowered)
        return;
    sched_param param{};
    param.sched_priority = m_priority;
    if (pthread_setschedparam(pthread_self(), m_policy, &param) != 0)
        logOnce(s_restoreLogged, "[Thread] could not restore a thread's priority after idle work");
}
