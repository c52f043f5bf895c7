// The window's update check against a local service: what each reply shows
// (bar, title, version label, toasts), the one retry after a failure, the
// notes dialog, Dismiss, and the download of the package.
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "PackageInstaller.h"
#include "SessionManager.h"
#include "UpdateSupport.h"

using U = UpdateTestAccess;
using S = LocalHttpServer;
using namespace UpdateTest;

namespace {

const QString kIdleTitle = QStringLiteral("Tarvello Rododu — idle");
const QString kVersionText = QStringLiteral("Tarvello Rododu v2.0.84");

QByteArray reply(const QString& version, bool active = true, bool force = false, bool download = true,
                 const QString& notes = QStringLiteral("Faster pads"), const QString& url = QString())
{
    QJsonObject o{{"success", true},        {"latest_version", version}, {"update_active", active},
                  {"force_update", force},  {"enable_download", download}, {"update_notes", notes},
                  {"download_url", url}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Sets when the file was last written.
bool setWritten(const QString& path, const QDateTime& when)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(when, QFileDevice::FileModificationTime);
}

// The id of a process that has ended: a child that ended at once.
qint64 endedProcessId()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child ? qint64(child) : -1;
}

} // namespace

class TestUpdateWindow : public QObject
{
    Q_OBJECT
    S server;
    MainWindow* w = nullptr;
    Asked asked;

    void check(bool silent)
    {
        w->checkForUpdates(silent);
        QVERIFY(settle(w));
    }
    void offer(const QString& url)
    {
        server.route(kPath, S::Response::json(reply(QStringLiteral("2.1"), true, false, true, QString(), url)));
        check(true);
        QVERIFY(U::bar(w)->isVisibleTo(w));
        QCOMPARE(U::downloadUrl(w), url);
    }
    // The user's check, from the Tools menu, to its end.
    void checkFromMenu()
    {
        QAction* entry = nullptr;
        for (QAction* a : w->findChildren<QAction*>())
            if (a->text() == QStringLiteral("Check for Updates…"))
                entry = a;
        QVERIFY(entry);
        entry->trigger();
        QVERIFY(settle(w));
    }
    // Clicks Download and waits for the download's end.
    void download()
    {
        U::button(w)->click();
        QVERIFY(settle(w));
        QVERIFY(!U::downloading(w));
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        QCoreApplication::setApplicationVersion(QStringLiteral("2.0.84"));
        QVERIFY(server.listen());
        setService(server.url());
        Modal::setHandler([this](const Modal::Request& r) {
            asked.requests << r;
            return asked.answer(r);
        });
        w = new MainWindow;
        // The start-up check is driven by the tests.
        U::startTimer(w)->stop();
    }
    void cleanupTestCase()
    {
        Modal::setHandler(nullptr);
        delete w;
    }
    void init()
    {
        U::bar(w)->hide();
        w->setWindowTitle(kIdleTitle);
        U::versionLabel(w)->setText(kVersionText);
        U::retryPending(w) = false;
        U::latest(w).clear();
        U::downloadUrl(w).clear();
        U::notes(w).clear();
        U::installerReady(w).clear();
        U::button(w)->setText(QStringLiteral("Download"));
        AppSettings().remove(SettingsKeys::UpdateDismissed);
        setService(server.url());
        server.clearRequests();
        asked.requests.clear();
        asked.answer = [](const Modal::Request&) { return QVariant(); };
        takeToasts();
    }

    // What one handled reply shows.
    void decisions_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QString>("dismissed");
        QTest::addColumn<QString>("shows"); // "offer", "urgent", "latest" or "nothing"
        QTest::addColumn<QString>("version"); // in the title for an offer
        // What a check from the menu says where the others show nothing
        // (empty: it shows nothing either).
        QTest::addColumn<QString>("answer");

        const QString notService = QStringLiteral("The update check got an answer that is not the update "
                                                  "service's (a login or network page?). Try again later.");
        const QString noSuccess =
            QStringLiteral("The update service did not report a successful check. Try again later.");
        const QString noVersion = QStringLiteral("The update service's answer names no version. Try again later.");
        const QString empty = QStringLiteral("The update service's answer was empty. Try again later.");

