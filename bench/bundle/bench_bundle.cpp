// Bundle export throughput, next to references measured in the same run on
// the same bytes with a warm cache:
//  1. audio in already-compressed formats (stored, no zlib) against a plain
//     read-and-write copy of the same files into the same folder;
//  2. WAV audio (compressed entry by entry) against qCompress alone.
// BENCH_BUNDLE_MB sets the amount of audio (default 1024); BENCH_BUNDLE_DIR
// the folder to work in (default the temporary folder).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUuid>
#include <cmath>
#include <cstdio>
#include <unistd.h>

#include "BundleFormat.h"
#include "BundleManager.h"
#include "BundleWorker.h"
#include "SafeWrite.h"

namespace {

constexpr qint64 kFileBytes = 16 << 20;

QByteArray noise(qint64 size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    return b;
}

// 16-bit stereo: a few tones with a little noise, as recorded audio is.
QByteArray pcm(qint64 size, quint32 seed)
{
    QByteArray b(size, Qt::Uninitialized);
    auto* s = reinterpret_cast<qint16*>(b.data());
    QRandomGenerator gen(seed);
    const double f = 110.0 * (1 + seed % 7);
    for (qint64 i = 0; i < size / 2; ++i) {
        const double t = double(i / 2) / 44100.0;
        const double v = 0.4 * std::sin(2 * M_PI * f * t) + 0.2 * std::sin(2 * M_PI * f * 1.5 * t);
        s[i] = qint16(v * 30000 + int(gen.bounded(64)) - 32);
    }
    return b;
}

QStringList makeFiles(const QString& dir, int count, const char* suffix, bool audio)
{
    QStringList out;
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i) {
        const QString p = QStringLiteral("%1/f%2.%3").arg(dir).arg(i).arg(QLatin1String(suffix));
        safeWriteFile(p, audio ? pcm(kFileBytes, i + 1) : noise(kFileBytes, i + 1));
        out << p;
    }
    return out;
}

void warm(const QStringList& files)
{
    for (const QString& f : files) {
        QFile in(f);
        in.open(QIODevice::ReadOnly);
        in.readAll();
    }
}

double plainCopy(const QStringList& files, const QString& dir, bool durable = false)
{
    QDir().mkpath(dir);
    QByteArray buf(4 << 20, Qt::Uninitialized);
    QElapsedTimer t;
    t.start();
    for (const QString& f : files) {
        QFile in(f), out(dir + QLatin1Char('/') + QFileInfo(f).fileName());
        in.open(QIODevice::ReadOnly);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        qint64 n;
        while ((n = in.read(buf.data(), buf.size())) > 0)
            out.write(buf.constData(), n);
        if (durable) {
            out.flush();
            ::fsync(out.handle());
        }
    }
    return t.nsecsElapsed() / 1e9;
}

double exportOf(const QStringList& files, const QString& dir, const QString& target, bool keep = false)
{
    Session s;
    TabData tab;
    tab.name = QStringLiteral("Bench");
    for (const QString& f : files) {
        ButtonData b;
        b.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        b.audioPath = f;
        tab.buttons << b;
    }
    s.tabs << tab;
    const QString vx = dir + QStringLiteral("/bench.vx");
    safeWriteFile(vx, "{}");
    BundleWorker w;
    w.setupExport(vx, target, s);
    QElapsedTimer t;
    t.start();
    if (!w.runExport())
        std::fprintf(stderr, "export failed\n");
    const double secs = t.nsecsElapsed() / 1e9;
    if (!keep)
        QFile::remove(target);
    return secs;
}

// Reference for the import: walk the entries and write each payload to a
// file, with no checks at all.
double plainExtract(const QString& bundle, const QString& dir)
{
    QDir().mkpath(dir);
    QElapsedTimer t;
    t.start();
    QFile f(bundle);
    f.open(QIODevice::ReadOnly);
    BundleFormat::Reader reader(&f);
    BundleFormat::Header h;
    reader.readHeader(&h);
    BundleFormat::EntryInfo e;
    int n = 0;
    while (reader.readEntryInfo(h, &e) == BundleFormat::Reader::Status::Ok) {
        QByteArray payload;
        reader.readPayload(e, &payload);
        QFile out(QStringLiteral("%1/%2").arg(dir).arg(n++));
        out.open(QIODevice::WriteOnly);
        out.write(payload);
    }
    return t.nsecsElapsed() / 1e9;
}

double importOf(const QString& bundle, const QString& dest)
{
    BundleWorker w;
    w.setupImport(bundle, dest, {QStringLiteral("Bench")}, true);
    QElapsedTimer t;
    t.start();
    if (!w.runImport())
        std::fprintf(stderr, "import failed\n");
    return t.nsecsElapsed() / 1e9;
}

