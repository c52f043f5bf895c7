// Reading BSI Stinger pages and collections: fields, odd and hostile text,
// the audio search, collections and the failures, apart from the window.
#include <QDir>
#include <QFile>
#include <QSet>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "StingerImporter.h"
#include "StingerTestFiles.h"
#include "TestSupport.h"

using SI = StingerImporter;

namespace {

// A page read from bytes with no audio anywhere near.
TabData readPage(const QByteArray& text, QStringList* warnings = nullptr)
{
    static const QString emptyDir = [] {
        const QString d = TestSupport::tempDir() + QStringLiteral("/nowhere/empty");
        QDir().mkpath(d);
        return d;
    }();
    QStringList w;
    TabData t = SI::parseStgBytes(text, QStringLiteral("Page"), emptyDir, w);
    if (warnings)
        *warnings = w;
    return t;
}

QString colorName(const QColor& c)
{
    return c.isValid() ? c.name() : QString();
}

QByteArray utf16(const QString& s, bool littleEndian)
{
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE", 2) : QByteArray("\xFE\xFF", 2);
    for (QChar c : s) {
        const char lo = char(c.unicode() & 0xFF), hi = char(c.unicode() >> 8);
        out.append(littleEndian ? lo : hi);
        out.append(littleEndian ? hi : lo);
    }
    return out;
}

} // namespace

class TestStingerReader : public QObject
{
    Q_OBJECT

private slots:
    // One button's fields from a page's [Buttons] section.
    void buttonFields_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("bg");
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("volume");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<double>("fadeIn");
        QTest::addColumn<double>("fadeOut");

