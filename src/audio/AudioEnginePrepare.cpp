// The preparing half of AudioEngine: players made ahead of time, output device
// resolution, the primed mark, the back-end warm-up and waveform peaks.
#include "AudioEngine.h"

#include "MediaPlayer.h"
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
    if (m_buffer.contains(path) || m_outputLost || !m_players->stillOurs())
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
    e.output = device.isNull() ? new MediaOutput(this) : new MediaOutput(device, this);
    e.player = new MediaPlayer(this);
    MediaPlayer* player = e.player;
    MediaOutput* output = e.output;
    output->setVolume(0);
    player->setAudioOutput(output);
    player->setSource(QUrl::fromLocalFile(path));
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
        MediaOutput* fresh = m_cachedDevice.isNull() ? new MediaOutput(this) : new MediaOutput(m_cachedDevice, this);
        MediaPlayer* player = e.player;
        QPointer<MediaOutput> old = e.output;
        player->setAudioOutput(fresh);
        if (old)
            old->deleteLater();
        e.output = fresh;
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
// plugins and opened the sound server before the first real press: the
// players' thread does it in turn, and a press made meanwhile waits there
// behind it, not here. The player goes once it is heard to play (or ends,
// or fails), or kWarmupWaitMs after the start at the latest. A server that
// does not answer is not warmed up (the first press does it).
void AudioEngine::warmupBackend()
{
    const QString file = warmupFilePath();
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!QFile::exists(file))
        safeWriteFile(file, warmupWav());
    if (!FileCheck::isRegularFile(file) || !canMakePlayers() || !m_players->answering())
        return;

    auto* output = new MediaOutput(this);
    auto* player = new MediaPlayer(this);
    output->setVolume(0);
    player->setAudioOutput(output);
    player->setSource(QUrl::fromLocalFile(file));
    player->play();
    QPointer<MediaPlayer> warm(player);
    auto done = [this, warm, output] {
        if (warm)
            retirePlayer(warm, output, Retire::DropQueue);
    };
    connect(player, &MediaPlayer::positionChanged, this, [done](qint64 pos) {
        if (pos > 0)
            done();
    });
    connect(player, &MediaPlayer::mediaStatusChanged, this, [done](QMediaPlayer::MediaStatus st) {
        if (st == QMediaPlayer::EndOfMedia || st == QMediaPlayer::InvalidMedia)
            done();
    });
    QTimer::singleShot(kWarmupWaitMs, player, done);
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