        QTest::newRow("newer") << reply("2.1") << false << "" << "offer" << "2.1" << "";
        QTest::newRow("newer, silent") << reply("2.1") << true << "" << "offer" << "2.1" << "";
        QTest::newRow("forced") << reply("2.1", true, true) << false << "" << "urgent" << "2.1" << "";
        QTest::newRow("2.0.100 is newer") << reply("2.0.100") << false << "" << "offer" << "2.0.100" << "";
        QTest::newRow("2.0.84.1 is newer") << reply("2.0.84.1") << false << "" << "offer" << "2.0.84.1" << "";
        QTest::newRow("blanks around") << reply(" 2.1 ") << false << "" << "offer" << "2.1" << "";
        QTest::newRow("2.0.9 is older") << reply("2.0.9") << false << "" << "latest" << "" << "";
        QTest::newRow("same version") << reply("2.0.84") << false << "" << "latest" << "" << "";
        QTest::newRow("same version, silent") << reply("2.0.84") << true << "" << "latest" << "" << "";
        QTest::newRow("not active") << reply("9.0", false) << false << "" << "latest" << "" << "";
        QTest::newRow("v prefix") << reply("v2.1") << false << "" << "latest" << "" << "";
        QTest::newRow("letters") << reply("abc") << false << "" << "latest" << "" << "";
        QTest::newRow("empty version") << reply("") << false << "" << "nothing" << "" << noVersion;
        QTest::newRow("blank version") << reply("   ") << false << "" << "nothing" << "" << noVersion;
        QTest::newRow("no success") << QByteArray(R"({"success":false,"latest_version":"9","update_active":true})")
                                    << false << "" << "nothing" << "" << noSuccess;
        QTest::newRow("success false alone") << QByteArray(R"({"success": false})") << false << "" << "nothing" << ""
                                             << noSuccess;
        QTest::newRow("success missing") << QByteArray(R"({"latest_version":"9","update_active":true})") << false
                                         << "" << "nothing" << "" << noSuccess;
        QTest::newRow("success as text")
            << QByteArray(R"({"success":"true","latest_version":"9","update_active":true})") << false << ""
            << "nothing" << "" << noSuccess;
        QTest::newRow("version as number")
            << QByteArray(R"({"success":true,"latest_version":2.1,"update_active":true})") << false << ""
            << "nothing" << "" << noVersion;
        QTest::newRow("array") << QByteArray(R"([{"success":true,"latest_version":"9","update_active":true}])")
                               << false << "" << "nothing" << "" << noSuccess;
        QTest::newRow("not json") << QByteArray("<html>502</html>") << false << "" << "nothing" << "" << notService;
        QTest::newRow("login page, status 200")
            << QByteArray("<!DOCTYPE html><html><head><title>Sign in</title></head>"
                          "<body><form action=\"/login\">Wi-Fi login</form></body></html>")
            << false << "" << "nothing" << "" << notService;
        QTest::newRow("JSON cut short") << QByteArray(R"({"success":true,"latest_version":"2.1")") << false << ""
                                        << "nothing" << "" << notService;
        QTest::newRow("empty body") << QByteArray() << false << "" << "nothing" << "" << empty;
        QTest::newRow("blank body") << QByteArray(" \r\n\t\n") << false << "" << "nothing" << "" << empty;
        QTest::newRow("one character, not JSON") << QByteArray("x") << false << "" << "nothing" << "" << notService;
        QTest::newRow("dismissed") << reply("2.1") << false << "2.1" << "nothing" << "" << "";
        QTest::newRow("dismissed, forced") << reply("2.1", true, true) << false << "2.1" << "urgent" << "2.1" << "";
        QTest::newRow("other version dismissed") << reply("2.2") << false << "2.1" << "offer" << "2.2" << "";
        QTest::newRow("dismissed, not newer") << reply("2.0.84") << false << "2.0.84" << "latest" << "" << "";
    }
    void decisions()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, silent);
        QFETCH(QString, dismissed);
        QFETCH(QString, shows);
        QFETCH(QString, version);
        QFETCH(QString, answer);
        if (!dismissed.isEmpty())
            AppSettings().setValue(SettingsKeys::UpdateDismissed, dismissed);
        QJsonParseError parsed;
        QJsonDocument::fromJson(body, &parsed);
        const auto expectNotJsonWarning = [&] {
            if (parsed.error != QJsonParseError::NoError)
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(
                    QStringLiteral("^\\[Update\\] Check response is not valid JSON: .* raw: ")
                    + QRegularExpression::escape(QString::fromUtf8(body)) + QStringLiteral("$")));
        };
        expectNotJsonWarning();
        // A page comes as a page, as a captive portal sends it.
        server.route(kPath, body.startsWith('<') ? S::Response::ok(body, "text/html; charset=utf-8")
                                                 : S::Response::json(body));
        check(silent);
        QCOMPARE(server.requestCount(kPath), 1);

        const bool offered = shows == QLatin1String("offer") || shows == QLatin1String("urgent");
        QCOMPARE(U::bar(w)->isVisibleTo(w), offered);
        QCOMPARE(w->windowTitle(), offered ? QStringLiteral("Tarvello Rododu — 🔴 Update Available v") + version
                                           : kIdleTitle);
        QStringList toasts;
        if (offered && !silent)
            toasts << QStringLiteral("🔔 Update available: v") + version;
        if (shows == QLatin1String("latest") && !silent)
            toasts << QStringLiteral("✅ You have the latest version!");
        QCOMPARE(takeToasts(), toasts);

        if (shows == QLatin1String("latest")) {
            QVERIFY(U::versionLabel(w)->text().contains(QStringLiteral("✓ v2.0.84 — Latest")));
            QVERIFY(U::versionTimer(w)->isActive());
            TestSupport::fireTimer(U::versionTimer(w));
        }
        QCOMPARE(U::versionLabel(w)->text(), kVersionText);

        if (offered) {
            const bool urgent = shows == QLatin1String("urgent");
            QCOMPARE(U::bar(w)->styleSheet(), UpdateCheck::barStyleSheet(urgent));
            QCOMPARE(U::label(w)->text(), UpdateCheck::offerText(version, QStringLiteral("Faster pads"), urgent));
            QVERIFY(U::button(w)->isVisibleTo(w));
            QVERIFY(U::notesButton(w)->isVisibleTo(w));
        }

        // Where the automatic checks stay silent, the user's own check
        // answers; nothing is retried, nothing is offered.
        if (shows == QLatin1String("nothing")) {
            expectNotJsonWarning();
            checkFromMenu();
            const QStringList said = takeToasts();
            QCOMPARE(said, answer.isEmpty() ? QStringList() : QStringList{answer});
            // The warning toast draws its own sign; its text has none.
            for (const QString& text : said)
                QVERIFY2(!text.contains(QChar(0x26A0)), qPrintable(text));
            QVERIFY(!U::bar(w)->isVisibleTo(w));
            QVERIFY(!U::retryPending(w));
            QCOMPARE(w->windowTitle(), kIdleTitle);
        }
    }

    // The bar's buttons follow the reply; notes and version reach the bar
    // as text, never as markup.
    void offerPieces_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<bool>("download");
        QTest::newRow("no notes, no download") << "2.1" << "" << false;
        QTest::newRow("markup") << "2.1<img src=x>" << "<b>bold</b> & <a href='x'>link</a>" << true;
        QTest::newRow("10 MB of notes") << "2.1" << QString(10 * 1024 * 1024, QLatin1Char('n')) << true;
    }
    void offerPieces()
    {
        QFETCH(QString, version);
        QFETCH(QString, notes);
        QFETCH(bool, download);
        server.route(kPath, S::Response::json(reply(version, true, false, download, notes)));
        check(true);
        QVERIFY(U::bar(w)->isVisibleTo(w));
        QCOMPARE(U::button(w)->isVisibleTo(w), download);
        QCOMPARE(U::button(w)->isEnabled(), download);
        QCOMPARE(U::notesButton(w)->isVisibleTo(w), !notes.isEmpty());
        QCOMPARE(U::label(w)->text(), UpdateCheck::offerText(version, notes, false));
        QVERIFY(U::label(w)->text().size() < 200);
        QVERIFY(!U::label(w)->text().contains(QLatin1String("<img")));

        // The notes dialog shows the notes as plain text.
        QDialog* shown = nullptr;
        QString shownText;
        Qt::TextFormat format = Qt::AutoText;
        asked.answer = [&](const Modal::Request& r) {
            shown = r.dialog;
            if (auto* l = r.dialog->findChild<QLabel*>(QStringLiteral("updateNotesLabel"))) {
                format = l->textFormat();
                shownText = l->text();
            }
            return QVariant(int(QDialog::Accepted));
        };
        U::notesButton(w)->click();
        QVERIFY(shown);
        QCOMPARE(format, Qt::PlainText);
        QCOMPARE(asked.titles(), QStringList{QStringLiteral("What's New in v") + version});
        if (notes.isEmpty())
            QCOMPARE(shownText, QStringLiteral("No release notes provided."));
        else if (notes.size() < 100)
            QCOMPARE(shownText, notes);
        else
            QVERIFY(notes.startsWith(shownText.chopped(1)) && shownText.size() < 50000);
    }

    void dismiss()
    {
        server.route(kPath, S::Response::json(reply(QStringLiteral("2.3"))));
        check(false);
        takeToasts();
        U::dismiss(w)->click();
        QVERIFY(!U::bar(w)->isVisibleTo(w));
        QCOMPARE(SettingsKeys::readString(SettingsKeys::UpdateDismissed), QStringLiteral("2.3"));
        // The title keeps its offer.
        QVERIFY(w->windowTitle().contains(QLatin1String("2.3")));
        // Even asked from the menu, the same version shows nothing at all.
        w->setWindowTitle(kIdleTitle);
        check(false);
        QVERIFY(!U::bar(w)->isVisibleTo(w));
        QCOMPARE(takeToasts(), QStringList());
        QCOMPARE(w->windowTitle(), kIdleTitle);
    }

    // The request as sent: address, header, redirects, a 10 s limit; one
    // day timer for all checks; the managers go with their replies.
    void request()
    {
        server.route(kPath, S::Response::json(reply(QStringLiteral("2.0.84"))));
        QVERIFY(!U::dayTimer(w) || U::dayTimer(w)->interval() == 86400000);
        w->checkForUpdates(true);
        const QList<QNetworkReply*> replies = w->findChildren<QNetworkReply*>();
        QCOMPARE(replies.size(), 1);
        const QNetworkRequest req = replies.first()->request();
        QCOMPARE(req.url(), server.url(kPath));
        QCOMPARE(req.transferTimeout(), 10000);
        QCOMPARE(req.header(QNetworkRequest::ContentTypeHeader).toString(), QStringLiteral("application/json"));
        QCOMPARE(req.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
                 int(QNetworkRequest::NoLessSafeRedirectPolicy));
        QTimer* day = U::dayTimer(w);
        QVERIFY(day && day->isActive());
        QCOMPARE(day->interval(), 86400000);
        QVERIFY(settle(w));
        w->checkForUpdates(true);
        QVERIFY(settle(w));
        QCOMPARE(U::dayTimer(w), day);
        QCOMPARE(w->findChildren<QTimer*>().count(day), 1);
        QCOMPARE(server.requests().first().method, QByteArray("GET"));
        QCOMPARE(server.requests().first().headers.value("content-type"), QByteArray("application/json"));
        // The day's tick checks silently.
        TestSupport::fireTimer(day);
        day->start(); // firing by hand stopped it
        QVERIFY(settle(w));
        QCOMPARE(server.requestCount(kPath), 3);
        QCOMPARE(takeToasts(), QStringList());
    }

    // Until a service is set, the default address names a reserved domain:
    // no request leaves the program and nothing shows, unless the user asked.
    void noServiceSet()
    {
        AppSettings().remove(SettingsKeys::UpdateServiceUrl);
        QCOMPARE(SettingsKeys::serviceUrl(), SettingsKeys::kDefaultServiceUrl);
        w->checkForUpdates(false);
        QCOMPARE(managers(w), 0);
        QVERIFY(!U::retryPending(w));
        QCOMPARE(takeToasts(), QStringList());
        QCOMPARE(U::versionLabel(w)->text(), kVersionText);
        QVERIFY(U::dayTimer(w) && U::dayTimer(w)->isActive());
        checkFromMenu();
        QCOMPARE(takeToasts(), QStringList{QStringLiteral("Could not check for updates: no update service is set.")});
        QVERIFY(!U::retryPending(w));
    }

    // A refused connection: one silent retry on the 30 s timer, then none
    // until a check succeeds again.
    void retry()
    {
        setService(S::refusedUrl());
        check(false);
        QVERIFY(U::retryPending(w));
        QTimer* retry = U::retryTimer(w);
        QVERIFY(retry && retry->isActive() && retry->isSingleShot());
        QCOMPARE(retry->interval(), 30000);
        QCOMPARE(takeToasts(), QStringList());
        TestSupport::fireTimer(retry);
        QVERIFY(settle(w));
        QVERIFY(!retry->isActive()); // the second failure in a row waits
        QVERIFY(U::retryPending(w));

        // A success clears the mark; the next failure gets its retry again.
        setService(server.url());
        server.route(kPath, S::Response::json(reply(QStringLiteral("2.0.84"))));
        check(true);
        QVERIFY(!U::retryPending(w));
        setService(S::refusedUrl());
        check(true);
        QVERIFY(retry->isActive());
        retry->stop();
        // A server that answers with an error page counts as a failure too.
        setService(server.url());
        U::retryPending(w) = false;
        server.route(kPath, S::Response::withStatus(500, "oops"));
        check(true);
        QVERIFY(U::retryPending(w) && retry->isActive());
        retry->stop();
        QVERIFY(!U::bar(w)->isVisibleTo(w));
        QCOMPARE(takeToasts(), QStringList());

        // The user's own check says it failed: an error page is the
        // service's answer, a refused connection never reached it. Its
        // retry stays silent.
        U::retryPending(w) = false;
        checkFromMenu();
        QCOMPARE(takeToasts(),
                 QStringList{QStringLiteral("The update service answered the check with an error. Try again later.")});
        QVERIFY(U::retryPending(w) && retry->isActive());
        retry->stop();
        setService(S::refusedUrl());
        checkFromMenu();
        QCOMPARE(takeToasts(), QStringList{QStringLiteral("Could not reach the update service. Check the connection "
                                                          "and try again later.")});
        U::retryPending(w) = false;
        checkFromMenu();
        QVERIFY(retry->isActive());
        takeToasts();
        TestSupport::fireTimer(retry);
        QVERIFY(settle(w));
        QCOMPARE(takeToasts(), QStringList());
    }

    // The download: what each answer of the server leaves on disk and in
    // the window. Each download has a file of its own, named with the
    // program's process id: the download of another program running at the
    // same time is never touched, one of a program that ended goes once it is
    // an hour old.
    void downloads_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("box");   // title of the box shown, empty for none
        QTest::addColumn<QString>("says");  // part of its text
        QTest::addColumn<bool>("kept");     // the window's own new installer is in the folder
        QTest::newRow("package") << "ok" << "" << "" << true;
        QTest::newRow("redirected") << "redirect" << "" << "" << true;
        QTest::newRow("another window downloads too") << "two windows" << "" << "" << true;
        QTest::newRow("leftovers of ended programs") << "leftovers" << "" << "" << true;
        QTest::newRow("error page of 5 kB") << "page" << "Download Error" << "Size: 5120 bytes" << false;
        QTest::newRow("404") << "404" << "Update Failed" << "Download failed: " << false;
        QTest::newRow("cut short") << "short" << "Update Failed" << "Download failed: " << false;
        QTest::newRow("reset mid-body") << "reset" << "Update Failed" << "Download failed: " << false;
        QTest::newRow("chunked, cut") << "chunkcut" << "Update Failed" << "Download failed: " << false;
        QTest::newRow("file address") << "file" << "Update Failed" << "not a web address" << false;
        QTest::newRow("ftp address") << "ftp" << "Update Failed" << "not a web address" << false;
        QTest::newRow("empty address") << "empty" << "Update Failed" << "not a web address" << false;
        QTest::newRow("folder not writable") << "unwritable" << "Update Failed" << "Download failed: " << false;
        // The folder is this user's alone, or nothing is fetched into it.
        QTest::newRow("folder missing: made private") << "nofolder" << "" << "" << true;
        QTest::newRow("folder of another user") << "owner" << "Update Failed" << "belongs to another user" << false;
        QTest::newRow("folder open to others") << "mode" << "Update Failed" << "open to other users (mode 0755)"
                                               << false;
        QTest::newRow("folder is a link") << "link" << "Update Failed" << "is not a folder" << false;
        // No data for 30 s: the download ends, its part goes, a new click fetches anew.
        QTest::newRow("stalled after 10 kB") << "stall" << "Update Failed" << "no data for 30 seconds" << false;
    }
    void downloads()
    {
        QFETCH(QString, kind);
        QFETCH(QString, box);
        QFETCH(QString, says);
        QFETCH(bool, kept);
        // On screen, where the bar is laid out as the operator sees it.
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        const auto hideWindow = qScopeGuard([this] { w->hide(); });
        const QString folder = UpdateCheck::downloadFolder();
        QVERIFY(freshDownloadFolder());
        // The download of another program that runs (this test's parent),
        // written long ago.
        const QString installer =
            folder + QStringLiteral("/TarvelloRuzoru_Setup-%1-00000000000000aa.exe").arg(::getppid());
        QCOMPARE(UpdateCheck::installerOwner(installer), qint64(::getppid()));
        const QByteArray old = package(150000);
        QVERIFY(safeWriteFile(installer, old));
        const QDateTime longAgo = QDateTime::currentDateTimeUtc().addSecs(-2 * UpdateCheck::kLeftoverAgeSecs);
        QVERIFY(setWritten(installer, longAgo));
        QStringList others{QFileInfo(installer).fileName()}; // files in the folder that stay as they are

        const QByteArray fresh = package(300000);
        S::Response r = S::Response::ok(fresh);
        QString url = server.url(QStringLiteral("/pkg.deb")).toString();
        if (kind == QLatin1String("redirect")) {
            server.route(QStringLiteral("/moved.deb"), S::Response::redirect("/pkg.deb"));
            url = server.url(QStringLiteral("/moved.deb")).toString();
        } else if (kind == QLatin1String("page")) {
            r = S::Response::ok(QByteArray(5120, 'e'), "text/html");
        } else if (kind == QLatin1String("404")) {
            r = S::Response::withStatus(404, QByteArray(5120, 'e'));
        } else if (kind == QLatin1String("short")) {
            r.misbehaviour = S::ShortBody;
            r.cutAt = 120000;
        } else if (kind == QLatin1String("reset")) {
            r.misbehaviour = S::Reset;
            r.cutAt = 120000;
        } else if (kind == QLatin1String("chunkcut")) {
            r.misbehaviour = S::ChunkedCut;
            r.cutAt = 120000;
        } else if (kind == QLatin1String("file")) {
            url = QStringLiteral("file://") + installer;
        } else if (kind == QLatin1String("ftp")) {
            url = QStringLiteral("ftp://127.0.0.1/pkg.deb");
        } else if (kind == QLatin1String("empty")) {
            url.clear();
        } else if (kind == QLatin1String("unwritable")) {
            // A file where the download folder should be.
            QVERIFY(QDir(UpdateCheck::downloadFolder()).removeRecursively());
            QVERIFY(safeWriteFile(UpdateCheck::downloadFolder(), "not a folder"));
        } else if (kind == QLatin1String("nofolder")) {
            QVERIFY(QDir(folder).removeRecursively());
        } else if (kind == QLatin1String("owner")) {
            if (::getuid() != 0)
                QSKIP("only root can give a folder to another user");
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        } else if (kind == QLatin1String("mode")) {
            QCOMPARE(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        } else if (kind == QLatin1String("link")) {
            QVERIFY(QFile::rename(folder, folder + QStringLiteral("-elsewhere")));
            QVERIFY(QFile::link(folder + QStringLiteral("-elsewhere"), folder));
        } else if (kind == QLatin1String("stall")) {
            r.misbehaviour = S::StallMidBody;
            r.cutAt = 10240;
        } else if (kind == QLatin1String("leftovers")) {
            // Downloads of a program that has ended: an old one, one whose
            // program handed it to the package tool just now, and one dated
            // a day ahead of the clock (its date tells nothing of its age).
            const qint64 ended = endedProcessId();
            QVERIFY(ended > 0);
            for (const char* tag : {"00000000000000bb", "00000000000000cc", "00000000000000dd"}) {
                const QString f = folder + QStringLiteral("/TarvelloRuzoru_Setup-%1-%2.exe").arg(ended).arg(tag);
                QCOMPARE(UpdateCheck::installerOwner(f), ended);
                QVERIFY(safeWriteFile(f, old));
            }
            QVERIFY(setWritten(folder + QStringLiteral("/TarvelloRuzoru_Setup-%1-00000000000000bb.exe").arg(ended),
                               longAgo));
            QVERIFY(setWritten(folder + QStringLiteral("/TarvelloRuzoru_Setup-%1-00000000000000dd.exe").arg(ended),
                               QDateTime::currentDateTimeUtc().addDays(1)));
            others << QStringLiteral("TarvelloRuzoru_Setup-%1-00000000000000cc.exe").arg(ended);
        }
        auto restoreFolder = qScopeGuard([&] {
            if (kind == QLatin1String("owner"))
                QCOMPARE(::chown(QFile::encodeName(folder).constData(), ::getuid(), ::getgid()), 0);
            if (kind == QLatin1String("link")) {
                QVERIFY(QFile::remove(folder));
                QVERIFY(QFile::rename(folder + QStringLiteral("-elsewhere"), folder));
            }
        });
        server.route(QStringLiteral("/pkg.deb"), r);
        std::unique_ptr<MainWindow> second;
        if (kind == QLatin1String("two windows")) {
            // A second window of this program fetches the same offer first.
            second = std::make_unique<MainWindow>();
            U::startTimer(second.get())->stop();
            server.route(kPath, S::Response::json(reply(QStringLiteral("2.1"), true, false, true, QString(), url)));
            second->checkForUpdates(true);
            QVERIFY(settle(second.get()));
            U::button(second.get())->click();
            QVERIFY(settle(second.get()));
            QCOMPARE(U::installerSha256(second.get()), QCryptographicHash::hash(fresh, QCryptographicHash::Sha256));
            others << QFileInfo(U::installerReady(second.get())).fileName();
        }
        offer(url);
        server.clearRequests();
        takeToasts();
        if (kind == QLatin1String("stall")) {
            // The server holds the connection after its first 10 kB: the
            // window's own timer, driven here, decides that it stalled.
            U::button(w)->click();
            QTimer* stall = U::stallTimer(w);
            QVERIFY(stall && stall->isActive() && stall->isSingleShot());
            QCOMPARE(stall->interval(), 30000);
            QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 1, 20000);
            // Its 10 kB are in the part file beside the other download.
            auto partBytes = [&folder, &installer] {
                qint64 n = 0;
                for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
                    if (f.fileName() != QFileInfo(installer).fileName())
                        n += f.size();
                return n;
            };
            QTRY_COMPARE_WITH_TIMEOUT(partBytes(), qint64(10240), 20000);
            QVERIFY(stall->isActive());
            TestSupport::fireTimer(stall);
            QVERIFY(settle(w));
            QVERIFY(!U::downloading(w));
        } else {
            download();
        }
        if (kind == QLatin1String("empty")) {
            // The bar's button has nothing to fetch; asked directly, the
            // empty address is refused like any other that is no web address.
            QVERIFY(asked.requests.isEmpty());
            w->startSilentDownload(url);
        }

        QCOMPARE(asked.titles(), box.isEmpty() ? QStringList() : QStringList{box});
        if (!box.isEmpty())
            QVERIFY2(asked.requests.first().text.contains(says), qPrintable(asked.requests.first().text));
        if (kind == QLatin1String("file") || kind == QLatin1String("ftp") || kind == QLatin1String("empty"))
            QCOMPARE(server.requestCount(), 0);
        // What else lay in the folder is there as it was, unless the folder
        // itself went; the old download of the ended program is gone.
        QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        if (kind != QLatin1String("unwritable") && kind != QLatin1String("nofolder")) {
            for (const QString& name : std::as_const(others)) {
                QVERIFY2(left.removeOne(name), qPrintable(name));
                QFile f(folder + QLatin1Char('/') + name);
                QVERIFY(f.open(QIODevice::ReadOnly));
                QCOMPARE(f.readAll(), name.startsWith(QLatin1String("TarvelloRuzoru_Setup-") + QString::number(
                                                           QCoreApplication::applicationPid()))
                                          ? fresh
                                          : old);
            }
        }
        // Besides, the window's own download under a name of its own, and no
        // temporary file.
        const QString own = U::installerReady(w);
        QCOMPARE(left, kept ? QStringList{QFileInfo(own).fileName()} : QStringList());
        if (kept) {
            QCOMPARE(QFileInfo(own).absolutePath(), folder);
            QCOMPARE(UpdateCheck::installerOwner(own), QCoreApplication::applicationPid());
            QFile f(own);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), fresh);
        }
        if (second)
            QVERIFY(U::installerReady(second.get()) != own);

        const bool offered = kept;
        QCOMPARE(U::button(w)->text(), offered ? QStringLiteral("Restart && Install") : QStringLiteral("Download"));
        QVERIFY(U::button(w)->isEnabled());
        if (offered) {
            // The toast that names the button leaves it in sight.
            ToastWidget* card = ToastManager::instance()->current();
            QVERIFY(card);
            const QRect button(U::button(w)->mapToGlobal(QPoint(0, 0)), U::button(w)->size());
            QVERIFY2(!card->geometry().intersects(button),
                     qPrintable(QStringLiteral("card %1,%2 %3x%4 over the button at %5,%6 %7x%8")
                                    .arg(card->x()).arg(card->y()).arg(card->width()).arg(card->height())
                                    .arg(button.x()).arg(button.y()).arg(button.width()).arg(button.height())));
        }
        QCOMPARE(takeToasts(), offered ? QStringList{QStringLiteral("✅ Downloaded 0.3 MB — click Restart & Install")}
                                       : QStringList());
        if (kind == QLatin1String("unwritable"))
            QVERIFY(QFile::remove(UpdateCheck::downloadFolder()));
        if (offered) {
            // What was written is what came, by size and SHA-256; a fresh
            // folder is made for this user alone.
            QCOMPARE(U::installerSize(w), qint64(fresh.size()));
            QCOMPARE(U::installerSha256(w), QCryptographicHash::hash(fresh, QCryptographicHash::Sha256));
            struct stat st {};
            QCOMPARE(::lstat(QFile::encodeName(folder).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 07777), 0700);
            QCOMPARE(st.st_uid, ::getuid());
        } else {
            QVERIFY(U::installerReady(w).isEmpty());
        }
        if (kind == QLatin1String("stall")) {
            // A later click starts a new download, which succeeds.
            restoreFolder.dismiss();
            server.route(QStringLiteral("/pkg.deb"), S::Response::ok(fresh));
            asked.requests.clear();
            download();
            QCOMPARE(server.requestCount(QStringLiteral("/pkg.deb")), 2);
            QVERIFY(asked.requests.isEmpty());
            QCOMPARE(U::button(w)->text(), QStringLiteral("Restart && Install"));
            QCOMPARE(U::installerSha256(w), QCryptographicHash::hash(fresh, QCryptographicHash::Sha256));
        }
        // A new offer from another address forgets the download, and its file goes.
        if (offered) {
            const QString first = U::installerReady(w);
            server.route(QStringLiteral("/other.deb"), S::Response::ok(fresh));
            offer(server.url(QStringLiteral("/other.deb")).toString());
            QVERIFY(U::installerReady(w).isEmpty());
            QVERIFY(!QFileInfo::exists(first));
        }
    }

    // A file replaced in the folder after its download is refused at the
    // install: a box says why and the package tool is never started.
    void replacedAfterDownload_data()
    {
        QTest::addColumn<int>("bytes"); // of the file put in its place
        QTest::newRow("same size") << 300000;
        QTest::newRow("other size") << 250000;
    }
    void replacedAfterDownload()
    {
        QFETCH(int, bytes);
        const QString dir = TestSupport::tempDir();
        const QString argsFile = dir + QStringLiteral("/args.txt");
        PackageInstaller::setLauncher(TestSupport::argumentRecorder(dir, argsFile));
        auto restore = qScopeGuard([] { PackageInstaller::setLauncher(QString()); });
        QVERIFY(freshDownloadFolder());
        const QByteArray fresh = package(300000);
        server.route(QStringLiteral("/pkg.deb"), S::Response::ok(fresh));
        offer(server.url(QStringLiteral("/pkg.deb")).toString());
        download();
        QCOMPARE(U::button(w)->text(), QStringLiteral("Restart && Install"));

        QByteArray other = package(bytes);
        other.resize(bytes, 'x');
        QVERIFY(other != fresh);
        QVERIFY(safeWriteFile(U::installerReady(w), other));
        U::button(w)->click();
        QTRY_COMPARE_WITH_TIMEOUT(asked.titles(), QStringList{QStringLiteral("Update Failed")}, 10000);
        QVERIFY2(asked.requests.first().text.contains(QStringLiteral("not the file this program downloaded")),
                 qPrintable(asked.requests.first().text));
        QVERIFY(!QFile::exists(argsFile));
        QVERIFY(U::installerReady(w).isEmpty());
        QCOMPARE(U::button(w)->text(), QStringLiteral("Download"));
        QVERIFY(U::button(w)->isEnabled());
    }

    // A reply that offers nothing newer withdraws the offer standing from an
    // earlier one: bar, title, notes, and the download, done or running.
    void withdrawnOffer_data()
    {
        QTest::addColumn<QString>("stage"); // "offered", "downloaded", "downloading"
        QTest::addColumn<QByteArray>("later");
        for (const char* stage : {"offered", "downloaded", "downloading"}) {
            QTest::addRow("%s, then 2.0.9", stage) << stage << reply(QStringLiteral("2.0.9"));
            QTest::addRow("%s, then not active", stage) << stage << reply(QStringLiteral("2.0.85"), false);
        }
    }
    void withdrawnOffer()
    {
        QFETCH(QString, stage);
        QFETCH(QByteArray, later);
        QVERIFY(freshDownloadFolder());
        S::Response pkg = S::Response::ok(package(200000));
        if (stage == QLatin1String("downloading")) {
            pkg.misbehaviour = S::StallMidBody;
            pkg.cutAt = 10240;
        }
        server.route(QStringLiteral("/pkg.deb"), pkg);
        server.route(kPath, S::Response::json(reply(QStringLiteral("2.0.85"), true, false, true,
                                                    QStringLiteral("Notes of 2.0.85"),
                                                    server.url(QStringLiteral("/pkg.deb")).toString())));
        check(false);
        QVERIFY(U::bar(w)->isVisibleTo(w));
        if (stage == QLatin1String("downloaded")) {
            download();
            QVERIFY(QFile::exists(U::installerReady(w)));
        } else if (stage == QLatin1String("downloading")) {
            U::button(w)->click();
            QTRY_COMPARE_WITH_TIMEOUT(server.openConnections(), 1, 20000);
            QVERIFY(U::downloading(w));
        }
        takeToasts();

        server.route(kPath, S::Response::json(later));
        check(false);
        QVERIFY(!U::bar(w)->isVisibleTo(w));
        QVERIFY(!w->windowTitle().contains(QStringLiteral("Update Available")));
        QVERIFY(!U::notesButton(w)->isVisibleTo(w));
        QVERIFY(U::notes(w).isEmpty());
        QVERIFY(U::downloadUrl(w).isEmpty());
        QCOMPARE(takeToasts(), QStringList{QStringLiteral("✅ You have the latest version!")});
        // The download is gone: nothing to install, nothing running, no part left.
        QVERIFY(!U::downloading(w));
        QVERIFY(U::installerReady(w).isEmpty());
        QCOMPARE(QDir(UpdateCheck::downloadFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(U::button(w)->text(), QStringLiteral("Download"));
        QVERIFY(asked.requests.isEmpty());
        TestSupport::fireTimer(U::versionTimer(w));
    }

    // A second click while a download runs starts nothing; the progress
    // shows on the button.
    void secondClick()
    {
        QVERIFY(freshDownloadFolder());
        S::Response r = S::Response::ok(package(200000));
        r.misbehaviour = S::SlowDrip;
        r.dripBytes = 20000;
        r.dripMs = 30;
        server.route(QStringLiteral("/slow.deb"), r);
        offer(server.url(QStringLiteral("/slow.deb")).toString());
        server.clearRequests();
        U::button(w)->click();
        QCOMPARE(U::button(w)->text(), QStringLiteral("Downloading…"));
        QVERIFY(!U::button(w)->isEnabled());
        w->startSilentDownload(server.url(QStringLiteral("/slow.deb")).toString());
        QTRY_VERIFY_WITH_TIMEOUT(U::button(w)->text().startsWith(QStringLiteral("⏳ ")), 20000);
        QVERIFY(settle(w));
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(U::button(w)->text(), QStringLiteral("Restart && Install"));
        QVERIFY(asked.requests.isEmpty());
    }
};

QTEST_MAIN(TestUpdateWindow)
#include "tst_update_window.moc"
