#include "DirectSoundEngine.h"

#include "AudioOutput.h"
#include "FileHeads.h"
#include "KnownFiles.h"
#include "OpLog.h"
#include "PcmDecoder.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QMap>
#include <QMutexLocker>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>

namespace {

QString hexCode(quint32 code)
{
    return QString::number(code, 16);
}

// The engine's own decode pool, made on the first preload that decodes.
QThreadPool* decodePool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        const int ideal = QThread::idealThreadCount();
        p->setMaxThreadCount(ideal > 13 ? 6 : std::max(2, ideal / 2));
        return p;
    }();
    return pool;
}

// On the decode pool, for a range that decoded to nothing: what the file's
// header tells of a trim-in at or past the end of the file; else empty.
QString trimInPastEnd(const QString& path, double trimIn)
{
    PcmDecoder::Info info;
    if (!(trimIn > 0.0) || !PcmDecoder::probe(path, &info) || info.durationMs <= 0
        || trimIn * 1000.0 < double(info.durationMs))
        return {};
    return FileHeads::trimInPastEnd(trimIn, info.durationMs);
}

} // namespace

DirectSoundEngine* DirectSoundEngine::instance()
{
    static DirectSoundEngine* s_instance = new DirectSoundEngine(QCoreApplication::instance());
    return s_instance;
}

DirectSoundEngine::DirectSoundEngine(QObject* parent)
    : QObject(parent), m_decodeCache(std::make_shared<PcmDecode::DecodeCache>())
{
    // Queued even when a look on this thread tells it: a burst is gathered
    // here, never handled inside the look.
    connect(KnownFiles::instance(), &KnownFiles::filesSeen, this, &DirectSoundEngine::onFilesSeen,
            Qt::QueuedConnection);
}

DirectSoundEngine::~DirectSoundEngine()
{
    shutdown();
}

int DirectSoundEngine::dsVolume(float v)
{
    if (!(v > 0.0f)) // also NaN
        return BufferMixer::kVolumeMin;
    if (v >= 1.0f)
        return BufferMixer::kVolumeMax;
    const float db = 2000.0f * std::log10(v);
    const float t = std::trunc(db);
    if (t <= float(BufferMixer::kVolumeMin))
        return BufferMixer::kVolumeMin;
    return std::min(int(t), BufferMixer::kVolumeMax);
}

QByteArray DirectSoundEngine::decodePcm(const QString& path, double in, double out, float gain)
{
    return PcmDecode::decodePcm(path, in, out, gain);
}

QByteArray DirectSoundEngine::decodePcmCached(const QString& path, double in, double out, float gain)
{
    return m_decodeCache->decodeCached(path, in, out, gain);
}

void DirectSoundEngine::setDecoder(PcmDecode::DecodeCache::Decoder decoder)
{
    m_decodeCache = std::make_shared<PcmDecode::DecodeCache>(PcmDecode::DecodeCache::kDefaultCapacity,
                                                             std::move(decoder));
}

void DirectSoundEngine::setOutputFactory(OutputFactory factory)
{
    m_outputFactory = std::move(factory);
    m_opening.reset();   // one under way was asked of the factory before
}

namespace {

// The sound card: only a backend asked for by name, else ALSA. The null
// output that other engines fall back to would swallow every press here,
// while AudioEngine could still have played it.
std::unique_ptr<AudioOutput> openSoundCard()
{
    const AudioOutput::Backend backend =
        AudioOutput::backendForced() ? AudioOutput::preferredBackend() : AudioOutput::Backend::Alsa;
    return AudioOutput::openBackend(backend, BufferMixer::outputConfig());
}

} // namespace

struct DirectSoundEngine::OutputOpening
{
    std::mutex mx;
    std::condition_variable cv;
    bool done = false;
    std::unique_ptr<AudioOutput> output;
};

std::unique_ptr<AudioOutput> DirectSoundEngine::openedOutput()
{
    std::shared_ptr<OutputOpening> opening = m_opening;
    const bool begun = !opening;
    if (begun) {
        opening = m_opening = std::make_shared<OutputOpening>();
        // The thread holds nothing of the engine: an output that opens after
        // the engine stopped wanting it goes with the last holder.
        try {
            std::thread([opening, factory = m_outputFactory ? m_outputFactory : OutputFactory(&openSoundCard)] {
                std::unique_ptr<AudioOutput> out = factory();
                const std::lock_guard<std::mutex> lock(opening->mx);
                opening->output = std::move(out);
                opening->done = true;
                opening->cv.notify_all();
            }).detach();
        } catch (const std::exception&) {
            // No thread to open it on: this attempt fails like an output that
            // would not open, and the next retry tries again.
            m_opening.reset();
            return nullptr;
        }
    }
    std::unique_lock<std::mutex> lock(opening->mx);
    if (begun)
        opening->cv.wait_for(lock, std::chrono::milliseconds(kOpenWaitMs), [&] { return opening->done; });
    if (!opening->done)
        return nullptr;
    m_opening.reset();
    return std::move(opening->output);
}

