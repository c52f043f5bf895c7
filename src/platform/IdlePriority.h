#pragma once

// Runs the calling thread at idle priority (Linux SCHED_IDLE, as a Windows
// idle thread priority) while the object lives, and puts the thread's own
// scheduling back when it ends: pool threads go on to run other jobs.
//
// Linux lets a thread leave SCHED_IDLE only with CAP_SYS_NICE or an
// RLIMIT_NICE that covers its nice value. Where the way back would be refused
// the thread is not lowered at all (logged once), so a shared pool thread is
// never left at idle priority for good.
class IdlePriorityScope
{
public:
    IdlePriorityScope();
    ~IdlePriorityScope();
    IdlePriorityScope(const IdlePriorityScope&) = delete;
    IdlePriorityScope& operator=(const IdlePriorityScope&) = delete;

    // Whether the thread runs at idle priority now.
    bool lowered() const { return m_lowered; }

private:
    bool m_lowered = false;
    int m_policy = 0;
    int m_priority = 0;
};
