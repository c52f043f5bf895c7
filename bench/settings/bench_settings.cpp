// Opening the settings dialog (build, show, first paint) next to a bare
// QDialog holding as many plain widgets with no style sheets, and the time of
// each page builder run once more on a built dialog.
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "BenchTiming.h"
#include "SettingsDialog.h"
#include "ThemeManager.h"

class SettingsBenchAccess
{
public:
    using Builder = void (SettingsDialog::*)();
    static Builder builder(int page)
    {
        static const Builder b[] = {&SettingsDialog::buildAppearancePage, &SettingsDialog::buildAudioPage,
                                    &SettingsDialog::buildMidiPage, &SettingsDialog::buildShortcutsPage,
                                    &SettingsDialog::buildAdvancedPage};
        return b[page];
    }
};

namespace {

constexpr int kRuns = 20;

// Nanosecond samples' median in milliseconds.
double median(const std::vector<qint64>& ns)
{
    return BenchTiming::median(ns) / 1e6;
}

qint64 timeOpen(const std::function<QDialog*()>& make)
{
    QElapsedTimer t;
    t.start();
    QDialog* d = make();
    d->show();
    d->grab();   // the first paint, whole
    const qint64 ns = t.nsecsElapsed();
    delete d;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ns;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ThemeManager::instance();

    int widgets = 0;
    {
        SettingsDialog probe;
        widgets = int(probe.findChildren<QWidget*>().size());
    }
    auto bare = [widgets]() -> QDialog* {
        auto* d = new QDialog;
        d->resize(700, 540);
        auto* v = new QVBoxLayout(d);
        for (int i = 0; i < widgets; ++i)
            v->addWidget(new QLabel(QStringLiteral("label %1").arg(i)));
        return d;
    };
    auto settings = []() -> QDialog* { return new SettingsDialog; };

    timeOpen(bare);
    timeOpen(settings);
    std::vector<qint64> ref, own;
    for (int i = 0; i < kRuns; ++i) {
        ref.push_back(timeOpen(bare));
        own.push_back(timeOpen(settings));
    }
    const double r = median(ref), o = median(own);
    std::printf("widgets in the dialog: %d\n", widgets);
    std::printf("bare QDialog, same widget count     median %8.2f ms\n", r);
    std::printf("settings dialog (build, show, paint) median %8.2f ms   x%.2f of reference\n", o, o / r);

    const char* names[] = {"Appearance", "Audio", "MIDI", "Shortcuts", "Advanced"};
    SettingsDialog host;
    for (int p = 0; p < 5; ++p) {
        std::vector<qint64> times;
        for (int i = 0; i < kRuns; ++i) {
            QElapsedTimer t;
            t.start();
            (host.*SettingsBenchAccess::builder(p))();
            times.push_back(t.nsecsElapsed());
        }
        std::printf("page builder %-11s median %8.3f ms   (%.1f%% of the whole opening)\n", names[p], median(times),
                    100.0 * median(times) / o);
    }
    return 0;
}
