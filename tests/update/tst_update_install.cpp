// Installing a downloaded update: what each failure of the hand-over shows,
// the refusal of any file but the one downloaded, and the close that follows
// a started installer, with unsaved work saved first or asked about.
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QtTest>
#include <sys/stat.h>

#include "PackageInstaller.h"
#include "SessionManager.h"
#include "UpdateSupport.h"

using U = UpdateTestAccess;
using namespace UpdateTest;


class TestUpdateInstall : public QObject
{
    Q_OBJECT
    Asked asked;
    QString dir;
    QString argsFile;

    MainWindow* window()
    {
        auto* w = new MainWindow;
        U::startTimer(w)->stop();
        w->show();
        return w;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        setService(LocalHttpServer::refusedUrl());
        Modal::setHandler([this](const Modal::Request& r) {
            asked.requests << r;
            return asked.answer(r);
        });
    }
    void cleanupTestCase()
    {
        Modal::setHandler(nullptr);
        PackageInstaller::setLauncher(QString());
    }
    void init()
    {
        dir = TestSupport::tempDir();
        argsFile = dir + QStringLiteral("/args.txt");
        PackageInstaller::setLauncher(TestSupport::argumentRecorder(dir, argsFile));
        asked.requests.clear();
        asked.answer = [](const Modal::Request&) { return QVariant(); };
    }

    // Nothing is started: a box says why and the program runs on.
    void refused_data()
    {
        QTest::addColumn<QString>("file");     // "gone", "small", "text", "package"
        QTest::addColumn<QString>("missing");  // "pkexec" or "dpkg": not there
        // What befell the file after its download: "" nothing, "unrecorded"
        // never downloaded, "same size" or "other size" replaced, "folder
        // opened" its folder opened to others, "elsewhere" the same bytes
        // in another folder.
        QTest::addColumn<QString>("after");
        QTest::addColumn<QString>("says");
        QTest::newRow("file gone") << "gone" << "" << "" << "Installer file missing or invalid.\n\nExpected: ";
        QTest::newRow("too small") << "small" << "" << "" << "\nSize: 99999 bytes";
        QTest::newRow("no Debian package") << "text" << "" << "" << "Could not launch installer (error code: 31).";
        QTest::newRow("pkexec missing") << "package" << "pkexec" << "" << "Could not launch installer (error code: 2).";
        QTest::newRow("dpkg missing") << "package" << "dpkg" << "" << "Could not launch installer (error code: 2).";
        QTest::newRow("never downloaded") << "package" << "" << "unrecorded"
                                          << "This installer was not downloaded by the program.";
        QTest::newRow("replaced, same size") << "package" << "" << "same size"
                                             << "The installer's contents changed after the download.";
        QTest::newRow("replaced, other size") << "package" << "" << "other size"
                                              << "The installer's size changed after the download";
        QTest::newRow("folder opened to others") << "package" << "" << "folder opened"
                                                 << "is open to other users (mode 0777)";
        QTest::newRow("copy in another folder") << "package" << "" << "elsewhere"
                                                << "The installer is not in the download folder.";
    }
    void refused()
    {
        QFETCH(QString, file);
        QFETCH(QString, missing);
        QFETCH(QString, after);
        QFETCH(QString, says);
        QVERIFY(freshDownloadFolder());
        QString path = UpdateCheck::newInstallerPath();
        if (file == QLatin1String("small"))
            QVERIFY(safeWriteFile(path, package(99999).left(99999)));
        else if (file == QLatin1String("text"))
            QVERIFY(safeWriteFile(path, QByteArray(200000, 't')));
        else if (file == QLatin1String("package"))
            QVERIFY(safeWriteFile(path, package(200000)));
        if (missing == QLatin1String("pkexec"))
            PackageInstaller::setLauncher(dir + QStringLiteral("/no-pkexec-here"));
        else if (missing == QLatin1String("dpkg"))
            PackageInstaller::setPackageTool(dir + QStringLiteral("/no-dpkg-here"));
        auto restoreTool = qScopeGuard([] { PackageInstaller::setPackageTool(QString()); });

        MainWindow* w = window();
        if (file != QLatin1String("gone") && after != QLatin1String("unrecorded"))
            U::recordFetched(w, path);
        const QByteArray folder = QFile::encodeName(UpdateCheck::downloadFolder());
        if (after == QLatin1String("same size")) {
            QByteArray other = package(200000);
            other[other.size() - 1] = char(other.at(other.size() - 1) ^ 0x5a);
            QVERIFY(safeWriteFile(path, other));
        } else if (after == QLatin1String("other size")) {
            QVERIFY(safeWriteFile(path, package(250000)));
        } else if (after == QLatin1String("folder opened")) {
            QCOMPARE(::chmod(folder.constData(), 0777), 0);
        } else if (after == QLatin1String("elsewhere")) {
            const QString copy = dir + QStringLiteral("/TarvelloRuzoru_Setup.exe");
            QVERIFY(QFile::copy(path, copy));
            U::recordFetched(w, copy);
            path = copy;
        }
        SessionManager::instance()->markDirty();
        w->applyUpdate(path);
        QTRY_COMPARE_WITH_TIMEOUT(asked.titles(), QStringList{QStringLiteral("Update Failed")}, 10000);
        ::chmod(folder.constData(), 0700);
        QVERIFY2(asked.requests.first().text.contains(says), qPrintable(asked.requests.first().text));
        QVERIFY(asked.requests.first().text.contains(path));
        QVERIFY(w->isVisible());
        QVERIFY(SessionManager::instance()->isDirty()); // nothing saved, nothing asked
        QVERIFY(!QFile::exists(argsFile));
        SessionManager::instance()->setDirty(false);
        delete w;
    }

