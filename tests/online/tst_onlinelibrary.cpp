// The online library client against our own server on 127.0.0.1: catalogues
// good and hostile, downloads that fail in every way a server or network can,
// names that try to leave the download folder, and the preview fetch.
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTimer>
#include <QtTest>

#include <sys/wait.h>
#include <unistd.h>

#include "AppSettings.h"
#include "LocalHttpServer.h"
#include "OnlineLibraryManager.h"
#include "SettingsKeys.h"
#include "TestSupport.h"

using S = LocalHttpServer;
Q_DECLARE_METATYPE(LocalHttpServer::Response)

namespace {

const QString kCat = QStringLiteral("/wp-json/tarvello-library/v1/folders");

using TestSupport::readFile;

// A fixture file, its folder made first.
void writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    TestSupport::writeFile(path, data);
}

// Every file below dir, relative to it, sorted; hidden files included, so a
// temporary file left behind shows up.
QStringList filesBelow(const QString& dir)
{
    QStringList out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(dir).relativeFilePath(it.next());
    out.sort();
    return out;
}

QByteArray catalogue(const QList<QPair<QString, QStringList>>& folders)
{
    QJsonArray list;
    for (const auto& f : folders) {
        QJsonArray files;
        for (const QString& n : f.second)
            files.append(QJsonObject{{"name", n}, {"url", "http://127.0.0.1/x/" + n}, {"duration", "0:05"}});
        list.append(QJsonObject{{"name", f.first}, {"files", files}});
    }
    return QJsonDocument(QJsonObject{{"folders", list}}).toJson(QJsonDocument::Compact);
}

S::Response misbehaving(const QByteArray& body, S::Misbehaviour m, qint64 cutAt, bool chunked = false)
{
    S::Response r = S::Response::ok(body);
    r.misbehaviour = m;
    r.cutAt = cutAt;
    r.chunked = chunked;
    return r;
}

} // namespace

class TestOnlineLibrary : public QObject
{
    Q_OBJECT

    S server;
    QString downloads;

    // A manager whose transfers give up after timeoutMs without data. The
    // tests of a stalled server ask for 400 ms; the others keep the long
    // default, which a busy machine never reaches between two reads.
    std::unique_ptr<OnlineLibraryManager> fresh(int timeoutMs = OnlineLibraryManager::kTransferTimeoutMs)
    {
        auto m = std::make_unique<OnlineLibraryManager>();
        m->setTransferTimeout(timeoutMs);
        return m;
    }

    static bool stalls(const S::Response& r)
    {
        return r.misbehaviour == S::StallBeforeHeaders || r.misbehaviour == S::StallMidBody;
    }

