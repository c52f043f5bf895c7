#pragma once
#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <deque>
#include <memory>
#include <vector>

class AudioOutput;
class RenderThread;
struct AudioOutputConfig;

// A software mixer of static sound buffers, in the shape the button engine
// expects of its output: 16-bit stereo 44100 Hz buffers, duplicates sharing
// one buffer's samples, a volume per buffer in hundredths of a decibel, play
// (once or looping), stop (the cursor stays), set and read the play cursor,
// a playing status and release.
//
// Threads. Every operation belongs to the thread that made the mixer (the GUI
// thread). The mixer's own render thread sums the playing buffers into one
// output endpoint. The two never wait for each other: buffer state lives in
// atomics, the list of playing buffers is published as an immutable array,
// and whatever the render thread might still be reading (old lists, released
// buffers and their samples) is freed later on the owning thread, once the
// render thread has finished the pass that could have seen it.
class BufferMixer
{
public:
    // Results: 0 is success, failures carry the top bit, in the usual 32-bit
    // form that reports print in hexadecimal.
    using Result = quint32;
    static constexpr Result Ok = 0;
    static constexpr Result ErrGeneric = 0x80004005;      // unspecified failure
    static constexpr Result ErrOutOfMemory = 0x8007000E;
    static constexpr Result ErrInvalidParam = 0x80070057;
    static constexpr Result ErrNoDriver = 0x88780078;     // no output device
    static constexpr Result ErrBufferLost = 0x88780096;   // the output was lost
    static constexpr Result ErrUninitialized = 0x887800AA; // no output opened

    static constexpr int kRate = 44100;
    static constexpr int kChannels = 2;
    static constexpr int kBytesPerFrame = 4;
    // About 2.9 ms a period; while a voice plays, three of them (8.7 ms) are
    // kept queued on a card. A new voice is heard after the frames already
    // queued, so the queue is kept short: the button engine exists to sound
    // at once. A sound server's stream keeps kServerQueuePeriods (23.2 ms):
    // what is written there reaches the server's mixer only after its own
    // threads pass it on, and those run at ordinary priority. With a queue
    // of three periods, a server on a busy machine (four busy loops) mixed
    // holes of 2 to 6 ms into a looping sound several times a minute, too
    // short for the stream to report; with eight it mixed none. A press from
    // silence is not behind the queue (see kIdleQueueFrames), so only a
    // press while another voice plays waits for it.
    // Where the machine cannot keep the queue full, the queue grows by
    // kGrowPeriods after each hole that really happened while a voice
    // played (an underrun, or a stall: see QueueSizer), up to the endpoint's
    // buffer of kMaxQueuePeriods (93 ms), and comes back down a period at a
    // time after each kQuietSpellNs without one, whether a voice plays or
    // not.
    static constexpr int kPeriodFrames = 128;
    static constexpr int kBufferPeriods = 3;
    static constexpr int kServerQueuePeriods = 8;
    static constexpr int kMaxQueuePeriods = 32;
    static constexpr int kGrowPeriods = 2;
    static constexpr qint64 kQuietSpellNs = 30LL * 1000000000LL;
    // With no voice playing, nothing is written to a sound card: its queue
    // runs dry once (one underrun, of silence) and the stream waits: a
    // sound server's stream stays as it is (the server waits for data), a
    // card's is made ready again. A press from silence then plays with the
    // voice in front, as on a fresh stream, instead of behind a whole queue
    // of silence; the play itself wakes the render thread. Topping up a
    // short queue of silence instead keeps running dry many times a second
    // on a sound server. While a voice plays the queue is kept full.
    static constexpr int kIdleQueueFrames = 0;
    static constexpr int kIdleWaitMs = 10;
    // How soon a sound card's queue kept shorter than its buffer is looked
    // at again when it was not topped up (at least half a period at a time);
    // after a top-up, a period on.
    static constexpr int kTopUpWaitMs = 1;

    // Volume range in hundredths of a decibel; the minimum is silence.
    static constexpr int kVolumeMin = -10000;
    static constexpr int kVolumeMax = 0;

    // Bits of status().
    static constexpr quint32 StatusPlaying = 0x1;
    static constexpr quint32 StatusLooping = 0x4;

    class Buffer;

    BufferMixer();
    // Stops the render thread and frees what the mixer holds. Buffers not
    // released by then are the caller's leak (the mixer keeps no list of
    // idle buffers, on purpose).
    ~BufferMixer();
    BufferMixer(const BufferMixer&) = delete;
    BufferMixer& operator=(const BufferMixer&) = delete;

    // The endpoint format the mixer needs: 16-bit stereo 44100 Hz, shared,
    // kPeriodFrames a period, kMaxQueuePeriods periods of buffer (of which
    // the render thread keeps queueFrames() filled).
    static AudioOutputConfig outputConfig();

