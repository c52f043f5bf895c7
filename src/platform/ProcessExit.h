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

// What is left to do once the program has decided to end (its windows
// closed, the session and the settings saved) only lets go: engines stop
// their outputs, threads are joined, objects are destroyed. Some of that
// asks the sound server (dropping and closing a stream waits in its client
// plug-in with no bound of its own), and a server that does not answer
// would keep the process for as long as it does not. From the first call
// on, the process ends by itself boundMs later, with the code given to
// noteExitCode (0 until then), if it has not ended before. Later calls
// change nothing. Never call it while anything the user needs is unsaved.
void endWithin(int boundMs);
// The code the process ends with if endWithin's bound ends it.
void noteExitCode(int rc);

} // namespace ProcessExit
