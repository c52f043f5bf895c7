#pragma once
// Timing sounds on a recording of the sound server's monitor
// (TestSupport::MonitorCapture): a floor click written straight to the sink through ALSA, filters that tell a click
// (5 kHz) from a tone (below 1 kHz) or two tones apart, and where sounds
// begin and end.
// Header only; a target that includes it links ALSA.
#include <QByteArray>
#include <QtGlobal>

#include <alsa/asoundlib.h>

#include "BenchTiming.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace SoundTiming {

constexpr int kRate = 44100;
constexpr double kClickHz = 5000.0;

// The floor: a tiny ALSA writer that plays silence and, on request, a 20 ms
// 5 kHz click at the next period (5 ms period, 10 ms buffer). For every click
// it notes how long the click took to reach the sink: the wait for its
// period plus the delay the stream reported just before the click's first
// block went in.
class FloorWriter
{
public:
    ~FloorWriter() { stop(); }

    bool start()
    {
        if (!openStream(&m_pcm, &m_period))
            return false;
        m_click = clickFrames();
        m_thread = std::thread([this] { run(); });
        return true;
    }

    // A 16-bit stereo 44100 Hz stream on the default device with a 5 ms
    // period and a 10 ms buffer; not started. The period got is in *period.
    static bool openStream(snd_pcm_t** pcm, int* period)
    {
        if (snd_pcm_open(pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
            return false;
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        snd_pcm_hw_params_any(*pcm, hw);
        snd_pcm_hw_params_set_access(*pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
        snd_pcm_hw_params_set_format(*pcm, hw, SND_PCM_FORMAT_S16_LE);
        snd_pcm_hw_params_set_channels(*pcm, hw, 2);
        unsigned rate = kRate;
        snd_pcm_hw_params_set_rate_near(*pcm, hw, &rate, nullptr);
        snd_pcm_uframes_t frames = 220, buffer = 440;
        snd_pcm_hw_params_set_period_size_near(*pcm, hw, &frames, nullptr);
        snd_pcm_hw_params_set_buffer_size_near(*pcm, hw, &buffer);
        if (snd_pcm_hw_params(*pcm, hw) < 0) {
            snd_pcm_close(*pcm);
            *pcm = nullptr;
            return false;
        }
        snd_pcm_hw_params_get_period_size(hw, &frames, nullptr);
        *period = int(frames);
        return true;
    }

    // The 20 ms 5 kHz click, interleaved stereo.
    static std::vector<qint16> clickFrames()
    {
        std::vector<qint16> click;
        const int frames = kRate / 50;
        for (int i = 0; i < frames; ++i) {
            const auto s = qint16(16000 * std::sin(2 * M_PI * kClickHz * i / kRate));
            click.push_back(s);
            click.push_back(s);
        }
        return click;
    }
    void click()
    {
        m_requestedAt.store(std::chrono::steady_clock::now().time_since_epoch().count());
        m_request.store(true);
    }
    void stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
        if (m_pcm)
            snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }
    int xruns() const { return m_xruns; }
    // Request to sink of every click so far, in ms.
    std::vector<double> clickDelaysMs()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_delays;
    }

private:
    void run()
    {
        std::vector<qint16> block(size_t(m_period) * 2);
        size_t clickPos = m_click.size();
        while (!m_stop.load()) {
            bool starting = false;
            if (m_request.exchange(false)) {
                clickPos = 0;
                starting = true;
            }
            for (size_t i = 0; i < block.size(); ++i)
                block[i] = clickPos < m_click.size() ? m_click[clickPos++] : 0;
            if (starting) {
                const auto waited = std::chrono::steady_clock::now().time_since_epoch().count() - m_requestedAt.load();
                snd_pcm_sframes_t queued = 0;
                if (snd_pcm_delay(m_pcm, &queued) < 0)
                    queued = 0;
                const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::duration(waited)).count()
                                  + 1000.0 * double(queued) / kRate;
                const std::lock_guard<std::mutex> lock(m_mutex);
                m_delays.push_back(ms);
            }
            snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, block.data(), snd_pcm_uframes_t(m_period));
            if (n < 0) {
                ++m_xruns;
                snd_pcm_recover(m_pcm, int(n), 1);
            }
        }
    }

    snd_pcm_t* m_pcm = nullptr;
    int m_period = 220;
    std::vector<qint16> m_click;
    std::atomic<bool> m_request{false};
    std::atomic<std::chrono::steady_clock::rep> m_requestedAt{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
    int m_xruns = 0;
    std::mutex m_mutex;
    std::vector<double> m_delays;
};

