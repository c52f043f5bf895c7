#pragma once
#include <QtGlobal>
#include <atomic>

// Monotonic time for latency stamps, render-loop gap checks and the paced
// null output. Reads CLOCK_MONOTONIC unless a test has installed a FakeClock.
class MonoClock
{
public:
    virtual ~MonoClock() = default;

    // Nanoseconds on this clock. The system clock never goes backwards.
    virtual qint64 nowNs() const;
    qint64 nowUs() const { return nowNs() / 1000; }
    qint64 nowMs() const { return nowNs() / 1000000; }

    // The process-wide CLOCK_MONOTONIC clock.
    static MonoClock* system();

    // The clock everything reads: the system clock, or the one a test set.
    static MonoClock* current();
    // Installs a clock for the whole process; nullptr returns to the system
    // clock. The caller keeps ownership and must outlive its installation.
    static void setCurrent(MonoClock* clock);

    // Shorthands for current()->now...().
    static qint64 ns() { return current()->nowNs(); }
    static qint64 us() { return current()->nowUs(); }
    static qint64 ms() { return current()->nowMs(); }

private:
    static std::atomic<MonoClock*> s_current;
};

// A clock that only moves when told. Thread-safe.
class FakeClock : public MonoClock
{
public:
    explicit FakeClock(qint64 startNs = 1000000000LL) : m_ns(startNs) {}
    qint64 nowNs() const override { return m_ns.load(std::memory_order_acquire); }
    void setNs(qint64 ns) { m_ns.store(ns, std::memory_order_release); }
    void advanceNs(qint64 d) { m_ns.fetch_add(d, std::memory_order_acq_rel); }
    void advanceUs(qint64 d) { advanceNs(d * 1000); }
    void advanceMs(qint64 d) { advanceNs(d * 1000000); }

private:
    std::atomic<qint64> m_ns;
};

// Installs a FakeClock as the current clock for the life of the guard.
class ScopedFakeClock : public FakeClock
{
public:
    explicit ScopedFakeClock(qint64 startNs = 1000000000LL) : FakeClock(startNs)
    {
        MonoClock::setCurrent(this);
    }
    ~ScopedFakeClock() override { MonoClock::setCurrent(nullptr); }
    ScopedFakeClock(const ScopedFakeClock&) = delete;
    ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;
};