// --- Initialisation ---------------------------------------------------------

bool DirectSoundEngine::init(void* windowHandle)
{
    Q_UNUSED(windowHandle);
    if (m_ready)
        return true;

    auto fail = [this](const QString& reason) {
        // The main window retries every 300 ms: log a reason once, not each time.
        if (reason != m_lastInitFailure) {
            m_lastInitFailure = reason;
            VX_LOG(QStringLiteral("[DSE] init failed: ") + reason);
        }
        emit initFailed(reason);
        return false;
    };

    std::unique_ptr<AudioOutput> output = openedOutput();
    if (!output && m_opening)
        return false;   // still opening: a later retry takes it up
    auto mixer = std::make_unique<BufferMixer>();
    const BufferMixer::Result opened = mixer->open(std::move(output));
    if (opened != BufferMixer::Ok)
        return fail(QStringLiteral("DirectSoundCreate8 failed: 0x%1").arg(hexCode(opened)));
    // Read before the render thread starts, which may grow it.
    const int openedQueue = mixer->queueFrames();

    // Taking the device for playback may fail once while it is busy: one retry.
    BufferMixer::Result started = mixer->start();
    if (started != BufferMixer::Ok)
        started = mixer->start();
    if (started != BufferMixer::Ok)
        return fail(QStringLiteral("SetCooperativeLevel failed: 0x%1").arg(hexCode(started)));

    m_mixer = std::move(mixer);
    m_openedQueueFrames = openedQueue;
    m_lastInitFailure.clear();
    m_ready = true;
    VX_LOG(QStringLiteral("[DSE] ready on %1").arg(m_mixer->output()->deviceName()));
    return true;
}

bool DirectSoundEngine::reopenOutput()
{
    if (!m_mixer)
        return false;
    if (m_mixer->open(openedOutput()) != BufferMixer::Ok)
        return false;
    m_openedQueueFrames = m_mixer->queueFrames();
    return m_mixer->start() == BufferMixer::Ok;
}

void DirectSoundEngine::playVoice(BufferMixer::Buffer* voice, bool looping)
{
    if (m_mixer->play(voice, looping) != BufferMixer::ErrBufferLost)
        return;
    // The endpoint's device went away: one new endpoint, one more play.
    if (tryReopen())
        m_mixer->play(voice, looping);
}

bool DirectSoundEngine::tryReopen()
{
    if (reopenOutput()) {
        m_reopenFailing = false;
        VX_LOG(QStringLiteral("[DSE] output lost; reopened on %1").arg(m_mixer->output()->deviceName()));
        if (m_outputDown) {
            m_outputDown = false;
            m_reopenDelayMs = kReopenFirstMs;
            if (m_reopenTimer)
                m_reopenTimer->stop();
            emit outputRestored(m_mixer->output()->deviceName());
        }
        return true;
    }
    if (!m_reopenFailing) {
        m_reopenFailing = true;
        VX_LOG(QStringLiteral("[DSE] output lost; no endpoint opens"));
    }
    return false;
}

// --- Preload and slot building ------------------------------------------------

QString DirectSoundEngine::Request::key() const
{
    return PcmDecode::cacheKey(path, trimIn, trimOut, gain) + QStringLiteral("|%1|%2").arg(fadeIn).arg(fadeOut);
}

