#pragma once
#include <QByteArray>
#include <QMutex>

#include <functional>

#include "AudioOutput.h"

// An output for tests: nothing is consumed until the test calls consume(),
// and every frame released is kept (silent releases as zeros) so a test can
// check exactly what a render loop produced. It allocates while keeping
// frames, which is fine for tests only.
//
// Engines open their outputs themselves; with TR_AUDIO_OUTPUT=manual a test
// reaches the endpoint an engine opened through lastOpened().
class ManualOutput : public AudioOutput
{
public:
    explicit ManualOutput(const AudioOutputConfig& config);
    ~ManualOutput() override;

    Backend backend() const override { return Backend::Manual; }
    bool start() override;
    void stop() override;
    WaitResult waitForPeriod(int timeoutMs) override;
    int padding() override;
    void* getBuffer(int frames) override;
    bool releaseBuffer(int frames, bool silent) override;

    // --- test side (any thread) ---
    // The device plays up to frames queued frames (from the front of the
    // queue), then signals a period so a waiting render thread wakes.
    // Returns the frames consumed. Works whether started or not.
    int consume(int frames);
    // Wakes the render thread as a device period would, consuming nothing.
    void signalPeriod() { m_wake.set(); }
    // Marks the device lost: padding -1, buffers refused, waits return DeviceLost.
    void loseDevice() { markLost(); }
    // Records one underrun, as a device would.
    void injectUnderrun() { countUnderrun(); }
    // Stands in for a sound server's stream (see feedsSoundServer); set
    // before the output is handed to its render side.
    void setFeedsSoundServer(bool server) { m_server = server; }
    bool feedsSoundServer() const override { return m_server; }

    QByteArray written() const;     // every frame released, in order
    QByteArray played() const;      // the frames consume() took, in order
    qint64 framesWritten() const;
    qint64 framesQueued() const;
    int releaseCount() const;       // calls of releaseBuffer that queued frames
    int startCount() const;
    int stopCount() const;

    // The last ManualOutput constructed and not yet destroyed (nullptr when
    // none). The pointer dies with the output: use it while the engine that
    // opened it keeps it open.
    static ManualOutput* lastOpened();
    // The frames the last output destroyed still held unplayed when it
    // went (-1 before any went): what a render side let go of unheard.
    static qint64 queuedAtLastClose();
    // Called at the start of every construction, on the thread that opens
    // the output: a test holds a render side in its open with it. Empty: none.
    static void setOpenHook(std::function<void()> hook);

private:
    mutable QMutex m_mx;
    QByteArray m_scratch;
    QByteArray m_written;
    QByteArray m_played;
    qint64 m_queuedFrames = 0;
    qint64 m_queueStart = 0;    // byte offset in m_written of the first queued frame
    int m_got = 0;
    int m_releases = 0;
    int m_starts = 0;
    int m_stops = 0;
    bool m_server = false;
};
