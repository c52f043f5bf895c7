#pragma once
#include <QByteArray>
#include <QString>
#include <memory>

// A looping sound played by our own decoder on an output stream of its own:
// the range [trimIn, trimOut) of a file (to the file's end when trimOut is
// not above trimIn), round after round with no gap, every round exactly the
// range long. The rounds are counted in frames of the output, so no timer or
// position report can move a wrap; each round fades in and out as set, as
// the pre-decoded loops do.
//
// Played once (Params::once), the range plays a single round and then
// silence; the state becomes Ended once its last frame has been heard.
//
// Two threads do the work: one decodes the range (once, when it fits in
// memory; round after round into a ring of blocks when it does not), one
// renders it to the output device. Both come from sets of threads kept
// standing, never started for the stream itself. The owner lives on the GUI
// thread and never waits for either: it sets the level, reads the position
// heard and the state, and on destruction only tells them to end; they free
// what they share when the last of them is done.
class LoopStream
{
public:
    struct Shared;

    struct Params
    {
        QString path;
        QByteArray deviceId;       // QAudioDevice::id(); empty: the default output
        double trimIn = 0;         // seconds
        double trimOut = 0;        // seconds; not above trimIn: to the end of the file
        double fadeIn = 0;         // seconds, each round; 10 ms or less: none
        double fadeOut = 0;
        float level = 1.0f;        // the output level to start at, 0..1
        bool once = false;         // one round, then silence until Ended
        // A stream of the same sound let go just before (see handle()):
        // this one starts its output once that one's has closed, so that
        // the two are never heard at once.
        std::weak_ptr<Shared> follows;
    };

    // Ended: a stream played once has been heard to its last frame.
    enum class State { Starting, Playing, Failed, Ended };

    static constexpr int kRate = 44100;
    // Blocks of one second; up to this many seconds of a range are held whole
    // (about 10 MiB a minute), a longer range is decoded again every round.
    static constexpr int kBlockFrames = kRate;
    static constexpr int kBlocks = 601;
    // How much is decoded before the output starts (or the whole round, when
    // shorter): a decoder that the machine holds back for a moment must not
    // leave a gap in the first round.
    static constexpr int kStartLeadFrames = kRate / 5;
    // The output's queue: 100 ms, written in periods of 10 ms. A shorter one
    // runs dry on a sound server that a busy machine holds back.
    static constexpr int kQueueFrames = 4410;
    static constexpr int kPeriodFrames = 441;

    // Has the threads streams run on stand ready ahead of the first stream.
    static void prepareThreads();

    explicit LoopStream(const Params& params);
    ~LoopStream();
    LoopStream(const LoopStream&) = delete;
    LoopStream& operator=(const LoopStream&) = delete;

    // Ends the stream at once, when it is let go: what its output holds is
    // dropped, not heard (a stop, a panic, a restart). A stream let go
    // without it plays out its queue (the last of a stop fade).
    void dropQueued();
    // What a stream that follows this one waits on (Params::follows).
    std::weak_ptr<Shared> handle() const { return m_shared; }

    // The level the output plays at, 0..1; a change is ramped over one
    // period so that a stepped fade is heard as a slope.
    void setLevel(float level);
    float level() const;
    // Fades the sound to silence over ms from the frame heard now: what the
    // output has queued is dropped and written again falling, so the fall is
    // heard from the call, not a queue later. Silence follows for good.
    void fadeOut(double ms);
    // Whether the fall of fadeOut has been heard to its end.
    bool stopFadeHeard() const;

    State state() const;
    // Why it failed; empty otherwise.
    QString error() const;
    // Whether the output stream was lost after it had played.
    bool outputLost() const;
    // Where in the file the frame heard now lies, in ms; -1 until the first
    // frame has been written. Played once, it stays at the range's end.
    qint64 positionMs() const;
    // The file's length as its header says (0 until known).
    qint64 durationMs() const;
    // Rounds started so far (1 during the first).
    qint64 roundsHeard() const;
    // Times the output ran dry (the machine or the sound server held it
    // back): each leaves a gap, and the round it falls in is that much longer.
    quint64 underruns() const;
    // Frames of silence written because the decoder had not kept up: a gap
    // of the stream's own making (none while the decoder keeps ahead).
    qint64 starvedFrames() const;

private:
    std::shared_ptr<Shared> m_shared;
};
