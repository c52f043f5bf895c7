#pragma once
#include <QList>
#include <algorithm>
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

// The mean of the three peaks around fraction t of the track; past either
// end the nearest peak stands in. 0 without peaks or for a t that is not a
// number.
inline float meanAround(const QList<float>& peaks, double t)
{
    const qsizetype n = peaks.size();
    if (n == 0 || !std::isfinite(t))
        return 0.0f;
    const qsizetype k = qsizetype(std::clamp(n * t, -1.0, double(n)));
    auto at = [&](qsizetype i) { return peaks[std::clamp<qsizetype>(i, 0, n - 1)]; };
    return (at(k - 1) + at(k) + at(k + 1)) / 3.0f;
}

} // namespace WaveformPeaks
