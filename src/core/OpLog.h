#pragma once
#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>

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

// For the crash handler: the ring also keeps every entry as UTF-8 in fixed
// buffers (at most kCrashEntryBytes - 1 bytes each). This calls fn(i, text,
// len, ctx) for i = 0 (newest) up to the number of entries held, without
// allocating or waiting. It returns false and calls nothing when a writer
// holds the ring at this moment (for instance the thread that crashed).
constexpr size_t kCrashEntryBytes = 512;
using CrashVisitor = void (*)(int index, const char* text, size_t len, void* ctx);
bool visitForCrash(CrashVisitor fn, void* ctx);

// Runs fn while holding the ring as a writer does.
void withRingHeld(const std::function<void()>& fn);
}
