// The safe writer away from a full disk (that table is in tests/fulldisk):
// what it does to links, modes and obstacles in the way, and the regular-file
// check every path handed in goes through.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

#include "FileCheck.h"
#include "SafeWrite.h"
#include "SpecialFiles.h"
#include "TestSupport.h"

using TestSupport::folderEntries;
using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

} // namespace

class TstSafeWrite : public QObject
{
    Q_OBJECT
    QString m_specialDir;
    TestSupport::SpecialFiles* m_special = nullptr;

private slots:
    void initTestCase()
    {
        m_specialDir = TestSupport::tempDir();
        m_special = new TestSupport::SpecialFiles(m_specialDir);
    }
    void cleanupTestCase() { delete m_special; }

    // The content arrives whole or in pieces; the target shows the old bytes
    // until commit and the new ones after it, with nothing else left over.
    void commitReplacesTheTarget_data()
    {
        QTest::addColumn<QByteArray>("old");
        QTest::addColumn<QList<QByteArray>>("pieces");
        const QByteArray old = "old content\n";
        QTest::newRow("one piece") << old << QList<QByteArray>{QByteArray(5000, 'a')};
        QTest::newRow("many pieces") << old << QList<QByteArray>{"head ", QByteArray(70000, 'b'), "", "tail"};
        QTest::newRow("nothing at all") << old << QList<QByteArray>{};
        QTest::newRow("no old file") << QByteArray() << QList<QByteArray>{"fresh"};
    }
    void commitReplacesTheTarget()
    {
        QFETCH(QByteArray, old);
        QFETCH(QList<QByteArray>, pieces);
        const QString dir = TestSupport::tempDir();
        const QString target = dir + "/show.vx";
        if (!old.isEmpty())
            writeFile(target, old);

        SafeFileWriter w(target);
        QVERIFY2(w.open(), qPrintable(w.errorString()));
        QByteArray all;
        for (const QByteArray& p : pieces) {
            QVERIFY(w.write(p));
            all += p;
            // Nothing reaches the target before commit.
            if (old.isEmpty())
                QVERIFY(!QFileInfo::exists(target));
            else
                QCOMPARE(readFile(target), old);
        }
        QCOMPARE(w.bytesWritten(), qint64(all.size()));
        // Its temporary file is known as being written until it is committed.
        const QString temp = w.tempPath();
        QVERIFY(SafeFileWriter::isBeingWritten(temp));
        QVERIFY(!SafeFileWriter::isBeingWritten(target));
        QVERIFY2(w.commit(), qPrintable(w.errorString()));
        QVERIFY(!SafeFileWriter::isBeingWritten(temp));
        QCOMPARE(readFile(target), all);
        QCOMPARE(folderEntries(dir), QStringList{"show.vx"});

        // The whole-content form does the same.
        QString error;
        QVERIFY(safeWriteFile(target, "again", &error));
        QVERIFY(error.isEmpty());
        QCOMPARE(readFile(target), QByteArray("again"));
        QCOMPARE(folderEntries(dir), QStringList{"show.vx"});
    }

