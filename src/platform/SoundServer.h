#pragma once
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

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

// Whether the server answers now, told on a thread of its own: a fresh
// connection is opened and the server greeted, and any reply (or its
// closing the connection) is an answer. One that has not answered within
// kStalledMs counts as stalled until it answers (a server held back by the
// machine, or stopped). Qt 6.4's players wait on the server inside their
// own threads while holding a lock that their stop, seek and destruction
// take too, so the engine asks this before touching a player.
//
// The server is asked only while someone has shown interest in the last
// kAwakeMs (keepAwake), every kPeriodMs: an idle program knocks on nothing.
class Watch
{
public:
    static constexpr int kStalledMs = 50;
    static constexpr int kPeriodMs = 50;
    static constexpr int kAwakeMs = 10000;

    // resumed runs on the watch's thread each time a stalled server answers
    // again; stalled, each time it is first found stalled. Neither may wait.
    explicit Watch(std::function<void()> resumed = {}, std::function<void()> stalled = {});
    ~Watch();
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    // True unless the server is known to be stalled now. Never waits.
    bool answering() const { return !m_stalled.load(std::memory_order_acquire); }
    // While stalled: since when the server is known to have taken nothing,
    // on the steady clock (CLOCK_MONOTONIC), in ms: its last answer when it
    // was asked without a break since, else the greeting it has not
    // answered. It was still taking what its clients sent until then.
    qint64 stalledSinceMs() const { return m_stalledSinceMs.load(std::memory_order_acquire); }
    // Asks the server again every kPeriodMs for the next kAwakeMs.
    void keepAwake();

private:
    void run();
    // One greeting: true once the server answered (or cannot be asked);
    // marks it stalled while it keeps us waiting.
    bool greetAndWait();

    std::function<void()> m_resumed;
    std::function<void()> m_stalledFound;
    std::atomic<bool> m_stalled{false};
    std::atomic<qint64> m_stalledSinceMs{0};
    qint64 m_answeredAtMs = 0;    // the watch's thread's own
    std::atomic<qint64> m_awakeUntilMs{0};
    std::atomic<bool> m_quit{false};
    std::mutex m_mx;
    std::condition_variable m_cv;
    std::thread m_thread;
};

} // namespace SoundServer
