// Pad mixer figures, run by hand:
//  1. Mixing 32 active voices of the drum stream (16-bit) and 16 of the float
//     engine: times real time at 44100 Hz and the share of one core, against
//     a reference measured in the same run (zeroing the same output buffer).
//     Target: under 1% of one core.
//  2. Trigger to the first non-silent frame handed to the endpoint, on the
//     paced null output (real time), over 1000 triggers: median and 99th
//     percentile beside the period length, for the drum engine and the float
//     engine.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "DrumEngine.h"
#include "DrumStream.h"
#include "MonoClock.h"
#include "NullOutput.h"
#include "WasapiEngine.h"

namespace {

QByteArray tone16(int frames, int seed)
{
    QByteArray b(qsizetype(frames) * 4, '\0');
    auto* s = reinterpret_cast<qint16*>(b.data());
    for (int i = 0; i < frames * 2; ++i)
        s[i] = qint16(500 + ((i + seed * 37) % 400));
    return b;
}

QByteArray toneFloat(int frames, int seed)
{
    QByteArray b(qsizetype(frames) * 8, '\0');
    auto* f = reinterpret_cast<float*>(b.data());
    for (int i = 0; i < frames * 2; ++i)
        f[i] = 0.01f + float((i + seed * 37) % 400) * 1e-5f;
    return b;
}

double cpuSeconds(const std::function<void()>& body)
{
    QElapsedTimer t;
    t.start();
    body();
    return double(t.nsecsElapsed()) / 1e9;
}

// The null output, watched: notes when the first non-silent frame is released.
class WatchedNull : public NullOutput
{
public:
    using NullOutput::NullOutput;
    std::atomic<bool> armed{false};
    std::atomic<qint64> heardNs{0};

    void* getBuffer(int frames) override
    {
        m_buf = NullOutput::getBuffer(frames);
        return m_buf;
    }
    bool releaseBuffer(int frames, bool silent) override
    {
        if (!silent && m_buf && armed.load(std::memory_order_acquire)) {
            const int samples = frames * channels();
            bool loud = false;
            if (config().format == SampleFormat::S16) {
                const auto* s = static_cast<const qint16*>(m_buf);
                for (int i = 0; i < samples && !loud; ++i)
                    loud = s[i] != 0;
            } else {
                const auto* f = static_cast<const float*>(m_buf);
                for (int i = 0; i < samples && !loud; ++i)
                    loud = f[i] != 0.0f;
            }
            if (loud) {
                heardNs.store(MonoClock::ns(), std::memory_order_release);
                armed.store(false, std::memory_order_release);
            }
        }
        return NullOutput::releaseBuffer(frames, silent);
    }

private:
    void* m_buf = nullptr;
};

bool waitFor(const std::function<bool()>& cond, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > ms)
            return false;
        QThread::usleep(200);
    }
    return true;
}

struct Latency
{
    double medianMs = 0, p99Ms = 0;
    int missed = 0;
};

