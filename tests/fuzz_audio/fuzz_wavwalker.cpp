// The RIFF/WAVE chunk walker and everything that reads a WAV image through it.
#include <QByteArray>

#include <cstdint>
#include <cstdlib>

#include "PcmDecode.h"
#include "WaveformDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray image = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const WavLayout l = WaveformDecoder::walkWav(image);
    if (l.ok) {
        if (l.dataOffset < 0 || l.dataOffset > qint64(size) || l.dataSize < 0
            || l.dataOffset + l.dataSize > qint64(size))
            abort();
    }
    int rate = 0;
    const QList<float> s = WaveformDecoder::wavToFloat(image, rate);
    if (rate <= 0)
        abort();
    if (!s.isEmpty()) {
        WaveformDecoder::floatToBars(s, 1 + int(size % 64));
        WaveformDecoder::floatToWaveBars(s, 1 + int(size % 32), rate);
    }
    qsizetype off = 0, len = 0;
    if (PcmDecode::locateRiffSamples(image, &off, &len)) {
        if (off < 0 || len <= 0 || len % 4 != 0 || off + len > qsizetype(size))
            abort();
        QByteArray copy(image.constData(), image.size());
        PcmDecode::applyGain(copy, off, len, 1.7f);
        if (copy.size() != image.size())
            abort();
    }
    return 0;
}
