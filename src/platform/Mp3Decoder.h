#pragma once
#include <QByteArray>
#include <QString>

typedef struct mpg123_handle_struct mpg123_handle;

// MP3 decoding to 32-bit float samples through libmpg123, with the results
// callers of a sample-accurate in-memory MP3 decoder expect:
// - open a whole file image from memory (gapless: encoder delay and padding
//   from the LAME/Xing header are removed);
// - channels(), sampleRate() of the first frame, totalSamples() counted over
//   all channels, exact (the stream is scanned at open);
// - readFloat() delivers interleaved floats nominally in -1..1 and returns
//   the number of samples (not frames) written; 0 at the end.
// Input that is not MP3 fails to open. One object per thread; any number of
// objects may work at once.
class Mp3Decoder
{
public:
    Mp3Decoder();
    ~Mp3Decoder();
    Mp3Decoder(const Mp3Decoder&) = delete;
    Mp3Decoder& operator=(const Mp3Decoder&) = delete;

    // The decoder keeps a shared reference to data until close().
    bool openBuffer(const QByteArray& data, QString* error = nullptr);
    // Reads the whole file into memory, then openBuffer.
    bool openFile(const QString& path, QString* error = nullptr);
    void close();
    bool isOpen() const { return m_h != nullptr; }

    int channels() const { return m_channels; }
    int sampleRate() const { return m_rate; }
    qint64 totalSamples() const { return m_totalSamples; }

    // Reads up to maxSamples interleaved float samples into out; returns the
    // count written (a multiple of channels()), 0 at the end or on error.
    qint64 readFloat(float* out, qint64 maxSamples);

    // Largest MP3 file openFile reads into memory.
    static constexpr qint64 kMaxFileBytes = 512LL * 1024 * 1024;

    // The in-memory file and the reader's position in it.
    struct Source
    {
        QByteArray data;
        qint64 pos = 0;
    };

private:
    mpg123_handle* m_h = nullptr;
    Source m_src;
    int m_channels = 0;
    int m_rate = 0;
    qint64 m_totalSamples = 0;
    bool m_eof = false;
};
