// The ONLINE page driven as a user would: refresh, folders, the filter, the
// preview (fetched first, played from disk), downloads from the row menu and
// every kind of error on the status line. The engines are the recorder; the
// service is our own server on 127.0.0.1.
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QCloseEvent>
#include <QRegularExpression>
#include <QtTest>

#include "AppSettings.h"
#include "AudioEngine.h"
#include "LibraryManager.h"
#include "LocalHttpServer.h"
#include "NowPlayingBar.h"
#include "OnlineLibraryManager.h"
#include "RoutingSupport.h"
#include "SettingsKeys.h"
#include "ThemeManager.h"

using S = LocalHttpServer;

class OnlinePageTestAccess
{
public:
    // The page the window placed third in its left panel's stack.
    static QWidget* page(MainWindow* w) { return w->leftStack ? w->leftStack->widget(2) : nullptr; }
    static QComboBox* combo(MainWindow* w) { return w->onlineFolderCombo; }
    static QListWidget* list(MainWindow* w) { return w->onlineList; }
    static QLabel* status(MainWindow* w) { return w->onlineStatusLabel; }
    static QString previewId(MainWindow* w) { return w->onlinePreviewId; }
    static QString previewUrl(MainWindow* w) { return w->onlinePreviewUrl; }
    static QString previewFile(MainWindow* w) { return w->onlinePreviewFile; }
    static void contextMenu(MainWindow* w, const QPoint& p) { w->onOnlineContextMenu(p); }
    static NowPlayingBar* bar(MainWindow* w) { return w->nowPlayingBar; }
    static QString nowPlayingId(MainWindow* w) { return w->nowPlayingId; }
    static void quit(MainWindow* w)
    {
        QCloseEvent e;
        w->closeEvent(&e);
    }
};
using P = OnlinePageTestAccess;

namespace {

const QString kCat = QStringLiteral("/wp-json/tarvello-library/v1/folders");

QByteArray catalogueJson(const QUrl& base)
{
    auto file = [&](const QString& name, const QJsonValue& dur) {
        return QJsonObject{{"name", name}, {"url", base.toString() + "/a/" + name}, {"duration", dur}};
    };
    QJsonArray beds{file("Intro Bed.mp3", 125.9), file("Outro.mp3", "0:07"), file("sting.wav", 0)};
    QJsonArray fx{file("Boom.wav", "2:30"), file("boom2.wav", QJsonValue()), file("Zap.wav", 3), file("zz.wav", 1)};
    return QJsonDocument(QJsonObject{{"folders", QJsonArray{QJsonObject{{"name", "Beds"}, {"files", beds}},
                                                           QJsonObject{{"name", "Sound: FX"}, {"files", fx}}}}})
        .toJson(QJsonDocument::Compact);
}

QStringList texts(QListWidget* list, bool visibleOnly = false)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (!visibleOnly || !list->item(i)->isHidden())
            out << list->item(i)->text();
    return out;
}

QListWidgetItem* row(QListWidget* list, const QString& name)
{
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->data(Qt::UserRole + 1).toString() == name)
            return list->item(i);
    return nullptr;
}

} // namespace

class TestOnlinePage : public QObject
{
    Q_OBJECT
    S server;
    RecordingEngines rec;
    MainWindow* w = nullptr;
    QWidget* page = nullptr;
    QString downloads;

