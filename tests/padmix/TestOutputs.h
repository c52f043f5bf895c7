#pragma once
#include <QSemaphore>

#include <atomic>
#include <memory>

#include "ManualOutput.h"

// Endpoints for the render-thread tests, built on the manual output (frames
// are kept and consumed only when the test says).

// Wakes only through wake()/stop() or a consumed period: its wait has no time
// limit, so a thread that ends at all was ended by the wake event.
class WakeOnlyOutput : public ManualOutput
{
public:
    using ManualOutput::ManualOutput;
    WaitResult waitForPeriod(int) override
    {
        if (isDeviceLost())
            return WaitResult::DeviceLost;
        m_wake.wait(-1);
        return isDeviceLost() ? WaitResult::DeviceLost : WaitResult::Ready;
    }
};

// Ignores wake-ups and time limits: its wait returns only when the test opens
// the gate. Tells the test when it is waiting and when it is destroyed.
class StuckOutput : public ManualOutput
{
public:
    struct Probe
    {
        QSemaphore gate;
        std::atomic<int> waiting{0};
        std::atomic<bool> destroyed{false};
    };
    StuckOutput(const AudioOutputConfig& cfg, std::shared_ptr<Probe> probe)
        : ManualOutput(cfg)
        , m_probe(std::move(probe))
    {
    }
    ~StuckOutput() override { m_probe->destroyed.store(true); }
    WaitResult waitForPeriod(int) override
    {
        m_probe->waiting.fetch_add(1);
        m_probe->gate.acquire();
        m_probe->waiting.fetch_sub(1);
        return WaitResult::Ready;
    }

private:
    std::shared_ptr<Probe> m_probe;
};
