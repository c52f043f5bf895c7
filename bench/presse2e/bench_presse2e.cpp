// Press to sound through the running program, measured from outside it.
//
// The built program is started under a virtual X server with a one-button
// session. For every press this tool writes a short 5 kHz click straight to
// the sound server through ALSA (5 ms period, 10 ms buffer: the floor) and,
// at the same moment, sends the button's key through the X server (XTest).
// One recording of the null sink's monitor holds both; the click and the
// button's 440 Hz tone are told apart by frequency, and the figure is the
// tone's onset less the click's onset in the same recording: the program's
// press-to-sound time over the floor.
//
// Every other press has a second floor instead: its click is the first
// thing written to a stream opened just before the press, with nothing
// queued ahead of it (the floor writer above keeps its own 10 ms queue,
// which makes a program look faster than a press can be). Both figures are
// printed.
//
// --alone measures with nothing else playing on the server: no floor
// writer; presses and clicks on freshly opened streams take turns, each
// timed against the moment it was asked for on the recording's timeline,
// and the figure is the median press less the median click.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/presse2e/bench_presse2e [--presses N] [--path predecoded|players]
//                                       [--program PATH] [--alone] [--rec-latency MS]
//                                       [--loop SECONDS [--busy N]] [--over-voice]
//
// --loop makes the button a looping 2 s tone on the sink that never rewinds,
// presses it once and counts the holes heard over SECONDS (with N busy
// loops beside it): the engines' loop benchmark (bench_engineloop), in the
// running program.
//
// --over-voice presses the button while another button loops silence: the
// press is heard behind the button engine's queue, not from an idle stream.
//
// --stall ROUNDS [--busy N] stops the sound server (SIGSTOP) for 2 s, ROUNDS
// times 5 s apart, while buttons on both paths and both outputs are pressed
// ten times a second with Space and Esc among them, and watches the window's
// thread: the longest time it waited (asleep outside its event loop's poll)
// in each stall, and outside the stalls. --stack FILE adds the window's
// thread's stack (gdb) to FILE whenever it has waited 300 ms in a stall.
//
// --path players keeps the pre-decoded engine from starting in the program
// (TR_NO_PREDECODE=1), so every press plays through the media players. It
// then also presses a second button whose 60 ms click plays on the sink
// that never rewinds (a second output), recorded on its monitor: each press
// must be heard, and whole.
// --rec-latency is the latency the monitor's recording asks for (20 ms
// unless given; 0 leaves it to the recorder, whose long default lets the
// sink mix far ahead whenever no stream asks for less).
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <csignal>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

#include "BenchTiming.h"
#include "MonitorHoles.h"
#include "StallProbe.h"
#include "SoundTiming.h"
#include "SoundServer.h"
#include "TestSupport.h"
#include "Types.h"

namespace {

using BenchTiming::printSpreadMs;
using SoundTiming::kRate;
constexpr double kToneHz = 440.0;
constexpr int kLoopToneSeconds = 2;
constexpr double kClickSeconds = 0.06;

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// --- X helpers -------------------------------------------------------------------
// The window's title as UTF-8 (_NET_WM_NAME; the title holds a dash that the
// plain WM_NAME cannot carry).
std::string windowTitle(Display* dpy, Window w)
{
    const Atom netName = XInternAtom(dpy, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(dpy, w, netName, 0, 1024, False, utf8, &type, &format, &n, &after, &data) == Success
        && data) {
        title.assign(reinterpret_cast<char*>(data), n);
        XFree(data);
    }
    return title;
}

// The first viewable window whose title holds every part.
Window findWindow(Display* dpy, Window w, const char* part, const char* part2)
{
    const std::string title = windowTitle(dpy, w);
    if (title.find(part) != std::string::npos && title.find(part2) != std::string::npos) {
        XWindowAttributes a;
        if (XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable)
            return w;
    }
    Window root, parent, *kids = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &kids, &n))
        return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; ++i)
        found = findWindow(dpy, kids[i], part, part2);
    if (kids)
        XFree(kids);
    return found;
}