bool DirectSoundEngine::preload(const QString& id, const QString& path, double trimIn, double trimOut,
                                float gain, bool loop, double fadeIn, double fadeOut)
{
    if (!m_ready || id.isEmpty() || path.isEmpty())
        return false;
    // A file that cannot be seen now is no reason to drop what was decoded
    // of it: only one that is there and differs is decoded anew.
    if (isStale(id)) {
        // Its voices keep the old samples until they are over.
        if (isPlaying(id) || m_pending.contains(id))
            return false;
        VX_LOG(QStringLiteral("[DSE] %1 changed on disk; decoding it anew (%2)").arg(id, path));
        evict(id);
    }
    {
        QMutexLocker lock(&m_slotMutex);
        if (m_slots.contains(id))
            return false;
    }
    if (!(trimIn == trimIn))
        trimIn = 0.0;
    // The decode reads a little past the window, so a range that goes on
    // beyond it shows itself. An end at or before the start reads "to the
    // end of the file" and is bounded the same way: a long file is never
    // pulled whole into memory.
    const double probeEnd = trimIn + kMaxDecodeSeconds + kOverrunProbeSeconds;
    if (trimOut <= 0.0 || !(trimOut > trimIn + 0.01) || trimOut > probeEnd)
        trimOut = probeEnd;

    Request request{id, path, trimIn, trimOut, gain, loop, fadeIn, fadeOut};
    // Found too long before: it stays with AudioEngine without a new decode.
    const auto overlong = m_overlong.constFind(id);
    if (overlong != m_overlong.constEnd()) {
        if (overlong->key == request.key()
            && !KnownFiles::changed(overlong->stamp, KnownFiles::instance()->stampOf(path)))
            return false;
        m_overlong.erase(overlong);
    }

    const quint64 ticket = ++m_nextTicket;
    m_pending.insert(id, ticket);

    auto* watcher = new QFutureWatcher<Samples>(this);
    connect(watcher, &QFutureWatcher<Samples>::finished, this, [=, this] {
        const Samples samples = watcher->result();
        watcher->deleteLater();
        buildSlot(request, ticket, samples);
    });
    std::shared_ptr<PcmDecode::DecodeCache> cache = m_decodeCache;
    watcher->setFuture(QtConcurrent::run(decodePool(), [cache, request] {
        FileCheck::Stamp stamp;
        Samples samples = takeSamples(
            request, cache->decodeCachedAtIdle(request.path, request.trimIn, request.trimOut, request.gain, &stamp));
        samples.stamp = stamp;
        return samples;
    }));
    return true;
}

void DirectSoundEngine::buildSlot(const Request& request, quint64 ticket, const Samples& samples)
{
    const QString& id = request.id;
    // Evicted or cleared while decoding: the result belongs to nothing now.
    if (!m_pending.contains(id, ticket))
        return;
    m_pending.remove(id, ticket);
    if (!m_mixer) {
        failPreload(id);
        return;
    }
    switch (samples.outcome) {
    case Samples::Ok:
        break;
    case Samples::Nothing:
        logDecodeFailure(id, request.path,
                         samples.why.isEmpty() ? QStringLiteral("nothing decoded")
                                               : samples.why + QStringLiteral("; left to the players, which say so"));
        markUnplayable(id);
        failPreload(id);
        return;
    case Samples::WrongFormat:
        logDecodeFailure(id, request.path, QStringLiteral("no 16-bit stereo 44100 Hz samples"));
        markUnplayable(id);
        failPreload(id);
        return;
    case Samples::Overlong:
        // Cut to the window it would stop early; AudioEngine plays it whole.
        m_overlong.insert(id, Overlong{request.key(), samples.stamp});
        m_decodeCache->forget(PcmDecode::cacheKey(request.path, request.trimIn, request.trimOut, request.gain));
        logDecodeFailure(id, request.path,
                         QStringLiteral("longer than %1 s, left to the players").arg(kMaxDecodeSeconds));
        markUnplayable(id);
        failPreload(id);
        return;
    }
    {
        // A second preload of the id finished first: keep what is stored.
        QMutexLocker lock(&m_slotMutex);
        if (m_slots.contains(id))
            return;
    }
    addSlot(request, samples);
}

// On the decode pool: the request's samples inside what was decoded, shaped
// by its fades.
DirectSoundEngine::Samples DirectSoundEngine::takeSamples(const Request& request, const QByteArray& decoded)
{
    Samples out;
    out.pcm = decoded;
    if (decoded.isEmpty()) {
        out.outcome = Samples::Nothing;
        out.why = trimInPastEnd(request.path, request.trimIn);
        return out;
    }
    if (decoded.startsWith("RIFF")) {
        // The whole file of the WAV reader: its data chunk, cut to the range
        // the decoder would have given.
        if (!PcmDecode::locateRiffSamples(decoded, &out.offset, &out.bytes)) {
            out.outcome = Samples::WrongFormat;
            return out;
        }
        qint64 skip = 0;
        qint64 length = 0;
        PcmDecode::rangeSlice(out.bytes, request.trimIn, request.trimOut, &skip, &length);
        out.offset += skip;
        out.bytes = length;
    } else {
        out.bytes = decoded.size();
    }
    out.bytes -= out.bytes % BufferMixer::kBytesPerFrame;
    if (out.bytes <= 0) {
        out.outcome = Samples::Nothing;
        return out;
    }
    if (out.bytes > PcmDecode::rangeByteLimit(0.0, kMaxDecodeSeconds)) {
        out.pcm.clear();
        out.outcome = Samples::Overlong;
        return out;
    }
    if (PcmDecode::hasFade(request.fadeIn) || PcmDecode::hasFade(request.fadeOut)) {
        // The fades are shaped into a copy of the range alone; the decode
        // cache keeps its block as it was decoded.
        out.pcm = decoded.mid(out.offset, out.bytes);
        out.offset = 0;
        PcmDecode::applyFades(out.pcm, request.fadeIn, request.fadeOut);
    }
    out.outcome = Samples::Ok;
    return out;
}

