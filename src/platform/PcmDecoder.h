#pragma once
#include <QByteArray>
#include <QString>
#include <functional>

#include "AudioOutput.h"

// Decodes an audio file (anything FFmpeg reads) to interleaved PCM, by default
// 16-bit stereo 44100 Hz. Reentrant: each call has its own FFmpeg contexts,
// so any number may run at once on pool threads at any priority.
//
// - Sample-accurate start: output begins at frame round(startSec * rate) of
//   the converted stream; a start of 0.001 s or less starts at the beginning.
// - maxFrames limits the output (< 0: no limit; 0: nothing is read).
// - At the end the decoder and the resampler are flushed, so the tail is
//   complete; a 48 kHz source gives round(frames * 44100 / 48000) frames.
// - A packet the codec rejects as corrupt is skipped; a read error other than
//   the end of the file ends the stream with what was decoded so far.
// - Output is capped at kMaxOutputSeconds; a longer result is cut there.
// - A source rate outside kMinSourceRate..kMaxSourceRate is refused.
class PcmDecoder
{
public:
    struct Options
    {
        double startSec = 0.0;
        qint64 maxFrames = -1;
        int rate = 44100;
        int channels = 2;                       // 1 or 2
        SampleFormat format = SampleFormat::S16;
        // When set, the output goes here piece by piece as it is decoded
        // (on the decoding thread) instead of into out; a false answer ends
        // the decode there, as a full limit does.
        std::function<bool(const char* data, qint64 bytes)> consume;
        // A headerless PCM file (.sw: 16-bit 44100 Hz) says nothing of its
        // channels: their layout in FFmpeg's notation ("FR+FL+LFE"); empty:
        // mono. A file with a header says its own.
        QByteArray rawLayout;
    };

    struct Info
    {
        int sourceRate = 0;
        int sourceChannels = 0;
        QString codec;              // FFmpeg codec name
        qint64 corruptPackets = 0;  // packets skipped as corrupt
        bool readError = false;     // the stream ended on a read error
        bool truncated = false;     // cut at kMaxOutputSeconds
        qint64 durationMs = 0;      // the file's length as its header says; 0: unknown
    };

    static constexpr int kMaxOutputSeconds = 3600;
    // Source rates outside this range are refused as damaged.
    static constexpr int kMinSourceRate = 1000;
    static constexpr int kMaxSourceRate = 768000;

    // Decodes path; true with the PCM in out (or handed to options.consume) (possibly empty, e.g. a start
    // past the end), false with a one-line reason in error when the file
    // cannot be opened or holds no decodable audio stream.
    static bool decode(const QString& path, const Options& options, QByteArray* out,
                       QString* error = nullptr, Info* info = nullptr);

    // Reads only what the file's header says of its audio stream: the source
    // rate and channels, the codec's name and the length. False when the file
    // cannot be opened or holds no audio stream.
    static bool probe(const QString& path, Info* info);

    // 16-bit stereo 44100 Hz from startSec, at most maxFrames frames; empty on
    // any failure.
    static QByteArray decodeS16Stereo44100(const QString& path, double startSec, qint64 maxFrames,
                                           QString* error = nullptr);
};
