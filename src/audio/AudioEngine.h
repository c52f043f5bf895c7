#pragma once
#include <QAudioDevice>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

#include "FileCheck.h"
#include "FileHeads.h"
#include "LoopStream.h"
#include "MediaPlayer.h"
#include "Players.h"
#include "Types.h"

class LoopStream;
class QTimer;

// One sound playing (or just ended) under an id: a media player with its own
// audio output. The engine owns the record; tests reach the player through
// AudioEngine::slotFor(id)->player.
struct PlaybackSlot
{
    QString id;
    MediaPlayer* player = nullptr;   // child of the engine
    MediaOutput* output = nullptr;   // child of the engine; null for a prepare-only slot
    double volume = 1.0;              // the button's own volume, 0 .. 2.0
    bool loop = false;
    bool prepareOnly = false;
    double trimIn = 0;                // seconds; 0: not set
    double trimOut = 0;               // seconds; 0: not set
    double stopFadeMs = 0;            // length of the fade of the next stop()
    double fadeInMs = 0;
    double fadeOutMs = 0;
    QTimer* fadeInTimer = nullptr;    // running fade-in, else null
    // Held silent until its fade-in runs: the back end writes the first
    // of a sound with the level it had before play, so a sound that fades
    // in is silent from the moment it is made.
    bool fadeInHeld = false;
    bool active = false;              // counts as playing

    // Envelope bookkeeping. The output level is always derived from the
    // button volume, the master volume and these factors (see outputLevel()).
    int fadeInSteps = 0;
    double endFade = 1.0;             // 1 - progress of the fade-out before the end
    QTimer* endFadeTimer = nullptr;   // steps the fade-out before the end, else null
    bool stopFading = false;
    qint64 stopFadeAtMs = 0;          // MonoClock time of the press of a faded stop
    qint64 stopSilentAtMs = 0;        // when a player's stop fade set its level to nothing; 0: not yet
    double stopFadeFrom = 1.0;        // output level when the stop fade began
    bool startPending = false;        // play once the media has loaded
    qint64 endedDurationMs = 0;       // the duration, kept when an ended slot lets its media go
    QTimer* releaseTimer = nullptr;   // lets an ended player's media go once its sound has been heard
    qint64 endedAtMs = 0;             // when the player reported its end (steady clock)
    QTimer* trimOutTimer = nullptr;   // ends (or loops) the sound at trimOut, timed on its sound clock
    // A looping sound goes round on a second player, made ready while a
    // round plays and started a start delay before that round is heard to
    // end: a player started again from its end leaves a gap of 100 ms and
    // more. The round it took over plays out its last moments as the tail.
    MediaPlayer* nextPlayer = nullptr;
    MediaOutput* nextOutput = nullptr;
    QTimer* wrapTimer = nullptr;
    MediaPlayer* tailPlayer = nullptr;
    MediaOutput* tailOutput = nullptr;
    // A loop, or a short sound played once, played by our own decoder on its
    // own output stream instead of a media player (see LoopStream): it keeps
    // time to the frame. Its reports come from streamTimer. path and deviceId
    // let it go over to the players when no stream can be had.
    LoopStream* stream = nullptr;
    QTimer* streamTimer = nullptr;
    QString path;
    QString deviceId;

    // The sound clock: when this run's first sample is heard, guessed at
    // the start and then read from the position reports. A start counts as
    // heard once the reports move with the steady clock; from then on the
    // run's ends and fades are timed on that clock.
    qint64 startPosMs = 0;            // where this run started in the file
    qint64 startCalledAtMs = 0;       // MonoClock time of its start; 0: not started
    qint64 heardStartAtMs = 0;        // MonoClock time its first sample is heard
    bool startHeard = false;          // the reports have moved in real time
    bool streamHeard = false;         // a stream's first heard position was told
    double heardStartMeanMs = 0;      // once heard: the running mean of where the reports place it
    int placedReports = 0;            // reports in that mean (up to kPlaceMeanReports)
    qint64 anchorPosMs = -1;          // the report the run's advance is measured from
    qint64 anchorAtMs = 0;            // and when it came; 0: none yet
    QTimer* startCheckTimer = nullptr; // a start not heard in time is taken as stalled
    int stalledStarts = 0;            // players of this press whose start stalled
    qint64 lastPosMs = -1;            // the last position reported
    qint64 lastMoveAtMs = 0;          // MonoClock time of the last start or position change
};

