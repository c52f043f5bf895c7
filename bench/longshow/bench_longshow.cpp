// Memory over a long show, pressed without pause, through the main window
// with the engines as the program opens them. Three tabs of 24 pads: short
// sounds of 0.1 to 4 s (some rapid, some faded or trimmed), two looping pads
// a tab and five beds of 35 to 60 s, some pads on a second output. A press
// comes every 50 to 500 ms (2 to 20 a second) on a pad drawn at random,
// with a stop of a looping pad now and then and a Stop All every 20 s.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/longshow/bench_longshow [--minutes N] [--path predecoded|players]
//                                       [--warmup M] [--busy N]
//
// --path predecoded (the default): pre-load on, as the program starts; the
// beds and the pads on the second output play on the media players.
// --path players: the pre-decoded engine never starts (TR_NO_PREDECODE), so
// every press goes to the media players (and the loops and the shortest
// sounds to their own streams), and half the pads are on the second output.
//
// Each minute it prints the resident memory (VmRSS), the heap in use as the
// allocator counts it (mallinfo2), the threads, what the engines hold
// (media players alive, the players' slots, players prepared ahead,
// pre-decoded sounds, decode cache entries) and the heap trims done. At the
// end: the growth of resident memory from the end of the warm-up (minute
// 10, or a third of a shorter run) to the end, the most it rose above the
// warm-up figure, and the longest trim. --busy N runs N busy loops beside.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include "MediaPlayer.h"
#include <QTimer>

#include <malloc.h>
#include <sys/wait.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "AudioEngine.h"
#include "DirectSoundEngine.h"
#include "HeapUse.h"
#include "MainWindow.h"
#include "SessionManager.h"
#include "StallProbe.h"
#include "TestSupport.h"

namespace {

constexpr int kRate = 44100;
constexpr int kTabs = 3;
constexpr int kPadsPerTab = 24;
constexpr int kStopAllEveryMs = 20000;

// A line of /proc/self/status, in kB; -1 when missing.
long statusKb(const char* field)
{
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long v = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            v = std::atol(line + n + 1);
            break;
        }
    std::fclose(f);
    return v;
}

// Writes a tone of the given length, dated an hour back as a show's files are.
bool writeTone(const QString& path, double seconds, double hz)
{
    if (!TestSupport::writeWav16(path, TestSupport::sine(hz, seconds, 2, kRate, 0.3), 2, kRate))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
    return f.setFileTime(old, QFileDevice::FileModificationTime);
}

// The show: kTabs tabs of kPadsPerTab pads, files written into dir.
bool buildShow(const QString& dir, bool players, const QString& secondOutput, Session* s)
{
    const double bedSeconds[] = {35, 40, 45, 50, 60};
    int bed = 0;
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> shortLen(0.1, 4.0);
    for (int t = 0; t < kTabs; ++t) {
        TabData tab;
        tab.id = QStringLiteral("tab-%1").arg(t);
        tab.name = QStringLiteral("Show %1").arg(t + 1);
        for (int p = 0; p < kPadsPerTab; ++p) {
            ButtonData b;
            b.id = QStringLiteral("pad-%1-%2").arg(t).arg(p);
            b.name = b.id;
            b.audioPath = QDir(dir).filePath(b.id + QStringLiteral(".wav"));
            double seconds = shortLen(rng);
            if (p < 2) {
                b.loop = true;
                seconds = 2.0;
            } else if (p < 4 && bed < 5) {
                seconds = bedSeconds[bed++];
            } else if (p % 7 == 0) {
                b.rapid = true;
            } else if (p % 5 == 0) {
                b.fadeIn = 0.2;
                b.fadeOut = 0.3;
            } else if (p % 6 == 0) {
                b.trimStart = std::min(0.05, seconds / 4);
                b.trimEnd = seconds * 0.8;
            }
            // A pad in six on the second output; half of them on the
            // players' path.
            if (!secondOutput.isEmpty() && (players ? p % 2 == 1 : p % 6 == 5))
                b.outputDevice = secondOutput;
            if (!writeTone(b.audioPath, seconds, 220.0 + 10.0 * (t * kPadsPerTab + p)))
                return false;
            tab.buttons << b;
        }
        s->tabs << tab;
    }
    s->buttonsPerTab = kPadsPerTab;
    s->restart = true;
    s->autoStop = false;
    s->crossTabStop = false;
    return true;
}

struct Holdings
{
    int players = 0;        // QMediaPlayer objects the players' engine owns
    int ended = 0;           // the players' engine's slots (playing or just ended)
    int prepared = 0;       // players made ahead
    int decoded = 0;        // pre-decoded sounds
    int cached = 0;         // decode cache entries
};

Holdings holdings()
{
    AudioEngine* a = AudioEngine::instance();
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    Holdings h;
    h.players = int(a->findChildren<MediaPlayer*>(Qt::FindDirectChildrenOnly).size());
    h.ended = int(a->playingIds().size());
    h.prepared = int(a->bufferTable().size());
    h.decoded = ds->slotCount();
    h.cached = ds->decodeCacheSize();
    return h;
}

struct Args
{
    int minutes = 20;
    bool players = false;
    int warmup = -1;
    int busy = 0;
};

