// One keystroke in the button search over a session of 16 tabs of 72
// buttons (1152 buttons, 16 panes), next to a reference measured in the same
// run: a plain QString::contains filter over the same names and paths. The
// search's cost includes re-placing the pads of every pane; the target is
// one 60 Hz frame (16.7 ms) per keystroke.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QUuid>
#include <cstdio>
#include <vector>

#include "AppSettings.h"
#include "BenchTiming.h"
#include "MainWindow.h"
#include "SessionManager.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TR_AUDIO_OUTPUT"))
        qputenv("TR_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    QTemporaryDir tmp;

    Session s;
    s.buttonsPerTab = 72;
    s.layoutMode = 4;
    static const char* const words[] = {"Kick", "Snare", "Jingle", "Bed", "Sweeper", "Drop", "Stinger", "Applause"};
    for (int t = 0; t < 16; ++t) {
        TabData tab;
        tab.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        tab.name = QStringLiteral("Tab %1").arg(t + 1);
        for (int b = 0; b < 72; ++b) {
            ButtonData bd;
            bd.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            bd.name = QStringLiteral("%1 %2").arg(QString::fromLatin1(words[(t + b) % 8])).arg(b);
            // Files that do not exist: nothing is decoded, the names are what count.
            bd.audioPath = QStringLiteral("/srv/show/%1/%2-%3.wav").arg(t).arg(QString::fromLatin1(words[b % 8])).arg(b);
            tab.buttons << bd;
        }
        s.tabs << tab;
    }
    const QString path = QDir(tmp.path()).filePath(QStringLiteral("big.vx"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write(QJsonDocument(s.toJson()).toJson());
    }

    auto* w = new MainWindow;
    w->resize(1380, 860);
    w->show();
    w->openSessionFile(path);
    app.processEvents();
    if (w->gridPanels().size() != 16) {
        std::fprintf(stderr, "expected 16 panes, got %lld\n", qlonglong(w->gridPanels().size()));
        return 1;
    }

    // The same names and paths for the reference.
    QStringList names, paths;
    for (const TabData& t : SessionManager::instance()->session().tabs)
        for (const ButtonData& b : t.buttons) {
            names << b.name;
            paths << b.audioPath;
        }

    const QStringList typed{QStringLiteral("k"), QStringLiteral("ki"), QStringLiteral("kic"), QStringLiteral("kick"),
                            QStringLiteral("kic"), QStringLiteral("ki"), QStringLiteral("k"), QString()};
    const int rounds = 40;
    std::vector<qint64> search, reference;
    QElapsedTimer clock;
    clock.start();
    volatile int sink = 0;
    for (int r = 0; r < rounds; ++r) {
        for (const QString& text : typed) {
            qint64 start = clock.nsecsElapsed();
            w->onSearchChanged(text);
            app.processEvents();   // the relayout the keystroke asks for
            search.push_back(clock.nsecsElapsed() - start);

            start = clock.nsecsElapsed();
            int shown = 0;
            for (qsizetype i = 0; i < names.size(); ++i)
                shown += (text.isEmpty() || names[i].contains(text, Qt::CaseInsensitive)
                          || paths[i].contains(text, Qt::CaseInsensitive))
                             ? 1
                             : 0;
            sink = sink + shown;
            reference.push_back(clock.nsecsElapsed() - start);
        }
    }
    const BenchTiming::Spread keystroke = BenchTiming::spread(search, 1000.0);
    const double sm = keystroke.median, sp = keystroke.p99, rm = BenchTiming::median(reference) / 1000.0;
    std::printf("plain contains filter, 1152 buttons   median %9.1f us\n", rm);
    std::printf("search keystroke, 16 panes            median %9.1f us  p99 %9.1f us  (x%.0f of reference)\n", sm,
                sp, sm / rm);
    std::printf("target: one 60 Hz frame (16667 us): median %s, p99 %s\n", sm < 16667 ? "within" : "OVER",
                sp < 16667 ? "within" : "OVER");
    delete w;
    return 0;
}