QString startXvfb(QProcess& xvfb)
{
    for (int d = 91; d < 120; ++d) {
        if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(d)))
            continue;
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(d), QStringLiteral("-screen"),
                                           QStringLiteral("0"), QStringLiteral("1600x1000x24"),
                                           QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted(3000))
            return {};
        const QByteArray name = QStringLiteral(":%1").arg(d).toLatin1();
        for (int i = 0; i < 100; ++i) {
            if (Display* dpy = XOpenDisplay(name.constData())) {
                XCloseDisplay(dpy);
                return QString::fromLatin1(name);
            }
            sleepMs(50);
        }
        return {};
    }
    return {};
}

// loopSeconds above 0: the button loops a tone of that length instead.
// secondOutput not empty: a second button (key W) plays a 60 ms click there.
// withBed: a third button (key E) loops silence, a voice that keeps the
// button engine's queue full without sounding.
// The bench's session as bench.vx in dir: one tab of 36 pads, neither
// Auto-Stop nor Cross-Tab Stop, a re-press restarting or not.
bool saveSession(Session& s, const QString& dir, bool restart)
{
    s.buttonsPerTab = 36;
    s.autoStop = false;
    s.crossTabStop = false;
    s.restart = restart;
    QFile f(dir + QStringLiteral("/bench.vx"));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QJsonDocument(s.toJson()).toJson());
    return true;
}

bool writeSession(const QString& dir, int loopSeconds, const QString& secondOutput, bool withBed)
{
    Session s;
    TabData t;
    t.id = QStringLiteral("tab-1");
    t.name = QStringLiteral("Bench");
    ButtonData b;
    b.id = QStringLiteral("btn-1");
    b.name = QStringLiteral("Tone");
    b.audioPath = dir + QStringLiteral("/tone.wav");
    // Whole cycles, so a loop joins without a click or a silent sample.
    const double seconds = loopSeconds > 0 ? loopSeconds : 0.3;
    if (!TestSupport::writeWav16(b.audioPath, TestSupport::sine(kToneHz, seconds, 2, kRate, 0.5), 2, kRate))
        return false;
    b.loop = loopSeconds > 0;
    b.key = QStringLiteral("Q");
    t.buttons.append(b);
    if (!secondOutput.isEmpty()) {
        ButtonData c;
        c.id = QStringLiteral("btn-2");
        c.name = QStringLiteral("Click");
        c.audioPath = dir + QStringLiteral("/click.wav");
        c.outputDevice = secondOutput;
        c.key = QStringLiteral("W");
        if (!TestSupport::writeWav16(c.audioPath, TestSupport::sine(kToneHz, kClickSeconds, 2, kRate, 0.5), 2, kRate))
            return false;
        t.buttons.append(c);
    }
    if (withBed) {
        ButtonData bed;
        bed.id = QStringLiteral("btn-3");
        bed.name = QStringLiteral("Bed");
        bed.audioPath = dir + QStringLiteral("/bed.wav");
        if (!TestSupport::writeWav16(bed.audioPath, QVector<qint16>(2 * 2 * kRate, 0), 2, kRate))
            return false;
        bed.loop = true;
        bed.key = QStringLiteral("E");
        t.buttons.append(bed);
    }
    s.tabs.append(t);
    return saveSession(s, dir, false);
}

void pressKey(Display* dpy, KeyCode key)
{
    XTestFakeKeyEvent(dpy, key, True, CurrentTime);
    XFlush(dpy);
    sleepMs(40);
    XTestFakeKeyEvent(dpy, key, False, CurrentTime);
    XFlush(dpy);
}

