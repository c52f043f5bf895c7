// Opens one of the editing dialogs over a generated sound and saves a picture
// of it once its waveform is in: a tool for looking at them by eye, not a test.
//   edit_preview trim|trimzoom|edit|shortcuts OUT.png [PRESET]
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>
#include <cmath>

#include "ButtonEditDialog.h"
#include "ShortcutsDialog.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "TrimCanvas.h"
#include "TrimDialog.h"

namespace {

// 8 s of stereo with some shape: a kick every half second under a pad that
// swells and fades, and a quiet second in the middle.
QString makeSound()
{
    const int rate = 44100;
    const int frames = 8 * rate;
    QVector<qint16> s(frames * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double beat = std::fmod(t, 0.5);
        const double kick = std::exp(-beat * 18.0) * std::sin(2 * M_PI * (60.0 + 90.0 * std::exp(-beat * 30.0)) * beat);
        const double swell = t < 4.0 ? t / 4.0 : (8.0 - t) / 4.0;
        const double pad = 0.35 * swell * (std::sin(2 * M_PI * 220.0 * t) + 0.5 * std::sin(2 * M_PI * 331.0 * t));
        const double hiss = 0.04 * std::sin(2 * M_PI * 5200.0 * t) * (std::fmod(t, 0.25) < 0.05 ? 1.0 : 0.0);
        double v = 0.55 * kick + pad + hiss;
        if (t > 3.6 && t < 4.4)
            v *= 0.08;
        const auto q = qint16(std::clamp(v, -1.0, 1.0) * 30000.0);
        s[2 * i] = q;
        s[2 * i + 1] = q;
    }
    const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("Morning Show Bed.wav"));
    TestSupport::writeWav16(path, s, 2, rate);
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const QString mode = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    TestSupport::isolateSettings();
    ThemeManager::instance()->applyPresetByName(argc > 3 ? QString::fromLocal8Bit(argv[3]) : QStringLiteral("dark"));

    ButtonData b;
    b.id = QStringLiteral("preview");
    b.name = QStringLiteral("Morning Show Bed");
    b.audioPath = makeSound();
    b.key = QStringLiteral("F3");
    b.trimStart = 1.0;
    b.trimEnd = 6.5;
    b.fadeIn = 0.8;
    b.fadeOut = 1.5;
    b.volume = 0.9;

    QDialog* dlg = nullptr;
    Session session;
    TrimDialog* trim = nullptr;
    if (mode.startsWith(QLatin1String("trim"))) {
        trim = new TrimDialog(b);
        dlg = trim;
    } else if (mode == QLatin1String("edit")) {
        b.bgColor = QColor(QStringLiteral("#2E7D32"));
        dlg = new ButtonEditDialog(b);
    } else {
        TabData tab;
        tab.name = QStringLiteral("Morning");
        for (int i = 0; i < 14; ++i) {
            ButtonData x = b;
            x.name = i % 4 == 3 ? QString() : QStringLiteral("Sound %1").arg(i + 1);
            x.key = i < 6 ? QString::number(i + 1) : QString();
            tab.buttons << x;
        }
        session.tabs << tab;
        dlg = new ShortcutsDialog(session);
    }
    dlg->show();

    // Wait for the bars (or give up after 5 s), then a moment for painting.
    int waited = 0;
    auto* poll = new QTimer(&app);
    QObject::connect(poll, &QTimer::timeout, [&] {
        waited += 50;
        const bool ready = !trim || trim->canvas()->bands().size() > 0;
        if (!ready && waited < 5000)
            return;
        poll->stop();
        if (trim && mode == QLatin1String("trimzoom")) {
            trim->canvas()->setZoom(3.0);
            trim->canvas()->setViewStart(0.1);
            trim->canvas()->setProgress(0.3);
        }
        QTimer::singleShot(300, [&] {
            dlg->grab().save(out);
            app.quit();
        });
    });
    poll->start(50);
    return app.exec();
}
