#pragma once
#include <functional>

class QObject;

// SIGTERM, SIGHUP and SIGINT (a logout, a shutdown, kill, Ctrl+C) as a
// request to end the program the normal way. The handler only writes the
// signal's number to a pipe; a socket notifier reads it on the thread that
// called install() and calls onRequest from that thread's event loop, where
// anything may be done (close windows, ask questions).
//
// While a request is being handled (a question may be open in a nested event
// loop), the same signal once more ends the process at once by its default
// action, as if nothing had claimed it: a second Ctrl+C or kill insists. A
// signal of another kind joins the request in hand and is only logged: a
// desktop that ends a login session sends SIGTERM and SIGHUP back to back.
// onRequest returns true when the program goes on (the close was refused);
// the next signal is then a new request. When it returns false the program is
// ending: the first signal's kind ends it at once, the others are logged.
namespace TermSignals {

using Request = std::function<bool(int signo)>;

// Claims the three signals; the notifier is a child of context. Returns false
// when the pipe or a signal could not be set up (the default actions then
// stay). Call once, on the GUI thread.
bool install(QObject* context, Request onRequest);

} // namespace TermSignals
