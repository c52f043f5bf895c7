// A MIDI note to the press routing, beside a mouse press on a grid: the time
// from a note-on played into MidiManager (through its input callback, as the
// input thread does) to the routing's first engine call, and the time from a
// grid's playRequested to the same call. 1000 presses each, alternating, in
// one run, with the engines replaced by a recorder. Target: the MIDI path's
// median and 99th percentile within 1 ms of the press path's.
//
//   build/bench/midi/bench_midi [presses]
#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "FakeMidiBackend.h"
#include "RoutingSupport.h"

namespace {

using Clock = std::chrono::steady_clock;

// The recorder, stamping the moment the routing starts the sound.
class StampingEngines : public RecordingEngines
{
public:
    Clock::time_point at;
    bool hit = false;
    void audioPlayRapid(const ButtonData& b, const QString& dev) override
    {
        at = Clock::now();
        hit = true;
        RecordingEngines::audioPlayRapid(b, dev);
    }
};

using BenchTiming::nearestRank;

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(10, atoi(argv[1])) : 1000;

    FakeMidiBackend fake;
    fake.addInput(QStringLiteral("Pads"));
    MidiManager::setInstanceBackend(&fake);
    TestSupport::isolateSettings();
    MidiManager* midi = MidiManager::instance();
    if (!midi->openInput(QStringLiteral("Pads")))
        return 1;

    StampingEngines rec;
    rec.dsUp = false;
    MainWindow* w = RoutingTest::windowOn(rec);
    RoutingTest::load(RoutingTest::twoTabs());
    MidiMapping m;
    m.channel = 1;
    m.number = 60;
    m.buttonId = QStringLiteral("P");
    midi->clearAllMappings();
    midi->addMapping(m);
    QCoreApplication::processEvents();
    ButtonGrid* grid = RoutingTestAccess::panels(w)[0].grid;
    const ButtonData p = RoutingTest::record(QStringLiteral("P"));

    std::vector<double> viaMidi, viaPress;
    for (int i = 0; i < presses; ++i) {
        for (int path = 0; path < 2; ++path) {
            rec.calls.clear();
            rec.hit = false;
            const Clock::time_point t0 = Clock::now();
            if (path == 0) {
                fake.play(0, MidiShortMessage::pack(0x90, 60, 100));
                while (!rec.hit)
                    QCoreApplication::processEvents();
            } else {
                emit grid->playRequested(p);
            }
            if (!rec.hit)
                return 2;
            const double us = std::chrono::duration<double, std::micro>(rec.at - t0).count();
            (path == 0 ? viaMidi : viaPress).push_back(us);
            QCoreApplication::processEvents();
        }
    }

    const double pm = nearestRank(viaPress, 0.5), p99 = nearestRank(viaPress, 0.99);
    const double mm = nearestRank(viaMidi, 0.5), m99 = nearestRank(viaMidi, 0.99);
    std::printf("presses per path: %d\n", presses);
    std::printf("grid press to routing:  median %8.1f us  p99 %8.1f us\n", pm, p99);
    std::printf("MIDI note to routing:   median %8.1f us  p99 %8.1f us\n", mm, m99);
    std::printf("MIDI minus press:       median %8.1f us  p99 %8.1f us  (target: each within 1000 us)\n",
                mm - pm, m99 - p99);
    std::printf("ratio MIDI / press:     median %.2f  p99 %.2f\n", mm / pm, m99 / p99);
    const bool met = mm - pm <= 1000.0 && m99 - p99 <= 1000.0;
    std::printf("target %s\n", met ? "met" : "NOT met");
    RoutingTest::closeWindow(w);
    return met ? 0 : 3;
}