        const auto row = [](const char* tag, const char* buttons, int i, const char* name, const char* bg = "",
                            const char* text = "", double vol = 1.0, bool loop = false, double fi = 0,
                            double fo = 0) {
            QTest::newRow(tag) << (QByteArray("[Buttons]\n") + buttons) << i << QString::fromUtf8(name)
                               << QString::fromLatin1(bg) << QString::fromLatin1(text) << vol << loop << fi << fo;
        };
        row("only one caption", "5caption=Intro", 5, "Intro");
        row("others stay empty", "5caption=Intro", 4, "");
        row("keys ignore case", "5Caption=Intro", 5, "Intro");
        row("leading zeros", "05caption=Intro", 5, "Intro");
        row("blanks around", "  7caption  =  Intro  ", 7, "Intro");
        row("blank marker", "3caption=[BLANK]", 3, "");
        row("blank marker is case-sensitive", "3caption=[blank]", 3, "[blank]");
        row("no inline comment in a page", "3caption=Intro ; note", 3, "Intro ; note");
        row("last repeat wins", "3caption=A\n3caption=B", 3, "B");
        row("value keeps its equals signs", "3caption=a=b", 3, "a=b");
        row("index 35", "35caption=Last", 35, "Last");
        row("red", "0color=255", 0, "", "#ff0000", "#ffffff");
        row("white", "0color=16777215", 0, "", "#ffffff", "#000000");
        row("blue is the high byte", "0color=16711680", 0, "", "#0000ff", "#ffffff");
        row("above 24 bits", "0color=33554687", 0, "", "#ff0000", "#ffffff");
        row("negative colour", "0color=-1", 0, "");
        row("colour not a number", "0color=red", 0, "");
        row("colour with exponent", "0color=1e3", 0, "");
        row("colour with plus sign", "0color=+255", 0, "", "#ff0000", "#ffffff");
        row("font colour wins", "0color=16777215\n0fontcolor=255", 0, "", "#ffffff", "#ff0000");
        row("font colour alone", "0fontcolor=65280", 0, "", "", "#00ff00");
        row("bad font colour falls back to luminance", "0color=0\n0fontcolor=-3", 0, "", "#000000", "#ffffff");
        row("volume 80", "1volume=80", 1, "", "", "", 0.8);
        row("volume 250 clamps", "1volume=250", 1, "", "", "", 2.0);
        row("volume -5 clamps", "1volume=-5", 1, "", "", "", 0.0);
        row("volume +80", "1volume=+80", 1, "", "", "", 0.8);
        row("volume 80.5 is silent", "1volume=80.5", 1, "", "", "", 0.0);
        row("volume with exponent", "1volume=8e1", 1, "", "", "", 0.0);
        row("volume empty", "1volume=", 1, "", "", "", 0.0);
        row("loop 1", "2loop=1", 2, "", "", "", 1.0, true);
        row("loop -1", "2loop=-1", 2, "", "", "", 1.0, true);
        row("loop 0", "2loop=0", 2, "", "", "", 1.0, false);
        row("loop yes", "2loop=yes", 2, "", "", "", 1.0, false);
        row("fades", "4fadein=1.5\n4fadeout=0.25", 4, "", "", "", 1.0, false, 1.5, 0.25);
        row("fade exponent", "4fadein=1e1", 4, "", "", "", 1.0, false, 10.0, 0);
        row("fade negative", "4fadein=-2\n4fadeout=-0.5", 4, "", "", "", 1.0, false, 0, 0);
        row("fade inf and nan", "4fadein=inf\n4fadeout=nan", 4, "", "", "", 1.0, false, 0, 0);
        row("fade not a number", "4fadein=slow", 4, "", "", "", 1.0, false, 0, 0);
        row("CR LF", "8caption=Intro\r\n8volume=50\r\n", 8, "Intro", "", "", 0.5);
        row("comment lines", ";8caption=A\n#8caption=B\n8caption=C", 8, "C");
        row("no equals or equals first", "8caption\n=8caption=A", 8, "");
        row("empty section keeps the last", "[]\n9caption=A", 9, "A");
        row("unclosed section keeps the last", "[abc\n9caption=A", 9, "A");
        row("one-letter section opens", "[x]\n9caption=A", 9, "");
        row("other section", "[General]\n9caption=A", 9, "");
        row("minus index ignored", "-1caption=A", 0, "");
    }
    void buttonFields()
    {
        QFETCH(QByteArray, page);
        QFETCH(int, index);
        const TabData t = readPage(page);
        QCOMPARE(t.buttons.size(), 36);
        const ButtonData& b = t.buttons[index];
        QTEST(b.name, "name");
        QTEST(colorName(b.bgColor), "bg");
        QTEST(colorName(b.textColor), "text");
        QTEST(b.volume, "volume");
        QTEST(b.loop, "loop");
        QTEST(b.fadeIn, "fadeIn");
        QTEST(b.fadeOut, "fadeOut");
        QVERIFY(b.audioPath.isEmpty());
        QCOMPARE(b.midiNote, -1);
        QCOMPARE(b.midiCh, -1);
    }

    // The tab's name and colour from [General]; whatever the text, the tab
    // has 36 buttons with ids of their own.
    void tabFields_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("color");
        QTest::newRow("empty file") << QByteArray() << "Page" << "#e31b23";
        QTest::newRow("title and colour") << QByteArray("[General]\ntitle=Jingles\ncolor=65280") << "Jingles"
                                          << "#00ff00";
        QTest::newRow("section name ignores case and blanks")
            << QByteArray("[ GENERAL ]\nTitle=Beds") << "Beds" << "#e31b23";
        QTest::newRow("empty title") << QByteArray("[General]\ntitle=\n") << "Page" << "#e31b23";
        QTest::newRow("colour not a number gives black") << QByteArray("[General]\ncolor=abc") << "Page"
                                                         << "#000000";
        QTest::newRow("colour too large for an int gives black")
            << QByteArray("[General]\ncolor=99999999999") << "Page" << "#000000";
        QTest::newRow("negative colour keeps the default") << QByteArray("[General]\ncolor=-5") << "Page"
                                                           << "#e31b23";
        QTest::newRow("before any section") << QByteArray("title=X\n[General]") << "Page" << "#e31b23";
        QTest::newRow("UTF-8 BOM before [General]") << QByteArray("\xEF\xBB\xBF[General]\ntitle=Caf\xC3\xA9")
                                                    << "Café" << "#e31b23";
        QTest::newRow("UTF-16LE") << utf16(QStringLiteral("[General]\r\ntitle=Café €\r\n"), true) << "Café €"
                                  << "#e31b23";
        QTest::newRow("UTF-16BE") << utf16(QStringLiteral("[General]\ntitle=Ωmega"), false) << "Ωmega"
                                  << "#e31b23";
        QTest::newRow("Windows-1252") << QByteArray("[General]\ntitle=Caf\xE9 \x80\x93") << "Café €“"
                                      << "#e31b23";
        QTest::newRow("valid UTF-8 stays UTF-8") << QByteArray("[General]\ntitle=\xE2\x82\xAC") << "€"
                                                 << "#e31b23";
        QTest::newRow("binary garbage") << QByteArray("\x00\xFF\x01[\x9D=\n\x00]]==\xFE", 14) << "Page"
                                        << "#e31b23";
        QTest::newRow("NUL inside a title") << QByteArray("[General]\ntitle=a\0b", 19) << QString(QStringLiteral("a") + QChar(u'\0') + QStringLiteral("b"))
                                            << "#e31b23";
    }
    void tabFields()
    {
        QFETCH(QByteArray, page);
        const TabData t = readPage(page);
        QTEST(t.name, "name");
        QTEST(colorName(t.color), "color");
        QCOMPARE(t.buttons.size(), 36);
        QSet<QString> ids{t.id};
        for (const ButtonData& b : t.buttons)
            ids.insert(b.id);
        QCOMPARE(ids.size(), 37);
        QVERIFY(!ids.contains(QString()));
        QCOMPARE(t.fadeMs, 100.0);
        QCOMPARE(t.volume, 1.0);
        QCOMPARE(t.stopMidi, -1);
        QCOMPARE(t.volCC, -1);
    }

    // Warnings, exactly and in the order met.
    void warnings_data()
    {
        QTest::addColumn<QByteArray>("page");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("none") << QByteArray("[Buttons]\n1caption=A") << QStringList();
        QTest::newRow("beyond 35 once") << QByteArray("[General]\ntitle=Beds\n[Buttons]\n40file=x\n41caption=y\n36caption=z")
                                        << QStringList{"Tab \"Beds\": buttons beyond index 35 were skipped (VX max = 36)."};
        QTest::newRow("index too large for an int")
            << QByteArray("[Buttons]\n99999999999caption=Boom")
            << QStringList{"Tab \"Page\": buttons beyond index 35 were skipped (VX max = 36)."};
        QTest::newRow("missing audio, by caption and by index, then beyond")
            << QByteArray("[Buttons]\n10file=C:\\Audio\\b.wav\n2caption=Intro\n2file=C:\\Audio\\a.wav\n3caption=[BLANK]\n3file=c.mp3\n50file=d")
            << QStringList{"Button \"Intro\" (#2) — audio not found: C:\\Audio\\a.wav",
                           "Button \"3\" (#3) — audio not found: c.mp3",
                           "Button \"10\" (#10) — audio not found: C:\\Audio\\b.wav",
                           "Tab \"Page\": buttons beyond index 35 were skipped (VX max = 36)."};
        QTest::newRow("empty file name is no audio") << QByteArray("[Buttons]\n1file=") << QStringList();
        QTest::newRow("a file name of dots finds nothing")
            << QByteArray("[Buttons]\n1file=..\n2file=C:\\x\\")
            << QStringList{"Button \"1\" (#1) — audio not found: ..", "Button \"2\" (#2) — audio not found: C:\\x\\"};
    }
    void warnings()
    {
        QFETCH(QByteArray, page);
        QStringList w;
        const TabData t = readPage(page, &w);
        QTEST(w, "expected");
        QCOMPARE(t.buttons.size(), 36);
    }

    // The six places, in order, one sub-folder level, regular files only.
    void resolveAudio_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("expected");   // below the test's root; empty: not found
        QTest::newRow("as written") << "{root}/parent/base/direct.wav" << "parent/base/direct.wav";
        QTest::newRow("windows path, file beside") << "C:\\Stinger\\direct.wav" << "parent/base/direct.wav";
        QTest::newRow("in a sub-folder") << "C:\\Stinger\\insub.wav" << "parent/base/sub1/insub.wav";
        QTest::newRow("beside wins over sub-folder") << "both.wav" << "parent/base/both.wav";
        QTest::newRow("in the parent") << "D:\\up.wav" << "parent/up.wav";
        QTest::newRow("below the parent") << "cousin.wav" << "parent/sibling/cousin.wav";
        QTest::newRow("two levels down is too deep") << "deep.wav" << "";
        QTest::newRow("a folder is not audio") << "folder.wav" << "";
        QTest::newRow("a pipe is not audio") << "pipe.wav" << "";
        QTest::newRow("a link to a file is") << "link.wav" << "parent/base/link.wav";
        QTest::newRow("Windows-1252 name on disk") << "C:\\caf\u00e9.wav" << "parent/base/caf\u00e9.wav";
        QTest::newRow("trailing separator") << "C:\\Stinger\\" << "";
        QTest::newRow("dot") << "." << "";
        QTest::newRow("dot dot") << "..\\.." << "";
        QTest::newRow("nowhere") << "missing.wav" << "";
    }
    void resolveAudio()
    {
        static const QString root = [] {
            const QString r = TestSupport::tempDir() + QStringLiteral("/resolve");
            const QString base = r + QStringLiteral("/parent/base");
            for (const char* f : {"/parent/base/direct.wav", "/parent/base/sub1/insub.wav", "/parent/base/both.wav",
                                  "/parent/base/sub2/both.wav", "/parent/up.wav", "/parent/sibling/cousin.wav",
                                  "/parent/base/sub1/sub/deep.wav", "/parent/base/sub2/target.bin"})
                writeBytes(r + QString::fromLatin1(f), "x");
            writeBytes(r + QStringLiteral("/parent/base/caf\u00e9.wav"), "x");
            QDir().mkpath(base + QStringLiteral("/folder.wav"));
            ::mkfifo(QFile::encodeName(base + QStringLiteral("/pipe.wav")).constData(), 0600);
            QFile::link(base + QStringLiteral("/sub2/target.bin"), base + QStringLiteral("/link.wav"));
            return r;
        }();
        QFETCH(QString, file);
        QFETCH(QString, expected);
        file.replace(QStringLiteral("{root}"), root);
        const QString found = SI::resolveAudio(file, root + QStringLiteral("/parent/base"));
        QCOMPARE(found.isEmpty() ? QString() : QDir(root).relativeFilePath(found), expected);
    }

    // Page files on disk: the name, the folder searched, and the failures.
    void importStg()
    {
        const QString dir = TestSupport::tempDir() + QStringLiteral("/stg");
        writeBytes(dir + QStringLiteral("/audio/sub/Caf\u00e9 Jingle.wav"), "RIFF");
        // A Windows-1252 page naming a Windows path whose file sits one level
        // below the page's folder.
        writeBytes(dir + QStringLiteral("/audio/Morning.Show.stg"),
                   "[Buttons]\r\n0caption=Caf\xE9\r\n0file=C:\\BSI\\Caf\xE9 Jingle.wav\r\n");
        SI::Result r = SI::importStg(dir + QStringLiteral("/audio/Morning.Show.stg"));
        QVERIFY(r.ok);
        QCOMPARE(r.warnings, QStringList());
        QCOMPARE(r.tabs.size(), 1);
        QCOMPARE(r.tabs[0].name, QStringLiteral("Morning.Show"));
        QCOMPARE(r.tabs[0].buttons[0].name, QStringLiteral("Caf\u00e9"));
        QCOMPARE(r.tabs[0].buttons[0].audioPath, dir + QStringLiteral("/audio/sub/Caf\u00e9 Jingle.wav"));

        // Missing: nothing.
        r = SI::importStg(dir + QStringLiteral("/gone.stg"));
        QVERIFY(!r.ok);
        QVERIFY(r.tabs.isEmpty());
        QCOMPARE(r.warnings, QStringList{QStringLiteral("File not found: ") + dir + QStringLiteral("/gone.stg")});

        // Exists but cannot be opened (a folder of that name, since tests
        // may run as root): one tab, no buttons, ok.
        const QString folder = dir + QStringLiteral("/Locked.stg");
        QDir().mkpath(folder);
        r = SI::importStg(folder);
        QVERIFY(r.ok);
        QCOMPARE(r.tabs.size(), 1);
        QCOMPARE(r.tabs[0].name, QStringLiteral("Locked"));
        QVERIFY(r.tabs[0].buttons.isEmpty());
        QVERIFY(!r.tabs[0].id.isEmpty());
        QCOMPARE(r.warnings, QStringList{QStringLiteral("Cannot open: ") + folder});

        // A named pipe is never opened (it would block).
        const QString fifo = dir + QStringLiteral("/pipe.stg");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        r = SI::importStg(fifo);
        QVERIFY(r.ok);
        QCOMPARE(r.warnings, QStringList{QStringLiteral("Cannot open: ") + fifo});
    }

    // A 10 MB line is read as any other.
    void hugeLine()
    {
        QByteArray page("[Buttons]\n0caption=");
        page.append(QByteArray(10 * 1024 * 1024, 'x'));
        page.append("\n1caption=after\n");
        page.append(QByteArray(10 * 1024 * 1024, '['));
        page.append("\n2caption=");
        const TabData t = readPage(page);
        QCOMPARE(t.buttons[0].name.size(), 10 * 1024 * 1024);
        QCOMPARE(t.buttons[1].name, QStringLiteral("after"));
        QCOMPARE(t.buttons[2].name, QString());
    }

    // The [Sets] section of a collection, ordered by set number.
    void readSets_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("expected");   // key=value, in order
        QTest::newRow("comment after blanks") << QByteArray("[Sets]\n2=C:\\Pages\\Intro.stg   ; morning")
                                              << QStringList{"2=C:\\Pages\\Intro.stg"};
        QTest::newRow("tab before the comment") << QByteArray("[Sets]\n2=a.stg\t;x") << QStringList{"2=a.stg"};
        QTest::newRow("semicolon without blank stays") << QByteArray("[Sets]\n2=a;b.stg") << QStringList{"2=a;b.stg"};
        QTest::newRow("numeric order") << QByteArray("[Sets]\n10=c\n2=b\n1=a") << QStringList{"1=a", "2=b", "10=c"};
        QTest::newRow("signs and words") << QByteArray("[Sets]\n+3=c\nx=z\n-1=a\n 2 =b")
                                         << QStringList{"-1=a", "x=z", "2=b", "+3=c"};
        QTest::newRow("key case kept, section case ignored") << QByteArray("[SETS]\nMain=a") << QStringList{"Main=a"};
        QTest::newRow("last repeat wins") << QByteArray("[Sets]\n1=a\n1=b") << QStringList{"1=b"};
        QTest::newRow("other sections and before") << QByteArray("1=a\n[Info]\n2=b\n[Sets]\n3=c\n[Other]\n4=d")
                                                   << QStringList{"3=c"};
        QTest::newRow("section with blanks is another") << QByteArray("[ Sets ]\n1=a") << QStringList();
        QTest::newRow("equals first or missing") << QByteArray("[Sets]\n=a\nb\n5=") << QStringList{"5="};
        QTest::newRow("UTF-16 and CR LF") << utf16(QStringLiteral("[Sets]\r\n1=Caf\u00e9.stg\r\n"), true)
                                          << QStringList{"1=Caf\u00e9.stg"};
        QTest::newRow("empty") << QByteArray() << QStringList();
    }
    void readSets()
    {
        QFETCH(QByteArray, text);
        QStringList got;
        for (const auto& [k, v] : SI::readSets(text))
            got << k + QLatin1Char('=') + v;
        QTEST(got, "expected");
    }

    // The worked case: pages by Windows path and by name, one missing, audio
    // found from the collection's folder.
    void importCol()
    {
        const QString root = TestSupport::tempDir() + QStringLiteral("/col");
        const QString colDir = root + QStringLiteral("/show");
        const QString elsewhere = root + QStringLiteral("/elsewhere/pages");
        writeBytes(colDir + QStringLiteral("/Sound FX/boom.wav"), "RIFF");
        writeBytes(colDir + QStringLiteral("/Intro.stg"),
                   "[General]\ntitle=Intro\n[Buttons]\n0caption=Boom\n0file=C:\\Stinger\\Audio\\boom.wav\n"
                   "0color=255\n0volume=80\n0loop=1\n0fadein=0.5\n1caption=[BLANK]\n1color=16777215\n");
        // Listed by its real path; its own folder has no audio, the
        // collection's sub-folder has.
        writeBytes(elsewhere + QStringLiteral("/Beds.stg"), "[General]\ntitle=Beds\n[Buttons]\n3file=boom.wav\n");
        writeBytes(root + QStringLiteral("/elsewhere/boom.wav"), "decoy");   // the page's parent: not searched
        writeBytes(colDir + QStringLiteral("/Outro.stg"), "[Buttons]\n0file=gone.wav\n");
        writeBytes(colDir + QStringLiteral("/show.col"),
                   QStringLiteral("; made by hand\n[Sets]\n10=%1/Beds.stg ; the beds\n2=C:\\BSI\\Pages\\Intro.stg\n"
                                  "1=Outro.stg\n3=C:\\BSI\\Missing.stg\n4=\n")
                       .arg(elsewhere)
                       .toUtf8());

        const SI::Result r = SI::importCol(colDir + QStringLiteral("/show.col"));
        QVERIFY(r.ok);
        QCOMPARE(r.tabs.size(), 3);
        QCOMPARE(r.tabs[0].name, QStringLiteral("Outro"));
        QCOMPARE(r.tabs[1].name, QStringLiteral("Intro"));
        QCOMPARE(r.tabs[2].name, QStringLiteral("Beds"));
        const QString boom = colDir + QStringLiteral("/Sound FX/boom.wav");
        const ButtonData& b = r.tabs[1].buttons[0];
        QCOMPARE(b.name, QStringLiteral("Boom"));
        QCOMPARE(b.audioPath, boom);
        QCOMPARE(b.bgColor, QColor(255, 0, 0));
        QCOMPARE(b.textColor, QColor(255, 255, 255));
        QCOMPARE(b.volume, 0.8);
        QVERIFY(b.loop);
        QCOMPARE(b.fadeIn, 0.5);
        QCOMPARE(r.tabs[1].buttons[1].name, QString());
        QCOMPARE(r.tabs[1].buttons[1].textColor, QColor(0, 0, 0));
        QCOMPARE(r.tabs[2].buttons[3].audioPath, boom);
        QCOMPARE(r.warnings, (QStringList{"Button \"0\" (#0) — audio not found: gone.wav",
                                          "Set 3 — .stg not found: C:/BSI/Missing.stg"}));
    }

    void importColFailures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("text");   // "-": not written; "/": a folder of that name
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("warning");
        QTest::newRow("missing") << "a.col" << QByteArray("-") << false << "File not found: {path}";
        QTest::newRow("no sets") << "b.col" << QByteArray("[Info]\n1=x") << false << "No [Sets] entries found in: {path}";
        QTest::newRow("cannot open") << "c.col" << QByteArray("/") << false << "No [Sets] entries found in: {path}";
        QTest::newRow("binary garbage") << "d.col" << QByteArray("\xFF\x00\x9D[Sets\x00]\n", 10) << false
                                        << "No [Sets] entries found in: {path}";
        QTest::newRow("only empty values") << "e.col" << QByteArray("[Sets]\n1=\n2=   ") << false << "";
        QTest::newRow("every page missing") << "f.col" << QByteArray("[Sets]\n7=nope\\..") << false
                                            << "Set 7 — .stg not found: nope/..";
    }
    void importColFailures()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, text);
        QFETCH(bool, ok);
        QFETCH(QString, warning);
        const QString path = TestSupport::tempDir() + QStringLiteral("/colfail/") + name;
        QDir().mkpath(QFileInfo(path).absolutePath());
        if (text == "/")
            QDir().mkpath(path);
        else if (text != "-")
            writeBytes(path, text);
        const SI::Result r = SI::importCol(path);
        QCOMPARE(r.ok, ok);
        QVERIFY(r.tabs.isEmpty());
        QCOMPARE(r.warnings, warning.isEmpty() ? QStringList() : QStringList{warning.replace("{path}", path)});
    }

    // Two reads of one page never share an id.
    void freshIds()
    {
        const QString path = TestSupport::tempDir() + QStringLiteral("/ids/p.stg");
        writeBytes(path, "[Buttons]\n1caption=A\n");
        QSet<QString> ids;
        for (int k = 0; k < 2; ++k) {
            const SI::Result r = SI::importStg(path);
            ids.insert(r.tabs[0].id);
            for (const ButtonData& b : r.tabs[0].buttons)
                ids.insert(b.id);
        }
        QCOMPARE(ids.size(), 74);
    }
};

QTEST_GUILESS_MAIN(TestStingerReader)
#include "tst_stinger_reader.moc"