    void refresh()
    {
        page->findChild<QPushButton*>(QStringLiteral("tgBtn"))->click();
    }
    void loadCatalogue()
    {
        refresh();
        QTRY_COMPARE(P::status(w)->text(), QStringLiteral("7 files online"));
    }
    void click(const QString& name)
    {
        QListWidgetItem* item = row(P::list(w), name);
        QVERIFY(item);
        emit P::list(w)->itemClicked(item);
    }

private slots:
    void initTestCase()
    {
        w = RoutingTest::windowOn(rec);
        QVERIFY(server.listen());
        AppSettings().setValue(SettingsKeys::UpdateServiceUrl, server.url().toString());
        downloads = TestSupport::tempDir() + QStringLiteral("/downloads");
        AppSettings().setValue(SettingsKeys::LibraryDownloadPath, downloads);
        server.route(kCat, S::Response::json(catalogueJson(server.url())));
        for (const QString& n : {"Intro Bed.mp3", "Outro.mp3", "sting.wav", "Boom.wav", "boom2.wav", "Zap.wav", "zz.wav"})
            server.route("/a/" + n, S::Response::ok("audio of " + n.toUtf8()));
        page = P::page(w);
        QVERIFY(page);
        QCOMPARE(page->findChild<QListWidget*>(), P::list(w));
        // Shown on its own, without the rest of the window.
        page->setParent(nullptr);
        page->resize(300, 600);
        page->show();
    }
    void cleanupTestCase()
    {
        RoutingTest::closeWindow(w);
        delete page;
    }

    void init() { rec.reset(); }

    void startsIdle()
    {
        QCOMPARE(P::status(w)->text(), QStringLiteral("Click ↻ to load online library"));
        QCOMPARE(P::combo(w)->count(), 1);
        QCOMPARE(P::combo(w)->itemText(0), QStringLiteral("All Folders"));
        QCOMPARE(server.requestCount(), 0);
    }

    void refreshListsEveryFolderAndFile()
    {
        server.clearRequests();
        refresh();
        QCOMPARE(P::status(w)->text(), QStringLiteral("Loading folders..."));
        QTRY_COMPARE(P::status(w)->text(), QStringLiteral("7 files online"));
        QCOMPARE(server.requestCount(kCat), 1);
        QCOMPARE(P::combo(w)->count(), 3);
        QCOMPARE(P::combo(w)->currentIndex(), 0);
        QCOMPARE(P::combo(w)->itemData(2).toString(), QStringLiteral("Sound: FX"));
        QCOMPARE(texts(P::list(w)),
                 (QStringList{"▶  Intro Bed.mp3  [2:05]", "▶  Outro.mp3  [0:07]", "▶  sting.wav", "▶  Boom.wav  [2:30]",
                              "▶  boom2.wav", "▶  Zap.wav  [0:03]", "▶  zz.wav  [0:01]"}));
        QListWidgetItem* first = P::list(w)->item(0);
        QCOMPARE(first->toolTip(), server.url().toString() + "/a/Intro Bed.mp3");
        QCOMPARE(first->foreground().color(), QColor("#cccccc"));
        QCOMPARE(first->font().weight(), QFont::Normal);
    }

