#pragma once
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QMultiHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

#include "BufferMixer.h"
#include "PcmDecode.h"

class QTimer;
class AudioOutput;

// The pre-decoded button player. Each ready button keeps its trimmed range
// (at most 30 seconds) as PCM in a static mixer buffer, plus eight duplicates
// sharing those samples for the overlapping presses of rapid buttons, so a
// press costs a volume, a rewind and a play, never a file or a decoder.
// A range longer than 30 seconds is never made ready: it would be heard cut
// short, so such a button keeps playing whole through AudioEngine.
//
// Not ready until init() succeeds; until then preload() does nothing and
// every button plays through AudioEngine. It answers by signals only; no
// signal reports that a sound ended. Every operation belongs to the GUI
// thread; decoding runs on the engine's own pool at idle priority.
class DirectSoundEngine : public QObject
{
    Q_OBJECT
public:
    static DirectSoundEngine* instance();
    ~DirectSoundEngine() override;

    // Opens the mixer on the output; true when ready (at once when already
    // ready). The window handle has no use on this platform.
    bool init(void* windowHandle);
    bool isInitialized() const { return m_ready; }

    // What a press over a playing sound waits for: the frames the output
    // keeps queued ahead of it, at BufferMixer::kRate. openedQueueFrames() is
    // the queue the output opened with (what it keeps when nothing went
    // wrong), queueFrames() the queue now, which grows after dropouts and
    // comes back down later. Both 0 while not initialised.
    int openedQueueFrames() const { return m_ready ? m_openedQueueFrames : 0; }
    int queueFrames() const { return m_ready && m_mixer ? m_mixer->queueFrames() : 0; }

    // Decodes [trimIn, trimOut] (trimOut <= 0 means to the end of the file)
    // in the background and builds the id's buffers on the GUI thread, then
    // emits preloadDone. A range that turns out longer than the 30 s window
    // gets no buffers (it is remembered, so it is not decoded again), and
    // neither does a file that decodes to nothing. fadeIn and fadeOut (in
    // seconds, 10 ms or less meaning none) are shaped into the samples, as
    // the gain is. Nothing while not initialised, for an empty id or path,
    // when the id already has its buffers, or when the same range of the
    // same file was found too long before. True when a decode was queued:
    // preloadDone or preloadFailed follows.
    // An id whose buffers were built from an earlier version of its file
    // (see isStale) has them dropped and the file decoded anew, unless one
    // of its voices still sounds: then nothing happens until it is over. A
    // file that cannot be seen (moved away, deleted, its disk gone) keeps
    // its buffers: they play on from memory.
    bool preload(const QString& id, const QString& path, double trimIn, double trimOut, float gain,
                 bool loop, double fadeIn, double fadeOut);
    // Has buffers, and its file, as KnownFiles last saw it, is the version
    // they were built from or cannot be seen. Never waits on the disk.
    bool isReady(const QString& id) const;
    // Has buffers, but the file is there in a version other than the one
    // they were built from (replaced, rewritten or grown since): not ready,
    // and the next preload of the id decodes it anew.
    bool isStale(const QString& id) const;
    // The ids of the sounds held here, by the file each was made from.
    QHash<QString, QStringList> soundsByFile() const;
    // Ready, or its last preload ended without buffers (the file did not
    // decode, or its range does not fit the window): nothing more will come
    // of waiting for it.
    bool isSettled(const QString& id) const;

    // A new overlapping voice (rapid buttons): the next duplicate in turn, or
    // the master restarted, looping, for a looping sound. vol scales the
    // sound as it was loaded (whose samples already carry its gain).
    bool trigger(const QString& id, float vol);
    // Stops the id's voices and plays the master from the start.
    bool triggerSingle(const QString& id, float vol);
    // The press volume of every voice of the id, playing ones at once (a tab
    // volume change); later presses set their own.
    void setSoundVolume(const QString& id, float vol);
    // Changes the loop flag of a ready sound without touching what plays:
    // the new flag is heard from the next press. False when the id has no
    // buffers.
    bool setLoop(const QString& id, bool loop);
    // Stops every voice of the id (the master keeps its cursor).
    void stop(const QString& id);
    // Lowers the id's playing voices to silence over fadeMs, sample by
    // sample as they are mixed (see BufferMixer::fadeOut), so the fall is
    // heard whole however late this thread runs; each voice stops itself,
    // silent, where its fall ends. Once none sounds, a poll every
    // kFadeTickMs does what stop() does. A new trigger of the id, stop,
    // evict or a lost output ends the fade; a volume set meanwhile is
    // followed by what is left of the fall. fadeMs <= 0, or no voice
    // playing, stops at once.
    void stopWithFade(const QString& id, int fadeMs);
    bool isFadingOut(const QString& id) const { return m_stopFades.contains(id); }
    void stopAll();
    // The master or any duplicate sounds.
    bool isPlaying(const QString& id) const;
    bool isMasterPlaying(const QString& id) const;
    // The master's position in ms, -1 without buffers.
    qint64 positionMs(const QString& id) const;
    // Master volume 0..1, applied at once to every master buffer and to the
    // duplicates that play (each with its sound's press volume), and to
    // every later start.
    void setVolume(float v);
    float volume() const { return m_masterVolume; }