// Plays audio files through Qt Multimedia: one QMediaPlayer with its own
// QAudioOutput per id (button id, music row id or a reserved id). Answers only
// through its signals. Lives on the GUI thread.
class AudioEngine : public QObject
{
    Q_OBJECT
public:
    // One player made ahead of time for a path, at volume 0.
    struct BufferEntry
    {
        MediaPlayer* player = nullptr;
        MediaOutput* output = nullptr;
        QString deviceId;             // empty: the system default output
        quint64 lastUse = 0;          // for dropping the least recently used
        bool afterPlay = false;       // made after a play of its path (not asked for ahead)
        FileCheck::Stamp stamp;       // the version of the file it opened
    };

    // How the engine runs work later (pre-buffering, re-buffering, the primed
    // mark). Tests replace it to see the schedule and run it by hand.
    using Scheduler = std::function<void(int ms, std::function<void()> work)>;

    static constexpr int kFadeTickMs = 16;
    // How long a level a fade step sets on a player is heard for: until the
    // next step, and the back end takes a level up only with its next block
    // (about another step). A step sets what is due where that ends.
    static constexpr int kStepHoldMs = 2 * kFadeTickMs;
    // A faded stop lets its sound go once its silence has been heard, and at
    // the latest this long after its fade should have ended.
    static constexpr int kStopFadeSpareMs = 500;
    static constexpr int kPurgeAbove = 48;        // ended slots kept before purging
    // A player let go after it stopped by itself is destroyed this much
    // later (see Players::letGo).
    static constexpr int kRetireMs = Players::kRetireMs;
    static constexpr int kPreBufferPerCall = 64;
    static constexpr int kPreBufferSpacingMs = 20;
    static constexpr int kMaxBufferEntries = 64;  // live pipelines kept ready
    static constexpr int kRebufferDelayMs = 500;
    // Players made again after a play are kept for this many paths only:
    // each holds its decoding threads, and a playlist plays most tracks once.
    static constexpr int kRebufferKeep = 8;
    static constexpr int kWarmupWaitMs = 600;
    // How long the close waits for the players' thread to end what was let go.
    static constexpr int kShutdownWaitMs = 1000;
    // Where the FFmpeg back end is asked to start an uncompressed file for a
    // trim-in of trimMs: it rounds a position to the nearest sample and then
    // drops the whole first block when that sample lies before the position,
    // so the start is put on a ms whose sample rounds up (or is exact), the
    // one heard nearest the trim-in, never more than a few ms late.
    static qint64 pcmSeekMs(qint64 trimMs, int rate);

