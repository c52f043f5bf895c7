// Logs three operations, then crashes as its first argument says.
#include <QApplication>
#include <QThread>
#include <cfenv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <memory>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "CrashReport.h"
#include "CrashSignals.h"
#include "Modal.h"
#include "OpLog.h"

namespace victim {
volatile int g_zero = 0;
volatile int g_depthLimit = INT_MAX;

__attribute__((noinline)) int nullRead()
{
    volatile int* p = nullptr;
    return *p;
}

__attribute__((noinline)) void writeAt(uintptr_t address)
{
    *reinterpret_cast<volatile int*>(address) = 1;
}

__attribute__((noinline)) int readAt(uintptr_t address)
{
    return *reinterpret_cast<volatile int*>(address);
}

__attribute__((noinline)) int divideByZero()
{
    return 100 / g_zero;
}

__attribute__((noinline)) double floatDivideByZero()
{
    feenableexcept(FE_DIVBYZERO);
    volatile double zero = 0.0;
    return 1.0 / zero;
}

__attribute__((noinline)) int recurse(int depth)
{
    volatile char pad[512];
    pad[0] = char(depth);
    if (depth >= g_depthLimit)
        return pad[0];
    const int r = recurse(depth + 1);
    asm volatile("" : : "r"(pad) : "memory");
    return r + pad[0];
}

__attribute__((noinline)) void illegalInstruction()
{
    __builtin_trap();
}

// Not visibly without return, so the caller's frame stays in its own code.
volatile bool g_abort = true;
__attribute__((noinline)) int abortNow()
{
    if (g_abort)
        abort();
    return 0;
}

// A child process sends signo to this one, once this one has said who the
// sender is; this one waits for it.
void signalFromAnotherProcess(int signo)
{
    int go[2];
    if (pipe(go) != 0)
        return;
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child == 0) {
        char c;
        while (read(go[0], &c, 1) < 0) {
        }
        kill(parent, signo);
        _exit(0);
    }
    printf("sender: %d\n", int(child));
    fflush(stdout);
    (void)!write(go[1], "x", 1);
    waitpid(child, nullptr, 0);
    for (;;)
        pause();
}

__attribute__((noinline)) size_t insideLibc()
{
    const char* volatile text = nullptr;
    return strlen(text);
}
} // namespace victim

int main(int argc, char** argv)
{
    if (CrashReport::handleCrashDialogArgs(argc, argv))
        return 0;
    if (argc < 2)
        return 2;
    const QByteArray mode = argv[1];
    const bool gui = mode == "fatalgui" || mode == "fatalthread";
    std::unique_ptr<QCoreApplication> app(gui ? new QApplication(argc, argv) : new QCoreApplication(argc, argv));
    QCoreApplication::setApplicationName(QStringLiteral("Tarvello Rododu"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tarvello"));
    QCoreApplication::setApplicationVersion(QStringLiteral("2.0.84"));
    CrashReport::install();
    if (gui) {
        // Answers the fatal box headless and says that it was asked.
        Modal::setHandler([](const Modal::Request& r) -> QVariant {
            printf("box: %s|%s\n", qPrintable(r.title), qPrintable(r.text));
            fflush(stdout);
            return 0x00000400; // Ok
        });
    }

    VX_LOG(QStringLiteral("[Victim] first"));
    VX_LOG(QStringLiteral("[Victim] second"));
    VX_LOG(QStringLiteral("[Victim] third: ") + QString::fromLatin1(mode));

    if (mode == "nullread")
        return victim::nullRead();
    if (mode == "lowwrite")
        victim::writeAt(0x10);
    else if (mode == "read4096")
        return victim::readAt(0x1000);
    else if (mode == "write4095")
        victim::writeAt(0xfff);
    else if (mode == "divzero")
        return victim::divideByZero();
    else if (mode == "floatdiv")
        return int(victim::floatDivideByZero());
    else if (mode == "overflow")
        return victim::recurse(0);
    else if (mode == "illegal")
        victim::illegalInstruction();
    else if (mode == "libc")
        return int(victim::insideLibc());
    else if (mode == "thread") {
        std::thread t([] { victim::nullRead(); });
        t.join();
    } else if (mode == "threadoverflow") {
        std::thread t([] {
            CrashSignals::armCurrentThread();
            victim::recurse(0);
        });
        t.join();
    } else if (mode == "abort") {
        return victim::abortNow();
    } else if (mode == "throwthread") {
        std::thread t([] { throw std::runtime_error("boom on a worker"); });
        t.join();
    } else if (mode == "terminatethread") {
        std::thread t([] { std::terminate(); });
        t.join();
    } else if (mode == "sentsegv") {
        victim::signalFromAnotherProcess(SIGSEGV);
    } else if (mode == "sentabrt") {
        victim::signalFromAnotherProcess(SIGABRT);
    } else if (mode == "ringheld") {
        OpLog::withRingHeld([] { victim::nullRead(); });
    } else if (mode == "many") {
        for (int i = 0; i < 70; ++i)
            VX_LOG(QStringLiteral("op %1").arg(i));
        return victim::nullRead();
    } else if (mode == "fatal" || mode == "fatalgui") {
        qFatal("boom %d", 7);
    } else if (mode == "fatalthread") {
        std::thread t([] { qFatal("boom on a worker"); });
        t.join();
    }
    return 3; // did not crash
}
