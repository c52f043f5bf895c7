// The waveform editor: its mapping between pixels and seconds, what a press
// grabs, how each drag moves the values, wheel zoom, and what it paints.
#include <QSignalSpy>
#include <QtTest>
#include <cmath>

#include "EditTestUtil.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "TrimCanvas.h"

using namespace EditTest;

class TstTrimCanvas : public QObject
{
    Q_OBJECT

    // 400 px wide, a 10 s file: 40 px a second at zoom 1.
    static void setup(TrimCanvas& c, double start = 2.0, double end = 8.0)
    {
        c.resize(400, 220);
        c.setDuration(10.0);
        c.setTrimStart(start);
        c.setTrimEnd(end);
    }

    static QImage picture(TrimCanvas& c) { return c.grab().toImage().convertToFormat(QImage::Format_RGB32); }
    static QRgb rgbAt(const QImage& img, int x, int y) { return img.pixel(x, y) & 0xFFFFFF; }
    static QRgb rgbOf(const QColor& c) { return c.rgb() & 0xFFFFFF; }
    static QColor background()
    {
        QColor bg = ThemeManager::instance()->colors().bg.darker(125);
        return bg.lightness() > 60 ? QColor(22, 22, 24) : bg;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void mapping()
    {
        TrimCanvas c;
        c.resize(400, 220);
        // No duration: both directions give 0.
        QCOMPARE(c.xToTime(200), 0.0);
        QCOMPARE(c.timeToX(5.0), 0);

        c.setDuration(10.0);
        QCOMPARE(c.trimEnd(), 10.0); // an unset end takes the duration
        QCOMPARE(c.xToTime(200), 5.0);
        QCOMPARE(c.xToTime(-40), 0.0);
        QCOMPARE(c.xToTime(500), 10.0);
        QCOMPARE(c.timeToX(2.5), 100);
        // Truncated toward zero, never clamped to the widget.
        QCOMPARE(c.timeToX(-0.01), 0);
        QCOMPARE(c.timeToX(-0.05), -2);
        QCOMPARE(c.timeToX(12.0), 480);

        c.setZoom(2.0);
        c.setViewStart(0.25);
        QCOMPARE(c.xToTime(0), 2.5);
        QCOMPARE(c.xToTime(400), 7.5);
        QCOMPARE(c.timeToX(5.0), 200);
        QCOMPARE(c.timeToX(1.0), -120);
        // The view never runs past the end of the file.
        c.setViewStart(0.9);
        QCOMPARE(c.viewStart(), 0.5);
        c.setZoom(1.0);
        QCOMPARE(c.viewStart(), 0.0);

        // A set trim end is kept when the duration arrives.
        TrimCanvas d;
        d.setTrimEnd(3.0);
        d.setDuration(10.0);
        QCOMPARE(d.trimEnd(), 3.0);
    }

    void grabDistances()
    {
        // startX = 80, endX = 320: a press 16 px away grabs nothing, 15 px grabs.
        TrimCanvas c;
        setup(c);
        press(&c, 80 + 16); // nor is it inside the selection yet: a pan
        QCOMPARE(c.dragMode(), TrimCanvas::DragPan);
        release(&c, 96);
        press(&c, 80 + 17);
        QCOMPARE(c.dragMode(), TrimCanvas::DragMoveSelection);
        release(&c, 97);
        press(&c, 80 - 15);
        QCOMPARE(c.dragMode(), TrimCanvas::DragStartHandle);
        release(&c, 65);
        press(&c, 80 - 16);
        QCOMPARE(c.dragMode(), TrimCanvas::DragPan);
        release(&c, 64);
        press(&c, 320 + 15);
        QCOMPARE(c.dragMode(), TrimCanvas::DragEndHandle);
        release(&c, 335);
        QCOMPARE(c.dragMode(), TrimCanvas::DragNone);
        QCOMPARE(c.cursor().shape(), Qt::ArrowCursor);

        // Fade handles: 12 px, after the trim handles. Fade in 1 s ends at
        // 120 px, fade out 2 s starts at 240 px.
        c.setFadeIn(1.0);
        c.setFadeOut(2.0);
        press(&c, 120 + 11);
        QCOMPARE(c.dragMode(), TrimCanvas::DragFadeInHandle);
        release(&c, 131);
        press(&c, 120 + 12);
        QCOMPARE(c.dragMode(), TrimCanvas::DragMoveSelection);
        release(&c, 132);
        press(&c, 240 - 11);
        QCOMPARE(c.dragMode(), TrimCanvas::DragFadeOutHandle);
        release(&c, 229);
        // A fade handle inside the grab range of a trim handle loses to it.
        c.setFadeIn(0.25); // fade end at 90 px
        press(&c, 92);
        QCOMPARE(c.dragMode(), TrimCanvas::DragStartHandle);
        release(&c, 92);

        // Right button: nothing. Middle button and Ctrl+left: pan.
        press(&c, 200, Qt::RightButton);
        QCOMPARE(c.dragMode(), TrimCanvas::DragNone);
        press(&c, 200, Qt::MiddleButton);
        QCOMPARE(c.dragMode(), TrimCanvas::DragPan);
        release(&c, 200, Qt::MiddleButton);
        press(&c, 80, Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(c.dragMode(), TrimCanvas::DragPan);
        release(&c, 80);
    }

    void handleDrags()
    {
        TrimCanvas c;
        setup(c);
        QSignalSpy trim(&c, &TrimCanvas::trimChanged);

        // The start handle stops 0.05 s before the end and at 0.
        drag(&c, 80, 400);
        QCOMPARE(trim.size(), 1);
        QCOMPARE(c.trimStart(), 8.0 - 0.05);
        QCOMPARE(trim.last().at(0).toDouble(), c.trimStart());
        QCOMPARE(trim.last().at(1).toDouble(), 8.0);
        drag(&c, 318, -30);
        QCOMPARE(c.trimStart(), 0.0);

        // The end handle stops 0.05 s after the start and at the duration.
        c.setTrimStart(2.0);
        drag(&c, 320, 10);
        QCOMPARE(c.trimEnd(), 2.0 + 0.05);
        drag(&c, 82, 900); // 2.05 s sits at 82 px: still the start handle first
        QCOMPARE(c.trimStart(), 2.0);
        c.setTrimEnd(8.0);
        drag(&c, 320, 900);
        QCOMPARE(c.trimEnd(), 10.0);
        QCOMPARE(trim.last().at(1).toDouble(), 10.0);

        // Releasing emits nothing.
        const int before = trim.size();
        press(&c, 400);
        release(&c, 400);
        QCOMPARE(trim.size(), before);
    }

    void startHandleWithoutDuration()
    {
        TrimCanvas c;
        c.resize(400, 220);
        QSignalSpy trim(&c, &TrimCanvas::trimChanged);
        press(&c, 10);
        QCOMPARE(c.dragMode(), TrimCanvas::DragStartHandle);
        moveTo(&c, 200);
        QCOMPARE(c.trimStart(), 0.0);
        QCOMPARE(trim.size(), 1);
        release(&c, 200);
        // Elsewhere a press pans (there is no selection to move).
        press(&c, 200);
        QCOMPARE(c.dragMode(), TrimCanvas::DragPan);
        release(&c, 200);
    }

    void moveSelectionAndPan()
    {
        TrimCanvas c;
        setup(c);
        QSignalSpy trim(&c, &TrimCanvas::trimChanged);

        // At zoom 1 a drag inside moves the range and keeps its length...
        drag(&c, 200, 240);
        QCOMPARE(c.trimStart(), 3.0);
        QCOMPARE(c.trimEnd(), 9.0);
        // ...until it meets the end of the file, or the start.
        drag(&c, 200, 390);
        QCOMPARE(c.trimStart(), 4.0);
        QCOMPARE(c.trimEnd(), 10.0);
        drag(&c, 260, -300);
        QCOMPARE(c.trimStart(), 0.0);
        QCOMPARE(c.trimEnd(), 6.0);
        QCOMPARE(trim.size(), 3);
        // Panning at zoom 1 has nowhere to go.
        drag(&c, 300, 100, Qt::MiddleButton);
        QCOMPARE(c.viewStart(), 0.0);

        // Zoomed in, the same drag inside the range pans and changes no value.
        c.setTrimStart(2.0);
        c.setTrimEnd(8.0);
        c.setZoom(2.0);
        c.setViewStart(0.25); // 2.5 s .. 7.5 s in view
        trim.clear();
        drag(&c, 200, 100);
        QCOMPARE(trim.size(), 0);
        QCOMPARE(c.trimStart(), 2.0);
        QCOMPARE(c.trimEnd(), 8.0);
        // 100 px at zoom 2 is an eighth of the file.
        QCOMPARE(c.viewStart(), 0.375);
        drag(&c, 100, 2000);
        QCOMPARE(c.viewStart(), 0.0);
        drag(&c, 300, -2000);
        QCOMPARE(c.viewStart(), 0.5);
    }

    void fadeDrags()
    {
        TrimCanvas c;
        setup(c);
        c.setFadeIn(1.0);  // handle at 120 px
        c.setFadeOut(1.0); // handle at 280 px
        QSignalSpy in(&c, &TrimCanvas::fadeInChanged);
        QSignalSpy out(&c, &TrimCanvas::fadeOutChanged);

        drag(&c, 120, 160);
        QCOMPARE(c.fadeIn(), 2.0);
        QCOMPARE(in.last().at(0).toDouble(), 2.0);
        // Never longer than the fade sliders reach (5 s), never negative.
        drag(&c, 160, 399);
        QCOMPARE(c.fadeIn(), TrimCanvas::kMaxFade);
        c.setFadeIn(1.0);
        drag(&c, 120, 20);
        QCOMPARE(c.fadeIn(), 0.0);

        drag(&c, 280, 200);
        QCOMPARE(c.fadeOut(), 3.0);
        QCOMPARE(out.last().at(0).toDouble(), 3.0);
        drag(&c, 200, 0);
        QCOMPARE(c.fadeOut(), TrimCanvas::kMaxFade);
        c.setFadeOut(1.0);
        drag(&c, 280, 399);
        QCOMPARE(c.fadeOut(), 0.0);
        QCOMPARE(in.size(), 3);
        QCOMPARE(out.size(), 3);

        // Never longer than the selection either (2 s to 5 s here).
        c.setTrimEnd(5.0);
        c.setFadeIn(1.0);
        drag(&c, 120, 399);
        QCOMPARE(c.fadeIn(), 3.0);
        // A fade set from outside is held to the same limit.
        c.setFadeIn(8.0);
        c.setFadeOut(-1.0);
        QCOMPARE(c.fadeIn(), TrimCanvas::kMaxFade);
        QCOMPARE(c.fadeOut(), 0.0);
    }

    void wheelZoom()
    {
        TrimCanvas c;
        setup(c);
        for (int i = 0; i < 17; ++i)
            QVERIFY(wheel(&c, 0, 120));
        QVERIFY(std::abs(c.zoom() - std::pow(1.3, 17)) < 1e-6);
        QVERIFY(std::abs(c.zoom() - 86.5) < 0.05);
        wheel(&c, 0, 120);
        QCOMPARE(c.zoom(), 100.0);
        wheel(&c, 0, 120);
        QCOMPARE(c.zoom(), 100.0);
        // Back out all the way: the whole file, from its start.
        for (int i = 0; i < 30; ++i)
            wheel(&c, 300, -120);
        QCOMPARE(c.zoom(), 1.0);
        QCOMPARE(c.viewStart(), 0.0);

        // The time under the pointer stays where it is.
        const int x = 300;
        const double before = c.xToTime(x);
        wheel(&c, x, 120);
        wheel(&c, x, 120);
        QVERIFY(std::abs(c.xToTime(x) - before) < 1e-9);
        QVERIFY(c.viewStart() > 0);
        // A purely sideways wheel zooms out.
        const double z = c.zoom();
        wheel(&c, x, 0, 120);
        QVERIFY(std::abs(c.zoom() - z / 1.3) < 1e-9);
    }

    void paintsBarsAndSelection()
    {
        TrimCanvas c;
        setup(c);
        c.setWaveform(QList<float>(400, 0.5f)); // every bar at the largest value: full height
        const QImage img = picture(c);
        const QColor accent = ThemeManager::instance()->colors().accent;
        const QColor bg = background();
        // Bar columns at x = 3i and 3i + 1 inside the selection (80..320 px),
        // gaps at 3i + 2; dimmed bars outside.
        QCOMPARE(rgbAt(img, 150, 40), rgbOf(accent));
        QCOMPARE(rgbAt(img, 151, 40), rgbOf(accent));
        QCOMPARE(rgbAt(img, 152, 40), rgbOf(bg));
        const QRgb dim = rgbAt(img, 30, 40);
        QVERIFY(dim != rgbOf(accent) && dim != rgbOf(bg));
        // Full height: 0.92 of the half height above and below the middle.
        QCOMPARE(rgbAt(img, 150, 12), rgbOf(accent));
        QCOMPARE(rgbAt(img, 150, 5), rgbOf(bg));
        // The handles: 3 px of accent over the whole height.
        QCOMPARE(rgbAt(img, 79, 2), rgbOf(accent));
        QCOMPARE(rgbAt(img, 322, 2), rgbOf(accent));

        // A quiet half draws short bars (the power curve), the loud half full ones.
        QList<float> peaks(400, 1.0f);
        for (int i = 0; i < 200; ++i)
            peaks[i] = 0.1f;
        c.setWaveform(peaks);
        const QImage img2 = picture(c);
        QCOMPARE(rgbAt(img2, 240, 60), rgbOf(accent));
        QCOMPARE(rgbAt(img2, 150, 60), rgbOf(bg));
        QCOMPARE(rgbAt(img2, 150, 110 - 1), rgbOf(accent)); // a quiet bar is still 1 px each way
    }

    void paintsWithoutPeaks()
    {
        TrimCanvas c;
        setup(c);
        c.setFadeIn(2.0);
        c.setProgress(0.5);
        const QImage img = picture(c);
        const QColor bg = background();
        // No bars, and no fade shape without bars.
        QCOMPARE(rgbAt(img, 150, 40), rgbOf(bg));
        QCOMPARE(rgbAt(img, 100, 180), rgbOf(bg));
        // The playhead and the handles are there.
        QCOMPARE(rgbAt(img, 200, 40), rgbOf(QColor(Qt::white)));
        QCOMPARE(rgbAt(img, 79, 40), rgbOf(ThemeManager::instance()->colors().accent));

        // With bars the fade-in ramp (80 px up to 160 px) tints its stretch.
        c.setWaveform(QList<float>{0.0f, 1.0f}); // tall bars only on the right half
        QVERIFY(rgbAt(picture(c), 131, 150) != rgbOf(bg));
        c.setFadeIn(0);
        QCOMPARE(rgbAt(picture(c), 131, 150), rgbOf(bg));

        // Without bars the owner's words stand in the middle, in light grey;
        // the stretches above and below stay empty, so nothing there can be
        // taken for a waveform. Bars hide the words.
        c.setProgress(0);
        c.setWaveform({});
        const QImage bare = picture(c);
        c.setPlaceholderText(QStringLiteral("No waveform can be shown for this file"));
        const QImage words = picture(c);
        const auto lightPixels = [](const QImage& img, int y0, int y1) {
            int n = 0;
            for (int y = y0; y < y1; ++y)
                for (int x = 90; x < 315; ++x)
                    n += qGray(img.pixel(x, y)) > 120 ? 1 : 0;
            return n;
        };
        QCOMPARE(lightPixels(bare, 95, 125), 0);
        QVERIFY(lightPixels(words, 95, 125) > 40);
        QCOMPARE(lightPixels(words, 20, 80), 0);
        QCOMPARE(lightPixels(words, 140, 180), 0);
        c.setWaveform(QList<float>(400, 0.5f));
        const QImage barsAndWords = picture(c);
        c.setPlaceholderText(QString());
        QCOMPARE(barsAndWords, picture(c));
    }

    void playheadOnlyInView()
    {
        TrimCanvas c;
        setup(c);
        c.setProgress(0.5);
        c.setZoom(4.0); // the view shows 0 .. 0.25 of the file
        QVERIFY(rgbAt(picture(c), 200, 40) != rgbOf(Qt::white));
        c.setViewStart(0.375); // 0.375 .. 0.625: the playhead at (0.5 - 0.375) * 4 * 400
        QCOMPARE(rgbAt(picture(c), 200, 40), rgbOf(QColor(Qt::white)));
        c.setViewStart(0.4);
        c.setProgress(0.2); // left of the view
        const QImage img = picture(c);
        for (int x = 0; x < 400; ++x)
            QVERIFY2(rgbAt(img, x, 40) != rgbOf(Qt::white), qPrintable(QString::number(x)));
    }

    void darkUnderLightPresets()
    {
        ThemeManager::instance()->applyPreset(ThemeManager::LightClassic);
        QVERIFY(ThemeManager::instance()->colors().bg.darker(125).lightness() > 60);
        TrimCanvas c;
        c.resize(300, 220);
        QCOMPARE(rgbAt(picture(c), 150, 3), rgbOf(QColor(22, 22, 24)));
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        QCOMPARE(rgbAt(picture(c), 150, 3), rgbOf(background()));
        QVERIFY(background() != QColor(22, 22, 24));
    }
};

QTEST_MAIN(TstTrimCanvas)
#include "tst_trimcanvas.moc"
