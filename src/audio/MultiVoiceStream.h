#pragma once
#include <QByteArray>
#include <QIODevice>

#include <array>
#include <atomic>
#include <mutex>

// A small pull-mode mixer of 8 voices of 16-bit stereo PCM. The last 32 blocks
// handed to trigger() are kept in a ring so the memory the voices point into
// stays alive; voices rotate strictly, so a ring slot is only replaced long
// after the last voice that read it was taken over.
class MultiVoiceStream : public QIODevice
{
    Q_OBJECT
public:
    static constexpr int kVoices = 8;
    static constexpr int kRing = 32;

    explicit MultiVoiceStream(QObject* parent = nullptr);

    // Starts the next voice (taking it over when busy) on block from byte start.
    void trigger(const QByteArray& block, qint64 startByte);
    void stopAll();
    bool isAnyActive() const;

    // A live stream: no seeking, no size, and no read-ahead inside QIODevice
    // (a sink's pull reaches the mixer directly).
    bool isSequential() const override { return true; }

signals:
    void voiceEnded();

protected:
    qint64 readData(char* data, qint64 maxlen) override;
    qint64 writeData(const char* data, qint64 len) override;

private:
    struct Voice
    {
        const char* data = nullptr;
        qint64 length = 0;
        std::atomic<qint64> position{0};
        std::atomic<bool> active{false};
    };

    std::array<Voice, kVoices> m_voices;
    int m_nextVoice = 0;
    std::array<QByteArray, kRing> m_ring;
    int m_nextRing = 0;
    mutable std::mutex m_mx;
};
