#include "BufferMixer.h"

#include "AudioOutput.h"
#include "MonoClock.h"
#include "RenderThread.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------------------
// Buffer state. Everything the render thread may change lives in one 64-bit
// word, so that a pass and an operation of the owning thread never leave it
// half-updated: the render thread advances the word with a compare-exchange
// and simply yields when the owning thread changed it meanwhile (a play, a
// stop or a new cursor always wins). The generation field makes every change
// of the owning thread visible to that compare, even one that restores the
// same cursor and flags.
namespace {
constexpr quint64 kCursorMask = 0xffffffffull;
constexpr quint64 kPlayingBit = 1ull << 32;
constexpr quint64 kLoopingBit = 1ull << 33;
constexpr quint64 kGenerationUnit = 1ull << 34;

constexpr int kAccFrames = 2048; // mixing block of the render side
}

class BufferMixer::Buffer
{
public:
    std::shared_ptr<const QByteArray> memory; // keeps the samples alive; shared by duplicates
    const qint16* samples = nullptr;
    quint32 frames = 0;
    std::atomic<quint64> state{0};
    std::atomic<float> gain{1.0f};
    // A fade-out: its length in frames (high half, 0: none) and the frames
    // of it mixed so far (low half). Set and cleared by the owning thread,
    // advanced by the render thread with a compare-exchange, so a new fade,
    // a play or a stop meanwhile always stands.
    std::atomic<quint64> fade{0};
    // Owning thread only.
    int volume = 0;
    bool listed = false; // in m_playing (and so in the published list)
};

struct BufferMixer::ActiveList
{
    std::vector<Buffer*> items;
};

struct BufferMixer::Graveyard
{
    struct Entry
    {
        quint64 stamp;
        ActiveList* list;
        Buffer* buffer;
    };
    std::deque<Entry> entries; // stamps never decrease front to back
};

namespace {

// Applies change to the buffer's word on the owning thread, racing only with
// the render thread's compare-exchange.
template<typename F>
void updateState(std::atomic<quint64>& state, F change)
{
    quint64 w = state.load(std::memory_order_acquire);
    for (;;) {
        const quint64 next = (change(w) & (kGenerationUnit - 1)) | ((w & ~(kGenerationUnit - 1)) + kGenerationUnit);
        if (state.compare_exchange_weak(w, next, std::memory_order_acq_rel, std::memory_order_acquire))
            return;
    }
}

constexpr quint64 kFadeDoneMask = 0xffffffffull;

inline quint64 fadeWord(quint32 length, quint32 done)
{
    return (quint64(length) << 32) | done;
}

// Adds frames of src falling along the fade, from `done` of `length` on.
inline void addFalling(float* acc, const qint16* src, quint32 frames, float gain, quint32 done, quint32 length)
{
    for (quint32 i = 0; i < frames; ++i) {
        const float g = gain * BufferMixer::fadeShare(quint64(done) + i, length);
        acc[2 * i] += float(src[2 * i]) * g;
        acc[2 * i + 1] += float(src[2 * i + 1]) * g;
    }
}

inline void addScaled(float* acc, const qint16* src, quint32 frames, float gain)
{
    const quint32 n = frames * 2;
    if (gain == 1.0f) {
        for (quint32 i = 0; i < n; ++i)
            acc[i] += float(src[i]);
    } else {
        for (quint32 i = 0; i < n; ++i)
            acc[i] += float(src[i]) * gain;
    }
}

} // namespace

// ---------------------------------------------------------------------------

BufferMixer::BufferMixer()
    : m_running(std::make_shared<std::atomic<bool>>(false)),
      m_graveyard(std::make_unique<Graveyard>()),
      m_acc(size_t(kAccFrames) * 2, 0.0f)
{
}

