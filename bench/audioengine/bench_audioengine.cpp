// Press to sound through AudioEngine on the PulseAudio null sink.
//
// Records the sink's monitor with parec and times playRapid() to the first
// non-silent sample, for a press that adopts a pre-buffered player, a cold
// press (new player), and a re-press of a live slot; beside the same
// measurement of a plain 16-bit QAudioSink write to the same sink (the floor).
// Also the interval between position reports. Each media back end runs in a
// child process of its own (QT_MEDIA_BACKEND is read once per process).
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/audioengine/bench_audioengine [presses]
#include <QAudioSink>
#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMediaDevices>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

#include "AudioEngine.h"
#include "BenchTiming.h"
#include "TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;
constexpr int kThreshold = 1000;   // of 32767; the null sink is silent otherwise

double msSince(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Reads the monitor through parec on a thread of its own and notes when the
// first loud sample after arm() arrives. The arrival time of a block, less the
// frames that follow the loud one in it, stands for the time it sounded; the
// recorder's own delay is the same for every measurement, the floor included.
class Recorder
{
public:
    bool start(const QString& monitor)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            const QByteArray dev = monitor.toUtf8();
            execlp("parec", "parec", "-d", dev.constData(), "--raw", "--format=s16le", "--rate=44100",
                   "--channels=2", "--latency-msec=5", (char*)nullptr);
            _exit(127);
        }
        close(fds[1]);
        m_fd = fds[0];
        m_thread = std::thread([this] { run(); });
        return m_pid > 0;
    }
    void stop()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            close(m_fd);
    }
    void arm(Clock::time_point t0)
    {
        m_t0 = t0;
        m_hit.store(false);
        m_armed.store(true);
    }
    bool hit() const { return m_hit.load(); }
    double latencyMs() const { return msSince(m_t0, m_hitAt); }
    // Time of the last loud sample seen, armed or not.
    Clock::time_point lastLoud() const { return Clock::time_point(Clock::duration(m_lastLoud.load())); }
    bool receiving() const { return m_bytes.load() > 0; }

private:
    void run()
    {
        std::vector<char> buf(4096);
        for (;;) {
            const ssize_t n = read(m_fd, buf.data(), buf.size());
            if (n <= 0)
                return;
            const auto now = Clock::now();
            m_bytes.fetch_add(n);
            const int frames = int(n / 4);
            const int i = TestSupport::firstLoudFrame(buf.data(), frames, kThreshold);
            if (i < 0)
                continue;
            const auto at = now - std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(frames - i) / kRate));
            m_lastLoud.store(now.time_since_epoch().count());
            if (m_armed.load() && at > m_t0) {
                m_hitAt = at;
                m_armed.store(false);
                m_hit.store(true);
            }
        }
    }

    pid_t m_pid = -1;
    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_hit{false};
    std::atomic<qint64> m_bytes{0};
    std::atomic<Clock::rep> m_lastLoud{0};
    Clock::time_point m_t0;
    Clock::time_point m_hitAt;
};

// An idle null sink renders in chunks of up to two seconds, and its monitor
// then delivers in bursts. A silent low-latency stream keeps it running in
// small periods for the whole run.
pid_t startKeeper()
{
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("pacat", "pacat", "--raw", "--format=s16le", "--rate=44100", "--channels=2", "--latency-msec=5",
               "/dev/zero", (char*)nullptr);
        _exit(127);
    }
    return pid;
}

// Runs the event loop until pred() or ms have passed, leaving the audio
// threads the processor between rounds.
bool spinUntil(const std::function<bool()>& pred, int ms)
{
    return BenchTiming::spinUntil(pred, ms, 200);
}

void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

// Waits until the sink has been quiet for a while.
void waitQuiet(const Recorder& rec)
{
    spinUntil([&] { return msSince(rec.lastLoud(), Clock::now()) > 250; }, 5000);
}

// A 1 kHz stereo tone at about half scale.
QVector<qint16> tone(double seconds)
{
    return TestSupport::sine(1000.0, seconds, 2, kRate, 16000.0 / 32767.0);
}

using Stats = BenchTiming::Deciles;

Stats stats(const std::vector<double>& v)
{
    return BenchTiming::deciles(v);
}