    // A sound that plays and has not moved for kStallLimitMs, with every
    // other playing sound stalled too, means the output is gone.
    static constexpr int kStallCheckMs = 500;
    static constexpr int kStallLimitMs = 3000;
    // How long an answer of the sound server that it is still the players'
    // own holds.
    static constexpr int kServerCheckMs = 100;
    // How long a loaded player may take to become seekable before it plays
    // from wherever it can.
    static constexpr int kSeekWaitMs = 500;
    // How a media back end's reports and volume run against what is heard,
    // as measured on the sound server's monitor. reportLeadMs: how far a
    // position report runs ahead of what is heard (behind when negative;
    // with FFmpeg a stop also lets the last written sound play out).
    // volumeLeadMs: how long after it is made a volume change is heard: the
    // back end applies it to what it writes, and it writes ahead of the
    // output. startLossMs: how much of a start the back end drops, about;
    // a run starts that much before its trim-in, so that what is heard
    // begins within a few ms of it either way.
    struct BackendTiming
    {
        int reportLeadMs;
        int volumeLeadMs;
        int startLossMs;
    };
    static constexpr BackendTiming kFfmpegTiming{-20, 70, 10};
    static constexpr BackendTiming kGstreamerTiming{20, 140, 0};
    // The most the position reports can be apart (they are due every 100 ms).
    static constexpr int kReportSpacingMs = 150;
    // Where a fade-in starts from: all but silent. At a level of exactly 0
    // the back end's clock runs apart from what is heard.
    static constexpr double kFadeInFloor = 0.001;
    // The first guess of how long a start takes to be heard; each start's
    // first report tells the next.
    static constexpr int kFirstStartDelayMs = 120;
    // A start is heard once its position has moved kHeardSpanMs or more
    // beyond an earlier report, at half the steady clock's rate or more. The
    // media back end can stall right after a start: its player plays, its
    // position creeps a ms a second and nothing is heard. A run not heard
    // kStartStallMs after its first move, or kStartWaitMs after its start
    // when it has not moved at all (a swamped machine can take a second or
    // two to start a player), has stalled: a fresh player takes over from
    // the same point; when that one stalls too the sound ends with an error.
    static constexpr int kHeardSpanMs = 100;
    static constexpr int kStartStallMs = 500;
    static constexpr int kStartWaitMs = 5000;
    static constexpr int kStartTries = 2;
    // Once a start is heard, each report places it a little early or late
    // (the back end writes in blocks, and a report can reach us late): the
    // heard start is the running mean of the last kPlaceMeanReports or so,
    // a report more than kPlaceJitterMs off counting as that far.
    static constexpr int kPlaceMeanReports = 16;
    static constexpr int kPlaceJitterMs = 25;
    // A player that ends by itself has written its last sample, not yet
    // heard it: it keeps its stream until its end is heard on the sound
    // clock and kEndedHoldMs more (the output's queue as guessed there can
    // be a little short), at most kEndedHoldMaxMs after its end report.
    static constexpr int kEndedHoldMs = 150;
    static constexpr int kEndedHoldMaxMs = 1500;
    // A local file is still arriving (a preview played while it downloads),
    // as a stream is, while this program's own download writes it, or while
    // its size grows: between two looks no more than kArrivingMs apart, and
    // for kArrivingMs after a look that saw it grow. Its date says nothing.
    static constexpr int kArrivingMs = 5000;
    static constexpr int kProbeFirstMs = 1000;
    static constexpr int kProbeMaxMs = 30000;
    static constexpr int kProbeWaitMs = 1500;
    // How much earlier than the start delay says the next round of a loop
    // is started: a few ms of overlap at the wrap rather than a gap.
    static constexpr int kWrapLeadMs = 5;
    // How far ahead of what is heard a player may have read its file: a
    // restart closer to the end than this takes a fresh player.
    static constexpr int kReadAheadMs = 1000;
    // How often a stream's position is reported and its state read.
    static constexpr int kStreamReportMs = 50;
    // A local sound played once whose range (or whole file) is this short
    // or shorter plays on a stream of its own: on a player it can end
    // before its start is heard (a start is heard kHeardSpanMs after an
    // earlier report, and reports can be kReportSpacingMs apart), and its
    // end would be timed from a guessed start delay; a file of 40 ms or
    // less is not heard at all there.
    static constexpr int kShortSoundMs = kHeardSpanMs + kReportSpacingMs;
    // A press whose file's header is not read yet waits for the read (on a
    // thread of its own) and is then played, or refused, as any other; one
    // whose read has not answered in this time (a hung share) is tried as
    // it is. Its timer is a child of the engine named "headWait".
    static constexpr int kHeadWaitMs = 2000;

    explicit AudioEngine(QObject* parent = nullptr);
    ~AudioEngine() override;

    static AudioEngine* instance();

