#include "CrashSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cxxabi.h>
#include <cstdlib>
#include <dlfcn.h>
#include <exception>
#include <execinfo.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <ucontext.h>
#include <unistd.h>

namespace CrashSignals {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr size_t kAltStackSize = 256 * 1024;
// A fault this close to the stack pointer means the stack ran out: the memory
// just around the stack pointer is always mapped while the stack has room.
constexpr uintptr_t kStackReach = 64 * 1024;

Handler g_handler = nullptr;
std::atomic<bool> g_reporting{false};
// Set by the terminate handler before it aborts; the abort's report then
// names the exception it wrote here.
std::atomic<bool> g_terminating{false};
char g_exceptionText[512];

void readContext(const void* ucontext, Fault& f, bool* haveErr, uint64_t* err)
{
    *haveErr = false;
    *err = 0;
    if (!ucontext)
        return;
    const auto* uc = static_cast<const ucontext_t*>(ucontext);
#if defined(__x86_64__)
    f.pc = uintptr_t(uc->uc_mcontext.gregs[REG_RIP]);
    f.sp = uintptr_t(uc->uc_mcontext.gregs[REG_RSP]);
    // The page-fault error code: bit 1 is set for a write.
    *err = uint64_t(uc->uc_mcontext.gregs[REG_ERR]);
    *haveErr = true;
#elif defined(__aarch64__)
    f.pc = uintptr_t(uc->uc_mcontext.pc);
    f.sp = uintptr_t(uc->uc_mcontext.sp);
#else
    (void)uc;
#endif
}

bool nearStackPointer(uintptr_t addr, uintptr_t sp)
{
    if (!sp)
        return false;
    const uintptr_t low = sp > kStackReach ? sp - kStackReach : 0;
    return addr >= low && addr - low <= 2 * kStackReach;
}

struct AltStack
{
    void* mem = nullptr;
    size_t size = 0;
    ~AltStack()
    {
        if (!mem)
            return;
        stack_t ss {};
        ss.ss_flags = SS_DISABLE;
        sigaltstack(&ss, nullptr);
        munmap(mem, size);
    }
};

// "type: message" of the exception being handled, or a note that there is none.
void describeCurrentException(SafeText& t)
{
    const std::exception_ptr current = std::current_exception();
    if (!current) {
        t.add("std::terminate was called without an exception");
        return;
    }
    const std::type_info* type = abi::__cxa_current_exception_type();
    const char* mangled = type ? type->name() : nullptr;
    int status = -1;
    char* plain = mangled ? abi::__cxa_demangle(mangled, nullptr, nullptr, &status) : nullptr;
    t.add(status == 0 && plain ? plain : (mangled ? mangled : "unknown type"));
    free(plain);
    try {
        std::rethrow_exception(current);
    } catch (const std::exception& e) {
        t.add(": ").add(e.what());
    } catch (...) {
    }
}

[[noreturn]] void onTerminate()
{
    // A second thread that terminates meanwhile keeps the first one's text.
    if (!g_terminating.exchange(true)) {
        SafeText t(g_exceptionText, sizeof g_exceptionText);
        describeCurrentException(t);
    }
    abort();
}

extern "C" void onFatalSignal(int signo, siginfo_t* info, void* ucontext)
{
    // A second thread that faults while the first is reporting waits here
    // until the process ends.
    if (g_reporting.exchange(true)) {
        for (;;)
            pause();
    }
    const int sigCode = info ? info->si_code : 0;
    // si_pid is only filled in for a signal that a process sent.
    const int64_t sender = info && sigCode <= 0 ? int64_t(info->si_pid) : 0;
    const Fault f = describe(signo, sigCode, info && sigCode > 0 ? uintptr_t(info->si_addr) : 0, ucontext, sender);
    if (g_handler)
        g_handler(f);

    // Back to the default action: a fault happens again when the instruction
    // is retried and ends the process; a signal that was sent is raised again.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signo, &dfl, nullptr);
    if (!info || info->si_code <= 0)
        raise(signo);
}

} // namespace

Fault describe(int signo, int sigCode, uintptr_t faultAddress, const void* ucontext, int64_t senderPid)
{
    Fault f;
    f.signo = signo;
    f.sigCode = sigCode;
    bool haveErr = false;
    uint64_t err = 0;
    readContext(ucontext, f, &haveErr, &err);

    // SI_USER, SI_QUEUE, SI_TKILL and the like: nothing faulted, a process
    // sent the signal. abort() sends SIGABRT to its own thread.
    const bool sent = sigCode <= 0;
    const bool selfAbort = signo == SIGABRT && (!sent || senderPid == int64_t(getpid()));
    if (sent && !selfAbort) {
        f.code = kSentSignal;
        f.senderPid = senderPid;
        return f;
    }

    switch (signo) {
    case SIGSEGV:
    case SIGBUS:
        f.code = kAccessViolation;
        f.address = faultAddress;
        f.accessKind = (haveErr && (err & 2)) ? 1 : 0;
        if (signo == SIGSEGV && nearStackPointer(faultAddress, f.sp))
            f.code = kStackOverflow;
        break;
    case SIGILL:
        f.code = (sigCode == ILL_PRVOPC || sigCode == ILL_PRVREG) ? kPrivilegedInstruction : kIllegalInstruction;
        break;
    case SIGFPE:
        switch (sigCode) {
        case FPE_INTDIV: f.code = kIntegerDivideByZero; break;
        case FPE_INTOVF: f.code = kIntegerOverflow; break;
        case FPE_FLTDIV: f.code = kFloatDivideByZero; break;
        case FPE_FLTOVF: f.code = kFloatOverflow; break;
        case FPE_FLTUND: f.code = kFloatUnderflow; break;
        case FPE_FLTRES: f.code = kFloatInexactResult; break;
        default: f.code = kFloatInvalidOperation; break;
        }
        break;
    case SIGABRT:
        if (g_terminating.load()) {
            f.code = kUncaughtException;
            f.detail = g_exceptionText;
        } else {
            f.code = kAborted;
        }
        break;
    default:
        break;
    }
    return f;
}