double previewOf(const QString& bundle, int times)
{
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < times; ++i)
        BundleManager::previewBundle(bundle);
    return t.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int mb = qEnvironmentVariableIsSet("BENCH_BUNDLE_MB") ? qEnvironmentVariableIntValue("BENCH_BUNDLE_MB") : 1024;
    const int count = qMax(1, int((qint64(mb) << 20) / kFileBytes));
    const double gb = double(count) * kFileBytes / 1e9;
    const QString base = qEnvironmentVariable("BENCH_BUNDLE_DIR", QDir::tempPath());
    QTemporaryDir root(base + QStringLiteral("/bench_bundle-XXXXXX"));
    const QString dir = root.path();

    std::printf("%d files of %lld MiB (%.2f GB) in %s\n", count, kFileBytes >> 20, gb, qPrintable(dir));
    const QStringList mp3 = makeFiles(dir + QStringLiteral("/mp3"), count, "mp3", false);
    // Alternating rounds, best of each: the machine's other work and the
    // write-back of earlier rounds weigh on both sides alike.
    double copySecs = 1e30, exportSecs = 1e30, syncedSecs = 1e30;
    for (int round = 0; round < 3; ++round) {
        ::sync();
        warm(mp3);
        copySecs = qMin(copySecs, plainCopy(mp3, dir + QStringLiteral("/copy")));
        QDir(dir + QStringLiteral("/copy")).removeRecursively();
        ::sync();
        warm(mp3);
        syncedSecs = qMin(syncedSecs, plainCopy(mp3, dir + QStringLiteral("/copy"), true));
        QDir(dir + QStringLiteral("/copy")).removeRecursively();
        ::sync();
        warm(mp3);
        exportSecs = qMin(exportSecs, exportOf(mp3, dir, dir + QStringLiteral("/mp3.vxbundle")));
    }
    // The import of that bundle against a plain extraction of its entries,
    // and its preview against a bundle of the same entries 1000 times smaller.
    const QString big = dir + QStringLiteral("/mp3.vxbundle");
    exportOf(mp3, dir, big, true);
    double extractSecs = 1e30, importSecs = 1e30;
    for (int round = 0; round < 3; ++round) {
        ::sync();
        warm({big});
        extractSecs = qMin(extractSecs, plainExtract(big, dir + QStringLiteral("/plain")));
        QDir(dir + QStringLiteral("/plain")).removeRecursively();
        ::sync();
        warm({big});
        importSecs = qMin(importSecs, importOf(big, dir + QStringLiteral("/imported")));
        QDir(dir + QStringLiteral("/imported")).removeRecursively();
    }
    QStringList small;
    QDir().mkpath(dir + QStringLiteral("/small"));
    for (const QString& f : mp3) {
        const QString p = dir + QStringLiteral("/small/") + QFileInfo(f).fileName();
        safeWriteFile(p, noise(kFileBytes / 1000, 9));
        small << p;
    }
    const QString tiny = dir + QStringLiteral("/small.vxbundle");
    exportOf(small, dir, tiny, true);
    warm({big, tiny});
    const double previewBig = previewOf(big, 200), previewTiny = previewOf(tiny, 200);

    std::printf("stored audio: plain copy %.0f MB/s, export %.0f MB/s  -> x%.2f of the copy (target >= 0.80)\n",
                gb * 1000 / copySecs, gb * 1000 / exportSecs, copySecs / exportSecs);
    std::printf("  (the bundle is synced to disk before it replaces the target; a copy synced file by file: "
                "%.0f MB/s, export x%.2f of it)\n",
                gb * 1000 / syncedSecs, syncedSecs / exportSecs);
    std::printf("import: plain extraction %.0f MB/s, import %.0f MB/s  -> x%.2f of the extraction (target >= 0.80)\n",
                gb * 1000 / extractSecs, gb * 1000 / importSecs, extractSecs / importSecs);
    std::printf("preview: %.3f ms per call against %.3f ms for payloads 1000 times smaller  -> x%.2f (target <= 1.5)\n",
                previewBig * 1000 / 200, previewTiny * 1000 / 200, previewBig / previewTiny);
    QFile::remove(big);
    for (const QString& f : mp3)
        QFile::remove(f);

    const QStringList wav = makeFiles(dir + QStringLiteral("/wav"), count, "wav", true);
    warm(wav);
    QElapsedTimer t;
    t.start();
    qint64 packed = 0;
    for (const QString& f : wav) {
        QFile in(f);
        in.open(QIODevice::ReadOnly);
        packed += qCompress(in.readAll(), 6).size();
    }
    const double zlibSecs = t.nsecsElapsed() / 1e9;
    warm(wav);
    const double wavSecs = exportOf(wav, dir, dir + QStringLiteral("/wav.vxbundle"));
    std::printf("WAV audio: qCompress alone %.0f MB/s (to %.0f%%), export %.0f MB/s  -> x%.2f of qCompress alone\n",
                gb * 1000 / zlibSecs, 100.0 * double(packed) / (gb * 1e9), gb * 1000 / wavSecs, zlibSecs / wavSecs);
    return 0;
}
