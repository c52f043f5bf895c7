// Saves pictures of the now-playing bar, its strip and the zoomable waveform
// view over a generated sound, in a given preset: a tool for looking at them
// by eye, not a test.
//   panels_preview OUTDIR [PRESET] [ACCENT]
#include <QApplication>
#include <QDir>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "NowPlayingBar.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "ToolbarWaveformWidget.h"
#include "WaveformWidget.h"

namespace {

// 20 s of a shaped tone: swells, dips in the middle, fades out.
QString makeSound()
{
    const int rate = 22050;
    const int frames = 20 * rate;
    QVector<qint16> s(frames);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double beat = std::exp(-std::fmod(t, 0.5) * 8.0);
        const double env = (t < 8 ? t / 8 : t < 12 ? 0.3 : (20 - t) / 8) * (0.6 + 0.4 * beat);
        s[i] = qint16(env * 28000 * std::sin(2 * M_PI * 180 * t));
    }
    const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("Morning Show Bed.wav"));
    TestSupport::writeWav16(path, s, 1, rate);
    return path;
}

void save(QWidget& w, const QString& file)
{
    w.show();
    QCoreApplication::processEvents();
    w.grab().save(file);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TestSupport::isolateSettings();
    if (argc < 2)
        return 2;
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    const QString preset = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("dark");
    ThemeManager::instance()->applyPresetByName(preset);
    if (argc > 3)
        ThemeManager::instance()->setAccent(QColor::fromString(QString::fromLocal8Bit(argv[3])));
    ThemeManager::instance()->applyStylesheetSafely();
    QCoreApplication::processEvents();
    const QString tag = preset + (argc > 3 ? QStringLiteral("-accent") : QString());
    const QString sound = makeSound();

    QWidget frame;
    frame.setStyleSheet(QStringLiteral("background:%1;").arg(ThemeManager::instance()->colors().bg.name()));
    auto* lay = new QVBoxLayout(&frame);
    auto* bar = new NowPlayingBar(&frame);
    lay->addWidget(bar);
    frame.resize(280, 170);
    save(frame, out + "/bar-idle-" + tag + ".png");

    bar->setTrack(QString(), sound);
    NowPlayingBar::decodePool()->waitForDone();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    bar->setPosition(8000, 20000);
    save(frame, out + "/bar-track-" + tag + ".png");

    ToolbarWaveformWidget strip;
    strip.resize(300, 56);
    save(strip, out + "/strip-idle-" + tag + ".png");

    WaveformWidget view;
    view.resize(640, 160);
    view.setWaveformBands(WaveformDecoder::decodeBands(sound, 1200));
    view.setProgress(0.4);
    save(view, out + "/view-zoom1-" + tag + ".png");
    for (int i = 0; i < 8; ++i) {
        const QPointF pos(32 + 0.4 * 608, 80);
        QWheelEvent e(pos, view.mapToGlobal(pos), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &e);
    }
    for (int i = 0; i < 200; ++i)
        TestSupport::fireTimer(view.animationTimer());
    save(view, out + "/view-zoom4-" + tag + ".png");
    return 0;
}