    void evict(const QString& id);
    void clearAll();
    // clearAll, then closes the mixer; not ready any more.
    void shutdown();

    // Linear gain to attenuation in hundredths of a decibel: v <= 0 gives
    // -10000, v >= 1 gives 0, else trunc(2000 * log10(v)) clamped to
    // -10000..0, in single precision.
    static int dsVolume(float v);

    // False while the output is lost and not open again. The first call that
    // finds the output gone reports it: every voice stops, outputLost is
    // emitted once, and the output is opened again by itself, retried after
    // kReopenFirstMs, then at doubling delays up to kReopenMaxMs, until
    // outputRestored. The 200 ms position timer makes the same check.
    bool outputAvailable();

    // Starts the 200 ms position timer and the 2000 ms cleanup timer once.
    void ensureMasterTimers();

    // The decoder and the cached decode behind preload (the cache holds 200
    // blocks and 128 MiB, oldest out first, and lives as long as the engine).
    static QByteArray decodePcm(const QString& path, double in, double out, float gain);
    QByteArray decodePcmCached(const QString& path, double in, double out, float gain);

    // --- for tests and benchmarks ---------------------------------------

    // Where init() gets its endpoint. The default opens the backend forced by
    // TR_AUDIO_OUTPUT, else ALSA only: without a sound device init fails and
    // the buttons keep playing through AudioEngine rather than into nothing.
    // It is called on a thread of its own (see openedOutput).
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>()>;
    void setOutputFactory(OutputFactory factory);
    // Replaces the decoder behind the cache (and empties the cache); an
    // empty function restores decodePcm.
    void setDecoder(PcmDecode::DecodeCache::Decoder decoder);
    BufferMixer* mixer() const { return m_mixer.get(); }

    struct SlotView
    {
        BufferMixer::Buffer* master = nullptr;
        QVector<BufferMixer::Buffer*> duplicates;
        int nextDuplicate = 0;
        quint32 pcmBytes = 0;
        bool loop = false;
        float gain = 1.0f;
        float pressVolume = 1.0f;
        qint64 durationMs = 0;
    };
    // A copy of the id's slot; master null when there is none.
    SlotView slotView(const QString& id) const;
    int slotCount() const;
    // Blocks the decode cache holds, and their bytes.
    int decodeCacheSize() const { return m_decodeCache->size(); }
    qint64 decodeCacheBytes() const { return m_decodeCache->bytes(); }
    int pendingPreloads() const { return m_pending.size(); }

    static constexpr int kDuplicates = 8;
    static constexpr double kMaxDecodeSeconds = 30.0;
    // How far past the window a decode reads, to tell a range that fits
    // from one that goes on.
    static constexpr double kOverrunProbeSeconds = 0.05;
    static constexpr int kPositionIntervalMs = 200;
    static constexpr int kCleanupIntervalMs = 2000;
    static constexpr int kFadeTickMs = 16;
    static constexpr int kReopenFirstMs = 250;
    static constexpr int kReopenMaxMs = 4000;
    // How long the window's thread waits for an output being opened.
    static constexpr int kOpenWaitMs = 100;
    // Notices of files gone or back are told once none came for
    // kSeenQuietMs, or kSeenHoldMs after the first at the latest (a slow
    // share's looks trickle in).
    static constexpr int kSeenQuietMs = 300;
    static constexpr int kSeenHoldMs = 3000;

signals:
    void preloadDone(QString id);
    // A pre-load that preload() queued ended without a sound: nothing
    // decoded, no samples this engine plays, too long for it, or no buffer
    // for it. One evicted or cleared before it ended sends neither signal.
    void preloadFailed(QString id);
    void positionChanged(QString id, qint64 posMs, qint64 durMs);
    void initFailed(QString reason);
    // The output device went away (device: its name); the engine's sounds
    // were stopped.
    void outputLost(QString device);
    // An output opened again after outputLost.
    void outputRestored(QString device);

private slots:
    void onPositionTick();
    void onCleanupTick();
    void onFadeTick();
    void onReopenTick();
    void onFilesSeen(const QStringList& paths);
    void onSeenGathered();

private:
    explicit DirectSoundEngine(QObject* parent);

    struct Slot
    {
        BufferMixer::Buffer* master = nullptr;
        quint32 pcmBytes = 0;
        bool loop = false;
        QVector<BufferMixer::Buffer*> duplicates;
        int nextDuplicate = 0;
        float gain = 1.0f;
        float pressVolume = 1.0f; // the last press or tab volume given
        QString path;
        FileCheck::Stamp stamp;   // the file's, when it was decoded
    };

