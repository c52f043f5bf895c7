#include "RenderThread.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "CrashSignals.h"
#include "PlatformLog.h"

#include <cerrno>

namespace {

// SCHED_FIFO priority asked for render threads: above ordinary realtime
// helpers, below the kernel's own interrupt threads.
constexpr int kFifoPriority = 70;
// Nice value asked for when realtime scheduling is refused.
constexpr int kNiceValue = -11;

std::atomic<int> g_loggedOutcomes{0};   // bit per Scheduling value already logged

void logOnce(RenderThread::Scheduling s, const QString& detail)
{
    const int bit = 1 << int(s);
    if (g_loggedOutcomes.fetch_or(bit) & bit)
        return;
    PlatformLog::write(QStringLiteral("[RenderThread] pro-audio scheduling: %1%2")
                           .arg(RenderThread::schedulingName(s), detail));
}

} // namespace

struct RenderThread::State
{
    std::mutex mx;
    std::condition_variable cv;
    bool finished = false;
    std::atomic<int> scheduling{int(Scheduling::Unchanged)};
    std::thread thread;
    QString name;
};

RenderThread::RenderThread() = default;

RenderThread::~RenderThread()
{
    if (!m_state || !m_state->thread.joinable())
        return;
    if (!join(0))
        detach(QStringLiteral("owner destroyed"));
}

QString RenderThread::schedulingName(Scheduling s)
{
    switch (s) {
    case Scheduling::Realtime: return QStringLiteral("SCHED_FIFO");
    case Scheduling::Nice: return QStringLiteral("raised nice");
    case Scheduling::Unchanged: break;
    }
    return QStringLiteral("unchanged");
}

void RenderThread::setCurrentThreadName(const QString& name)
{
    QByteArray n = name.toUtf8().left(15);
    pthread_setname_np(pthread_self(), n.constData());
}

RenderThread::Scheduling RenderThread::raiseCurrentThread()
{
    // Realtime first: at our priority, or at what RLIMIT_RTPRIO grants.
    int prio = std::min(kFifoPriority, sched_get_priority_max(SCHED_FIFO));
    sched_param sp{};
    sp.sched_priority = prio;
    if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) == 0) {
        logOnce(Scheduling::Realtime, QStringLiteral(" priority %1").arg(prio));
        return Scheduling::Realtime;
    }
    rlimit rl{};
    if (getrlimit(RLIMIT_RTPRIO, &rl) == 0 && rl.rlim_cur > 0) {
        sp.sched_priority = int(std::min<rlim_t>(rl.rlim_cur, rlim_t(prio)));
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) == 0) {
            logOnce(Scheduling::Realtime, QStringLiteral(" priority %1").arg(sp.sched_priority));
            return Scheduling::Realtime;
        }
    }
    // Then a raised nice value for this thread alone (Linux nice is per task).
    const pid_t tid = pid_t(syscall(SYS_gettid));
    const int before = getpriority(PRIO_PROCESS, id_t(tid));
    int want = kNiceValue;
    if (getrlimit(RLIMIT_NICE, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
        // RLIMIT_NICE n allows nice values down to 20 - n.
        const int floorNice = 20 - int(rl.rlim_cur);
        if (geteuid() != 0 && floorNice > want)
            want = floorNice;
    }
    if (want < before && setpriority(PRIO_PROCESS, id_t(tid), want) == 0) {
        logOnce(Scheduling::Nice, QStringLiteral(" %1").arg(want));
        return Scheduling::Nice;
    }
    logOnce(Scheduling::Unchanged, QStringLiteral(" (no permission for realtime or nice)"));
    return Scheduling::Unchanged;
}

RenderThread::InheritedProAudio::InheritedProAudio()
{
    sched_param sp{};
    if (pthread_getschedparam(pthread_self(), &m_policy, &sp) != 0)
        return;
    m_priority = sp.sched_priority;
    errno = 0;
    m_nice = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
    if (errno != 0)
        return;
    m_saved = true;
    raiseCurrentThread();
}

RenderThread::InheritedProAudio::~InheritedProAudio()
{
    if (!m_saved)
        return;
    sched_param sp{};
    sp.sched_priority = m_priority;
    pthread_setschedparam(pthread_self(), m_policy, &sp);
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), m_nice);
}

bool RenderThread::requestRealtimeProcessClass()
{
    return false;
}

bool RenderThread::start(const QString& name, std::function<void()> body, Priority priority)
{
    if (m_state && m_state->thread.joinable())
        return false;
    auto st = std::make_shared<State>();
    st->name = name;
    try {
        st->thread = std::thread([st, body = std::move(body), priority, name]() {
            setCurrentThreadName(name);
            // A stack overflow on this thread still reaches the crash report.
            CrashSignals::armCurrentThread();
            if (priority == Priority::ProAudio)
                st->scheduling.store(int(raiseCurrentThread()));
            body();
            std::lock_guard<std::mutex> lk(st->mx);
            st->finished = true;
            st->cv.notify_all();
        });
    } catch (const std::system_error& e) {
        PlatformLog::write(QStringLiteral("[RenderThread] cannot start %1: %2")
                               .arg(name, QString::fromLocal8Bit(e.what())));
        return false;
    }
    m_state = std::move(st);
    return true;
}

bool RenderThread::isStarted() const
{
    return m_state && m_state->thread.joinable();
}

bool RenderThread::isRunning() const
{
    if (!isStarted())
        return false;
    std::lock_guard<std::mutex> lk(m_state->mx);
    return !m_state->finished;
}

bool RenderThread::join(int timeoutMs)
{
    if (!isStarted())
        return true;
    {
        std::unique_lock<std::mutex> lk(m_state->mx);
        if (timeoutMs < 0)
            m_state->cv.wait(lk, [&] { return m_state->finished; });
        else if (!m_state->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs),
                                       [&] { return m_state->finished; }))
            return false;
    }
    m_state->thread.join();
    return true;
}

void RenderThread::detach(const QString& reason)
{
    if (!isStarted())
        return;
    PlatformLog::write(QStringLiteral("[RenderThread] %1 left running (%2); it ends on its own")
                           .arg(m_state->name, reason));
    m_state->thread.detach();
    m_state.reset();
}

bool RenderThread::joinOrDetach(int timeoutMs)
{
    if (join(timeoutMs))
        return true;
    detach(QStringLiteral("no answer within %1 ms").arg(timeoutMs));
    return false;
}

RenderThread::Scheduling RenderThread::scheduling() const
{
    return m_state ? Scheduling(m_state->scheduling.load()) : Scheduling::Unchanged;
}
