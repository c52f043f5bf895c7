// BSI Stinger import through the main window: reading and applying a
// collection of 16 pages (576 buttons, audio in a sub-folder of the
// collection's folder) against opening the same 16 tabs, saved as a session
// file, through the window's load path, in one run. Target: the import at
// most 1.5 times the load.
//
// Also the reader alone with every audio file in the last (in the file
// system's order) of 200 sub-folders of the collection's parent folder, the
// search's worst case, beside the same pages with the files next to them.
//
//   build/bench/stinger/bench_stinger [rounds]
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "MainWindow.h"
#include "SafeWrite.h"
#include "SessionManager.h"
#include "StingerImporter.h"
#include "TestSupport.h"

namespace {

constexpr int kPages = 16;
constexpr int kButtons = 36;

using BenchTiming::median;

bool writeText(const QString& path, const QByteArray& text)
{
    QString err;
    return safeWriteFile(path, text, &err);
}

// 576 short WAV files in audioDir, named snd_000.wav ...
bool makeAudio(const QString& audioDir)
{
    QDir().mkpath(audioDir);
    const QVector<qint16> tone = TestSupport::sine(440, 0.02, 2, 44100);
    for (int i = 0; i < kPages * kButtons; ++i)
        if (!TestSupport::writeWav16(QStringLiteral("%1/snd_%2.wav").arg(audioDir).arg(i, 3, 10, QLatin1Char('0')),
                                     tone, 2, 44100))
            return false;
    return true;
}

// 16 pages naming their audio by Windows paths, and the collection listing
// them; returns the collection's path.
QString makeCollection(const QString& colDir)
{
    QDir().mkpath(colDir);
    QByteArray col("[Sets]\r\n");
    for (int p = 0; p < kPages; ++p) {
        QByteArray page = QStringLiteral("[General]\r\ntitle=Page %1\r\ncolor=%2\r\n[Buttons]\r\n")
                              .arg(p + 1)
                              .arg(0x102030 * (p + 1) & 0xFFFFFF)
                              .toUtf8();
        for (int b = 0; b < kButtons; ++b) {
            const int n = p * kButtons + b;
            page += QStringLiteral("%1caption=Sound %2\r\n%1file=C:\\BSI\\Audio\\snd_%3.wav\r\n%1color=%4\r\n"
                                   "%1volume=%5\r\n%1loop=%6\r\n%1fadein=0.5\r\n%1fadeout=1\r\n")
                        .arg(b)
                        .arg(n + 1)
                        .arg(n, 3, 10, QLatin1Char('0'))
                        .arg(n * 977 % 0xFFFFFF)
                        .arg(50 + b)
                        .arg(b % 2)
                        .toUtf8();
        }
        const QString name = QStringLiteral("page%1.stg").arg(p + 1, 2, 10, QLatin1Char('0'));
        if (!writeText(colDir + QLatin1Char('/') + name, page))
            return QString();
        col += QStringLiteral("%1=C:\\BSI\\Pages\\%2 ; page %1\r\n").arg(p + 1).arg(name).toUtf8();
    }
    const QString path = colDir + QStringLiteral("/show.col");
    return writeText(path, col) ? path : QString();
}

void settle()
{
    for (int k = 0; k < 5; ++k)
        QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("TR_AUDIO_OUTPUT", "null");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    TestSupport::isolateSettings();
    QTemporaryDir tmp;

    // --- Import against load -------------------------------------------------
    const QString colDir = tmp.path() + QStringLiteral("/show");
    if (!makeAudio(colDir + QStringLiteral("/Audio"))) {
        fprintf(stderr, "cannot write the audio files\n");
        return 1;
    }
    const QString colPath = makeCollection(colDir);
    const StingerImporter::Result first = StingerImporter::importCol(colPath);
    if (!first.ok || first.tabs.size() != kPages || !first.warnings.isEmpty()) {
        fprintf(stderr, "the collection does not read cleanly (%d warnings)\n", int(first.warnings.size()));
        return 1;
    }
    Session saved;
    saved.tabs = first.tabs;
    const QString sessionPath = tmp.path() + QStringLiteral("/show.vx");
    if (!writeText(sessionPath, QJsonDocument(saved.toJson()).toJson())) {
        fprintf(stderr, "cannot write the session\n");
        return 1;
    }

    MainWindow w;
    w.resize(1400, 900);
    w.show();
    settle();
    SessionManager* sm = SessionManager::instance();

    std::vector<double> loadMs, importMs, readMs;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        if (!sm->loadSession(sessionPath) || w.gridPanels().size() != kPages) {
            fprintf(stderr, "the session does not load\n");
            return 1;
        }
        loadMs.push_back(t.nsecsElapsed() / 1e6);
        settle();

        // An empty window, then the collection into it.
        sm->session().tabs.clear();
        w.onSessionLoaded(sm->session());
        settle();
        t.restart();
        const StingerImporter::Result res = StingerImporter::importCol(colPath);
        readMs.push_back(t.nsecsElapsed() / 1e6);
        w.applyStingerImport(res, QStringLiteral("show.col"));
        importMs.push_back(t.nsecsElapsed() / 1e6);
        if (w.gridPanels().size() != kPages) {
            fprintf(stderr, "the import did not add 16 tabs\n");
            return 1;
        }
        settle();
    }
    const double load = median(loadMs), imp = median(importMs), read = median(readMs);
    printf("16 pages, 576 buttons, %d rounds (medians)\n", rounds);
    printf("  load of the same tabs as a session (reference): %8.2f ms\n", load);
    printf("  import (read %.2f ms + apply %.2f ms):          %8.2f ms  ratio %.2f  (target <= 1.50)\n", read,
           imp - read, imp, imp / load);

    // --- Reader alone: the search's worst case beside the best ---------------
    const QString parent = tmp.path() + QStringLiteral("/far");
    for (int d = 0; d < 200; ++d)
        QDir().mkpath(QStringLiteral("%1/folder%2").arg(parent).arg(d, 3, 10, QLatin1Char('0')));
    const QString farCol = makeCollection(parent + QStringLiteral("/show"));
    const QStringList listed = QDir(parent).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted);
    QString last;
    for (const QString& s : listed)
        if (s != QLatin1String("show"))
            last = s;
    if (farCol.isEmpty() || !makeAudio(parent + QLatin1Char('/') + last)) {
        fprintf(stderr, "cannot build the far folders\n");
        return 1;
    }
    const QString nearCol = makeCollection(tmp.path() + QStringLiteral("/near"));
    if (nearCol.isEmpty() || !makeAudio(tmp.path() + QStringLiteral("/near"))) {
        fprintf(stderr, "cannot build the near folder\n");
        return 1;
    }
    std::vector<double> farMs, nearMs;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        const StingerImporter::Result n = StingerImporter::importCol(nearCol);
        nearMs.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const StingerImporter::Result f = StingerImporter::importCol(farCol);
        farMs.push_back(t.nsecsElapsed() / 1e6);
        if (!n.warnings.isEmpty() || !f.warnings.isEmpty()) {
            fprintf(stderr, "audio not found (%d near, %d far)\n", int(n.warnings.size()), int(f.warnings.size()));
            return 1;
        }
    }
    const double nearMed = median(nearMs), farMed = median(farMs);
    printf("reader alone, 576 files\n");
    printf("  files next to the pages:                         %8.2f ms\n", nearMed);
    printf("  files in the last of 200 sub-folders of the parent: %8.2f ms  ratio %.1f\n", farMed,
           farMed / nearMed);
    return 0;
}
