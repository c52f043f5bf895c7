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
// dropped. It also hushes the streams of players stopped while the server
// does not answer (hushPlayerStreams). Every other call, and every answer
// still wanted, passes through unchanged. It is a shared library of its own
// so that its functions come before the client library's in the program's
// symbol lookup.
namespace DrainGuard {

// Drains with someone to tell that have been passed on since the start.
std::uint64_t guardedDrains();
// Answers dropped because their stream had been let go.
std::uint64_t droppedAnswers();
// Drains still waiting for their answer.
int waiting();

// What a media player's stream writes from here on is made silent, and what
// the server still holds of it is dropped before anything else is sent, for
// every player stream connected by now to the sink named (every sink when
// null). For the players let go while the sound server does not answer:
// Qt's players can be stopped only once it answers, and until then their
// threads write on, at their own pace. What a stream sent at or after
// silenceSinceMs (the monotonic clock, in ms; 0: nothing), which the server
// has not read yet, is made silent where it lies in shared memory. A
// player's stream is one Qt's sound-server output made on a media player's
// audio render thread; it stays hushed until it is disconnected. Returns
// how many streams were newly hushed. Never waits on the server, nor on the
// connection's lock (a thread of its own takes that).
int hushPlayerStreams(const char* device, std::int64_t silenceSinceMs);
// What made a player's stream, as the hook set here says on the thread that
// makes it (the program gives the thread's own object: Qt's back end makes a
// player's stream on its audio render thread). Streams made before it is set
// have no owner. The hook runs on that thread and must not wait.
using OwnerFn = const void* (*)();
void setOwnerHook(OwnerFn ownerOf);
// The owners of the player streams connected and not hushed, each once, up
// to max of them, into owners; how many.
int playerStreamOwners(const void** owners, int max);
// As hushPlayerStreams, for the player streams the owner made.
int hushStreamsOf(const void* owner, std::int64_t silenceSinceMs);
// Bytes of silence written in place of hushed streams' sound since the start.
std::uint64_t hushedBytes();

} // namespace DrainGuard