void report(const char* name, const Stats& s)
{
    std::printf("R %s %.2f %.2f %.2f %d\n", name, s.median, s.p10, s.p90, s.n);
    std::fflush(stdout);
}

// ---- the child: one media back end -----------------------------------------

int runChild(int presses, const QString& dir)
{
    Recorder rec;
    if (!rec.start(qEnvironmentVariable("TR_PULSE_MONITOR")) || !spinUntil([&] { return rec.receiving(); }, 5000)) {
        std::fprintf(stderr, "parec does not record\n");
        return 1;
    }
    const QString path = dir + "/press.wav";
    TestSupport::writeWav16(path, tone(0.3), 2, kRate);
    AudioEngine e;
    e.warmupBackend();
    ButtonData b;
    b.id = "bench";
    b.audioPath = path;

    auto press = [&](std::vector<double>& out) {
        waitQuiet(rec);
        rec.arm(Clock::now());
        e.cancelFade(b.id);
        e.playRapid(b, QString());
        e.notifyPlay(b.id);
        if (spinUntil([&] { return rec.hit(); }, 3000))
            out.push_back(rec.latencyMs());
    };

    // Pre-buffered: the press adopts a loaded player made ahead of time.
    std::vector<double> pre;
    for (int i = 0; i < presses; ++i) {
        e.stop(b.id);
        e.preBuffer({path});
        spinUntil([&] {
            const auto& t = e.bufferTable();
            return t.contains(path) && t.value(path).player->mediaStatus() == QMediaPlayer::LoadedMedia;
        }, 3000);
        press(pre);
    }
    e.stop(b.id);

    // Cold: nothing prepared, a new player and output at the press.
    e.setScheduler([](int, std::function<void()>) {});   // no re-buffer
    std::vector<double> cold;
    for (int i = 0; i < presses; ++i) {
        e.stop(b.id);
        e.clearBuffer();
        spinFor(30);
        press(cold);
    }

    // Re-press of a live slot that has ended: a seek and play on the same player.
    std::vector<double> again;
    e.stop(b.id);
    press(again);
    again.clear();
    for (int i = 0; i < presses; ++i) {
        spinUntil([&] { return !e.isPlaying(b.id); }, 3000);
        press(again);
    }
    e.stop(b.id);

    // Position reports of a 3 s sound.
    TestSupport::writeWav16(dir + "/long.wav", tone(3.0), 2, kRate);
    ButtonData lb;
    lb.id = "long";
    lb.audioPath = dir + "/long.wav";
    std::vector<double> gaps;
    Clock::time_point last{};
    QObject::connect(&e, &AudioEngine::positionChanged, &e, [&](const QString& id, qint64, qint64) {
        const auto now = Clock::now();
        if (id == "long" && last != Clock::time_point{})
            gaps.push_back(msSince(last, now));
        last = now;
    });
    waitQuiet(rec);
    e.play(lb, QString());
    spinUntil([&] { return !e.isPlaying("long"); }, 10000);

    // From play() to the reported end of a 1.09 s sound: through a new
    // player, and through a player that sat prepared for 3 s first (as an
    // Auto-Mix track does between its passes).
    TestSupport::writeWav16(dir + "/end.wav", tone(1.09), 2, kRate);
    ButtonData eb;
    eb.id = "end";
    eb.audioPath = dir + "/end.wav";
    std::vector<double> endFresh, endPrepared;
    auto timeToEnd = [&](std::vector<double>& out) {
        const auto start = Clock::now();
        e.play(eb, QString());
        if (spinUntil([&] { return !e.isPlaying(eb.id); }, 20000))
            out.push_back(msSince(start, Clock::now()));
        e.stop(eb.id);
    };
    // The re-buffer after each play prepares the next player at once.
    e.setScheduler([](int, std::function<void()> work) { work(); });
    for (int i = 0; i < 3; ++i) {
        e.clearBuffer();
        timeToEnd(endFresh);
        spinFor(3000);
        timeToEnd(endPrepared);
    }
    rec.stop();

    report("prebuffered", stats(pre));
    report("cold", stats(cold));
    report("restart", stats(again));
    report("position_interval", stats(gaps));
    report("end_1090ms_new_player", stats(endFresh));
    report("end_1090ms_prepared_3s", stats(endPrepared));
    return 0;
}

