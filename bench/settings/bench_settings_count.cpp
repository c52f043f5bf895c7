// The Advanced page's size count over 10,000 files in nested folders next to
// a plain walk of the same tree with readdir and stat (target: at most 2x).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "BenchTiming.h"
#include "SettingsDialog.h"

namespace {

qint64 plainWalk(const QByteArray& path)
{
    qint64 total = 0;
    DIR* dir = opendir(path.constData());
    if (!dir)
        return 0;
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
            continue;
        const QByteArray child = path + '/' + e->d_name;
        struct stat st {};
        if (stat(child.constData(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            total += plainWalk(child);
        else if (S_ISREG(st.st_mode))
            total += st.st_size;
    }
    closedir(dir);
    return total;
}

// Nanosecond samples' median in milliseconds.
double median(const std::vector<qint64>& ns)
{
    return BenchTiming::median(ns) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    const QString root = tmp.path();
    for (int a = 0; a < 10; ++a)
        for (int b = 0; b < 10; ++b) {
            const QString dir = QStringLiteral("%1/d%2/e%3").arg(root).arg(a).arg(b);
            QDir().mkpath(dir);
            for (int f = 0; f < 100; ++f) {
                QFile file(QStringLiteral("%1/f%2").arg(dir).arg(f));
                file.open(QIODevice::WriteOnly);
                file.write(QByteArray(f + 1, 'x'));
            }
        }
    std::vector<qint64> own, ref;
    qint64 a = 0, b = 0;
    for (int run = 0; run < 9; ++run) {
        QElapsedTimer t;
        t.start();
        b = plainWalk(QFile::encodeName(root));
        ref.push_back(t.nsecsElapsed());
        t.restart();
        a = SettingsDialog::dataSize(root, QString());
        own.push_back(t.nsecsElapsed());
    }
    const double r = median(ref), o = median(own);
    std::printf("10,000 files: size count %lld bytes, plain walk %lld bytes\n", a, b);
    std::printf("plain readdir + stat walk   median %8.2f ms\n", r);
    std::printf("settings page size count    median %8.2f ms   x%.2f of reference (target at most 2)\n", o, o / r);
    return a == b ? 0 : 1;
}
