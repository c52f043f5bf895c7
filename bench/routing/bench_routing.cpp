// Press to sound through the main window, end to end on the PulseAudio null
// sink: a synthetic key press on the window to the first loud sample recorded
// from the sink's monitor, through the pre-decoded path and through the
// players' path (AudioEngine), beside the floor: the same recording of a
// click written straight to the same sink by a tiny render loop with a 5 ms
// period and two periods of buffer. Target: the pre-decoded median within
// 10 ms of the floor.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/routing/bench_routing [presses]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "AudioEngine.h"
#include "AudioOutput.h"
#include "BenchTiming.h"
#include "DirectSoundEngine.h"
#include "MainWindow.h"
#include "SessionManager.h"
#include "TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRate = 44100;
constexpr int kLoud = 1000; // of 32767; the null sink is silent otherwise

double msBetween(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

// Reads the monitor on a thread of its own and notes when the first loud
// sample after arm() sounded: the arrival of its block less the frames that
// follow it there. The recorder's own delay is the same for every path.
class MonitorReader : public QThread
{
public:
    void arm(Clock::time_point t0)
    {
        m_t0 = t0;
        m_hit.store(false);
        m_armed.store(true);
    }
    bool hit() const { return m_hit.load(); }
    double latencyMs() const { return msBetween(m_t0, m_hitAt); }
    double quietMs() const { return msBetween(Clock::time_point(Clock::duration(m_lastLoud.load())), Clock::now()); }
    bool receiving() const { return m_receiving.load(); }
    void finish() { m_stop.store(true); }

protected:
    void run() override
    {
        QProcess rec;
        if (!TestSupport::startMonitorRecording(rec))
            return;
        m_receiving.store(true);
        while (!m_stop.load()) {
            if (!rec.waitForReadyRead(50) && rec.bytesAvailable() == 0)
                continue;
            const QByteArray block = rec.readAll();
            const auto now = Clock::now();
            const int frames = int(block.size() / 4);
            const int i = TestSupport::firstLoudFrame(block.constData(), frames, kLoud);
            if (i < 0)
                continue;
            m_lastLoud.store(now.time_since_epoch().count());
            const auto at = now - std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(frames - i) / kRate));
            if (m_armed.load() && at > m_t0) {
                m_hitAt = at;
                m_armed.store(false);
                m_hit.store(true);
            }
        }
        rec.kill();
        rec.waitForFinished(1000);
    }

private:
    std::atomic<bool> m_stop{false}, m_armed{false}, m_hit{false}, m_receiving{false};
    std::atomic<Clock::rep> m_lastLoud{0};
    Clock::time_point m_t0, m_hitAt;
};

// The floor: a render loop that keeps a 5 ms / two-period ALSA stream on the
// sink fed with silence and writes the click at the next period once asked.
class FloorWriter
{
public:
    bool open(const QVector<qint16>& click)
    {
        AudioOutputConfig cfg;
        cfg.periodFrames = 220;
        cfg.bufferFrames = 440;
        QString error;
        m_out = AudioOutput::openBackend(AudioOutput::Backend::Alsa, cfg, &error);
        if (!m_out) {
            std::fprintf(stderr, "floor: %s\n", qPrintable(error));
            return false;
        }
        m_click = click;
        m_thread = std::thread([this] { run(); });
        return true;
    }
    void press() { m_pressed.store(true); }
    void close()
    {
        m_running.store(false);
        if (m_out)
            m_out->wake();
        if (m_thread.joinable())
            m_thread.join();
        m_out.reset();
    }

private:
    void run()
    {
        const int buffer = m_out->bufferFrames();
        if (m_out->getBuffer(buffer))
            m_out->releaseBuffer(buffer, true);
        m_out->start();
        qsizetype at = -1;
        while (m_running.load()) {
            m_out->waitForPeriod(100);
            const int queued = m_out->padding();
            if (queued < 0)
                return;
            const int free = m_out->bufferFrames() - queued;
            if (free <= 0)
                continue;
            auto* dst = static_cast<qint16*>(m_out->getBuffer(free));
            if (!dst)
                continue;
            if (at < 0 && m_pressed.exchange(false))
                at = 0;
            for (int f = 0; f < free; ++f) {
                const bool sounding = at >= 0 && at < m_click.size() / 2;
                dst[2 * f] = sounding ? m_click[2 * at] : 0;
                dst[2 * f + 1] = sounding ? m_click[2 * at + 1] : 0;
                if (sounding)
                    ++at;
            }
            if (at >= m_click.size() / 2)
                at = -1;
            m_out->releaseBuffer(free, false);
        }
        m_out->stop();
    }

    std::unique_ptr<AudioOutput> m_out;
    QVector<qint16> m_click;
    std::thread m_thread;
    std::atomic<bool> m_running{true}, m_pressed{false};
};

bool spinUntil(const std::function<bool()>& done, int ms)
{
    return BenchTiming::spinUntil(done, ms, 200);
}

struct Figures : BenchTiming::Deciles
{
    int missed = 0;
};

Figures figuresOf(const std::vector<double>& v, int missed)
{
    return {BenchTiming::deciles(v), missed};
}