    void folderAndFilter_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QStringList>("visible");
        QTest::newRow("all, no filter") << 0 << "" << QStringList{"Intro Bed.mp3", "Outro.mp3", "sting.wav", "Boom.wav",
                                                                  "boom2.wav", "Zap.wav", "zz.wav"};
        QTest::newRow("all, any case") << 0 << "BOOM" << QStringList{"Boom.wav", "boom2.wav"};
        QTest::newRow("folder") << 2 << "" << QStringList{"Boom.wav", "boom2.wav", "Zap.wav", "zz.wav"};
        QTest::newRow("folder and filter") << 2 << "z" << QStringList{"Zap.wav", "zz.wav"};
        QTest::newRow("no match") << 1 << "boom" << QStringList();
    }
    void folderAndFilter()
    {
        QFETCH(int, folder);
        QFETCH(QString, filter);
        QFETCH(QStringList, visible);
        auto* search = page->findChild<QLineEdit*>(QStringLiteral("searchBox"));
        search->clear();
        P::combo(w)->setCurrentIndex(folder);
        search->setText(filter);
        QStringList names;
        for (int i = 0; i < P::list(w)->count(); ++i)
            if (!P::list(w)->item(i)->isHidden())
                names << P::list(w)->item(i)->data(Qt::UserRole + 1).toString();
        QCOMPARE(names, visible);
        // A refill shows every row again, the search text notwithstanding.
        P::combo(w)->setCurrentIndex(folder == 0 ? 1 : 0);
        P::combo(w)->setCurrentIndex(0);
        QCOMPARE(texts(P::list(w), true).size(), 7);
        QCOMPARE(search->text(), filter);
        search->clear();
    }

    void previewPlaysAFetchedCopy()
    {
        loadCatalogue();
        click("Outro.mp3");
        const QString id = P::previewId(w);
        QVERIFY(!id.isEmpty());
        // Nothing sounds before the copy has arrived: the line says so.
        QCOMPARE(P::status(w)->text(), QStringLiteral("⏳ Loading Outro.mp3…"));
        QTRY_COMPARE(P::status(w)->text(), QStringLiteral("▶ Outro.mp3"));
        QListWidgetItem* item = row(P::list(w), "Outro.mp3");
        QCOMPARE(item->text(), QStringLiteral("⏹  Outro.mp3  [0:07]"));
        QCOMPARE(item->font().weight(), QFont::Bold);
        QCOMPARE(item->foreground().color(), ThemeManager::instance()->colors().accent);
        QTRY_VERIFY(!rec.calls.filter(QStringLiteral("audio.play ")).isEmpty());
        const QString file = P::previewFile(w);
        QCOMPARE(rec.calls.filter(QStringLiteral("audio.play ")),
                 QStringList{QStringLiteral("audio.play %1 %2 ").arg(id, file)});
        // Never the network address: a local copy with the right bytes.
        QVERIFY(QFileInfo(file).isFile());
        QCOMPARE(TestSupport::readFile(file), QByteArray("audio of Outro.mp3"));
        // The preview is no music track: the now-playing bar keeps what it
        // showed and its remaining time does not count the preview down.
        const QString barTitle = P::bar(w)->titleLabel()->text();
        const QString barLeft = P::bar(w)->remainingLabel()->text();
        w->onPlayStarted(id);
        w->onPositionChanged(id, 1000, 12000);
        QVERIFY(P::nowPlayingId(w) != id);
        QCOMPARE(P::bar(w)->titleLabel()->text(), barTitle);
        QCOMPARE(P::bar(w)->remainingLabel()->text(), barLeft);
        QVERIFY(!P::bar(w)->hasTrack());

        // Another row switches the preview; the old copy goes.
        click("Zap.wav");
        QVERIFY(rec.calls.contains(QStringLiteral("audio.stop ") + id));
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(row(P::list(w), "Outro.mp3")->text(), QStringLiteral("▶  Outro.mp3  [0:07]"));
        QTRY_VERIFY(!P::previewFile(w).isEmpty());
        const QString zapId = P::previewId(w);
        const QString zapFile = P::previewFile(w);

        // The same row again stops it.
        rec.calls.clear();
        click("Zap.wav");
        QCOMPARE(rec.calls, QStringList{QStringLiteral("audio.stop ") + zapId});
        QCOMPARE(P::status(w)->text(), QStringLiteral("7 files online"));
        QVERIFY(P::previewId(w).isEmpty() && P::previewUrl(w).isEmpty());
        QVERIFY(!QFileInfo::exists(zapFile));
        QCOMPARE(row(P::list(w), "Zap.wav")->font().weight(), QFont::Normal);
    }

    void previewEndsByItself()
    {
        loadCatalogue();
        click("sting.wav");
        QTRY_VERIFY(!P::previewFile(w).isEmpty());
        const QString id = P::previewId(w);
        const QString file = P::previewFile(w);
        emit AudioEngine::instance()->playStopped(id);
        QVERIFY(!QFileInfo::exists(file));
        // The marks stay; the next click stops nothing audible and clears them.
        QCOMPARE(P::previewId(w), id);
        QCOMPARE(row(P::list(w), "sting.wav")->text(), QStringLiteral("⏹  sting.wav"));
        click("sting.wav");
        QVERIFY(P::previewId(w).isEmpty());
    }

    void refreshOrFolderChangeStopsThePreview_data()
    {
        QTest::addColumn<bool>("viaRefresh");
        QTest::newRow("folder change") << false;
        QTest::newRow("refresh") << true;
    }
    void refreshOrFolderChangeStopsThePreview()
    {
        QFETCH(bool, viaRefresh);
        loadCatalogue();
        click("Boom.wav");
        QTRY_VERIFY(!P::previewFile(w).isEmpty());
        const QString id = P::previewId(w);
        const QString file = P::previewFile(w);
        if (viaRefresh)
            loadCatalogue();
        else
            P::combo(w)->setCurrentIndex(1);
        QVERIFY(rec.calls.contains(QStringLiteral("audio.stop ") + id));
        QVERIFY(P::previewId(w).isEmpty());
        QVERIFY(!QFileInfo::exists(file));
    }

    // The server holds the file back: the window keeps turning, a click
    // elsewhere cancels, and the timeout ends on the status line. Only here
    // is the timeout short: a busy machine can leave any other transfer idle
    // for longer.
    void previewAgainstAStalledServer()
    {
        OnlineLibraryManager::instance()->setTransferTimeout(400);
        const auto restore = qScopeGuard(
            [] { OnlineLibraryManager::instance()->setTransferTimeout(OnlineLibraryManager::kTransferTimeoutMs); });
        loadCatalogue();
        S::Response stall = S::Response::ok("x");
        stall.misbehaviour = S::StallBeforeHeaders;
        server.route("/a/boom2.wav", stall);
        QTimer ticker;
        int ticks = 0;
        connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
        ticker.start(10);
        click("boom2.wav");
        QCOMPARE(P::status(w)->text(), QStringLiteral("⏳ Loading boom2.wav…"));
        QTRY_COMPARE_WITH_TIMEOUT(P::status(w)->text(),
                                  QStringLiteral("⚠ Preview failed: no data from the server for 0.4 s"), 5000);
        ticker.stop();
        QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
        QVERIFY(P::previewId(w).isEmpty());
        QCOMPARE(row(P::list(w), "boom2.wav")->text(), QStringLiteral("▶  boom2.wav"));
        QVERIFY(rec.calls.filter(QStringLiteral("audio.play")).isEmpty());
        server.route("/a/boom2.wav", S::Response::ok("audio of boom2.wav"));
    }

    // A file arrives slowly: the line tells the share fetched while nothing
    // sounds, and names the file once it plays. With the FFmpeg back end,
    // which reads on into a growing file, a long sound starts on its copy
    // while the rest arrives, once the pace keeps ahead of the sound.
    void previewShowsItsLoading_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("bytes");
        QTest::addColumn<QByteArray>("backend");
        QTest::addColumn<bool>("early");   // starts before the whole file is in
        QTest::newRow("short file, FFmpeg: whole first") << "zz.wav" << 24000 << QByteArray("ffmpeg") << false;
        QTest::newRow("long file, FFmpeg: starts while it loads") << "Boom.wav" << 400000 << QByteArray("ffmpeg")
                                                                   << true;
        QTest::newRow("long file, GStreamer: whole first") << "Boom.wav" << 400000 << QByteArray("gstreamer") << false;
        QTest::newRow("no duration, FFmpeg: whole first") << "boom2.wav" << 400000 << QByteArray("ffmpeg") << false;
    }
    void previewShowsItsLoading()
    {
        QFETCH(QString, name);
        QFETCH(int, bytes);
        QFETCH(QByteArray, backend);
        QFETCH(bool, early);
        const QByteArray before = qgetenv("QT_MEDIA_BACKEND");
        qputenv("QT_MEDIA_BACKEND", backend);
        loadCatalogue();
        S::Response drip = S::Response::ok(QByteArray(bytes, 'w'));
        drip.misbehaviour = S::SlowDrip;
        drip.dripBytes = bytes / 12;
        drip.dripMs = 20;
        server.route("/a/" + name, drip);
        // The line after each report of the fetch, once the window took it.
        QStringList seen;
        bool pendingAtPlay = false;
        QString playedPath;
        auto look = [&] {
            if (seen.isEmpty() || seen.last() != P::status(w)->text())
                seen << P::status(w)->text();
            if (playedPath.isEmpty() && !rec.plays.isEmpty()) {
                playedPath = rec.plays.first().audioPath;
                pendingAtPlay = OnlineLibraryManager::instance()->previewPending();
            }
        };
        OnlineLibraryManager* online = OnlineLibraryManager::instance();
        QObject context;
        connect(online, &OnlineLibraryManager::previewProgress, &context, look);
        connect(online, &OnlineLibraryManager::previewPlayable, &context, look);
        connect(online, &OnlineLibraryManager::previewReady, &context, look);
        click(name);
        look();
        QTRY_VERIFY_WITH_TIMEOUT(!OnlineLibraryManager::instance()->previewPending() && !P::previewFile(w).isEmpty(),
                                 10000);
        QTRY_VERIFY(!playedPath.isEmpty());
        qputenv("QT_MEDIA_BACKEND", before);
        QCOMPARE(P::status(w)->text(), QStringLiteral("▶ ") + name);
        // One start only, on the copy whose bytes all arrived.
        QCOMPARE(rec.plays.size(), 1);
        QCOMPARE(pendingAtPlay, early);
        QCOMPARE(QFileInfo(playedPath).fileName().startsWith(QLatin1Char('.')), early);
        QCOMPARE(TestSupport::readFile(P::previewFile(w)).size(), bytes);
        // Every line before the start is a loading line; some tell a share
        // between none and all of it.
        const int playing = int(seen.indexOf(QStringLiteral("▶ ") + name));
        QVERIFY(playing > 0);
        static const QRegularExpression share(QStringLiteral("^⏳ Loading .*… (\\d+)%$"));
        int shares = 0;
        for (int i = 0; i < playing; ++i) {
            QVERIFY2(seen.at(i).startsWith(QStringLiteral("⏳ Loading ") + name + QStringLiteral("…")),
                     qPrintable(seen.at(i)));
            const QRegularExpressionMatch m = share.match(seen.at(i));
            if (m.hasMatch())
                shares += m.captured(1).toInt() > 0 && m.captured(1).toInt() < 100;
        }
        // A file that waits for all of it shows how much has come.
        QVERIFY2(early || shares > 0, qPrintable(seen.join(QLatin1String(" | "))));
        server.route("/a/" + name, S::Response::ok("audio of " + name.toUtf8()));
        click(name);
        QVERIFY(P::previewId(w).isEmpty());
    }

    void download_data()
    {
        QTest::addColumn<int>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("saved");   // below the download folder
        QTest::newRow("all folders: the folder itself") << 0 << "Outro.mp3" << "Outro.mp3";
        QTest::newRow("chosen folder") << 2 << "Zap.wav" << "Sound_ FX/Zap.wav";
    }
    void download()
    {
        QFETCH(int, folder);
        QFETCH(QString, name);
        QFETCH(QString, saved);
        loadCatalogue();
        P::combo(w)->setCurrentIndex(folder);
        QStringList menus;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            menus << r.menu->actions().first()->text();
            return QVariant::fromValue(r.menu->actions().first());
        });
        QListWidgetItem* item = row(P::list(w), name);
        P::contextMenu(w, P::list(w)->visualItemRect(item).center());
        QCOMPARE(menus, QStringList{"⬇ Download to VX Library"});
        QCOMPARE(P::status(w)->text(), QStringLiteral("Downloading: ") + name);
        QTRY_COMPARE(P::status(w)->text(), QStringLiteral("✓ Saved: ") + name);
        const QString path = downloads + QLatin1Char('/') + saved;
        QVERIFY(QFileInfo(path).isFile());
        bool listed = false;
        for (const LibraryEntry& e : LibraryManager::instance()->entries())
            listed |= e.filePath == path && e.category == QLatin1String("Online Downloads");
        QVERIFY(listed);
        P::combo(w)->setCurrentIndex(0);
    }

    void downloadOutcomesOnTheStatusLine_data()
    {
        QTest::addColumn<QString>("answer");    // to the existing-file question
        QTest::addColumn<int>("status");        // of the file's route
        QTest::addColumn<QString>("expected");
        QTest::newRow("skip") << "Skip" << 200 << "⏭  Skipped: sting.wav";
        QTest::newRow("server error") << "Replace" << 500 << "⚠ Download failed: ";
        QTest::newRow("not found") << "Replace" << 404 << "⚠ Download failed: ";
    }
    void downloadOutcomesOnTheStatusLine()
    {
        QFETCH(QString, answer);
        QFETCH(int, status);
        QFETCH(QString, expected);
        loadCatalogue();
        const QString path = downloads + QStringLiteral("/sting.wav");
        QDir().mkpath(downloads);
        TestSupport::writeFile(path, "kept");
        server.route("/a/sting.wav", S::Response::withStatus(status, "body"));
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.menu)
                return QVariant::fromValue(r.menu->actions().first());
            for (QAbstractButton* b : r.box->buttons())
                if (b->text() == answer)
                    return QVariant::fromValue(b);
            return {};
        });
        const int before = LibraryManager::instance()->entries().size();
        P::contextMenu(w, P::list(w)->visualItemRect(row(P::list(w), "sting.wav")).center());
        QTRY_VERIFY(P::status(w)->text().startsWith(expected));
        QCOMPARE(TestSupport::readFile(path), QByteArray("kept"));
        QCOMPARE(LibraryManager::instance()->entries().size(), before);
        server.route("/a/sting.wav", S::Response::ok("audio of sting.wav"));
    }

    void contextMenuOverEmptySpaceDoesNothing()
    {
        loadCatalogue();
        int asked = 0;
        TestSupport::ModalScript script([&](const Modal::Request&) -> QVariant {
            ++asked;
            return {};
        });
        P::contextMenu(w, QPoint(5, P::list(w)->viewport()->height() - 2));
        QCOMPARE(asked, 0);
    }

    void catalogueProblemsOnTheStatusLine_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty catalogue") << QByteArray("{}") << 200 << "No files found — check server uploads";
        QTest::newRow("no files") << QByteArray(R"({"folders":[{"name":"A","files":[]}]})") << 200
                                  << "No files found — check server uploads";
        QTest::newRow("not json") << QByteArray("<html>") << 200 << "⚠ Online library returned an unexpected response.";
        QTest::newRow("server error") << QByteArray("oops") << 500 << "⚠ Failed to load folders: ";
    }
    void catalogueProblemsOnTheStatusLine()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, expected);
        loadCatalogue();
        const int combo = P::combo(w)->count();
        server.route(kCat, status == 200 ? S::Response::json(body) : S::Response::withStatus(status, body));
        server.clearRequests();
        refresh();
        QTRY_VERIFY2(P::status(w)->text().startsWith(expected), qPrintable(P::status(w)->text()));
        QTest::qWait(50);
        QCOMPARE(server.requestCount(kCat), 1);
        QCOMPARE(P::list(w)->count(), 0);
        if (status != 200 || body.startsWith('<'))
            QCOMPARE(P::combo(w)->count(), combo);   // the folders stay
        server.route(kCat, S::Response::json(catalogueJson(server.url())));
    }

    // Quitting while a preview plays or loads leaves no copy of it behind.
    // Last: the window is closed for good.
    void quitLeavesNoPreviewFile()
    {
        loadCatalogue();
        click("Outro.mp3");
        QTRY_VERIFY(!P::previewFile(w).isEmpty());
        const QString file = P::previewFile(w);
        QVERIFY(QFileInfo::exists(file));
        S::Response stall = S::Response::ok(QByteArray(5000, 's'));
        stall.misbehaviour = S::StallMidBody;
        stall.cutAt = 1000;
        server.route("/a/Boom.wav", stall);
        click("Boom.wav");
        QVERIFY(!QFileInfo::exists(file));
        QTRY_VERIFY(!QDir(QDir::tempPath()).entryList({QStringLiteral(".tarvello-preview-*")}, QDir::Files | QDir::Hidden).isEmpty());
        {
            TestSupport::ModalScript script([](const Modal::Request&) -> QVariant { return int(QMessageBox::Discard); });
            P::quit(w);
        }
        const QStringList left = QDir(QDir::tempPath()).entryList({QStringLiteral("*tarvello-preview-*")},
                                                                   QDir::Files | QDir::Hidden);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1String(", "))));
    }
};

QTEST_MAIN(TestOnlinePage)
#include "tst_online_page.moc"