BufferMixer::~BufferMixer()
{
    close();
    if (m_abandoned)
        return; // the owner should have leaked us; at least free nothing the thread reads

    delete m_published.exchange(nullptr);
    for (Buffer* b : m_playing)
        b->listed = false;
    m_playing.clear();
    for (auto& e : m_graveyard->entries) {
        delete e.list;
        delete e.buffer;
    }
    m_graveyard->entries.clear();
}

float BufferMixer::gainForVolume(int hundredthsDb)
{
    if (hundredthsDb <= kVolumeMin)
        return 0.0f;
    if (hundredthsDb >= kVolumeMax)
        return 1.0f;
    return float(std::pow(10.0, double(hundredthsDb) / 2000.0));
}

void BufferMixer::setRenderTap(RenderTap tap, void* context)
{
    if (!tap) {
        m_tap.store(nullptr, std::memory_order_release);
        return;
    }
    m_tapContext.store(context, std::memory_order_release);
    m_tap.store(tap, std::memory_order_release);
}

BufferMixer::Stats BufferMixer::stats() const
{
    Stats s;
    s.passes = m_passEnd.load(std::memory_order_acquire);
    s.framesMixed = m_framesMixed.load(std::memory_order_relaxed);
    s.lastVisited = m_lastVisited.load(std::memory_order_relaxed);
    s.maxVisited = m_maxVisited.load(std::memory_order_relaxed);
    s.buffers = m_bufferCount;
    return s;
}

// --- Buffers ---------------------------------------------------------------

BufferMixer::Result BufferMixer::createBuffer(const QByteArray& block, qsizetype offset, qsizetype bytes,
                                              Buffer** out)
{
    if (!out)
        return ErrInvalidParam;
    *out = nullptr;
    if (offset < 0 || bytes <= 0 || bytes % kBytesPerFrame != 0 || offset > block.size()
        || bytes > block.size() - offset || bytes / kBytesPerFrame > qsizetype(kCursorMask))
        return ErrInvalidParam;
    collect();

    auto* b = new (std::nothrow) Buffer;
    if (!b)
        return ErrOutOfMemory;
    if (offset % 2 != 0) {
        // Samples must sit on 16-bit boundaries; an odd start is copied once.
        b->memory = std::make_shared<const QByteArray>(block.constData() + offset, bytes);
        offset = 0;
    } else {
        b->memory = std::make_shared<const QByteArray>(block);
    }
    b->samples = reinterpret_cast<const qint16*>(b->memory->constData() + offset);
    b->frames = quint32(bytes / kBytesPerFrame);
    ++m_bufferCount;
    *out = b;
    return Ok;
}

BufferMixer::Result BufferMixer::duplicate(Buffer* original, Buffer** out)
{
    if (!out)
        return ErrInvalidParam;
    *out = nullptr;
    if (!original)
        return ErrInvalidParam;
    auto* b = new (std::nothrow) Buffer;
    if (!b)
        return ErrOutOfMemory;
    b->memory = original->memory;
    b->samples = original->samples;
    b->frames = original->frames;
    b->volume = original->volume;
    b->gain.store(original->gain.load(std::memory_order_relaxed), std::memory_order_relaxed);
    ++m_bufferCount;
    *out = b;
    return Ok;
}

void BufferMixer::release(Buffer* buffer)
{
    if (!buffer)
        return;
    updateState(buffer->state, [](quint64 w) { return w & ~(kPlayingBit | kLoopingBit); });
    // Stopped now, so publish() takes it off the list.
    if (buffer->listed)
        publish();
    --m_bufferCount;
    retire(buffer);
    collect();
}

BufferMixer::Result BufferMixer::play(Buffer* buffer, bool looping)
{
    if (!buffer)
        return ErrInvalidParam;
    buffer->fade.store(0, std::memory_order_release);
    updateState(buffer->state, [looping](quint64 w) {
        w |= kPlayingBit;
        return looping ? (w | kLoopingBit) : (w & ~kLoopingBit);
    });
    if (!buffer->listed) {
        buffer->listed = true;
        m_playing.push_back(buffer);
        publish();
    }
    // A render thread idling on a short queue mixes the voice in at once.
    if (m_output && isRunning())
        m_output->wake();
    collect();
    // The buffer is marked playing either way; it sounds once a new endpoint runs.
    return isOutputLost() ? ErrBufferLost : Ok;
}

