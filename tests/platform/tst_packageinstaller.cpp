// Handing an update to the package tool: which files count as Debian
// packages, what each failure returns, and what the launcher is given.
#include <QScopeGuard>
#include <QtTest>

#include <sys/stat.h>

#include "PackageInstaller.h"
#include "TestSupport.h"

namespace {

QByteArray debLike(const QByteArray& firstName = "debian-binary")
{
    return TestSupport::debianPackage(5000, firstName);
}

QString write(const QString& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QString();
    return path;
}

QString script(const QString& dir, const QString& argsFile, const QByteArray& shebang = "#!/bin/sh")
{
    return TestSupport::argumentRecorder(dir, argsFile, shebang);
}

} // namespace

class TestPackageInstaller : public QObject
{
    Q_OBJECT
    QString dir;

private slots:
    void initTestCase() { dir = TestSupport::tempDir(); }
    void cleanup() { PackageInstaller::setLauncher(QString()); }

    void recognisesPackages_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("isPackage");
        QTest::newRow("deb") << debLike() << true;
        QTest::newRow("deb, GNU member name") << debLike("debian-binary/") << true;
        QTest::newRow("ar, other first member") << debLike("control.tar.xz") << false;
        QTest::newRow("ar magic only") << QByteArray("!<arch>\n") << false;
        QTest::newRow("ar, header cut short") << debLike().left(50) << false;
        QTest::newRow("ar, damaged header end") << QByteArray(debLike()).replace(8 + 58, 2, "xx") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("html error page") << QByteArray("<html><body>404</body></html>").repeated(200) << false;
        QTest::newRow("windows installer") << QByteArray("MZ\x90\0", 4) + QByteArray(200000, '\0') << false;
    }
    void recognisesPackages()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, isPackage);
        const QString path = write(dir, QStringLiteral("candidate.bin"), bytes);
        QVERIFY(!path.isEmpty());
        QString why;
        QCOMPARE(PackageInstaller::isDebianPackage(path, &why), isPackage);
        QCOMPARE(why.isEmpty(), isPackage);
    }

    void nonRegularFiles()
    {
        const QString fifo = dir + QStringLiteral("/pipe.deb");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Never opened: a read would wait for a writer.
        QVERIFY(!PackageInstaller::isDebianPackage(fifo));
        QVERIFY(!PackageInstaller::isDebianPackage(dir));
        QVERIFY(!PackageInstaller::isDebianPackage(dir + QStringLiteral("/nothing.deb")));
        // A symbolic link to a package is fine.
        const QString deb = write(dir, QStringLiteral("real.deb"), debLike());
        const QString link = dir + QStringLiteral("/link.deb");
        QVERIFY(QFile::link(deb, link));
        QVERIFY(PackageInstaller::isDebianPackage(link));
    }

    void launchResults_data()
    {
        QTest::addColumn<QString>("file");     // "deb", "text", "missing", "fifo"
        QTest::addColumn<QString>("launcher"); // "script", "missing", "not executable", "bad interpreter"
        QTest::addColumn<QString>("tool");     // the package tool: "" the system's, "missing", "by name"
        QTest::addColumn<int>("result");
        QTest::newRow("package, launcher there") << "deb" << "script" << "" << int(PackageInstaller::Started);
        QTest::newRow("file gone") << "missing" << "script" << "" << int(PackageInstaller::FileMissing);
        QTest::newRow("no package") << "text" << "script" << "" << int(PackageInstaller::NotAPackage);
        QTest::newRow("pipe") << "fifo" << "script" << "" << int(PackageInstaller::NotAPackage);
        QTest::newRow("launcher missing") << "deb" << "missing" << "" << int(PackageInstaller::FileMissing);
        QTest::newRow("launcher not executable") << "deb" << "not executable" << ""
                                                 << int(PackageInstaller::FileMissing);
        QTest::newRow("launcher cannot start") << "deb" << "bad interpreter" << ""
                                               << int(PackageInstaller::CouldNotStart);
        // The file is looked at before the launcher: a missing file wins.
        QTest::newRow("both missing") << "missing" << "missing" << "" << int(PackageInstaller::FileMissing);
        // The launcher runs the package tool as root: only by an absolute
        // path, and only one that is there.
        QTest::newRow("package tool missing") << "deb" << "script" << "missing" << int(PackageInstaller::FileMissing);
        QTest::newRow("package tool by name") << "deb" << "script" << "by name" << int(PackageInstaller::FileMissing);
    }
    void launchResults()
    {
        QFETCH(QString, file);
        QFETCH(QString, launcher);
        QFETCH(QString, tool);
        QFETCH(int, result);
        const QString here = TestSupport::tempDir();
        const QString argsFile = here + QStringLiteral("/args.txt");
        QString path = here + QStringLiteral("/TarvelloRuzoru_Setup.exe");
        if (file == QLatin1String("deb"))
            write(here, QStringLiteral("TarvelloRuzoru_Setup.exe"), debLike());
        else if (file == QLatin1String("text"))
            write(here, QStringLiteral("TarvelloRuzoru_Setup.exe"), QByteArray(150000, 't'));
        else if (file == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        auto restoreTool = qScopeGuard([] { PackageInstaller::setPackageTool(QString()); });
        if (tool == QLatin1String("missing"))
            PackageInstaller::setPackageTool(here + QStringLiteral("/no-such-dpkg"));
        else if (tool == QLatin1String("by name"))
            PackageInstaller::setPackageTool(QStringLiteral("dpkg"));

        if (launcher == QLatin1String("script")) {
            PackageInstaller::setLauncher(script(here, argsFile));
        } else if (launcher == QLatin1String("missing")) {
            PackageInstaller::setLauncher(here + QStringLiteral("/no-such-pkexec"));
        } else if (launcher == QLatin1String("not executable")) {
            const QString s = script(here, argsFile);
            QFile::setPermissions(s, QFile::ReadOwner | QFile::WriteOwner);
            PackageInstaller::setLauncher(s);
        } else {
            PackageInstaller::setLauncher(script(here, argsFile, "#!/no/such/interpreter"));
        }

        QCOMPARE(PackageInstaller::launch(path), result);
        if (result == PackageInstaller::Started) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(argsFile), 10000);
            QFile f(argsFile);
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts),
                     (QStringList{QStringLiteral("/usr/bin/dpkg"), QStringLiteral("-i"), path}));
            QCOMPARE(PackageInstaller::packageTool(), QStringLiteral("/usr/bin/dpkg"));
        } else {
            QVERIFY(!QFile::exists(argsFile));
        }
    }

    void launcherByName()
    {
        QCOMPARE(PackageInstaller::launcher(), QStringLiteral("pkexec"));
        PackageInstaller::setLauncher(QStringLiteral("no-such-launcher-in-path"));
        const QString deb = write(dir, QStringLiteral("p.deb"), debLike());
        QCOMPARE(PackageInstaller::launch(deb), int(PackageInstaller::FileMissing));
        PackageInstaller::setLauncher(QString());
        QCOMPARE(PackageInstaller::launcher(), QStringLiteral("pkexec"));
    }
};

QTEST_GUILESS_MAIN(TestPackageInstaller)
#include "tst_packageinstaller.moc"