// Presses beside the floor writer's stream, which plays all the time: each
// press has a click at the same moment, on the floor writer or (every other
// press) on a stream opened just before it. The figures are the tone's onset
// less the click's in the recording.
int measureBesideFloor(Display* dpy, KeyCode key, int presses, const QString& path, int recLatencyMs)
{
    SoundTiming::FloorWriter floor;
    TestSupport::MonitorCapture rec;
    if (!floor.start() || !rec.start(QString(), recLatencyMs)) {
        std::fprintf(stderr, "cannot start the floor writer or the recording\n");
        return 1;
    }
    const auto recStart = std::chrono::steady_clock::now();
    sleepMs(500);
    std::mt19937 rng(7);
    // When each press was made, in frames of the recording, and which floor it had.
    std::vector<long> pressedAt;
    std::vector<bool> cold;
    for (int i = 0; i < presses; ++i) {
        const bool coldFloor = i % 2 == 1;
        SoundTiming::ColdClick coldClick;
        if (coldFloor && !coldClick.open()) {
            std::fprintf(stderr, "cannot open a stream for the second floor\n");
            return 1;
        }
        sleepMs(550 + int(rng() % 50));
        if (coldFloor)
            coldClick.play();
        else
            floor.click();
        pressedAt.push_back(long(std::chrono::duration<double>(std::chrono::steady_clock::now() - recStart).count()
                                 * kRate));
        cold.push_back(coldFloor);
        pressKey(dpy, key);
        coldClick.join();
    }
    sleepMs(800);
    const QByteArray pcm = rec.stop();
    floor.stop();

    const SoundTiming::Bands bands = SoundTiming::splitBands(pcm);
    const long quiet = kRate / 10;
    const auto clicks = SoundTiming::onsets(bands.high, 0.08f, quiet);
    const auto tones = SoundTiming::onsets(bands.low, 0.08f, quiet);
    // Each click belongs to the press made nearest before its onset in
    // the recording (presses are 0.6 s apart, the way to the sink far
    // shorter), which says which floor it was.
    auto coldClickAt = [&](long c) {
        size_t best = 0;
        for (size_t i = 0; i < pressedAt.size(); ++i)
            if (std::labs(pressedAt[i] - c) < std::labs(pressedAt[best] - c))
                best = i;
        return !cold.empty() && cold[best];
    };
    std::vector<double> over, overCold;
    for (long c : clicks) {
        for (long t : tones) {
            if (t >= c - kRate / 20 && t <= c + kRate / 4) {
                (coldClickAt(c) ? overCold : over).push_back(1000.0 * double(t - c) / kRate);
                break;
            }
        }
    }
    std::printf("path %s: %d presses, %zu clicks, %zu tones, %zu pairs, floor xruns %d\n", qPrintable(path),
                presses, clicks.size(), tones.size(), over.size() + overCold.size(), floor.xruns());
    if (over.size() < size_t(presses) / 4 || overCold.size() < size_t(presses) / 4) {
        std::printf("too few pairs found\n");
        return 1;
    }
    printSpreadMs("press to sound over the floor", over);
    printSpreadMs("press to sound over a click on a stream opened just before it", overCold);
    return 0;
}

// Presses with nothing else playing on the server: presses and floor clicks
// (each on a stream opened just before it and closed after it) take turns,
// 0.6 s apart, so no other stream plays when a key goes down. Each onset is
// taken against the moment it was asked for on the recording's timeline;
// the figure is the median press less the median click.
int measureAlone(Display* dpy, KeyCode key, int presses, int recLatencyMs)
{
    TestSupport::MonitorCapture rec;
    if (!rec.start(QString(), recLatencyMs)) {
        std::fprintf(stderr, "cannot start the recording\n");
        return 1;
    }
    const auto recStart = std::chrono::steady_clock::now();
    sleepMs(500);
    SoundTiming::Turns turns;
    if (!SoundTiming::takeTurns(presses, recStart, 7, 550, [&] { pressKey(dpy, key); }, [] {}, turns)) {
        std::fprintf(stderr, "cannot open a stream for the floor\n");
        return 1;
    }
    sleepMs(800);
    const QByteArray pcm = rec.stop();

    const SoundTiming::TurnLateness late = SoundTiming::latenessOfTurns(pcm, turns);
    std::printf("alone on the server: %d presses, %zu tones, %zu clicks heard\n", presses, late.pressMs.size(),
                late.clickMs.size());
    if (!SoundTiming::printTurnFigures(late, presses, "press to tone on the recording's timeline",
                                       "click on a stream opened just before it",
                                       "press to sound over the fresh-stream floor, alone"))
        return 1;
    return 0;
}