BufferMixer::Result BufferMixer::stop(Buffer* buffer)
{
    if (!buffer)
        return ErrInvalidParam;
    updateState(buffer->state, [](quint64 w) { return w & ~(kPlayingBit | kLoopingBit); });
    buffer->fade.store(0, std::memory_order_release);
    return Ok;
}

BufferMixer::Result BufferMixer::fadeOut(Buffer* buffer, quint32 frames)
{
    if (!buffer)
        return ErrInvalidParam;
    if (frames == 0)
        return stop(buffer);
    // A fall under way carries on from the share it has reached, now over
    // what is left of the new length from that share.
    quint64 f = buffer->fade.load(std::memory_order_acquire);
    for (;;) {
        const quint32 length = quint32(f >> 32);
        const quint32 done = quint32(f & kFadeDoneMask);
        quint32 from = 0;
        if (length > 0) {
            const double share = fadeShare(done, length);
            const double u = std::pow(share, 2.0 / 3.0);
            from = quint32(std::clamp(std::llround(double(frames) * (1.0 - u)), 0LL, (long long)frames));
        }
        if (buffer->fade.compare_exchange_weak(f, fadeWord(frames, from), std::memory_order_acq_rel,
                                               std::memory_order_acquire))
            return Ok;
    }
}

quint32 BufferMixer::fadeFramesLeft(const Buffer* buffer) const
{
    // A buffer that stopped (or ran out while falling) runs no fade.
    if (!buffer || !(buffer->state.load(std::memory_order_acquire) & kPlayingBit))
        return 0;
    const quint64 f = buffer->fade.load(std::memory_order_acquire);
    const quint32 length = quint32(f >> 32);
    const quint32 done = quint32(f & kFadeDoneMask);
    return done < length ? length - done : 0;
}

float BufferMixer::fadeShare(quint64 done, quint64 frames)
{
    if (frames == 0 || done >= frames)
        return 0.0f;
    const float u = float(double(frames - done) / double(frames));
    return u * std::sqrt(u);
}

BufferMixer::Result BufferMixer::setCurrentPosition(Buffer* buffer, quint32 bytes)
{
    if (!buffer)
        return ErrInvalidParam;
    const quint32 frame = bytes / kBytesPerFrame;
    if (frame >= buffer->frames)
        return ErrInvalidParam;
    updateState(buffer->state, [frame](quint64 w) { return (w & ~kCursorMask) | frame; });
    return Ok;
}

BufferMixer::Result BufferMixer::currentPosition(const Buffer* buffer, quint32* bytes) const
{
    if (!buffer || !bytes)
        return ErrInvalidParam;
    *bytes = quint32(buffer->state.load(std::memory_order_acquire) & kCursorMask) * kBytesPerFrame;
    return Ok;
}

BufferMixer::Result BufferMixer::setVolume(Buffer* buffer, int hundredthsDb)
{
    if (!buffer || hundredthsDb < kVolumeMin || hundredthsDb > kVolumeMax)
        return ErrInvalidParam;
    buffer->volume = hundredthsDb;
    buffer->gain.store(gainForVolume(hundredthsDb), std::memory_order_release);
    return Ok;
}

int BufferMixer::volume(const Buffer* buffer) const
{
    return buffer ? buffer->volume : kVolumeMin;
}

quint32 BufferMixer::status(const Buffer* buffer) const
{
    if (!buffer)
        return 0;
    const quint64 w = buffer->state.load(std::memory_order_acquire);
    quint32 s = 0;
    if (w & kPlayingBit) {
        s |= StatusPlaying;
        if (w & kLoopingBit)
            s |= StatusLooping;
    }
    return s;
}

