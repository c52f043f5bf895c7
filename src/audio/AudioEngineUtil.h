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

// The level a step of a player's fade sets, from what its ramp asks where
// the step's hold ends (dueAtHoldEnd) and where it is first heard (dueNow):
// never above the ramp, and down to nothing only once the ramp is there as
// heard, holding a faint tail until then. A last step shorter than one of
// the back end's blocks could be skipped, leaving the step before it (up to
// a tick's share of the fade) to be cut.
constexpr double kFadeTailLevel = 0.05;
inline double fadeStep(double dueAtHoldEnd, double dueNow)
{
    const double tail = std::clamp(dueNow, 0.0, kFadeTailLevel);
    return std::clamp(std::max(dueAtHoldEnd, tail), 0.0, 1.0);
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