    // Takes an endpoint opened with outputConfig(). A null endpoint gives
    // ErrNoDriver, one in another format ErrInvalidParam; either way the
    // mixer stays without output.
    Result open(std::unique_ptr<AudioOutput> output);
    // Starts the endpoint and the render thread. Failure leaves the endpoint
    // open and stopped, so start may be tried again.
    Result start();
    // Stops the render thread and closes the endpoint. Buffers stay valid
    // and keep their state; play and the rest go on working without sound.
    void close();
    // close() could not stop the render thread (it still runs, detached, and
    // may read this mixer): the owner must leak the mixer, never delete it.
    // No output opens any more.
    bool isAbandoned() const { return m_abandoned; }
    bool isOpen() const { return bool(m_output); }
    bool isRunning() const;
    // The endpoint reported its device gone; the render thread has ended.
    // play() answers ErrBufferLost until the owner opens another endpoint.
    bool isOutputLost() const;
    // The frames the render thread keeps queued on the endpoint while a
    // voice plays; the whole buffer of an endpoint smaller than the queue
    // would start at.
    int queueFrames() const { return m_queueFrames.load(std::memory_order_relaxed); }
    // How many times the queue grew since the endpoint was opened.
    quint32 queueGrowths() const { return m_queueGrowths.load(std::memory_order_relaxed); }
    // The endpoint while open; tests use it to drive a manual output.
    AudioOutput* output() const { return m_output.get(); }

    // A static buffer over bytes [offset, offset + bytes) of block, which is
    // shared, not copied (QByteArray's own reference). bytes must be a
    // positive number of whole frames inside the block.
    Result createBuffer(const QByteArray& block, qsizetype offset, qsizetype bytes, Buffer** out);
    // A new buffer on the same samples; volume copied, stopped at cursor 0.
    Result duplicate(Buffer* original, Buffer** out);
    // Stops the buffer and gives it up. The pointer is dead on return; its
    // memory goes once the render thread is done with it.
    void release(Buffer* buffer);

    // Plays from the cursor; ends a fade-out of the buffer.
    Result play(Buffer* buffer, bool looping);
    // Stops; the cursor stays where it was. Ends a fade-out too.
    Result stop(Buffer* buffer);
    // Lowers a playing buffer to silence over the next `frames` frames it
    // mixes, then stops it (the cursor stays where the fall ended). The fall
    // is sample by sample on the render thread, from the buffer's volume at
    // each frame (a volume set meanwhile is followed) times a share that
    // falls along (1 - k / frames)^1.5: a little quicker than a straight
    // line at first and so quieter at the end (-9 dB half way, below -35 dB
    // over its last tenth), reaching nothing exactly at its end. A second
    // fade of a falling buffer carries on from the level the first reached
    // (never back up), at the new fade's pace. play or stop ends a fade;
    // frames 0 stops at once.
    Result fadeOut(Buffer* buffer, quint32 frames);
    // Frames of a fade-out still to mix; 0 when none runs.
    quint32 fadeFramesLeft(const Buffer* buffer) const;
    // The share of the volume the fall leaves after `done` of `frames`.
    static float fadeShare(quint64 done, quint64 frames);
    // Cursor in bytes from the buffer's start, rounded down to a whole frame.
    Result setCurrentPosition(Buffer* buffer, quint32 bytes);
    Result currentPosition(const Buffer* buffer, quint32* bytes) const;
    Result setVolume(Buffer* buffer, int hundredthsDb);
    int volume(const Buffer* buffer) const;
    quint32 status(const Buffer* buffer) const;
    quint32 sizeBytes(const Buffer* buffer) const;

    // Frees what the render thread has let go of and drops finished buffers
    // from the playing list. Every operation above does a little of it too.
    void collect();

    // Linear factor of a volume in hundredths of a decibel; kVolumeMin and
    // below are silence, kVolumeMax and above unity.
    static float gainForVolume(int hundredthsDb);

    // Called on the render thread after each mixed block, with the block
    // (interleaved stereo) and the frame count. For measurements; it must not
    // block. While the render thread runs, only set a tap where there was
    // none, or clear it (the context must then live until the next pass).
    using RenderTap = void (*)(void* context, const qint16* frames, int count);
    void setRenderTap(RenderTap tap, void* context);

    // Figures of the render side, safe to read from any thread.
    struct Stats {
        quint64 passes = 0;          // mixing passes so far
        quint64 framesMixed = 0;
        quint32 lastVisited = 0;     // buffers the last pass looked at
        quint32 maxVisited = 0;
        quint32 buffers = 0;         // buffers alive (owning thread's count)
    };
    Stats stats() const;

