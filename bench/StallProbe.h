#pragma once
// How late the machine wakes its most urgent threads. One SCHED_FIFO thread
// pinned to each CPU sleeps to an absolute 1 ms tick and notes every wake-up
// later than a threshold. Nothing the program does can be on time while its
// CPU is stalled this way (a virtual machine whose host takes the CPU away,
// say), so the benchmarks that count underruns report these stalls beside
// them. The steal time the kernel accounts over the same span tells the
// host's share.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

namespace StallProbe {

inline long long monoNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

// Steal time of all CPUs so far, in seconds (0 where the kernel keeps none).
inline double stealSeconds()
{
    FILE* f = std::fopen("/proc/stat", "r");
    if (!f)
        return 0;
    unsigned long long v[8] = {};
    const int n = std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                              &v[4], &v[5], &v[6], &v[7]);
    std::fclose(f);
    return n == 8 ? double(v[7]) / double(sysconf(_SC_CLK_TCK)) : 0;
}

struct Stall
{
    long long dueNs = 0;   // when the thread should have woken
    long long lateNs = 0;  // how much later it did
    int cpu = 0;
};

class Probe
{
public:
    // Records wake-ups later than thresholdNs; priority is the probe
    // threads' SCHED_FIFO priority (they run for microseconds a tick).
    explicit Probe(long long thresholdNs = 2000000, int priority = 80) : m_threshold(thresholdNs)
    {
        const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
        m_perCpu.resize(size_t(cpus));
        for (auto& v : m_perCpu)
            v.reserve(1 << 16);
        m_startNs = monoNs();
        m_steal0 = stealSeconds();
        for (long c = 0; c < cpus; ++c)
            m_threads.emplace_back([this, c, priority] { run(int(c), priority); });
    }
    ~Probe() { stop(); }

    void stop()
    {
        if (m_stop.exchange(true))
            return;
        for (auto& t : m_threads)
            t.join();
        m_endNs = monoNs();
        m_steal1 = stealSeconds();
    }

    // Every stall seen, by due time.
    std::vector<Stall> stalls() const
    {
        std::vector<Stall> all;
        for (const auto& v : m_perCpu)
            all.insert(all.end(), v.begin(), v.end());
        std::sort(all.begin(), all.end(), [](const Stall& a, const Stall& b) { return a.dueNs < b.dueNs; });
        return all;
    }
    bool realtime() const { return m_realtime.load(); }
    double seconds() const { return double(m_endNs - m_startNs) / 1e9; }
    double stealSecondsDuring() const { return m_steal1 - m_steal0; }
    int cpus() const { return int(m_perCpu.size()); }

private:
    void run(int cpu, int priority)
    {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        pthread_setaffinity_np(pthread_self(), sizeof set, &set);
        sched_param sp{};
        sp.sched_priority = priority;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp) != 0)
            m_realtime.store(false);
        std::vector<Stall>& out = m_perCpu[size_t(cpu)];
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!m_stop.load(std::memory_order_relaxed)) {
            next.tv_nsec += 1000000;
            if (next.tv_nsec >= 1000000000) {
                next.tv_nsec -= 1000000000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            const long long due = next.tv_sec * 1000000000LL + next.tv_nsec;
            const long long late = monoNs() - due;
            if (late > m_threshold && out.size() < out.capacity())
                out.push_back(Stall{due, late, cpu});
        }
    }

    long long m_threshold;
    long long m_startNs = 0, m_endNs = 0;
    double m_steal0 = 0, m_steal1 = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_realtime{true};
    std::vector<std::vector<Stall>> m_perCpu;
    std::vector<std::thread> m_threads;
};

// A child process with loops threads spinning (every CPU when loops is 0 or
// less), for runs "with every core busy" or "with four busy loops"; kill it
// with SIGKILL and reap it when done.
inline pid_t spinEveryCore(long loops = 0)
{
    if (loops <= 0)
        loops = sysconf(_SC_NPROCESSORS_ONLN);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<std::thread> spin;
    for (long i = 0; i < loops; ++i)
        spin.emplace_back([] {
            volatile unsigned long x = 0;
            for (;;)
                x = x + 1;
        });
    for (auto& t : spin)
        t.join();
    _exit(0);
}

// One line: how many wake-ups came later than each limit, the worst, and
// the steal time.
inline void report(const Probe& p, std::initializer_list<long long> limitsNs)
{
    const std::vector<Stall> all = p.stalls();
    long long worst = 0;
    for (const Stall& s : all)
        worst = std::max(worst, s.lateNs);
    std::printf("stalls (a %s thread per CPU, 1 ms tick, %.0f s):", p.realtime() ? "SCHED_FIFO" : "normal", p.seconds());
    for (long long limit : limitsNs)
        std::printf(" %ld over %.1f ms,", long(std::count_if(all.begin(), all.end(),
                                                             [limit](const Stall& s) { return s.lateNs > limit; })),
                    limit / 1e6);
    std::printf(" worst %.1f ms; steal time %.1f s of %.0f CPU-seconds\n", worst / 1e6, p.stealSecondsDuring(),
                p.seconds() * p.cpus());
}

} // namespace StallProbe
