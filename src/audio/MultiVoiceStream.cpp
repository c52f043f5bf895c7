#include "MultiVoiceStream.h"

#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <utility>

MultiVoiceStream::MultiVoiceStream(QObject* parent)
    : QIODevice(parent)
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void MultiVoiceStream::trigger(const QByteArray& block, qint64 startByte)
{
    QByteArray released; // the block a replaced ring slot held, freed after the unlock
    std::lock_guard<std::mutex> lock(m_mx);
    const int slot = m_nextRing % kRing;
    m_nextRing = (m_nextRing + 1) % kRing;
    released = std::exchange(m_ring[slot], block);

    Voice& v = m_voices[m_nextVoice % kVoices];
    m_nextVoice = (m_nextVoice + 1) % kVoices;
    v.active.exchange(false);
    v.data = m_ring[slot].constData();
    v.length = m_ring[slot].size();
    v.position.exchange(startByte);
    v.active.exchange(true);
}

void MultiVoiceStream::stopAll()
{
    std::array<QByteArray, kRing> released;
    std::lock_guard<std::mutex> lock(m_mx);
    for (Voice& v : m_voices)
        v.active.store(false);
    released.swap(m_ring);
    m_nextRing = 0;
}

bool MultiVoiceStream::isAnyActive() const
{
    for (const Voice& v : m_voices)
        if (v.active.load())
            return true;
    return false;
}

qint64 MultiVoiceStream::readData(char* data, qint64 maxlen)
{
    if (!data || maxlen < 1)
        return 0;
    std::memset(data, 0, static_cast<size_t>(maxlen));
    std::lock_guard<std::mutex> lock(m_mx);
    const qint64 wanted = maxlen / 4;
    for (Voice& v : m_voices) {
        if (!v.active.load() || !v.data)
            continue;
        qint64 pos = v.position.load();
        if (pos < 0 || pos >= v.length) {
            v.active.store(false);
            continue;
        }
        const qint64 frames = std::min((v.length - pos) / 4, wanted);
        for (qint64 k = 0; k < frames; ++k) {
            char* o = data + k * 4;
            const char* s = v.data + pos + k * 4;
            for (int c = 0; c < 4; c += 2) {
                const int sum = int(qFromLittleEndian<qint16>(o + c)) + int(qFromLittleEndian<qint16>(s + c));
                qToLittleEndian<qint16>(qint16(std::clamp(sum, -32768, 32767)), o + c);
            }
        }
        pos += frames * 4;
        v.position.store(pos);
        // A tail shorter than one frame cannot be played: the voice ends there too.
        if (pos + 4 > v.length)
            v.active.store(false);
    }
    return maxlen;
}

qint64 MultiVoiceStream::writeData(const char*, qint64)
{
    return 0;
}
