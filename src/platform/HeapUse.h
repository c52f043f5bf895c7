#pragma once
#include <QtGlobal>

// Keeps the memory the heap has freed from piling up over a long show.
//
// Every media player brings threads of its own and lets them go when it is
// destroyed, and so does every sound on a stream of its own. glibc gives
// such threads arenas of their own, and by default raises its thresholds
// each time a large block is freed: blocks of that size then come from the
// arenas instead of from the system, and an arena keeps up to twice that
// free at its top. Freed memory stays with the process, scattered over the
// arenas, and resident memory rises for as long as players come and go
// while the memory in use stays flat.
namespace HeapUse {

// An arena gives back what it holds free at its top beyond kTrimBytes, and
// blocks up to kMmapBytes come from the arenas, as they did once glibc had
// raised its threshold: the thresholds stay where they are set. Called
// once, first thing in main, before any thread is started.
void limitRetention();

constexpr int kTrimBytes = 128 * 1024;
constexpr int kMmapBytes = 32 * 1024 * 1024;

// Hands what the arenas hold free back to the system (malloc_trim), on a
// pool thread, kTrimDelayMs after the first ask and at least kTrimGapMs
// after the last trim began; asks meanwhile join it. For the GUI thread
// (its timer runs there); never waits.
void trimSoon();

constexpr int kTrimDelayMs = 2000;
constexpr int kTrimGapMs = 30000;

// Trims done so far in this process, and the longest one took (in µs):
// while a trim goes through an arena, a thread that allocates from it waits.
int trimsDone();
qint64 longestTrimUs();

} // namespace HeapUse