quint32 BufferMixer::sizeBytes(const Buffer* buffer) const
{
    return buffer ? buffer->frames * kBytesPerFrame : 0;
}

// --- Publication and deferred freeing ---------------------------------------
//
// The render thread numbers its passes: m_passBegin is raised before a pass
// reads the published list, m_passEnd set to the same number when the pass
// is done. Something unpublished now is stamped with the current m_passBegin;
// a pass that began later has already seen the new list (the exchange and the
// counter are sequentially consistent), so the thing is free to go once
// m_passEnd has reached the stamp. With no pass under way that is at once.

void BufferMixer::publish()
{
    // Buffers that stopped (or ran to their end) leave the list.
    const auto stopped = [](Buffer* b) {
        if (b->state.load(std::memory_order_acquire) & kPlayingBit)
            return false;
        b->listed = false;
        return true;
    };
    m_playing.erase(std::remove_if(m_playing.begin(), m_playing.end(), stopped), m_playing.end());
    auto* list = new ActiveList{m_playing};
    ActiveList* old = m_published.exchange(list, std::memory_order_seq_cst);
    if (old)
        retire(old);
}

quint64 BufferMixer::retireStamp() const
{
    return m_passBegin.load(std::memory_order_seq_cst);
}

void BufferMixer::retire(ActiveList* list)
{
    m_graveyard->entries.push_back({retireStamp(), list, nullptr});
}

void BufferMixer::retire(Buffer* buffer)
{
    m_graveyard->entries.push_back({retireStamp(), nullptr, buffer});
}

void BufferMixer::collect()
{
    if (m_abandoned)
        return;
    // Drop buffers that ran to their end from the list the render thread walks.
    for (Buffer* b : m_playing) {
        if (!(b->state.load(std::memory_order_acquire) & kPlayingBit)) {
            publish();
            break;
        }
    }
    const quint64 done = m_passEnd.load(std::memory_order_seq_cst);
    auto& q = m_graveyard->entries;
    while (!q.empty() && q.front().stamp <= done) {
        delete q.front().list;
        delete q.front().buffer;
        q.pop_front();
    }
}

// --- Mixing -----------------------------------------------------------------

quint32 BufferMixer::mixPass(Buffer* const* voices, quint32 voiceCount, qint16* out, float* acc, int count)
{
    if (count <= 0)
        return 0;
    std::fill(acc, acc + size_t(count) * 2, 0.0f);
    for (quint32 v = 0; v < voiceCount; ++v) {
        Buffer* b = voices[v];
        quint64 w = b->state.load(std::memory_order_acquire);
        if (!(w & kPlayingBit))
            continue;
        const float gain = b->gain.load(std::memory_order_acquire);
        const bool looping = w & kLoopingBit;
        const quint32 frames = b->frames;
        quint32 cursor = quint32(w & kCursorMask);
        if (cursor >= frames)
            cursor = 0;
        // A fade-out counts the frames it mixes; at its end the voice stops
        // where it is, silent already.
        quint64 fade = b->fade.load(std::memory_order_acquire);
        const quint32 fadeLength = quint32(fade >> 32);
        quint32 fadeDone = quint32(fade & kFadeDoneMask);
        bool playing = fadeLength == 0 || fadeDone < fadeLength;
        quint32 left = playing ? quint32(count) : 0;
        float* dst = acc;
        while (left > 0) {
            quint32 take = std::min(left, frames - cursor);
            if (fadeLength > 0)
                take = std::min(take, fadeLength - fadeDone);
            const qint16* src = b->samples + size_t(cursor) * 2;
            if (fadeLength > 0)
                addFalling(dst, src, take, gain, fadeDone, fadeLength);
            else if (gain > 0.0f)
                addScaled(dst, src, take, gain);
            dst += size_t(take) * 2;
            left -= take;
            cursor += take;
            if (fadeLength > 0)
                fadeDone += take;
            if (cursor == frames) {
                cursor = 0;
                if (!looping) {
                    playing = false;
                    break;
                }
            }
            if (fadeLength > 0 && fadeDone >= fadeLength) {
                playing = false;
                break;
            }
        }
        quint64 next = (w & ~(kCursorMask | kPlayingBit | kLoopingBit)) | cursor;
        if (playing)
            next |= kPlayingBit | (w & kLoopingBit);
        // Loses only to a change by the owning thread, which then stands.
        b->state.compare_exchange_strong(w, next, std::memory_order_acq_rel, std::memory_order_relaxed);
        // The fall's progress stands even where the owning thread moved the
        // cursor meanwhile; a new fade, a play or a stop (which change the
        // word) stand over it. A fall that ended stays ended: should the
        // stop above have lost, the next pass stops the voice silent.
        if (fadeLength > 0)
            b->fade.compare_exchange_strong(fade, fadeWord(fadeLength, fadeDone), std::memory_order_acq_rel,
                                            std::memory_order_relaxed);
    }
    const size_t n = size_t(count) * 2;
    for (size_t i = 0; i < n; ++i) {
        const float s = std::nearbyint(acc[i]);
        out[i] = s >= 32767.0f ? qint16(32767) : s <= -32768.0f ? qint16(-32768) : qint16(s);
    }
    return voiceCount;
}