    // Playback
    void play(const ButtonData& button, const QString& deviceId, bool prepareOnly = false);
    void playRapid(const ButtonData& button, const QString& deviceId);
    // Why a start of the button could not sound, as its error would say it,
    // known before it is tried; empty when nothing stands in its way that
    // the file's last-seen stamp and its header tell: a file that is not
    // there (or no regular file), an empty file, a file with no sound stream
    // this program decodes (random bytes under a sound's name, a format with
    // no decoder), a WAV with no sound, a trim-in at or past the end; and
    // the players' output lost (no start sounds until it is back, or at all
    // once their sound server has gone). Only what was read ahead is known
    // of a file (see headKnown): a press of one not read waits in play.
    QString startRefusal(const ButtonData& button);
    // Whether the file's header was read for its version last seen (a
    // stream's always counts as read); when not, a read is asked for and
    // only the start can tell whether the file plays. Never touches the disk.
    bool headKnown(const QString& path);
    // Has the files' headers read on a thread of their own, each not read
    // for its version last seen; preBuffer does too.
    void readHeadsAhead(const QStringList& paths);
    void stop(const QString& id);
    void cancelFade(const QString& id);
    void stopAll();
    void panic();
    // At the program's close, on the engine's thread: a panic that frees
    // what the sounds held now rather than from the event loop.
    void shutdown();
    void notifyPlay(const QString& id);
    void notifyStop(const QString& id);
    void triggerArmed(const ButtonData& button);
    void preArm(const ButtonData&) {}
    void clearArmed() {}

    // A press waiting for its file's header counts as playing: a stop or
    // a later press's stops end it (reported stopped) before it sounds.
    bool isPlaying(const QString& id) const;
    QList<QString> playingIds() const;
    // The ids whose slots count as playing (ended slots left out).
    QList<QString> activeIds() const;
    qint64 durationMs(const QString& id) const;
    PlaybackSlot* slotFor(const QString& id) const;
    PlaybackSlot* slotForPlayer(MediaPlayer* player) const;
    void removeSlot(const QString& id);
    // The timer of a running stop fade, else null.
    QTimer* stopFadeTimer(const QString& id) const { return m_stopFades.value(id); }

    // Volumes
    void setButtonVolume(const QString& id, double v);
    void setButtonFade(const QString& id, double ms);
    void setGlobalVolume(double v);
    double globalVolume() const { return m_globalVolume; }
    void setTabVolume(int tab, double v);
    double tabVolume(int tab) const;

    // Preparation
    void preBuffer(const QList<QString>& paths);
    void clearBuffer();
    bool isBuffered(const QString& path) const { return m_buffer.contains(path); }
    // Whether Qt plays through its FFmpeg back end (else GStreamer). Only
    // FFmpeg reads on into a file that is still being written.
    static bool backendIsFfmpeg();
    const QHash<QString, BufferEntry>& bufferTable() const { return m_buffer; }
    void setDefaultDevice(const QString& deviceId);
    QString defaultDeviceId() const { return m_defaultDevice; }
    QList<QAudioDevice> audioDevices() const;
    void primeDevice(const QString& deviceId);
    void resetPrimedDevice(const QString& deviceId);
    bool isPrimed(const QString& deviceId) const { return m_primed.contains(deviceId); }
    void warmupBackend();
    static QString warmupFilePath();
    // Peaks of a file, cached by path (whatever n a later call asks). A path
    // not cached yet is decoded on the calling thread: call it from a worker
    // thread, never from the GUI thread. Safe from any number of threads.
    QList<float> waveformData(const QString& path, int n);
    static QList<float> placeholderWaveform(int n);

    // The device of the last resolved device id (null: the default output).
    QString cachedDeviceId() const { return m_cachedDeviceId; }
    QAudioDevice cachedDevice() const { return m_cachedDevice; }

    void setScheduler(Scheduler s);
    // Whether local loops and short sounds play on their own streams (the
    // default) or on the media players, as a stream that cannot start falls
    // back to.
    void setLoopStreams(bool on) { m_loopStreams = on; }
    // How long a start takes to be heard, as the last start's reports told.
    qint64 startDelayMs() const { return m_startDelayMs; }
    const BackendTiming& timing() const { return m_timing; }