void DirectSoundEngine::addSlot(const Request& request, const Samples& samples)
{
    const qsizetype bytes = samples.bytes;
    Slot slot;
    const BufferMixer::Result hr = m_mixer->createBuffer(samples.pcm, samples.offset, bytes, &slot.master);
    if (hr != BufferMixer::Ok) {
        qWarning() << "[DSE] CreateSoundBuffer failed for" << request.id << "hr=" << hexCode(hr);
        failPreload(request.id);
        return;
    }
    slot.pcmBytes = quint32(bytes);
    slot.loop = request.loop;
    slot.gain = request.gain;
    slot.path = request.path;
    slot.stamp = samples.stamp;
    // The samples carry the button's gain already; the buffer adds only the master.
    m_mixer->setVolume(slot.master, dsVolume(m_masterVolume));
    if (!request.loop) {
        for (int i = 0; i < kDuplicates; ++i) {
            BufferMixer::Buffer* dup = nullptr;
            if (m_mixer->duplicate(slot.master, &dup) == BufferMixer::Ok)
                slot.duplicates.push_back(dup);
        }
    }
    const QString id = request.id;
    m_unplayable.remove(id);
    {
        QMutexLocker lock(&m_slotMutex);
        m_slots.insert(id, slot);
        m_durations.insert(id, qint64(double(slot.pcmBytes) / 176400.0 * 1000.0));
    }
    QMetaObject::invokeMethod(this, [this, id] { emit preloadDone(id); }, Qt::QueuedConnection);
    // Gone while it was decoded: its notice came before there was a sound
    // to tell of.
    bool known = false;
    if (!KnownFiles::instance()->lastSeen(slot.path, &known).exists() && known)
        gatherSeen(slot.path);
}

void DirectSoundEngine::markUnplayable(const QString& id)
{
    m_unplayable.insert(id);
}

void DirectSoundEngine::failPreload(const QString& id)
{
    // Queued, as preloadDone is: a caller of preload() hears the end after it returns.
    QMetaObject::invokeMethod(this, [this, id] { emit preloadFailed(id); }, Qt::QueuedConnection);
}

void DirectSoundEngine::logDecodeFailure(const QString& id, const QString& path, const QString& what)
{
    // The main window asks again for buttons that are not ready every 20 s:
    // say it once per button and file, not at every retry.
    const QString key = id + QLatin1Char('|') + path;
    if (m_failureLogged.contains(key))
        return;
    m_failureLogged.insert(key);
    VX_LOG(QStringLiteral("[DSE] %1 for %2 (%3)").arg(what, id, path));
}

bool DirectSoundEngine::slotFile(const QString& id, QString* path, FileCheck::Stamp* stamp) const
{
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.constFind(id);
    if (it == m_slots.constEnd() || !it->master)
        return false;
    *path = it->path;
    *stamp = it->stamp;
    return true;
}

// Neither looks at the disk: the file as last seen by KnownFiles.
bool DirectSoundEngine::isReady(const QString& id) const
{
    QString path;
    FileCheck::Stamp stamp;
    return slotFile(id, &path, &stamp) && !KnownFiles::instance()->changedSince(path, stamp);
}

bool DirectSoundEngine::isStale(const QString& id) const
{
    QString path;
    FileCheck::Stamp stamp;
    return slotFile(id, &path, &stamp) && KnownFiles::instance()->changedSince(path, stamp);
}

// A ready sound whose file went away goes on playing from memory. Each loss
// is logged once, and so is each return (the window tells the operator). A
// folder renamed away comes as one notice from the look that saw it; the
// notices of a burst (the watcher and the sweep can each see part of it)
// are gathered here on the GUI thread, by what KnownFiles last saw.
void DirectSoundEngine::onFilesSeen(const QStringList& paths)
{
    for (const QString& path : paths)
        gatherSeen(path);
}

