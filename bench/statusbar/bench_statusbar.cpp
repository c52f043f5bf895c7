// The status bar's work per second at 20 refreshes a second plus the CPU
// figure every 2 s, as a share of one core, next to a reference measured in
// the same run: setting the same four texts alone. Each refresh also counts
// the MIDI inputs on the sequencer; its own share is printed beside it.
// Target: under 0.5 % of one core. The machine's load shows in the figures:
// run it on a quiet machine.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "MainWindow.h"
#include "MidiManager.h"

namespace {

// The median of n calls f(0) .. f(n - 1), in microseconds.
template <typename F>
double timeUs(int n, F&& f)
{
    int i = 0;
    return BenchTiming::medianNs(n, [&] { f(i++); }) / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TR_AUDIO_OUTPUT"))
        qputenv("TR_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    auto* w = new MainWindow;
    w->show();
    app.processEvents();

    const int n = 4000;
    const double refresh = timeUs(n, [&](int) { w->updateStatusBar(); });
    const double cpu = timeUs(n / 4, [&](int) { w->updateCpuUsage(); });
    const double midi = timeUs(n, [](int) { (void)MidiManager::instance()->inputDevices(); });

    // The reference: four labels given the texts a refresh sets.
    QWidget host;
    QLabel a(&host), b(&host), c(&host), d(&host);
    host.show();
    // The texts of a new session with nothing playing, as the refresh sets them.
    const QString t[4] = {"Playing: 0", "Btns: 0/36", "No file", "MIDI: —"};
    const double reference = timeUs(n, [&](int) {
        a.setText(t[0]);
        b.setText(t[1]);
        c.setText(t[2]);
        d.setText(t[3]);
    });

    // Work per second: 20 refreshes, half a CPU sample.
    const double perSecond = 20 * refresh + 0.5 * cpu;
    const double share = perSecond / 1e6 * 100.0;
    std::printf("set four texts alone (reference)   median %8.2f us\n", reference);
    std::printf("updateStatusBar                    median %8.2f us  (x%.1f of reference)\n", refresh,
                refresh / reference);
    std::printf("  of which MIDI input count        median %8.2f us  (%.0f%% of a refresh)\n", midi,
                100.0 * midi / refresh);
    std::printf("updateCpuUsage                     median %8.2f us\n", cpu);
    std::printf("per second at 20 refreshes + CPU   %8.2f us = %.4f%% of one core (target < 0.5%%: %s)\n", perSecond,
                share, share < 0.5 ? "met" : "MISSED");
    std::printf("reference per second at 20         %8.2f us = %.4f%% of one core\n", 20 * reference,
                20 * reference / 1e4);
    delete w;
    return 0;
}
