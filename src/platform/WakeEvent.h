#pragma once

// An auto-reset event on an eventfd: set() lets one wait() through (several
// set() calls before a wait collapse into one), and the wait consumes it.
// Usable from any thread; set() never blocks and never allocates, so a GUI
// thread can wake a render thread and a stop request can wake a device wait.
class WakeEvent
{
public:
    enum class Result { Signalled, Timeout, Failed };

    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // False when the eventfd could not be made; set() and wait() then fail.
    bool isValid() const { return m_fd >= 0; }

    void set();
    // Clears a pending signal without waiting.
    void reset();
    // Consumes a pending signal; true when there was one.
    bool tryConsume();
    // Waits until signalled (and consumes the signal) or timeoutMs passes.
    // timeoutMs < 0 waits forever; 0 only tests.
    Result wait(int timeoutMs);

    // The descriptor, readable while signalled; for poll() beside others.
    // Read it with tryConsume(), never directly.
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};
