// The now-playing bar's waveform strip: how many bars it draws, which are
// played, the playhead and progress bar, seeking by a press, and peaks that
// are not numbers.
#include <QSignalSpy>
#include <QtTest>
#include <cmath>
#include <limits>

#include "PanelsTestUtil.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "ToolbarWaveformWidget.h"

using namespace PanelsTest;

namespace {

QRgb accent()
{
    return rgbOf(ThemeManager::instance()->colors().accent);
}

// Runs of the accent colour along a row: one per bar drawn in full colour.
int accentRuns(const QImage& img, int y)
{
    int runs = 0;
    bool in = false;
    for (int x = 0; x < img.width(); ++x) {
        const bool hit = rgb(img, x, y) == accent();
        runs += hit && !in;
        in = hit;
    }
    return runs;
}

// Rows of column x that differ between two pictures.
QList<int> changedRows(const QImage& a, const QImage& b, int x)
{
    QList<int> rows;
    for (int y = 0; y < a.height(); ++y)
        if (rgb(a, x, y) != rgb(b, x, y))
            rows << y;
    return rows;
}

} // namespace

class TstWaveformStrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void barCount_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("peaks");
        QTest::addColumn<int>("bars");
        QTest::newRow("600 peaks on 500 px") << 500 << 600 << 121;
        QTest::newRow("36 px: none") << 36 << 600 << 0;
        QTest::newRow("37 px") << 37 << 600 << 5;
        QTest::newRow("one peak") << 120 << 1 << 26;
        QTest::newRow("fewer peaks than bars") << 500 << 7 << 121;
        QTest::newRow("no peaks") << 500 << 0 << 0;
    }
    void barCount()
    {
        QFETCH(int, width);
        QFETCH(int, peaks);
        QFETCH(int, bars);
        ToolbarWaveformWidget s;
        s.resize(width, 56);
        s.setTrack(QStringLiteral("t"), QList<float>(peaks, 1.0f));
        s.setProgress(1.0);
        QCOMPARE(accentRuns(picture(s), 28), bars);
    }

    // Silence still shows: every bar at the least height, two rows about the middle.
    void silentPeaksDrawTwoPixelBars()
    {
        ToolbarWaveformWidget s;
        s.resize(200, 56);
        s.setTrack(QStringLiteral("t"), {});
        const QImage empty = picture(s);
        s.setTrack(QStringLiteral("t"), QList<float>(50, 0.0f));
        const QImage silent = picture(s);
        for (int x : {8, 9, 12, 100, 101})
            QCOMPARE(changedRows(empty, silent, x), (QList<int>{27, 28}));
        QVERIFY(changedRows(empty, silent, 10).isEmpty()); // between two bars
    }

    // Played bars left of the position in the accent, the rest faint.
    void playedAndUnplayed()
    {
        ToolbarWaveformWidget s;
        s.resize(216, 56); // W = 200: P = 108 at half way
        s.setTrack(QStringLiteral("t"), QList<float>(100, 1.0f));
        s.setProgress(0.5);
        const QImage img = picture(s);
        QCOMPARE(rgb(img, 104, 28), accent()); // bar at 104..105, 106 <= 108: played
        QVERIFY(rgb(img, 112, 28) != accent());
        QColor faint = ThemeManager::instance()->colors().accent;
        QVERIFY(qGray(rgb(img, 112, 28)) < qGray(faint.rgb()));
        QVERIFY(qGray(rgb(img, 112, 28)) > qGray(rgb(img, 110, 28))); // faint bar over the background
    }

    void playheadAndProgressBar_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<bool>("playhead");
        QTest::addColumn<bool>("bar");
        QTest::newRow("0") << 0.0 << false << false;
        QTest::newRow("0.0025") << 0.0025 << false << true;
        QTest::newRow("0.25") << 0.25 << true << true;
        QTest::newRow("0.998") << 0.998 << false << true;
        QTest::newRow("above 1 is 1") << 7.0 << false << true;
        QTest::newRow("negative is 0") << -0.5 << false << false;
        QTest::newRow("NaN is 0") << std::nan("") << false << false;
    }
    void playheadAndProgressBar()
    {
        QFETCH(double, progress);
        QFETCH(bool, playhead);
        QFETCH(bool, bar);
        ToolbarWaveformWidget s;
        s.resize(416, 56); // W = 400
        s.setTrack(QStringLiteral("t"), QList<float>(100, 0.0f));
        const QImage before = picture(s);
        s.setProgress(progress);
        QVERIFY(s.progress() >= 0.0 && s.progress() <= 1.0);
        const QImage after = picture(s);
        const int P = int(s.progress() * 400) + 8;
        // The playhead is a whitish line from row 2 down; row 10 is far from any bar.
        const bool line = P < 416 && qGray(rgb(after, P, 10)) > qGray(rgb(before, P, 10)) + 60;
        QCOMPARE(line, playhead);
        const bool drawn = rgb(after, 8, 55) != rgb(before, 8, 55) || rgb(after, 8, 54) != rgb(before, 8, 54);
        QCOMPARE(drawn, bar);
    }

    void idleTextOnlyWithoutTrack()
    {
        ToolbarWaveformWidget s;
        s.resize(300, 56);
        const QImage idle = picture(s);
        s.setTrack(QStringLiteral("t"), {});
        const QImage track = picture(s);
        int differing = 0;
        for (int x = 100; x < 200; ++x)
            for (int y = 20; y < 36; ++y)
                differing += rgb(idle, x, y) != rgb(track, x, y);
        QVERIFY(differing > 20);
        s.clearTrack();
        QCOMPARE(picture(s), idle);
        QCOMPARE(s.progress(), 0.0);
    }

    void pressSeeks_data()
    {
        QTest::addColumn<bool>("track");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("fraction"); // -1: nothing emitted
        QTest::newRow("left margin") << true << 8.0 << 0.0;
        QTest::newRow("inside the margin") << true << 2.0 << 0.0;
        QTest::newRow("middle") << true << 208.0 << 0.5;
        QTest::newRow("rounded position") << true << 107.6 << 0.25;
        QTest::newRow("right margin") << true << 408.0 << 1.0;
        QTest::newRow("beyond w - 8") << true << 414.0 << 1.0;
        QTest::newRow("no track") << false << 208.0 << -1.0;
    }
    void pressSeeks()
    {
        QFETCH(bool, track);
        QFETCH(double, x);
        QFETCH(double, fraction);
        ToolbarWaveformWidget s;
        s.resize(416, 56);
        if (track)
            s.setTrack(QStringLiteral("t"), {});
        QSignalSpy spy(&s, &ToolbarWaveformWidget::seekRequested);
        press(&s, x);
        if (fraction < 0) {
            QCOMPARE(spy.count(), 0);
            return;
        }
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toDouble(), fraction);
    }

    // Peaks from any caller: not numbers count as 0, huge ones stay inside.
    void oddPeaks_data()
    {
        const float inf = std::numeric_limits<float>::infinity();
        QTest::addColumn<QList<float>>("peaks");
        QTest::addColumn<int>("nonZero");
        QTest::newRow("NaN") << QList<float>{0.5f, std::nanf(""), 0.5f} << 2;
        QTest::newRow("infinity") << QList<float>{inf, 0.2f, -inf} << 1;
        QTest::newRow("negative") << QList<float>{-1.0f, 0.3f} << 1;
        QTest::newRow("huge") << QList<float>{0.0f, 1000.0f, 0.0f, 0.1f} << 2;
        QTest::newRow("single") << QList<float>{0.7f} << 1;
        QTest::newRow("100,000") << QList<float>(100000, 0.4f) << 100000;
    }
    void oddPeaks()
    {
        QFETCH(QList<float>, peaks);
        QFETCH(int, nonZero);
        ToolbarWaveformWidget s;
        s.resize(300, 56);
        s.setTrack(QStringLiteral("t"), peaks);
        int positive = 0;
        for (float v : s.peaks()) {
            QVERIFY(std::isfinite(v) && v >= 0.0f);
            positive += v > 0.0f;
        }
        QCOMPARE(positive, nonZero);
        s.setProgress(1.0);
        const QImage img = picture(s);
        // The tallest bar stops two rows short of the top (and, mirrored, of
        // the progress bar along the bottom).
        for (int x = 8; x < 292; ++x)
            QVERIFY2(rgb(img, x, 1) != accent(), qPrintable(QString::number(x)));
        QVERIFY(accentRuns(img, 28) > 0);
    }

    void bandsGiveTheBroadbandValue()
    {
        ToolbarWaveformWidget s;
        s.setTrackBands(QStringLiteral("t"), {WaveBar{0.1f, 0.2f, 0.3f, 0.4f}, WaveBar{1, 1, 1, std::nanf("")}});
        QCOMPARE(s.peaks(), (QList<float>{0.4f, 0.0f}));
        QVERIFY(s.hasTrack());
    }
};

QTEST_MAIN(TstWaveformStrip)
#include "tst_waveformstrip.moc"
