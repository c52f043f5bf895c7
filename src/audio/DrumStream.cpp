#include "DrumStream.h"

#include <QtEndian>
#include <cstring>
#include <system_error>
#include <utility>

DrumStream::DrumStream(QObject* parent)
    : QIODevice(parent)
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

DrumStream::~DrumStream() = default;

const char* DrumStream::dataOf(const QByteArray* pcm)
{
    // A buffer without storage answers with Qt's shared empty data.
    return pcm ? pcm->constData() : nullptr;
}

int DrumStream::pickVoiceLocked()
{
    for (int i = 0; i < kVoices; ++i) {
        const int idx = (m_nextVoice + i) % kVoices;
        if (!m_voices[idx].active.load(std::memory_order_acquire))
            return idx;
    }
    // Every voice busy: the one at the cursor is cut off and restarted.
    return m_nextVoice;
}

void DrumStream::startLocked(int idx, const QByteArray* pcm, float volume)
{
    Voice& v = m_voices[idx];
    v.pcm = pcm;
    v.volume = volume;
    v.position = 0;
    v.fade = 1.0;
    v.fadeStep = 0.0;
    v.active.store(true, std::memory_order_seq_cst);
    m_nextVoice = (idx + 1) % kVoices;
}

void DrumStream::trigger(const QByteArray* pcm, float volume)
{
    if (!pcm || pcm->isEmpty())
        return;
    std::lock_guard<std::mutex> lock(m_mx);
    const int idx = pickVoiceLocked();
    m_voices[idx].active.exchange(false, std::memory_order_seq_cst);
    startLocked(idx, pcm, volume);
}

void DrumStream::triggerCopy(QByteArray pcm, float volume)
{
    if (pcm.isEmpty())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mx);
        const int idx = pickVoiceLocked();
        Voice& v = m_voices[idx];
        v.active.exchange(false, std::memory_order_seq_cst);
        // The voice's previous copy goes back into the argument and is released
        // with it, after the lock is gone.
        std::swap(v.ownPcm, pcm);
        startLocked(idx, &v.ownPcm, volume);
    }
}

void DrumStream::stopByPcm(const QByteArray* pcm)
{
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices)
        if (v.pcm == pcm)
            v.active.store(false);
}

void DrumStream::stopByPcmData(const char* data)
{
    if (!data)
        return;
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices)
        if (v.active.load() && dataOf(v.pcm) == data)
            v.active.store(false);
}

void DrumStream::fadeStopByPcm(const QByteArray* pcm, double step)
{
    if (!pcm || !(step > 0.0))
        return;
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices) {
        if (v.active.load() && v.pcm == pcm) {
            v.fade = 1.0;
            v.fadeStep = step;
        }
    }
}

void DrumStream::fadeStopByPcmData(const char* data, double step)
{
    if (!data || !(step > 0.0))
        return;
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices) {
        if (v.active.load() && dataOf(v.pcm) == data) {
            v.fade = 1.0;
            v.fadeStep = step;
        }
    }
}

void DrumStream::setVolumeByPcmData(const char* data, float volume)
{
    if (!data)
        return;
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices)
        if (v.active.load() && dataOf(v.pcm) == data)
            v.volume = volume;
}

void DrumStream::stopAll()
{
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices)
        v.active.store(false);
}

bool DrumStream::isVoiceActive(const char* data) const
{
    std::lock_guard<std::mutex> lock(m_mx);
    for (const Voice& v : m_voices)
        if (v.active.load() && dataOf(v.pcm) == data)
            return true;
    return false;
}

int DrumStream::activeVoiceCount() const
{
    std::lock_guard<std::mutex> lock(m_mx);
    int n = 0;
    for (const Voice& v : m_voices)
        n += v.active.load() ? 1 : 0;
    return n;
}

static inline qint16 clip16(float s)
{
    if (s >= 32767.0f)
        return 32767;
    if (s <= -32768.0f)
        return -32768;
    return static_cast<qint16>(s); // truncates toward zero
}

void DrumStream::mix(char* out, qint64 len)
{
    if (!out || len < 1)
        return;
    std::memset(out, 0, static_cast<size_t>(len));
    if (m_silenced.load())
        return;

    std::unique_lock<std::mutex> lock(m_mx, std::defer_lock);
    try {
        lock.lock();
    } catch (const std::system_error&) {
        return; // output already zeroed
    }

    const qint64 outFrames = len / kFrameBytes;
    for (Voice& v : m_voices) {
        if (!v.active.load(std::memory_order_acquire))
            continue;
        const QByteArray* pcm = v.pcm;
        const qint64 bufFrames = pcm ? pcm->size() / kFrameBytes : 0;
        if (!pcm || pcm->size() < kFrameBytes || v.position < 0 || v.position > bufFrames) {
            v.active.store(false);
            continue;
        }
        const char* src = pcm->constData();
        qint64 pos = v.position;
        double fade = v.fade;
        const double step = v.fadeStep;
        const float volume = v.volume;
        bool faded = false;
        for (qint64 k = 0; k < outFrames && pos < bufFrames; ++k) {
            if (step > 0.0) {
                fade -= step;
                // Half a step of slack absorbs rounding: a fade of 1/N ends on
                // its Nth frame.
                if (fade <= step * 0.5) {
                    fade = 0.0;
                    faded = true;
                    break;
                }
            }
            const float gain = volume * float(fade);
            char* o = out + k * kFrameBytes;
            const char* s = src + pos * kFrameBytes;
            const float l = float(qFromLittleEndian<qint16>(s)) * gain + float(qFromLittleEndian<qint16>(o));
            const float r = float(qFromLittleEndian<qint16>(s + 2)) * gain + float(qFromLittleEndian<qint16>(o + 2));
            qToLittleEndian<qint16>(clip16(l), o);
            qToLittleEndian<qint16>(clip16(r), o + 2);
            ++pos;
        }
        v.fade = fade;
        v.position = pos;
        if (faded || pos >= bufFrames)
            v.active.store(false);
    }
}

qint64 DrumStream::readData(char* data, qint64 maxlen)
{
    if (!data || maxlen < 1)
        return 0;
    m_reading.store(true);
    mix(data, maxlen); // zeros while silenced
    m_reading.store(false);
    return maxlen;
}

qint64 DrumStream::writeData(const char*, qint64)
{
    return 0;
}
