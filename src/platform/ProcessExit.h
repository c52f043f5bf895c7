#pragma once
// Ends the process once main's own work is done, without the exit-time
// destructors of the libraries' global objects.
//
// Qt 6.4's PulseAudio engine, a global object inside Qt Multimedia,
// disconnects from the sound server in its destructor without holding its
// main loop's lock while the loop's thread still runs. Now and then (about
// one exit in a thousand here) that race crashes or aborts the process after
// main has returned: the program would then raise its crash dialog for a run
// that ended well, and a test that passed would fail. Nothing of ours waits
// for those destructors: the application, the windows and every file are
// closed and saved before main returns, and the managers live to the end.
#include <cstdio>
#include <cstdlib>

namespace ProcessExit {

[[noreturn]] inline void skippingLibraryTeardown(int rc)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers report from the exit handlers: keep them.
    std::exit(rc);
#else
    std::fflush(nullptr);
    std::_Exit(rc);
#endif
}

} // namespace ProcessExit
