#pragma once
#include <cstddef>
#include <cstdint>

// Fatal processor faults on Linux, described the way the crash report reads
// them: SIGSEGV, SIGBUS, SIGILL, SIGFPE and SIGABRT are caught on an alternate
// signal stack and turned into an exception code, the kind of access and the
// address touched. An uncaught C++ exception (std::terminate) is noted and
// ends in an abort, which reports it. A signal that another process sent is
// told apart from a fault by its si_code and reported with the sender's id.
// Everything here that a handler may call is async-signal-safe once install()
// has run (dladdr and the unwinder are primed there).
namespace CrashSignals {

constexpr uint32_t kAccessViolation = 0xC0000005u;
constexpr uint32_t kStackOverflow = 0xC00000FDu;
constexpr uint32_t kIllegalInstruction = 0xC000001Du;
constexpr uint32_t kPrivilegedInstruction = 0xC0000096u;
constexpr uint32_t kIntegerDivideByZero = 0xC0000094u;
constexpr uint32_t kIntegerOverflow = 0xC0000095u;
constexpr uint32_t kFloatDivideByZero = 0xC000008Eu;
constexpr uint32_t kFloatInexactResult = 0xC000008Fu;
constexpr uint32_t kFloatInvalidOperation = 0xC0000090u;
constexpr uint32_t kFloatOverflow = 0xC0000091u;
constexpr uint32_t kFloatUnderflow = 0xC0000093u;
// The program ended itself with abort().
constexpr uint32_t kAborted = 0x40000015u;
// A C++ exception that nothing caught (std::terminate).
constexpr uint32_t kUncaughtException = 0xE06D7363u;
// A fatal signal sent by a process (kill, sigqueue) rather than raised by a
// fault; senderPid says who.
constexpr uint32_t kSentSignal = 0xE0000051u;

struct Fault
{
    uint32_t code = 0;          // one of the codes above
    int signo = 0;
    int sigCode = 0;            // siginfo's si_code
    uint64_t accessKind = 0;    // access violations: 0 read, 1 write
    uint64_t address = 0;       // access violations: the address touched
    uintptr_t pc = 0;           // the faulting instruction
    uintptr_t sp = 0;           // the stack pointer at the fault
    int64_t senderPid = 0;      // sent signals: the process that sent it
    const char* detail = nullptr; // uncaught exceptions: "type: message"
};

// Called on the faulting thread, on the alternate stack when the thread has
// one. When it returns, the signal's default action ends the process.
using Handler = void (*)(const Fault& fault);

// Installs handler for the five signals and std::terminate, and gives the calling thread an
// alternate stack. Returns false when a signal could not be claimed.
bool install(Handler handler);
// Gives the calling thread an alternate stack of its own, so a stack overflow
// on it still reaches the handler. Threads that may recurse deeply (render
// threads, workers) call it once when they start; it is released when the
// thread ends. Returns false when the stack could not be set up.
bool armCurrentThread();

// Maps a signal onto a fault description. ucontext may be null. senderPid
// counts only for a sent signal (sigCode SI_USER, SI_QUEUE, SI_TKILL, ...).
Fault describe(int signo, int sigCode, uintptr_t faultAddress, const void* ucontext, int64_t senderPid = 0);
// The signal's name ("SIGSEGV"), or null for one not caught here.
const char* signalName(int signo);
// Lets SIGABRT end the process without a report: for an abort that has
// already written its own (a fatal Qt message).
void releaseAbort();

// Up to max frames of the faulting thread, the faulting instruction first.
int captureFrames(const Fault& fault, uintptr_t* frames, int max);
// The exported symbol that holds addr (mangled as linked) and the path of its
// module; either is null when unknown. Pointers stay valid for the process.
void symbolize(uintptr_t addr, const char** symbol, const char** modulePath);
// The part of path after its last '/'.
const char* baseName(const char* path);

// mkdir -p on a writable buffer holding a folder path.
bool makePath(char* dir);
bool writeFully(int fd, const char* data, size_t len);

// Formats text into a fixed buffer without allocating; output that does not
// fit is cut off.
class SafeText
{
public:
    SafeText(char* buf, size_t cap) : m_buf(buf), m_cap(cap) { terminate(); }
    SafeText& add(const char* s);
    SafeText& add(const char* s, size_t n);
    SafeText& add(char c) { return add(&c, 1); }
    // Lower-case hexadecimal, zero-filled to digits.
    SafeText& hex(uint64_t v, int digits);
    // Decimal, right-aligned in width with fill.
    SafeText& dec(int64_t v, int width = 0, char fill = ' ');
    const char* data() const { return m_buf; }
    size_t size() const { return m_len; }

private:
    void terminate() { m_buf[m_len < m_cap ? m_len : m_cap - 1] = '\0'; }
    char* m_buf;
    size_t m_cap;
    size_t m_len = 0;
};

} // namespace CrashSignals
