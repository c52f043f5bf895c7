// Press-to-request latency of a sound button and the cost of a full relayout
// of a 72-button grid, each next to a reference measured in the same run:
// a plain QPushButton's press-to-pressed, and re-placing 72 plain widgets in
// a bare QGridLayout.
#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "ButtonGrid.h"
#include "MonoClock.h"
#include "SoundButton.h"

namespace {

using Stats = BenchTiming::Spread;

Stats stats(const std::vector<qint64>& ns)
{
    return BenchTiming::spread(ns, 1000.0);
}

void print(const char* what, const Stats& s, const Stats& ref)
{
    std::printf("%-34s median %8.2f us  p99 %8.2f us   (x%.2f / x%.2f of reference)\n", what, s.median, s.p99,
                s.median / ref.median, s.p99 / ref.p99);
}

void printRef(const char* what, const Stats& s)
{
    std::printf("%-34s median %8.2f us  p99 %8.2f us\n", what, s.median, s.p99);
}

QMouseEvent pressAt(QWidget* w, QEvent::Type t)
{
    const QPointF p(w->width() / 2.0, w->height() / 2.0);
    return QMouseEvent(t, p, w->mapToGlobal(p), Qt::LeftButton,
                       t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int presses = 3000;
    const int layouts = 400;

    // Presses land 10 ms apart on a clock of our own, past the pads' debounce.
    ScopedFakeClock clock(0);

    QWidget window;
    auto* box = new QVBoxLayout(&window);
    auto* grid = new ButtonGrid(&window);
    auto* plain = new QPushButton(QStringLiteral("reference"), &window);
    box->addWidget(grid);
    box->addWidget(plain);
    grid->setButtonsPerTab(72);
    TabData tab;
    for (int i = 0; i < 72; ++i) {
        ButtonData b;
        b.id = QStringLiteral("pad-%1").arg(i);
        b.name = QStringLiteral("Sound %1").arg(i);
        b.audioPath = QStringLiteral("/sounds/%1.wav").arg(i);
        b.super = (i == 9 || i == 30);
        tab.buttons << b;
    }
    grid->setTab(tab);
    window.resize(1000, 800);
    window.show();
    app.processEvents();

    // Press to playRequested.
    QElapsedTimer t;
    t.start();
    qint64 start = 0;
    std::vector<qint64> padSamples, refSamples;
    padSamples.reserve(presses);
    refSamples.reserve(presses);
    QObject::connect(grid, &ButtonGrid::playRequested, grid,
                     [&](const ButtonData&) { padSamples.push_back(t.nsecsElapsed() - start); });
    QObject::connect(plain, &QPushButton::pressed, plain,
                     [&] { refSamples.push_back(t.nsecsElapsed() - start); });
    for (int i = 0; i < presses; ++i) {
        SoundButton* pad = grid->buttonWidget(i % 72);
        QMouseEvent press = pressAt(pad, QEvent::MouseButtonPress);
        QMouseEvent release = pressAt(pad, QEvent::MouseButtonRelease);
        start = t.nsecsElapsed();
        QApplication::sendEvent(pad, &press);
        QApplication::sendEvent(pad, &release);
        clock.advanceMs(10);

        QMouseEvent rpress = pressAt(plain, QEvent::MouseButtonPress);
        QMouseEvent rrelease = pressAt(plain, QEvent::MouseButtonRelease);
        start = t.nsecsElapsed();
        QApplication::sendEvent(plain, &rpress);
        QApplication::sendEvent(plain, &rrelease);
        if (i % 64 == 0)
            app.processEvents();
    }
    if (padSamples.size() != size_t(presses)) {
        std::fprintf(stderr, "lost presses: %zu of %d reached playRequested\n", padSamples.size(), presses);
        return 1;
    }

    // Full relayout: placement plus the geometry pass of the layout.
    std::vector<qint64> layoutSamples, layoutRef;
    for (int i = 0; i < layouts; ++i) {
        start = t.nsecsElapsed();
        grid->layoutButtons();
        grid->gridLayout()->activate();
        layoutSamples.push_back(t.nsecsElapsed() - start);
    }
    QWidget refHost;
    auto* refLayout = new QGridLayout(&refHost);
    refLayout->setContentsMargins(3, 3, 3, 3);
    refLayout->setSpacing(3);
    std::vector<QWidget*> refWidgets;
    for (int i = 0; i < 72; ++i)
        refWidgets.push_back(new QPushButton(&refHost));
    refHost.resize(grid->scrollArea()->viewport()->size());
    refHost.show();
    app.processEvents();
    for (int i = 0; i < layouts; ++i) {
        start = t.nsecsElapsed();
        while (QLayoutItem* it = refLayout->takeAt(0))
            delete it;
        for (int k = 0; k < 72; ++k)
            refLayout->addWidget(refWidgets[k], k / 8, k % 8);
        refLayout->activate();
        layoutRef.push_back(t.nsecsElapsed() - start);
    }

    std::printf("grid: 72 pads, %d presses, %d relayouts\n", presses, layouts);
    const Stats pressRef = stats(refSamples), layRef = stats(layoutRef);
    printRef("reference QPushButton press", pressRef);
    print("SoundButton press -> playRequested", stats(padSamples), pressRef);
    printRef("reference bare QGridLayout", layRef);
    print("ButtonGrid full relayout (72)", stats(layoutSamples), layRef);
    return 0;
}
