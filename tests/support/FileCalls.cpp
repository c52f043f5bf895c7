// The C library's file calls, defined in the test program itself so that
// every caller in the process binds to these first (the executable exports
// them, see FileCalls.list), each forwarded to the library's own with
// dlsym(RTLD_NEXT). Neither <fcntl.h> nor <sys/stat.h> is included: their
// declarations (and fortified inline versions) would clash with these.
#include "FileCalls.h"

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<int> g_calls{0};
char g_lastPath[512] = {};

// Only the main thread's calls count: its thread id is the process id.
void note(const char* path)
{
    if (!g_counting.load(std::memory_order_acquire) || gettid() != getpid())
        return;
    g_calls.fetch_add(1, std::memory_order_relaxed);
    if (path) {
        std::strncpy(g_lastPath, path, sizeof g_lastPath - 1);
        g_lastPath[sizeof g_lastPath - 1] = '\0';
    }
}

template <typename Fn>
Fn real(const char* name)
{
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

// The mode argument of an open: present only when the flags ask to create.
constexpr int kCreate = 0100;       // O_CREAT
constexpr int kTmpFile = 020200000; // O_TMPFILE

} // namespace

namespace FileCalls {

void start()
{
    g_calls.store(0, std::memory_order_relaxed);
    g_lastPath[0] = '\0';
    g_counting.store(true, std::memory_order_release);
}

int stop()
{
    g_counting.store(false, std::memory_order_release);
    return g_calls.load(std::memory_order_relaxed);
}

const char* lastPath()
{
    return g_lastPath;
}

} // namespace FileCalls

// A wrapper that counts the call by its path and forwards it unchanged.
#define TR_FORWARD(ret, name, params, pathArg, args)                                                              \
    extern "C" ret name params                                                                                  \
    {                                                                                                           \
        static const auto fn = real<ret(*) params>(#name);                                                      \
        note(pathArg);                                                                                          \
        return fn args;                                                                                         \
    }

TR_FORWARD(int, stat, (const char* p, void* b), p, (p, b))
TR_FORWARD(int, stat64, (const char* p, void* b), p, (p, b))
TR_FORWARD(int, lstat, (const char* p, void* b), p, (p, b))
TR_FORWARD(int, lstat64, (const char* p, void* b), p, (p, b))
TR_FORWARD(int, fstatat, (int d, const char* p, void* b, int f), p, (d, p, b, f))
TR_FORWARD(int, fstatat64, (int d, const char* p, void* b, int f), p, (d, p, b, f))
TR_FORWARD(int, statx, (int d, const char* p, int f, unsigned m, void* b), p, (d, p, f, m, b))
TR_FORWARD(int, __xstat, (int v, const char* p, void* b), p, (v, p, b))
TR_FORWARD(int, __xstat64, (int v, const char* p, void* b), p, (v, p, b))
TR_FORWARD(int, __lxstat, (int v, const char* p, void* b), p, (v, p, b))
TR_FORWARD(int, __lxstat64, (int v, const char* p, void* b), p, (v, p, b))
TR_FORWARD(int, __fxstatat, (int v, int d, const char* p, void* b, int f), p, (v, d, p, b, f))
TR_FORWARD(int, __fxstatat64, (int v, int d, const char* p, void* b, int f), p, (v, d, p, b, f))
TR_FORWARD(int, __open_2, (const char* p, int f), p, (p, f))
TR_FORWARD(int, __open64_2, (const char* p, int f), p, (p, f))
TR_FORWARD(int, __openat_2, (int d, const char* p, int f), p, (d, p, f))
TR_FORWARD(int, __openat64_2, (int d, const char* p, int f), p, (d, p, f))
TR_FORWARD(int, access, (const char* p, int m) noexcept, p, (p, m))
TR_FORWARD(int, faccessat, (int d, const char* p, int m, int f) noexcept, p, (d, p, m, f))
TR_FORWARD(int, euidaccess, (const char* p, int m) noexcept, p, (p, m))
TR_FORWARD(int, eaccess, (const char* p, int m) noexcept, p, (p, m))
TR_FORWARD(FILE*, fopen, (const char* p, const char* m), p, (p, m))
TR_FORWARD(FILE*, fopen64, (const char* p, const char* m), p, (p, m))
TR_FORWARD(DIR*, opendir, (const char* p), p, (p))

#undef TR_FORWARD

// The opens take a mode only when they create.
#define TR_CREATE_MODE(f)                                                                                       \
    unsigned mode = 0;                                                                                          \
    if (f & kCreate || (f & kTmpFile) == kTmpFile) {                                                            \
        va_list ap;                                                                                             \
        va_start(ap, f);                                                                                        \
        mode = va_arg(ap, unsigned);                                                                            \
        va_end(ap);                                                                                             \
    }
#define TR_FORWARD_OPEN(name)                                                                                   \
    extern "C" int name(const char* p, int f, ...)                                                              \
    {                                                                                                           \
        static const auto fn = real<int (*)(const char*, int, ...)>(#name);                                     \
        note(p);                                                                                                \
        TR_CREATE_MODE(f)                                                                                       \
        return fn(p, f, mode);                                                                                  \
    }
#define TR_FORWARD_OPENAT(name)                                                                                 \
    extern "C" int name(int d, const char* p, int f, ...)                                                       \
    {                                                                                                           \
        static const auto fn = real<int (*)(int, const char*, int, ...)>(#name);                                \
        note(p);                                                                                                \
        TR_CREATE_MODE(f)                                                                                       \
        return fn(d, p, f, mode);                                                                               \
    }

TR_FORWARD_OPEN(open)
TR_FORWARD_OPEN(open64)
TR_FORWARD_OPENAT(openat)
TR_FORWARD_OPENAT(openat64)