    // The output check the stall timer runs: when every sound that plays
    // from a file has stood still for kStallLimitMs, the output is taken as
    // lost: each of them is reported ended, outputLost is emitted once, later
    // starts fail with playbackError, and a silent probe is played after
    // kProbeFirstMs, then at doubling delays up to kProbeMaxMs, until one
    // moves (outputRestored).
    void checkOutput();
    bool isOutputLost() const { return m_outputLost; }
    // Whether the sound server the players were made on has gone: then no
    // player is made again in this process (see SoundServer.h).
    bool isServerGone() const { return m_players->isGone(); }
    // Asks now, with nothing playing too, whether the players' sound server
    // still answers; when it has gone, the players are lost for good from
    // here (outputLost, as a stall would find).
    void checkServer();
    // Who answers as the sound server, and whether it answers now (see
    // Players); tests stand in for them, so that a machine too busy to
    // greet the server in time is not taken for a stalled server.
    void setServerIdSource(std::function<qint64()> source) { m_players->setServerIdSource(std::move(source)); }
    void setServerAnsweringSource(std::function<bool()> source)
    {
        m_players->setAnsweringSource(std::move(source));
    }
    // Players let go and not yet destroyed on the players' thread.
    int playersHeldForServer() const { return m_players->going(); }
    // Calls into players and outputs queued and not yet made.
    int callsKeptForServer() const { return m_players->waiting(); }

signals:
    void playStarted(const QString& id);
    void playStopped(const QString& id);
    void allStopped();
    void positionChanged(const QString& id, qint64 positionMs, qint64 durationMs);
    void playbackError(const QString& id, const QString& errorString);
    // A start is heard: its sound has moved on in real time (or, for a run
    // that ended before that counted, its position moved before its end).
    void startHeard(const QString& id);
    // A start was not heard in time and a fresh player took over: the sound
    // goes on (a second stall ends it with playbackError).
    void startRetried(const QString& id, const QString& why);
    void waveformReady(const QString& path, const QList<float>& peaks);
    void outputLost();
    void outputRestored();
    // The sound server does not answer (nothing of the players is heard
    // meanwhile), and answers again.
    void soundServerStalled();
    void soundServerAnswers();

private slots:
    void onPlayerStateChanged(QMediaPlayer::PlaybackState state);
    void onPositionChanged(qint64 pos);
    void onPlayerError(QMediaPlayer::Error error, const QString& errorString);
    void onMediaStatusChanged(QMediaPlayer::MediaStatus status);
    void onSeekableChanged(bool seekable);
    void serverAnswersAgain();
    void serverStalled();

private:
    // AudioEngine.cpp: play, restart, the sound server, stops, lookups, the lost output.
    static bool readyToStart(const PlaybackSlot& s);
    using Retire = Players::How;
    bool canMakePlayers();
    // Every player let go goes here (see Players::letGo).
    void retirePlayer(MediaPlayer* player, MediaOutput* output, Retire how = Retire::AsItStands);
    void startPendingSlot(PlaybackSlot& s);
    void waitForSeek(PlaybackSlot& s);
    double appliedVolume(const PlaybackSlot& s) const;
    double outputLevel(const PlaybackSlot& s) const;
    void applyOutput(PlaybackSlot& s);
    void makePlayer(PlaybackSlot& s, const QAudioDevice& device, const QUrl& source);
    void scheduleRebuffer(const PlaybackSlot& s);
    bool readToFileEnd(const PlaybackSlot& s) const;
    void restartOnFreshPlayer(PlaybackSlot& s, qint64 startMs);
    void startRestart(PlaybackSlot& s, qint64 startMs);
    void silenceOutput(MediaOutput* output);
    void startWhenReady(PlaybackSlot& s, qint64 startMs);
    void detachPlayer(MediaPlayer* player);
    void endRun(PlaybackSlot& s);
    // Ends the slot's fade-in and retires its player and output.
    void releaseSlotMedia(PlaybackSlot& s);
    void noteEndedStream(const QString& id, const LoopStream& stream);
    void stopAtOnce(const QString& id);
    void emitStoppedAndMaybeAll(const QString& id);
    void seekAndPlay(PlaybackSlot& s);
    void connectPlayer(MediaPlayer* player);
    static QUrl sourceUrl(const QString& path);
    static bool hasAnyOutput();
    void reportNoOutput(const QString& id);
    void reportFailedStart(const QString& id, const QString& why);
    void watchForStalls(PlaybackSlot& s);
    void loseOutput();
    void probeOutput();
    void probeDone(bool moved);

