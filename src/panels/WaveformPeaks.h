#pragma once
#include <QList>
#include <cmath>

#include "WaveformDecoder.h"

// What the waveform widgets accept as peaks. Their setters take lists from
// any caller: a value that is not a finite number, or one below 0, counts as
// 0, so no bar height can reach the painter as NaN or infinity.
namespace WaveformPeaks {

inline float clean(float v)
{
    return std::isfinite(v) && v > 0.0f ? v : 0.0f;
}

inline QList<float> cleaned(QList<float> peaks)
{
    for (float& v : peaks)
        v = clean(v);
    return peaks;
}

// One peak per bar: its broadband (whole-signal) value.
inline QList<float> broadband(const QList<WaveBar>& bands)
{
    QList<float> peaks;
    peaks.reserve(bands.size());
    for (const WaveBar& b : bands)
        peaks.append(clean(b.full));
    return peaks;
}

} // namespace WaveformPeaks