void DirectSoundEngine::gatherSeen(const QString& path)
{
    if (!m_seenTimer) {
        m_seenTimer = new QTimer(this);
        m_seenTimer->setObjectName(QStringLiteral("dseFilesSeen"));
        m_seenTimer->setSingleShot(true);
        connect(m_seenTimer, &QTimer::timeout, this, &DirectSoundEngine::onSeenGathered);
    }
    if (m_seenGathered.isEmpty())
        m_seenSince.start();
    m_seenGathered.insert(path);
    const qint64 left = kSeenHoldMs - m_seenSince.elapsed();
    m_seenTimer->start(int(std::clamp<qint64>(left, 0, kSeenQuietMs)));
}

QHash<QString, QStringList> DirectSoundEngine::idsByFile(const QSet<QString>& files) const
{
    QHash<QString, QStringList> ids;
    QMutexLocker lock(&m_slotMutex);
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        if (it->master && files.contains(it->path))
            ids[it->path] << it.key();
    return ids;
}

QHash<QString, QStringList> DirectSoundEngine::soundsByFile() const
{
    QHash<QString, QStringList> ids;
    QMutexLocker lock(&m_slotMutex);
    for (auto it = m_slots.cbegin(); it != m_slots.cend(); ++it)
        if (it->master)
            ids[it->path] << it.key();
    return ids;
}

void DirectSoundEngine::onSeenGathered()
{
    const QSet<QString> files = std::exchange(m_seenGathered, {});
    const QHash<QString, QStringList> idsOf = idsByFile(files);
    for (const QString& path : files) {
        const QStringList ids = idsOf.value(path);
        if (!KnownFiles::instance()->lastSeen(path).exists()) {
            // Only the files of sounds held here: the window tells the
            // operator of every sound of the session.
            if (ids.isEmpty() || m_awayFiles.contains(path))
                continue;
            m_awayFiles.insert(path);
            for (const QString& id : ids)
                VX_LOG(QStringLiteral("[DSE] %1 cannot be seen on disk; %2 plays from memory").arg(path, id));
        } else if (m_awayFiles.remove(path) && !ids.isEmpty()) {
            VX_LOG(QStringLiteral("[DSE] %1 is back on disk").arg(path));
        }
    }
}

bool DirectSoundEngine::isSettled(const QString& id) const
{
    return m_unplayable.contains(id) || isReady(id);
}

// --- Starting and stopping ----------------------------------------------------

bool DirectSoundEngine::trigger(const QString& id, float vol)
{
    m_stopFades.remove(id);
    BufferMixer::Buffer* voice = nullptr;
    bool loop = false;
    {
        QMutexLocker lock(&m_slotMutex);
        auto it = m_slots.find(id);
        if (it == m_slots.end() || !it->master || !m_mixer)
            return false;
        loop = it->loop;
        it->pressVolume = vol;
        if (loop || it->duplicates.isEmpty()) {
            voice = it->master;
        } else {
            const int n = int(it->duplicates.size());
            const int index = it->nextDuplicate % n;
            voice = it->duplicates[index];
            it->nextDuplicate = (index + 1) % n;
        }
    }
    const int attenuation = dsVolume(vol * m_masterVolume);
    if (loop) {
        m_mixer->stop(voice);
        m_mixer->setCurrentPosition(voice, 0);
        m_mixer->setVolume(voice, attenuation);
        playVoice(voice, true);
    } else {
        m_mixer->setVolume(voice, attenuation);
        m_mixer->setCurrentPosition(voice, 0);
        playVoice(voice, false);
    }
    ensureMasterTimers();
    QMutexLocker lock(&m_slotMutex);
    m_currentVoice.insert(id, voice);
    return true;
}

bool DirectSoundEngine::triggerSingle(const QString& id, float vol)
{
    m_stopFades.remove(id);
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.find(id);
    if (it == m_slots.end() || !it->master || !m_mixer)
        return false;
    for (BufferMixer::Buffer* dup : std::as_const(it->duplicates))
        m_mixer->stop(dup);
    m_mixer->stop(it->master);
    m_mixer->setCurrentPosition(it->master, 0);
    it->pressVolume = vol;
    m_mixer->setVolume(it->master, dsVolume(vol * m_masterVolume));
    playVoice(it->master, it->loop);
    m_currentVoice.insert(id, it->master);
    lock.unlock();
    ensureMasterTimers();
    return true;
}

