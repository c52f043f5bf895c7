#pragma once
// Medians of repeated runs for the benchmarks.
#include <QElapsedTimer>
#include <algorithm>
#include <vector>

namespace BenchTiming {

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
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
