#pragma once
// Counts the calls this process makes on its main thread that look at or
// open a file by name (stat and its kin, open, access, fopen, opendir),
// whoever makes them: our code, Qt, or a library. A test links
// tr_filecalls, turns counting on around what must not touch the disk, and
// reads the count back. Every call goes on to the C library unchanged.
namespace FileCalls {

// Counting from zero, from now on.
void start();
// Stops counting; the calls counted since start().
int stop();
// The path of the last call counted (empty when none), for a failure message.
const char* lastPath();

} // namespace FileCalls