    // AudioEngineFades.cpp: the fade-in, the fade-out before the end and a stop's fade.
    bool soundHeld();
    void holdClocks(qint64 stalledAtMs, qint64 answeredAtMs);
    void startFadeIn(PlaybackSlot& s);
    int fadeInStepsHeard(const PlaybackSlot& s) const;
    qint64 writePosMs(const PlaybackSlot& s) const;
    void updateEndFade(PlaybackSlot& s);
    void killEndFade(PlaybackSlot& s);
    void endFadeStep(QString id);   // a copy, as reachTrimOut's
    void fadeInTick(const QString& id, QTimer* timer);
    void stopFadeTick(const QString& id);
    int volumeHeardAfterMs(const PlaybackSlot& s) const;
    double stopFadeLeft(const PlaybackSlot& s) const;
    void stepStopFade(PlaybackSlot& s);
    bool stopFadeHeard(const PlaybackSlot& s) const;
    void finishStop(const QString& id);
    void killFadeIn(PlaybackSlot& s);
    void killStopFade(const QString& id);

    // AudioEngineClock.cpp: the sound clock, the trim-out and the start check.
    bool beingWritten(const QString& path);
    void noteStart(PlaybackSlot& s, qint64 startMs);
    void placeStart(PlaybackSlot& s, qint64 pos);
    void hearStart(PlaybackSlot& s);
    void reportHeard(const QString& id);
    void armStartCheck(PlaybackSlot& s, int ms);
    void startCheckFired(QString id);   // a copy: the slot may go
    void replaceStalledPlayer(PlaybackSlot& s);
    // Plays the slot's player from startMs and times its trim-out from now.
    void startFrom(PlaybackSlot& s, qint64 startMs, bool withFadeIn = true);
    void armTrimOut(PlaybackSlot& s);
    QTimer* slotTimer(PlaybackSlot& s, QTimer* PlaybackSlot::*field, void (AudioEngine::*fire)(QString));
    void killTrimOut(PlaybackSlot& s);
    void trimOutTimerFired(QString id);
    qint64 trimOutHeardAtMs(const PlaybackSlot& s) const;
    bool standsShortOfTrimOut(const PlaybackSlot& s) const;
    void reachTrimOut(QString id);   // a copy: the slot holding it goes
    bool stillArriving(const PlaybackSlot& s);

    // AudioEngineStream.cpp: loops and short sounds on their own stream; file-head facts.
    qint64 startPosFor(const QString& path, double trimIn);
    // What was read ahead of a file's header (see FileHeads).
    using FileHead = FileHeads::Head;
    static bool lookUpHead(const QString& path, FileHead* head);
    FileHead fileHeadOf(const QString& path);
    // startRefusal's last step: a trim-in at or past the end of the file.
    QString trimRefusal(const ButtonData& button);
    // Why no start can sound while the players' output is lost, for
    // startRefusal and play alike.
    QString lostOutputRefusal() const;
    // A press waiting for its file's header (see kHeadWaitMs).
    struct HeadWait
    {
        ButtonData button;
        QString deviceId;
        bool announce = true;
        bool streams = true;          // m_loopStreams when pressed
        QTimer* timer = nullptr;
    };
    bool waitForHead(const ButtonData& button, const QString& deviceId, bool announce);
    void headRead(const QString& path);
    // The waiting press plays now, its header read or (untold) not.
    void goOnWithPress(QString id, bool untold);   // a copy: the wait goes
    bool dropHeadWait(const QString& id);
    // The file's PCM rate when it is uncompressed PCM (else 0), by path.
    int pcmRateOf(const QString& path) { return fileHeadOf(path).pcmRate; }
    // How long a run of the slot plays, from its range or its file's
    // header; 0 when not known.
    qint64 playedLengthMs(const PlaybackSlot& s);
    bool wantsStream(const PlaybackSlot& s);
    void startStream(PlaybackSlot& s);
    void streamTick(QString id);   // a copy: the slot may go
    void moveStreamToPlayers(PlaybackSlot& s);

