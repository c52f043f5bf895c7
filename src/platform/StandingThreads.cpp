#include "StandingThreads.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include "CrashSignals.h"
#include "PlatformLog.h"
#include "RenderThread.h"

StandingThreads::StandingThreads(const QString& name) : m_name(name) {}

bool StandingThreads::run(std::function<void()> job)
{
    bool callKeeper = false;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        startKeeper();
        // No thread stands and none can be started: the job would wait for ever.
        if (!m_keeperUp && m_idle == 0)
            return false;
        m_jobs.push_back(std::move(job));
        callKeeper = wanted() > 0;
    }
    m_jobReady.notify_one();
    if (callKeeper)
        m_keeperCall.notify_one();
    return true;
}

void StandingThreads::prepare()
{
    {
        std::lock_guard<std::mutex> lk(m_mx);
        startKeeper();
    }
    m_keeperCall.notify_one();
}

int StandingThreads::wanted() const
{
    return int(m_jobs.size()) + kIdle - m_idle - m_starting;
}

// The keeper is the one thread the caller starts, once.
void StandingThreads::startKeeper()
{
    if (m_keeperUp)
        return;
    try {
        std::thread([this] { keep(); }).detach();
        m_keeperUp = true;
    } catch (const std::system_error& e) {
        PlatformLog::write(QStringLiteral("[StandingThreads] cannot start %1's keeper: %2")
                               .arg(m_name, QString::fromLocal8Bit(e.what())));
    }
}

void StandingThreads::keep()
{
    RenderThread::setCurrentThreadName(m_name + QStringLiteral("-k"));
    std::unique_lock<std::mutex> lk(m_mx);
    for (;;) {
        m_keeperCall.wait(lk, [this] { return wanted() > 0; });
        ++m_starting;
        lk.unlock();
        bool ok = true;
        QString why;
        try {
            std::thread([this] { work(); }).detach();
        } catch (const std::system_error& e) {
            ok = false;
            why = QString::fromLocal8Bit(e.what());
        }
        lk.lock();
        if (ok) {
            m_refusing = false;
            continue;
        }
        --m_starting;
        // Told once for as long as no thread can be had, not at every try.
        if (!std::exchange(m_refusing, true)) {
            lk.unlock();
            PlatformLog::write(QStringLiteral("[StandingThreads] cannot start a thread of %1: %2; trying again")
                                   .arg(m_name, why));
            lk.lock();
        }
        // The work waits for a thread that ends, or a later try.
        m_keeperCall.wait_for(lk, std::chrono::milliseconds(kRetryMs));
    }
}

void StandingThreads::work()
{
    RenderThread::setCurrentThreadName(m_name);
    // A stack overflow on this thread still reaches the crash report.
    CrashSignals::armCurrentThread();
    std::unique_lock<std::mutex> lk(m_mx);
    --m_starting;
    // Asked for while the others were busy, and they are idle by now.
    if (m_idle >= kMaxIdle)
        return;
    for (;;) {
        ++m_idle;
        m_jobReady.wait(lk, [this] { return !m_jobs.empty(); });
        --m_idle;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        const bool callKeeper = wanted() > 0;
        lk.unlock();
        if (callKeeper)
            m_keeperCall.notify_one();
        job();
        job = nullptr;
        lk.lock();
        if (m_idle >= kMaxIdle)
            return;
    }
}
