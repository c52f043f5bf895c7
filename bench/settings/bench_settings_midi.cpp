// 2,000 control changes through the MIDI input path with the settings
// dialog's MIDI page open, next to the same with the dialog closed: time on
// the GUI thread per message (a fader moved on air must not delay presses).
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "FakeMidiBackend.h"
#include "MidiManager.h"
#include "SettingsDialog.h"
#include "ThemeManager.h"

namespace {

constexpr int kMessages = 2000;

// GUI-thread time of each message from the input callback's queued call on.
double perMessageUs(FakeMidiBackend& fake)
{
    std::vector<qint64> times;
    times.reserve(kMessages);
    for (int i = 0; i < kMessages; ++i) {
        fake.play(0, MidiShortMessage::pack(0xB0, 7, i % 128));
        QElapsedTimer t;
        t.start();
        QCoreApplication::sendPostedEvents();
        times.push_back(t.nsecsElapsed());
    }
    return BenchTiming::median(times) / 1000.0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ThemeManager::instance();
    FakeMidiBackend fake;
    fake.addInput(QStringLiteral("Faders"));
    MidiManager::setInstanceBackend(&fake);
    MidiManager& midi = *MidiManager::instance();
    midi.openInput(QStringLiteral("Faders"));

    perMessageUs(fake);
    const double closed = perMessageUs(fake);
    double open = 0;
    {
        SettingsDialog d;
        d.showPage(SettingsDialog::Midi);
        d.show();
        QCoreApplication::processEvents();
        open = perMessageUs(fake);
    }
    std::printf("dialog closed     median %8.2f us per control change\n", closed);
    std::printf("MIDI page open    median %8.2f us per control change   x%.2f of reference\n", open, open / closed);
    return 0;
}
