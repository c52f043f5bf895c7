#include "Players.h"

#include <QAudioOutput>
#include <QMediaPlayer>
#include <QSemaphore>
#include <QSet>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "DrainGuard.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "SoundServer.h"

Players* Players::instance()
{
    // Never destroyed: at the close its thread may still wait on a server
    // that does not answer, and the process ends without waiting for it.
    static Players* players = new Players;
    return players;
}

Players::Players()
{
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("players"));
    m_host = new QObject;
    m_host->moveToThread(m_thread);
    m_thread->start();
    m_watch = std::make_unique<SoundServer::Watch>(
        [this] { QMetaObject::invokeMethod(this, &Players::serverAnswers, Qt::QueuedConnection); },
        [this] { onStalled(); });
    // A player's stream is known by the thread that makes it: Qt's back end
    // makes it on the player's audio render thread, whose own object is the
    // one the player's output signals (see hushGoing).
    DrainGuard::setOwnerHook([]() -> const void* { return QThread::currentThread(); });
}

Players::~Players() = default;

// ---- the players' thread ------------------------------------------------

void Players::post(std::function<void()> work)
{
    m_waiting.fetch_add(1);
    QMetaObject::invokeMethod(
        m_host,
        [this, work = std::move(work)] {
            if (!m_goneNow.load()) {
                applyLevels();
                work();
            }
            m_waiting.fetch_sub(1);
        },
        Qt::QueuedConnection);
}

void Players::postAlways(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_host, std::move(work), Qt::QueuedConnection);
}

void Players::levelAsked(const std::shared_ptr<MediaOutput::Core>& core)
{
    {
        std::lock_guard<std::mutex> lk(m_levelsMx);
        m_levels.push_back(core);
    }
    post([] {});
}

// The levels asked since the last call, each at its latest value.
void Players::applyLevels()
{
    std::vector<std::shared_ptr<MediaOutput::Core>> due;
    {
        std::lock_guard<std::mutex> lk(m_levelsMx);
        due.swap(m_levels);
    }
    for (const auto& core : due)
        if (core->applyLevel())
            witness("level", quint64(core->taken.load() * 1000));
}

void Players::made(MediaPlayer::Core& core, quint64 n, const char* what)
{
    core.done = n;
    witness(what, core.key);
}

void Players::witness(const char* what, quint64 key)
{
    std::lock_guard<std::mutex> lk(m_witnessMx);
    if (m_witness)
        m_witness(what, key);
}

void Players::setWitness(Witness w)
{
    std::lock_guard<std::mutex> lk(m_witnessMx);
    m_witness = std::move(w);
}

// The real player, its reports sent to the window's thread with the number
// of the last call it had carried out when it made them.
void Players::makePlayer(const std::shared_ptr<MediaPlayer::Core>& core)
{
    auto* p = new QMediaPlayer;
    core->real = p;
    witness("make", core->key);
    MediaPlayer::Core* c = core.get();
    const quint64 key = core->key;
    connect(p, &QMediaPlayer::playbackStateChanged, p, [this, c, key](QMediaPlayer::PlaybackState st) {
        report(key, [st, done = c->done](MediaPlayer& m, quint64) { m.reportedState(st, done); });
    });
    connect(p, &QMediaPlayer::mediaStatusChanged, p, [this, c, key](QMediaPlayer::MediaStatus st) {
        report(key, [st, done = c->done](MediaPlayer& m, quint64) { m.reportedStatus(st, done); });
    });
    connect(p, &QMediaPlayer::positionChanged, p, [this, c, key](qint64 ms) {
        report(key, [ms, done = c->done](MediaPlayer& m, quint64) { m.reportedPosition(ms, done); });
    });
    connect(p, &QMediaPlayer::durationChanged, p, [this, c, key](qint64 ms) {
        report(key, [ms, done = c->done](MediaPlayer& m, quint64) { m.reportedDuration(ms, done); });
    });
    connect(p, &QMediaPlayer::seekableChanged, p, [this, c, key](bool on) {
        report(key, [on, done = c->done](MediaPlayer& m, quint64) { m.reportedSeekable(on, done); });
    });
    connect(p, &QMediaPlayer::errorOccurred, p, [this, c, key](QMediaPlayer::Error e, const QString& text) {
        report(key, [e, text, done = c->done](MediaPlayer& m, quint64) { m.reportedError(e, text, done); });
    });
}

void Players::report(quint64 key, std::function<void(MediaPlayer&, quint64)> fn)
{
    QMetaObject::invokeMethod(
        this,
        [this, key, fn = std::move(fn)] {
            if (MediaPlayer* m = m_all.value(key))
                fn(*m, 0);
        },
        Qt::QueuedConnection);
}