// The slot's press volume under the master volume: on the master always, on
// the duplicates while they play (an idle one gets its volume when pressed).
void DirectSoundEngine::applyVolume(Slot& slot)
{
    const int attenuation = dsVolume(slot.pressVolume * m_masterVolume);
    m_mixer->setVolume(slot.master, attenuation);
    for (BufferMixer::Buffer* dup : std::as_const(slot.duplicates)) {
        if (m_mixer->status(dup) & BufferMixer::StatusPlaying)
            m_mixer->setVolume(dup, attenuation);
    }
}

void DirectSoundEngine::setSoundVolume(const QString& id, float vol)
{
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.find(id);
    if (it == m_slots.end() || !it->master || !m_mixer)
        return;
    it->pressVolume = vol;
    applyVolume(*it);
}

bool DirectSoundEngine::setLoop(const QString& id, bool loop)
{
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.find(id);
    if (it == m_slots.end() || !it->master || !m_mixer)
        return false;
    it->loop = loop;
    // A sound that stops looping gets its duplicates for overlapping
    // presses; one that starts looping keeps them (a looping press uses the
    // master only), so a duplicate that sounds is never released under it.
    if (!loop && it->duplicates.isEmpty()) {
        for (int i = 0; i < kDuplicates; ++i) {
            BufferMixer::Buffer* dup = nullptr;
            if (m_mixer->duplicate(it->master, &dup) == BufferMixer::Ok)
                it->duplicates.push_back(dup);
        }
        it->nextDuplicate = 0;
    }
    return true;
}

void DirectSoundEngine::stopSlot(Slot& slot)
{
    for (BufferMixer::Buffer* dup : std::as_const(slot.duplicates))
        m_mixer->stop(dup);
    m_mixer->stop(slot.master);
}

void DirectSoundEngine::stop(const QString& id)
{
    m_stopFades.remove(id);
    QMutexLocker lock(&m_slotMutex);
    m_currentVoice.remove(id);
    auto it = m_slots.find(id);
    if (it != m_slots.end() && it->master && m_mixer)
        stopSlot(*it);
}

void DirectSoundEngine::stopAll()
{
    m_stopFades.clear();
    QMutexLocker lock(&m_slotMutex);
    if (!m_mixer)
        return;
    for (Slot& slot : m_slots) {
        if (slot.master)
            stopSlot(slot);
    }
}

bool DirectSoundEngine::isPlaying(const QString& id) const
{
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.constFind(id);
    if (it == m_slots.constEnd() || !it->master || !m_mixer)
        return false;
    if (m_mixer->status(it->master) & BufferMixer::StatusPlaying)
        return true;
    for (BufferMixer::Buffer* dup : it->duplicates) {
        if (m_mixer->status(dup) & BufferMixer::StatusPlaying)
            return true;
    }
    return false;
}

bool DirectSoundEngine::isMasterPlaying(const QString& id) const
{
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.constFind(id);
    if (it == m_slots.constEnd() || !it->master || !m_mixer)
        return false;
    return m_mixer->status(it->master) & BufferMixer::StatusPlaying;
}

qint64 DirectSoundEngine::positionMs(const QString& id) const
{
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.constFind(id);
    if (it == m_slots.constEnd() || !it->master || it->pcmBytes == 0 || !m_mixer)
        return -1;
    quint32 cursor = 0;
    m_mixer->currentPosition(it->master, &cursor);
    return qint64(double(cursor) / double(it->pcmBytes) * double(m_durations.value(id, 0)));
}

void DirectSoundEngine::setVolume(float v)
{
    m_masterVolume = v > 0.0f ? std::min(v, 1.0f) : 0.0f;
    QMutexLocker lock(&m_slotMutex);
    if (!m_mixer)
        return;
    for (Slot& slot : m_slots) {
        if (slot.master)
            applyVolume(slot);
    }
}

// --- Timers -------------------------------------------------------------------

void DirectSoundEngine::ensureMasterTimers()
{
    if (!m_cleanupTimer) {
        m_cleanupTimer = new QTimer(this);
        m_cleanupTimer->setInterval(kCleanupIntervalMs);
        connect(m_cleanupTimer, &QTimer::timeout, this, &DirectSoundEngine::onCleanupTick);
        m_cleanupTimer->start();
    }
    if (!m_positionTimer) {
        m_positionTimer = new QTimer(this);
        m_positionTimer->setInterval(kPositionIntervalMs);
        connect(m_positionTimer, &QTimer::timeout, this, &DirectSoundEngine::onPositionTick);
        m_positionTimer->start();
    }
}

