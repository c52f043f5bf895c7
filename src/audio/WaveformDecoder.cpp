#include "WaveformDecoder.h"

QList<float> WaveformDecoder::decode(const QString&, int) { return {}; }
QList<WaveBar> WaveformDecoder::decodeBands(const QString&, int) { return {}; }
WavLayout WaveformDecoder::walkWav(const QByteArray&) { return {}; }
QList<float> WaveformDecoder::wavToFloat(const QByteArray&, int& r) { r = 44100; return {}; }
QList<float> WaveformDecoder::decodeWavToFloat(const QString&, int& r) { r = 44100; return {}; }
QList<float> WaveformDecoder::decodeMP3(const QString&) { return {}; }
QList<float> WaveformDecoder::floatToBars(const QList<float>&, int) { return {}; }
QList<WaveBar> WaveformDecoder::floatToWaveBars(const QList<float>&, int, int) { return {}; }
