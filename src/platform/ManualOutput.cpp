#include "ManualOutput.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_hookMx;
ManualOutput* g_last = nullptr;
qint64 g_queuedAtClose = -1;
std::function<void()> g_openHook;
}

ManualOutput::ManualOutput(const AudioOutputConfig& config) : AudioOutput(config)
{
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lk(g_hookMx);
        hook = g_openHook;
    }
    if (hook)
        hook();
    m_deviceName = QStringLiteral("manual");
    m_scratch.fill('\0', qsizetype(m_config.bufferFrames) * m_config.bytesPerFrame());
    std::lock_guard<std::mutex> lk(g_hookMx);
    g_last = this;
}

ManualOutput::~ManualOutput()
{
    const qint64 queued = framesQueued();
    std::lock_guard<std::mutex> lk(g_hookMx);
    g_queuedAtClose = queued;
    if (g_last == this)
        g_last = nullptr;
}

ManualOutput* ManualOutput::lastOpened()
{
    std::lock_guard<std::mutex> lk(g_hookMx);
    return g_last;
}

void ManualOutput::setOpenHook(std::function<void()> hook)
{
    std::lock_guard<std::mutex> lk(g_hookMx);
    g_openHook = std::move(hook);
}

qint64 ManualOutput::queuedAtLastClose()
{
    std::lock_guard<std::mutex> lk(g_hookMx);
    return g_queuedAtClose;
}

bool ManualOutput::start()
{
    if (isDeviceLost())
        return false;
    QMutexLocker lk(&m_mx);
    ++m_starts;
    m_started.store(true, std::memory_order_release);
    return true;
}

void ManualOutput::stop()
{
    {
        QMutexLocker lk(&m_mx);
        ++m_stops;
        m_started.store(false, std::memory_order_release);
        // Queued frames are dropped, unplayed.
        m_queueStart += m_queuedFrames * bytesPerFrame();
        m_queuedFrames = 0;
    }
    m_wake.set();
}

AudioOutput::WaitResult ManualOutput::waitForPeriod(int timeoutMs)
{
    if (isDeviceLost())
        return WaitResult::DeviceLost;
    const WakeEvent::Result r = m_wake.wait(timeoutMs);
    if (isDeviceLost())
        return WaitResult::DeviceLost;
    return r == WakeEvent::Result::Signalled ? WaitResult::Ready : WaitResult::Timeout;
}

int ManualOutput::padding()
{
    if (isDeviceLost())
        return -1;
    QMutexLocker lk(&m_mx);
    return int(m_queuedFrames);
}

void* ManualOutput::getBuffer(int frames)
{
    if (isDeviceLost() || frames < 1)
        return nullptr;
    QMutexLocker lk(&m_mx);
    if (frames > m_config.bufferFrames - m_queuedFrames)
        return nullptr;
    m_got = frames;
    return m_scratch.data();
}

bool ManualOutput::releaseBuffer(int frames, bool silent)
{
    if (isDeviceLost())
        return false;
    QMutexLocker lk(&m_mx);
    frames = std::clamp(frames, 0, m_got);
    m_got = 0;
    if (frames == 0)
        return true;
    const qsizetype bytes = qsizetype(frames) * bytesPerFrame();
    if (silent)
        m_written.append(bytes, '\0');
    else
        m_written.append(m_scratch.constData(), bytes);
    m_queuedFrames += frames;
    ++m_releases;
    return true;
}

int ManualOutput::consume(int frames)
{
    int n = 0;
    {
        QMutexLocker lk(&m_mx);
        n = int(std::min<qint64>(std::max(frames, 0), m_queuedFrames));
        const qsizetype bytes = qsizetype(n) * bytesPerFrame();
        m_played.append(m_written.constData() + m_queueStart, bytes);
        m_queueStart += bytes;
        m_queuedFrames -= n;
    }
    m_wake.set();
    return n;
}

QByteArray ManualOutput::written() const
{
    QMutexLocker lk(&m_mx);
    return m_written;
}

QByteArray ManualOutput::played() const
{
    QMutexLocker lk(&m_mx);
    return m_played;
}

qint64 ManualOutput::framesWritten() const
{
    QMutexLocker lk(&m_mx);
    return m_written.size() / bytesPerFrame();
}

qint64 ManualOutput::framesQueued() const
{
    QMutexLocker lk(&m_mx);
    return m_queuedFrames;
}

int ManualOutput::releaseCount() const
{
    QMutexLocker lk(&m_mx);
    return m_releases;
}

int ManualOutput::startCount() const
{
    QMutexLocker lk(&m_mx);
    return m_starts;
}

int ManualOutput::stopCount() const
{
    QMutexLocker lk(&m_mx);
    return m_stops;
}
