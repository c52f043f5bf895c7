#pragma once
#include <mutex>

#include "AudioOutput.h"
#include "MonoClock.h"

// An output without a device that plays in real time: queued frames drain at
// the stream's rate by the monotonic clock (MonoClock::current(), or the clock
// given), so a render loop on it runs at the pace it would on a sound card.
// Frames that run out count as an underrun. Nothing is heard; the frames are
// dropped.
class NullOutput : public AudioOutput
{
public:
    explicit NullOutput(const AudioOutputConfig& config, MonoClock* clock = nullptr);
    ~NullOutput() override;

    Backend backend() const override { return Backend::Null; }
    bool start() override;
    void stop() override;
    WaitResult waitForPeriod(int timeoutMs) override;
    int padding() override;
    void* getBuffer(int frames) override;
    bool releaseBuffer(int frames, bool silent) override;

    // Every frame ever released (silent ones included) and consumed.
    qint64 framesWritten();
    qint64 framesPlayed();

private:
    void advanceLocked();
    qint64 periodNs() const;
    MonoClock* clock() const { return m_clock ? m_clock : MonoClock::current(); }

    MonoClock* m_clock;
    std::mutex m_mx;            // control thread vs render thread; never held while waiting
    QByteArray m_scratch;
    qint64 m_startNs = 0;       // clock value at which frame m_playedBase was due
    qint64 m_playedBase = 0;
    qint64 m_played = 0;
    qint64 m_written = 0;
    qint64 m_lastPeriod = 0;    // index of the last period a wait returned for
    int m_got = 0;
};
