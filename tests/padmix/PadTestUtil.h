#pragma once
#include <QByteArray>
#include <QSemaphore>
#include <QtEndian>

#include <atomic>
#include <memory>

#include "ManualOutput.h"

// Buffers of the pad mixers: 16-bit stereo (4 bytes a frame) and float
// stereo (8 bytes a frame), every frame (l, r).
inline QByteArray pcm16(qint64 frames, qint16 l, qint16 r)
{
    QByteArray b(frames * 4, Qt::Uninitialized);
    for (qint64 i = 0; i < frames; ++i) {
        qToLittleEndian<qint16>(l, b.data() + i * 4);
        qToLittleEndian<qint16>(r, b.data() + i * 4 + 2);
    }
    return b;
}
inline QByteArray pcm16(qint64 frames, qint16 v) { return pcm16(frames, v, v); }

inline qint16 sample16(const QByteArray& b, qint64 frame, int ch = 0)
{
    return qFromLittleEndian<qint16>(b.constData() + frame * 4 + ch * 2);
}

inline QByteArray pcmFloat(qint64 frames, float l, float r)
{
    QByteArray b(frames * 8, Qt::Uninitialized);
    float* f = reinterpret_cast<float*>(b.data());
    for (qint64 i = 0; i < frames; ++i) {
        f[i * 2] = l;
        f[i * 2 + 1] = r;
    }
    return b;
}

inline float sampleFloat(const QByteArray& b, qint64 frame, int ch = 0)
{
    return reinterpret_cast<const float*>(b.constData())[frame * 2 + ch];
}

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
