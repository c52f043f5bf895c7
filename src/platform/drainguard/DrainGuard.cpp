#include "DrainGuard.h"

#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <utility>

namespace {

// A drain passed on with our own answer function; its ticket is what the
// server's answer carries back. A free entry has ticket 0.
struct Waiting
{
    std::uint64_t ticket = 0;
    pa_stream* stream = nullptr;
    pa_stream_success_cb_t answer = nullptr;
    void* userdata = nullptr;
};

// A fixed table: nothing here allocates or frees, so an answer that comes
// while the program exits finds it whole. Far more than are ever waiting
// (one per output that ran dry and has not heard back); a drain that finds
// it full is passed on unguarded.
constexpr int kTable = 512;
Waiting g_waiting[kTable];
std::mutex g_mx;
std::uint64_t g_nextTicket = 1;
int g_count = 0;
std::atomic<std::uint64_t> g_guarded{0};
std::atomic<std::uint64_t> g_dropped{0};

// The media players' streams, by the sink they were connected to, and
// whether what they write is made silent. Qt's sound-server output names
// each of its streams "QtmPulseStream-..."; a media player's is made on its
// audio render thread ("AudioRenderThread", cut to the 15 characters a
// thread's name holds), which tells it from an output the program opens
// itself. Also a fixed table: a write looks in it
// without a lock and without allocating. A stream's entry is struck when it
// is disconnected, or when its address is reused by a new stream; a player
// stream that finds the table full is never hushed.
constexpr int kStreams = 256;
constexpr int kDeviceChars = 128;
struct PlayerStream
{
    std::atomic<pa_stream*> stream{nullptr};
    std::uint64_t serial = 0;               // order of connection; 0: not connected yet
    char device[kDeviceChars] = {};         // the sink asked for; empty: the server's choice
    pa_threaded_mainloop* loop = nullptr;   // the loop of the stream's connection, when known
    const void* owner = nullptr;            // what the owner hook said on the thread that made it
    std::atomic<bool> hushed{false};
    bool flushAsked = false;                // handed to the flusher (under g_streamsMx)
    bool flushed = false;                   // under the connection's lock
    void* begun = nullptr;                  // the area the writer has from pa_stream_begin_write
    std::size_t begunBytes = 0;
    // The last blocks it sent, in the client library's shared memory, which
    // the server reads only as it plays them (the writer's own, under the
    // connection's lock).
    struct Sent
    {
        void* at = nullptr;
        std::size_t bytes = 0;
        std::int64_t ms = 0;                // when, on the monotonic clock
    };
    static constexpr int kSent = 128;       // about 2.5 s of a player's 20 ms writes
    Sent sent[kSent];
    int nextSent = 0;
    std::int64_t silenceSinceMs = 0;        // blocks sent since then are silenced at the hush; 0: none
};
PlayerStream g_streams[kStreams];
std::mutex g_streamsMx;                     // taken to note, connect, strike and hush; never by a write
std::uint64_t g_nextSerial = 1;
std::atomic<std::uint64_t> g_hushedBytes{0};
// Silence to write in place of a hushed stream's sound (signed and float
// samples only are noted, for which zero is silence).
constexpr std::size_t kSilence = 16384;
const char g_silence[kSilence] = {};
std::atomic<DrainGuard::OwnerFn> g_ownerOf{nullptr};
constexpr const char kPlayerStreamName[] = "QtmPulseStream-";
constexpr const char kPlayerThreadName[] = "AudioRenderThre";

// Which loop each connection runs on: the loops' interfaces as they were
// asked for, and the interface each connection was made with. Fixed tables
// too; a connection they have no room for is not known, and its streams are
// flushed only when they write again.
constexpr int kLoops = 32;
struct LoopOf
{
    const void* key = nullptr;              // an interface, or a connection
    const void* value = nullptr;            // its loop, or its interface
};
LoopOf g_loops[kLoops];                     // interface -> threaded loop
LoopOf g_contexts[kLoops];                  // connection -> interface

using DrainFn = pa_operation* (*)(pa_stream*, pa_stream_success_cb_t, void*);
using DisconnectFn = int (*)(pa_stream*);
using NewFn = pa_stream* (*)(pa_context*, const char*, const pa_sample_spec*, const pa_channel_map*);
using NewWithPropsFn = pa_stream* (*)(pa_context*, const char*, const pa_sample_spec*, const pa_channel_map*,
                                      pa_proplist*);
using ConnectFn = int (*)(pa_stream*, const char*, const pa_buffer_attr*, pa_stream_flags_t, const pa_cvolume*,
                          pa_stream*);
using BeginWriteFn = int (*)(pa_stream*, void**, std::size_t*);
using WriteFn = int (*)(pa_stream*, const void*, std::size_t, pa_free_cb_t, std::int64_t, pa_seek_mode_t);
using FlushFn = pa_operation* (*)(pa_stream*, pa_stream_success_cb_t, void*);
using UnrefFn = void (*)(pa_operation*);
using GetApiFn = pa_mainloop_api* (*)(pa_threaded_mainloop*);
using ContextNewFn = pa_context* (*)(pa_mainloop_api*, const char*);
using ContextNewPropsFn = pa_context* (*)(pa_mainloop_api*, const char*, const pa_proplist*);
using LoopLockFn = void (*)(pa_threaded_mainloop*);

// The client library's own function. A library loaded by a plugin (ALSA's
// sound-server plugin loads it for itself alone) is not in the program's
// lookup, so it is asked by name first; a caller of these functions has
// always loaded it by then.
template<typename Fn>
Fn next(const char* name)
{
    if (void* lib = dlopen("libpulse.so.0", RTLD_NOW | RTLD_NOLOAD)) {
        void* fn = dlsym(lib, name);
        dlclose(lib);
        if (fn)
            return reinterpret_cast<Fn>(fn);
    }
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

DrainFn realDrain()
{
    static const DrainFn fn = next<DrainFn>("pa_stream_drain");
    return fn;
}

DisconnectFn realDisconnect()
{
    static const DisconnectFn fn = next<DisconnectFn>("pa_stream_disconnect");
    return fn;
}

void* ticketData(std::uint64_t ticket)
{
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(ticket));
}

// Notes a drain; 0 when the table is full.
std::uint64_t note(pa_stream* s, pa_stream_success_cb_t answer, void* userdata)
{
    std::lock_guard lock(g_mx);
    for (Waiting& w : g_waiting) {
        if (w.ticket == 0) {
            w = {g_nextTicket++, s, answer, userdata};
            ++g_count;
            return w.ticket;
        }
    }
    return 0;
}

// Takes a drain's note out of the table; false when it was struck.
bool take(std::uint64_t ticket, Waiting* out)
{
    std::lock_guard lock(g_mx);
    for (Waiting& w : g_waiting) {
        if (w.ticket == ticket) {
            *out = w;
            w = {};
            --g_count;
            return true;
        }
    }
    return false;
}

void strike(pa_stream* s)
{
    std::lock_guard lock(g_mx);
    for (Waiting& w : g_waiting) {
        if (w.ticket != 0 && w.stream == s) {
            w = {};
            --g_count;
        }
    }
}

// The server's answer, on the connection's thread. The client library holds
// its lock while it runs, as the asker's disconnect does, so a stream cannot
// be let go between the look and the call.
void answered(pa_stream* s, int success, void* data)
{
    Waiting w;
    if (!take(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(data)), &w)) {
        g_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    w.answer(s, success, w.userdata);
}


// ---- the players' streams -------------------------------------------------

PlayerStream* findStream(const pa_stream* s)
{
    if (!s)
        return nullptr;
    for (PlayerStream& p : g_streams)
        if (p.stream.load(std::memory_order_acquire) == s)
            return &p;
    return nullptr;
}

// Under g_streamsMx.
void strikeStream(const pa_stream* s)
{
    if (PlayerStream* p = findStream(s)) {
        p->hushed.store(false, std::memory_order_relaxed);
        p->stream.store(nullptr, std::memory_order_release);
    }
}

// Under g_streamsMx.
void remember(LoopOf (&table)[kLoops], const void* key, const void* value)
{
    if (!key)
        return;
    LoopOf* free = nullptr;
    for (LoopOf& l : table) {
        if (l.key == key) {
            l.value = value;
            return;
        }
        if (!l.key && !free)
            free = &l;
    }
    if (free)
        *free = {key, value};
}

const void* lookUp(const LoopOf (&table)[kLoops], const void* key)
{
    for (const LoopOf& l : table)
        if (key && l.key == key)
            return l.value;
    return nullptr;
}

void startFlusher();

bool silentAtZero(const pa_sample_spec* ss)
{
    return ss && ss->format != PA_SAMPLE_U8 && ss->format != PA_SAMPLE_ALAW && ss->format != PA_SAMPLE_ULAW;
}

bool startsWith(const char* text, const char* prefix)
{
    return text && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool madeByPlayer(const char* name)
{
    char thread[16] = {};
    return startsWith(name, kPlayerStreamName) && pthread_getname_np(pthread_self(), thread, sizeof thread) == 0
           && startsWith(thread, kPlayerThreadName);
}

void noteStream(pa_stream* s, pa_context* c, const char* name, const pa_sample_spec* ss)
{
    const bool player = s && silentAtZero(ss) && madeByPlayer(name);
    const DrainGuard::OwnerFn ownerOf = g_ownerOf.load(std::memory_order_acquire);
    const void* owner = player && ownerOf ? ownerOf() : nullptr;
    std::lock_guard lock(g_streamsMx);
    strikeStream(s);   // an address let go unnoticed and given out again
    if (!player)
        return;
    for (PlayerStream& p : g_streams) {
        if (p.stream.load(std::memory_order_relaxed) == nullptr) {
            p.serial = 0;
            p.device[0] = '\0';
            p.loop = static_cast<pa_threaded_mainloop*>(const_cast<void*>(lookUp(g_loops, lookUp(g_contexts, c))));
            p.owner = owner;
            p.flushAsked = false;
            p.flushed = false;
            p.silenceSinceMs = 0;
            p.nextSent = 0;
            for (PlayerStream::Sent& b : p.sent)
                b = {};
            p.begun = nullptr;
            p.begunBytes = 0;
            p.hushed.store(false, std::memory_order_relaxed);
            p.stream.store(s, std::memory_order_release);
            startFlusher();
            return;
        }
    }
}

void noteConnect(pa_stream* s, const char* device)
{
    std::lock_guard lock(g_streamsMx);
    if (PlayerStream* p = findStream(s)) {
        p->serial = g_nextSerial++;
        std::strncpy(p->device, device ? device : "", kDeviceChars - 1);
        p->device[kDeviceChars - 1] = '\0';
    }
}

std::int64_t monotonicMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// What the stream sent since the server stopped answering is still in the
// client library's shared memory, unread: the server takes each block only
// as it plays it, and while it stalls it neither plays nor lets any go, so
// none of that memory has been handed out again. It is made silent where
// it lies. Under the connection's lock.
void silenceSent(PlayerStream& p)
{
    if (p.silenceSinceMs <= 0)
        return;
    for (PlayerStream::Sent& b : p.sent) {
        if (b.at && b.ms >= p.silenceSinceMs)
            std::memset(b.at, 0, b.bytes);
        b = {};
    }
}

// Sends a player stream's sound from a block of the client library's own
// (pa_stream_begin_write), so that it can still be silenced once sent; the
// writer's own area is sent as it is. Blocks the library cannot give are
// sent as the caller asked.
int sendNoted(PlayerStream& p, pa_stream* s, const void* data, std::size_t nbytes, pa_free_cb_t freeCb,
              std::int64_t offset, pa_seek_mode_t seek)
{
    static const WriteFn write = next<WriteFn>("pa_stream_write");
    static const BeginWriteFn begin = next<BeginWriteFn>("pa_stream_begin_write");
    const std::int64_t now = monotonicMs();
    const auto note = [&p, now](void* at, std::size_t bytes) {
        p.sent[p.nextSent] = {at, bytes, now};
        p.nextSent = (p.nextSent + 1) % PlayerStream::kSent;
    };
    const char* at = static_cast<const char*>(data);
    const char* begun = static_cast<const char*>(std::exchange(p.begun, nullptr));
    if (begun && at >= begun && at + nbytes <= begun + p.begunBytes) {
        note(const_cast<char*>(at), nbytes);
        return write(s, data, nbytes, freeCb, offset, seek);
    }
    if (freeCb || !begin)
        return write(s, data, nbytes, freeCb, offset, seek);
    int result = 0;
    std::size_t done = 0;
    while (done < nbytes && result == 0) {
        void* block = nullptr;
        std::size_t room = nbytes - done;
        if (begin(s, &block, &room) != 0 || !block || room == 0)
            break;
        room = std::min(room, nbytes - done);
        std::memcpy(block, at + done, room);
        note(block, room);
        result = write(s, block, room, nullptr, done == 0 ? offset : 0, done == 0 ? seek : PA_SEEK_RELATIVE);
        done += room;
    }
    if (result == 0 && done < nbytes)
        result = write(s, at + done, nbytes - done, nullptr, done == 0 ? offset : 0,
                       done == 0 ? seek : PA_SEEK_RELATIVE);
    return result;
}

// The flusher: a thread of our own that drops what the server holds of the
// hushed streams as soon as they are hushed, while the server may still be
// stalled, so that the flush reaches it right behind what the stream sent
// before the stop and before anything sent after. It takes the connection's
// lock, which the window's thread must never wait for. Its mutex and
// condition are never destroyed: it may still wait on them as the program
// exits.
std::mutex& flushMx()
{
    static std::mutex* mx = new std::mutex;
    return *mx;
}

std::condition_variable& flushWake()
{
    static std::condition_variable* cv = new std::condition_variable;
    return *cv;
}

bool g_flushWanted = false;                 // under flushMx()

// Under the connection's lock: a hushed stream's sound sent and still held
// by the server is silenced where it lies and the stream flushed, once.
void emptyOnce(PlayerStream& p, pa_stream* s)
{
    static const FlushFn flush = next<FlushFn>("pa_stream_flush");
    static const UnrefFn unref = next<UnrefFn>("pa_operation_unref");
    if (std::exchange(p.flushed, true))
        return;
    silenceSent(p);
    if (pa_operation* op = flush ? flush(s, nullptr, nullptr) : nullptr; op && unref)
        unref(op);
}

void flushHushed()
{
    static const LoopLockFn lockLoop = next<LoopLockFn>("pa_threaded_mainloop_lock");
    static const LoopLockFn unlockLoop = next<LoopLockFn>("pa_threaded_mainloop_unlock");
    struct Job
    {
        pa_stream* stream;
        pa_threaded_mainloop* loop;
    };
    Job jobs[kStreams];
    int count = 0;
    {
        std::lock_guard lock(g_streamsMx);
        for (PlayerStream& p : g_streams) {
            pa_stream* s = p.stream.load(std::memory_order_relaxed);
            if (s && p.loop && p.hushed.load(std::memory_order_relaxed) && !std::exchange(p.flushAsked, true))
                jobs[count++] = {s, p.loop};
        }
    }
    if (!lockLoop || !unlockLoop)
        return;
    for (int i = 0; i < count; ++i) {
        // Under the connection's lock the stream cannot be disconnected; one
        // disconnected before it was taken is no longer in the table.
        lockLoop(jobs[i].loop);
        PlayerStream* p = nullptr;
        {
            std::lock_guard lock(g_streamsMx);
            p = findStream(jobs[i].stream);
        }
        if (p && p->hushed.load(std::memory_order_relaxed))
            emptyOnce(*p, jobs[i].stream);
        unlockLoop(jobs[i].loop);
    }
}

void runFlusher()
{
    for (;;) {
        {
            std::unique_lock lock(flushMx());
            flushWake().wait(lock, [] { return g_flushWanted; });
            g_flushWanted = false;
        }
        flushHushed();
    }
}

// Started with the first player stream, on the thread that makes it: the
// window's thread never starts it.
void startFlusher()
{
    static std::once_flag started;
    std::call_once(started, [] { std::thread(runFlusher).detach(); });
}

void wakeFlusher()
{
    {
        std::lock_guard lock(flushMx());
        g_flushWanted = true;
    }
    flushWake().notify_one();
}

// Silence in place of a hushed stream's sound: written into the area the
// writer had from the library when that is where its sound is, else written
// from our own silence.
int writeSilence(PlayerStream& p, pa_stream* s, const void* data, std::size_t nbytes, pa_free_cb_t freeCb,
                 std::int64_t offset, pa_seek_mode_t seek)
{
    static const WriteFn write = next<WriteFn>("pa_stream_write");
    // What the server still holds of it goes first (the flusher had no loop
    // to do it with, or has not come to it yet).
    emptyOnce(p, s);
    g_hushedBytes.fetch_add(nbytes, std::memory_order_relaxed);
    const char* at = static_cast<const char*>(data);
    const char* begun = static_cast<const char*>(p.begun);
    if (begun && at >= begun && at + nbytes <= begun + p.begunBytes) {
        p.begun = nullptr;
        std::memset(const_cast<char*>(at), 0, nbytes);
        return write(s, data, nbytes, freeCb, offset, seek);
    }
    p.begun = nullptr;
    int result = 0;
    for (std::size_t done = 0; done < nbytes && result == 0;) {
        const std::size_t n = std::min(kSilence, nbytes - done);
        result = write(s, g_silence, n, nullptr, done == 0 ? offset : 0, done == 0 ? seek : PA_SEEK_RELATIVE);
        done += n;
    }
    if (freeCb)
        freeCb(const_cast<void*>(data));
    return result;
}

} // namespace

extern "C" {

__attribute__((visibility("default"))) pa_operation* pa_stream_drain(pa_stream* s, pa_stream_success_cb_t cb,
                                                                     void* userdata)
{
    const DrainFn drain = realDrain();
    if (!drain)
        return nullptr;
    if (!cb || !userdata)
        return drain(s, cb, userdata);
    const std::uint64_t ticket = note(s, cb, userdata);
    if (ticket == 0)
        return drain(s, cb, userdata);
    g_guarded.fetch_add(1, std::memory_order_relaxed);
    pa_operation* op = drain(s, answered, ticketData(ticket));
    if (!op) {
        Waiting unused;
        take(ticket, &unused);
    }
    return op;
}

__attribute__((visibility("default"))) int pa_stream_disconnect(pa_stream* s)
{
    strike(s);
    {
        std::lock_guard lock(g_streamsMx);
        strikeStream(s);
    }
    const DisconnectFn disconnect = realDisconnect();
    return disconnect ? disconnect(s) : -1;
}


__attribute__((visibility("default"))) pa_mainloop_api* pa_threaded_mainloop_get_api(pa_threaded_mainloop* m)
{
    static const GetApiFn get = next<GetApiFn>("pa_threaded_mainloop_get_api");
    pa_mainloop_api* api = get ? get(m) : nullptr;
    std::lock_guard lock(g_streamsMx);
    remember(g_loops, api, m);
    return api;
}

__attribute__((visibility("default"))) pa_context* pa_context_new(pa_mainloop_api* api, const char* name)
{
    static const ContextNewFn make = next<ContextNewFn>("pa_context_new");
    pa_context* c = make ? make(api, name) : nullptr;
    std::lock_guard lock(g_streamsMx);
    remember(g_contexts, c, api);
    return c;
}

__attribute__((visibility("default"))) pa_context* pa_context_new_with_proplist(pa_mainloop_api* api, const char* name,
                                                                                const pa_proplist* props)
{
    static const ContextNewPropsFn make = next<ContextNewPropsFn>("pa_context_new_with_proplist");
    pa_context* c = make ? make(api, name, props) : nullptr;
    std::lock_guard lock(g_streamsMx);
    remember(g_contexts, c, api);
    return c;
}

__attribute__((visibility("default"))) pa_stream* pa_stream_new(pa_context* c, const char* name,
                                                                const pa_sample_spec* ss, const pa_channel_map* map)
{
    static const NewFn make = next<NewFn>("pa_stream_new");
    pa_stream* s = make ? make(c, name, ss, map) : nullptr;
    noteStream(s, c, name, ss);
    return s;
}

__attribute__((visibility("default"))) pa_stream* pa_stream_new_with_proplist(pa_context* c, const char* name,
                                                                              const pa_sample_spec* ss,
                                                                              const pa_channel_map* map,
                                                                              pa_proplist* props)
{
    static const NewWithPropsFn make = next<NewWithPropsFn>("pa_stream_new_with_proplist");
    pa_stream* s = make ? make(c, name, ss, map, props) : nullptr;
    noteStream(s, c, name, ss);
    return s;
}

__attribute__((visibility("default"))) int pa_stream_connect_playback(pa_stream* s, const char* dev,
                                                                      const pa_buffer_attr* attr,
                                                                      pa_stream_flags_t flags,
                                                                      const pa_cvolume* volume, pa_stream* sync)
{
    static const ConnectFn connect = next<ConnectFn>("pa_stream_connect_playback");
    noteConnect(s, dev);
    return connect ? connect(s, dev, attr, flags, volume, sync) : -1;
}

__attribute__((visibility("default"))) int pa_stream_begin_write(pa_stream* s, void** data, std::size_t* nbytes)
{
    static const BeginWriteFn begin = next<BeginWriteFn>("pa_stream_begin_write");
    const int result = begin ? begin(s, data, nbytes) : -1;
    if (PlayerStream* p = findStream(s); p && result == 0 && data && nbytes) {
        p->begun = *data;
        p->begunBytes = *nbytes;
    }
    return result;
}

__attribute__((visibility("default"))) int pa_stream_write(pa_stream* s, const void* data, std::size_t nbytes,
                                                           pa_free_cb_t freeCb, std::int64_t offset,
                                                           pa_seek_mode_t seek)
{
    static const WriteFn write = next<WriteFn>("pa_stream_write");
    if (!write)
        return -1;
    PlayerStream* p = findStream(s);
    if (p && p->hushed.load(std::memory_order_acquire) && data && nbytes > 0)
        return writeSilence(*p, s, data, nbytes, freeCb, offset, seek);
    if (p && data && nbytes > 0)
        return sendNoted(*p, s, data, nbytes, freeCb, offset, seek);
    return write(s, data, nbytes, freeCb, offset, seek);
}

} // extern "C"

namespace DrainGuard {

std::uint64_t guardedDrains()
{
    return g_guarded.load(std::memory_order_relaxed);
}

std::uint64_t droppedAnswers()
{
    return g_dropped.load(std::memory_order_relaxed);
}

int waiting()
{
    std::lock_guard lock(g_mx);
    return g_count;
}

namespace {

// Hushes the connected player streams that picks chooses, not hushed yet.
template<typename Picks>
int hushWhere(Picks picks, std::int64_t silenceSinceMs)
{
    int hushed = 0;
    {
        std::lock_guard lock(g_streamsMx);
        for (PlayerStream& p : g_streams) {
            if (!p.stream.load(std::memory_order_relaxed) || p.serial == 0)
                continue;
            if (!picks(p) || p.hushed.load(std::memory_order_relaxed))
                continue;
            p.silenceSinceMs = silenceSinceMs;
            p.hushed.store(true, std::memory_order_release);
            ++hushed;
        }
    }
    if (hushed > 0)
        wakeFlusher();
    return hushed;
}

} // namespace

int hushPlayerStreams(const char* device, std::int64_t silenceSinceMs)
{
    return hushWhere([device](const PlayerStream& p) { return !device || std::strcmp(device, p.device) == 0; },
                     silenceSinceMs);
}

void setOwnerHook(OwnerFn ownerOf)
{
    g_ownerOf.store(ownerOf, std::memory_order_release);
}

int playerStreamOwners(const void** owners, int max)
{
    int count = 0;
    std::lock_guard lock(g_streamsMx);
    for (const PlayerStream& p : g_streams) {
        if (count >= max)
            break;
        if (!p.stream.load(std::memory_order_relaxed) || p.serial == 0 || !p.owner
            || p.hushed.load(std::memory_order_relaxed))
            continue;
        if (std::find(owners, owners + count, p.owner) == owners + count)
            owners[count++] = p.owner;
    }
    return count;
}

int hushStreamsOf(const void* owner, std::int64_t silenceSinceMs)
{
    return owner ? hushWhere([owner](const PlayerStream& p) { return p.owner == owner; }, silenceSinceMs) : 0;
}

std::uint64_t hushedBytes()
{
    return g_hushedBytes.load(std::memory_order_relaxed);
}

} // namespace DrainGuard
