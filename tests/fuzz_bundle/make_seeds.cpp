// Writes the seed corpus of the bundle fuzz target (run by hand; the output
// is committed): a small export of our own and damaged or hostile variants.
#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QUuid>
#include <cstdio>

#include "BundleFormat.h"
#include "BundleWorker.h"
#include "SafeWrite.h"

namespace {

QByteArray entry(const QByteArray& name, const QByteArray& content, bool compress)
{
    bool packed = false;
    const QByteArray payload = compress ? BundleFormat::payloadFor(QString::fromUtf8(name), content, &packed) : content;
    return BundleFormat::entryHead(name, content.size(), BundleFormat::crc32(content), packed, payload.size()) + payload;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_bundle_seeds <folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    auto put = [&](const char* name, const QByteArray& b) { safeWriteFile(out + "/" + name, b); };

    QTemporaryDir tmp;
    Session s;
    for (int t = 0; t < 2; ++t) {
        TabData tab;
        tab.name = t ? QStringLiteral("Beds") : QString();
        for (int b = 0; b < 2; ++b) {
            const QString path = tmp.filePath(QStringLiteral("s%1%2.%3").arg(t).arg(b).arg(b ? "mp3" : "wav"));
            safeWriteFile(path, QByteArray(200 + b, char('a' + t)));
            ButtonData bd;
            bd.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            bd.audioPath = path;
            tab.buttons << bd;
        }
        s.tabs << tab;
    }
    const QString vx = tmp.filePath("show.vx");
    safeWriteFile(vx, QJsonDocument(s.toJson()).toJson(QJsonDocument::Compact));
    const QString bundle = tmp.filePath("b.vxbundle");
    BundleWorker w;
    w.setupExport(vx, bundle, s);
    w.runExport();
    QFile f(bundle);
    f.open(QIODevice::ReadOnly);
    const QByteArray good = f.readAll();

    put("export", good);
    put("truncated_half", good.left(good.size() / 2));
    put("header_only", good.left(12));
    put("short_magic", good.left(6));
    put("empty", QByteArray());
    QByteArray v3 = good;
    v3[4] = 3;
    put("version3", v3);
    QByteArray crc = good;
    crc[crc.size() - 5] = char(crc.at(crc.size() - 5) ^ 0x55);
    put("bad_tail", crc);

    const QByteArray project = QJsonDocument(s.toJson()).toJson(QJsonDocument::Compact);
    const QByteArray manifest = R"({"projectFile":"p\\x.vx","tabSettings":[{"name":".."}],)"
                                R"("audioFiles":[{"bundlePath":"Audio/../x.wav","tabIndex":9,"tabName":"../.."}]})";
    put("hostile_names", BundleFormat::fileHeader(2, 4) + entry("project.vx", project, true)
                             + entry("Audio/../../x.wav", "evil", false) + entry("Audio/x/..", "dots", false)
                             + entry("manifest.json", manifest, false));
    QByteArray v1 = BundleFormat::fileHeader(1, 2);
    for (const auto& [n, c] : {std::pair<QByteArray, QByteArray>{"project.vx", project}, {"manifest.json", manifest}}) {
        QByteArray e = entry(n, c, false);
        e.remove(2 + n.size() + 12, 9);   // no flag, no stored size
        v1 += e;
    }
    put("version1", v1);
    put("huge_sizes", BundleFormat::fileHeader(2, 1)
                          + BundleFormat::entryHead("manifest.json", qint64(1) << 62, 0, true, qint64(1) << 62));
    std::printf("seeds written to %s\n", qPrintable(out));
    return 0;
}
