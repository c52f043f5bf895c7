// The button engine's output on the real sound server for a long run: 32
// looping voices mixed by the buffer mixer into its ALSA endpoint while a
// process of ours keeps every core busy. Counts the underruns the endpoint
// recovered from and the dropouts heard on the sink's monitor (runs of
// silence inside the continuous mix). Target: none.
//
// Beside them it reports how late the machine woke a realtime probe thread
// on each CPU over the same run: a stall longer than the queue less one
// period starves the sound server whatever the program does. Each underrun
// is matched with the stalls that ended shortly before it, against the share
// of the run such windows cover (what chance alone would match).
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/dsengine/bench_dsengine_soak [seconds=600] [voices=32]
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AudioOutput.h"
#include "MonitorHoles.h"
#include "BufferMixer.h"
#include "StallProbe.h"
#include "TestSupport.h"

namespace {

// Times at which the endpoint's underrun count went up, sampled every 2 ms by
// a realtime thread until stopped.
class UnderrunTimes
{
public:
    explicit UnderrunTimes(const AudioOutput* out)
        : m_thread([this, out] {
              sched_param sp{};
              sp.sched_priority = 60;
              pthread_setschedparam(pthread_self(), SCHED_FIFO, &sp);
              quint64 seen = out->underrunCount();
              while (!m_stop.load()) {
                  timespec ts{0, 2000000};
                  nanosleep(&ts, nullptr);
                  const quint64 now = out->underrunCount();
                  for (; seen < now; ++seen)
                      m_times.push_back(StallProbe::monoNs());
              }
          })
    {
    }
    std::vector<long long> stop()
    {
        m_stop = true;
        m_thread.join();
        return m_times;
    }

private:
    std::atomic<bool> m_stop{false};
    std::vector<long long> m_times;
    std::thread m_thread;
};

// How many underruns came within windowNs after the end of a stall longer
// than limitNs, and the share of the run those windows cover.
void matchStalls(const std::vector<long long>& underruns, const StallProbe::Probe& probe, long long limitNs,
                 long long windowNs, long long startNs, long long endNs)
{
    std::vector<std::pair<long long, long long>> windows;
    for (const StallProbe::Stall& s : probe.stalls())
        if (s.lateNs > limitNs) {
            const long long end = s.dueNs + s.lateNs;
            if (!windows.empty() && end <= windows.back().second)
                windows.back().second = std::max(windows.back().second, end + windowNs);
            else
                windows.push_back({end, end + windowNs});
        }
    long long covered = 0;
    long long reach = startNs;
    for (const auto& [a, b] : windows) {
        const long long lo = std::max(a, reach), hi = std::min(b, endNs);
        if (hi > lo)
            covered += hi - lo;
        reach = std::max(reach, b);
    }
    int matched = 0;
    for (long long u : underruns)
        for (const auto& [a, b] : windows)
            if (u >= a - windowNs / 4 && u <= b) {
                ++matched;
                break;
            }
    std::printf("underruns within %.0f ms after a stall longer than %.1f ms: %d of %zu (such windows cover %.1f %% of "
                "the run)\n",
                windowNs / 1e6, limitNs / 1e6, matched, underruns.size(),
                endNs > startNs ? 100.0 * double(covered) / double(endNs - startNs) : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    const int voices = argc > 2 ? std::atoi(argv[2]) : 32;

    QString why;
    std::unique_ptr<AudioOutput> out = AudioOutput::openBackend(AudioOutput::Backend::Alsa,
                                                                BufferMixer::outputConfig(), &why);
    if (!out) {
        std::fprintf(stderr, "no ALSA output: %s\n", qPrintable(why));
        return 2;
    }
    const QString device = out->deviceName();
    const int period = out->periodFrames(), buffer = out->bufferFrames();
    BufferMixer mixer;
    if (mixer.open(std::move(out)) != BufferMixer::Ok || mixer.start() != BufferMixer::Ok) {
        std::fprintf(stderr, "the mixer did not start\n");
        return 1;
    }

    // Tones of whole cycles per second, so each loop joins without a click.
    std::vector<BufferMixer::Buffer*> playing;
    const int frames = 44100;
    for (int v = 0; v < voices; ++v) {
        QByteArray block(frames * 4, '\0');
        auto* s = reinterpret_cast<qint16*>(block.data());
        const double hz = 200 + 37 * v;
        for (int i = 0; i < frames; ++i)
            s[2 * i] = s[2 * i + 1] = qint16(20000.0 / voices * (1.2 + std::sin(2 * M_PI * hz * i / frames)) / 2.2);
        BufferMixer::Buffer* b = nullptr;
        if (mixer.createBuffer(block, 0, block.size(), &b) != BufferMixer::Ok)
            return 1;
        mixer.play(b, true);
        playing.push_back(b);
    }

    TestSupport::MonitorCapture rec;
    if (!rec.start()) {
        std::fprintf(stderr, "no monitor recording (start the sound server first)\n");
        return 2;
    }
    // A stall the queue cannot cover: its length less the one period the
    // server takes at a time.
    // The queue the mixer starts with; it grows after underruns.
    const int queue = mixer.queueFrames();
    const long long headroomNs = (long long)(queue - period) * 1000000000LL / BufferMixer::outputConfig().rate;
    StallProbe::Probe probe;
    UnderrunTimes underrunTimes(mixer.output());
    const long long startNs = StallProbe::monoNs();
    const pid_t load = StallProbe::spinEveryCore();
    std::printf("%d voices on %s, period %d frames, queue %d of %d frames, %d s with every core busy\n", voices,
                qPrintable(device), period, queue, buffer, seconds);
    std::fflush(stdout);
    for (int i = 0; i < seconds * 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        mixer.collect();
    }
    kill(load, SIGKILL);
    waitpid(load, nullptr, 0);
    const long long endNs = StallProbe::monoNs();
    const std::vector<long long> underrunAt = underrunTimes.stop();
    probe.stop();
    const quint64 underruns = mixer.output() ? mixer.output()->underrunCount() : 0;
    const int queueAtEnd = mixer.queueFrames();
    const QByteArray pcm = rec.stop();
    for (BufferMixer::Buffer* b : playing)
        mixer.release(b);
    mixer.close();

    const int gaps = MonitorHoles::count(pcm, 64).count;
    std::printf("underruns recovered by the endpoint: %llu; dropouts heard on the monitor: %d (%.0f s recorded); "
                "queue at the end %d frames\n",
                (unsigned long long)underruns, gaps, pcm.size() / 4 / 44100.0, queueAtEnd);
    const long long periodNs = (long long)period * 1000000000LL / BufferMixer::outputConfig().rate;
    StallProbe::report(probe, {periodNs, headroomNs});
    for (long long limit : {periodNs, headroomNs})
        matchStalls(underrunAt, probe, limit, 40000000LL, startNs, endNs);
    return underruns == 0 && gaps == 0 ? 0 : 1;
}
