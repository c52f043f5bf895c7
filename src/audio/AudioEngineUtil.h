#pragma once
// Small helpers the files of AudioEngine share.
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace AudioEngineUtil {

// NaN and infinities from a bad caller become the lower bound.
inline double bounded(double v, double lo, double hi)
{
    if (!std::isfinite(v))
        return lo;
    return std::clamp(v, lo, hi);
}

inline int stepsFor(double ms)
{
    return std::max(1, int(ms * 0.0625));
}

// Stops a slot's timer and lets it go.
inline void dropTimer(QTimer*& timer)
{
    if (timer) {
        timer->stop();
        timer->deleteLater();
        timer = nullptr;
    }
}

} // namespace AudioEngineUtil
