#pragma once
#include <QString>
#include <QtGlobal>

// The sound server the media players play through: PulseAudio (or a server
// that speaks its protocol) on its native socket.
//
// Qt 6.4's players cannot follow that server when it goes: a player started
// after it has gone crashes in its render thread (even after the server has
// come back), and deleting one that was playing on it waits for ever. The
// audio engine asks who answers on the socket before it makes players, so
// that it stops making them once the server they were made on is gone.
namespace SoundServer {

// The socket the players' server answers on: PULSE_SERVER's first address
// when it is a local one ("unix:/path" or "/path"), else the runtime
// folder's "native". Empty when the address is not a local socket.
QString socketPath();

// Who answers on that socket now: the server's process id, 0 when nothing
// answers, -1 when that cannot be told (the address is not a local socket).
// A non-blocking connect to a local socket: it never waits.
qint64 currentId();

} // namespace SoundServer
