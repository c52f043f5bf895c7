// The cost of one record change (the grid reports a changed button: session,
// grids, widgets, engines and everything derived from keys and positions)
// on a 16 x 72 session, beside one SoundButton::setButtonData; and of adding,
// duplicating and deleting a tab on a 15 x 72 session, beside building one
// pane as a session load does. The engines are the routing tests' call
// recorder. Figures are medians and 99th percentiles of the synchronous call;
// the target is one 60 Hz frame (16.7 ms) for each.
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "TabEditSupport.h"


namespace {

constexpr double kFrameMs = 1000.0 / 60.0;

struct Stats
{
    double median = 0, p99 = 0;
};

Stats stats(std::vector<qint64> v)
{
    std::sort(v.begin(), v.end());
    Stats s;
    s.median = v[v.size() / 2] / 1e6;
    s.p99 = v[std::min(v.size() - 1, size_t(v.size() * 0.99))] / 1e6;
    return s;
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

template <class F>
qint64 timed(F&& f)
{
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed();
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
        widgetSet.push_back(timed([&] { pad->setButtonData(b); }));
        rec.calls.clear();
        change.push_back(timed([&] { w->onButtonDataChanged(b); }));
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
        pane.push_back(timed([&] { RoutingTest::load(fifteen); }) / fifteen.tabs.size());
        QCoreApplication::processEvents();
        add.push_back(timed([&] { w->onAddTab(); }));
        QCoreApplication::processEvents();
        RoutingTestAccess::currentTab(w) = 15;
        del.push_back(timed([&] { w->onDeleteTab(); }));
        QCoreApplication::processEvents();
        RoutingTestAccess::currentTab(w) = 7;
        dup.push_back(timed([&] { w->onDuplicateTab(); }));
        QCoreApplication::processEvents();
        RoutingTestAccess::currentTab(w) = 8;
        del.push_back(timed([&] { w->onDeleteTab(); }));
        QCoreApplication::processEvents();
        rec.calls.clear();
    }
    std::vector<qint64> strip, refresh;
    for (int i = 0; i < rounds; ++i) {
        strip.push_back(timed([&] { w->rebuildTabStrip(); }));
        refresh.push_back(timed([&] { w->refreshTabDerivedState(); }));
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
