#pragma once
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "MediaPlayer.h"

class QAudioOutput;
class QMediaPlayer;
class QThread;
namespace SoundServer {
class Watch;
}

// What the real output behind a MediaOutput is, on the players' thread.
struct MediaOutput::Core
{
    std::atomic<QAudioOutput*> real{nullptr};   // made and destroyed on the players' thread
    std::atomic<float> level{1.0f};             // the latest level asked
    std::atomic<bool> levelDue{false};          // asked and not taken yet
    std::atomic<float> taken{1.0f};             // the level the real output took last
    bool applyLevel();
};

// What the real player behind a MediaPlayer is, on the players' thread.
struct MediaPlayer::Core
{
    quint64 key = 0;
    QMediaPlayer* real = nullptr;   // the players' thread's own
    quint64 done = 0;               // the number of the last call it carried out (players' thread)
    bool parked = false;            // the window's thread's own
    bool gone = false;              // let go: its end is asked (the window's thread's own)
    // Set when the player is let go: how long after its end is asked the
    // real player goes, and the output that goes with it.
    int endAfterMs = 0;
    std::shared_ptr<MediaOutput::Core> endWith;
};

// The media players and the sound server's health, in one place.
//
// It owns the players' thread: every Qt media player and audio output the
// program makes (the engine's, those made ready ahead, the warm-up, the
// output probe, the trim dialog's and the debug window's) is made, called
// and destroyed there, through MediaPlayer and MediaOutput. Calls go there
// in the order they are asked; a level goes before any call queued after
// it was asked, at its latest value. A sound server that stalls, or dies,
// holds only that thread: nothing on the window's thread waits for it.
//
// It watches the server (SoundServer::Watch): whether it answers now,
// whether it is still the one the players were made on (once another
// answers, or none, it has gone for good and every player is parked: left
// as it is, never touched again), and it tells when the server stalls and
// when it answers again.
//
// It lets players go (letGo): each is cut off from whoever listened, and
// stopped and destroyed on the players' thread after what was asked before.
// While the server does not answer, or from the moment it is found
// stalled, what a player let go still has on the server is hushed at once
// (DrainGuard): a stopped sound is not heard when the server answers again.
class Players : public QObject
{
    Q_OBJECT
public:
    static Players* instance();

    // How a player let go ends: as its state asks (a second late when it
    // stopped by itself: see letGo), or at once.
    enum class How { AsItStands, DropQueue };
    static constexpr int kRetireMs = 1000;

    // The work runs on the players' thread, after what was queued before
    // (the levels asked meanwhile first).
    void post(std::function<void()> work);

    // ---- the server ----------------------------------------------------
    // Whether the server answers now; never waits. Asking keeps the watch
    // looking for the next while.
    bool answering();
    // Whether the server the players were made on still answers (looked at
    // at most every kServerCheckMs); false for good once it has gone.
    bool stillOurs();
    bool isGone() const { return m_gone; }
    // While stalled: since when the server has taken nothing (steady ms).
    qint64 stalledSinceMs() const;
    void keepAwake();
    // A fresh start of the server's record: the next look finds the
    // players' server anew (an engine made again, in tests).
    void forgetServer();
    // Stand-ins for who answers (SoundServer::currentId) and whether it
    // answers (the watch), for tests.
    void setServerIdSource(std::function<qint64()> source) { m_idSource = std::move(source); }
    void setAnsweringSource(std::function<bool()> source) { m_answeringSource = std::move(source); }
    static constexpr int kServerCheckMs = 100;

    // ---- players -------------------------------------------------------
    // Cuts the player off, and has it and its output stopped and destroyed
    // on the players' thread (or parked, when the server has gone). Both
    // proxies are destroyed here. Either may be null.
    void letGo(MediaPlayer* player, MediaOutput* output, How how);
    // Players let go and not yet destroyed on the players' thread.
    int going() const;
    // Calls queued to the players' thread and not yet made.
    int waiting() const { return m_waiting.load(); }
    // Every player alive on this side.
    QList<MediaPlayer*> all() const { return m_all.values(); }

    // Waits at most waitMs for the players' thread to carry out what is
    // queued now; whether it did. For the close and for tests: the window
    // never waits otherwise.
    bool settle(int waitMs);
    // Tests: hold the players' thread as a stalled server would, and let it go.
    void holdThread(bool hold);
    // Tests: told on the players' thread of each call made into a real
    // player or output, with the player's key: "make", "call" (any call
    // asked of it), "end" (destroyed), "parked" (left as it is: its server
    // has gone); and "level" for a level taken, with the level in
    // thousandths in place of a key.
    using Witness = std::function<void(const char* what, quint64 key)>;
    void setWitness(Witness w);

    // ---- for MediaPlayer and MediaOutput -------------------------------
    quint64 add(MediaPlayer* player);
    void remove(quint64 key);
    void levelAsked(const std::shared_ptr<MediaOutput::Core>& core);
    // On the players' thread.
    void makePlayer(const std::shared_ptr<MediaPlayer::Core>& core);
    void endPlayer(const std::shared_ptr<MediaPlayer::Core>& core);
    void made(MediaPlayer::Core& core, quint64 n, const char* what = "call");

signals:
    // The server has not answered for a while (kStalledMs).
    void serverStalled();
    // A stalled server answers again (it may have died in its stall: see stillOurs).
    void serverAnswers();

private:
    Players();
    ~Players() override;
    void applyLevels();
    // Queues work whatever has become of the server (settle, holdThread).
    void postAlways(std::function<void()> work);
    void report(quint64 key, std::function<void(MediaPlayer&, quint64)> fn);
    void witness(const char* what, quint64 key);
    void park(MediaPlayer* player, MediaOutput* output);
    // The streams of the players let go, hushed where they lie on the server.
    void hushGoing(qint64 since);
    void hushSinks(qint64 since);
    void onStalled();

    QThread* m_thread = nullptr;
    QObject* m_host = nullptr;   // lives on the players' thread
    std::unique_ptr<SoundServer::Watch> m_watch;

    // The window's thread's own.
    QHash<quint64, MediaPlayer*> m_all;
    quint64 m_nextKey = 0;
    std::function<qint64()> m_idSource;
    std::function<bool()> m_answeringSource;
    qint64 m_playersServer = 0;     // the server the players were made on; 0: none yet
    qint64 m_serverCheckedAtMs = 0;
    bool m_gone = false;
    // The same, for the players' thread: once the server has gone, nothing
    // more is asked of a real player or output, and none is destroyed.
    std::atomic<bool> m_goneNow{false};
    bool m_sawStall = false;

    // Players let go, until the players' thread has destroyed them.
    struct Going
    {
        quint64 key;
        std::shared_ptr<MediaOutput::Core> output;
        QByteArray device;
    };
    mutable std::mutex m_goingMx;
    std::vector<Going> m_going;

    std::mutex m_levelsMx;
    std::vector<std::shared_ptr<MediaOutput::Core>> m_levels;
    std::atomic<int> m_waiting{0};

    std::mutex m_holdMx;
    bool m_hold = false;
    std::condition_variable m_holdCv;
    std::mutex m_witnessMx;
    Witness m_witness;
};