Args parse(const QStringList& a)
{
    Args r;
    for (int i = 1; i < a.size(); ++i) {
        const QString next = i + 1 < a.size() ? a[i + 1] : QString();
        if (a[i] == QLatin1String("--minutes"))
            r.minutes = std::max(1, next.toInt()), ++i;
        else if (a[i] == QLatin1String("--path"))
            r.players = next == QLatin1String("players"), ++i;
        else if (a[i] == QLatin1String("--warmup"))
            r.warmup = next.toInt(), ++i;
        else if (a[i] == QLatin1String("--busy"))
            r.busy = next.toInt(), ++i;
    }
    if (r.warmup < 0)
        r.warmup = r.minutes >= 15 ? 10 : std::max(1, r.minutes / 3);
    r.warmup = std::min(r.warmup, r.minutes - 1);
    return r;
}

// The presses: a pad at random every 50 to 500 ms; a looping pad stopped
// now and then; Stop All every kStopAllEveryMs.
class Presser : public QObject
{
public:
    Presser(MainWindow* w, const Session& s) : m_w(w)
    {
        for (const TabData& t : s.tabs)
            for (const ButtonData& b : t.buttons)
                m_pads << b;
        m_next.setSingleShot(true);
        connect(&m_next, &QTimer::timeout, this, &Presser::press);
        connect(&m_stopAll, &QTimer::timeout, this, [this] { m_w->onStopAll(); });
        m_next.start(0);
        m_stopAll.start(kStopAllEveryMs);
    }
    long presses() const { return m_presses; }

private:
    void press()
    {
        const ButtonData& b = m_pads[std::uniform_int_distribution<int>(0, int(m_pads.size()) - 1)(m_rng)];
        if (b.loop && std::uniform_int_distribution<int>(0, 2)(m_rng) == 0)
            m_w->onStopRequested(b.id);
        else
            m_w->onPlayRequested(b);
        ++m_presses;
        m_next.start(std::uniform_int_distribution<int>(50, 500)(m_rng));
    }

    MainWindow* m_w;
    QList<ButtonData> m_pads;
    QTimer m_next, m_stopAll;
    std::mt19937 m_rng{5};
    long m_presses = 0;
};

} // namespace

int main(int argc, char** argv)
{
    // As the program's main does.
    HeapUse::limitRetention();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    const Args args = parse(raw);
    // Read once, when the window opens its engines.
    if (args.players)
        qputenv("TR_NO_PREDECODE", "1");
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        std::fprintf(stderr, "start the sound server first: eval \"$(scripts/sound-server start DIR)\"\n");
        return 2;
    }
    TestSupport::isolateSettings();
    const QString dir = TestSupport::tempDir();
    Session show;
    if (!buildShow(dir, args.players, qEnvironmentVariable("TR_PULSE_OWN_SINK"), &show)) {
        std::fprintf(stderr, "cannot write the show's files\n");
        return 2;
    }

    auto* w = new MainWindow;
    w->show();
    SessionManager::instance()->session() = show;
    emit SessionManager::instance()->sessionLoaded(SessionManager::instance()->session());
    const Session& loaded = SessionManager::instance()->session();

    const pid_t load = args.busy > 0 ? StallProbe::spinEveryCore(args.busy) : 0;
    std::printf("a show of %d pads, %s path, %d minutes, warm-up %d minutes%s\n", kTabs * kPadsPerTab,
                args.players ? "players'" : "pre-decoded", args.minutes, args.warmup,
                args.busy > 0 ? qPrintable(QStringLiteral(", %1 busy loops").arg(args.busy)) : "");
    std::printf("%6s %8s %9s %9s %7s %7s %6s %8s %7s %6s %8s\n", "minute", "presses", "RSS MB", "heap MB", "threads",
                "players", "slots", "prepared", "decoded", "cached", "trims");
    std::fflush(stdout);

    Presser presser(w, loaded);
    std::vector<double> rss;
    auto sample = [&](int minute) {
        const Holdings h = holdings();
        const struct mallinfo2 mi = mallinfo2();
        const double rssMb = statusKb("VmRSS") / 1024.0;
        rss.push_back(rssMb);
        std::printf("%6d %8ld %9.1f %9.1f %7ld %7d %6d %8d %7d %6d %8d\n", minute, presser.presses(), rssMb,
                    double(mi.uordblks + mi.hblkhd) / (1024.0 * 1024.0), statusKb("Threads"), h.players, h.ended,
                    h.prepared, h.decoded, h.cached, HeapUse::trimsDone());
        std::fflush(stdout);
    };
    sample(0);
    int minute = 0;
    QTimer everyMinute;
    QObject::connect(&everyMinute, &QTimer::timeout, &app, [&] {
        sample(++minute);
        if (minute >= args.minutes)
            app.quit();
    });
    everyMinute.start(60000);
    app.exec();

    if (load > 0) {
        kill(load, SIGKILL);
        waitpid(load, nullptr, 0);
    }
    const double atWarm = rss[size_t(args.warmup)];
    const double most = *std::max_element(rss.begin() + args.warmup, rss.end());
    std::printf("resident memory: %.0f MB at the start, %.0f MB at minute %d, %.0f MB at the end: "
                "%+.1f MB after warm-up (%.2f MB a minute), at most %+.1f MB above it\n",
                rss.front(), atWarm, args.warmup, rss.back(), rss.back() - atWarm,
                (rss.back() - atWarm) / std::max(1, args.minutes - args.warmup), most - atWarm);
    std::printf("bound (within 50 MB of the warm-up figure): %s\n", most - atWarm <= 50.0 ? "met" : "NOT met");
    std::printf("heap trims: %d, the longest %.1f ms\n", HeapUse::trimsDone(), HeapUse::longestTrimUs() / 1000.0);
    w->onStopAll();
    delete w;
    return most - atWarm <= 50.0 ? 0 : 1;
}