// The second floor: a stream opened just before the press whose first
// frames are the click, so nothing is queued ahead of it (the floor writer
// keeps its own 10 ms queue full of silence). What a program that opens its
// output at the press could at best do.
class ColdClick
{
public:
    ~ColdClick() { join(); }
    bool open() { return FloorWriter::openStream(&m_pcm, &m_period); }
    // Writes the click and a little silence on a thread of its own, then
    // drains and closes the stream.
    void play()
    {
        m_thread = std::thread([this] {
            std::vector<qint16> frames = FloorWriter::clickFrames();
            frames.resize(frames.size() + size_t(m_period) * 4, 0);
            const auto total = snd_pcm_uframes_t(frames.size() / 2);
            snd_pcm_uframes_t done = 0;
            while (done < total) {
                const snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, frames.data() + done * 2, total - done);
                if (n < 0) {
                    if (snd_pcm_recover(m_pcm, int(n), 1) < 0)
                        break;
                    continue;
                }
                done += snd_pcm_uframes_t(n);
            }
            snd_pcm_drain(m_pcm);
        });
    }
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_pcm)
            snd_pcm_close(m_pcm);
        m_pcm = nullptr;
    }

private:
    snd_pcm_t* m_pcm = nullptr;
    int m_period = 220;
    std::thread m_thread;
};

