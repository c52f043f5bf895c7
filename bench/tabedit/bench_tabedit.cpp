// The cost of one record change (the grid reports a changed button: session,
// grids, widgets, engines and everything derived from keys and positions)
// on a 16 x 72 session, beside one SoundButton::setButtonData; and of adding,
// duplicating and deleting a tab on a 15 x 72 session, beside building one
// pane as a session load does. The engines are the routing tests' call
// recorder. Figures are medians and 99th percentiles of the synchronous call;
// the target is one 60 Hz frame (16.7 ms) for each.
#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "TabEditSupport.h"


namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

using Stats = BenchTiming::Spread;

Stats stats(const std::vector<qint64>& ns)
{
    return BenchTiming::spread(ns, 1e6);
}

void print(const char* what, const Stats& s, const Stats& ref)
{
    std::printf("%-36s median %8.3f ms  p99 %8.3f ms   x%.1f of reference   %s one frame\n", what, s.median,
                s.p99, s.median / ref.median, s.p99 <= kFrameMs ? "within" : "BEYOND");
}

void printRef(const char* what, const Stats& s)
{
    std::printf("%-36s median %8.3f ms  p99 %8.3f ms\n", what, s.median, s.p99);
}

} // namespace


int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    RecordingEngines rec;
    rec.dsUp = false;
    MainWindow* w = RoutingTest::windowOn(rec);
    w->resize(1600, 1000);
    w->show();
    TestSupport::ModalScript yes([](const Modal::Request&) { return QVariant(int(QMessageBox::Yes)); });

    // --- One record change on 16 x 72 ------------------------------------------
    Session sixteen = TabEdit::board(16, 72);
    sixteen.layoutMode = 4;
    RoutingTest::load(sixteen);
    QCoreApplication::processEvents();
    const int changes = 400;
    std::vector<qint64> change, widgetSet;
    SoundButton* pad = RoutingTest::widget(w, QStringLiteral("t9b40"));
    ButtonData b = RoutingTest::record(QStringLiteral("t9b40"));
    b.audioPath = QStringLiteral("/sounds/changed.wav");
    for (int i = 0; i < changes; ++i) {
        b.name = QStringLiteral("Changed %1").arg(i);
        widgetSet.push_back(BenchTiming::elapsedNs([&] { pad->setButtonData(b); }));
        rec.calls.clear();
        change.push_back(BenchTiming::elapsedNs([&] { w->onButtonDataChanged(b); }));
    }
    const Stats refWidget = stats(widgetSet);
    printRef("SoundButton::setButtonData", refWidget);
    print("onButtonDataChanged, 16 x 72", stats(change), refWidget);

    // --- Tab commands on 15 x 72 ------------------------------------------------
    Session fifteen = TabEdit::board(15, 72);
    fifteen.layoutMode = 4;
    RoutingTest::load(fifteen);
    QCoreApplication::processEvents();
    const int rounds = 40;
    std::vector<qint64> pane, add, dup, del;
    for (int i = 0; i < rounds; ++i) {
        // Building one pane as a load does: a whole load of the session over
        // its number of tabs.
        pane.push_back(BenchTiming::elapsedNs([&] { RoutingTest::load(fifteen); }) / fifteen.tabs.size());
        QCoreApplication::processEvents();
        add.push_back(BenchTiming::elapsedNs([&] { w->onAddTab(); }));
        QCoreApplication::processEvents();
        RoutingTestAccess::currentTab(w) = 15;
        del.push_back(BenchTiming::elapsedNs([&] { w->onDeleteTab(); }));
        QCoreApplication::processEvents();
        RoutingTestAccess::currentTab(w) = 7;
        dup.push_back(BenchTiming::elapsedNs([&] { w->onDuplicateTab(); }));
        QCoreApplication::processEvents();
        RoutingTestAccess::currentTab(w) = 8;
        del.push_back(BenchTiming::elapsedNs([&] { w->onDeleteTab(); }));
        QCoreApplication::processEvents();
        rec.calls.clear();
    }
    std::vector<qint64> strip, refresh;
    for (int i = 0; i < rounds; ++i) {
        strip.push_back(BenchTiming::elapsedNs([&] { w->rebuildTabStrip(); }));
        refresh.push_back(BenchTiming::elapsedNs([&] { w->refreshTabDerivedState(); }));
        QCoreApplication::processEvents();
    }
    printRef("  of which: rebuildTabStrip", stats(strip));
    printRef("  of which: refreshTabDerivedState", stats(refresh));
    const Stats refPane = stats(pane);
    printRef("one pane of a load (load / 15)", refPane);
    print("onAddTab, 15 x 72", stats(add), refPane);
    print("onDuplicateTab, 15 x 72", stats(dup), refPane);
    print("onDeleteTab, 16 x 72", stats(del), refPane);

    RoutingTest::closeWindow(w);
    return 0;
}
