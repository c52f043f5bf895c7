// Start-up cost of a big session: the real program started in a child process
// (headless, null audio output) until its window is shown, with the last
// session being 16 tabs x 72 buttons of real WAV files, beside the same start
// with a new, empty session; and the same big session loaded in this process
// through the window's open path, beside loading a one-tab session.
//
//   bench_startup [runs=5] [seconds per file=0.5]
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "MainWindow.h"
#include "SessionManager.h"
#include "StartupFixture.h"
#include "TestSupport.h"

using namespace StartupFixture;

namespace {

double median(const QList<double>& v)
{
    return BenchTiming::median(std::vector<double>(v.cbegin(), v.cend()));
}

struct StartTimes
{
    QList<double> shown;   // launch to window shown
    QList<double> ready;   // launch to report (a command-line session is open by then)
    // Launch to the start of each splash step, by the step's progress.
    QMap<int, QList<double>> steps;
};

StartTimes measureStart(int runs, const QString& lastSession, const QStringList& args)
{
    StartTimes t;
    for (int i = 0; i < runs; ++i) {
        const Home home = makeHome();
        if (!lastSession.isEmpty())
            writeSettings(home, {{QStringLiteral("recentFiles"), QStringList{lastSession}}});
        const Run r = runProgram(home, args, {}, 0);
        if (!r.finished || r.exitCode != 0 || r.report.isEmpty()) {
            std::fprintf(stderr, "run failed (exit %d): %s\n", r.exitCode, r.errors.constData());
            continue;
        }
        t.shown << r.report[QStringLiteral("shownEpochMs")].toDouble() - double(r.launchEpochMs);
        t.ready << r.report[QStringLiteral("reportEpochMs")].toDouble() - double(r.launchEpochMs);
        for (const QJsonValue& v : r.report[QStringLiteral("steps")].toArray()) {
            const QJsonObject s = v.toObject();
            t.steps[s[QStringLiteral("progress")].toInt()]
                << s[QStringLiteral("epochMs")].toDouble() - double(r.launchEpochMs);
        }
    }
    return t;
}

// Opens path through the window as the Open command does, and lets the
// window settle (layout of the new panes) before the clock stops.
double timeOpen(MainWindow* w, const QString& path)
{
    QElapsedTimer clock;
    clock.start();
    w->openSessionFile(path);
    QCoreApplication::processEvents();
    return clock.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TR_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const double seconds = argc > 2 ? std::max(0.05, atof(argv[2])) : 0.5;
    TestSupport::isolateSettings();

    const QString dir = TestSupport::tempDir();
    std::printf("generating 1152 WAV files of %.2f s ...\n", seconds);
    const QStringList wavs = makeWavs(dir + QStringLiteral("/audio"), 16 * 72, seconds);
    const QString big = dir + QStringLiteral("/big.vx");
    const QString small = dir + QStringLiteral("/small.vx");
    writeSession(big, tabNames(16), 72, wavs, 4);
    writeSession(small, tabNames(1), 36, {}, 1);

    std::printf("start-up, %d runs each (median ms)\n", runs);
    const StartTimes empty = measureStart(runs, QString(), {});
    const StartTimes last = measureStart(runs, big, {});
    const StartTimes cmd = measureStart(runs, QString(), {big});
    const double e = median(empty.shown);
    std::printf("  empty session       shown %8.1f\n", e);
    std::printf("  16x72 last session  shown %8.1f   ratio %.2f\n", median(last.shown), median(last.shown) / e);
    std::printf("  16x72 command line  shown %8.1f   ratio %.2f   session open %8.1f   ratio %.2f\n",
                median(cmd.shown), median(cmd.shown) / e, median(cmd.ready), median(cmd.ready) / median(empty.ready));

    // Where the difference goes: each step's start, then the window shown.
    std::printf("  step starts (median ms)     empty   16x72 last\n");
    for (auto it = empty.steps.cbegin(); it != empty.steps.cend(); ++it)
        std::printf("    step %3d             %8.1f %8.1f\n", it.key(), median(it.value()), median(last.steps.value(it.key())));
    std::printf("    window shown         %8.1f %8.1f\n", e, median(last.shown));

    // In this process: the window's own open path.
    auto* w = new MainWindow(nullptr);
    w->show();
    QCoreApplication::processEvents();
    QList<double> loadBig, loadSmall;
    for (int i = 0; i < runs; ++i) {
        loadSmall << timeOpen(w, small);
        loadBig << timeOpen(w, big);
    }
    const double lb = median(loadBig);
    std::printf("session load through the window (median ms)\n");
    std::printf("  1 tab x 36 empty    %8.1f\n", median(loadSmall));
    std::printf("  16x72 with files    %8.1f   ratio to 1x36 %.2f   ratio to empty start %.2f\n", lb,
                lb / median(loadSmall), lb / e);
    std::fflush(stdout);
    std::_Exit(0);   // the engines live for the process; nothing to tear down
}