bool armCurrentThread()
{
    thread_local AltStack alt;
    if (alt.mem)
        return true;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t size = kAltStackSize + page;
    void* mem = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (mem == MAP_FAILED)
        return false;
    // A guard page below the alternate stack, so that an overflow of the
    // handler itself faults instead of writing over other memory.
    mprotect(mem, page, PROT_NONE);
    stack_t ss {};
    ss.ss_sp = static_cast<char*>(mem) + page;
    ss.ss_size = kAltStackSize;
    if (sigaltstack(&ss, nullptr) != 0) {
        munmap(mem, size);
        return false;
    }
    alt.mem = mem;
    alt.size = size;
    return true;
}

const char* signalName(int signo)
{
    switch (signo) {
    case SIGSEGV: return "SIGSEGV";
    case SIGBUS: return "SIGBUS";
    case SIGILL: return "SIGILL";
    case SIGFPE: return "SIGFPE";
    case SIGABRT: return "SIGABRT";
    default: return nullptr;
    }
}

void releaseAbort()
{
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGABRT, &dfl, nullptr);
}

bool install(Handler handler)
{
    g_handler = handler;
    // The unwinder and the loader's symbol lookup load and set up what they
    // need on first use; do it now, outside any signal handler.
    void* frames[4];
    backtrace(frames, 4);
    Dl_info di;
    dladdr(reinterpret_cast<void*>(&install), &di);

    bool ok = armCurrentThread();
    struct sigaction sa {};
    sa.sa_sigaction = &onFatalSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int s : kSignals)
        sigaddset(&sa.sa_mask, s);
    for (int s : kSignals)
        ok = sigaction(s, &sa, nullptr) == 0 && ok;
    std::set_terminate(&onTerminate);
    return ok;
}

int captureFrames(const Fault& fault, uintptr_t* frames, int max)
{
    if (max <= 0)
        return 0;
    // The walk starts in this handler; the faulting frame is the one whose
    // address is the faulting instruction. Everything before it is ours.
    void* raw[64];
    const int n = backtrace(raw, 64);
    int start = -1;
    for (int i = 0; i < n; ++i) {
        if (uintptr_t(raw[i]) == fault.pc) {
            start = i;
            break;
        }
    }
    int k = 0;
    if (start < 0) {
        // The unwinder could not get past the signal frame (a jump to a bad
        // address, for example): only the faulting instruction is known.
        if (fault.pc)
            frames[k++] = fault.pc;
        return k;
    }
    for (int i = start; i < n && k < max; ++i)
        frames[k++] = uintptr_t(raw[i]);
    return k;
}

void symbolize(uintptr_t addr, const char** symbol, const char** modulePath)
{
    *symbol = nullptr;
    *modulePath = nullptr;
    Dl_info di;
    if (addr && dladdr(reinterpret_cast<void*>(addr), &di)) {
        if (di.dli_sname && *di.dli_sname)
            *symbol = di.dli_sname;
        if (di.dli_fname && *di.dli_fname)
            *modulePath = di.dli_fname;
    }
}

const char* baseName(const char* path)
{
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool makePath(char* dir)
{
    for (char* p = dir + 1; *p; ++p) {
        if (*p != '/')
            continue;
        *p = '\0';
        mkdir(dir, 0755);
        *p = '/';
    }
    mkdir(dir, 0755);
    struct stat st;
    return stat(dir, &st) == 0 && S_ISDIR(st.st_mode);
}

bool writeFully(int fd, const char* data, size_t len)
{
    while (len > 0) {
        const ssize_t w = write(fd, data, len);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += w;
        len -= size_t(w);
    }
    return true;
}

SafeText& SafeText::add(const char* s)
{
    return add(s, s ? strlen(s) : 0);
}

SafeText& SafeText::add(const char* s, size_t n)
{
    const size_t room = m_cap > m_len + 1 ? m_cap - m_len - 1 : 0;
    if (n > room)
        n = room;
    if (n)
        memcpy(m_buf + m_len, s, n);
    m_len += n;
    terminate();
    return *this;
}

SafeText& SafeText::hex(uint64_t v, int digits)
{
    char tmp[17];
    int n = 0;
    do {
        tmp[16 - n] = "0123456789abcdef"[v & 0xF];
        v >>= 4;
        ++n;
    } while (v && n < 16);
    while (n < digits && n < 16) {
        tmp[16 - n] = '0';
        ++n;
    }
    return add(tmp + 17 - n, size_t(n));
}

SafeText& SafeText::dec(int64_t v, int width, char fill)
{
    char tmp[24];
    int n = 0;
    const bool neg = v < 0;
    uint64_t u = neg ? 0 - uint64_t(v) : uint64_t(v);
    do {
        tmp[23 - n] = char('0' + u % 10);
        u /= 10;
        ++n;
    } while (u);
    if (neg)
        tmp[23 - n++] = '-';
    for (int i = n; i < width; ++i)
        add(fill);
    return add(tmp + 24 - n, size_t(n));
}

} // namespace CrashSignals
