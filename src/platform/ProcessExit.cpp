#include "ProcessExit.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <system_error>
#include <thread>

namespace ProcessExit {

namespace {
std::atomic<int> g_exitCode{0};
std::atomic<bool> g_bounded{false};

// Written with write(2) alone: whatever holds the process may hold a lock of
// the C library's streams or of the log.
void tellEndingNow()
{
    static const char kLine[] =
        "[Shutdown] the exit did not finish in time (the sound server does not answer?): ending now\n";
    const ssize_t written = ::write(STDERR_FILENO, kLine, std::strlen(kLine));
    (void)written;
}
} // namespace

void endWithin(int boundMs)
{
    if (g_bounded.exchange(true))
        return;
    try {
        std::thread([boundMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(boundMs));
            tellEndingNow();
            // Not exit(): the thread that is held may be inside the
            // destructors exit() would run again, or hold their locks.
            std::_Exit(g_exitCode.load());
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the exit goes on unbounded, as it would have.
        g_bounded.store(false);
    }
}

void noteExitCode(int rc)
{
    g_exitCode.store(rc);
}

} // namespace ProcessExit
