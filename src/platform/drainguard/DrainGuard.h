#pragma once
#include <cstdint>

// Answers to sound-server drains that come after their stream was let go.
//
// Qt 6.4's sound-server output (QAudioSink on PulseAudio), when its stream
// runs dry with nothing more to play, asks the server to drain the stream
// and names the output object itself as the one to tell. Closing the output
// unhooks the stream's other notices but cannot take that request back, so
// an output closed and freed before the server answers (a player let go
// right as its sound ran out, or any player on a server slow to answer)
// gets the answer on freed memory, on the server connection's thread: the
// program crashes. Players cut short at their tail meet this most.
//
// This library stands between the sound-server client library and its
// callers: each drain that names someone to tell is noted, a stream's notes
// are struck when it is disconnected, and an answer whose note is gone is
// dropped. Every other call, and every answer still wanted, passes through
// unchanged. It is a shared library of its own so that its two functions
// come before the client library's in the program's symbol lookup.
namespace DrainGuard {

// Drains with someone to tell that have been passed on since the start.
std::uint64_t guardedDrains();
// Answers dropped because their stream had been let go.
std::uint64_t droppedAnswers();
// Drains still waiting for their answer.
int waiting();

} // namespace DrainGuard