// Presses of the 60 ms click on the second output, 0.6 s apart, recorded
// on that output's monitor: how many were heard, and for how long.
int measureSecondOutputClicks(Display* dpy, KeyCode key, int presses)
{
    TestSupport::MonitorCapture rec;
    if (!rec.start(qEnvironmentVariable("TR_PULSE_OWN_SINK") + QStringLiteral(".monitor"))) {
        std::fprintf(stderr, "no recording of the second output\n");
        return 2;
    }
    sleepMs(300);
    for (int i = 0; i < presses; ++i) {
        pressKey(dpy, key);
        sleepMs(560);
    }
    sleepMs(500);
    const QByteArray pcm = rec.stop();
    // The tone's stretches, split where it stays quiet over 5 ms.
    const auto heard = SoundTiming::soundings(SoundTiming::splitBands(pcm).low, 0.05f, kRate / 200);
    std::vector<double> lengths;
    for (const SoundTiming::Sounding& s : heard)
        lengths.push_back(1000.0 * double(s.frames()) / kRate);
    std::printf("a %.0f ms click on a second output: %d presses, %zu heard\n", kClickSeconds * 1000, presses,
                heard.size());
    if (!lengths.empty())
        printSpreadMs("heard length of the click", lengths);
    const bool whole = std::all_of(lengths.begin(), lengths.end(),
                                   [](double ms) { return std::abs(ms - kClickSeconds * 1000) <= 10; });
    return heard.size() == size_t(presses) && whole ? 0 : 1;
}

// A show's buttons for --stall: Q a short tone (pre-decoded), W a 60 ms click
// on the second output (a stream of its own), E a looping bed, R a 3 s tone
// on the second output and T a 35 s bed (media players).
bool writeStallSession(const QString& dir)
{
    Session s;
    TabData t;
    t.id = QStringLiteral("tab-1");
    t.name = QStringLiteral("Bench");
    const QString second = qEnvironmentVariable("TR_PULSE_OWN_SINK");
    struct Pad { const char* key; const char* file; double seconds; bool loop; bool second; };
    const Pad pads[] = {{"Q", "tone", 0.3, false, false}, {"W", "click", kClickSeconds, false, true},
                        {"E", "bed", 2.0, true, false},   {"R", "three", 3.0, false, true},
                        {"T", "long", 35.0, false, false}};
    int n = 0;
    for (const Pad& p : pads) {
        ButtonData b;
        b.id = QStringLiteral("btn-%1").arg(++n);
        b.name = QString::fromLatin1(p.file);
        b.audioPath = dir + QLatin1Char('/') + QString::fromLatin1(p.file) + QStringLiteral(".wav");
        if (!TestSupport::writeWav16(b.audioPath, TestSupport::sine(kToneHz, p.seconds, 2, kRate, 0.3), 2, kRate))
            return false;
        b.loop = p.loop;
        b.key = QString::fromLatin1(p.key);
        if (p.second)
            b.outputDevice = second;
        t.buttons.append(b);
    }
    s.tabs.append(t);
    return saveSession(s, dir, true);
}