    QString url(const QString& path) const { return server.url(path).toString(); }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QVERIFY(server.listen());
        AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
    }

    void init()
    {
        downloads = TestSupport::tempDir() + QStringLiteral("/VX Library");
        AppSettings().setValue(SettingsKeys::LibraryDownloadPath, downloads);
        server.clearRequests();
    }

    void productionTransportIsAvailable()
    {
        // The real service is reached over https.
        QVERIFY(QSslSocket::supportsSsl());
        QVERIFY(OnlineLibraryManager::libraryBaseUrl().startsWith(server.url().toString()));
        AppSettings().remove(SettingsKeys::UpdateServiceUrl);
        QCOMPARE(OnlineLibraryManager::libraryBaseUrl(),
                 SettingsKeys::kDefaultServiceUrl + QStringLiteral("/wp-json/tarvello-library/v1"));
        // With no service set, a refresh fails at once, with nothing looked up.
        auto m = fresh();
        QSignalSpy failed(m.get(), &OnlineLibraryManager::errorOccurred);
        m->fetchFolders();
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.at(0).at(0).toString(),
                 QStringLiteral("Failed to load folders: no online library service is set (updates.tarvello.invalid)"));
        QVERIFY(!m->isLoading());
        AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
    }

    void downloadFolder_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("isDefault");
        QTest::newRow("absolute") << QVariant(QStringLiteral("@/mine")) << false;
        QTest::newRow("empty") << QVariant(QString()) << true;
        QTest::newRow("relative") << QVariant(QStringLiteral("VX Library")) << true;
        QTest::newRow("windows default") << QVariant(QStringLiteral("C:\\VX Library")) << true;
        QTest::newRow("absent") << QVariant() << true;
    }
    void downloadFolder()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, isDefault);
        const QString tmp = TestSupport::tempDir();
        if (!stored.isValid())
            AppSettings().remove(SettingsKeys::LibraryDownloadPath);
        else
            AppSettings().setValue(SettingsKeys::LibraryDownloadPath,
                                   stored.toString().replace(QLatin1Char('@'), tmp));
        const QString path = OnlineLibraryManager::vxLibraryPath();
        if (isDefault) {
            QCOMPARE(path, SettingsKeys::defaultDownloadFolder());
            QVERIFY(path.endsWith(QStringLiteral("/VX Library")));
        } else {
            QCOMPARE(path, tmp + QStringLiteral("/mine"));
        }
        QVERIFY(QDir::isAbsolutePath(path));
        QVERIFY(QFileInfo(path).isDir());
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("json");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QStringList>("files");   // "folder|name|url|duration"

        QTest::newRow("not json") << QByteArray("<html>oops</html>") << false << QStringList() << QStringList();
        QTest::newRow("empty body") << QByteArray() << false << QStringList() << QStringList();
        QTest::newRow("deep nesting") << (QByteArray(5000, '[') + QByteArray(5000, ']')) << false
                                      << QStringList() << QStringList();
        QTest::newRow("array") << QByteArray("[1,2,3]") << true << QStringList() << QStringList();
        QTest::newRow("empty object") << QByteArray("{}") << true << QStringList() << QStringList();
        QTest::newRow("folders not an array") << QByteArray(R"({"folders":{"name":"A"}})") << true
                                              << QStringList() << QStringList();
        QTest::newRow("folder without name or files")
            << QByteArray(R"({"folders":[{},{"name":7,"files":"x"},"junk"]})") << true
            << QStringList{"", "", ""} << QStringList();
        QTest::newRow("title stands in for an empty name")
            << QByteArray(R"({"folders":[{"name":"Beds","files":[{"name":"","title":"Intro Bed","url":"u"},)"
                          R"({"title":"Outro","url":"v","duration":95}]}]})")
            << true << QStringList{"Beds"} << QStringList{"Beds|Intro Bed|u|0", "Beds|Outro|v|95"};
        QTest::newRow("numbers and nulls where text belongs")
            << QByteArray(R"({"folders":[{"name":"F","files":[{"name":5,"title":null,"url":12},{},"x",[]]}]})")
            << true << QStringList{"F"} << QStringList{"F|||0", "F|||0", "F|||0", "F|||0"};
        QTest::newRow("folder with no files kept") << catalogue({{"Empty", {}}, {"One", {"a.mp3"}}}) << true
                                                   << QStringList{"Empty", "One"}
                                                   << QStringList{"One|a.mp3|http://127.0.0.1/x/a.mp3|5"};
    }
    void parse()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, json);
        QFETCH(QStringList, folders);
        QFETCH(QStringList, files);
        QList<OnlineFolder> fo;
        QList<OnlineFile> fi;
        QString error;
        QCOMPARE(OnlineLibraryManager::parseCatalogue(body, &fo, &fi, &error), json);
        if (!json) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QStringList gotFolders, gotFiles;
        for (const OnlineFolder& f : fo) {
            QCOMPARE(f.displayName, f.name);
            gotFolders << f.name;
        }
        for (const OnlineFile& f : fi)
            gotFiles << QStringLiteral("%1|%2|%3|%4").arg(f.folder, f.name, f.url).arg(f.duration);
        QCOMPARE(gotFolders, folders);
        QCOMPARE(gotFiles, files);
    }

    void duration_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<double>("seconds");
        QTest::newRow("2:30") << QJsonValue("2:30") << 150.0;
        QTest::newRow("0:07") << QJsonValue("0:07") << 7.0;
        QTest::newRow("3:05") << QJsonValue("3:05") << 185.0;
        QTest::newRow("fractions") << QJsonValue("1:02.5") << 62.5;
        QTest::newRow("number") << QJsonValue(95) << 95.0;
        QTest::newRow("two colons") << QJsonValue("1:02:03") << 0.0;
        QTest::newRow("no colon") << QJsonValue("abc") << 0.0;
        QTest::newRow("text part counts 0") << QJsonValue("x:12") << 12.0;
        QTest::newRow("empty") << QJsonValue("") << 0.0;
        QTest::newRow("absent") << QJsonValue(QJsonValue::Undefined) << 0.0;
        QTest::newRow("bool") << QJsonValue(true) << 0.0;
        QTest::newRow("negative") << QJsonValue(-5) << 0.0;
        QTest::newRow("negative m:ss") << QJsonValue("-1:00") << 0.0;
        QTest::newRow("1e308") << QJsonValue(1e308) << 0.0;
        QTest::newRow("huge seconds") << QJsonValue("9:99999999999") << 0.0;
        QTest::newRow("inf text") << QJsonValue("inf:1") << 0.0;
        QTest::newRow("nan text") << QJsonValue("nan:1") << 0.0;
    }
    void duration()
    {
        QFETCH(QJsonValue, value);
        QFETCH(double, seconds);
        QCOMPARE(OnlineLibraryManager::parseDuration(value), seconds);
    }

    void safeNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("saved");   // below the download folder; empty: refused

        QTest::newRow("plain") << "beep.mp3" << "" << "beep.mp3";
        QTest::newRow("folder") << "beep.mp3" << "Sound: FX/Vol. 1" << "Sound_ FX_Vol. 1/beep.mp3";
        QTest::newRow("folder nine chars") << "a.wav" << "a\\b/c:d*e?f\"g<h>i|j" << "a_b_c_d_e_f_g_h_i_j/a.wav";
        QTest::newRow("name climbs") << "../../.bashrc" << "" << "___.._.bashrc";
        QTest::newRow("name climbs, not hidden") << "../../escape.ogg" << "" << "___.._escape.ogg";
        QTest::newRow("hidden name") << ".intro.wav" << "" << "_intro.wav";
        QTest::newRow("dots then name") << "...x.wav" << "" << "___x.wav";
        QTest::newRow("absolute name") << "/etc/x" << "" << "_etc_x";
        QTest::newRow("backslash") << "a\\b" << "" << "a_b";
        QTest::newRow("nul") << QString::fromUtf8("a\0b.mp3", 7) << "" << "a_b.mp3";
        QTest::newRow("line feed") << "a\nb.mp3" << "" << "a_b.mp3";
        QTest::newRow("emoji") << QString::fromUtf8("🔔 bell.mp3") << QString::fromUtf8("🎵") << QString::fromUtf8("🎵/🔔 bell.mp3");
        QTest::newRow("dot name") << "." << "" << "";
        QTest::newRow("dot dot name") << ".." << "F" << "";
        QTest::newRow("empty name") << "" << "" << "";
        QTest::newRow("folder dot dot") << "a.mp3" << ".." << "_/a.mp3";
        QTest::newRow("folder dot") << "a.mp3" << "." << "_/a.mp3";
        QTest::newRow("folder climbs") << "a.mp3" << "../../x" << "___.._x/a.mp3";
        QTest::newRow("hidden folder") << "a.mp3" << ".cache" << "_cache/a.mp3";
        QTest::newRow("folder absolute") << "a.mp3" << "/etc" << "_etc/a.mp3";
    }
    void safeNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, folder);
        QFETCH(QString, saved);
        server.route("/f.bin", S::Response::ok("payload"));
        auto m = fresh();
        QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
        QSignalSpy err(m.get(), &OnlineLibraryManager::downloadError);
        m->downloadFile(url("/f.bin"), name, folder);
        if (saved.isEmpty()) {
            QCOMPARE(err.size(), 1);
            QCOMPARE(server.requestCount(), 0);
        } else {
            QVERIFY(done.wait(30000));
            QCOMPARE(done.at(0).at(0).toString(), downloads + QLatin1Char('/') + saved);
            QCOMPARE(filesBelow(downloads), QStringList{saved});
            QCOMPARE(readFile(downloads + QLatin1Char('/') + saved), QByteArray("payload"));
        }
        QVERIFY(filesBelow(QFileInfo(downloads).absolutePath()).filter(QStringLiteral(".bashrc")).size() <= 1);
    }

    void longNameIsCut()
    {
        const QString name = QString(300, QLatin1Char('n')) + QStringLiteral(".mp3");
        const QString folder = QString(150, QChar(0x00e9));   // 300 bytes of UTF-8
        const QString f = OnlineLibraryManager::safeComponent(name, false);
        QVERIFY(f.toUtf8().size() <= OnlineLibraryManager::kMaxComponentBytes);
        QVERIFY(f.endsWith(QStringLiteral(".mp3")));
        const QString d = OnlineLibraryManager::safeComponent(folder, true);
        QVERIFY(d.toUtf8().size() <= OnlineLibraryManager::kMaxComponentBytes);
        QCOMPARE(d, QString(OnlineLibraryManager::kMaxComponentBytes / 2, QChar(0x00e9)));
        // An emoji at the cut is left out whole, never cut in two.
        const QString notes = QStringLiteral("x") + QString::fromUtf8("🎵").repeated(70);
        QCOMPARE(OnlineLibraryManager::safeComponent(notes, true),
                 QStringLiteral("x") + QString::fromUtf8("🎵").repeated(59));

        server.route("/f.bin", S::Response::ok("payload"));
        auto m = fresh();
        QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
        m->downloadFile(url("/f.bin"), name, folder);
        QVERIFY(done.wait(30000));
        QCOMPARE(done.at(0).at(0).toString(), downloads + QLatin1Char('/') + d + QLatin1Char('/') + f);
    }

    void keepBoth_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("next free") << QStringList{"beep.mp3", "beep_1.mp3"} << "beep.mp3" << "beep_2.mp3";
        QTest::newRow("first dot, last dot") << QStringList{"my.song.mp3"} << "my.song.mp3" << "my_1.mp3";
        QTest::newRow("no dot") << QStringList{"beep"} << "beep" << "beep_1.";
    }
    void keepBoth()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        for (const QString& e : existing)
            writeFile(downloads + QLatin1Char('/') + e, "old " + e.toUtf8());
        server.route("/new", S::Response::ok("new bytes"));
        auto m = fresh();
        QStringList asked;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            asked << r.box->windowTitle() << r.box->text() << r.box->informativeText();
            for (QAbstractButton* b : r.box->buttons())
                if (b->text() == QLatin1String("Keep Both"))
                    return QVariant::fromValue(b);
            return {};
        });
        QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
        m->downloadFile(url("/new"), name, QString());
        QVERIFY(done.wait(30000));
        QCOMPARE(asked, (QStringList{"File Already Exists", "<b>" + name + "</b> already exists in this folder.",
                                     "What do you want to do?"}));
        QCOMPARE(done.at(0).at(0).toString(), downloads + QLatin1Char('/') + expected);
        QCOMPARE(readFile(downloads + QLatin1Char('/') + expected), QByteArray("new bytes"));
        for (const QString& e : existing)
            QCOMPARE(readFile(downloads + QLatin1Char('/') + e), "old " + e.toUtf8());
    }

    void existingFile_data()
    {
        QTest::addColumn<QString>("answer");   // a button's text, or "" for Escape
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("signal");
        QTest::newRow("skip") << "Skip" << QByteArray("old") << "skipped";
        QTest::newRow("escape") << "" << QByteArray("old") << "skipped";
        QTest::newRow("replace") << "Replace" << QByteArray("new") << "finished";
    }
    void existingFile()
    {
        QFETCH(QString, answer);
        QFETCH(QByteArray, after);
        QFETCH(QString, signal);
        const QString target = downloads + QStringLiteral("/Beds/bed.mp3");
        writeFile(target, "old");
        server.route("/bed.mp3", S::Response::ok("new"));
        QStringList order;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            QStringList texts;
            for (QAbstractButton* b : r.box->buttons())
                texts << b->text();
            order = texts;
            for (QAbstractButton* b : r.box->buttons())
                if (b->text() == answer)
                    return QVariant::fromValue(b);
            return {};   // closed without a click, as Escape does
        });
        auto m = fresh();
        QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
        QSignalSpy skipped(m.get(), &OnlineLibraryManager::downloadSkipped);
        m->downloadFile(url("/bed.mp3"), QStringLiteral("bed.mp3"), QStringLiteral("Beds"));
        QCOMPARE(order.size(), 3);
        QVERIFY(order.contains("Skip") && order.contains("Replace") && order.contains("Keep Both"));
        if (signal == QLatin1String("skipped")) {
            QCOMPARE(skipped.size(), 1);
            QCOMPARE(skipped.at(0).at(0).toString(), target);
            QCOMPARE(server.requestCount(), 0);
        } else {
            QVERIFY(done.wait(30000));
            QCOMPARE(done.at(0).at(0).toString(), target);
        }
        QCOMPARE(readFile(target), after);
        QCOMPARE(filesBelow(downloads), QStringList{"Beds/bed.mp3"});
    }

    // Each broken transfer: its error, no file, no temporary, and an old file
    // kept byte for byte when the transfer was meant to replace it.
    void brokenDownload_data()
    {
        QTest::addColumn<S::Response>("response");
        QTest::addColumn<QString>("error");
        const QByteArray body(300000, 'z');
        QTest::newRow("stall before headers") << misbehaving(body, S::StallBeforeHeaders, -1)
                                              << "Download failed: no data from the server for 0.4 s";
        QTest::newRow("stall mid-body") << misbehaving(body, S::StallMidBody, 1000)
                                        << "Download failed: no data from the server for 0.4 s";
        QTest::newRow("reset before headers") << misbehaving(body, S::Reset, -1) << "Download failed: ";
        QTest::newRow("reset mid-body") << misbehaving(body, S::Reset, 5000) << "Download failed: ";
        QTest::newRow("short body") << misbehaving(body, S::ShortBody, 1000)
                                    << "Download failed: ";
        QTest::newRow("short body, headers only") << misbehaving(body, S::ShortBody, 0) << "Download failed: ";
        QTest::newRow("short body, one byte short") << misbehaving(body, S::ShortBody, 299999) << "Download failed: ";
        QTest::newRow("chunked cut") << misbehaving(body, S::ChunkedCut, 1000, true) << "Download failed: ";
        QTest::newRow("404 with body") << S::Response::withStatus(404, "<h1>Not here</h1>") << "Download failed: ";
        QTest::newRow("500 with body") << S::Response::withStatus(500, "<h1>Broken</h1>") << "Download failed: ";
        QTest::newRow("redirect to file") << S::Response::redirect("file:///etc/hostname")
                                          << "Download failed: ";
    }
    void brokenDownload()
    {
        QFETCH(S::Response, response);
        QFETCH(QString, error);
        for (bool replace : {false, true}) {
            QDir(downloads).removeRecursively();
            server.route("/clip.wav", response);
            if (replace)
                writeFile(downloads + QStringLiteral("/clip.wav"), "the old clip");
            TestSupport::ModalScript script([](const Modal::Request& r) -> QVariant {
                for (QAbstractButton* b : r.box->buttons())
                    if (b->text() == QLatin1String("Replace"))
                        return QVariant::fromValue(b);
                return {};
            });
            auto m = fresh(stalls(response) ? 400 : OnlineLibraryManager::kTransferTimeoutMs);
            QSignalSpy err(m.get(), &OnlineLibraryManager::downloadError);
            QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
            m->downloadFile(url("/clip.wav"), QStringLiteral("clip.wav"), QString());
            // Either outcome ends the wait: a broken transfer reported as done
            // must fail here, not time out.
            QTRY_VERIFY_WITH_TIMEOUT(err.size() + done.size() > 0, 5000);
            QCOMPARE(done.size(), 0);
            QVERIFY2(err.at(0).at(0).toString().startsWith(error), qPrintable(err.at(0).at(0).toString()));
            QCOMPARE(filesBelow(downloads), replace ? QStringList{"clip.wav"} : QStringList());
            if (replace)
                QCOMPARE(readFile(downloads + QStringLiteral("/clip.wav")), QByteArray("the old clip"));
        }
        server.close();   // drop the held connections
        QVERIFY(server.listen());
        AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
    }

    void goodDownload_data()
    {
        QTest::addColumn<S::Response>("response");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray body(200000, 'q');
        QTest::newRow("plain") << S::Response::ok(body) << body;
        QTest::newRow("chunked") << misbehaving(body, S::None, -1, true) << body;
        S::Response drip = misbehaving(body.left(2000), S::SlowDrip, -1);
        drip.dripBytes = 100;
        drip.dripMs = 20;   // well inside the 400 ms limit, 400 ms in all
        QTest::newRow("drip below the timeout") << drip << body.left(2000);
        QTest::newRow("redirect to another http address")
            << S::Response::redirect(server.url("/real.wav").toString().toUtf8()) << QByteArray("real");
        QTest::newRow("empty file") << S::Response::ok(QByteArray()) << QByteArray();
    }
    void goodDownload()
    {
        QFETCH(S::Response, response);
        QFETCH(QByteArray, expected);
        server.route("/real.wav", S::Response::ok("real"));
        server.route("/clip.wav", response);
        auto m = fresh(400);
        QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
        QSignalSpy progress(m.get(), &OnlineLibraryManager::downloadProgress);
        m->downloadFile(url("/clip.wav"), QStringLiteral("clip.wav"), QStringLiteral("Beds"));
        QVERIFY(done.wait(30000));
        QCOMPARE(readFile(downloads + QStringLiteral("/Beds/clip.wav")), expected);
        QCOMPARE(filesBelow(downloads), QStringList{"Beds/clip.wav"});
        if (!expected.isEmpty()) {
            QVERIFY(!progress.isEmpty());
            QCOMPARE(progress.last().at(0).toString(), QStringLiteral("clip.wav"));
            QCOMPARE(progress.last().at(1).toLongLong(), qint64(expected.size()));
        }
    }

    void nonWebAddressesAreNotFetched_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("file") << "file:///etc/passwd";
        QTest::newRow("bare path") << "/etc/passwd";
        QTest::newRow("empty") << "";
        QTest::newRow("ftp") << "ftp://127.0.0.1/x";
        QTest::newRow("data") << "data:text/plain,hello";
    }
    void nonWebAddressesAreNotFetched()
    {
        QFETCH(QString, address);
        auto m = fresh();
        QSignalSpy err(m.get(), &OnlineLibraryManager::downloadError);
        QSignalSpy perr(m.get(), &OnlineLibraryManager::previewError);
        m->downloadFile(address, QStringLiteral("passwd"), QString());
        m->fetchPreview(address);
        QCOMPARE(err.size(), 1);
        QCOMPARE(perr.size(), 1);
        QVERIFY(err.at(0).at(0).toString().startsWith(QStringLiteral("Download failed: ")));
        QCOMPARE(filesBelow(downloads), QStringList());
    }

    void sameNameTwiceAtOnce()
    {
        S::Response a = misbehaving(QByteArray(3000, 'a'), S::SlowDrip, -1);
        a.dripBytes = 500;
        S::Response b = misbehaving(QByteArray(3000, 'b'), S::SlowDrip, -1);
        b.dripBytes = 700;
        server.route("/a", a);
        server.route("/b", b);
        auto m = fresh();
        QSignalSpy done(m.get(), &OnlineLibraryManager::downloadFinished);
        m->downloadFile(url("/a"), QStringLiteral("same.wav"), QString());
        m->downloadFile(url("/b"), QStringLiteral("same.wav"), QString());
        QVERIFY(QTest::qWaitFor([&] { return done.size() == 2; }, 5000));
        const QByteArray got = readFile(downloads + QStringLiteral("/same.wav"));
        QVERIFY(got == QByteArray(3000, 'a') || got == QByteArray(3000, 'b'));
        QCOMPARE(filesBelow(downloads), QStringList{"same.wav"});
    }

    void catalogueOverTheNetwork_data()
    {
        QTest::addColumn<S::Response>("response");
        QTest::addColumn<int>("folders");   // -1: an error
        QTest::addColumn<QString>("error");
        const QByteArray good = catalogue({{"A", {"1.mp3", "2.mp3", "3.mp3"}}, {"B", {"4", "5", "6", "7"}}});
        const QByteArray big(17 * 1024 * 1024, ' ');
        QTest::newRow("good") << S::Response::json(good) << 2 << "";
        QTest::newRow("chunked") << misbehaving(good, S::None, -1, true) << 2 << "";
        QTest::newRow("not json") << S::Response::json("nope") << -1
                                  << "Online library returned an unexpected response.";
        QTest::newRow("17 MiB announced") << S::Response::json(big) << -1
                                          << "Online library returned an unexpected response.";
        S::Response bigChunked = misbehaving(big, S::None, -1, true);
        bigChunked.chunkBytes = 1024 * 1024;
        QTest::newRow("17 MiB chunked") << bigChunked << -1
                                        << "Online library returned an unexpected response.";
        QTest::newRow("404") << S::Response::withStatus(404, "{\"folders\":[]}") << -1 << "Failed to load folders: ";
        QTest::newRow("500") << S::Response::withStatus(500, "oops") << -1 << "Failed to load folders: ";
        QTest::newRow("short") << misbehaving(good, S::ShortBody, 10) << -1
                               << "Failed to load folders: ";
        QTest::newRow("stall") << misbehaving(good, S::StallBeforeHeaders, -1) << -1
                               << "Failed to load folders: no data from the server for 0.4 s";
        QTest::newRow("reset") << misbehaving(good, S::Reset, 20) << -1 << "Failed to load folders: ";
        QTest::newRow("chunked cut") << misbehaving(good, S::ChunkedCut, 20, true) << -1 << "Failed to load folders: ";
        QTest::newRow("redirect to file") << S::Response::redirect("file:///etc/passwd") << -1
                                          << "Failed to load folders: ";
    }
    void catalogueOverTheNetwork()
    {
        QFETCH(S::Response, response);
        QFETCH(int, folders);
        QFETCH(QString, error);
        auto m = fresh(stalls(response) ? 400 : OnlineLibraryManager::kTransferTimeoutMs);
        // A catalogue held from before stays when a later load fails.
        server.route(kCat, S::Response::json(catalogue({{"Held", {"h.mp3"}}})));
        QSignalSpy loaded(m.get(), &OnlineLibraryManager::foldersLoaded);
        QSignalSpy failed(m.get(), &OnlineLibraryManager::errorOccurred);
        m->fetchFolders();
        QVERIFY(loaded.wait(5000));

        server.route(kCat, response);
        m->fetchFolders();
        QVERIFY(m->isLoading());
        QVERIFY(QTest::qWaitFor([&] { return loaded.size() + failed.size() == 2; }, 5000));
        QVERIFY(!m->isLoading());
        if (folders >= 0) {
            QCOMPARE(loaded.size(), 2);
            QCOMPARE(m->folders().size(), folders);
        } else {
            QCOMPARE(failed.size(), 1);
            QVERIFY2(failed.at(0).at(0).toString().startsWith(error), qPrintable(failed.at(0).at(0).toString()));
            QCOMPARE(m->folders(), (QList<OnlineFolder>{{"Held", "Held"}}));
            QCOMPARE(m->allFiles().size(), 1);
        }
        server.close();
        QVERIFY(server.listen());
        AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
    }

    void fetchFilesAnswersFromTheCatalogue()
    {
        server.route(kCat, S::Response::json(catalogue({{"A", {"1", "2", "3"}}, {"B", {"4", "5", "6", "7"}}})));
        auto m = fresh();
        QSignalSpy loaded(m.get(), &OnlineLibraryManager::foldersLoaded);
        QSignalSpy files(m.get(), &OnlineLibraryManager::filesLoaded);
        // Before any catalogue: the load starts, nothing else.
        m->fetchFiles(QString());
        QCOMPARE(server.requestCount(kCat), 0);
        QCOMPARE(files.size(), 0);
        QVERIFY(m->isLoading());
        // While it is under way: an empty answer and no second request.
        m->fetchFiles(QStringLiteral("A"));
        QCOMPARE(files.size(), 1);
        QVERIFY(files.at(0).at(0).value<QList<OnlineFile>>().isEmpty());
        QVERIFY(loaded.wait(5000));
        QCOMPARE(server.requestCount(kCat), 1);

        auto names = [&](const QString& folder) {
            m->fetchFiles(folder);
            QStringList out;
            for (const OnlineFile& f : files.last().at(0).value<QList<OnlineFile>>())
                out << f.folder + QLatin1Char('/') + f.name;
            return out;
        };
        QCOMPARE(names(QString()), (QStringList{"A/1", "A/2", "A/3", "B/4", "B/5", "B/6", "B/7"}));
        QCOMPARE(names(QStringLiteral("B")), (QStringList{"B/4", "B/5", "B/6", "B/7"}));
        QCOMPARE(names(QStringLiteral("b")), QStringList());
        QCOMPARE(names(QStringLiteral("Nope")), QStringList());
        QCOMPARE(server.requestCount(kCat), 1);
    }

    // A catalogue with no files answers fetchFiles with an empty list: one
    // request per refresh, however the page asks afterwards.
    void emptyCatalogueAsksOncePerRefresh_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("{}") << QByteArray("{}");
        QTest::newRow("folders without files") << catalogue({{"A", {}}, {"B", {}}});
    }
    void emptyCatalogueAsksOncePerRefresh()
    {
        QFETCH(QByteArray, body);
        server.route(kCat, S::Response::json(body));
        auto m = fresh();
        int answers = 0;
        // As the page does: every catalogue is followed by fetchFiles("").
        connect(m.get(), &OnlineLibraryManager::foldersLoaded, m.get(), [&] { m->fetchFiles(QString()); });
        connect(m.get(), &OnlineLibraryManager::filesLoaded, m.get(), [&] { ++answers; });
        for (int refresh = 1; refresh <= 2; ++refresh) {
            m->fetchFolders();
            QVERIFY(QTest::qWaitFor([&] { return answers == refresh; }, 5000));
            QTest::qWait(50);
            QCOMPARE(server.requestCount(kCat), refresh);
        }
    }

    void hundredThousandFiles()
    {
        QJsonArray files;
        for (int i = 0; i < 100000; ++i)
            files.append(QJsonObject{{"name", QStringLiteral("f%1.mp3").arg(i)}, {"url", "http://h/f"}, {"duration", i % 400}});
        const QByteArray body = QJsonDocument(QJsonObject{{"folders", QJsonArray{QJsonObject{{"name", "All"}, {"files", files}}}}}).toJson(QJsonDocument::Compact);
        server.route(kCat, S::Response::json(body));
        auto m = fresh();
        QSignalSpy loaded(m.get(), &OnlineLibraryManager::foldersLoaded);
        m->fetchFolders();
        QVERIFY(loaded.wait(10000));
        QCOMPARE(m->allFiles().size(), 100000);
        QCOMPARE(m->allFiles().last().name, QStringLiteral("f99999.mp3"));
    }

    void previewFetch()
    {
        const QByteArray audio(50000, 'p');
        server.route("/p/clip.mp3", S::Response::ok(audio));
        auto m = fresh();
        QSignalSpy ready(m.get(), &OnlineLibraryManager::previewReady);
        m->fetchPreview(url("/p/clip.mp3"));
        QVERIFY(ready.wait(5000));
        const QString path = ready.at(0).at(1).toString();
        QVERIFY(path.endsWith(QStringLiteral(".mp3")));
        QCOMPARE(readFile(path), audio);
        QVERIFY(!filesBelow(downloads).size());
        // Named after this process: a later start knows it from a live one's.
        QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("tarvello-preview-%1-").arg(::getpid())));

        // At start the copies of ended processes go, whole or half-written,
        // and of the old names without a process; live ones and others stay.
        const QString tmp = TestSupport::tempDir() + QStringLiteral("/stale");
        QDir().mkpath(tmp);
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        QVERIFY(child > 0);
        ::waitpid(child, nullptr, 0);   // an ended process's number
        const QStringList gone{QStringLiteral("tarvello-preview-%1-aa.ogg").arg(child),
                               QStringLiteral(".tarvello-preview-%1-bb.wav.Ab12Cd").arg(child),
                               QStringLiteral("tarvello-preview-0b6e3f52-9d7e-4f7c-a1f5-4a1c2f1c9f11.ogg")};
        const QStringList kept{QStringLiteral("tarvello-preview-%1-cc.ogg").arg(::getpid()),
                               QStringLiteral("tarvello-preview-1-init.ogg"), QStringLiteral("other.ogg"),
                               QStringLiteral("my tarvello-preview-notes.txt")};
        for (const QString& n : gone + kept)
            writeFile(tmp + QLatin1Char('/') + n, "x");
        QCOMPARE(OnlineLibraryManager::removeStalePreviews(tmp), int(gone.size()));
        QStringList left = kept;
        left.sort();
        QCOMPARE(filesBelow(tmp), left);
        QFile::remove(path);
    }

    // Against a server that never answers, the event loop keeps turning and
    // the error arrives once the timeout has passed; a cancelled fetch
    // reports nothing and leaves no file.
    void previewAgainstAStalledServer()
    {
        server.route("/p/stall.mp3", misbehaving("x", S::StallBeforeHeaders, -1));
        auto m = fresh(400);
        QSignalSpy ready(m.get(), &OnlineLibraryManager::previewReady);
        QSignalSpy failed(m.get(), &OnlineLibraryManager::previewError);
        const QStringList before = filesBelow(QDir::tempPath());

        QTimer ticker;
        int ticks = 0;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);
        m->fetchPreview(url("/p/stall.mp3"));
        m->cancelPreview();
        m->fetchPreview(url("/p/stall.mp3"));
        QVERIFY(m->previewPending());
        QVERIFY(failed.wait(5000));
        ticker.stop();
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(ready.size(), 0);
        QCOMPARE(failed.at(0).at(1).toString(),
                 QStringLiteral("Preview failed: no data from the server for 0.4 s"));
        QCOMPARE(filesBelow(QDir::tempPath()), before);
        server.close();
        QVERIFY(server.listen());
        AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
    }

    void writeFailureIsReported()
    {
        // The download folder's sub-folder is a file: nothing can be written.
        writeFile(downloads + QStringLiteral("/Beds"), "i am a file");
        server.route("/w.wav", S::Response::ok("w"));
        auto m = fresh();
        QSignalSpy err(m.get(), &OnlineLibraryManager::downloadError);
        m->downloadFile(url("/w.wav"), QStringLiteral("w.wav"), QStringLiteral("Beds"));
        QCOMPARE(err.size(), 1);
        QCOMPARE(err.at(0).at(0).toString(), QStringLiteral("Cannot write to VX Library: ") + downloads
                                                 + QStringLiteral("/Beds/w.wav"));
        QCOMPARE(readFile(downloads + QStringLiteral("/Beds")), QByteArray("i am a file"));
    }
};

QTEST_MAIN(TestOnlineLibrary)
#include "tst_onlinelibrary.moc"