    // Started: the session is saved when it has a file, then the window
    // closes as by the user; a dirty untitled session whose Save As is
    // cancelled is asked about again by the close, and Cancel keeps it.
    void started_data()
    {
        QTest::addColumn<QString>("session"); // "clean", "saved file", "untitled"
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QStringList>("asks");
        QTest::newRow("clean") << "clean" << true << QStringList();
        QTest::newRow("dirty with a file") << "saved file" << true << QStringList();
        QTest::newRow("dirty untitled, Save As cancelled")
            << "untitled" << false << QStringList{QStringLiteral("Save Session As"), QStringLiteral("Save Before Exit")};
    }
    void started()
    {
        QFETCH(QString, session);
        QFETCH(bool, closes);
        QFETCH(QStringList, asks);
        QVERIFY(freshDownloadFolder());
        const QString path = UpdateCheck::newInstallerPath();
        QVERIFY(safeWriteFile(path, package(200000)));
        MainWindow* w = window();
        U::recordFetched(w, path);
        SessionManager* sm = SessionManager::instance();
        sm->newSession();
        const QString sessionFile = dir + QStringLiteral("/set.vx");
        if (session == QLatin1String("saved file"))
            QVERIFY(sm->saveSession(sessionFile));
        if (session != QLatin1String("clean")) {
            sm->session().tabs[0].name = QStringLiteral("Changed before the update");
            sm->markDirty();
        }
        asked.answer = [](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::SaveFile)
                return QString();
            return int(QMessageBox::Cancel);
        };

        w->applyUpdate(path);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(argsFile), 10000);
        QFile args(argsFile);
        QVERIFY(args.open(QIODevice::ReadOnly));
        // The launcher runs as root what it is given: the package tool by
        // its absolute path, never a name to look up.
        QCOMPARE(QString::fromUtf8(args.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                 (QStringList{QStringLiteral("/usr/bin/dpkg"), QStringLiteral("-i"), path}));
        QCOMPARE(asked.titles(), asks);
        QCOMPARE(w->isVisible(), !closes);
        if (session == QLatin1String("saved file")) {
            QFile f(sessionFile);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QVERIFY(f.readAll().contains("Changed before the update"));
            QVERIFY(!sm->isDirty());
        }
        if (closes) {
            // The close stored the window's state.
            QVERIFY(AppSettings().contains(SettingsKeys::WindowGeometry));
            AppSettings().remove(SettingsKeys::WindowGeometry);
        }
        sm->setDirty(false);
        delete w;
    }
};

QTEST_MAIN(TestUpdateInstall)
#include "tst_update_install.moc"
