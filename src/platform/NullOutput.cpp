#include "NullOutput.h"

#include <algorithm>

NullOutput::NullOutput(const AudioOutputConfig& config, MonoClock* clock)
    : AudioOutput(config), m_clock(clock)
{
    m_deviceName = QStringLiteral("null");
    m_scratch.fill('\0', qsizetype(m_config.bufferFrames) * m_config.bytesPerFrame());
}

NullOutput::~NullOutput() = default;

qint64 NullOutput::periodNs() const
{
    return std::max<qint64>(1, qint64(m_config.periodFrames) * 1000000000LL / m_config.rate);
}

void NullOutput::advanceLocked()
{
    if (!isStarted())
        return;
    const qint64 now = clock()->nowNs();
    const qint64 elapsed = now - m_startNs;
    if (elapsed <= 0)
        return;
    const qint64 due = m_playedBase + elapsed * m_config.rate / 1000000000LL;
    if (due <= m_written) {
        m_played = std::max(m_played, due);
        return;
    }
    // The queue ran dry before now: the device played silence. Frames written
    // from here on are due from now.
    countUnderrun();
    m_played = m_written;
    m_playedBase = m_written;
    m_startNs = now;
}

bool NullOutput::start()
{
    if (isDeviceLost())
        return false;
    std::lock_guard<std::mutex> lk(m_mx);
    if (isStarted())
        return true;
    m_startNs = clock()->nowNs();
    m_playedBase = m_played;
    m_lastPeriod = 0;
    m_started.store(true, std::memory_order_release);
    return true;
}

void NullOutput::stop()
{
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_started.store(false, std::memory_order_release);
        m_played = m_written;     // queued frames are dropped
        m_playedBase = m_written;
    }
    m_wake.set();
}

qint64 NullOutput::framesPlayed()
{
    std::lock_guard<std::mutex> lk(m_mx);
    advanceLocked();
    return m_played;
}

qint64 NullOutput::framesWritten()
{
    std::lock_guard<std::mutex> lk(m_mx);
    return m_written;
}

AudioOutput::WaitResult NullOutput::waitForPeriod(int timeoutMs)
{
    const qint64 pns = periodNs();
    const qint64 realStart = MonoClock::system()->nowNs();
    for (;;) {
        if (isDeviceLost())
            return WaitResult::DeviceLost;
        if (m_wake.tryConsume())
            return isDeviceLost() ? WaitResult::DeviceLost : WaitResult::Ready;
        qint64 sliceNs = 100000000;     // re-test the clock at least every 100 ms
        {
            std::lock_guard<std::mutex> lk(m_mx);
            if (isStarted()) {
                const qint64 elapsed = clock()->nowNs() - m_startNs;
                const qint64 period = elapsed / pns;
                if (period > m_lastPeriod) {
                    m_lastPeriod = period;
                    return WaitResult::Ready;
                }
                sliceNs = std::min(sliceNs, (period + 1) * pns - elapsed);
            }
        }
        const qint64 waitedNs = MonoClock::system()->nowNs() - realStart;
        if (timeoutMs >= 0) {
            const qint64 leftNs = qint64(timeoutMs) * 1000000 - waitedNs;
            if (leftNs <= 0)
                return WaitResult::Timeout;
            sliceNs = std::min(sliceNs, leftNs);
        }
        if (m_wake.wait(int(std::max<qint64>(1, (sliceNs + 999999) / 1000000)))
            == WakeEvent::Result::Signalled)
            return isDeviceLost() ? WaitResult::DeviceLost : WaitResult::Ready;
    }
}

int NullOutput::padding()
{
    if (isDeviceLost())
        return -1;
    std::lock_guard<std::mutex> lk(m_mx);
    advanceLocked();
    return int(m_written - m_played);
}

void* NullOutput::getBuffer(int frames)
{
    if (isDeviceLost() || frames < 1)
        return nullptr;
    std::lock_guard<std::mutex> lk(m_mx);
    advanceLocked();
    if (frames > m_config.bufferFrames - int(m_written - m_played))
        return nullptr;
    m_got = frames;
    return m_scratch.data();
}

bool NullOutput::releaseBuffer(int frames, bool silent)
{
    Q_UNUSED(silent);
    if (isDeviceLost())
        return false;
    std::lock_guard<std::mutex> lk(m_mx);
    frames = std::clamp(frames, 0, m_got);
    m_got = 0;
    advanceLocked();
    m_written += frames;
    return true;
}
