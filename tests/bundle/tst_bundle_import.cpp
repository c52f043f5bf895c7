// The import job and its rules: round trips through the export, hostile
// files from a small writer of the tests' own, cancel at every step, the MIDI
// group, and the pure rules of the dialogs and the merge.
#include <QJsonArray>
#include <QSignalSpy>
#include <QStorageInfo>
#include <QtTest>

#include <optional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "AppSettings.h"
#include "BundleImportRules.h"
#include "BundleManager.h"
#include "BundleTestUtil.h"
#include "BundleWorker.h"
#include "MidiManager.h"
#include "TestSupport.h"

using namespace BundleTest;

namespace {

// One entry as a hostile writer puts it; unset overrides take the true value.
struct Raw
{
    QByteArray name;
    QByteArray content;
    bool compress = false;
    std::optional<qint64> contentSize, storedSize;
    std::optional<quint32> crc;
    std::optional<int> flag;
    std::optional<QByteArray> payload;
};

QByteArray le(qint64 v, int bytes)
{
    QByteArray b(bytes, '\0');
    for (int i = 0; i < bytes; ++i)
        b[i] = char((quint64(v) >> (8 * i)) & 0xff);
    return b;
}

QByteArray writeRaw(const QList<Raw>& entries, qint64 version = 2, std::optional<qint64> count = {},
                    const QByteArray& magic = "ZEZO")
{
    QByteArray out = magic + le(version, 4) + le(count.value_or(entries.size()), 4);
    for (const Raw& r : entries) {
        const QByteArray payload = r.payload.value_or(r.compress ? qCompress(r.content, 6) : r.content);
        out += le(r.name.size(), 2) + r.name + le(r.contentSize.value_or(r.content.size()), 8);
        out += le(r.crc.value_or(quint32(::crc32(0, reinterpret_cast<const Bytef*>(r.content.constData()),
                                                 uInt(r.content.size())))),
                  4);
        if (version == 2 || version < 0 || version > 2) {
            out += char(r.flag.value_or(r.compress ? 1 : 0));
            out += le(r.storedSize.value_or(payload.size()), 8);
        }
        out += payload;
    }
    return out;
}

QByteArray projectJson(const QStringList& audioPaths)
{
    Session s;
    s.tabs << tab(QStringLiteral("T"), audioPaths);
    return QJsonDocument(s.toJson()).toJson();
}

QByteArray manifestJson(const QJsonArray& audioFiles, const QJsonArray& tabSettings = {{QJsonObject{{"name", "T"}}}})
{
    return QJsonDocument(QJsonObject{{"projectFile", "project.vx"}, {"tabSettings", tabSettings},
                                     {"audioFiles", audioFiles}})
        .toJson();
}

// A small sound bundle of one tab "T" with one file a.wav.
QList<Raw> goodEntries()
{
    return {Raw{"project.vx", projectJson({"/src/a.wav"}), true},
            Raw{"Audio/T/a.wav", QByteArray(3000, 'a'), true},
            Raw{"manifest.json",
                manifestJson({QJsonObject{{"originalPath", "/src/a.wav"}, {"originalName", "a.wav"},
                                          {"bundlePath", "Audio/T/a.wav"}, {"tabIndex", 0}, {"tabName", "T"}}}),
                false}};
}

// A compressed entry of size zero bytes, made a piece at a time: qCompress's
// big-endian length, then the zlib stream.
Raw zeros(const QByteArray& name, qint64 size)
{
    const QByteArray piece(1 << 20, '\0');
    QByteArray payload = QByteArray(4, '\0');
    qToBigEndian<quint32>(quint32(size), payload.data());
    z_stream z{};
    deflateInit(&z, 6);
    quint32 crc = 0;
    char out[1 << 16];
    for (qint64 left = size;;) {
        const qint64 n = qMin<qint64>(left, piece.size());
        crc = quint32(::crc32(crc, reinterpret_cast<const Bytef*>(piece.constData()), uInt(n)));
        left -= n;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.constData()));
        z.avail_in = uInt(n);
        int rc;
        do {
            z.next_out = reinterpret_cast<Bytef*>(out);
            z.avail_out = sizeof out;
            rc = deflate(&z, left == 0 ? Z_FINISH : Z_NO_FLUSH);
            payload.append(out, qsizetype(sizeof out - z.avail_out));
        } while (z.avail_out == 0);
        if (left == 0 && rc == Z_STREAM_END)
            break;
    }
    deflateEnd(&z);
    Raw r{name, QByteArray(), true};
    r.payload = payload;
    r.contentSize = size;
    r.crc = crc;
    r.flag = 1;
    return r;
}

qint64 addressSpace()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmSize:"))
            return line.mid(7).trimmed().split(' ').first().toLongLong() * 1024;
    return 0;
}

} // namespace

class TestBundleImport : public QObject
{
    Q_OBJECT
    QString m_dir;

    Run importFile(const QString& bundle, const QString& dest, bool merge, const QList<QString>& tabNames,
                   std::function<void(BundleWorker&, int)> onProgress = {})
    {
        BundleWorker w;
        w.setupImport(bundle, dest, tabNames, merge);
        if (!merge)
            w.setProjectName(QStringLiteral("Show"));
        return run(w, std::move(onProgress));
    }

