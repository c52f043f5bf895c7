#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// One bar of a band-split waveform: the peak below 300 Hz, between 300 and
// 4000 Hz, above 4000 Hz, and of the whole signal; each normalised to the
// loudest bar of its own band.
struct WaveBar
{
    float low = 0;
    float mid = 0;
    float high = 0;
    float full = 0;
};

// Where a WAV file's format and samples are, as the RIFF chunk walker found
// them. ok is false when the image is not a usable RIFF/WAVE.
struct WavLayout
{
    bool ok = false;
    int formatTag = 0;      // 1 integer PCM, 3 float; 0xFFFE resolved from the sub-format
    int channels = 0;
    int rate = 0;
    int bits = 0;
    qint64 dataOffset = -1; // byte offset of the samples
    qint64 dataSize = 0;    // bytes, cut to the end of the image
};

// Waveform bars from WAV (own reader), MP3 (through Mp3Decoder) and every
// other format FFmpeg reads (through PcmDecoder).
// Static and stateless; any thread, any number at once. Every failure gives
// an empty list (and a log line).
class WaveformDecoder
{
public:
    // n peaks in 0..1.
    static QList<float> decode(const QString& path, int n);
    // n band bars.
    static QList<WaveBar> decodeBands(const QString& path, int n);

    static bool hasFfmpeg() { return false; }
    static QString ffmpegPath() { return QString(); }

    // --- the pieces, for tests and other readers of WAV images ---
    // Walks the chunks of a RIFF/WAVE image for "fmt " and "data".
    static WavLayout walkWav(const QByteArray& image);
    // Mono floats (channels averaged) of a WAV image; sampleRate gets the
    // file's rate (44100 when it says 0). Empty when not readable.
    static QList<float> wavToFloat(const QByteArray& image, int& sampleRate);
    static QList<float> decodeWavToFloat(const QString& path, int& sampleRate);
    // Mono floats of an MP3 file (stereo mixed as (l + r) * 0.5).
    static QList<float> decodeMP3(const QString& path);
    // Mono floats of any other file FFmpeg can read, resampled to kOtherRate.
    static QList<float> decodeOtherToFloat(const QString& path);
    static QList<float> floatToBars(const QList<float>& samples, int n);
    static QList<WaveBar> floatToWaveBars(const QList<float>& samples, int n, int sampleRate);

    // Largest file read into memory (2 GiB); bigger files give no bars.
    static constexpr qint64 kMaxFileBytes = 2147483647LL;
    // MP3 samples kept at most (one hour of 48 kHz stereo).
    static constexpr qint64 kMaxMp3Samples = 345600000LL;
    // The rate the FFmpeg path decodes at.
    static constexpr int kOtherRate = 44100;
};