// Watches the window's thread from outside every 2 ms (/proc: its state and
// the kernel function it sleeps in) and keeps the longest stretch, in ms, in
// which it slept in anything but its event loop's poll: a wait on a lock, a
// condition or a reply, during which no event is taken.
class WindowWaits
{
public:
    // Once a wait has lasted 300 ms while armed, the thread's stack is
    // written to stackFile (gdb), once per arming.
    void start(qint64 pid, const QString& stackFile)
    {
        m_pid = pid;
        m_stackFile = stackFile.toStdString();
        m_path = QStringLiteral("/proc/%1/task/%1/").arg(pid).toStdString();
        m_thread = std::thread([this] { run(); });
    }
    // The longest wait since the last call (one still going counts so far).
    double takeLongestMs()
    {
        const long long since = m_waitingSince.load();
        double longest = m_longestNs.exchange(0) / 1e6;
        if (since > 0)
            longest = std::max(longest, (StallProbe::monoNs() - since) / 1e6);
        return longest;
    }
    void arm(bool on) { m_armed = on && !m_stackFile.empty(); }
    void stop()
    {
        m_run = false;
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    static std::string readLine(const std::string& path)
    {
        std::string line;
        if (FILE* f = std::fopen(path.c_str(), "r")) {
            char buf[512];
            if (std::fgets(buf, sizeof buf, f))
                line = buf;
            std::fclose(f);
        }
        return line;
    }
    void run()
    {
        while (m_run) {
            const std::string stat = readLine(m_path + "stat");
            const size_t close = stat.rfind(") ");
            const char state = close == std::string::npos ? '?' : stat[close + 2];
            const std::string wchan = readLine(m_path + "wchan");
            const bool waiting = (state == 'S' || state == 'D') && wchan.find("poll") == std::string::npos
                                 && wchan.find("select") == std::string::npos;
            const long long now = StallProbe::monoNs();
            if (waiting) {
                long long expected = 0;
                m_waitingSince.compare_exchange_strong(expected, now);
                if (m_armed.exchange(m_armed && now - m_waitingSince.load() < 300000000LL)
                    && now - m_waitingSince.load() >= 300000000LL) {
                    const std::string cmd = "gdb -p " + std::to_string(m_pid)
                                            + " -batch -ex 'thread apply 1 bt' >> '" + m_stackFile + "' 2>&1";
                    std::system(cmd.c_str());
                }
            } else if (const long long since = m_waitingSince.exchange(0); since > 0) {
                if (now - since > m_longestNs.load())
                    m_longestNs = now - since;
            }
            sleepMs(2);
        }
    }

    qint64 m_pid = 0;
    std::string m_stackFile;
    std::atomic<bool> m_armed{false};
    std::string m_path;
    std::thread m_thread;
    std::atomic<bool> m_run{true};
    std::atomic<long long> m_waitingSince{0};
    std::atomic<long long> m_longestNs{0};
};

// Presses while the sound server stalls: see --stall above.
int measureStalls(Display* dpy, qint64 programPid, int rounds, int busy,
                  const QString& stackFile)
{
    const qint64 server = SoundServer::currentId();
    if (server <= 0) {
        std::fprintf(stderr, "cannot tell the sound server's process\n");
        return 2;
    }
    WindowWaits waits;
    waits.start(programPid, stackFile);
    const pid_t load = busy > 0 ? StallProbe::spinEveryCore(busy) : 0;
    const KeySym keys[] = {XK_q, XK_w, XK_q, XK_r, XK_e, XK_q, XK_t, XK_w, XK_e, XK_q,
                           XK_r, XK_q, XK_w, XK_space, XK_q, XK_t, XK_r, XK_w, XK_q, XK_Escape};
    size_t k = 0;
    auto pressFor = [&](int ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            pressKey(dpy, XKeysymToKeycode(dpy, keys[k++ % std::size(keys)]));
            sleepMs(60);
        }
    };
    std::vector<double> inStall, between;
    pressFor(3000);
    waits.takeLongestMs();
    for (int r = 0; r < rounds; ++r) {
        pressFor(3000);
        between.push_back(waits.takeLongestMs());
        kill(pid_t(server), SIGSTOP);
        waits.arm(true);
        pressFor(2000);
        waits.arm(false);
        kill(pid_t(server), SIGCONT);
        // An answer held by the stall comes just after it.
        pressFor(500);
        inStall.push_back(waits.takeLongestMs());
        std::printf("stall %d: the window's thread waited %.0f ms at most (%.0f ms before it)\n", r + 1, inStall.back(),
                    between.back());
        std::fflush(stdout);
    }
    waits.stop();
    if (load > 0) {
        kill(load, SIGKILL);
        waitpid(load, nullptr, 0);
    }
    std::printf("%d stalls of 2 s, %s: the window's thread waited %.0f ms at most in a stall (median of the "
                "stalls %.0f ms), %.0f ms between stalls\n",
                rounds, busy > 0 ? qPrintable(QStringLiteral("%1 busy loops").arg(busy)) : "idle",
                *std::max_element(inStall.begin(), inStall.end()), BenchTiming::median(inStall),
                *std::max_element(between.begin(), between.end()));
    return 0;
}

} // namespace

