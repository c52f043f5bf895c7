// Holes in a looping button on the pre-decoded path, with the engines opened
// as the program opens them (the pad engine's stream, the float engine's
// stream and the button engine's), against the button engine alone on the
// sound server. One looping voice of a 2 s tone plays into the test sink that
// never rewinds; its monitor is recorded and every run of silence inside the
// tone is a hole. Each run is done idle and with busy loops beside it, each
// in a process of its own. Target: 0 holes everywhere.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/engineloop/bench_engineloop [seconds=300] [busy loops=4] [--program-only]
//   build/bench/engineloop/bench_engineloop --count RECORDING.raw
//
// The second form counts the holes in a recording made elsewhere (raw
// 16-bit stereo 44100 Hz, as parec writes it), such as one of the running
// program playing a looping button.
//
// Beside the holes it prints the underruns the button engine's endpoint
// counted, the queue it ended with, the largest it kept and how many times
// it grew, and the latency the sink ran at. --program-only leaves out the
// button engine alone.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <vector>

#include <sys/wait.h>

#include "AudioOutput.h"
#include "BufferMixer.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "MonitorHoles.h"
#include "StallProbe.h"
#include "TestSupport.h"
#include "WasapiEngine.h"

namespace {

constexpr int kRate = 44100;

// A tone of whole cycles over 2 s, so the loop joins without a click or a
// silent sample.
QByteArray loopTone()
{
    const int frames = 2 * kRate;
    QByteArray b(qsizetype(frames) * 4, '\0');
    auto* s = reinterpret_cast<qint16*>(b.data());
    for (int i = 0; i < frames; ++i)
        s[2 * i] = s[2 * i + 1] = qint16(16000 * std::sin(2 * M_PI * 441.0 * i / kRate));
    return b;
}

// Runs the event loop for ms; with a mixer, notes the largest queue it kept.
void runEvents(int ms, const BufferMixer* mixer = nullptr, int* largestQueue = nullptr)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
        if (mixer && largestQueue)
            *largestQueue = std::max(*largestQueue, mixer->queueFrames());
    }
}

// The latency the sink the monitor belongs to runs at, in ms, as the server
// reports it; -1 when not found.
double sinkLatencyMs(const QString& sink)
{
    const QByteArray listed = TestSupport::pactl({QStringLiteral("list"), QStringLiteral("sinks")});
    bool ours = false;
    for (const QByteArray& raw : listed.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("Name:")))
            ours = line.mid(5).trimmed() == sink;
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("^Latency: (\\d+) usec")).match(line);
        if (ours && m.hasMatch())
            return m.captured(1).toDouble() / 1000.0;
    }
    return -1.0;
}

// One run in this process: prints one line "holes N total MS longest MS
// underruns N queue FRAMES sink MS".
int child(bool withOthers, int seconds, int busy)
{
    const QString sink = qEnvironmentVariable("PULSE_SINK");
    if (withOthers)
        DrumEngine::instance()->initialize();
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    const QByteArray pcm = loopTone();
    ds->setDecoder([pcm](const QString&, double, double, float) { return pcm; });
    if (!ds->init(nullptr)) {
        std::fprintf(stderr, "the button engine did not open\n");
        return 2;
    }
    if (withOthers && !WasapiEngine::instance()->init(QString()))
        std::fprintf(stderr, "the float engine did not open\n");
    ds->preload(QStringLiteral("loop"), QStringLiteral("tone.wav"), 0.0, 0.0, 1.0f, true, 0.0, 0.0);
    for (int i = 0; i < 500 && !ds->isReady(QStringLiteral("loop")); ++i)
        runEvents(10);
    if (!ds->isReady(QStringLiteral("loop"))) {
        std::fprintf(stderr, "the loop was not decoded\n");
        return 2;
    }
    TestSupport::MonitorCapture rec;
    if (!rec.start(sink + QStringLiteral(".monitor"))) {
        std::fprintf(stderr, "no monitor recording\n");
        return 2;
    }
    const pid_t load = busy > 0 ? StallProbe::spinEveryCore(busy) : 0;
    ds->triggerSingle(QStringLiteral("loop"), 1.0f);
    int largest = ds->mixer() ? ds->mixer()->queueFrames() : 0;
    runEvents(seconds * 500, ds->mixer(), &largest);
    const double sinkMs = sinkLatencyMs(sink);
    runEvents(seconds * 500, ds->mixer(), &largest);
    const QByteArray recorded = rec.stop();
    if (load > 0) {
        kill(load, SIGKILL);
        waitpid(load, nullptr, 0);
    }
    AudioOutput* out = ds->mixer() ? ds->mixer()->output() : nullptr;
    const quint64 underruns = out ? out->underrunCount() : 0;
    const int queue = ds->mixer() ? ds->mixer()->queueFrames() : 0;
    const quint32 growths = ds->mixer() ? ds->mixer()->queueGrowths() : 0;
    ds->stopAll();
    const MonitorHoles::Holes h = MonitorHoles::count(recorded);
    std::printf("holes %d total %.1f longest %.1f underruns %llu queue %d sink %.1f last %.0f recorded %.0f "
                "largest %d growths %u\n",
                h.count, h.totalMs, h.longestMs, (unsigned long long)underruns, queue, sinkMs, h.lastAtS,
                h.recordedS, largest, growths);
    std::fflush(stdout);
    ds->shutdown();
    if (withOthers)
        WasapiEngine::instance()->shutdown();
    return 0;
}