void BufferMixer::renderBlock(qint16* out, int count)
{
    while (count > 0) {
        const int n = std::min(count, kAccFrames);
        const quint64 pass = m_passBegin.fetch_add(1, std::memory_order_seq_cst) + 1;
        const ActiveList* list = m_published.load(std::memory_order_seq_cst);
        quint32 visited = 0;
        if (list && !list->items.empty()) {
            visited = mixPass(list->items.data(), quint32(list->items.size()), out, m_acc.data(), n);
        } else {
            std::memset(out, 0, size_t(n) * kBytesPerFrame);
        }
        m_passEnd.store(pass, std::memory_order_seq_cst);
        m_lastVisited.store(visited, std::memory_order_relaxed);
        if (visited > m_maxVisited.load(std::memory_order_relaxed))
            m_maxVisited.store(visited, std::memory_order_relaxed);
        m_framesMixed.fetch_add(quint64(n), std::memory_order_relaxed);
        if (RenderTap tap = m_tap.load(std::memory_order_acquire))
            tap(m_tapContext.load(std::memory_order_acquire), out, n);
        out += size_t(n) * 2;
        count -= n;
    }
}

// --- Output -----------------------------------------------------------------

AudioOutputConfig BufferMixer::outputConfig()
{
    AudioOutputConfig c;
    c.mode = ShareMode::Shared;
    c.format = SampleFormat::S16;
    c.channels = kChannels;
    c.rate = kRate;
    c.periodFrames = kPeriodFrames;
    c.bufferFrames = kPeriodFrames * kMaxQueuePeriods;
    return c;
}

BufferMixer::QueueSizer::QueueSizer(int periodFrames, int minFrames, int maxFrames, int rate)
    : m_period(std::max(1, periodFrames)),
      m_min(std::max(1, minFrames)),
      m_max(std::max(m_min, maxFrames)),
      m_rate(std::max(0, rate)),
      m_frames(m_min)
{
}

void BufferMixer::QueueSizer::grow(qint64 nowNs)
{
    m_frames = std::min(m_max, m_frames + kGrowPeriods * m_period);
    m_quietSinceNs = nowNs;
}

void BufferMixer::QueueSizer::shrinkByClock(qint64 nowNs)
{
    if (nowNs - m_quietSinceNs < kQuietSpellNs)
        return;
    m_quietSinceNs = nowNs;
    m_frames = std::max(m_min, m_frames - m_period);
}

