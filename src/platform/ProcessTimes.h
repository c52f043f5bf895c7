#pragma once
#include <QtGlobal>

// CPU time of this process and the wall clock, in 100-nanosecond units, for
// the window's CPU figure.
namespace ProcessTimes {

// Kernel (system) and user CPU time the process has used so far. False when
// the system cannot say; the outputs are then left alone.
bool processTimes(quint64* kernel100ns, quint64* user100ns);
// The system's wall-clock time.
quint64 systemTime100ns();
// Processors online; 0 when the system cannot say.
int processorCount();

} // namespace ProcessTimes