// Runs one child and prints its figures as a row.
bool runChild(const QString& self, bool withOthers, int seconds, int busy)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString sink = env.value(QStringLiteral("TR_PULSE_OWN_SINK"), QStringLiteral("tr_rec"));
    // Every stream of the child goes to the sink that never rewinds, as the
    // program's streams all go to the default output.
    env.insert(QStringLiteral("PULSE_SINK"), sink);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(self, {QStringLiteral("--child"), withOthers ? QStringLiteral("program") : QStringLiteral("alone"),
                   QString::number(seconds), QString::number(busy)});
    if (!p.waitForFinished((seconds + 60) * 1000) || p.exitCode() != 0) {
        std::printf("%-34s the run failed\n", withOthers ? "engines as the program opens them" : "button engine alone");
        return false;
    }
    const QString line = QString::fromUtf8(p.readAllStandardOutput()).trimmed().split('\n').last();
    const QStringList f = line.split(' ');
    if (f.size() < 20) {
        std::printf("unreadable result: %s\n", qPrintable(line));
        return false;
    }
    std::printf("%-34s %-9s holes %3s (%6s ms in all, longest %5s ms, the last at %4s s)  underruns %3s  queue %4s "
                "frames (largest %4s, grew %s times)  sink latency %5s ms\n",
                withOthers ? "engines as the program opens them" : "button engine alone",
                busy > 0 ? qPrintable(QStringLiteral("%1 busy").arg(busy)) : "idle", qPrintable(f[1]),
                qPrintable(f[3]), qPrintable(f[5]), qPrintable(f[13]), qPrintable(f[7]), qPrintable(f[9]),
                qPrintable(f[17]), qPrintable(f[19]), qPrintable(f[11]));
    std::fflush(stdout);
    return f[1] == QLatin1String("0");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args[1] == QLatin1String("--count")) {
        // Holes in a recording made elsewhere (raw 16-bit stereo 44100 Hz),
        // e.g. of the running program: the same count as the runs above.
        QFile f(args[2]);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(args[2]));
            return 2;
        }
        const MonitorHoles::Holes h = MonitorHoles::count(f.readAll());
        std::printf("%.0f s recorded: holes %d (%.1f ms in all, longest %.1f ms)\n", h.recordedS, h.count,
                    h.totalMs, h.longestMs);
        return h.count == 0 ? 0 : 1;
    }
    if (args.size() >= 5 && args[1] == QLatin1String("--child"))
        return child(args[2] == QLatin1String("program"), args[3].toInt(), args[4].toInt());

    const int seconds = args.size() > 1 ? args[1].toInt() : 300;
    const int busy = args.size() > 2 ? args[2].toInt() : 4;
    // --program-only: the engines as the program opens them, without the
    // button engine alone beside them.
    const bool programOnly = args.contains(QStringLiteral("--program-only"));
    std::printf("a 2 s tone looping on the pre-decoded path, %d s a run, into a sink that never rewinds\n", seconds);
    bool clean = true;
    const std::vector<int> runs = busy > 0 ? std::vector<int>{0, busy} : std::vector<int>{0};
    for (int loops : runs)
        for (bool withOthers : {false, true})
            if (withOthers || !programOnly)
                clean = runChild(app.applicationFilePath(), withOthers, seconds, loops) && clean;
    return clean ? 0 : 1;
}
