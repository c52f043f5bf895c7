// The decoder entry: the bytes become a file (the first byte picks its
// suffix) that goes through the PCM decode with its WAV fallback, the
// waveform decoder and the MP3 decoder.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" {
#include <libavutil/log.h>
}

#include "Mp3Decoder.h"
#include "PcmDecode.h"
#include "WaveformDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)quiet;
    static QTemporaryDir dir;
    if (size < 1 || !dir.isValid())
        return 0;
    static const char* const suffixes[] = {"wav", "mp3", "flac", "ogg", "WAV", "bin"};
    const QString path = dir.filePath(QStringLiteral("input.") + QLatin1String(suffixes[data[0] % 6]));
    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        f.write(body);
    }
    // A range and a gain from the input too.
    const double in = (size > 2 ? data[1] % 8 : 0) * 0.05;
    const double out = size > 3 && data[2] % 2 ? in + 0.2 : 0.0;
    const QByteArray pcm = PcmDecode::decodePcm(path, in, out, size > 4 ? 0.5f + (data[3] % 4) * 0.5f : 1.0f);
    if (!pcm.startsWith("RIFF") && pcm.size() % 4 != 0)
        abort();
    if (out > 0 && !pcm.startsWith("RIFF") && pcm.size() > 44100 * 4)
        abort();
    WaveformDecoder::decodeBands(path, 1 + int(size % 50));
    WaveformDecoder::decode(path, 3);

    Mp3Decoder mp3;
    if (mp3.openBuffer(body)) {
        if (mp3.channels() < 1 || mp3.sampleRate() < 1 || mp3.totalSamples() < 1)
            abort();
        float buf[4096];
        qint64 total = 0;
        for (int i = 0; i < 64; ++i) {
            const qint64 n = mp3.readFloat(buf, 4096);
            if (n < 0 || n > 4096 || n % mp3.channels() != 0)
                abort();
            if (n == 0)
                break;
            total += n;
        }
    }
    QFile::remove(path);
    return 0;
}
