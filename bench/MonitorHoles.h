#pragma once
// Holes in a recording of the sound server's monitor (16-bit stereo 44100 Hz):
// runs of silence inside a sound that never rests, between its first and its
// last loud frame. A tone crosses zero one sample at a time, so a run of a
// few silent frames is a hole: a stretch the server mixed without our data.
#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <cstdlib>

namespace MonitorHoles {

struct Holes
{
    int count = 0;
    double totalMs = 0.0;
    double longestMs = 0.0;
    double recordedS = 0.0;
    double lastAtS = 0.0;   // where the last hole began, from the first loud frame
};

// Runs of at least minFrames frames whose samples are all within quiet of
// zero, between the first and the last frame louder than loud.
inline Holes count(const QByteArray& pcm, int minFrames = 16, int quiet = 2, int loud = 200)
{
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    const long frames = long(pcm.size() / 4);
    auto silent = [&](long i) { return std::abs(int(s[2 * i])) <= quiet && std::abs(int(s[2 * i + 1])) <= quiet; };
    long first = -1, last = -1;
    for (long i = 0; i < frames; ++i)
        if (std::abs(int(s[2 * i])) > loud || std::abs(int(s[2 * i + 1])) > loud) {
            if (first < 0)
                first = i;
            last = i;
        }
    Holes h;
    h.recordedS = double(frames) / 44100.0;
    long run = 0;
    long at = 0; // where the current run began
    auto close = [&] {
        if (run >= minFrames) {
            const double ms = run * 1000.0 / 44100.0;
            ++h.count;
            h.totalMs += ms;
            h.longestMs = std::max(h.longestMs, ms);
            h.lastAtS = double(at - first) / 44100.0;
        }
        run = 0;
    };
    for (long i = first; first >= 0 && i <= last; ++i) {
        if (!silent(i)) {
            close();
        } else if (run++ == 0) {
            at = i;
        }
    }
    close();
    return h;
}

} // namespace MonitorHoles
