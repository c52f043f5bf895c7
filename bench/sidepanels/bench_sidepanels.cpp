// The side panels over a library of 10,000 empty audio files in 1,000
// folders, each beside a plain reference measured in the same run:
// - the music search over 10,000 rows against a plain QString::contains
//   filter of the same texts;
// - refreshMusicList of 10,000 entries against filling a bare QListWidget
//   with the same texts;
// - adding the folder until its tracks are listed (scan, tree walk, refill)
//   against a plain QDirIterator walk of the same tree.
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
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

void makeTree(const QString& root)
{
    for (int d = 0; d < 1000; ++d) {
        const QString dir = QStringLiteral("%1/group %2/folder %3").arg(root).arg(d / 50).arg(d);
        QDir().mkpath(dir);
        for (int f = 0; f < 10; ++f) {
            QFile file(QStringLiteral("%1/take %2-%3.wav").arg(dir).arg(d).arg(f));
            file.open(QIODevice::WriteOnly);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
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
    return 0;
}
