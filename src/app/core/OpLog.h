#pragma once
#include <QString>
#include <QStringList>

// The operation log: a ring of the last 64 one-line notes of what the program
// is doing. It never goes to disk by itself; the crash report prints it.
void VX_LOG(const QString& msg);

namespace OpLog {
constexpr int kCapacity = 64;
// Entries newest first, as the crash report lists them. Blocks on the ring's lock.
QStringList entriesNewestFirst();
// Same, but gives up (returns false) instead of waiting when the lock is held.
bool tryEntriesNewestFirst(QStringList* out);
// Total number of entries ever written.
int totalWritten();
}
