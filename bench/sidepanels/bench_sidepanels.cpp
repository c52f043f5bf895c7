// The side panels over a library of 10,000 empty audio files in 1,000
// folders, each beside a plain reference measured in the same run:
// - the music search over 10,000 rows against a plain QString::contains
//   filter of the same texts;
// - refreshMusicList of 10,000 entries against filling a bare QListWidget
//   with the same texts;
// - adding the folder until its tracks are listed (scan, tree walk, refill)
//   against a plain QDirIterator walk of the same tree;
// - the longest stall of the GUI thread while a folder of 20,000 files in
//   2,000 sub-folders is added, listed and its tree filled, beside the
//   longest stall of an empty event loop over the same span.
// QT_MEDIA_BACKEND and the library thread are as in the program.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "BenchTiming.h"
#include "LibraryManager.h"
#include "MainWindow.h"
#include "TestSupport.h"

namespace {

using BenchTiming::median;

template <typename F>
double medianMs(int runs, F&& f)
{
    return BenchTiming::medianNs(runs, f) / 1e6;
}

void row(const char* what, double ms, double refMs, const char* ref)
{
    std::printf("%-44s %9.2f ms   reference %-32s %9.2f ms   ratio %.2f\n", what, ms, ref, refMs, ms / refMs);
}

void makeTree(const QString& root, int folders = 1000, int perFolder = 10)
{
    for (int d = 0; d < folders; ++d) {
        const QString dir = QStringLiteral("%1/group %2/folder %3").arg(root).arg(d / 50).arg(d);
        QDir().mkpath(dir);
        for (int f = 0; f < perFolder; ++f) {
            QFile file(QStringLiteral("%1/take %2-%3.wav").arg(dir).arg(d).arg(f));
            file.open(QIODevice::WriteOnly);
        }
    }
}

// The longest gap between two turns of the GUI thread's event loop, in ms,
// while work runs (polled by done). A 1 ms precise timer notes each turn.
template <typename Done>
double longestStallMs(Done&& done, double atLeastMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    tick.start();
    while (!done() || clock.nsecsElapsed() < qint64(atLeastMs * 1e6))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    worst = std::max(worst, clock.nsecsElapsed() - last);
    return worst / 1e6;
}

// Times every event the GUI thread delivers at the top level, so that the
// longest stall can be named by what caused it.
class TimedApp : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* e) override
    {
        // Other threads' events (the library scan's) stall nobody's window.
        if (QThread::currentThread() != thread())
            return QApplication::notify(receiver, e);
        if (m_depth++ > 0) {
            const bool r = QApplication::notify(receiver, e);
            --m_depth;
            return r;
        }
        QElapsedTimer t;
        t.start();
        const bool r = QApplication::notify(receiver, e);
        --m_depth;
        const qint64 ns = t.nsecsElapsed();
        if (ns > worstNs) {
            worstNs = ns;
            worstWhat = QStringLiteral("%1 (%2), event %3")
                            .arg(QString::fromLatin1(receiver->metaObject()->className()), receiver->objectName())
                            .arg(int(e->type()));
        }
        return r;
    }
    qint64 worstNs = 0;
    QString worstWhat;

private:
    int m_depth = 0;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApp app(argc, argv);
    TestSupport::isolateSettings();
    QTemporaryDir dir;
    const QString root = dir.path() + QStringLiteral("/Library");
    makeTree(root);

    MainWindow w;
    w.resize(1400, 900);
    w.show();
    QCoreApplication::processEvents();
    LibraryManager* library = LibraryManager::instance();

    // Adding the folder until its 10,000 tracks are listed.
    std::vector<double> adds;
    for (int i = 0; i < 3; ++i) {
        library->clearAll();
        QCoreApplication::processEvents();
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            return r.kind == Modal::Kind::Directory ? QVariant(root) : QVariant();
        });
        QElapsedTimer clock;
        clock.start();
        w.onLibAddFolder();
        while (w.musicList->count() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        adds.push_back(clock.nsecsElapsed() / 1e6);
    }
    const double walk = medianMs(3, [&] {
        int n = 0;
        QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++n;
        }
        if (n != 10000)
            std::printf("  (warning: %d files)\n", n);
    });
    row("add a folder of 10,000 files until listed", median(adds), walk, "QDirIterator walk");

    // The ALL MUSIC refill.
    QStringList texts;
    for (int r = 0; r < w.musicList->count(); ++r)
        texts << w.musicList->item(r)->text();
    const double refill = medianMs(9, [&] { w.refreshMusicList(); });
    QListWidget bare;
    const double plainFill = medianMs(9, [&] {
        bare.clear();
        for (const QString& t : std::as_const(texts))
            bare.addItem(t);
    });
    row("refreshMusicList, 10,000 entries", refill, plainFill, "bare QListWidget fill");

    // The music search.
    QLineEdit* search = nullptr;
    for (QLineEdit* e : w.findChildren<QLineEdit*>())
        if (e->placeholderText() == QStringLiteral("🔍 Search music..."))
            search = e;
    int k = 0;
    const double searching = medianMs(21, [&] {
        search->setText(QStringLiteral("take %1").arg(++k % 97));
    });
    int hits = 0;
    const double contains = medianMs(21, [&] {
        const QString needle = QStringLiteral("take %1").arg(++k % 97);
        hits = 0;
        for (const QString& t : std::as_const(texts))
            hits += t.contains(needle, Qt::CaseInsensitive);
    });
    row("music search over 10,000 rows", searching, contains, "QString::contains filter");
    library->clearAll();

    // The GUI thread's longest stall while a folder of 20,000 files in 2,000
    // sub-folders is added: the scan, the tree walk and both refills.
    const QString big = dir.path() + QStringLiteral("/Big");
    makeTree(big, 2000, 10);
    std::vector<double> stalls;
    std::vector<double> idles;
    for (int i = 0; i < 3; ++i) {
        library->clearAll();
        w.rebuildLibraryTree();
        QCoreApplication::processEvents();
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            return r.kind == Modal::Kind::Directory ? QVariant(big) : QVariant();
        });
        QElapsedTimer span;
        span.start();
        app.worstNs = 0;
        QTimer::singleShot(0, &w, [&] { w.onLibAddFolder(); });
        bool started = false;
        const double stall = longestStallMs([&] {
            started = started || library->pendingScans() > 0 || w.folderTreeWalks > 0;
            return started && library->pendingScans() == 0 && w.folderTreeWalks == 0
                   && w.musicList->count() == 20000;
        }, 0);
        // Two debounced refills follow the scan's end: they count too.
        const double tail = longestStallMs([] { return true; }, 600);
        stalls.push_back(std::max(stall, tail));
        std::printf("  run %d: longest event %.1f ms: %s\n", i + 1, app.worstNs / 1e6, qPrintable(app.worstWhat));
        const double spanMs = span.nsecsElapsed() / 1e6;
        idles.push_back(longestStallMs([] { return true; }, spanMs));
    }
    row("longest GUI stall, adding 20,000 files", BenchTiming::upperRank(stalls, 1.0),
        BenchTiming::upperRank(idles, 1.0), "empty event loop, same span");
    std::printf("  runs: stalls");
    for (double v : stalls)
        std::printf(" %.1f", v);
    std::printf(" ms; idle");
    for (double v : idles)
        std::printf(" %.1f", v);
    std::printf(" ms\n");
    library->clearAll();
    return 0;
}