// Runs n presses: before each the sink is quiet for 250 ms, then press()
// stamps and acts; the hit is waited for up to 3 s.
Figures measure(MonitorReader& reader, int n, const std::function<void()>& prepare,
                const std::function<void()>& press, const std::function<void()>& after)
{
    std::vector<double> lat;
    int missed = 0;
    for (int i = 0; i < n; ++i) {
        prepare();
        spinUntil([&] { return reader.quietMs() > 250; }, 5000);
        reader.arm(Clock::now());
        press();
        if (spinUntil([&] { return reader.hit(); }, 3000))
            lat.push_back(reader.latencyMs());
        else
            ++missed;
        after();
    }
    return figuresOf(lat, missed);
}

void print(const char* what, const Figures& f, const Figures& floor)
{
    std::printf("%-22s median %6.1f ms  p10 %6.1f  p90 %6.1f  (%d heard, %d missed)  median - floor %+6.1f ms\n",
                what, f.median, f.p10, f.p90, f.n, f.missed, f.median - floor.median);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The media back end the program itself runs on.
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER") || qEnvironmentVariableIsEmpty("TR_PULSE_MONITOR")) {
        std::fprintf(stderr, "start the sound server first: eval \"$(scripts/sound-server start DIR)\"\n");
        return 2;
    }
    TestSupport::isolateSettings();

    // A silent low-latency stream keeps the idle null sink rendering in small
    // periods, so its monitor does not deliver in bursts.
    QProcess keeper;
    keeper.start(QStringLiteral("pacat"), {QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                                           QStringLiteral("--rate=44100"), QStringLiteral("--channels=2"),
                                           QStringLiteral("--latency-msec=5"), QStringLiteral("/dev/zero")});
    keeper.waitForStarted(3000);

    MonitorReader reader;
    reader.start();
    if (!spinUntil([&] { return reader.receiving(); }, 5000)) {
        std::fprintf(stderr, "no recording of the monitor\n");
        return 2;
    }

    const QVector<qint16> click = TestSupport::sine(1000.0, 0.3, 2, kRate, 0.5);
    const QString dir = TestSupport::tempDir();
    const QString clickWav = QDir(dir).filePath(QStringLiteral("click.wav"));
    TestSupport::writeWav16(clickWav, click, 2, kRate);

    // 1. Floor.
    Figures floor;
    {
        FloorWriter writer;
        if (!writer.open(click))
            return 2;
        floor = measure(reader, presses, [] {}, [&] { writer.press(); }, [] {});
        writer.close();
    }

    // 2. The window, one tab: A plays pre-decoded, B through the players.
    auto* w = new MainWindow;
    w->show();
    Session s;
    s.buttonsPerTab = 24;
    TabData tab;
    tab.name = QStringLiteral("Bench");
    for (const char* key : {"A", "B"}) {
        ButtonData b;
        b.id = QStringLiteral("bench-") + QLatin1String(key);
        b.name = b.id;
        b.key = QLatin1String(key);
        b.audioPath = clickWav;
        tab.buttons << b;
    }
    s.tabs << tab;
    s.restart = true;
    SessionManager::instance()->session() = s;
    emit SessionManager::instance()->sessionLoaded(SessionManager::instance()->session());
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    if (!spinUntil([&] { return ds->isInitialized() && ds->isReady(QStringLiteral("bench-A")); }, 10000)) {
        std::fprintf(stderr, "the pre-decoded engine did not get ready\n");
        return 2;
    }
    spinUntil([] { return false; }, 500);

    std::vector<double> routing;
    auto pressKey = [&](int key, const QString& text) {
        QKeyEvent e(QEvent::KeyPress, key, Qt::NoModifier, text);
        const auto t0 = Clock::now();
        QCoreApplication::sendEvent(w, &e);
        routing.push_back(msBetween(t0, Clock::now()));
    };
    auto stopAll = [&] { w->onStopAll(); };

    const Figures viaDs = measure(reader, presses, [] {}, [&] { pressKey(Qt::Key_A, QStringLiteral("a")); }, stopAll);
    const Figures routingDs = figuresOf(routing, 0);
    routing.clear();
    const Figures viaPlayers = measure(
        reader, presses, [&] { ds->evict(QStringLiteral("bench-B")); },
        [&] { pressKey(Qt::Key_B, QStringLiteral("b")); }, stopAll);
    const Figures routingPlayers = figuresOf(routing, 0);

    std::printf("Press to sound on the null sink, %d presses each (media back end: %s)\n", presses,
                qgetenv("QT_MEDIA_BACKEND").isEmpty() ? "default" : qgetenv("QT_MEDIA_BACKEND").constData());
    print("floor (5 ms x 2)", floor, floor);
    print("pre-decoded path", viaDs, floor);
    print("players' path", viaPlayers, floor);
    std::printf("time inside the key press (routing and display): pre-decoded median %.2f ms p90 %.2f; "
                "players' median %.2f ms p90 %.2f\n",
                routingDs.median, routingDs.p90, routingPlayers.median, routingPlayers.p90);
    std::printf("target: pre-decoded median within 10 ms of the floor: %s\n",
                viaDs.n > 0 && viaDs.median - floor.median <= 10.0 ? "met" : "NOT met");

    delete w;
    reader.finish();
    reader.wait();
    keeper.kill();
    keeper.waitForFinished(1000);
    return 0;
}