// The real player and its output go: at once, or kRetireMs later for one
// that stopped by itself. Qt 6.4's sound-server output asks the server to
// drain its stream whenever the stream runs dry, as it does at the end,
// and never withdraws that request: by a second later the answer has come
// (and DrainGuard drops one that comes later still).
void Players::endPlayer(const std::shared_ptr<MediaPlayer::Core>& core)
{
    auto finish = [this, core] {
        {
            std::lock_guard<std::mutex> lk(m_goingMx);
            m_going.erase(std::remove_if(m_going.begin(), m_going.end(),
                                         [&core](const Going& g) { return g.key == core->key; }),
                          m_going.end());
        }
        if (m_goneNow.load()) {
            witness("parked", core->key);
            return;   // destroying it could wait for ever on the dead server
        }
        witness("end", core->key);
        delete std::exchange(core->real, nullptr);
        if (core->endWith)
            delete core->endWith->real.exchange(nullptr);
    };
    if (core->endAfterMs > 0)
        QTimer::singleShot(core->endAfterMs, m_host, finish);
    else
        finish();
}

bool Players::settle(int waitMs)
{
    auto done = std::make_shared<QSemaphore>();
    postAlways([done] { done->release(); });
    return done->tryAcquire(1, waitMs);
}

void Players::holdThread(bool hold)
{
    {
        std::lock_guard<std::mutex> lk(m_holdMx);
        m_hold = hold;
    }
    m_holdCv.notify_all();
    if (!hold)
        return;
    postAlways([this] {
        std::unique_lock<std::mutex> lk(m_holdMx);
        m_holdCv.wait(lk, [this] { return !m_hold; });
    });
}

// ---- the window's side of the players -----------------------------------

quint64 Players::add(MediaPlayer* player)
{
    const quint64 key = ++m_nextKey;
    m_all.insert(key, player);
    return key;
}

void Players::remove(quint64 key)
{
    m_all.remove(key);
}

int Players::going() const
{
    std::lock_guard<std::mutex> lk(m_goingMx);
    return int(m_going.size());
}

void Players::park(MediaPlayer* player, MediaOutput* output)
{
    if (player) {
        QObject::disconnect(player, nullptr, nullptr, nullptr);
        player->park();
        player->setParent(nullptr);
    }
    if (output) {
        output->park();
        output->setParent(nullptr);
    }
}

// Every player let go comes here. One that still plays, or whose queue is
// to be dropped (how), goes at once: only its destruction drops what its
// stream has queued, which a stop or a pause would let be heard. One that
// stopped by itself (its end) goes kRetireMs later. A player whose server
// has gone is parked: stopping or destroying it could wait for ever.
void Players::letGo(MediaPlayer* player, MediaOutput* output, How how)
{
    const bool answeringNow = answering();
    if (!stillOurs()) {
        park(player, output);
        return;
    }
    if (!player) {
        delete output;
        return;
    }
    QObject::disconnect(player, nullptr, nullptr, nullptr);
    if (!output)
        output = player->audioOutput();
    if (output && player->audioOutput() != output)
        delete std::exchange(output, nullptr);
    const std::shared_ptr<MediaPlayer::Core> core = player->m_core;
    if (output) {
        core->endWith = output->core();
        output->park();   // it goes with its player, not before
    }
    const bool ended = how == How::AsItStands && player->playbackState() == QMediaPlayer::StoppedState;
    core->endAfterMs = ended ? kRetireMs : 0;
    core->gone = true;
    {
        std::lock_guard<std::mutex> lk(m_goingMx);
        m_going.push_back({core->key, core->endWith, output ? output->device().id() : QByteArray()});
    }
    post([this, core] { endPlayer(core); });
    // The proxies go from the event loop: this may be a report of the player's own.
    remove(core->key);
    player->deleteLater();
    if (output)
        output->deleteLater();
    if (!answeringNow) {
        const qint64 since = m_answeringSource ? 0 : m_watch->stalledSinceMs();
        hushGoing(since);
        hushSinks(since);
    }
}

// ---- hushing what was let go --------------------------------------------

// The streams each player let go made itself, told from the others on its
// sink: Qt's back end makes a player's stream on the player's audio render
// thread, and connects the player's output to that thread's own object
// (DrainGuard notes it as the stream's owner). An owner the output is
// connected to is that player's: the connection is cut (the output is not
// to reach its threads again) and its streams are hushed. An owner is only
// compared, never reached through. Safe from any thread: a player's output
// is destroyed only once it has left the list, under the same lock.
void Players::hushGoing(qint64 since)
{
    constexpr int kMaxOwners = 64;
    const void* owners[kMaxOwners];
    const int count = DrainGuard::playerStreamOwners(owners, kMaxOwners);
    std::lock_guard<std::mutex> lk(m_goingMx);
    for (const Going& g : m_going) {
        QAudioOutput* out = g.output ? g.output->real.load() : nullptr;
        if (!out)
            continue;
        for (int i = 0; i < count; ++i)
            if (QObject::disconnect(out, nullptr, static_cast<const QObject*>(owners[i]), nullptr))
                DrainGuard::hushStreamsOf(owners[i], since);
    }
}

