#pragma once
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// Threads kept standing for work that comes with a press, so that the
// window's thread never starts one itself.
//
// Starting a thread maps its stack, and mapping memory waits for the
// process's memory-map lock. Any thread that holds that lock (a file
// unmapped, memory handed back to the system) and is then held back by a
// busy machine holds every caller with it, for hundreds of milliseconds
// with every core busy. The window's thread hands its work over instead:
// an idle thread of the set takes it at once, and a keeper thread of the
// set's own starts more whenever fewer than kIdle are idle. A thread
// finishing its work, or coming up, while kMaxIdle others are idle ends: no
// more than kMaxIdle stand idle. When no thread can be started, the keeper
// tries again every kRetryMs and logs it once until a start succeeds.
//
// The set lives as long as the process (threads may still run its work at
// exit); run() never waits.
class StandingThreads
{
public:
    static constexpr int kIdle = 2;
    static constexpr int kMaxIdle = 8;
    static constexpr int kRetryMs = 100;

    // Threads named name (cut to 15 bytes).
    explicit StandingThreads(const QString& name);
    StandingThreads(const StandingThreads&) = delete;
    StandingThreads& operator=(const StandingThreads&) = delete;

    // Runs job on an idle thread, or on the first to be idle or started.
    // False when no thread stands and none can be started.
    bool run(std::function<void()> job);
    // Has the keeper start kIdle threads now, ahead of the first run().
    void prepare();

private:
    ~StandingThreads() = default;   // never: see above
    void keep();
    void work();
    // Threads more to start: one for each job waiting beyond the idle ones,
    // and kIdle idle beside them. Under m_mx.
    int wanted() const;
    void startKeeper();

    const QString m_name;
    std::mutex m_mx;
    std::condition_variable m_jobReady;
    std::condition_variable m_keeperCall;
    std::deque<std::function<void()>> m_jobs;
    int m_idle = 0;
    int m_starting = 0;
    bool m_keeperUp = false;
    bool m_refusing = false;   // the keeper's last start failed (logged)
};
