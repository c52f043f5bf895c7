// Presses from silence on the button engine's mixer, with the mixer alone on
// the sound server or beside another stream that plays all the time.
//
// The mixer idles on its ALSA endpoint; every other event is a press (a
// 440 Hz buffer played from silence), the others a click on a stream opened
// just before it, with nothing queued ahead (the fresh-stream floor). One
// recording of the sink's monitor holds both; each onset is taken against
// the moment it was asked for, on the recording's own timeline, and the
// figure is the press's median less the click's. It also counts the
// playback streams the server made anew for the mixer (its plugin makes one
// each time the device is prepared again) and the underruns the endpoint
// counted.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/dsengine/bench_dsidle [--presses N] [--others] [--rec-latency MS]
//
// --others keeps a stream of silence playing on the server throughout (the
// floor writer of bench_presse2e), as the rest of the program would.
#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <set>
#include <thread>
#include <vector>

#include "AudioOutput.h"
#include "BenchTiming.h"
#include "BufferMixer.h"
#include "SoundTiming.h"
#include "TestSupport.h"

namespace {

using SoundTiming::kRate;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QByteArray toneBlock(double seconds)
{
    const int frames = int(seconds * kRate);
    QByteArray block(frames * 4, '\0');
    auto* s = reinterpret_cast<qint16*>(block.data());
    for (int i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] = qint16(16000 * std::sin(2 * M_PI * 440.0 * i / kRate));
    return block;
}

// The server's client that owns this process's only playback stream, or -1.
int ownClient()
{
    const QByteArray pid = "application.process.id = \"" + QByteArray::number(QCoreApplication::applicationPid()) + '"';
    int client = -1, found = -1;
    const QByteArray listed = TestSupport::pactl({QStringLiteral("list"), QStringLiteral("sink-inputs")});
    for (const QByteArray& raw : listed.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("Sink Input #"))
            client = -1;
        else if (line.startsWith("Client: "))
            client = line.mid(8).toInt();
        else if (line == pid)
            found = found < 0 ? client : -2;
    }
    return found;
}

// Notes every playback stream the server has for one client (the mixer's:
// the sound server's plugin makes one client per opened device and a new
// stream each time the device is prepared), looking every 50 ms.
class StreamWatch
{
public:
    ~StreamWatch() { stop(); }
    void start(int client)
    {
        m_thread = std::thread([this, client] {
            while (!m_stop.load()) {
                const QByteArray listed = TestSupport::pactl(
                    {QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("sink-inputs")});
                for (const QByteArray& line : listed.split('\n')) {
                    const QList<QByteArray> f = line.split('\t');
                    if (f.size() > 2 && f[2].toInt() == client)
                        m_seen.insert(f[0].toInt());
                }
                sleepMs(50);
            }
        });
    }
    // The streams seen.
    int stop()
    {
        m_stop.store(true);
        if (m_thread.joinable())
            m_thread.join();
        return int(m_seen.size());
    }

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::set<int> m_seen;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int presses = 16;
    bool others = false;
    int recLatencyMs = 20;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--presses") && i + 1 < args.size())
            presses = args[++i].toInt();
        else if (args[i] == QLatin1String("--rec-latency") && i + 1 < args.size())
            recLatencyMs = args[++i].toInt();
        else if (args[i] == QLatin1String("--others"))
            others = true;
    }
    if (qEnvironmentVariable("TR_PULSE_MONITOR").isEmpty()) {
        std::fprintf(stderr, "no sound server: eval \"$(scripts/sound-server start DIR)\" first\n");
        return 2;
    }

    QString why;
    std::unique_ptr<AudioOutput> out =
        AudioOutput::openBackend(AudioOutput::Backend::Alsa, BufferMixer::outputConfig(), &why);
    if (!out) {
        std::fprintf(stderr, "no ALSA output: %s\n", qPrintable(why));
        return 2;
    }
    BufferMixer mixer;
    if (mixer.open(std::move(out)) != BufferMixer::Ok || mixer.start() != BufferMixer::Ok) {
        std::fprintf(stderr, "the mixer did not start\n");
        return 1;
    }
    // Before any other stream of this process: the mixer's is the only one.
    const int mixerClient = ownClient();
    if (mixerClient < 0) {
        std::fprintf(stderr, "cannot find the mixer's stream on the server (pactl)\n");
        return 1;
    }
    StreamWatch streams;
    streams.start(mixerClient);
    BufferMixer::Buffer* tone = nullptr;
    if (mixer.createBuffer(toneBlock(0.3), 0, int(0.3 * kRate) * 4, &tone) != BufferMixer::Ok)
        return 1;

    SoundTiming::FloorWriter floor;
    if (others && !floor.start()) {
        std::fprintf(stderr, "cannot start the other stream\n");
        return 1;
    }
    TestSupport::MonitorCapture rec;
    if (!rec.start(QString(), recLatencyMs)) {
        std::fprintf(stderr, "cannot record the monitor\n");
        return 1;
    }
    const auto recStart = std::chrono::steady_clock::now();
    sleepMs(600);
    const quint64 underrunsBefore = mixer.output()->underrunCount();
    SoundTiming::Turns turns;
    const bool played = SoundTiming::takeTurns(
        presses, recStart, 11, 600,
        [&] {
            mixer.setCurrentPosition(tone, 0);
            mixer.play(tone, false);
        },
        [&] { mixer.collect(); }, turns);
    if (!played) {
        std::fprintf(stderr, "cannot open a stream for the floor\n");
        return 1;
    }
    sleepMs(400);
    const QByteArray pcm = rec.stop();
    floor.stop();
    const quint64 underruns = mixer.output()->underrunCount() - underrunsBefore;
    const int made = streams.stop() - 1;
    mixer.release(tone);
    mixer.close();

    const SoundTiming::TurnLateness late = SoundTiming::latenessOfTurns(pcm, turns);
    std::printf("%s: %d presses, %zu tones, %zu clicks heard; streams the server made anew for the mixer %d; "
                "endpoint underruns %llu\n",
                others ? "beside another stream" : "alone on the server", presses, late.pressMs.size(),
                late.clickMs.size(), made, (unsigned long long)underruns);
    if (!SoundTiming::printTurnFigures(late, presses, "press to tone (recording's timeline)", "fresh-stream click",
                                       "press over the fresh-stream floor"))
        return 1;
    return 0;
}
