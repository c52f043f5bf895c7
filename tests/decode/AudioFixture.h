#pragma once
#include <QString>
#include <QVector>

// Test fixtures in compressed formats, encoded through libavcodec at run
// time, so no audio file is kept in the repository.
namespace AudioFixture {

enum class Codec { Mp3, Flac, Vorbis };

// Encodes interleaved 16-bit samples into path (container from the codec:
// .mp3, .flac, .ogg). false with a reason on failure (for instance an
// encoder missing from this libavcodec).
bool encode(const QString& path, Codec codec, const QVector<qint16>& samples, int channels, int rate,
            QString* error = nullptr, int bitrate = 192000);

// Whether libavcodec has the encoder.
bool hasEncoder(Codec codec);

} // namespace AudioFixture
