#pragma once
// Timing, medians and percentiles of repeated runs for the benchmarks.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace BenchTiming {

// The middle sample (the upper one of an even count); 0 without samples.
template <typename T>
double median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : double(v[v.size() / 2]);
}

// The sample at rank size * q of the sorted samples (q = 0.99: the 99th
// percentile as the grid and search benchmarks take it); 0 without samples.
template <typename T>
double upperRank(std::vector<T> v, double q)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : double(v[std::min(v.size() - 1, size_t(double(v.size()) * q))]);
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

// One line of figures in ms: "what: median, p10, p90, min, max (count)".
inline void printSpreadMs(const char* what, const std::vector<double>& v)
{
    std::printf("%s: median %.1f ms, p10 %.1f, p90 %.1f, min %.1f, max %.1f (%zu)\n", what, percentile(v, 0.5),
                percentile(v, 0.1), percentile(v, 0.9), percentile(v, 0), percentile(v, 1), v.size());
}

// The nearest-rank p-quantile (0..1): the sample at p * (size - 1),
// rounded; 0 without samples.
inline double nearestRank(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

// The median, the 10th and 90th nearest-rank percentiles and the count of
// the samples (all 0 without samples).
struct Deciles
{
    double median = 0, p10 = 0, p90 = 0;
    int n = 0;
};

inline Deciles deciles(const std::vector<double>& v)
{
    Deciles d;
    d.n = int(v.size());
    if (v.empty())
        return d;
    d.median = nearestRank(v, 0.5);
    d.p10 = nearestRank(v, 0.1);
    d.p90 = nearestRank(v, 0.9);
    return d;
}

// Median and 99th percentile of nanosecond samples, in units of unitNs
// nanoseconds (1e3: microseconds, 1e6: milliseconds).
struct Spread
{
    double median = 0, p99 = 0;
};

template <typename T>
Spread spread(const std::vector<T>& ns, double unitNs)
{
    return {median(ns) / unitNs, upperRank(ns, 0.99) / unitNs};
}

// The time one call of f takes, in nanoseconds.
template <typename F>
qint64 elapsedNs(F&& f)
{
    QElapsedTimer clock;
    clock.start();
    f();
    return clock.nsecsElapsed();
}

// The median of runs calls of f, in nanoseconds.
template <typename F>
double medianNs(int runs, F&& f)
{
    std::vector<double> t;
    for (int i = 0; i < runs; ++i)
        t.push_back(double(elapsedNs(f)));
    return median(t);
}

// Runs the event loop until pred() holds or ms have passed, pausing pauseUs
// between rounds (to leave the processor to other threads); whether pred()
// came to hold.
inline bool spinUntil(const std::function<bool()>& pred, int ms, unsigned long pauseUs = 0)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (pauseUs > 0)
            QThread::usleep(pauseUs);
    }
    return true;
}

} // namespace BenchTiming
