// The export job: the bytes of the file it writes (read back by the tests'
// own reader), the naming of the audio entries, the compression choice, the
// manifest, and what a failure or a cancel leaves behind.
#include <QJsonArray>
#include <QRegularExpression>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include "AppSettings.h"
#include "BundleTestUtil.h"
#include "BundleWorker.h"
#include "TestSupport.h"

using namespace BundleTest;



namespace {

// A session from a compact description: one "name|a.wav;b/c.wav" per tab,
// paths relative to dir; a path starting with "!" is used by a button but
// never made on disk.
Session sessionFrom(const QStringList& tabs, const QString& dir)
{
    Session s;
    for (const QString& spec : tabs) {
        const QString name = spec.section(QLatin1Char('|'), 0, 0);
        QStringList paths;
        for (const QString& rel : spec.section(QLatin1Char('|'), 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const bool missing = rel.startsWith(QLatin1Char('!'));
            const QString path = dir + QLatin1Char('/') + (missing ? rel.mid(1) : rel);
            if (!missing && !QFileInfo::exists(path))
                writeFile(path, rel.toUtf8() + noise(300, quint32(qHash(rel))));
            paths << path;
        }
        s.tabs << tab(name, paths);
    }
    return s;
}

} // namespace

class TestBundleExport : public QObject
{
    Q_OBJECT

    QString m_dir;

    Run exportSession(const Session& s, const QString& target, QString* project = nullptr,
                      std::function<void(BundleWorker&, int)> onProgress = {})
    {
        const QString vx = writeSession(s, m_dir + QStringLiteral("/show.vx"));
        if (project)
            *project = vx;
        BundleWorker w;
        w.setupExport(vx, target, s);
        return run(w, std::move(onProgress));
    }

private slots:
    void initTestCase() { TestSupport::isolateSettings(); }
    void init()
    {
        m_dir = TestSupport::tempDir();
        AppSettings().remove(QStringLiteral("midi"));
    }

