#include "PcmDecoder.h"

bool PcmDecoder::decode(const QString&, const Options&, QByteArray* out, QString* error, Info*)
{
    if (out)
        out->clear();
    if (error)
        *error = QStringLiteral("decoder not available yet");
    return false;
}

QByteArray PcmDecoder::decodeS16Stereo44100(const QString& path, double startSec, qint64 maxFrames,
                                            QString* error)
{
    Options o;
    o.startSec = startSec;
    o.maxFrames = maxFrames;
    QByteArray out;
    decode(path, o, &out, error);
    return out;
}