void DirectSoundEngine::logQueueChange()
{
    const int frames = m_mixer ? m_mixer->queueFrames() : 0;
    if (frames == m_loggedQueueFrames)
        return;
    const auto ms = [](int f) { return QString::number(f * 1000.0 / BufferMixer::kRate, 'f', 1); };
    if (m_loggedQueueFrames > 0)
        VX_LOG(QStringLiteral("[DSE] output queue %1 ms (was %2 ms)").arg(ms(frames), ms(m_loggedQueueFrames)));
    m_loggedQueueFrames = frames;
}

void DirectSoundEngine::onPositionTick()
{
    if (!outputAvailable())
        return;
    logQueueChange();
    QMutexLocker lock(&m_slotMutex);
    QStringList ended;
    for (auto it = m_currentVoice.constBegin(); it != m_currentVoice.constEnd(); ++it) {
        BufferMixer::Buffer* voice = it.value();
        if (!voice || !m_mixer || !(m_mixer->status(voice) & BufferMixer::StatusPlaying)) {
            ended.append(it.key());
            continue;
        }
        quint32 cursor = 0;
        m_mixer->currentPosition(voice, &cursor);
        const auto slot = m_slots.constFind(it.key());
        const quint32 size = slot == m_slots.constEnd() ? 0 : slot->pcmBytes;
        if (size == 0)
            continue;
        const qint64 duration = m_durations.value(it.key(), 0);
        const qint64 pos = qint64(double(cursor) / double(size) * double(duration));
        const QString id = it.key();
        QMetaObject::invokeMethod(
            this, [this, id, pos, duration] { emit positionChanged(id, pos, duration); },
            Qt::QueuedConnection);
    }
    for (const QString& id : std::as_const(ended))
        m_currentVoice.remove(id);
}

void DirectSoundEngine::onCleanupTick()
{
    // Voices that ran out are dropped from the mixer's playing list and
    // buffers released since the last tick are freed, here on the GUI thread.
    QMutexLocker lock(&m_slotMutex);
    if (m_mixer)
        m_mixer->collect();
}

// --- Forgetting -------------------------------------------------------------------

void DirectSoundEngine::releaseSlot(Slot& slot)
{
    for (BufferMixer::Buffer* dup : std::as_const(slot.duplicates))
        m_mixer->release(dup);
    slot.duplicates.clear();
    if (slot.master) {
        m_mixer->stop(slot.master);
        m_mixer->release(slot.master);
        slot.master = nullptr;
    }
}

void DirectSoundEngine::evict(const QString& id)
{
    m_pending.remove(id);
    m_unplayable.remove(id);
    m_overlong.remove(id);
    m_stopFades.remove(id);
    QMutexLocker lock(&m_slotMutex);
    auto it = m_slots.find(id);
    if (it == m_slots.end() || !it->master)
        return;
    if (m_mixer)
        releaseSlot(*it);
    m_slots.erase(it);
    m_durations.remove(id);
    m_currentVoice.remove(id);
}

void DirectSoundEngine::clearAll()
{
    m_pending.clear();
    m_stopFades.clear();
    m_failureLogged.clear();
    m_awayFiles.clear();
    m_seenGathered.clear();
    if (m_seenTimer)
        m_seenTimer->stop();
    m_unplayable.clear();
    m_overlong.clear();
    QMutexLocker lock(&m_slotMutex);
    if (m_mixer) {
        for (Slot& slot : m_slots)
            releaseSlot(slot);
    }
    m_slots.clear();
    m_durations.clear();
    m_currentVoice.clear();
}

void DirectSoundEngine::shutdown()
{
    clearAll();
    if (m_mixer) {
        m_mixer->close();
        if (m_mixer->isAbandoned()) {
            // Its render thread would not end and may still read it.
            VX_LOG(QStringLiteral("[DSE] render thread did not stop; its mixer stays in memory"));
            (void)m_mixer.release();
        }
        m_mixer.reset();
    }
    m_ready = false;
    m_outputDown = false;
    m_reopenFailing = false;
    m_reopenDelayMs = kReopenFirstMs;
    if (m_reopenTimer)
        m_reopenTimer->stop();
}

// --- Stop fades -------------------------------------------------------------------