    // Each file sits in the folder the confirmation shows for the first tab
    // that uses it (the tabs with audio are the preview's list), and no
    // folder is left empty.
    void checkFolders(const Session& exported, const QList<QString>& previewNames, const QString& dest,
                      const QList<TabData>& imported)
    {
        const QList<QString> shown = BundleImportRules::tabFolders(previewNames);
        QSet<QString> seen;
        int k = -1;
        for (int t = 0; t < exported.tabs.size(); ++t) {
            const TabData& tab = exported.tabs.at(t);
            if (std::none_of(tab.buttons.begin(), tab.buttons.end(), [](const ButtonData& b) { return !b.audioPath.isEmpty(); }))
                continue;
            ++k;
            QVERIFY(k < shown.size());
            for (int b = 0; b < tab.buttons.size(); ++b) {
                if (seen.contains(tab.buttons.at(b).audioPath))
                    continue;
                seen.insert(tab.buttons.at(b).audioPath);
                const auto same = std::find_if(imported.begin(), imported.end(),
                                               [&](const TabData& i) { return i.id == tab.id; });
                QVERIFY(same != imported.end() && same->buttons.size() == tab.buttons.size());
                const QString got = same->buttons.at(b).audioPath;
                QCOMPARE(QFileInfo(got).absolutePath(), QFileInfo(dest + "/Audio/" + shown.at(k)).absoluteFilePath());
            }
        }
        for (const QString& f : listing(dest)) {
            const QFileInfo fi(dest + QLatin1Char('/') + f);
            if (fi.isDir())
                QVERIFY2(!QDir(fi.filePath()).isEmpty(), qPrintable(f));
        }
    }

    QByteArray settingsBytes()
    {
        AppSettings s;
        s.sync();
        return readFile(s.fileName());
    }

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void init() { m_dir = TestSupport::tempDir(); }

    // Export, then import as a new session: every button points at a file
    // with its source's bytes, inside the destination.
    void roundTrip_data()
    {
        QTest::addColumn<QStringList>("tabNames");
        QTest::addColumn<bool>("perTabThird");
        QTest::addColumn<bool>("firstSilent");   // the first tab has no audio
        QTest::newRow("odd names") << QStringList{"", "Drums", "a:b", "..", "x\\y", "Ünïcödé ♪", "Drums", "a?b",
                                                  "a*b", " ", ".", "Tab 1", "c/d", "e|f", "g\"h", "<i>"}
                                   << false << false;
        QTest::newRow("per-tab of the third") << QStringList{"Empty", "One", "Three", "Four"} << true << false;
        QTest::newRow("first tab silent, unnamed tabs after")
            << QStringList{"Silent", "", "", "", "Named", ""} << false << true;
        QTest::newRow("unnamed tabs after a silent unnamed one") << QStringList{"", "", "", ""} << false << true;
        const QString snowmen = QString(100, QChar(0x2603));
        QTest::newRow("names of 1 to 400 bytes")
            << QStringList{"a", QString(200, 'b'), QString(240, 'c'), QString(241, 'c'), QString(255, 'd'),
                           QString(256, 'e'), QString(260, 'f'), QString(400, 'g'), snowmen,
                           QString(133, QChar(0x2603)) + "x", QString(240, 'c') + "z"}
            << false << false;
        QTest::newRow("path steps, dots and spaces")
            << QStringList{"..", ".", "...", " . ", ". .", "  ..  ", "....", " ", ". . ."} << false << false;
    }
    void roundTrip()
    {
        QFETCH(QStringList, tabNames);
        QFETCH(bool, perTabThird);
        QFETCH(bool, firstSilent);
        const QString src = m_dir + QStringLiteral("/src");
        const QStringList kinds{"wav", "mp3", "ogg", "flac", "", "wav"};
        Session s;
        for (int t = 0; t < tabNames.size(); ++t) {
            QStringList files;
            if (t > 0 || !(perTabThird || firstSilent)) {
                for (int k = 0; k < 3; ++k) {
                    const QString kind = kinds.at((t + k) % kinds.size());
                    const QString name = QStringLiteral("take%1").arg(k) + (kind.isEmpty() ? QString() : "." + kind);
                    const QString path = QStringLiteral("%1/%2/%3").arg(src).arg(t % 3).arg(name);
                    if (!QFile::exists(path))
                        writeFile(path, k == 2 ? QByteArray() : noise(2000 + t, quint32(t * 10 + k)));
                    files << path;
                }
            }
            s.tabs << tab(tabNames.at(t), files);
        }
        const QString vx = writeSession(s, m_dir + QStringLiteral("/show.vx"));
        Session copy = s;
        if (perTabThird)
            copy.tabs = {s.tabs.at(2)};
        const QString bundle = m_dir + QStringLiteral("/show.vxbundle");
        BundleWorker ex;
        ex.setupExport(vx, bundle, copy);
        QVERIFY(run(ex).ok);
        // Any extractor can take the entry names: no path steps, no name
        // longer than a file name.
        QString err;
        for (const Entry& e : readBundle(readFile(bundle), &err))
            for (const QString& step : QString::fromUtf8(e.name).split('/')) {
                QVERIFY2(step != "." && step != ".." && !step.isEmpty(), e.name.constData());
                QVERIFY2(step.toUtf8().size() <= 255, e.name.constData());
            }
        QVERIFY2(err.isEmpty(), qPrintable(err));

        const BundleManager::Preview preview = BundleManager::previewBundle(bundle);
        QCOMPARE(preview.displayName, QStringLiteral("project"));
        const QString dest = m_dir + QStringLiteral("/dest/Show");
        QSignalSpy ready(BundleManager::instance(), &BundleManager::importedProjectReady);
        const Run r = importFile(bundle, dest, false, preview.tabNames);
        QVERIFY2(r.ok && r.result, qPrintable(r.msg));
        QCOMPARE(r.finishedCount, 1);
        const QString project = dest + QStringLiteral("/Show.vx");
        QVERIFY(r.msg.startsWith(QStringLiteral("Bundle imported successfully!\n\nProject: ") + project + "\nAudio files: "));
        QCOMPARE(r.labels.last(), QStringLiteral("Import complete."));
        QVERIFY(ready.isEmpty());
        QTRY_COMPARE(ready.size(), 1);
        QCOMPARE(ready.first().first().toString(), project);

        const Session back = Session::fromJson(QJsonDocument::fromJson(readFile(project)).object());
        QCOMPARE(back.tabs.size(), s.tabs.size());
        const QString root = QDir(dest).canonicalPath() + QLatin1Char('/');
        int checked = 0;
        for (int t = 0; t < s.tabs.size(); ++t) {
            if (perTabThird && t != 2)
                continue;
            for (int b = 0; b < s.tabs[t].buttons.size(); ++b) {
                const QString got = back.tabs[t].buttons[b].audioPath;
                QVERIFY2(QFileInfo(got).canonicalFilePath().startsWith(root), qPrintable(got));
                QCOMPARE(readFile(got), readFile(s.tabs[t].buttons[b].audioPath));
                QCOMPARE(back.tabs[t].buttons[b].id, s.tabs[t].buttons[b].id);
                ++checked;
            }
        }
        QVERIFY(checked > 0);
        for (const QString& f : listing(m_dir + QStringLiteral("/dest")))
            QVERIFY2(f.startsWith(QLatin1String("Show")), qPrintable(f));
        checkFolders(copy, preview.tabNames, dest, back.tabs);

        // A merge puts the files where the confirmation shows them too.
        const QString mergeDest = m_dir + QStringLiteral("/merge/Show_imported");
        BundleWorker mw;
        mw.setupImport(bundle, mergeDest, preview.tabNames, true);
        QList<QByteArray> handed;
        connect(&mw, &BundleWorker::appendReady, this, [&](const QByteArray& b) { handed << b; });
        QVERIFY(run(mw).result);
        QCOMPARE(handed.size(), 1);
        QList<TabData> merged;
        for (const QJsonValue& v : QJsonDocument::fromJson(handed.first()).object().value("tabs").toArray())
            merged << TabData::fromJson(v.toObject());
        checkFolders(copy, preview.tabNames, mergeDest, merged);
    }

