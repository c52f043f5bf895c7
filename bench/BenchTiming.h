#pragma once
// Medians of repeated runs for the benchmarks.
#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <vector>

namespace BenchTiming {

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// The p-quantile (0..1) of v, between neighbouring values; NaN when empty.
inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const double pos = p * double(v.size() - 1);
    const size_t lo = size_t(pos), hi = std::min(v.size() - 1, lo + 1);
    return v[lo] + (v[hi] - v[lo]) * (pos - double(lo));
}

// The median of runs calls of f, in nanoseconds.
template <typename F>
double medianNs(int runs, F&& f)
{
    std::vector<double> t;
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        f();
        t.push_back(double(clock.nsecsElapsed()));
    }
    return median(t);
}

} // namespace BenchTiming
