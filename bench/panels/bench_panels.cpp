// The now-playing widgets against plain references of the same work:
// - the strip's paint of 4000 bars against a bare QPainter fill of the same
//   4000 rounded rectangles;
// - the zoomable view's repaint from its cache against a full cache rebuild;
// - the bar's setTrack of a 5-minute MP3 until its bars are on the strip
//   against WaveformDecoder::decodeBands of the same file alone.
#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "AudioFixture.h"
#include "BenchTiming.h"
#include "NowPlayingBar.h"
#include "TestSupport.h"
#include "ToolbarWaveformWidget.h"
#include "WaveformDecoder.h"
#include "WaveformWidget.h"

namespace {

using BenchTiming::median;

template <typename F>
double medianUs(int runs, F&& f)
{
    return BenchTiming::medianNs(runs, f) / 1000.0;
}

void row(const char* what, double us, double refUs, const char* ref)
{
    std::printf("%-44s %10.1f us   reference %-34s %10.1f us   ratio %.2f\n", what, us, ref, refUs, us / refUs);
}

QList<float> randomPeaks(int n)
{
    QList<float> p(n);
    for (float& v : p)
        v = float(QRandomGenerator::global()->bounded(1.0));
    return p;
}

void stripPaint()
{
    ToolbarWaveformWidget strip;
    strip.resize(16016, 56); // 4000 bars
    strip.setTrack(QStringLiteral("bench"), randomPeaks(600));
    strip.setProgress(0.5);
    QImage img(strip.size(), QImage::Format_ARGB32_Premultiplied);
    const double widget = medianUs(50, [&] { strip.render(&img); });
    const double plain = medianUs(50, [&] {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(200, 120, 40));
        for (int i = 0; i < 4000; ++i)
            p.drawRoundedRect(QRectF(8 + 4 * i, 28 - 12, 2, 24), 1, 1);
    });
    row("strip paint, 4000 bars", widget, plain, "4000 rounded rects");
}

void viewRepaint()
{
    WaveformWidget view;
    view.resize(1232, 200);
    view.setWaveformData(randomPeaks(4000));
    view.setProgress(0.4);
    QImage img(view.size(), QImage::Format_ARGB32_Premultiplied);
    view.render(&img); // the cache is drawn once here
    const int before = view.cacheRebuilds();
    const double cached = medianUs(200, [&] { view.render(&img); });
    const double rebuild = medianUs(200, [&] { view.rebuildCache(); });
    row("view repaint from its cache", cached, rebuild, "full cache rebuild");
    if (view.cacheRebuilds() != before + 200)
        std::printf("  (warning: the cached repaints rebuilt the cache)\n");
}

void decodeHandOver(const QString& dir)
{
    const QString path = dir + QStringLiteral("/five-minutes.mp3");
    QString why;
    if (!AudioFixture::encode(path, AudioFixture::Codec::Mp3, TestSupport::sine(440, 300.0, 2, 44100), 2, 44100,
                              &why)) {
        std::printf("decode hand-over: no MP3 (%s)\n", qPrintable(why));
        return;
    }
    WaveformDecoder::decodeBands(path, 600); // the file into the page cache
    std::vector<double> viaBar, direct;
    for (int i = 0; i < 7; ++i) {
        NowPlayingBar bar;
        QElapsedTimer clock;
        clock.start();
        bar.setTrack(QString(), path);
        while (bar.strip()->peaks().isEmpty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        viaBar.push_back(clock.nsecsElapsed() / 1000.0);
        clock.start();
        const QList<WaveBar> bars = WaveformDecoder::decodeBands(path, 600);
        direct.push_back(clock.nsecsElapsed() / 1000.0);
        if (bars.size() != 600)
            std::printf("  (warning: %d bars)\n", int(bars.size()));
    }
    row("setTrack of a 5-minute MP3 to bars shown", median(viaBar), median(direct), "decodeBands alone");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    stripPaint();
    viewRepaint();
    decodeHandOver(dir.path());
    return 0;
}