bool BufferMixer::QueueSizer::stalled(bool fed, int framesFed, int queued, qint64 nowNs)
{
    // What the last pass left queued: what it found, and what it added.
    const int left = m_lastQueued + std::max(0, framesFed);
    m_lastQueued = queued;
    if (!fed || m_rate == 0) {
        // Nothing of ours is owed while the queue runs dry on purpose.
        m_taking = m_takenLastPass = m_watching = false;
        return false;
    }
    if (m_takenLastPass) {
        // The endpoint stopped taking with this much queued: with what it
        // took ahead, that is all it has until it takes again.
        m_takenLastPass = false;
        m_deadlineNs = m_takenUntilNs + framesNs(left);
        m_watching = true;
    }
    const int taken = left - queued;
    if (taken > 0) {
        // Taken ahead of the time gone by, but never more than the whole
        // buffer ahead: an endpoint whose clock runs a little fast would
        // otherwise seem to hold more and more over the hours.
        const qint64 from = m_taking ? std::max(m_takenUntilNs, nowNs) : nowNs;
        m_takenUntilNs = std::min(from + framesNs(taken), nowNs + framesNs(m_max));
        m_taking = m_takenLastPass = true;
        return false;
    }
    if (!m_watching || nowNs <= m_deadlineNs)
        return false;
    // One stall, one growth: the watch starts again at the next take.
    m_taking = m_watching = false;
    return true;
}

int BufferMixer::QueueSizer::update(bool fed, int framesFed, quint64 underruns, int queued, qint64 nowNs)
{
    if (!m_clockStarted) {
        m_clockStarted = true;
        m_quietSinceNs = nowNs;
    }
    const bool underrun = underruns > m_underruns;
    m_underruns = underruns;
    const bool stall = stalled(fed, framesFed, queued, nowNs);
    if (fed && (underrun || stall))
        grow(nowNs);
    else
        shrinkByClock(nowNs);
    return m_frames;
}

BufferMixer::Result BufferMixer::open(std::unique_ptr<AudioOutput> output)
{
    close();
    if (m_abandoned)
        return ErrGeneric;
    if (!output)
        return ErrNoDriver;
    const AudioOutputConfig& c = output->config();
    if (c.format != SampleFormat::S16 || c.channels != kChannels || c.rate != kRate || c.bufferFrames < 1)
        return ErrInvalidParam;
    m_output = std::move(output);
    m_lost.store(false, std::memory_order_release);
    m_queueFrames.store(startQueueFrames(*m_output), std::memory_order_relaxed);
    m_queueGrowths.store(0, std::memory_order_relaxed);
    return Ok;
}

BufferMixer::Result BufferMixer::start()
{
    if (!m_output)
        return ErrUninitialized;
    if (isRunning())
        return Ok;
    if (m_output->isDeviceLost())
        return ErrBufferLost;
    // The endpoint plays what is queued before it starts: begin with silence.
    const int fill = queueFrames() - std::max(0, m_output->padding());
    if (fill > 0 && m_output->getBuffer(fill))
        m_output->releaseBuffer(fill, true);
    if (!m_output->start())
        return ErrGeneric;
    m_running = std::make_shared<std::atomic<bool>>(true);
    m_thread = std::make_unique<RenderThread>();
    if (!m_thread->start(QStringLiteral("tr-bufmix"), [this] { renderLoop(); })) {
        m_running->store(false);
        m_thread.reset();
        m_output->stop();
        return ErrOutOfMemory;
    }
    return Ok;
}

bool BufferMixer::isRunning() const
{
    return m_thread && m_thread->isStarted() && m_running->load(std::memory_order_acquire);
}

bool BufferMixer::isOutputLost() const
{
    return m_lost.load(std::memory_order_acquire) || (m_output && m_output->isDeviceLost());
}