// ---- the floor: a 16-bit write straight to the sink --------------------------

Stats runFloor(int presses)
{
    Recorder rec;
    std::vector<double> out;
    if (!rec.start(qEnvironmentVariable("TR_PULSE_MONITOR")) || !spinUntil([&] { return rec.receiving(); }, 5000))
        return {};
    QAudioFormat fmt;
    fmt.setSampleRate(kRate);
    fmt.setChannelCount(2);
    fmt.setSampleFormat(QAudioFormat::Int16);
    const QVector<qint16> samples = tone(0.3);
    const QByteArray pcm(reinterpret_cast<const char*>(samples.constData()), samples.size() * 2);
    for (int i = 0; i < presses; ++i) {
        waitQuiet(rec);
        QBuffer buf;
        buf.setData(pcm);
        buf.open(QIODevice::ReadOnly);
        QAudioSink sink(QMediaDevices::defaultAudioOutput(), fmt);
        sink.setBufferSize(kRate * 4 / 10);   // Qt 6.4 pulls nothing with much smaller buffers
        rec.arm(Clock::now());
        sink.start(&buf);
        if (spinUntil([&] { return rec.hit(); }, 3000))
            out.push_back(rec.latencyMs());
        else
            std::fprintf(stderr, "floor: no sound (sink state %d, error %d)\n", int(sink.state()), int(sink.error()));
        spinFor(350);
        sink.stop();
    }
    rec.stop();
    return stats(out);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || qEnvironmentVariableIsEmpty("TR_PULSE_MONITOR")) {
        std::fprintf(stderr, "start the sound server first: eval \"$(scripts/sound-server start DIR)\"\n");
        return 2;
    }
    if (args.size() >= 4 && args.at(1) == "--child")
        return runChild(args.at(2).toInt(), args.at(3));

    const int presses = args.size() >= 2 ? std::max(1, args.at(1).toInt()) : 50;
    QTemporaryDir dir;
    const pid_t keeper = startKeeper();
    spinFor(500);
    const Stats floor = runFloor(presses);
    std::printf("Press to first sound on the null sink, %d presses, ms (median [p10..p90]):\n", presses);
    std::printf("  %-34s %7.1f [%5.1f..%5.1f]  n=%d\n", "floor: 16-bit QAudioSink write", floor.median, floor.p10,
                floor.p90, floor.n);
    for (const char* backend : {"gstreamer", "ffmpeg"}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_MEDIA_BACKEND", backend);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::SeparateChannels);
        child.start(app.applicationFilePath(), {"--child", QString::number(presses), dir.path()});
        child.waitForFinished(-1);
        const QStringList lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
        if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
            std::printf("  %s: the child process ended abnormally (code %d); its last words:\n%s\n", backend,
                        child.exitCode(), child.readAllStandardError().right(300).constData());
        for (const QString& l : lines) {
            const QStringList f = l.split(' ');
            if (f.size() != 6 || f.at(0) != "R")
                continue;
            const double med = f.at(2).toDouble();
            const QString what = QString("%1 %2").arg(backend, f.at(1));
            if (f.at(1).startsWith("end_"))
                std::printf("  %-34s %7.1f [%5.1f..%5.1f]  n=%s\n", qPrintable(what), med, f.at(3).toDouble(),
                            f.at(4).toDouble(), qPrintable(f.at(5)));
            else if (f.at(1) == "position_interval")
                std::printf("  %-34s %7.1f [%5.1f..%5.1f]  reports=%s\n", qPrintable(what), med,
                            f.at(3).toDouble(), f.at(4).toDouble(), qPrintable(f.at(5)));
            else
                std::printf("  %-34s %7.1f [%5.1f..%5.1f]  n=%s  %.2fx floor\n", qPrintable(what), med,
                            f.at(3).toDouble(), f.at(4).toDouble(), qPrintable(f.at(5)),
                            floor.median > 0 ? med / floor.median : 0.0);
        }
    }
    if (keeper > 0) {
        kill(keeper, SIGTERM);
        waitpid(keeper, nullptr, 0);
    }
    return 0;
}