    // AudioEnginePlayers.cpp: the seamless loop, the players' reports and ends.
    void failPlayer(MediaPlayer* player, const QString& errorString);
    void queueFailureCheck(MediaPlayer* player);
    void restartLoop(PlaybackSlot& s);
    // The seamless loop: the next round's player, the timer that starts it,
    // the hand-over, and the players it leaves behind.
    void prepareNextRound(PlaybackSlot& s);
    void armWrap(PlaybackSlot& s);
    void wrapRound(QString id);   // a copy, as reachTrimOut's
    bool nextRoundReady(const PlaybackSlot& s) const;
    void releaseLoopPlayers(PlaybackSlot& s);
    void releaseTail(PlaybackSlot& s);
    qint64 heardEndAtMs(const PlaybackSlot& s) const;
    void releaseEndedMedia(QString id);   // a copy, as reachTrimOut's
    void purgeEndedSlot(const QString& keep);
    void holdEndedMedia(PlaybackSlot& s);

    // AudioEnginePrepare.cpp: players made ahead, devices, warm-up.
    void resolveDevice(const QString& deviceId);
    bool adoptBuffered(const QString& path, const QString& deviceId, PlaybackSlot& s);
    void makeBufferEntry(const QString& path, const QString& deviceId, const QAudioDevice& device,
                         bool afterPlay = false);
    void dropBufferEntry(BufferEntry& e);
    void schedule(int ms, std::function<void()> work);

    static AudioEngine* s_instance;

    QHash<QString, PlaybackSlot*> m_slots;
    QList<PlaybackSlot*> m_retired;   // records ended by a panic, freed from the event loop
        QHash<QString, QTimer*> m_stopFades;
    QString m_defaultDevice;
    QString m_cachedDeviceId;
    QAudioDevice m_cachedDevice;
    double m_globalVolume = 0.85;
    QHash<int, double> m_tabVolumes;
    QHash<QString, BufferEntry> m_buffer;
    quint64 m_bufferClock = 0;
    QSet<QString> m_primed;
    // The peaks of a file by path, with the stamp of the version they show.
    struct Waveform
    {
        FileCheck::Stamp stamp;
        QList<float> peaks;
    };
    mutable QMutex m_waveformMx;    // guards m_waveforms
    QHash<QString, Waveform> m_waveforms;
    Scheduler m_scheduler;
    qint64 m_startDelayMs = kFirstStartDelayMs;
    const BackendTiming m_timing = backendIsFfmpeg() ? kFfmpegTiming : kGstreamerTiming;
    QTimer* m_stallTimer = nullptr;
    qint64 m_lastStallCheckMs = 0;
    bool m_outputLost = false;
    Players* m_players = Players::instance();
    // When the server was found stalled (MonoClock); -1: it answers.
    qint64 m_stalledAtMs = -1;
    int m_probeDelayMs = kProbeFirstMs;
    QTimer* m_probeTimer = nullptr;
    MediaPlayer* m_probe = nullptr;
    bool m_loopStreams = true;
    // Whether the next play reports its start (a sound moved from its stream
    // to a player was reported when pressed).
    bool m_announceStart = true;
    // What the last look at a local file's size saw (see beingWritten).
    struct SizeLook
    {
        qint64 size = 0;
        qint64 lookedAtMs = 0;        // MonoClock time of the look
        bool grew = false;            // a look saw it grow
        qint64 grewAtMs = 0;          // the last such look
    };
    QHash<QString, SizeLook> m_sizeLooks;
    // The stream each id let go last: the id's next stream starts after it.
    QHash<QString, std::weak_ptr<LoopStream::Shared>> m_endedStreams;
    QHash<QString, HeadWait> m_headWaits;   // by id
    bool m_goOnUnread = false;      // the next play does not wait for a header
};