    void hostile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("message");   // %1: the entry name, "" for a success

        const QString trunc = QStringLiteral("Bundle is truncated or corrupt.");
        const QString mismatch = QStringLiteral("Bundle is truncated or corrupt (size mismatch).");
        const QString manifestBad = QStringLiteral("Bundle manifest missing or corrupt.");
        QList<Raw> e = goodEntries();
        QTest::newRow("sound") << writeRaw(e) << "";
        QTest::newRow("version 1") << [] {
            QList<Raw> v = goodEntries();
            for (Raw& r : v)
                r.compress = false;
            return writeRaw(v, 1);
        }() << "";
        QTest::newRow("version 0") << [] {
            QList<Raw> v = goodEntries();
            for (Raw& r : v)
                r.compress = false;
            return writeRaw(v, 0);
        }() << "";
        QTest::newRow("version 3") << writeRaw(e, 3) << "Bundle version 3 is newer than supported (2).";
        QTest::newRow("version -1") << writeRaw(e, -1) << "Bundle version 4294967295 is newer than supported (2).";
        QTest::newRow("wrong magic") << writeRaw(e, 2, {}, "ZIP!") << "Not a valid .vxbundle file.";
        for (int n = 0; n < 12; ++n)
            QTest::addRow("%d bytes", n) << writeRaw(e).left(n)
                                         << (n < 4 ? QStringLiteral("Not a valid .vxbundle file.") : trunc);
        QTest::newRow("zero entries") << writeRaw({}) << manifestBad;
        QTest::newRow("count beyond the entries") << writeRaw(e, 2, 4) << trunc;
        QTest::newRow("count 2^32-1") << writeRaw(e, 2, 0xffffffffLL) << trunc;
        auto with = [&](int i, auto change) {
            QList<Raw> v = goodEntries();
            change(v[i]);
            return writeRaw(v);
        };
        QTest::newRow("stored size past the end") << with(1, [](Raw& r) { r.storedSize = 1 << 30; }) << trunc;
        QTest::newRow("negative stored size") << with(1, [](Raw& r) { r.storedSize = -5; }) << trunc;
        QTest::newRow("stored size 2^62") << with(1, [](Raw& r) { r.storedSize = qint64(1) << 62; }) << trunc;
        QTest::newRow("negative content size") << with(1, [](Raw& r) { r.contentSize = -1; }) << trunc;
        QTest::newRow("content size 2^62, stored")
            << with(1, [](Raw& r) { r.compress = false; r.contentSize = qint64(1) << 62; }) << trunc;
        QTest::newRow("content size wrong, compressed") << with(1, [](Raw& r) { r.contentSize = 2999; }) << mismatch;
        QTest::newRow("prefix claims 4 GiB") << with(1, [](Raw& r) {
            QByteArray p = qCompress(r.content, 6);
            p[0] = char(0xff), p[1] = char(0xff), p[2] = char(0xff), p[3] = char(0xff);
            r.payload = p;
            r.contentSize = 0xffffffffLL;
        }) << mismatch;
        QTest::newRow("prefix beyond what deflate reaches") << with(1, [](Raw& r) {
            r.content = QByteArray(2000000, 'z');
            QByteArray p = qCompress(r.content, 6);
            r.payload = p.left(4) + p.mid(4, 20);
        }) << mismatch;
        QTest::newRow("not zlib") << with(1, [](Raw& r) {
            r.payload = le(3000, 4).mid(0, 4) + QByteArray(40, 'x');
            QByteArray p = *r.payload;
            p[0] = 0, p[1] = 0, p[2] = char(0x0b), p[3] = char(0xb8);
            r.payload = p;
        }) << "Decompression failed for 'Audio/T/a.wav'.";
        QTest::newRow("bad CRC") << with(1, [](Raw& r) { r.crc = 12345; }) << "CRC mismatch for 'Audio/T/a.wav'. Bundle may be corrupt.";
        QTest::newRow("flag 7 means stored") << with(1, [](Raw& r) { r.compress = false; r.flag = 7; }) << "";
        QTest::newRow("manifest not JSON") << with(2, [](Raw& r) { r.content = "{nope"; }) << manifestBad;
        QTest::newRow("manifest []") << with(2, [](Raw& r) { r.content = "[]"; }) << manifestBad;
        QTest::newRow("manifest {}") << with(2, [](Raw& r) { r.content = "{}"; }) << manifestBad;
        QTest::newRow("no project") << with(0, [](Raw& r) { r.name = "other.vx"; }) << "Project file not found inside bundle.";
        QTest::newRow("project null") << with(0, [](Raw& r) { r.content = "null"; }) << "Project file inside bundle is corrupt.";
        QTest::newRow("project not JSON") << with(0, [](Raw& r) { r.content = "{{"; }) << "Project file inside bundle is corrupt.";
        const QStringList evil{"Audio/../../evil.wav", "Audio//abs/evil.wav", "Audio/x/..", "Audio/x/",
                               "Audio/x/.", "Audio/..\\..\\evil.wav", QStringLiteral("Audio/x/ev\u0000il.wav"),
                               "Audio/", "Audio/x/../../../evil.wav", "/etc/evil.wav", "../evil.wav"};
        for (const QString& name : evil)
            QTest::addRow("entry named %s", qPrintable(QString(name).replace(QChar(0), "\\0")))
                << with(1, [&](Raw& r) { r.name = name.toUtf8(); }) << "";
        QTest::newRow("manifest items naming hostile folders") << with(2, [](Raw& r) {
            r.content = manifestJson({QJsonObject{{"bundlePath", "Audio/T/a.wav"}, {"tabIndex", -3},
                                                  {"tabName", "../../.."}}},
                                     {QJsonObject{{"name", ".."}}});
        }) << "";
        QTest::newRow("duplicate entries") << [] {
            QList<Raw> v = goodEntries();
            v.insert(2, v.at(1));
            Raw other = v.at(1);
            other.content = QByteArray(100, 'b');
            v.insert(3, other);
            return writeRaw(v);
        }() << "";
    }
    void hostile()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, message);
        const QString bundle = m_dir + QStringLiteral("/h.vxbundle");
        writeFile(bundle, file);
        const QString dest = m_dir + QStringLiteral("/box/dest");
        const QByteArray settingsBefore = settingsBytes();
        const Run r = importFile(bundle, dest, false, {QStringLiteral("T")});
        QCOMPARE(r.finishedCount, 1);
        QCOMPARE(r.msg.isEmpty() ? QString() : (r.ok ? QString() : r.msg), message);
        // Nothing outside the destination, ever; nothing at all when reading failed.
        for (const QString& f : listing(m_dir))
            QVERIFY2(f == "h.vxbundle" || f == "box" || f.startsWith("box/dest"), qPrintable(f));
        if (!r.ok) {
            QVERIFY(!QFile::exists(dest));
            QCOMPARE(settingsBytes(), settingsBefore);
        }
        BundleManager::previewBundle(bundle);   // never refuses, never crashes
    }

    // Every prefix of a sound bundle fails cleanly, with nothing made.
    void cutAtEveryOffset()
    {
        const QByteArray whole = writeRaw(goodEntries());
        const QString bundle = m_dir + QStringLiteral("/cut.vxbundle");
        for (int n = 0; n < whole.size(); ++n) {
            writeFile(bundle, whole.left(n));
            const QString dest = m_dir + QStringLiteral("/d");
            const Run r = importFile(bundle, dest, false, {QStringLiteral("T")});
            QVERIFY2(!r.ok && r.finishedCount == 1, qPrintable(QString::number(n)));
            QVERIFY2(r.msg.startsWith(n < 4 ? "Not a valid" : "Bundle is truncated or corrupt"), qPrintable(r.msg));
            QVERIFY(!QFile::exists(dest));
            BundleManager::previewBundle(bundle);
        }
    }

    // Hostile bundles imported in a child whose address space is capped at
    // 512 MiB: each ends in a clear failure or a success, never in the
    // child's death. Entries are checked and written a piece at a time.
    void memoryBound_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");   // "" for a success
        QTest::newRow("three 200 MiB entries of zeros") << "zeros3" << "";
        QTest::newRow("150 entries of 4 MiB zeros") << "many" << "";
        QTest::newRow("a 4 GiB claim from a small payload") << "claim"
                                                           << "Bundle is truncated or corrupt (size mismatch).";
        QTest::newRow("a manifest of 1 GiB zeros") << "manifest" << "Bundle manifest missing or corrupt.";
        QTest::newRow("entries claiming more than the free disk") << "disk" << "Not enough free disk space";
    }
    void memoryBound()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        const QString bundle = m_dir + QStringLiteral("/big.vxbundle");
        QList<Raw> v = goodEntries();
        qint64 expectedSize = 3000;   // of Audio/T/a.wav
        if (kind == "zeros3") {
            for (int i = 0; i < 3; ++i)
                v.insert(1, zeros(QStringLiteral("Audio/T/z%1.wav").arg(i).toUtf8(), 200 << 20));
            expectedSize = 200 << 20;
        } else if (kind == "many") {
            const Raw one = zeros("Audio/T/m.wav", 4 << 20);
            for (int i = 0; i < 150; ++i) {
                Raw r = one;
                r.name = QStringLiteral("Audio/T/m%1.wav").arg(i).toUtf8();
                v.insert(1, r);
            }
        } else if (kind == "claim") {
            Raw r = zeros("Audio/T/c.wav", 1 << 20);
            r.contentSize = 0xffffffffLL;
            qToBigEndian<quint32>(0xffffffffu, r.payload->data());
            v.insert(1, r);
        } else if (kind == "manifest") {
            v[2] = zeros("manifest.json", qint64(1) << 30);
        }
        writeFile(bundle, writeRaw(v));
        qint64 claim = 0;
        if (kind == "disk") {
            // A sparse stored entry: the file claims a terabyte and holds none.
            claim = qint64(1) << 40;
            if (QStorageInfo(m_dir).bytesAvailable() >= claim)
                QSKIP("more free disk than the claim");
            QByteArray head = writeRaw(v).left(12);
            qToLittleEndian<quint32>(4, head.data() + 8);
            Raw huge{"Audio/T/huge.wav", QByteArray(), false};
            huge.contentSize = claim;
            huge.storedSize = claim;
            huge.crc = 0;
            huge.payload = QByteArray();
            QFile f(bundle);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(head + writeRaw(v).mid(12) + writeRaw({huge}).mid(12));
            QVERIFY(f.resize(f.size() + claim));
        }

        const QString dest = m_dir + QStringLiteral("/big");
        const QString result = m_dir + QStringLiteral("/result");
        const qint64 cap = qint64(512) << 20;
        QVERIFY2(addressSpace() < cap / 2, "the test process alone is near the cap");
        const pid_t pid = fork();
        if (pid == 0) {
            const rlimit lim{rlim_t(cap), rlim_t(cap)};
            setrlimit(RLIMIT_AS, &lim);
            BundleWorker w;
            w.setupImport(bundle, dest, {QStringLiteral("T")}, false);
            w.setProjectName(QStringLiteral("Show"));
            QByteArray out;
            QObject::connect(&w, &BundleWorker::finished, [&](bool ok, const QString& msg) {
                out += (ok ? "ok\n" : "failed\n") + msg.toUtf8() + "\n";
            });
            w.runImport();
            QFile f(result);
            f.open(QIODevice::WriteOnly);
            f.write(out);
            f.close();
            _exit(0);
        }
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 0, qPrintable(QString::number(status)));
        const QList<QByteArray> lines = readFile(result).split('\n');
        QVERIFY(lines.size() >= 2);
        QCOMPARE(lines.count("ok") + lines.count("failed"), 1);
        if (message.isEmpty()) {
            QVERIFY2(lines.first() == "ok", lines.at(1).constData());
            QCOMPARE(QFileInfo(dest + "/Audio/T/a.wav").size(), qint64(3000));
            if (kind == "zeros3")   // no manifest item describes it: the audio folder
                QCOMPARE(QFileInfo(dest + "/Audio/z0.wav").size(), expectedSize);
        } else {
            QCOMPARE(lines.first(), QByteArray("failed"));
            QVERIFY2(QString::fromUtf8(lines.at(1)).startsWith(message), lines.at(1).constData());
            QVERIFY(!QFile::exists(dest));
        }
        QDir(dest).removeRecursively();
        QFile::remove(bundle);
    }

    void cancelAtEachStep()
    {
        const QByteArray whole = writeRaw(goodEntries());
        const QString bundle = m_dir + QStringLiteral("/c.vxbundle");
        writeFile(bundle, whole);
        {
            AppSettings s;
            s.setValue(QStringLiteral("midi/device"), QStringLiteral("Mine"));
            s.setValue(QStringLiteral("midi/count"), 0);
        }
        const QByteArray settingsBefore = settingsBytes();
        for (int step = 0; step < 6; ++step) {
            const QString dest = m_dir + QStringLiteral("/c%1").arg(step);
            int seen = 0;
            const Run r = importFile(bundle, dest, false, {QStringLiteral("T")}, [&](BundleWorker& w, int) {
                if (++seen == step)
                    w.cancel();
            });
            if (step == 0 || step > 4)
                continue;
            QCOMPARE(r.msg, QStringLiteral("Cancelled"));
            QCOMPARE(r.finishedCount, 1);
            QVERIFY(!QFile::exists(dest + QStringLiteral("/Show.vx")));
            QCOMPARE(settingsBytes(), settingsBefore);
        }
    }

    void midiGroup_data()
    {
        QTest::addColumn<bool>("merge");
        QTest::addColumn<QJsonValue>("midi");
        QTest::addColumn<QString>("device");   // after the import
        QTest::addColumn<int>("count");
        QTest::newRow("new session with mappings")
            << false << QJsonValue(QJsonObject{{"device", "Pad"}, {"mappings", QJsonArray{QJsonObject{
                                                  {"btn", "b"}, {"ctrl", ""}, {"ch", 2}, {"note", 40}, {"cc", true}}}}})
            << "Pad" << 1;
        QTest::newRow("new session, no mappings") << false << QJsonValue(QJsonObject{{"device", "Pad"}}) << "Pad" << 0;
        QTest::newRow("new session, no midi") << false << QJsonValue() << "Mine" << 3;
        QTest::newRow("merge leaves it alone")
            << true << QJsonValue(QJsonObject{{"device", "Pad"}, {"mappings", QJsonArray{}}}) << "Mine" << 3;
    }
    void midiGroup()
    {
        QFETCH(bool, merge);
        QFETCH(QJsonValue, midi);
        QFETCH(QString, device);
        QFETCH(int, count);
        {
            AppSettings s;
            s.remove(QStringLiteral("midi"));
            s.setValue(QStringLiteral("midi/device"), QStringLiteral("Mine"));
            s.setValue(QStringLiteral("midi/count"), 3);
            s.setValue(QStringLiteral("midi/0_note"), 5);
        }
        QList<Raw> v = goodEntries();
        QJsonObject m = QJsonDocument::fromJson(v[2].content).object();
        if (!midi.isUndefined())
            m["midi"] = midi;
        v[2].content = QJsonDocument(m).toJson();
        const QString bundle = m_dir + QStringLiteral("/m.vxbundle");
        writeFile(bundle, writeRaw(v));
        QSignalSpy append(nullptr, nullptr);
        BundleWorker w;
        w.setupImport(bundle, m_dir + QStringLiteral("/d"), {QStringLiteral("T")}, merge);
        QList<QByteArray> handed;
        connect(&w, &BundleWorker::appendReady, this, [&](const QByteArray& b) { handed << b; });
        bool projectReady = false;
        QByteArray handedMidi;
        const auto ready = connect(BundleManager::instance(), &BundleManager::importedProjectReady, this, [&] {
            handedMidi = BundleManager::instance()->takeImportedMidi();
            projectReady = true;
        });
        const Run r = run(w);
        QVERIFY(r.result);
        QCOMPARE(r.finishedCount, merge ? 0 : 1);
        QCOMPARE(handed.size(), merge ? 1 : 0);
        QCOMPARE(r.labels.contains(QStringLiteral("MIDI mappings restored…")), !merge && midi.isObject());
        // The worker leaves the user's table alone: the bundle's goes with the
        // project, for the window to take in once the user opens it.
        QCOMPARE(AppSettings().value(QStringLiteral("midi/device")).toString(), QStringLiteral("Mine"));
        QCOMPARE(AppSettings().value(QStringLiteral("midi/count")).toInt(), 3);
        if (!merge)
            QTRY_VERIFY(projectReady);
        disconnect(ready);
        QCOMPARE(handedMidi.isEmpty(), merge || !midi.isObject());
        if (!handedMidi.isEmpty())
            MidiManager::writeBundleConfig(QJsonDocument::fromJson(handedMidi).object());
        AppSettings s;
        QCOMPARE(s.value(QStringLiteral("midi/device")).toString(), device);
        QCOMPARE(s.value(QStringLiteral("midi/count")).toInt(), count);
        if (device == "Pad" && count == 1) {
            QCOMPARE(s.value("midi/0_btn").toString(), QStringLiteral("b"));
            QCOMPARE(s.value("midi/0_ch").toInt(), 2);
            QCOMPARE(s.value("midi/0_note").toInt(), 40);
            QCOMPARE(s.value("midi/0_cc").toBool(), true);
            QVERIFY(!s.contains("midi/1_note"));
        }
        if (merge) {
            QVERIFY(!QFile::exists(m_dir + QStringLiteral("/d/Show.vx")));
            const QJsonObject p = QJsonDocument::fromJson(handed.first()).object();
            QVERIFY(!p.contains("filePath"));
            const QString path = p["tabs"][0]["buttons"][0]["audioPath"].toString();
            QCOMPARE(readFile(path), QByteArray(3000, 'a'));
        }
    }

    // Same name in one folder: equal content is reused, other content counted.
    void reuseAndCounterNames()
    {
        QList<Raw> v = goodEntries();
        Raw same = v.at(1);
        Raw other = v.at(1);
        other.content = QByteArray(10, 'o');
        Raw third = other;
        third.content = QByteArray(11, 't');
        Raw loose{"Audio/loose.wav", "L"};
        v.insert(2, same);
        v.insert(3, other);
        v.insert(4, third);
        v.insert(5, loose);
        const QString bundle = m_dir + QStringLiteral("/r.vxbundle");
        writeFile(bundle, writeRaw(v));
        const QString dest = m_dir + QStringLiteral("/d");
        const Run r = importFile(bundle, dest, false, {QStringLiteral("T")});
        QVERIFY2(r.ok, qPrintable(r.msg));
        QVERIFY(r.labels.contains(QStringLiteral("Reusing: a.wav")));
        QCOMPARE(readFile(dest + "/Audio/T/a.wav"), QByteArray(3000, 'a'));
        QCOMPARE(readFile(dest + "/Audio/T/a (1).wav"), QByteArray(10, 'o'));
        QCOMPARE(readFile(dest + "/Audio/T/a (2).wav"), QByteArray(11, 't'));
        QCOMPARE(readFile(dest + "/Audio/loose.wav"), QByteArray("L"));
    }

    // Bundles written by other tools: two entries of one name, and manifests
    // listing sounds the bundle does not hold. Each button ends on the file
    // of its own entry; the ones left without a sound are counted and named.
    void bundlesMadeElsewhere_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("contents");   // per button: what its file holds, "-" for a kept path
        QTest::addColumn<int>("missing");
        QTest::addColumn<QStringList>("missingButtons");
        QTest::addColumn<QString>("audioFiles");
        auto item = [](const QString& original, const QString& inBundle) {
            return QJsonObject{{"originalPath", original}, {"originalName", BundleImportRules::fileNamePart(original)},
                               {"bundlePath", inBundle}, {"tabIndex", 0}, {"tabName", "T"}};
        };
        const QByteArray two = projectJson({"/a/take.wav", "/b/take.wav"});
        const QByteArray manifestTwo =
            manifestJson({item("/a/take.wav", "Audio/T/take.wav"), item("/b/take.wav", "Audio/T/take.wav")});
        QTest::newRow("one name, two contents")
            << writeRaw({Raw{"project.vx", two, true}, Raw{"Audio/T/take.wav", "first", true},
                         Raw{"Audio/T/take.wav", "second", false}, Raw{"manifest.json", manifestTwo}})
            << QStringList{"first", "second"} << 0 << QStringList() << "2";
        QTest::newRow("one name, one content")
            << writeRaw({Raw{"project.vx", two}, Raw{"Audio/T/take.wav", "same"}, Raw{"Audio/T/take.wav", "same"},
                         Raw{"manifest.json", manifestTwo}})
            << QStringList{"same", "same"} << 0 << QStringList() << "1";
        QTest::newRow("one name, three contents, two items")
            << writeRaw({Raw{"project.vx", two}, Raw{"Audio/T/take.wav", "1"}, Raw{"Audio/T/take.wav", "2"},
                         Raw{"Audio/T/take.wav", "3"}, Raw{"manifest.json", manifestTwo}})
            << QStringList{"1", "2"} << 0 << QStringList() << "3";
        const QByteArray three = projectJson({"/src/a.wav", "/src/b.wav", "/src/b.wav"});
        const QByteArray manifestAB =
            manifestJson({item("/src/a.wav", "Audio/T/a.wav"), item("/src/b.wav", "Audio/T/b.wav")});
        QTest::newRow("one sound missing, on two buttons")
            << writeRaw({Raw{"project.vx", three}, Raw{"Audio/T/a.wav", "A"}, Raw{"manifest.json", manifestAB}})
            << QStringList{"A", "-", "-"} << 1
            << QStringList{"T / button 2: /src/b.wav", "T / button 3: /src/b.wav"} << "1";
        QTest::newRow("no audio at all")
            << writeRaw({Raw{"project.vx", three}, Raw{"manifest.json", manifestAB}}) << QStringList{"-", "-", "-"}
            << 2
            << QStringList{"T / button 1: /src/a.wav", "T / button 2: /src/b.wav", "T / button 3: /src/b.wav"} << "0";
    }
    void bundlesMadeElsewhere()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, contents);
        QFETCH(int, missing);
        QFETCH(QStringList, missingButtons);
        QFETCH(QString, audioFiles);
        const QString bundle = m_dir + QStringLiteral("/e.vxbundle");
        writeFile(bundle, file);
        for (bool merge : {false, true}) {
            const QString dest = m_dir + (merge ? QStringLiteral("/merged") : QStringLiteral("/new"));
            BundleWorker w;
            w.setupImport(bundle, dest, {QStringLiteral("T")}, merge);
            if (!merge)
                w.setProjectName(QStringLiteral("Show"));
            QSignalSpy lacking(&w, &BundleWorker::soundsMissing);
            QSignalSpy handed(&w, &BundleWorker::appendReady);
            const Run r = run(w);
            QVERIFY(r.result);
            QByteArray json = merge ? handed.value(0).value(0).toByteArray() : readFile(dest + "/Show.vx");
            const Session s = Session::fromJson(QJsonDocument::fromJson(json).object());
            QCOMPARE(s.tabs.size(), 1);
            QCOMPARE(s.tabs[0].buttons.size(), contents.size());
            for (int b = 0; b < contents.size(); ++b) {
                const QString path = s.tabs[0].buttons[b].audioPath;
                if (contents[b] == "-") {
                    QVERIFY2(!path.startsWith(dest), qPrintable(path));
                } else {
                    QVERIFY2(path.startsWith(dest + "/Audio/T/"), qPrintable(path));
                    QCOMPARE(readFile(path), contents[b].toUtf8());
                }
            }
            QCOMPARE(lacking.size(), missing ? 1 : 0);
            if (missing) {
                QCOMPARE(lacking[0][0].toInt(), missing);
                QCOMPARE(lacking[0][1].toStringList(), missingButtons);
            }
            if (!merge) {
                QVERIFY2(r.msg.contains("\nAudio files: " + audioFiles), qPrintable(r.msg));
                QCOMPARE(r.msg.startsWith("Bundle imported successfully!"), missing == 0);
                QCOMPARE(r.msg.contains(QStringLiteral("Sounds not in the bundle: %1").arg(missing)), missing > 0);
            }
        }
    }

    void folderRules_data()
    {
        QTest::addColumn<QStringList>("tabNames");
        QTest::addColumn<QStringList>("folders");   // shown by the confirmation
        QTest::addColumn<QStringList>("made");      // only those that receive a file
        QTest::newRow("repeated, cleaned, unnamed")
            << QStringList{"Jingles", "Jingles", "a:b", "", "..", ".", "x\\..", "   "}
            << QStringList{"Jingles", "Jingles (1)", "a_b", "Tab 4", "Tab", "Tab (1)", "x_..", "Tab (2)"}
            << QStringList{"T"};   // the file's item names a tab "T" that the list lacks: the name decides
        QTest::newRow("the file's tab in the list") << QStringList{"A", "T", "T"}
                                                    << QStringList{"A", "T", "T (1)"} << QStringList{"T"};
        QTest::newRow("long names cut, kept apart")
            << QStringList{QString(300, 'a'), QString(300, 'a') + "b", "T"}
            << QStringList{QString(240, 'a'), QString(240, 'a') + " (1)", "T"} << QStringList{"T"};
    }
    void folderRules()
    {
        QFETCH(QStringList, tabNames);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, made);
        QCOMPARE(QStringList(BundleImportRules::tabFolders(tabNames)), folders);
        const QString bundle = m_dir + QStringLiteral("/f.vxbundle");
        writeFile(bundle, writeRaw(goodEntries()));
        const QString dest = m_dir + QStringLiteral("/d");
        QVERIFY(importFile(bundle, dest, false, tabNames).ok);
        QCOMPARE(QDir(dest + "/Audio").entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name), made);
    }

    void uniqueNameGivesUp()
    {
        const QString d = m_dir + QStringLiteral("/u");
        QDir().mkpath(d);
        QCOMPARE(BundleWorker::uniqueName(d, "x", ".wav"), d + "/x.wav");
        writeFile(d + "/x.wav", "1");
        QCOMPARE(BundleWorker::uniqueName(d, "x", ".wav"), d + "/x (1).wav");
        for (int n = 1; n <= 9999; ++n)
            QFile(QStringLiteral("%1/x (%2).wav").arg(d).arg(n)).open(QIODevice::WriteOnly);
        QCOMPARE(BundleWorker::uniqueName(d, "x", ".wav"), QString());
    }

    void rules_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("project a/b?") << "project" << "a/b?" << "a_b_";
        QTest::newRow("project blank") << "project" << "   " << "Session";
        QTest::newRow("project only bad chars") << "project" << "::" << "__";
        QTest::newRow("project ..") << "project" << ".." << "Session";
        QTest::newRow("file part backslash") << "part" << "Audio\\x\\y.wav" << "y.wav";
        QTest::newRow("file part slash") << "part" << "Audio/x/" << "";
        QTest::newRow("file part NUL") << "part" << QStringLiteral("a\u0000b") << "a_b";
        QTest::newRow("contains 80") << "contains" << QString(80, 'x') << "Contains 1 tab(s): " + QString(80, 'x');
        QTest::newRow("contains 81") << "contains" << QString(81, 'x')
                                     << "Contains 1 tab(s): " + QString(77, 'x') + QStringLiteral("…");
    }
    void rules()
    {
        QFETCH(QString, rule);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        using namespace BundleImportRules;
        const QString got = rule == "project" ? cleanProjectName(input)
                          : rule == "part"    ? fileNamePart(input)
                                              : containsLine({input});
        QCOMPARE(got, expected);
    }

    void freeFolderAndTree()
    {
        using namespace BundleImportRules;
        QDir().mkpath(m_dir + "/Show_imported");
        QDir().mkpath(m_dir + "/Show_imported (1)");
        QCOMPARE(freeFolder(m_dir, "Show_imported"), m_dir + "/Show_imported (2)");
        QCOMPARE(freeFolder(m_dir, "Other"), m_dir + "/Other");
        QCOMPARE(treeText("/d/S", "S", tabFolders({"A", "", "b:c"})),
                 QStringLiteral("/d/S/\n  ├─ S.vx\n  └─ Audio/\n       ├─ A/\n       ├─ Tab 2/\n       └─ b_c/\n"));
        QCOMPARE(treeText("/d/S", QString(), {"A"}), QStringLiteral("/d/S/\n  └─ Audio/\n       └─ A/\n"));
    }

    void pickMergeTabs_data()
    {
        QTest::addColumn<QStringList>("project");
        QTest::addColumn<QList<int>>("indices");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QStringList>("picked");
        QTest::newRow("lists agree") << QStringList{"A", "B", "C", "D"} << QList<int>{1, 3} << QStringList{"B", "D"}
                                     << QStringList{"B", "D"};
        QTest::newRow("project has a tab without audio first")
            << QStringList{"Empty", "One", "Two"} << QList<int>{0} << QStringList{"One"} << QStringList{"One"};
        QTest::newRow("repeated names take the next unused")
            << QStringList{"J", "X", "J"} << QList<int>{0, 1} << QStringList{"J", "J"} << QStringList{"J", "J"};
        QTest::newRow("no name matches: position") << QStringList{"A", "B"} << QList<int>{1} << QStringList{"Z"}
                                                   << QStringList{"B"};
        QTest::newRow("position out of range skipped") << QStringList{"A"} << QList<int>{5} << QStringList{"Z"}
                                                       << QStringList{};
        QTest::newRow("nothing ticked: all") << QStringList{"A", "B"} << QList<int>{} << QStringList{}
                                             << QStringList{"A", "B"};
    }
    void pickMergeTabs()
    {
        QFETCH(QStringList, project);
        QFETCH(QList<int>, indices);
        QFETCH(QStringList, names);
        QFETCH(QStringList, picked);
        QList<TabData> tabs;
        for (const QString& n : project)
            tabs << tab(n, {});
        QStringList got;
        for (const TabData& t : BundleManager::pickMergeTabs(tabs, indices, names))
            got << t.name;
        QCOMPARE(got, picked);
    }
};

QTEST_MAIN(TestBundleImport)
#include "tst_bundle_import.moc"
