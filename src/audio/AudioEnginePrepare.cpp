// The preparing half of AudioEngine: players made ahead of time, output device
// resolution, the primed mark, the back-end warm-up and waveform peaks.
#include "AudioEngine.h"

#include <QAudioOutput>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>
#include <QtEndian>
#include <cmath>

#include "FileCheck.h"
#include "KnownFiles.h"
#include "OpLog.h"
#include "SafeWrite.h"
#include "WaveformDecoder.h"

namespace {

void put32(QByteArray& b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

void put16(QByteArray& b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

// 50 ms of silence: mono, 8000 Hz, 16-bit PCM; 844 bytes in all.
QByteArray warmupWav()
{
    constexpr quint32 dataBytes = 800;
    QByteArray b;
    b.reserve(44 + int(dataBytes));
    b.append("RIFF", 4);
    put32(b, 36 + dataBytes);
    b.append("WAVE", 4);
    b.append("fmt ", 4);
    put32(b, 16);
    put16(b, 1);
    put16(b, 1);
    put32(b, 8000);
    put32(b, 16000);
    put16(b, 2);
    put16(b, 16);
    b.append("data", 4);
    put32(b, dataBytes);
    b.append(QByteArray(int(dataBytes), '\0'));
    return b;
}

QAudioDevice findOutput(const QString& deviceId)
{
    const QByteArray want = deviceId.toUtf8();
    const QList<QAudioDevice> outs = QMediaDevices::audioOutputs();
    for (const QAudioDevice& d : outs)
        if (d.id() == want)
            return d;
    return QAudioDevice();
}

} // namespace

void AudioEngine::setScheduler(Scheduler s)
{
    m_scheduler = std::move(s);
}

void AudioEngine::schedule(int ms, std::function<void()> work)
{
    if (m_scheduler)
        m_scheduler(ms, std::move(work));
    else
        QTimer::singleShot(ms, this, std::move(work));
}

// ---- devices ------------------------------------------------------------

void AudioEngine::resolveDevice(const QString& deviceId)
{
    if (deviceId == m_cachedDeviceId)
        return;
    m_cachedDeviceId = deviceId;
    m_cachedDevice = QAudioDevice();
    if (!deviceId.isEmpty())
        m_cachedDevice = findOutput(deviceId);
}

void AudioEngine::setDefaultDevice(const QString& deviceId)
{
    m_defaultDevice = deviceId;
}

QList<QAudioDevice> AudioEngine::audioDevices() const
{
    return QMediaDevices::audioOutputs();
}

void AudioEngine::primeDevice(const QString& deviceId)
{
    if (deviceId.isEmpty() || m_primed.contains(deviceId) || findOutput(deviceId).isNull())
        return;
    m_primed.insert(deviceId);
    schedule(30000, [this, deviceId] { m_primed.remove(deviceId); });
}

void AudioEngine::resetPrimedDevice(const QString& deviceId)
{
    m_primed.remove(deviceId);
}

// ---- pre-buffer table ---------------------------------------------------

void AudioEngine::preBuffer(const QList<QString>& paths)
{
    readHeadsAhead(paths);
    int delay = 0;
    int count = 0;
    for (const QString& path : paths) {
        if (path.isEmpty())
            continue;
        auto it = m_buffer.find(path);
        if (it != m_buffer.end()) {
            it->lastUse = ++m_bufferClock;
            continue;
        }
        // A path listed twice counts twice; its second timer finds it buffered.
        if (count >= kPreBufferPerCall)
            continue;
        schedule(delay, [this, path] {
            if (!m_buffer.contains(path))
                makeBufferEntry(path, QString(), QAudioDevice());
        });
        delay += kPreBufferSpacingMs;
        ++count;
    }
}

void AudioEngine::makeBufferEntry(const QString& path, const QString& deviceId, const QAudioDevice& device,
                                  bool afterPlay)
{
    if (m_buffer.contains(path) || m_outputLost || !serverStillOurs())
        return;
    if (!KnownFiles::instance()->lastSeen(path).exists() && FileCheck::kindOf(path) == FileCheck::Kind::NotRegular) {
        VX_LOG(QStringLiteral("[AudioEngine] cannot pre-buffer %1: not a regular file").arg(path));
        return;
    }
    // Each entry is a live pipeline with its own threads: keep the most
    // recently used ones only, and few of those made after a play.
    auto dropOldest = [this](bool onlyAfterPlay) {
        auto oldest = m_buffer.end();
        for (auto it = m_buffer.begin(); it != m_buffer.end(); ++it)
            if ((!onlyAfterPlay || it->afterPlay) && (oldest == m_buffer.end() || it->lastUse < oldest->lastUse))
                oldest = it;
        if (oldest == m_buffer.end())
            return;
        dropBufferEntry(*oldest);
        m_buffer.erase(oldest);
    };
    while (m_buffer.size() >= kMaxBufferEntries)
        dropOldest(false);
    if (afterPlay) {
        int made = 0;
        for (const BufferEntry& e : std::as_const(m_buffer))
            made += e.afterPlay;
        for (; made >= kRebufferKeep; --made)
            dropOldest(true);
    }
    BufferEntry e;
    e.stamp = KnownFiles::instance()->stampOf(path);   // before the player opens it
    e.output = device.isNull() ? new QAudioOutput(this) : new QAudioOutput(device, this);
    e.player = new QMediaPlayer(this);
    QMediaPlayer* player = e.player;
    QAudioOutput* output = e.output;
    setLevel(player, output, 0);
    callPlayer(player, output, Call::Other, [player, output, path] {
        player->setAudioOutput(output);
        player->setSource(QUrl::fromLocalFile(path));
    });
    e.deviceId = deviceId;
    e.afterPlay = afterPlay;
    e.lastUse = ++m_bufferClock;
    m_buffer.insert(path, e);
}

void AudioEngine::dropBufferEntry(BufferEntry& e)
{
    retirePlayer(std::exchange(e.player, nullptr), std::exchange(e.output, nullptr));
}

bool AudioEngine::adoptBuffered(const QString& path, const QString& deviceId, PlaybackSlot& s)
{
    auto it = m_buffer.find(path);
    if (it == m_buffer.end())
        return false;
    BufferEntry e = it.value();
    m_buffer.erase(it);
    // A player prepared for an earlier version of the file (saved over or
    // grown since) knows the old one's length: a new player opens it as it
    // is. One whose file cannot be seen now has it open still.
    if (e.deviceId != deviceId || !e.player || !e.output
        || KnownFiles::instance()->changedSince(path, e.stamp)) {
        dropBufferEntry(e);
        return false;
    }
    e.player->setParent(this);
    e.output->setParent(this);
    if (!backendIsFfmpeg()) {
        // GStreamer: a prepared player whose output sat idle reports its end
        // late by as long as it sat; with an output made now it ends on time.
        // The prepared pipeline is still used: only the sink is new.
        QAudioOutput* fresh = m_cachedDevice.isNull() ? new QAudioOutput(this) : new QAudioOutput(m_cachedDevice, this);
        QMediaPlayer* player = e.player;
        QPointer<QAudioOutput> old = e.output;
        callPlayer(player, fresh, Call::Other, [player, fresh, old] {
            player->setAudioOutput(fresh);
            if (old)
                old->deleteLater();
        });
        e.output = fresh;
    } else {
        QMediaPlayer* player = e.player;
        QAudioOutput* output = e.output;
        callPlayer(player, output, Call::Other, [player, output] { player->setAudioOutput(output); });
    }
    s.player = e.player;
    s.output = e.output;
    return true;
}

bool AudioEngine::backendIsFfmpeg()
{
    // Qt 6.4 takes GStreamer on Linux unless told otherwise.
    return qgetenv("QT_MEDIA_BACKEND").trimmed().toLower() == "ffmpeg";
}

void AudioEngine::clearBuffer()
{
    for (auto it = m_buffer.begin(); it != m_buffer.end(); ++it)
        dropBufferEntry(*it);
    m_buffer.clear();
}

// ---- warm-up ------------------------------------------------------------

QString AudioEngine::warmupFilePath()
{
    return QDir::tempPath() + QStringLiteral("/TarvelloRuzoru_Cache/warmup_silence.wav");
}

// Plays a short silent file once so that the media back end has loaded its
// plugins and opened the sound server before the first real press. Its
// player is asked through callPlayer and let go as any other: a server that
// stops answering meanwhile holds neither the start nor the window. One that
// does not answer at all is not warmed up (the first press does it).
void AudioEngine::warmupBackend()
{
    const QString file = warmupFilePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!QFile::exists(file))
        safeWriteFile(file, warmupWav());
    if (!FileCheck::isRegularFile(file) || !canMakePlayers() || !serverAnswering())
        return;

    auto* output = new QAudioOutput(this);
    auto* player = new QMediaPlayer(this);
    setLevel(player, output, 0);
    callPlayer(player, output, Call::Other, [player, output, file] {
        player->setAudioOutput(output);
        player->setSource(QUrl::fromLocalFile(file));
    });
    waitForWarmupStart(player);
    retirePlayer(player, output, Retire::DropQueue);
}

// Plays the warm-up player and waits up to kWarmupWaitMs for it to report
// playing, the event loop turning meanwhile.
void AudioEngine::waitForWarmupStart(QMediaPlayer* player)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    bool playing = false;
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(player, &QMediaPlayer::playbackStateChanged, &loop, [&](QMediaPlayer::PlaybackState st) {
        if (st == QMediaPlayer::PlayingState) {
            playing = true;
            loop.quit();
        }
    });
    callPlayer(player, nullptr, Call::Other, [player] { player->play(); });
    // Some back ends report playing from within play(); a quit before exec() would be lost.
    if (!playing) {
        timer.start(kWarmupWaitMs);
        loop.exec();
    }
}