struct Biquad
{
    double b0, b1, b2, a1, a2, z1 = 0, z2 = 0;
    static Biquad make(double hz, bool highPass)
    {
        const double w = 2 * M_PI * hz / kRate, c = std::cos(w), alpha = std::sin(w) / (2 * 0.7071);
        const double a0 = 1 + alpha;
        Biquad q{};
        if (highPass) {
            q.b0 = (1 + c) / 2 / a0; q.b1 = -(1 + c) / a0; q.b2 = (1 + c) / 2 / a0;
        } else {
            q.b0 = (1 - c) / 2 / a0; q.b1 = (1 - c) / a0; q.b2 = (1 - c) / 2 / a0;
        }
        q.a1 = -2 * c / a0;
        q.a2 = (1 - alpha) / a0;
        return q;
    }
    double run(double x)
    {
        const double y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

// The left channel of a raw 16-bit stereo recording through two filters in
// a row, low-pass or high-pass at hz.
inline std::vector<float> band(const QByteArray& pcm, double hz, bool highPass)
{
    const long frames = long(pcm.size() / 4);
    std::vector<float> out(static_cast<size_t>(frames));
    Biquad a = Biquad::make(hz, highPass), b = Biquad::make(hz, highPass);
    const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
    for (long i = 0; i < frames; ++i)
        out[size_t(i)] = float(b.run(a.run(s[2 * i] / 32768.0)));
    return out;
}

// The recording split in two bands: tones below 1 kHz and clicks above 3 kHz.
struct Bands
{
    std::vector<float> low, high;
};

inline Bands splitBands(const QByteArray& pcm)
{
    return {band(pcm, 1000, false), band(pcm, 3000, true)};
}

// Sample indices where the band's level rises above threshold after at least
// quietFrames below it.
inline std::vector<long> onsets(const std::vector<float>& band, float threshold, long quietFrames)
{
    std::vector<long> out;
    long lastLoud = -quietFrames - 1;
    for (long i = 0; i < long(band.size()); ++i) {
        if (std::fabs(band[size_t(i)]) >= threshold) {
            if (i - lastLoud > quietFrames)
                out.push_back(i);
            lastLoud = i;
        }
    }
    return out;
}

// One stretch of sound: its first and last sample at or above the threshold.
struct Sounding
{
    long first = 0;
    long last = 0;
    long frames() const { return last - first + 1; }
};

// The stretches of sound in the band, split wherever it stays below
// threshold for more than quietFrames (a tone's zero crossings stay below
// it for a few samples only).
inline std::vector<Sounding> soundings(const std::vector<float>& band, float threshold, long quietFrames)
{
    std::vector<Sounding> out;
    for (long i = 0; i < long(band.size()); ++i) {
        if (std::fabs(band[size_t(i)]) < threshold)
            continue;
        if (out.empty() || i - out.back().last > quietFrames)
            out.push_back({i, i});
        else
            out.back().last = i;
    }
    return out;
}

// For each moment asked for (frames), how late in ms the first onset heard
// within 2 s of it came; moments with none are left out.
inline std::vector<double> latenessMs(const std::vector<long>& asked, const std::vector<long>& heard)
{
    std::vector<double> ms;
    for (long a : asked)
        for (long h : heard)
            if (h >= a - kRate / 20 && h <= a + 2 * kRate) {
                ms.push_back(1000.0 * double(h - a) / kRate);
                break;
            }
    return ms;
}

// Presses and floor clicks taking turns: each press (press()) is followed,
// gapMs plus up to 50 ms apart (seeded, so runs repeat), by a click on a
// stream opened just before it and closed after it, so no other stream of
// the measurement plays when either is asked for. Each moment is noted in
// frames since recStart, the recording's timeline; afterGap() runs after
// every gap. False when a click's stream cannot open.
struct Turns
{
    std::vector<long> pressAt, clickAt;
};

template <typename Press, typename AfterGap>
bool takeTurns(int presses, std::chrono::steady_clock::time_point recStart, unsigned seed, int gapMs, Press press,
               AfterGap afterGap, Turns& out)
{
    const auto frameNow = [&] {
        return long(std::chrono::duration<double>(std::chrono::steady_clock::now() - recStart).count() * kRate);
    };
    std::mt19937 rng(seed);
    for (int i = 0; i < 2 * presses; ++i) {
        if (i % 2 == 1) {
            ColdClick click;
            if (!click.open())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            out.clickAt.push_back(frameNow());
            click.play();
            click.join();
        } else {
            out.pressAt.push_back(frameNow());
            press();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(gapMs + int(rng() % 50)));
        afterGap();
    }
    return true;
}

// How late each press's tone (below 1 kHz) and each click (5 kHz) was heard
// in the recording, against the moments they were asked for.
struct TurnLateness
{
    std::vector<double> pressMs, clickMs;
    // Enough of both were found for medians to mean something.
    bool enough(int presses) const
    {
        return pressMs.size() >= size_t(presses) / 2 && clickMs.size() >= size_t(presses) / 2;
    }
};

// The turns' figures: the spread of each side and the median press over the
// median click. False, saying so, when too few sounds were found.
inline bool printTurnFigures(const TurnLateness& late, int presses, const char* pressWhat, const char* clickWhat,
                             const char* overWhat)
{
    if (!late.enough(presses)) {
        std::printf("too few sounds found\n");
        return false;
    }
    BenchTiming::printSpreadMs(pressWhat, late.pressMs);
    BenchTiming::printSpreadMs(clickWhat, late.clickMs);
    std::printf("%s: %.1f ms (medians)\n", overWhat,
                BenchTiming::percentile(late.pressMs, 0.5) - BenchTiming::percentile(late.clickMs, 0.5));
    return true;
}

inline TurnLateness latenessOfTurns(const QByteArray& pcm, const Turns& turns)
{
    const Bands bands = splitBands(pcm);
    const long quiet = kRate / 10;
    return {latenessMs(turns.pressAt, onsets(bands.low, 0.08f, quiet)),
            latenessMs(turns.clickAt, onsets(bands.high, 0.08f, quiet))};
}

} // namespace SoundTiming
