// How late this machine wakes a realtime thread on each CPU, quiet and with
// every core busy: the floor under any underrun count. A stall longer than
// an output's queue less one period starves the sound server whatever the
// program does.
//
//   build/bench/dsengine/bench_stalls [seconds=60]
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <csignal>
#include <thread>

#include <sys/wait.h>

#include "AudioOutput.h"
#include "BufferMixer.h"
#include "StallProbe.h"

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const auto cfg = BufferMixer::outputConfig();
    const long long periodNs = (long long)cfg.periodFrames * 1000000000LL / cfg.rate;
    const long long headroomNs = (long long)(cfg.bufferFrames - cfg.periodFrames) * 1000000000LL / cfg.rate;
    for (const bool busy : {false, true}) {
        std::printf("%s:\n", busy ? "every core busy" : "quiet");
        const pid_t load = busy ? StallProbe::spinEveryCore() : 0;
        StallProbe::Probe probe;
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        probe.stop();
        if (load > 0) {
            kill(load, SIGKILL);
            waitpid(load, nullptr, 0);
        }
        std::printf("  ");
        StallProbe::report(probe, {periodNs, headroomNs, 2 * headroomNs});
    }
    return 0;
}