    // What a preload asked for, carried to the slot built from its decode.
    struct Request
    {
        QString id;
        QString path;
        double trimIn = 0.0;
        double trimOut = 0.0; // the end handed to the decoder
        float gain = 1.0f;
        bool loop = false;
        double fadeIn = 0.0;
        double fadeOut = 0.0;
        QString key() const;
    };

    // What a decode gave for a request: bytes [offset, offset + bytes) of
    // pcm, shaped by the request's fades, when the outcome is Ok.
    struct Samples
    {
        enum Outcome { Ok, Nothing, WrongFormat, Overlong };
        Outcome outcome = Nothing;
        QByteArray pcm;
        qsizetype offset = 0;
        qsizetype bytes = 0;
        FileCheck::Stamp stamp;   // of the file decoded
        QString why;              // what left Nothing, when known
    };
    static Samples takeSamples(const Request& request, const QByteArray& decoded);
    void buildSlot(const Request& request, quint64 ticket, const Samples& samples);
    void addSlot(const Request& request, const Samples& samples);
    // The id's slot as a copy of its path and stamp; false without buffers.
    bool slotFile(const QString& id, QString* path, FileCheck::Stamp* stamp) const;
    void markUnplayable(const QString& id);
    // Tells of a queued pre-load that ended without a sound (preloadFailed).
    void failPreload(const QString& id);
    // Keeps a file KnownFiles saw other than before, to be told of with the
    // rest of its burst.
    void gatherSeen(const QString& path);
    // The ids of the sounds here made from each of the files.
    QHash<QString, QStringList> idsByFile(const QSet<QString>& files) const;
    void logDecodeFailure(const QString& id, const QString& path, const QString& what);
    void releaseSlot(Slot& slot);
    void stopSlot(Slot& slot);
    void applyVolume(Slot& slot);
    // Plays on the mixer; a lost output is reopened once and the play tried
    // again (its result then ignored).
    void playVoice(BufferMixer::Buffer* voice, bool looping);
    bool reopenOutput();
    // Reopens after a loss; reports a return from outputLost.
    bool tryReopen();
    void handleOutputLost();
    // Writes a line to the log when the output's queue grew or shrank.
    void logQueueChange();
    void scheduleReopen();
    // An output opened on a thread of its own: opening one asks the sound
    // server, which can keep it waiting for as long as it stalls. The call
    // that begins an open waits for it up to kOpenWaitMs; calls while it is
    // still under way do not wait. nullptr: none opened (yet).
    std::unique_ptr<AudioOutput> openedOutput();

    // The decode cache is shared with tasks still running on the pool.
    std::shared_ptr<PcmDecode::DecodeCache> m_decodeCache;
    bool m_ready = false;
    float m_masterVolume = 1.0f;
    mutable QMutex m_slotMutex;
    QHash<QString, Slot> m_slots;
    QHash<QString, qint64> m_durations;
    QHash<QString, BufferMixer::Buffer*> m_currentVoice;
    // Preloads in flight by id, each with its ticket; evict and clearAll
    // drop them so a late result never revives a forgotten sound.
    QMultiHash<QString, quint64> m_pending;
    quint64 m_nextTicket = 0;
    QTimer* m_cleanupTimer = nullptr;
    QTimer* m_positionTimer = nullptr;
    std::unique_ptr<BufferMixer> m_mixer;
    OutputFactory m_outputFactory;
    struct OutputOpening;
    std::shared_ptr<OutputOpening> m_opening;   // an open under way, or done and not taken
    QSet<QString> m_failureLogged; // "id|path" of decode failures already logged
    // Files of sounds here told away and not back yet; the files seen
    // other since the last telling, and when the first of them was.
    QSet<QString> m_awayFiles;
    QSet<QString> m_seenGathered;
    QElapsedTimer m_seenSince;
    QTimer* m_seenTimer = nullptr;
    // Ids whose last preload gave no buffers, and the requests found longer
    // than the window (by id), which are not decoded again.
    QSet<QString> m_unplayable;
    struct Overlong
    {
        QString key;                // Request::key
        FileCheck::Stamp stamp;     // of the file found too long
    };
    QHash<QString, Overlong> m_overlong;
    QString m_lastInitFailure;
    bool m_reopenFailing = false;

    // Ids whose voices are falling in the mixer, each with the voices
    // given the fall.
    QHash<QString, QVector<BufferMixer::Buffer*>> m_stopFades;
    QTimer* m_fadeTimer = nullptr;
    bool m_outputDown = false;   // lost, reported, not open again yet
    int m_loggedQueueFrames = 0; // the output queue the log last told of
    int m_openedQueueFrames = 0; // the queue the current output opened with
    int m_reopenDelayMs = kReopenFirstMs;
    QTimer* m_reopenTimer = nullptr;
};
