#include "LoopStream.h"
#include "LoopStreamWaits.h"

#include <QMutex>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "AudioOutput.h"
#include "PcmDecoder.h"
#include "RenderThread.h"
#include "StandingThreads.h"
#include "WakeEvent.h"

// What the owner and the two threads share; freed by whichever lets go last.
struct LoopStream::Shared
{
    Params params;
    qint64 inFrame = 0;          // the trim-in, in frames of the output rate
    qint64 wantFrames = -1;      // the range's length as set; -1: to the end of the file
    qint64 fadeInFrames = 0;
    qint64 fadeOutFrames = 0;

    std::atomic<bool> stop{false};
    std::atomic<bool> dropQueued{false};   // at the stop, drop the output's queue
    std::atomic<bool> closed{false};       // the render side has let its output go
    std::atomic<bool> wrote{false};        // the render side has begun to write to its output
    std::shared_ptr<Shared> follows;       // taken by the render thread as it starts
    std::weak_ptr<Shared> followed;        // the same, for as long as it lives
    std::atomic<float> level{1.0f};
    std::atomic<int> state{int(State::Starting)};
    std::atomic<bool> lost{false};
    mutable QMutex errorMx;
    QString error;

    // The decoded frames, in blocks of kBlockFrames: stream frame f lies in
    // block (g / kBlockFrames) % kBlocks, where g is f itself, or f modulo
    // the round when the range is held whole.
    std::unique_ptr<std::atomic<qint16*>[]> blocks{new std::atomic<qint16*>[kBlocks]};
    std::atomic<qint64> decoded{0};       // stream frames the decoder has written
    std::atomic<qint64> roundFrames{-1};  // a round's length once known
    std::atomic<bool> whole{false};       // the range is held whole: rounds repeat it
    std::atomic<qint64> played{0};        // stream frames handed to the output
    std::atomic<qint64> heard{-1};        // the stream frame heard at the last pass
    std::atomic<qint64> durationMs{0};
    std::atomic<quint64> underruns{0};
    std::atomic<qint64> starved{0};
    // A stop fade: its length in frames once asked, until the render thread
    // takes it up; from then on the stream frame its fall begins at and how
    // long it falls (render thread only), and whether it has been heard out.
    std::atomic<qint64> stopFadeAsked{0};
    qint64 stopFadeFrom = -1;
    qint64 stopFadeFrames = 0;
    std::atomic<bool> stopFadeHeard{false};
    WakeEvent firstFrames;                // set once the decoder is far enough ahead to start

    Shared()
    {
        for (int i = 0; i < kBlocks; ++i)
            blocks[i].store(nullptr, std::memory_order_relaxed);
    }
    ~Shared()
    {
        for (int i = 0; i < kBlocks; ++i)
            delete[] blocks[i].load(std::memory_order_relaxed);
    }

    void fail(const QString& why)
    {
        {
            QMutexLocker lock(&errorMx);
            if (error.isEmpty())
                error = why;
        }
        state.store(int(State::Failed), std::memory_order_release);
        firstFrames.set();
    }
};

