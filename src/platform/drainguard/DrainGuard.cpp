#include "DrainGuard.h"

#include <pulse/stream.h>

#include <atomic>
#include <dlfcn.h>
#include <mutex>

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

using DrainFn = pa_operation* (*)(pa_stream*, pa_stream_success_cb_t, void*);
using DisconnectFn = int (*)(pa_stream*);

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
    const DisconnectFn disconnect = realDisconnect();
    return disconnect ? disconnect(s) : -1;
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

} // namespace DrainGuard