void BufferMixer::close()
{
    if (m_thread) {
        m_running->store(false, std::memory_order_release);
        if (m_output)
            m_output->wake();
        if (!m_thread->joinOrDetach(2000))
            m_abandoned = true; // the loop may still touch this mixer: never free it
        m_thread.reset();
    }
    if (m_output) {
        m_output->stop();
        if (m_abandoned)
            (void)m_output.release();
        else
            m_output.reset();
    }
}

bool BufferMixer::anyVoicePlaying()
{
    // Read as a pass reads the list, so the owning thread frees nothing under it.
    const quint64 pass = m_passBegin.fetch_add(1, std::memory_order_seq_cst) + 1;
    const ActiveList* list = m_published.load(std::memory_order_seq_cst);
    bool playing = false;
    if (list) {
        for (const Buffer* b : list->items) {
            if (b->state.load(std::memory_order_acquire) & kPlayingBit) {
                playing = true;
                break;
            }
        }
    }
    m_passEnd.store(pass, std::memory_order_seq_cst);
    return playing;
}

int BufferMixer::startQueueFrames(const AudioOutput& out)
{
    const int periods = out.feedsSoundServer() ? kServerQueuePeriods : kBufferPeriods;
    return std::min(out.bufferFrames(), out.periodFrames() * periods);
}

void BufferMixer::renderLoop()
{
    AudioOutput* out = m_output.get();
    const std::shared_ptr<std::atomic<bool>> running = m_running;
    const bool card = out->backend() == AudioOutput::Backend::Alsa;
    // Only a real endpoint (a card, or a sound server through its plugin)
    // is watched for stalls: the null and manual outputs take what they are
    // given at their own pace.
    QueueSizer queue(out->periodFrames(), startQueueFrames(*out), out->bufferFrames(), card ? out->rate() : 0);
    // Only a sound card idles with an empty queue: the null and manual
    // outputs take what they are given at their own pace.
    const bool idles = card && kIdleQueueFrames < queue.frames();
    const int capacity = out->bufferFrames();
    // After a top-up the queue is full: the next look is about a period on.
    const int periodMs = std::max(kTopUpWaitMs, out->periodFrames() * 1000 / out->rate());
    bool idle = false;
    int fed = 0;
    while (running->load(std::memory_order_acquire)) {
        // A sound card wakes its writer whenever a period of its buffer is
        // free. A queue kept shorter than the buffer leaves that much free
        // all the time, so the loop tops it up by the clock instead of
        // spinning on a device that is always ready.
        const bool topUp = card && !idle && queue.frames() < capacity;
        const AudioOutput::WaitResult r = idle    ? out->waitForWake(kIdleWaitMs)
                                          : topUp ? out->waitForWake(fed > 0 ? periodMs : kTopUpWaitMs)
                                                  : out->waitForPeriod(100);
        if (!running->load(std::memory_order_acquire))
            break;
        if (r == AudioOutput::WaitResult::DeviceLost) {
            m_lost.store(true, std::memory_order_release);
            break;
        }
        const int padding = out->padding();
        if (padding < 0) {
            m_lost.store(true, std::memory_order_release);
            break;
        }
        // Read after padding(), which is where a sound server's stream
        // counts the queue it found empty.
        const int before = queue.frames();
        const int target = queue.update(!idle, fed, out->underrunCount(), padding, MonoClock::ns());
        if (target != before) {
            m_queueFrames.store(target, std::memory_order_relaxed);
            if (target > before)
                m_queueGrowths.fetch_add(1, std::memory_order_relaxed);
        }
        fed = 0;
        idle = idles && !anyVoicePlaying();
        const int frames = (idle ? kIdleQueueFrames : target) - padding;
        if (frames <= 0 || (topUp && frames < out->periodFrames() / 2))
            continue;
        void* dst = out->getBuffer(frames);
        if (!dst)
            continue;
        renderBlock(static_cast<qint16*>(dst), frames);
        fed = frames;
        if (!out->releaseBuffer(frames, false)) {
            m_lost.store(true, std::memory_order_release);
            break;
        }
    }
    running->store(false, std::memory_order_release);
}