Latency measure(WatchedNull* out, const std::function<void()>& trigger, const std::function<bool()>& idle)
{
    const int periodUs = int(1000000LL * out->periodFrames() / out->rate());
    std::vector<double> ms;
    Latency r;
    for (int i = 0; i < 1000; ++i) {
        waitFor(idle, 500);
        // Start at a spread of points across the period.
        QThread::usleep(unsigned((i * 7919) % periodUs));
        out->heardNs.store(0);
        out->armed.store(true, std::memory_order_release);
        const qint64 t0 = MonoClock::ns();
        trigger();
        if (!waitFor([&] { return out->heardNs.load() != 0; }, 1000)) {
            ++r.missed;
            out->armed.store(false);
            continue;
        }
        ms.push_back(double(out->heardNs.load() - t0) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    if (!ms.empty()) {
        r.medianMs = ms[ms.size() / 2];
        r.p99Ms = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))];
    }
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qputenv("TR_AUDIO_OUTPUT", "null");

    // --- 1. mixing cost ----------------------------------------------------
    // Six rounds of ten seconds; every voice starts again at each round.
    const int roundSeconds = 10;
    const int rounds = 6;
    const int seconds = roundSeconds * rounds;
    {
        const int block = 441; // 10 ms pulls
        const int blocks = roundSeconds * 100;
        DrumStream s;
        std::vector<QByteArray> pcm;
        for (int v = 0; v < 32; ++v)
            pcm.push_back(tone16(44100 * roundSeconds, v));
        std::vector<char> out(size_t(block) * 4);
        int stillPlaying = 0;
        const double ref = cpuSeconds([&] {
            for (int i = 0; i < blocks * rounds; ++i) {
                std::memset(out.data(), 0, out.size());
                asm volatile("" : : "r"(out.data()) : "memory");
            }
        });
        const double mix = cpuSeconds([&] {
            for (int r = 0; r < rounds; ++r) {
                for (const QByteArray& b : pcm)
                    s.trigger(&b, 0.5f);
                if (r == 0)
                    stillPlaying = s.activeVoiceCount();
                for (int i = 0; i < blocks; ++i)
                    s.mix(out.data(), qint64(out.size()));
            }
        });
        std::printf("drum stream, %d voices, %d s of 44100 Hz stereo in 10 ms pulls:\n", stillPlaying, seconds);
        std::printf("  %.0f x real time, %.3f%% of one core (target < 1%%); %.1f x the cost of zeroing the output\n",
                    seconds / mix, 100.0 * mix / seconds, mix / std::max(ref, 1e-9));
    }
    {
        WasapiEngine::VoiceBank bank;
        std::vector<QByteArray> pcm;
        for (int v = 0; v < WasapiEngine::kVoices; ++v)
            pcm.push_back(toneFloat(48000 * roundSeconds, v));
        const int fblock = 240;
        const int fblocks = roundSeconds * 200;
        std::vector<float> mixbuf(size_t(fblock) * 2);
        const double mix = cpuSeconds([&] {
            for (int r = 0; r < rounds; ++r) {
                for (int v = 0; v < WasapiEngine::kVoices; ++v) {
                    auto& voice = bank.voices[v];
                    voice.pcm = pcm[v];
                    voice.data = reinterpret_cast<const float*>(voice.pcm.constData());
                    voice.frames = voice.pcm.size() / 8;
                    voice.position = 0;
                    voice.active.store(true);
                }
                for (int i = 0; i < fblocks; ++i) {
                    std::fill(mixbuf.begin(), mixbuf.end(), 0.0f);
                    WasapiEngine::mixVoicesLocked(bank, mixbuf.data(), fblock);
                    for (float& x : mixbuf)
                        x = WasapiEngine::softLimit(x);
                }
            }
        });
        std::printf("float engine, 16 voices, %d s of 48000 Hz stereo in 5 ms passes with the limiter:\n", seconds);
        std::printf("  %.0f x real time, %.3f%% of one core\n", seconds / mix, 100.0 * mix / seconds);
    }

    // --- 2. trigger latency on the paced null output -------------------------
    {
        DrumEngine e;
        WatchedNull* watched = nullptr;
        e.setQtSinkEnabled(false);
        e.setOutputFactory([&](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            auto o = std::make_unique<WatchedNull>(c);
            watched = o.get();
            return o;
        });
        e.initialize();
        if (!watched || e.outputKind() != DrumEngine::OutputKind::Null) {
            std::printf("drum engine: null output did not open\n");
            return 1;
        }
        e.preload(QStringLiteral("pad"), tone16(64, 1), 1.0f);
        const Latency l = measure(
            watched, [&] { e.triggerDirect(QStringLiteral("pad"), 1.0f); },
            [&] { return !e.isPlaying(QStringLiteral("pad")); });
        const double periodMs = 1000.0 * watched->periodFrames() / watched->rate();
        std::printf("drum engine, trigger to first sounding frame handed to the null output, 1000 triggers:\n");
        std::printf("  median %.2f ms, p99 %.2f ms, period %.2f ms (median %.2f, p99 %.2f periods), missed %d\n",
                    l.medianMs, l.p99Ms, periodMs, l.medianMs / periodMs, l.p99Ms / periodMs, l.missed);
        std::printf("  (the device buffer is kept full: %d ms queued ahead of what is heard)\n",
                    1000 * watched->bufferFrames() / watched->rate());
    }
    {
        WasapiEngine e;
        WatchedNull* watched = nullptr;
        e.setOutputFactory([&](AudioOutput::Backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            auto o = std::make_unique<WatchedNull>(c);
            watched = o.get();
            return o;
        });
        if (!e.init(QString()) || !watched) {
            std::printf("float engine: null output did not open\n");
            return 1;
        }
        e.cachePad(QStringLiteral("pad"), toneFloat(64, 1), 1.0f, false);
        const Latency l = measure(
            watched, [&] { e.trigger(QStringLiteral("pad"), false); },
            [&] { return !e.isPlaying(QStringLiteral("pad")); });
        const double periodMs = 1000.0 * watched->periodFrames() / watched->rate();
        std::printf("float engine, trigger to first sounding frame handed to the null output, 1000 triggers:\n");
        std::printf("  median %.2f ms, p99 %.2f ms, period %.2f ms (median %.2f, p99 %.2f periods), missed %d\n",
                    l.medianMs, l.p99Ms, periodMs, l.medianMs / periodMs, l.p99Ms / periodMs, l.missed);
        e.shutdown();
    }
    return 0;
}