    void layout_data()
    {
        QTest::addColumn<QStringList>("tabs");
        QTest::addColumn<QStringList>("audio");        // entry names in file order
        QTest::addColumn<QStringList>("tabSettings");  // names in the manifest
        QTest::addColumn<QList<int>>("tabIndex");      // per audio entry

        QTest::newRow("same name from two folders")
            << QStringList{"Intro|a/x.wav;b/x.wav"} << QStringList{"Audio/Intro/x.wav", "Audio/Intro/x_2.wav"}
            << QStringList{"Intro"} << QList<int>{0, 0};
        QTest::newRow("folder names cleaned")
            << QStringList{" a:b |1.wav", "???|2.wav", "   |3.wav", "One|4.wav", "|5.wav"}
            << QStringList{"Audio/a_b/1.wav", "Audio/___/2.wav", "Audio/Tab/3.wav", "Audio/One/4.wav",
                           "Audio/Tab 5/5.wav"}
            << QStringList{" a:b ", "???", "   ", "One", ""} << QList<int>{0, 1, 2, 3, 4};
        QTest::newRow("one file on two tabs, packed under the first")
            << QStringList{"A|s.wav", "B|s.wav;t.wav"} << QStringList{"Audio/A/s.wav", "Audio/B/t.wav"}
            << QStringList{"A", "B"} << QList<int>{0, 1};
        QTest::newRow("clash names never collide with real names")
            << QStringList{"T|p/a.wav;q/a.wav;a_2.wav;r/a.wav"}
            << QStringList{"Audio/T/a.wav", "Audio/T/a_2.wav", "Audio/T/a_2_2.wav", "Audio/T/a_3.wav"}
            << QStringList{"T"} << QList<int>{0, 0, 0, 0};
        QTest::newRow("a real name taken before a clash")
            << QStringList{"T|a_2.wav;p/a.wav;q/a.wav"}
            << QStringList{"Audio/T/a_2.wav", "Audio/T/a.wav", "Audio/T/a_3.wav"} << QStringList{"T"}
            << QList<int>{0, 0, 0};
        QTest::newRow("tabs sharing a folder")
            << QStringList{"A:|x.wav", "A/|y/x.wav"} << QStringList{"Audio/A_/x.wav", "Audio/A_/x_2.wav"}
            << QStringList{"A:", "A/"} << QList<int>{0, 1};
        QTest::newRow("tabs without existing audio are left out but counted")
            << QStringList{"Empty|", "Gone|!gone.wav", "|k.wav"} << QStringList{"Audio/Tab 3/k.wav"}
            << QStringList{""} << QList<int>{2};
        QTest::newRow("missing files skipped, the rest packed")
            << QStringList{"M|!m1.wav;m2.wav;!m3.wav"} << QStringList{"Audio/M/m2.wav"} << QStringList{"M"}
            << QList<int>{0};
        const QString longName = QString(246, QLatin1Char('n')) + QStringLiteral(".wav");
        QTest::newRow("non-ASCII and long names")
            << QStringList{QStringLiteral("Jingles äöü ♪|é/ß.wav;") + longName}
            << QStringList{QStringLiteral("Audio/Jingles äöü ♪/ß.wav"), QStringLiteral("Audio/Jingles äöü ♪/") + longName}
            << QStringList{QStringLiteral("Jingles äöü ♪")} << QList<int>{0, 0};
        QTest::newRow("nothing to pack") << QStringList{"A|", "B|!x.mp3"} << QStringList{} << QStringList{}
                                         << QList<int>{};
        QTest::newRow("nine sounds, one file missing")
            << QStringList{"A|1.wav;2.wav;3.wav;4.wav", "|5.wav;6.wav;!7.wav;8.wav;9.wav"}
            << QStringList{"Audio/A/1.wav", "Audio/A/2.wav", "Audio/A/3.wav", "Audio/A/4.wav", "Audio/Tab 2/5.wav",
                           "Audio/Tab 2/6.wav", "Audio/Tab 2/8.wav", "Audio/Tab 2/9.wav"}
            << QStringList{"A", ""} << QList<int>{0, 0, 0, 0, 1, 1, 1, 1};
        QTest::newRow("path steps as tab names")
            << QStringList{"..|a.wav", ".|b.wav", " . |c.wav", "...|d.wav", ". .|e.wav"}
            << QStringList{"Audio/Tab/a.wav", "Audio/Tab/b.wav", "Audio/Tab/c.wav", "Audio/.../d.wav",
                           "Audio/. ./e.wav"}
            << QStringList{"..", ".", " . ", "...", ". ."} << QList<int>{0, 1, 2, 3, 4};
        const QString snowmen = QString(100, QChar(0x2603));
        QTest::newRow("tab names cut to fit a folder name")
            << QStringList{QString(260, 'L') + "|a.wav", snowmen + "|b.wav", QString(239, 'x') + " y|c.wav"}
            << QStringList{"Audio/" + QString(240, 'L') + "/a.wav", "Audio/" + snowmen.left(80) + "/b.wav",
                           "Audio/" + QString(239, 'x') + "/c.wav"}
            << QStringList{QString(260, 'L'), snowmen, QString(239, 'x') + " y"} << QList<int>{0, 1, 2};
        // Once refused as an entry name too long for the format.
        QTest::newRow("tab name of 70000 characters")
            << QStringList{QString(70000, 'L') + "|a.wav"} << QStringList{"Audio/" + QString(240, 'L') + "/a.wav"}
            << QStringList{QString(70000, 'L')} << QList<int>{0};
    }
    void layout()
    {
        QFETCH(QStringList, tabs);
        QFETCH(QStringList, audio);
        QFETCH(QStringList, tabSettings);
        QFETCH(QList<int>, tabIndex);

        const Session s = sessionFrom(tabs, m_dir + QStringLiteral("/src"));
        const QString target = m_dir + QStringLiteral("/out.vxbundle");
        QString project;
        const Run r = exportSession(s, target, &project);
        QVERIFY2(r.result && r.ok, qPrintable(r.msg));
        QCOMPARE(r.finishedCount, 1);
        // Each button whose file is missing is left out, and named.
        QStringList leftOut;
        for (int t = 0; t < tabs.size(); ++t) {
            const QStringList rels = tabs.at(t).section(QLatin1Char('|'), 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            const QString tabName = s.tabs.at(t).name.isEmpty() ? QStringLiteral("Tab %1").arg(t + 1) : s.tabs.at(t).name;
            for (int k = 0; k < rels.size(); ++k)
                if (rels.at(k).startsWith(QLatin1Char('!')))
                    leftOut << QStringLiteral("%1 / button %2: %3").arg(tabName).arg(k + 1).arg(s.tabs.at(t).buttons.at(k).audioPath);
        }
        QCOMPARE(r.missing, leftOut);
        if (leftOut.isEmpty())
            QCOMPARE(r.msg, QStringLiteral("Bundle exported successfully!\n\n%1\n\n%2 audio file(s) packed.")
                                .arg(target)
                                .arg(audio.size()));
        else
            QCOMPARE(r.msg, QStringLiteral("Bundle exported, but %3 sound(s) were left out: their audio files are "
                                           "missing (listed in the event log).\n\n%1\n\n%2 audio file(s) packed.")
                                .arg(target)
                                .arg(audio.size())
                                .arg(leftOut.size()));

        QString err;
        const QList<Entry> entries = readBundle(readFile(target), &err);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QCOMPARE(withoutIcon(names(entries)),
                 QStringList{"project.vx"} + audio + QStringList{"manifest.json"});
        if (entries.size() > 1 && entries.at(1).name == "bundle.ico")
            QCOMPARE(entries.size(), audio.size() + 3);
        QCOMPARE(entries.first().content, readFile(project));

        // Each audio entry carries its source's bytes.
        const QJsonObject m = manifestOf(entries);
        const QJsonArray files = m.value("audioFiles").toArray();
        QCOMPARE(files.size(), audio.size());
        QCOMPARE(m.value("audioCount").toInt(), audio.size());
        for (int i = 0; i < files.size(); ++i) {
            const QJsonObject f = files.at(i).toObject();
            const QString name = f.value("bundlePath").toString();
            const int at = names(entries).indexOf(name);
            QVERIFY2(at > 0, qPrintable(name));
            QCOMPARE(entries.at(at).content, readFile(f.value("originalPath").toString()));
            QCOMPARE(f.value("originalName").toString(), QFileInfo(f.value("originalPath").toString()).fileName());
            QCOMPARE(f.value("bundleName").toString(), name.section('/', -1));
            QCOMPARE(qint64(f.value("size").toDouble()), QFileInfo(f.value("originalPath").toString()).size());
            const int ti = f.value("tabIndex").toInt(-9);
            QCOMPARE(ti, tabIndex.at(audio.indexOf(name)));
            const QString tn = s.tabs.at(ti).name;
            QCOMPARE(f.value("tabName").toString(), tn.isEmpty() ? QStringLiteral("Tab %1").arg(ti + 1) : tn);
        }
        QStringList listed;
        for (const QJsonValue& v : m.value("tabSettings").toArray())
            listed << v.toObject().value("name").toString();
        QCOMPARE(listed, tabSettings);
    }

    void compression_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("flag");

        const QByteArray quiet(200000, '\0');
        QTest::newRow("empty wav") << "z.wav" << QByteArray() << 0;
        QTest::newRow("incompressible wav") << "n.wav" << noise(50000) << 0;
        QTest::newRow("compressible wav") << "q.wav" << quiet << 1;
        QTest::newRow("compressible mp3") << "q.mp3" << quiet << 0;
        QTest::newRow("compressible FLAC, upper case") << "q.FLAC" << quiet << 0;
        QTest::newRow("compressible, no suffix") << "raw" << quiet << 1;
        QTest::newRow("one byte") << "one.wav" << QByteArray("x") << 0;
    }
    void compression()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(int, flag);