// One press of a looping button, held for seconds with busy loops beside
// it, recorded from the monitor of the sink the program plays into: the
// holes in it, counted as the engines' loop benchmark counts them.
int measureLoop(Display* dpy, KeyCode key, int seconds, int busy)
{
    TestSupport::MonitorCapture rec;
    if (!rec.start(qEnvironmentVariable("TR_PULSE_OWN_SINK") + QStringLiteral(".monitor"))) {
        std::fprintf(stderr, "no monitor recording\n");
        return 2;
    }
    const pid_t load = busy > 0 ? StallProbe::spinEveryCore(busy) : 0;
    pressKey(dpy, key);
    sleepMs(seconds * 1000);
    const QByteArray pcm = rec.stop();
    if (load > 0) {
        kill(load, SIGKILL);
        waitpid(load, nullptr, 0);
    }
    const MonitorHoles::Holes h = MonitorHoles::count(pcm);
    std::printf("a %d s loop in the running program, %s: %.0f s recorded, holes %d (%.1f ms in all, longest %.1f ms, "
                "the last at %.0f s)\n",
                kLoopToneSeconds, busy > 0 ? qPrintable(QStringLiteral("%1 busy loops").arg(busy)) : "idle",
                h.recordedS, h.count, h.totalMs, h.longestMs, h.lastAtS);
    return h.count == 0 ? 0 : 1;
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int presses = 15;
    QString path = QStringLiteral("predecoded");
    bool alone = false;
    int recLatencyMs = 20;
    int loopSeconds = 0;
    int busy = 0;
    bool overVoice = false;
    int stallRounds = 0;
    QString stackFile;
    QString program = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../../src/TarvelloRuzoru"));
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == QLatin1String("--alone"))
            alone = true;
        else if (args[i] == QLatin1String("--presses") && hasValue)
            presses = args[++i].toInt();
        else if (args[i] == QLatin1String("--path") && hasValue)
            path = args[++i];
        else if (args[i] == QLatin1String("--program") && hasValue)
            program = args[++i];
        else if (args[i] == QLatin1String("--rec-latency") && hasValue)
            recLatencyMs = args[++i].toInt();
        else if (args[i] == QLatin1String("--loop") && hasValue)
            loopSeconds = args[++i].toInt();
        else if (args[i] == QLatin1String("--busy") && hasValue)
            busy = args[++i].toInt();
        else if (args[i] == QLatin1String("--over-voice"))
            overVoice = true;
        else if (args[i] == QLatin1String("--stall") && hasValue)
            stallRounds = args[++i].toInt();
        else if (args[i] == QLatin1String("--stack") && hasValue)
            stackFile = args[++i];
    }
    if (qEnvironmentVariable("TR_PULSE_MONITOR").isEmpty()) {
        std::fprintf(stderr, "no sound server: eval \"$(scripts/sound-server start DIR)\" first\n");
        return 2;
    }

    QTemporaryDir home;
    const QString dir = home.path();
    const bool players = path == QLatin1String("players") && loopSeconds == 0 && stallRounds == 0;
    const QString secondOutput = players ? qEnvironmentVariable("TR_PULSE_OWN_SINK") : QString();
    const bool written = stallRounds > 0 ? writeStallSession(dir)
                                         : writeSession(dir, loopSeconds > 0 ? kLoopToneSeconds : 0, secondOutput,
                                                        overVoice);
    if (!written) {
        std::fprintf(stderr, "cannot write the session\n");
        return 1;
    }

    QProcess xvfb;
    QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty() || qEnvironmentVariableIsSet("TR_BENCH_OWN_X")) {
        display = startXvfb(xvfb);
        if (display.isEmpty()) {
            std::fprintf(stderr, "cannot start Xvfb\n");
            return 1;
        }
    }

    QProcess prog;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir + QStringLiteral("/cache"));
    env.insert(QStringLiteral("TR_NO_CRASH_DIALOG"), QStringLiteral("1"));
    if (path == QLatin1String("players"))
        env.insert(QStringLiteral("TR_NO_PREDECODE"), QStringLiteral("1"));
    // A loop plays into the sink that never rewinds, as every stream of the
    // program goes to the default output.
    if (loopSeconds > 0)
        env.insert(QStringLiteral("PULSE_SINK"), env.value(QStringLiteral("TR_PULSE_OWN_SINK")));
    prog.setProcessEnvironment(env);
    prog.setStandardOutputFile(dir + QStringLiteral("/program.out"));
    prog.setStandardErrorFile(dir + QStringLiteral("/program.err"));
    prog.start(program, {dir + QStringLiteral("/bench.vx")});
    if (!prog.waitForStarted(5000)) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(program));
        return 1;
    }

    Display* dpy = XOpenDisplay(display.toLatin1().constData());
    Window win = 0;
    for (int i = 0; i < 600 && !win; ++i) {
        sleepMs(50);
        // The main window's title names the session once it is open.
        win = findWindow(dpy, DefaultRootWindow(dpy), "Tarvello", "bench");
    }
    if (!win) {
        std::fprintf(stderr, "the program's window did not show (see %s)\n", qPrintable(dir));
        prog.kill();
        return 1;
    }
    // Decoding, the engine's start and the pre-decode of the button.
    sleepMs(4000);
    XWindowAttributes a;
    XGetWindowAttributes(dpy, win, &a);
    XTestFakeMotionEvent(dpy, -1, a.x + a.width / 2, a.y + a.height / 2, 0);
    XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
    XSync(dpy, False);
    sleepMs(300);
    const KeyCode key = XKeysymToKeycode(dpy, XK_q);
    if (overVoice) {
        // The silent loop plays under every press from here on.
        pressKey(dpy, XKeysymToKeycode(dpy, XK_e));
        sleepMs(1000);
    }

    int status = stallRounds > 0 ? measureStalls(dpy, prog.processId(), stallRounds, busy, stackFile)
                 : loopSeconds > 0 ? measureLoop(dpy, key, loopSeconds, busy)
                 : alone           ? measureAlone(dpy, key, presses, recLatencyMs)
                                   : measureBesideFloor(dpy, key, presses, path, recLatencyMs);
    if (!secondOutput.isEmpty() && !alone) {
        const int clicks = measureSecondOutputClicks(dpy, XKeysymToKeycode(dpy, XK_w), presses);
        status = status != 0 ? status : clicks;
    }
    if (status != 0) {
        std::printf("program log in %s\n", qPrintable(dir));
        home.setAutoRemove(false);
    }

    prog.terminate();
    if (!prog.waitForFinished(5000))
        prog.kill();
    XCloseDisplay(dpy);
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        xvfb.waitForFinished(3000);
    }
    return status;
}
