#pragma once
#include <QString>
#include <functional>
#include <memory>

// A named thread for audio rendering, standing where a native thread with a
// "Pro Audio" scheduling class would. The priority request is tried in this
// order: SCHED_FIFO (where the user's limits permit), else a raised nice value
// for the thread, else the thread stays as it is. Each distinct outcome is
// written to the log once per process.
//
// Linux has no safe way to kill one thread of a process, so there is no
// terminate: join() waits with a time limit and reports false on time-out;
// the caller then detach()es (logged) and the thread ends whenever its body
// returns. Whatever the body touches must therefore outlive it (share it
// through shared_ptr, as the engines do with their running flags).
class RenderThread
{
public:
    enum class Priority { Normal, ProAudio };
    enum class Scheduling { Unchanged, Nice, Realtime };

    RenderThread();
    // A thread still running is detached with a log line, never waited for.
    ~RenderThread();
    RenderThread(const RenderThread&) = delete;
    RenderThread& operator=(const RenderThread&) = delete;

    // Starts body on a new thread named name (cut to 15 bytes). False when a
    // thread is already held or none could be created.
    bool start(const QString& name, std::function<void()> body,
               Priority priority = Priority::ProAudio);

    // True between a successful start() and the body's return.
    bool isRunning() const;
    // True while a thread is held (started, not yet joined or detached).
    bool isStarted() const;

    // Waits at most timeoutMs (< 0: forever) for the body to return, then
    // joins. True when no thread is held any more; false on time-out.
    bool join(int timeoutMs);
    // Lets a thread that would not end go on alone; writes reason to the log.
    void detach(const QString& reason);
    // join(timeoutMs), and on time-out detach() with a log line naming the
    // thread. Returns what join returned.
    bool joinOrDetach(int timeoutMs);

    // What the started thread's priority request ended in (Unchanged until
    // the thread has applied it).
    Scheduling scheduling() const;

    // Applies the "Pro Audio" request to the calling thread (for threads not
    // started here) and returns what it got. Logged once per outcome.
    static Scheduling raiseCurrentThread();
    // Names the calling thread (15 bytes at most).
    static void setCurrentThreadName(const QString& name);

    // The Windows realtime process class has no safe Linux counterpart (it
    // would put every thread of the process, the GUI included, above the
    // rest of the system). Deliberately does nothing; returns false.
    static bool requestRealtimeProcessClass();

    static QString schedulingName(Scheduling s);

    // While it lives, the calling thread runs under the "Pro Audio" request,
    // so threads started meanwhile inherit it; the thread's own scheduling
    // and nice value come back when it goes. Sound-server client libraries
    // start the thread that carries every period to the server inside the
    // device open: opened in this scope, that thread is not starved when
    // every core is busy.
    class InheritedProAudio
    {
    public:
        InheritedProAudio();
        ~InheritedProAudio();
        InheritedProAudio(const InheritedProAudio&) = delete;
        InheritedProAudio& operator=(const InheritedProAudio&) = delete;

    private:
        int m_policy = 0;
        int m_priority = 0;
        int m_nice = 0;
        bool m_saved = false;
    };

private:
    struct State;
    std::shared_ptr<State> m_state;
};