// Beyond each player's own streams, the streams of a sink are hushed only
// when no other player may still be heard on it: a sound the operator did
// not stop is never hushed. A player on the default output without a device
// named could be on any sink: then only a stop of every player hushes
// sink-wide.
void Players::hushSinks(qint64 since)
{
    QSet<QByteArray> heard;
    bool heardAnywhere = false;
    for (const MediaPlayer* p : std::as_const(m_all)) {
        if (p->playbackState() == QMediaPlayer::StoppedState || p->isParked())
            continue;
        const QByteArray device = p->audioOutput() ? p->audioOutput()->device().id() : QByteArray();
        heardAnywhere = heardAnywhere || device.isEmpty();
        heard.insert(device);
    }
    if (heard.isEmpty()) {
        DrainGuard::hushPlayerStreams(nullptr, since);
        return;
    }
    if (heardAnywhere)
        return;
    QSet<QByteArray> stopped;
    {
        std::lock_guard<std::mutex> lk(m_goingMx);
        for (const Going& g : m_going)
            if (!g.device.isEmpty())
                stopped.insert(g.device);
    }
    for (const QByteArray& device : std::as_const(stopped))
        if (!heard.contains(device))
            DrainGuard::hushPlayerStreams(device.constData(), since);
}

// On the watch's thread, the moment the server is found stalled: the
// players let go before anyone knew are hushed now, not at the window's
// next turn; the sinks are looked at from the window's thread.
void Players::onStalled()
{
    const qint64 since = m_watch->stalledSinceMs();
    hushGoing(since);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_answeringSource && going() > 0)
                hushSinks(m_watch->stalledSinceMs());
            emit serverStalled();
        },
        Qt::QueuedConnection);
}

// ---- the server ---------------------------------------------------------

bool Players::answering()
{
    bool answers = true;
    if (m_answeringSource) {
        answers = m_answeringSource();
    } else {
        m_watch->keepAwake();
        answers = m_watch->answering();
    }
    // A server killed in its stall "answers" too: nothing listens any
    // more. Who answers is looked at afresh once it answers.
    if (answers && std::exchange(m_sawStall, false))
        m_serverCheckedAtMs = 0;
    m_sawStall = m_sawStall || !answers;
    return answers;
}

qint64 Players::stalledSinceMs() const
{
    return m_watch->stalledSinceMs();
}

void Players::keepAwake()
{
    m_watch->keepAwake();
}

void Players::forgetServer()
{
    m_idSource = {};
    m_answeringSource = {};
    m_playersServer = 0;
    m_serverCheckedAtMs = 0;
    m_gone = false;
    m_goneNow.store(false);
    m_sawStall = false;
}

// The first server seen is the players' own; once another answers, or
// none, it has gone for good for this process (Qt cannot follow it: see
// SoundServer.h).
bool Players::stillOurs()
{
    if (m_gone)
        return false;
    // Asked at most every kServerCheckMs: a burst of presses or pre-buffers
    // does not knock on the server's door each time.
    const qint64 now = MonoClock::ms();
    if (m_playersServer > 0 && m_serverCheckedAtMs > 0 && now - m_serverCheckedAtMs < kServerCheckMs)
        return true;
    m_serverCheckedAtMs = now;
    const qint64 id = m_idSource ? m_idSource() : SoundServer::currentId();
    if (id < 0)
        return true;   // not a local server: nothing can be told
    // Nothing answering counts as gone even at the first look: the back end
    // keeps the outputs it listed once its server has gone, and a player
    // started then crashes in its render thread.
    if (m_playersServer == 0 && id > 0) {
        m_playersServer = id;
        return true;
    }
    if (id > 0 && id == m_playersServer)
        return true;
    VX_LOG(QStringLiteral("[Players] the sound server the players were made on has gone; "
                          "no player is made again until the program starts anew"));
    m_gone = true;
    m_goneNow.store(true);
    // Players let go before it was known are left too (see endPlayer).
    postAlways([this] {
        std::lock_guard<std::mutex> lk(m_goingMx);
        for (const Going& g : m_going)
            witness("parked", g.key);
        m_going.clear();
    });
    return false;
}