    // The rule by which the render thread sizes its queue, as a plain
    // object: it keeps `frames()` queued while a voice plays.
    class QueueSizer
    {
    public:
        // The queue starts at minFrames and stays within minFrames..maxFrames
        // (maxFrames below minFrames is taken as minFrames). rate 0 leaves
        // stalls alone (see update).
        QueueSizer(int periodFrames, int minFrames, int maxFrames, int rate = 0);
        // Once a pass, before it fills the queue: whether the stretch since
        // the last call kept the queue full (a voice played), how many frames
        // it queued, the endpoint's underrun count, the frames queued now and
        // the time (ns). The queue grows by kGrowPeriods periods on a hole
        // met while it was kept full:
        // - an underrun (those of an idle stretch, where the queue runs dry
        //   on purpose, change nothing);
        // - a stall: the endpoint took some of the sound, then nothing for
        //   longer than it then had: what it had taken beyond the time gone
        //   by, and the queue left after its last take was topped up. A
        //   sound server takes its data in chunks, often well ahead of
        //   playing it, and may sit on a fresh queue for a while before it
        //   takes anything: neither is a hole.
        // Each kQuietSpellNs with neither takes a period off. Returns frames().
        int update(bool fed, int framesFed, quint64 underruns, int queued = 0, qint64 nowNs = 0);
        int frames() const { return m_frames; }

    private:
        // Whether the endpoint stood still longer than the sound it had.
        bool stalled(bool fed, int framesFed, int queued, qint64 nowNs);
        qint64 framesNs(qint64 frames) const { return frames * 1000000000LL / m_rate; }
        void grow(qint64 nowNs);
        void shrinkByClock(qint64 nowNs);

        int m_period;
        int m_min;
        int m_max;
        int m_rate;
        int m_frames;
        quint64 m_underruns = 0;
        bool m_clockStarted = false;
        qint64 m_quietSinceNs = 0;   // the last hole, or the first update
        int m_lastQueued = 0;        // what the last pass found queued
        // Stall watch, from the first take of a fed stretch.
        bool m_taking = false;       // the endpoint took some of this stretch
        bool m_takenLastPass = false; // the deadline waits for what that pass left
        bool m_watching = false;     // m_deadlineNs holds
        qint64 m_takenUntilNs = 0;   // the end of the sound taken, played from when it was taken
        qint64 m_deadlineNs = 0;     // when what the endpoint had runs out
    };

    // --- The mixing pass, as a plain function ----------------------------

    // Mixes count frames of the given voices into out (interleaved stereo)
    // through the float accumulator acc (2 × count floats): the sum of every
    // playing voice's sample times its gain, saturated to 16 bits. Advances
    // each voice's cursor; a voice that is not looping stops at its end with
    // the cursor back at 0. Voices that are not playing are skipped. Returns
    // how many voices were looked at.
    static quint32 mixPass(Buffer* const* voices, quint32 voiceCount, qint16* out, float* acc,
                           int count);

    // Renders count frames into out as the render thread does (the published
    // playing list, the pass counters, the tap). For benchmarks and for
    // endpoints driven by hand; never call it while the render thread runs.
    void renderBlock(qint16* out, int count);

private:
    struct ActiveList;
    struct Graveyard;

    void publish();
    void retire(ActiveList* list);
    void retire(Buffer* buffer);
    quint64 retireStamp() const;
    // The queue a new endpoint starts with: kBufferPeriods of its periods
    // (kServerQueuePeriods on a sound server's stream), at most its whole
    // buffer.
    static int startQueueFrames(const AudioOutput& out);
    void renderLoop();
    // On the render side: whether a voice of the published list plays.
    bool anyVoicePlaying();

    std::unique_ptr<AudioOutput> m_output;
    std::unique_ptr<RenderThread> m_thread;
    std::shared_ptr<std::atomic<bool>> m_running;
    std::atomic<bool> m_lost{false};

    // Owning thread only.
    std::vector<Buffer*> m_playing;   // buffers in the published list
    std::unique_ptr<Graveyard> m_graveyard;
    quint32 m_bufferCount = 0;
    bool m_abandoned = false; // the render thread would not stop: leak, never free

    // Shared with the render thread.
    std::atomic<ActiveList*> m_published{nullptr};
    std::atomic<quint64> m_passBegin{0};
    std::atomic<quint64> m_passEnd{0};
    std::atomic<quint64> m_framesMixed{0};
    std::atomic<quint32> m_lastVisited{0};
    std::atomic<quint32> m_maxVisited{0};
    std::atomic<int> m_queueFrames{0};
    std::atomic<quint32> m_queueGrowths{0};
    std::atomic<RenderTap> m_tap{nullptr};
    std::atomic<void*> m_tapContext{nullptr};

    // Render side only: the float accumulator, made before the thread runs.
    std::vector<float> m_acc;
};