    // Whatever stands in the way, or however the writer is given up, the
    // target keeps its bytes and no temporary file stays behind.
    void failuresLeaveTheTarget_data()
    {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("target is a folder") << "folder";
        QTest::newRow("target is a named pipe") << "pipe";
        QTest::newRow("target is a link to a device") << "device";
        QTest::newRow("folder missing") << "nofolder";
        QTest::newRow("parent is a file") << "parentfile";
        QTest::newRow("read-only folder") << "readonly";
        QTest::newRow("no file name") << "empty";
        QTest::newRow("cancelled after writing") << "cancel";
        QTest::newRow("dropped without commit") << "dropped";
        QTest::newRow("write before open") << "unopened";
    }
    void failuresLeaveTheTarget()
    {
        QFETCH(QString, obstacle);
        const QString dir = TestSupport::tempDir();
        const QString keep = dir + "/keep.vx";
        const QByteArray old = "precious\n";
        writeFile(keep, old);
        QString target = keep;
        auto restore = qScopeGuard([&] { QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });

        if (obstacle == "folder") {
            target = dir + "/inner.vx";
            QVERIFY(QDir().mkpath(target));
        } else if (obstacle == "pipe") {
            target = dir + "/pipe.vx";
            QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        } else if (obstacle == "device") {
            target = dir + "/zero.vx";
            QVERIFY(QFile::link("/dev/zero", target));
        } else if (obstacle == "nofolder") {
            target = dir + "/gone/show.vx";
        } else if (obstacle == "parentfile") {
            target = keep + "/show.vx";
        } else if (obstacle == "readonly") {
            if (geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        } else if (obstacle == "empty") {
            target.clear();
        }
        const QStringList before = folderEntries(dir);

        bool ok = true;
        QString error;
        if (obstacle == "cancel") {
            SafeFileWriter w(target);
            QVERIFY(w.open());
            QVERIFY(w.write("new bytes"));
            const QString temp = w.tempPath();
            w.cancel();
            QVERIFY(!SafeFileWriter::isBeingWritten(temp));
            ok = w.commit();
            error = w.errorString();
        } else if (obstacle == "dropped") {
            auto* w = new SafeFileWriter(target);
            QVERIFY(w->open());
            QVERIFY(w->write("new bytes"));
            const QString temp = w->tempPath();
            QVERIFY(SafeFileWriter::isBeingWritten(temp));
            delete w;
            QVERIFY(!SafeFileWriter::isBeingWritten(temp));
            ok = false;
            error = QStringLiteral("dropped");
        } else if (obstacle == "unopened") {
            SafeFileWriter w(target);
            ok = w.write("new bytes");
            QVERIFY(!ok);
            QVERIFY(!w.commit());
            error = w.errorString();
        } else {
            ok = safeWriteFile(target, "new bytes", &error);
        }

        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(!ok);
        QVERIFY(!error.isEmpty());
        QCOMPARE(readFile(keep), old);
        QCOMPARE(folderEntries(dir), before);
        if (obstacle == "folder")
            QVERIFY(QFileInfo(target).isDir());
        if (obstacle == "device")
            QVERIFY(QFileInfo(target).isSymLink());
    }

    // Links stay links (the file they end at is replaced), a kept file keeps
    // its permissions and a new one gets the usual ones.
    void linksAndPermissions_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::newRow("link to a file") << "link";
        QTest::newRow("link to a link to a file") << "chain";
        QTest::newRow("link to a file not there yet") << "dangling";
        QTest::newRow("private file") << "private";
        QTest::newRow("new file") << "new";
    }
    void linksAndPermissions()
    {
        QFETCH(QString, layout);
        const QString dir = TestSupport::tempDir();
        QDir().mkpath(dir + "/real");
        const QString real = dir + "/real/show.vx";
        QString target = real;
        mode_t expected = 0666 & ~[] { const mode_t m = ::umask(0); ::umask(m); return m; }();
        if (layout != "dangling" && layout != "new") {
            writeFile(real, "old");
            QVERIFY(::chmod(QFile::encodeName(real).constData(), 0640) == 0);
            expected = 0640;
        }
        if (layout == "link" || layout == "dangling") {
            target = dir + "/link.vx";
            QVERIFY(QFile::link("real/show.vx", target));
        } else if (layout == "chain") {
            QVERIFY(QFile::link("real/show.vx", dir + "/first.vx"));
            target = dir + "/second.vx";
            QVERIFY(QFile::link("first.vx", target));
        } else if (layout == "private") {
            QVERIFY(::chmod(QFile::encodeName(real).constData(), 0600) == 0);
            expected = 0600;
        }

        QString error;
        QVERIFY2(safeWriteFile(target, "new", &error), qPrintable(error));
        QCOMPARE(readFile(real), QByteArray("new"));
        QCOMPARE(readFile(target), QByteArray("new"));
        QCOMPARE(modeOf(real), expected);
        if (target != real)
            QVERIFY(QFileInfo(target).isSymLink());
        QCOMPARE(folderEntries(dir + "/real"), QStringList{"show.vx"});
    }

    // What the check says about every kind of path; a link counts as what it
    // points at.
    void fileCheck_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("kind");
        const int regular = int(FileCheck::Kind::Regular);
        const int missing = int(FileCheck::Kind::Missing);
        const int other = int(FileCheck::Kind::NotRegular);
        QTest::newRow("regular file") << "file" << regular;
        QTest::newRow("empty regular file") << "emptyfile" << regular;
        QTest::newRow("link to a regular file") << "linkfile" << regular;
        QTest::newRow("missing") << "missing" << missing;
        QTest::newRow("empty path") << "" << missing;
        QTest::newRow("dangling link") << "dangling" << missing;
        QTest::newRow("link to a folder") << "linkdir" << other;
        QTest::newRow("named pipe") << "pipe" << other;
        QTest::newRow("/dev/zero behind x.wav") << "device" << other;
        QTest::newRow("folder x.mp3") << "folder" << other;
        QTest::newRow("unix socket") << "socket" << other;
        QTest::newRow("character device itself") << "/dev/null" << other;
    }
    void fileCheck()
    {
        QFETCH(QString, layout);
        QFETCH(int, kind);
        const QString dir = TestSupport::tempDir();
        QString path;
        if (layout == "file" || layout == "emptyfile" || layout == "linkfile") {
            path = dir + "/a.wav";
            writeFile(path, layout == "emptyfile" ? QByteArray() : QByteArray("RIFF"));
            if (layout == "linkfile") {
                QVERIFY(QFile::link(path, dir + "/b.wav"));
                path = dir + "/b.wav";
            }
        } else if (layout == "missing") {
            path = dir + "/none.wav";
        } else if (layout == "dangling") {
            path = dir + "/dangling.wav";
            QVERIFY(QFile::link(dir + "/none.wav", path));
        } else if (layout == "linkdir") {
            path = dir + "/d.wav";
            QVERIFY(QFile::link(dir, path));
        } else if (layout.startsWith('/')) {
            path = layout;
        } else if (!layout.isEmpty()) {
            path = m_special->path(layout);
            if (path.isEmpty())
                QSKIP("this kind of file cannot be made here");
        }

        QCOMPARE(int(FileCheck::kindOf(path)), kind);
        QString why = QStringLiteral("unchanged");
        QCOMPARE(FileCheck::isRegularFile(path, &why), kind == int(FileCheck::Kind::Regular));
        const QString expected = kind == int(FileCheck::Kind::Regular) ? QStringLiteral("unchanged")
            : kind == int(FileCheck::Kind::Missing)                   ? QStringLiteral("does not exist")
                                                                       : QStringLiteral("not a regular file");
        QCOMPARE(why, expected);
    }
};

QTEST_GUILESS_MAIN(TstSafeWrite)
#include "tst_safewrite.moc"
