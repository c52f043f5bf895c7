// The button engine's output on the real sound server for a long run: 32
// looping voices mixed by the buffer mixer into its ALSA endpoint while a
// process of ours keeps every core busy. Counts the underruns the endpoint
// recovered from and the dropouts heard on the sink's monitor (runs of
// silence inside the continuous mix). Target: none.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/dsengine/bench_dsengine_soak [seconds=600] [voices=32]
#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "AudioOutput.h"
#include "BufferMixer.h"
#include "TestSupport.h"

namespace {

// One child process with a spinning thread per core.
pid_t startLoad()
{
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    std::vector<std::thread> spin;
    for (long i = 0; i < cores; ++i)
        spin.emplace_back([] {
            volatile unsigned long x = 0;
            for (;;)
                x = x + 1;
        });
    for (auto& t : spin)
        t.join();
    _exit(0);
}

// Runs of at least minFrames near-silent frames between the first and the
// last loud frame: gaps in a mix that never rests.
int dropouts(const QByteArray& pcm, int minFrames)
{
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    const long frames = long(pcm.size() / 4);
    long first = -1, last = -1;
    for (long i = 0; i < frames; ++i)
        if (std::abs(int(s[2 * i])) > 200) {
            if (first < 0)
                first = i;
            last = i;
        }
    int gaps = 0;
    long run = 0;
    for (long i = first; first >= 0 && i <= last; ++i) {
        if (std::abs(int(s[2 * i])) <= 2) {
            if (++run == minFrames)
                ++gaps;
        } else {
            run = 0;
        }
    }
    return gaps;
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
    const pid_t load = startLoad();
    std::printf("%d voices on %s, period %d frames, buffer %d frames, %d s with every core busy\n", voices,
                qPrintable(device), period, buffer, seconds);
    std::fflush(stdout);
    for (int i = 0; i < seconds * 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        mixer.collect();
    }
    kill(load, SIGKILL);
    waitpid(load, nullptr, 0);
    const quint64 underruns = mixer.output() ? mixer.output()->underrunCount() : 0;
    const QByteArray pcm = rec.stop();
    for (BufferMixer::Buffer* b : playing)
        mixer.release(b);
    mixer.close();

    const int gaps = dropouts(pcm, 64);
    std::printf("underruns recovered by the endpoint: %llu; dropouts heard on the monitor: %d (%.0f s recorded)\n",
                (unsigned long long)underruns, gaps, pcm.size() / 4 / 44100.0);
    return underruns == 0 && gaps == 0 ? 0 : 1;
}