namespace {

using Shared = LoopStream::Shared;
std::atomic<quint64> g_predecessorWaitMs{0};
constexpr qint64 kBlock = LoopStream::kBlockFrames;
constexpr int kBlocks = LoopStream::kBlocks;

// ---- decoding -----------------------------------------------------------

// Writes n frames (silence when src is null) at the decoder's place, waiting
// while the ring is full. False once the stream is told to end.
bool putFrames(Shared& sh, const qint16* src, qint64 n)
{
    while (n > 0) {
        if (sh.stop.load(std::memory_order_acquire))
            return false;
        const qint64 f = sh.decoded.load(std::memory_order_relaxed);
        if (f - sh.played.load(std::memory_order_acquire) >= qint64(kBlocks - 1) * kBlock) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        const int b = int((f / kBlock) % kBlocks);
        qint16* block = sh.blocks[b].load(std::memory_order_relaxed);
        if (!block) {
            block = new qint16[size_t(kBlock) * 2];
            sh.blocks[b].store(block, std::memory_order_relaxed);
        }
        const qint64 at = f % kBlock;
        const qint64 m = std::min(n, kBlock - at);
        if (src) {
            std::memcpy(block + at * 2, src, size_t(m) * 4);
            src += m * 2;
        } else {
            std::memset(block + at * 2, 0, size_t(m) * 4);
        }
        sh.decoded.store(f + m, std::memory_order_release);
        n -= m;
    }
    return true;
}

// Decodes one round of the range into the stream; the number of frames it
// gave, or -1 on failure.
qint64 decodeRound(Shared& sh, qint64 maxFrames, QString* why)
{
    PcmDecoder::Options o;
    o.startSec = double(sh.inFrame) / LoopStream::kRate;
    o.maxFrames = maxFrames;
    PcmDecoder::Info info;
    qint64 got = 0;
    bool told = false;
    o.consume = [&](const char* data, qint64 bytes) {
        if (sh.durationMs.load(std::memory_order_relaxed) == 0 && info.durationMs > 0)
            sh.durationMs.store(info.durationMs, std::memory_order_relaxed);
        const qint64 n = bytes / 4;
        if (!putFrames(sh, reinterpret_cast<const qint16*>(data), n))
            return false;
        got += n;
        if (!told && sh.decoded.load(std::memory_order_relaxed) >= LoopStream::kStartLeadFrames) {
            told = true;
            sh.firstFrames.set();
        }
        return true;
    };
    if (!PcmDecoder::decode(sh.params.path, o, nullptr, why, &info))
        return -1;
    if (sh.durationMs.load(std::memory_order_relaxed) == 0 && info.durationMs > 0)
        sh.durationMs.store(info.durationMs, std::memory_order_relaxed);
    return got;
}

// The first round decides: a range that fits is held whole and decoded
// once; a longer one is decoded again, round after round, into the ring.
void decodeLoop(std::shared_ptr<Shared> sh)
{
    QString why;
    const qint64 first = decodeRound(*sh, sh->wantFrames, &why);
    if (sh->stop.load(std::memory_order_acquire))
        return;
    if (first <= 0) {
        sh->fail(first < 0 ? why : QStringLiteral("nothing to play in the range"));
        return;
    }
    sh->roundFrames.store(first, std::memory_order_release);
    sh->firstFrames.set();
    if (first <= qint64(kBlocks - 1) * kBlock) {
        sh->whole.store(true, std::memory_order_release);
        return;
    }
    if (sh->params.once)
        return;
    while (!sh->stop.load(std::memory_order_acquire)) {
        const qint64 got = decodeRound(*sh, first, &why);
        if (sh->stop.load(std::memory_order_acquire))
            return;
        // A round that comes out shorter (the file changed) keeps the beat.
        if (!putFrames(*sh, nullptr, first - std::max<qint64>(0, got)))
            return;
    }
}

// ---- rendering ----------------------------------------------------------

// The envelope of a round at frame pos: each round fades in from silence
// and out to silence at its end, linearly.
float envelope(const Shared& sh, qint64 pos, qint64 round)
{
    float e = 1.0f;
    if (sh.fadeInFrames > 0 && pos < sh.fadeInFrames)
        e = float(pos) / float(sh.fadeInFrames);
    if (sh.fadeOutFrames > 0 && round > 0 && pos >= round - sh.fadeOutFrames)
        e = std::min(e, float(round - 1 - pos) / float(sh.fadeOutFrames));
    return std::max(0.0f, e);
}

// What a stop fade leaves of stream frame f: all of it before the fall, a
// linear share during it, nothing after it.
float stopFadeGain(const Shared& sh, qint64 f)
{
    if (sh.stopFadeFrom < 0 || f < sh.stopFadeFrom)
        return 1.0f;
    if (f >= sh.stopFadeFrom + sh.stopFadeFrames)
        return 0.0f;
    return 1.0f - float(f - sh.stopFadeFrom) / float(sh.stopFadeFrames);
}

// Fills frames of the output from the stream, at a level ramped from `from`
// to `to` across the block. When the decoder is behind, the rest is silence
// and the stream waits for it: a round is never cut short. Played once, all
// after the round is silence of its own, not a wait.
void renderBlock(Shared& sh, qint16* dst, int frames, float from, float to)
{
    const bool whole = sh.whole.load(std::memory_order_acquire);
    const qint64 round = sh.roundFrames.load(std::memory_order_acquire);
    const qint64 decoded = sh.decoded.load(std::memory_order_acquire);
    const bool once = sh.params.once;
    qint64 f = sh.played.load(std::memory_order_relaxed);
    int k = 0;
    for (; k < frames; ++k, ++f) {
        if (once && round > 0 && f >= round) {
            std::memset(dst + k * 2, 0, size_t(frames - k) * 4);
            f += frames - k;
            k = frames;
            break;
        }
        if (!whole && f >= decoded)
            break;
        const qint64 g = whole ? f % round : f;
        const qint16* block = sh.blocks[int((g / kBlock) % kBlocks)].load(std::memory_order_relaxed);
        const qint64 pos = round > 0 ? f % round : f;
        const float gain =
            (from + (to - from) * float(k) / float(frames)) * envelope(sh, pos, round) * stopFadeGain(sh, f);
        for (int c = 0; c < 2; ++c) {
            const float v = float(block[(g % kBlock) * 2 + c]) * gain;
            dst[k * 2 + c] = qint16(std::clamp(std::lrint(v), -32768L, 32767L));
        }
    }
    std::memset(dst + k * 2, 0, size_t(frames - k) * 4);
    if (k < frames)
        sh.starved.fetch_add(frames - k, std::memory_order_relaxed);
    sh.played.store(f, std::memory_order_release);
}

std::unique_ptr<AudioOutput> openOutput(const Shared& sh, QString* why)
{
    AudioOutputConfig cfg;
    cfg.deviceId = sh.params.deviceId;
    cfg.rate = LoopStream::kRate;
    cfg.bufferFrames = LoopStream::kQueueFrames;
    cfg.periodFrames = LoopStream::kPeriodFrames;
    // A sound card, never the silent stand-in the button engine falls back
    // to, unless a run asks for another output by name.
    if (AudioOutput::backendForced())
        return AudioOutput::open(cfg, why);
    return AudioOutput::openBackend(AudioOutput::Backend::Alsa, cfg, why);
}

// Lets what is queued play out (the end of a stop fade), for a short while.
void drain(AudioOutput& out)
{
    for (int i = 0; i < 20 && out.padding() > 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// Waits until the decoder is far enough ahead to start; false when the
// stream ends or fails first.
bool waitForLead(Shared& sh)
{
    for (;;) {
        if (sh.stop.load(std::memory_order_acquire)
            || sh.state.load(std::memory_order_acquire) == int(LoopStream::State::Failed))
            return false;
        const qint64 decoded = sh.decoded.load(std::memory_order_acquire);
        const qint64 round = sh.roundFrames.load(std::memory_order_acquire);
        if (decoded >= LoopStream::kStartLeadFrames || (round > 0 && decoded >= round))
            return true;
        sh.firstFrames.wait(5);
    }
}

// A stream played once has ended when the frame heard lies past its round;
// a stop fade has been heard out when the frame heard lies past its fall.
void noteEnd(Shared& sh, qint64 heard)
{
    const qint64 round = sh.roundFrames.load(std::memory_order_acquire);
    if (sh.params.once && round > 0 && heard >= round)
        sh.state.store(int(LoopStream::State::Ended), std::memory_order_release);
    if (sh.stopFadeFrom >= 0 && heard >= sh.stopFadeFrom + sh.stopFadeFrames)
        sh.stopFadeHeard.store(true, std::memory_order_release);
}

// A stop fade begins at the frame heard now: what the output has queued is
// dropped and the stream goes back to that frame, to be written again
// falling (the caller writes and starts the output again).
void beginStopFade(Shared& sh, AudioOutput& out, qint64 frames, int queued)
{
    const qint64 heard = std::max<qint64>(0, sh.played.load(std::memory_order_relaxed) - queued);
    out.stop();
    sh.played.store(heard, std::memory_order_release);
    sh.stopFadeFrom = heard;
    sh.stopFadeFrames = frames;
}

// Waits, for a short while at most, until the stream this one follows has
// let its output go: what that one had queued is dropped, and what the
// sound server had mixed of it ahead is heard before this one's first frame.
// One let go before it wrote anything (a burst of presses) never will, and
// is not waited for; the one it followed, which may still sound, is. A
// machine with every core busy can hold that stream's thread back for a
// hundred ms and more: the restart then comes that much later rather than
// laid over the sound it replaces. Lets go of that one; false when this
// stream is told to end meanwhile.
constexpr int kPredecessorWaitMs = 300;

bool waitForPredecessor(Shared& sh, std::shared_ptr<Shared>& before)
{
    const auto silentForGood = [](const Shared& b) { return b.stop.load() && !b.wrote.load(); };
    const auto pastSilent = [&] {
        while (before && silentForGood(*before))
            before = before->followed.lock();
    };
    pastSilent();
    for (int i = 0; before && i < kPredecessorWaitMs && !before->closed.load(std::memory_order_acquire); ++i) {
        if (sh.stop.load(std::memory_order_acquire))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        g_predecessorWaitMs.fetch_add(1, std::memory_order_relaxed);
        pastSilent();
    }
    before.reset();
    return !sh.stop.load(std::memory_order_acquire);
}

// Marks the render side closed when it ends, after its output has gone.
struct ClosedOnExit
{
    Shared& sh;
    ~ClosedOnExit() { sh.closed.store(true, std::memory_order_release); }
};

void renderLoop(std::shared_ptr<Shared> sh)
{
    RenderThread::setCurrentThreadName(QStringLiteral("tr-loop"));
    RenderThread::raiseCurrentThread();
    const ClosedOnExit closedOnExit{*sh};
    std::shared_ptr<Shared> before = std::move(sh->follows);
    QString why;
    std::unique_ptr<AudioOutput> out = openOutput(*sh, &why);
    if (!out) {
        sh->fail(why.isEmpty() ? QStringLiteral("no output") : why);
        return;
    }
    if (!waitForLead(*sh) || !waitForPredecessor(*sh, before))
        return;
    // From here a stream that follows this one waits for its output to
    // close; told to end before, it writes nothing (see waitForPredecessor).
    sh->wrote.store(true);
    if (sh->stop.load())
        return;
    const int capacity = out->bufferFrames();
    float applied = sh->level.load(std::memory_order_relaxed);
    auto pass = [&](int frames, int queued) {
        void* dst = out->getBuffer(frames);
        if (!dst)
            return true;
        const float target = sh->level.load(std::memory_order_relaxed);
        renderBlock(*sh, static_cast<qint16*>(dst), frames, applied, target);
        applied = target;
        if (!out->releaseBuffer(frames, false))
            return false;
        const qint64 heard = sh->played.load(std::memory_order_relaxed) - queued - frames;
        sh->heard.store(heard, std::memory_order_release);
        sh->underruns.store(out->underrunCount(), std::memory_order_relaxed);
        noteEnd(*sh, heard);
        return true;
    };
    if (!pass(capacity, 0) || !out->start()) {
        sh->fail(QStringLiteral("the output did not start"));
        return;
    }
    sh->state.store(int(LoopStream::State::Playing), std::memory_order_release);
    while (!sh->stop.load(std::memory_order_acquire)) {
        const AudioOutput::WaitResult r = out->waitForPeriod(100);
        if (sh->stop.load(std::memory_order_acquire))
            break;
        const int padding = r == AudioOutput::WaitResult::DeviceLost ? -1 : out->padding();
        if (padding < 0) {
            sh->lost.store(true, std::memory_order_release);
            return;
        }
        if (const qint64 fade = sh->stopFadeAsked.exchange(0, std::memory_order_acq_rel); fade > 0) {
            beginStopFade(*sh, *out, fade, padding);
            if (!pass(capacity, 0) || !out->start()) {
                sh->lost.store(true, std::memory_order_release);
                return;
            }
            continue;
        }
        if (capacity - padding > 0 && !pass(capacity - padding, padding)) {
            sh->lost.store(true, std::memory_order_release);
            return;
        }
    }
    if (sh->dropQueued.load(std::memory_order_acquire))
        out->stop();
    else
        drain(*out);
}

StandingThreads& decoders()
{
    static StandingThreads* set = new StandingThreads(QStringLiteral("tr-loopdec"));
    return *set;
}

StandingThreads& renderers()
{
    static StandingThreads* set = new StandingThreads(QStringLiteral("tr-loop"));
    return *set;
}

} // namespace

void LoopStream::prepareThreads()
{
    decoders().prepare();
    renderers().prepare();
}

LoopStream::LoopStream(const Params& params) : m_shared(std::make_shared<Shared>())
{
    Shared& sh = *m_shared;
    sh.params = params;
    sh.inFrame = params.trimIn > 0.001 ? std::llround(params.trimIn * kRate) : 0;
    if (params.trimOut > params.trimIn + 0.001)
        sh.wantFrames = std::max<qint64>(1, std::llround(params.trimOut * kRate) - sh.inFrame);
    sh.fadeInFrames = params.fadeIn > 0.01 ? std::llround(params.fadeIn * kRate) : 0;
    sh.fadeOutFrames = params.fadeOut > 0.01 ? std::llround(params.fadeOut * kRate) : 0;
    sh.level.store(std::clamp(params.level, 0.0f, 1.0f), std::memory_order_relaxed);
    sh.follows = params.follows.lock();
    sh.followed = sh.follows;
    sh.params.follows.reset();
    // Started on threads that stand ready: a press never starts a thread
    // on the window's thread (see StandingThreads.h).
    bool running = false;
    try {
        running = decoders().run([sh = m_shared] { decodeLoop(sh); })
                  && renderers().run([sh = m_shared] { renderLoop(sh); });
    } catch (const std::exception&) {
    }
    if (!running) {
        sh.stop.store(true, std::memory_order_release);
        sh.fail(QStringLiteral("no thread could be started"));
    }
}

LoopStream::~LoopStream()
{
    m_shared->stop.store(true, std::memory_order_release);
    m_shared->firstFrames.set();
}

void LoopStream::dropQueued()
{
    m_shared->dropQueued.store(true, std::memory_order_release);
}

void LoopStream::setLevel(float level)
{
    m_shared->level.store(std::clamp(std::isfinite(level) ? level : 0.0f, 0.0f, 1.0f), std::memory_order_relaxed);
}

float LoopStream::level() const
{
    return m_shared->level.load(std::memory_order_relaxed);
}

void LoopStream::fadeOut(double ms)
{
    const double frames = std::isfinite(ms) ? std::clamp(ms, 1.0, 3600000.0) * kRate / 1000.0 : 1.0;
    m_shared->stopFadeAsked.store(std::max<qint64>(1, std::llround(frames)), std::memory_order_release);
}

bool LoopStream::stopFadeHeard() const
{
    return m_shared->stopFadeHeard.load(std::memory_order_acquire);
}

LoopStream::State LoopStream::state() const
{
    return State(m_shared->state.load(std::memory_order_acquire));
}

QString LoopStream::error() const
{
    QMutexLocker lock(&m_shared->errorMx);
    return m_shared->error;
}

bool LoopStream::outputLost() const
{
    return m_shared->lost.load(std::memory_order_acquire);
}

qint64 LoopStream::positionMs() const
{
    const qint64 h = m_shared->heard.load(std::memory_order_acquire);
    if (h < 0)
        return -1;
    const qint64 round = m_shared->roundFrames.load(std::memory_order_acquire);
    qint64 pos = h;
    if (round > 0)
        pos = m_shared->params.once ? std::min(h, round) : h % round;
    return (m_shared->inFrame + pos) * 1000 / kRate;
}

qint64 LoopStream::durationMs() const
{
    return m_shared->durationMs.load(std::memory_order_relaxed);
}

qint64 LoopStream::roundsHeard() const
{
    const qint64 h = m_shared->heard.load(std::memory_order_acquire);
    const qint64 round = m_shared->roundFrames.load(std::memory_order_acquire);
    if (h < 0)
        return 0;
    if (round <= 0 || m_shared->params.once)
        return 1;
    return h / round + 1;
}

quint64 LoopStream::underruns() const
{
    return m_shared->underruns.load(std::memory_order_relaxed);
}

qint64 LoopStream::starvedFrames() const
{
    return m_shared->starved.load(std::memory_order_relaxed);
}

quint64 loopStreamPredecessorWaitMs()
{
    return g_predecessorWaitMs.load(std::memory_order_relaxed);
}