// ---- waveform -----------------------------------------------------------

QList<float> AudioEngine::placeholderWaveform(int n)
{
    QList<float> out;
    if (n < 1)
        return out;
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / n * M_PI;
        double v = std::sin(7 * t) * 0.25 * std::sin(t) + 0.35
                   + 0.12 * std::sin(19 * t) * std::fabs(std::sin(2.7 * t));
        if (v > 0.95)
            v = 0.95;
        if (v <= 0.1)
            v = 0.1;
        out.append(float(v));
    }
    return out;
}

QList<float> AudioEngine::waveformData(const QString& path, int n)
{
    // Peaks are of one version of the file: a file saved over since is read
    // again; one that cannot be seen keeps its peaks.
    const FileCheck::Stamp stamp = KnownFiles::instance()->stampOf(path);
    {
        QMutexLocker lock(&m_waveformMx);
        auto it = m_waveforms.constFind(path);
        if (it != m_waveforms.constEnd() && !KnownFiles::changed(it->stamp, stamp))
            return it->peaks;
    }
    if (n < 1)
        return {};
    if (QThread::currentThread() == thread())
        VX_LOG(QStringLiteral("[AudioEngine] waveformData decodes on the engine's own thread: ") + path);
    // Decoded without the lock, so that other paths are served meanwhile.
    QList<float> peaks = WaveformDecoder::decode(path, n);
    if (peaks.isEmpty())
        peaks = placeholderWaveform(n);
    QMutexLocker lock(&m_waveformMx);
    // Another caller may have decoded the same version meanwhile: the first
    // stays. An earlier version's peaks give way.
    auto it = m_waveforms.constFind(path);
    if (it != m_waveforms.constEnd() && it->stamp == stamp)
        return it->peaks;
    m_waveforms.insert(path, Waveform{stamp, peaks});
    return peaks;
}