void DirectSoundEngine::stopWithFade(const QString& id, int fadeMs)
{
    if (fadeMs <= 0 || !m_mixer) {
        stop(id);
        return;
    }
    // Counted in frames the mixer mixes; a session may hold any length, and
    // the longest a voice can count is some 27 hours.
    const quint32 frames =
        quint32(std::min<qint64>(qint64(fadeMs) * BufferMixer::kRate / 1000, std::numeric_limits<quint32>::max()));
    QVector<BufferMixer::Buffer*> falling;
    {
        QMutexLocker lock(&m_slotMutex);
        auto it = m_slots.constFind(id);
        if (it == m_slots.constEnd() || !it->master)
            return;
        const auto fall = [&](BufferMixer::Buffer* voice) {
            if (!(m_mixer->status(voice) & BufferMixer::StatusPlaying))
                return;
            m_mixer->fadeOut(voice, std::max<quint32>(1, frames));
            falling.append(voice);
        };
        fall(it->master);
        for (BufferMixer::Buffer* dup : it->duplicates)
            fall(dup);
    }
    if (falling.isEmpty()) {
        stop(id);
        return;
    }
    m_stopFades.insert(id, falling);
    if (!m_fadeTimer) {
        m_fadeTimer = new QTimer(this);
        m_fadeTimer->setObjectName(QStringLiteral("dseStopFade"));
        m_fadeTimer->setInterval(kFadeTickMs);
        connect(m_fadeTimer, &QTimer::timeout, this, &DirectSoundEngine::onFadeTick);
    }
    if (!m_fadeTimer->isActive())
        m_fadeTimer->start();
}

// Looks at every running stop fade: once none of the voices given the fall
// sounds (each stopped itself at its end, silent, or ran out first), the id
// is stopped as stop() does.
void DirectSoundEngine::onFadeTick()
{
    QStringList done;
    {
        QMutexLocker lock(&m_slotMutex);
        for (auto f = m_stopFades.constBegin(); f != m_stopFades.constEnd(); ++f) {
            const bool sounding = m_mixer && m_slots.contains(f.key())
                && std::any_of(f->begin(), f->end(), [this](BufferMixer::Buffer* voice) {
                       return m_mixer->status(voice) & BufferMixer::StatusPlaying;
                   });
            if (!sounding)
                done.append(f.key());
        }
    }
    for (const QString& id : std::as_const(done))
        stop(id);
    if (m_stopFades.isEmpty() && m_fadeTimer)
        m_fadeTimer->stop();
}

// --- A lost output ------------------------------------------------------------------

bool DirectSoundEngine::outputAvailable()
{
    if (m_outputDown)
        return false;
    if (!m_mixer || !m_mixer->isOutputLost())
        return true;
    handleOutputLost();
    return false;
}

void DirectSoundEngine::handleOutputLost()
{
    m_outputDown = true;
    const QString device = m_mixer->output() ? m_mixer->output()->deviceName() : QString();
    m_stopFades.clear();
    {
        // Nothing is heard any more: every voice ends now, so that nothing
        // shows as playing and a later start begins afresh.
        QMutexLocker lock(&m_slotMutex);
        for (Slot& slot : m_slots)
            if (slot.master)
                stopSlot(slot);
        m_currentVoice.clear();
    }
    VX_LOG(QStringLiteral("[DSE] output %1 lost; its sounds stopped, reopening").arg(device));
    m_reopenDelayMs = kReopenFirstMs;
    scheduleReopen();
    emit outputLost(device);
}

void DirectSoundEngine::scheduleReopen()
{
    if (!m_reopenTimer) {
        m_reopenTimer = new QTimer(this);
        m_reopenTimer->setObjectName(QStringLiteral("dseReopen"));
        m_reopenTimer->setSingleShot(true);
        connect(m_reopenTimer, &QTimer::timeout, this, &DirectSoundEngine::onReopenTick);
    }
    m_reopenTimer->start(m_reopenDelayMs);
}

void DirectSoundEngine::onReopenTick()
{
    if (!m_outputDown || !m_mixer)
        return;
    if (tryReopen())
        return;
    m_reopenDelayMs = std::min(m_reopenDelayMs * 2, kReopenMaxMs);
    scheduleReopen();
}

// --- Views for tests ------------------------------------------------------------

DirectSoundEngine::SlotView DirectSoundEngine::slotView(const QString& id) const
{
    QMutexLocker lock(&m_slotMutex);
    SlotView v;
    auto it = m_slots.constFind(id);
    if (it == m_slots.constEnd())
        return v;
    v.master = it->master;
    v.duplicates = it->duplicates;
    v.nextDuplicate = it->nextDuplicate;
    v.pcmBytes = it->pcmBytes;
    v.loop = it->loop;
    v.gain = it->gain;
    v.pressVolume = it->pressVolume;
    v.durationMs = m_durations.value(id, 0);
    return v;
}

int DirectSoundEngine::slotCount() const
{
    QMutexLocker lock(&m_slotMutex);
    return int(m_slots.size());
}