        const QString path = m_dir + QStringLiteral("/src/") + file;
        writeFile(path, content);
        Session s;
        s.tabs << tab(QStringLiteral("T"), {path});
        const QString target = m_dir + QStringLiteral("/c.vxbundle");
        const Run r = exportSession(s, target);
        QVERIFY2(r.ok, qPrintable(r.msg));
        QString err;
        const QList<Entry> entries = readBundle(readFile(target), &err);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        const Entry& e = entries.at(names(entries).indexOf(QStringLiteral("Audio/T/") + file));
        QCOMPARE(e.flag, flag);
        QCOMPARE(e.content, content);
        if (content.isEmpty()) {
            QCOMPARE(e.crc, 0u);
            QCOMPARE(e.storedSize, 0);
        }
        // The project and the manifest are JSON text: they always shrink.
        QCOMPARE(entries.first().flag, 1);
        QCOMPARE(entries.last().flag, 1);
    }

    void manifestValues()
    {
        Session s = sessionFrom({"Drums|k.wav", "|h.wav"}, m_dir + QStringLiteral("/src"));
        s.globalVolume = 0.5;
        s.autoStop = true;
        s.crossTabStop = false;
        s.tabs[0].volume = 0.25;
        s.tabs[0].stopKey = QStringLiteral("F1");
        s.tabs[0].volUpKey = QStringLiteral("Ctrl+Up");
        s.tabs[0].volDnKey = QStringLiteral("Ctrl+Down");
        s.tabs[0].fadeMs = 450;
        s.tabs[0].pb_as = true;
        s.tabs[0].pb_cts = false;
        const QString vx = writeSession(s, m_dir + QStringLiteral("/my.show.v2.vx"));
        const QString target = m_dir + QStringLiteral("/m.vxbundle");
        BundleWorker w;
        w.setupExport(vx, target, s);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const Run r = run(w);
        QVERIFY2(r.ok, qPrintable(r.msg));
        QString err;
        const QJsonObject m = manifestOf(readBundle(readFile(target), &err));
        QVERIFY2(err.isEmpty(), qPrintable(err));

        const QStringList keys = m.keys();
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()),
                 (QSet<QString>{"bundleVersion", "projectName", "projectFile", "audioCount", "createdAt", "createdBy",
                                "createdWith", "compression", "globalVolume", "pbState", "tabSettings", "midi",
                                "audioFiles"}));
        QCOMPARE(m.value("bundleVersion").toInt(), 2);
        QCOMPARE(m.value("projectName").toString(), QStringLiteral("my"));
        QCOMPARE(m.value("projectFile").toString(), QStringLiteral("project.vx"));
        QCOMPARE(m.value("createdBy").toString(), QStringLiteral("Tarvello Rododu"));
        QCOMPARE(m.value("createdWith").toString(), QStringLiteral("Qt 6.11"));
        QCOMPARE(m.value("compression").toString(), QStringLiteral("zlib-selective"));
        const QString at = m.value("createdAt").toString();
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$").match(at).hasMatch(), qPrintable(at));
        const QDateTime created = QDateTime::fromString(at, Qt::ISODate);
        QVERIFY(created >= before && created <= QDateTime::currentDateTime().addSecs(1));
        QCOMPARE(m.value("globalVolume").toDouble(), 0.5);
        QCOMPARE(m.value("pbState").toObject(), (QJsonObject{{"autoStop", true}, {"crossTabStop", false}}));
        const QJsonObject t0 = m.value("tabSettings").toArray().at(0).toObject();
        QCOMPARE(t0, (QJsonObject{{"name", "Drums"},
                                  {"tabIndex", 0},
                                  {"volume", 0.25},
                                  {"stopShortcut", "F1"},
                                  {"volUpShortcut", "Ctrl+Up"},
                                  {"volDownShortcut", "Ctrl+Down"},
                                  {"fadeMs", 450},
                                  {"pbState", QJsonObject{{"autoStop", true}, {"crossTabStop", false}}}}));
        const QJsonObject f1 = m.value("audioFiles").toArray().at(1).toObject();
        QCOMPARE(f1.value("tabName").toString(), QStringLiteral("Tab 2"));
        QCOMPARE(f1.value("bundlePath").toString(), QStringLiteral("Audio/Tab 2/h.wav"));
    }

    void midiGroup_data()
    {
        QTest::addColumn<QVariantMap>("group");
        QTest::addColumn<QByteArray>("expected");   // the manifest's "midi", compact JSON

        QTest::newRow("absent") << QVariantMap{} << QByteArray(R"({"device":"","mappings":[]})");
        QTest::newRow("two mappings")
            << QVariantMap{{"device", "Pad"}, {"count", 2}, {"0_btn", "b0"}, {"0_ctrl", ""}, {"0_ch", 1},
                           {"0_note", 36}, {"0_cc", false}, {"1_btn", ""}, {"1_ctrl", "__main_volume__"},
                           {"1_ch", -1}, {"1_note", 7}, {"1_cc", true}}
            << QByteArray(R"({"device":"Pad","mappings":[)"
                          R"({"btn":"b0","cc":false,"ch":1,"ctrl":"","note":36},)"
                          R"({"btn":"","cc":true,"ch":-1,"ctrl":"__main_volume__","note":7}]})");
        QTest::newRow("damaged: huge count, wrong types, entries beyond count")
            << QVariantMap{{"device", "Pad"}, {"count", 2147483647}, {"3_btn", "b3"}, {"3_ch", "x"},
                           {"3_note", QStringList{"a", "b"}}, {"3_cc", "maybe"}, {"x_btn", "stray"}}
            << QByteArray(R"({"device":"Pad","mappings":[{"btn":"b3","cc":false,"ch":-1,"ctrl":"","note":-1}]})");
        QTest::newRow("count not a number")
            << QVariantMap{{"device", "Pad"}, {"count", "lots"}, {"0_btn", "b0"}, {"0_note", 1}}
            << QByteArray(R"({"device":"Pad","mappings":[]})");
        QTest::newRow("count smaller than the entries")
            << QVariantMap{{"count", 1}, {"0_note", 1}, {"1_note", 2}}
            << QByteArray(R"({"device":"","mappings":[{"btn":"","cc":false,"ch":-1,"ctrl":"","note":1}]})");
    }
    void midiGroup()
    {
        QFETCH(QVariantMap, group);
        QFETCH(QByteArray, expected);
        {
            AppSettings s;
            s.beginGroup(QStringLiteral("midi"));
            for (auto it = group.cbegin(); it != group.cend(); ++it)
                s.setValue(it.key(), it.value());
            s.endGroup();
        }
        Session s = sessionFrom({"A|a.wav"}, m_dir + QStringLiteral("/src"));
        const QString target = m_dir + QStringLiteral("/midi.vxbundle");
        const Run r = exportSession(s, target);
        QVERIFY2(r.ok, qPrintable(r.msg));
        QString err;
        const QJsonObject m = manifestOf(readBundle(readFile(target), &err));
        QCOMPARE(QJsonDocument(m.value("midi").toObject()).toJson(QJsonDocument::Compact), expected);
    }

    void perTabCopyPacksOnlyItsTabButTheWholeProject()
    {
        const Session whole = sessionFrom({"One|1.wav", "Two|2.wav", "Three|3.wav;1.wav"}, m_dir + "/src");
        const QString vx = writeSession(whole, m_dir + QStringLiteral("/whole.vx"));
        Session copy = whole;
        copy.tabs = {whole.tabs.at(2)};
        const QString target = m_dir + QStringLiteral("/third.vxbundle");
        BundleWorker w;
        w.setupExport(vx, target, copy);
        const Run r = run(w);
        QVERIFY2(r.ok, qPrintable(r.msg));
        QString err;
        const QList<Entry> entries = readBundle(readFile(target), &err);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        QCOMPARE(withoutIcon(names(entries)),
                 (QStringList{"project.vx", "Audio/Three/3.wav", "Audio/Three/1.wav", "manifest.json"}));
        QCOMPARE(entries.first().content, readFile(vx));
        Session packed;
        packed = Session::fromJson(QJsonDocument::fromJson(entries.first().content).object());
        QCOMPARE(packed.tabs.size(), 3);
        const QJsonArray tabs = manifestOf(entries).value("tabSettings").toArray();
        QCOMPARE(tabs.size(), 1);
        QCOMPARE(tabs.at(0).toObject().value("name").toString(), QStringLiteral("Three"));
        QCOMPARE(manifestOf(entries).value("audioFiles").toArray().at(1).toObject().value("tabIndex").toInt(), 0);
    }

    void progressReportsEachEntryAfterWritingIt()
    {
        const Session s = sessionFrom({"A|a.wav;b.wav"}, m_dir + "/src");
        const Run r = exportSession(s, m_dir + QStringLiteral("/p.vxbundle"));
        QVERIFY(r.ok);
        const int n = r.total.first();
        QStringList expected;
        for (int i = 1; i < n; ++i)
            expected << QStringLiteral("Packing: ") + (i == 1 ? QStringLiteral("show.vx") : QString());
        // The middle labels name the entries' files: the icon when present, then the audio.
        QCOMPARE(r.labels.first(), QStringLiteral("Packing: show.vx"));
        QCOMPARE(r.labels.mid(n - 3, 2), (QStringList{"Packing: a.wav", "Packing: b.wav"}));
        QCOMPARE(r.labels.mid(n - 1), (QStringList{"Writing manifest…", "Export complete."}));
        QList<int> currents;
        for (int i = 1; i <= n; ++i)
            currents << i;
        QCOMPARE(r.current, currents + QList<int>{n});
        QCOMPARE(r.total, QList<int>(n + 1, n));
    }

    // Every way of failing leaves an earlier bundle at the target exactly as
    // it was, nothing beside it, and reports once.
    void failureLeavesTargetAlone_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("message");
        QTest::newRow("target folder is a file") << "parentIsFile" << "Cannot create bundle file:\n%1";
        QTest::newRow("source deleted before its turn") << "deleteSource" << "Cannot read: %2";
        QTest::newRow("source replaced by a folder") << "folderSource" << "Cannot read: %2";
        QTest::newRow("disk full") << "fsize" << "Failed to write bundle to disk.";
        QTest::newRow("cancel before the first entry") << "cancel0" << "Cancelled";
        QTest::newRow("cancel in the middle") << "cancel2" << "Cancelled";
        QTest::newRow("cancel before the manifest") << "cancelLast" << "Cancelled";
    }
    void failureLeavesTargetAlone()
    {
        QFETCH(QString, how);
        QFETCH(QString, message);

        Session s = sessionFrom({"A|a.wav;b.wav;c.wav"}, m_dir + "/src");
        const QString victim = s.tabs[0].buttons[1].audioPath;
        if (how == "fsize")
            writeFile(victim, noise(2 << 20));
        const QString outDir = m_dir + QStringLiteral("/out");
        QString target = outDir + QStringLiteral("/show.vxbundle");
        const QByteArray old = "an older bundle";
        writeFile(target, old);
        if (how == "parentIsFile")
            target = target + QStringLiteral("/inner.vxbundle");
        const QStringList before = listing(outDir);

        const QString vx = writeSession(s, m_dir + QStringLiteral("/show.vx"));
        BundleWorker w;
        w.setupExport(vx, target, s);
        if (how == "cancel0")
            w.cancel();
        rlimit saved{};
        if (how == "fsize") {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &saved);
            rlimit small = saved;
            small.rlim_cur = 1 << 20;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        const Run r = run(w, [&](BundleWorker& job, int current) {
            // current entries are written; the next one is entry `current`.
            if (how == "deleteSource" && current == 1)
                QFile::remove(victim);
            if (how == "folderSource" && current == 1) {
                QFile::remove(victim);
                QDir().mkpath(victim);
            }
            if (how == "cancel2" && current == 2)
                job.cancel();
            if (how == "cancelLast" && current == r.total.value(0) - 1)
                job.cancel();
        });
        if (how == "fsize")
            setrlimit(RLIMIT_FSIZE, &saved);

        QVERIFY(!r.result);
        QCOMPARE(r.finishedCount, 1);
        QVERIFY(!r.ok);
        message.replace(QStringLiteral("%1"), target).replace(QStringLiteral("%2"), victim);
        QCOMPARE(r.msg, message);
        QCOMPARE(readFile(outDir + QStringLiteral("/show.vxbundle")), old);
        QCOMPARE(listing(outDir), before);
        if (how == "cancel0")
            QVERIFY(r.labels.isEmpty());
    }

    void crcMatchesZlib_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("check string") << QByteArray("123456789");
        QTest::newRow("one zero byte") << QByteArray(1, '\0');
        QTest::newRow("all byte values") << [] {
            QByteArray b;
            for (int i = 0; i < 256; ++i)
                b.append(char(i));
            return b;
        }();
        QTest::newRow("noise, odd length") << noise(100003, 7);
    }
    void crcMatchesZlib()
    {
        QFETCH(QByteArray, bytes);
        const quint32 ref = quint32(::crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size())));
        QCOMPARE(BundleWorker::crc32(bytes), ref);
        if (bytes == "123456789")
            QCOMPARE(BundleWorker::crc32(bytes), 0xCBF43926u);
    }
};

QTEST_GUILESS_MAIN(TestBundleExport)
#include "tst_bundle_export.moc"
