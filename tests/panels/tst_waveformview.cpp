// The zoomable waveform view: wheel zoom and its limits, panning, click
// against drag, the cache that is redrawn only when the view changes, and
// what the played part and the playhead look like in and out of view.
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <limits>

#include "PanelsTestUtil.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "WaveformWidget.h"

using namespace PanelsTest;

namespace {

// 432 x 120: a plot of 400 px from x = 32, 80 bars, middle at y = 60.
constexpr int kW = 432;
constexpr int kH = 120;

void settle(WaveformWidget& v)
{
    for (int i = 0; i < 400 && (v.zoom() != v.targetZoom() || v.offset() != v.targetOffset()); ++i)
        TestSupport::fireTimer(v.animationTimer());
}

QRgb accent()
{
    return rgbOf(ThemeManager::instance()->colors().accent);
}

} // namespace

class TstWaveformView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void wheelZoom_data()
    {
        QTest::addColumn<int>("ups");
        QTest::addColumn<int>("downs");
        QTest::addColumn<double>("target");
        QTest::newRow("five up") << 5 << 0 << std::pow(1.2, 5);
        QTest::newRow("up to the limit") << 40 << 0 << 32.0;
        QTest::newRow("down from 1") << 0 << 3 << 1.0;
        QTest::newRow("up and back") << 6 << 6 << 1.0;
        QTest::newRow("past the top and down once") << 30 << 1 << 32.0 / 1.2;
    }
    void wheelZoom()
    {
        QFETCH(int, ups);
        QFETCH(int, downs);
        QFETCH(double, target);
        WaveformWidget v;
        v.resize(kW, kH);
        for (int i = 0; i < ups; ++i)
            wheel(&v, 200, +1);
        for (int i = 0; i < downs; ++i)
            wheel(&v, 200, -1);
        QVERIFY2(std::abs(v.targetZoom() - target) < 1e-9, qPrintable(QString::number(v.targetZoom(), 'g', 12)));
        if (ups == 5 && downs == 0)
            QVERIFY(std::abs(v.targetZoom() - 2.48832) < 1e-9);
        settle(v);
        QCOMPARE(v.zoom(), v.targetZoom());
    }

    // Whatever the pointer and the drags do, the target offset keeps the view
    // inside the track.
    void offsetStaysInTheTrack_data()
    {
        QTest::addColumn<int>("ups");
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("drag");
        for (int ups : {0, 8, 19}) {
            for (double x : {0.0, 32.0, 232.0, 431.0, 900.0})
                for (int drag : {-1000, -30, 0, 30, 1000})
                    QTest::addRow("%d up, x %g, drag %d", ups, x, drag) << ups << x << drag;
        }
    }
    void offsetStaysInTheTrack()
    {
        QFETCH(int, ups);
        QFETCH(double, x);
        QFETCH(int, drag);
        WaveformWidget v;
        v.resize(kW, kH);
        for (int i = 0; i < ups; ++i) {
            wheel(&v, x, +1);
            settle(v);
        }
        const double limit = 1.0 - 1.0 / v.zoom();
        QVERIFY(v.targetOffset() >= 0.0 && v.targetOffset() <= limit + 1e-12);
        press(&v, 232);
        moveTo(&v, 232 + drag);
        QVERIFY(v.targetOffset() >= 0.0 && v.targetOffset() <= limit + 1e-12);
        release(&v, 232 + drag);
        settle(v);
        QVERIFY(v.offset() >= 0.0 && v.offset() <= limit + 1e-12);
        if (ups == 0)
            QCOMPARE(v.targetOffset(), 0.0);
        if (ups == 8) // zoom 4.3: at most 0.767
            QVERIFY(v.targetOffset() <= 0.768);
    }

    // The point under the pointer stays in place while the zoom eases in.
    void wheelKeepsThePointUnderThePointer()
    {
        WaveformWidget v;
        v.resize(kW, kH);
        const double x = 132; // a quarter of the plot
        for (int i = 0; i < 4; ++i) {
            wheel(&v, x, +1);
            settle(v);
        }
        const double f = (x - 32) / 400.0;
        QVERIFY(std::abs(v.offset() + f / v.zoom() - 0.25) < 1e-3);
    }

    void clickOrPan_data()
    {
        QTest::addColumn<int>("ups");
        QTest::addColumn<double>("from");
        QTest::addColumn<double>("to");
        QTest::addColumn<double>("seek"); // -1: pans only
        QTest::newRow("4 px right seeks") << 0 << 200.0 << 204.0 << (204.0 - 32) / 400;
        QTest::newRow("4 px left seeks") << 0 << 200.0 << 196.0 << (196.0 - 32) / 400;
        QTest::newRow("5 px right pans") << 0 << 200.0 << 205.0 << -1.0;
        QTest::newRow("5 px left pans") << 0 << 200.0 << 195.0 << -1.0;
        QTest::newRow("gutter") << 0 << 10.0 << 10.0 << 0.0;
        QTest::newRow("plot start") << 0 << 32.0 << 32.0 << 0.0;
        QTest::newRow("right edge") << 0 << 431.0 << 431.0 << 399.0 / 400;
        QTest::newRow("zoomed, middle") << 5 << 232.0 << 232.0 << 0.5;
    }
    void clickOrPan()
    {
        QFETCH(int, ups);
        QFETCH(double, from);
        QFETCH(double, to);
        QFETCH(double, seek);
        WaveformWidget v;
        v.resize(kW, kH);
        for (int i = 0; i < ups; ++i)
            wheel(&v, 232, +1); // the middle stays the middle
        settle(v);
        QSignalSpy spy(&v, &WaveformWidget::seekRequested);
        press(&v, from);
        moveTo(&v, to);
        release(&v, to);
        if (seek < 0) {
            QCOMPARE(spy.count(), 0);
            return;
        }
        QCOMPARE(spy.count(), 1);
        QVERIFY2(std::abs(spy.at(0).at(0).toDouble() - seek) < 1e-6, qPrintable(spy.at(0).at(0).toString()));
    }

    // The static picture is drawn again only when the view, the size or the
    // theme changes, not on the 16 ms repaints.
    void cacheRebuilds()
    {
        WaveformWidget v;
        v.resize(kW, kH);
        v.setWaveformData(QList<float>(300, 0.5f));
        QVERIFY(v.animationTimer()->isActive());
        picture(v);
        QCOMPARE(v.cacheRebuilds(), 1);
        v.setProgress(0.4);
        TestSupport::fireTimer(v.animationTimer());
        picture(v);
        picture(v);
        QCOMPARE(v.cacheRebuilds(), 1);

        v.resize(kW + 10, kH);
        picture(v);
        QCOMPARE(v.cacheRebuilds(), 2);
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        picture(v);
        QCOMPARE(v.cacheRebuilds(), 3);

        wheel(&v, 232, +1);
        int ticks = 0;
        while (v.zoom() != v.targetZoom() && ticks < 400) {
            TestSupport::fireTimer(v.animationTimer());
            picture(v);
            ++ticks;
        }
        const int afterZoom = v.cacheRebuilds();
        QVERIFY(afterZoom > 3 && afterZoom <= 3 + ticks + 1);
        for (int i = 0; i < 5; ++i) {
            TestSupport::fireTimer(v.animationTimer());
            picture(v);
        }
        QCOMPARE(v.cacheRebuilds(), afterZoom);

        press(&v, 232);
        moveTo(&v, 200);
        picture(v);
        QCOMPARE(v.cacheRebuilds(), afterZoom + 1);
        release(&v, 200);
    }

    void timerRunsWhileItHoldsPeaks()
    {
        WaveformWidget v;
        v.setWaveformData({});
        QVERIFY(!v.animationTimer()->isActive());
        v.setWaveformBands({WaveBar{0, 0, 0, 0.5f}});
        QVERIFY(v.animationTimer()->isActive());
        v.setProgress(0.5);
        v.clear();
        QVERIFY(!v.animationTimer()->isActive());
        QVERIFY(v.peaks().isEmpty());
        QCOMPARE(v.progress(), 0.0);
        QCOMPARE(v.sampleBand(0.5).full, 0.5f); // the bands are kept
    }

    void sampleBand_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<float>("full");
        QTest::newRow("start") << 0.0 << 0.0f;
        QTest::newRow("inside") << 0.55 << 5.0f;
        QTest::newRow("end") << 1.0 << 9.0f;
        QTest::newRow("past the end") << 3.0 << 9.0f;
        QTest::newRow("before the start") << -2.0 << 0.0f;
    }
    void sampleBand()
    {
        QFETCH(double, t);
        QFETCH(float, full);
        WaveformWidget v;
        QList<WaveBar> bands;
        for (int i = 0; i < 10; ++i)
            bands << WaveBar{0, 0, 0, float(i)};
        v.setWaveformBands(bands);
        QCOMPARE(v.sampleBand(t).full, full);
        QCOMPARE(v.peaks().size(), 10);
    }

    // Played bars in the accent left of the playhead, faint ones right of it.
    void playedPartAndPlayhead()
    {
        WaveformWidget v;
        v.resize(kW, kH);
        v.setWaveformData(QList<float>(400, 1.0f));
        v.setProgress(0.5); // X = 232
        const QImage img = picture(v);
        const QRgb bg = rgbOf(ThemeManager::instance()->colors().bg);
        QCOMPARE(rgb(img, 223, 40), accent()); // bar 38 at 222..224
        QVERIFY(rgb(img, 243, 40) != accent()); // bar 42
        QVERIFY(rgb(img, 243, 40) != bg);
        QVERIFY(qGray(rgb(img, 232, 40)) > qGray(rgb(img, 243, 40))); // the white playhead
    }

    void progressOutsideTheView_data()
    {
        QTest::addColumn<bool>("panRight");
        QTest::addColumn<double>("progress");
        QTest::addColumn<double>("further");
        QTest::addColumn<bool>("allPlayed");
        QTest::newRow("past the right edge") << false << 0.9 << 5.0 << true;
        QTest::newRow("before the left edge") << true << 0.1 << -5.0 << false;
    }
    void progressOutsideTheView()
    {
        QFETCH(bool, panRight);
        QFETCH(double, progress);
        QFETCH(double, further);
        QFETCH(bool, allPlayed);
        WaveformWidget v;
        v.resize(kW, kH);
        v.setWaveformData(QList<float>(400, 1.0f));
        for (int i = 0; i < 5; ++i) {
            wheel(&v, panRight ? 431 : 32, +1);
            settle(v);
        }
        QVERIFY(panRight ? v.offset() > 0.5 : v.offset() == 0.0);
        v.setProgress(progress);
        QCOMPARE(v.progress(), progress);
        const QImage img = picture(v);
        for (int i = 0; i < 80; ++i)
            QCOMPARE(rgb(img, 33 + 5 * i, 40) == accent(), allPlayed);
        // No playhead anywhere: the same picture as a position further out.
        v.setProgress(further);
        QCOMPARE(picture(v), img);
    }

    // "0" stands where the bars reach at full level, above and below the
    // middle line; "-60" on the middle line.
    void scaleLabels()
    {
        WaveformWidget v;
        v.resize(kW, kH);
        const QImage img = picture(v);
        auto inked = [&](int y0, int y1) {
            int n = 0;
            for (int y = y0; y <= y1; ++y)
                for (int x = 0; x < 29; ++x)
                    n += qGray(rgb(img, x, y)) > qGray(rgb(img, 2, 30)) + 25;
            return n;
        };
        QVERIFY(inked(4, 13) > 0);    // "0" at 60 - 51.6
        QVERIFY(inked(107, 116) > 0); // its mirror
        QVERIFY(inked(56, 64) > 0);   // "-60"
        QCOMPARE(inked(0, 2), 0);
    }

    void oddPeaks()
    {
        const float inf = std::numeric_limits<float>::infinity();
        WaveformWidget v;
        v.resize(kW, kH);
        v.setWaveformData({std::nanf(""), inf, -1.0f, 0.5f, -inf});
        for (float p : v.peaks())
            QVERIFY(std::isfinite(p) && p >= 0.0f);
        for (double t : {0.0, 0.3, 0.7, 1.0, std::nan("")})
            QVERIFY(std::isfinite(v.samplePeak(t)));
        v.setProgress(std::nan(""));
        QCOMPARE(v.progress(), 0.0);
        picture(v);
    }
};

QTEST_MAIN(TstWaveformView)
#include "tst_waveformview.moc"
