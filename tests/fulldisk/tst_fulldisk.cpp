// Every file the program writes whole, on a disk that fills up part-way: the
// process's file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored) makes writes
// fail at 0 bytes, half-way or one byte short of the content. Each writer must
// report the failure, keep the old file byte for byte, leave no temporary file
// behind and announce nothing; once the limit is lifted the same write works.
// The sizes sit below, at and above 16 KiB, the buffer size of Qt's own
// QSaveFile, whose commit() used to report success over a short file.
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "CrashReport.h"
#include "SafeWrite.h"
#include "SessionManager.h"
#include "StartupReport.h"
#include "StyleSheetTemplate.h"
#include "TestSupport.h"
#include "ThemeManager.h"

using TestSupport::folderEntries;
using TestSupport::readFile;
using TestSupport::writeFile;

namespace {

// The process may write files of at most `bytes` bytes while this lives.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = m_saved;
        small.rlim_cur = bytes;
        m_ok = setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    bool ok() const { return m_ok; }

private:
    struct rlimit m_saved {};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_ok = false;
};

// One write of one writer, ready to run: the file it must leave alone (or
// replace), and what that file holds after a success.
struct Attempt
{
    QString target;
    QByteArray old;
    QByteArray expected;      // empty when only "changed" can be told
    QString warning;          // what the writer logs on failure, if anything
    std::function<bool()> run;
};

const char kStackHeading[] = "\n--- Stack Trace (for developers) ---\n";

} // namespace

class TstFullDisk : public QObject
{
    Q_OBJECT
    QString m_home;
    QString m_reportPath;

    // The start-up report's size as it would be written now, measured by a
    // child that writes it to a scratch file (the report is written only once
    // in a process that succeeds).
    qint64 startupReportSize()
    {
        const QString probe = TestSupport::tempDir() + "/probe.json";
        const pid_t pid = fork();
        if (pid == 0) {
            qputenv("TR_STARTUP_REPORT", QFile::encodeName(probe));
            StartupReport::finish(0);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return QFileInfo(probe).size();
    }

    // Start-up steps padded so that the report is `size` bytes long. Two
    // empty steps first: the second tells what one more step costs.
    bool padStartupReport(qint64 size)
    {
        if (startupReportSize() == size)
            return true;
        StartupReport::noteStep(0, QString());
        const qint64 one = startupReportSize();
        StartupReport::noteStep(0, QString());
        const qint64 two = startupReportSize();
        const qint64 pad = size - two - (two - one);
        if (pad < 0)
            return false;
        StartupReport::noteStep(0, QString(pad, QLatin1Char('p')));
        return startupReportSize() == size;
    }

    Attempt prepare(const QString& writer, qint64 size, const QString& tag)
    {
        Attempt a;
        const QString dir = TestSupport::tempDir();
        a.target = dir + "/target";
        a.old = "old content, " + tag.toUtf8() + "\n";
        if (writer == "stream" || writer == "whole") {
            writeFile(a.target, a.old);
            a.expected = QByteArray(size, 'x');
            const QString target = a.target;
            const QByteArray content = a.expected;
            if (writer == "whole") {
                a.run = [target, content] { return safeWriteFile(target, content); };
            } else {
                a.run = [target, content] {
                    SafeFileWriter w(target);
                    if (!w.open())
                        return false;
                    for (qsizetype at = 0; at < content.size(); at += 1000)
                        w.write(content.mid(at, 1000));
                    return w.commit();
                };
            }
        } else if (writer == "session" || writer == "autosave") {
            a.target = dir + "/show.vx";
            a.old = "{\"tabs\":[{\"id\":\"t\",\"name\":\"" + tag.toUtf8() + "\"}]}\n";
            writeFile(a.target, a.old);
            SessionManager* sm = SessionManager::instance();
            if (!sm->loadSession(a.target))
                qFatal("cannot load the session fixture");
            const auto text = [sm] { return QJsonDocument(sm->session().toJson()).toJson(QJsonDocument::Indented); };
            // Only the name pads the text out: no buttons (the load gives the
            // tab the pads its grid shows, which alone outweigh the smallest size).
            sm->session().tabs[0].buttons.clear();
            sm->session().tabs[0].name.clear();
            sm->session().tabs[0].name = QString(size - text().size(), QLatin1Char('n'));
            sm->markDirty();
            a.expected = text();
            a.warning = "^Cannot write session: ";
            if (writer == "autosave") {
                a.run = [sm] {
                    QMetaObject::invokeMethod(sm, "onAutoSaveTimeout");
                    return !sm->isDirty();
                };
            } else {
                a.run = [sm] { return sm->saveSession(QString()); };
            }
        } else if (writer == "startup report") {
            a.target = m_reportPath;
            a.old = readFile(a.target);
            if (!padStartupReport(size))
                qFatal("cannot pad the start-up report to %lld bytes", size);
            a.warning = "^Cannot write the start-up report: ";
            const QString target = a.target;
            const QByteArray old = a.old;
            a.run = [target, old] {
                StartupReport::finish(0);
                return readFile(target) != old;
            };
        } else if (writer == "style image") {
            const QString head = "<svg xmlns='http://www.w3.org/2000/svg'><!-- " + tag + " ";
            const QString tail = " --></svg>";
            const QString svg = head + QString(size - head.size() - tail.size(), QLatin1Char('s')) + tail;
            a.expected = svg.toUtf8();
            const QString folder =
                QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/qss-images";
            QDir().mkpath(folder);
            a.target = folder + "/"
                + QString::fromLatin1(QCryptographicHash::hash(a.expected, QCryptographicHash::Sha1).toHex())
                + ".svg";
            // A damaged copy from before, which the writer replaces.
            writeFile(a.target, a.old);
            const QString target = a.target;
            a.run = [svg, target] { return StyleSheetTemplate::imageFileFor(svg) == target; };
        } else if (writer == "crash copy") {
            // The raw report with one mangled frame; the copy has it readable.
            const QByteArray head =
                QByteArray("=== Tarvello Rododu Crash Report ===\nCrash ") + tag.toUtf8() + kStackHeading;
            const QByteArray frame = "# 0  0x00000000004005d6  _ZN8Tarvello4playEv\n";
            const auto copy = [](const QByteArray& raw) {
                return CrashReport::demangleStackTrace(QString::fromUtf8(raw)).toUtf8();
            };
            a.old = head + frame + QByteArray(size - copy(head + frame).size(), 'c');
            a.expected = copy(a.old);
            if (a.expected == a.old)
                qFatal("the crash copy fixture has nothing to demangle");
            writeFile(a.target, a.old);
            const QString target = a.target;
            const QByteArray expected = a.expected;
            a.run = [target, expected] {
                QByteArray name = QFile::encodeName(target);
                char prog[] = "tarvello";
                char flag[] = "--crash-dialog";
                char* argv[] = {prog, flag, name.data(), nullptr};
                CrashReport::handleCrashDialogArgs(3, argv);
                return readFile(target) == expected;
            };
        }
        return a;
    }

private slots:
    void initTestCase()
    {
        m_home = TestSupport::tempDir();
        TestSupport::isolateSettings();
        m_reportPath = TestSupport::tempDir() + "/startup-report.json";
        writeFile(m_reportPath, "the report of an earlier run\n");
        qputenv("TR_STARTUP_REPORT", QFile::encodeName(m_reportPath));
        qputenv("TR_NO_CRASH_DIALOG", "1");
        ThemeManager::instance();
        SessionManager::instance()->setAutoSaveInterval(0);
    }

    void failedWriteKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("limit");
        const QStringList writers = {"stream",      "whole",       "session",   "autosave",
                                     "startup report", "style image", "crash copy"};
        const QList<qint64> sizes = {4000, 16384, 40000};
        for (const QString& w : writers) {
            for (qint64 size : sizes) {
                const QByteArray base = w.toUtf8() + "/" + QByteArray::number(size);
                QTest::newRow(base + "/limit 0") << w << size << qint64(0);
                QTest::newRow(base + "/limit half-way") << w << size << size / 2;
                QTest::newRow(base + "/limit one byte short") << w << size << size - 1;
            }
        }
    }
    void failedWriteKeepsTheOldFile()
    {
        QFETCH(QString, writer);
        QFETCH(qint64, size);
        QFETCH(qint64, limit);
        const Attempt a = prepare(writer, size, QString::fromLatin1(QTest::currentDataTag()));
        if (!a.expected.isEmpty())
            QCOMPARE(qint64(a.expected.size()), size);
        const QString dir = QFileInfo(a.target).absolutePath();
        const QStringList before = folderEntries(dir);
        SessionManager* sm = SessionManager::instance();
        QSignalSpy saved(sm, &SessionManager::sessionSaved);
        QSignalSpy dirty(sm, &SessionManager::dirtyChanged);
        const bool wasDirty = sm->isDirty();
        if (!a.warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(a.warning));

        QSignalSpy autoSaveFailed(sm, &SessionManager::autoSaveFailed);
        bool ok = true;
        {
            FileSizeLimit cap{rlim_t(limit)};
            QVERIFY(cap.ok());
            ok = a.run();
            if (writer == "autosave") {
                // The next tick tries again and says nothing new.
                QTest::ignoreMessage(QtWarningMsg, QRegularExpression(a.warning));
                QVERIFY(!a.run());
            }
        }
        QCOMPARE(autoSaveFailed.count(), writer == "autosave" ? 1 : 0);

        QVERIFY(!ok);
        QCOMPARE(readFile(a.target), a.old);
        QCOMPARE(folderEntries(dir), before);
        QCOMPARE(saved.count(), 0);
        QCOMPARE(dirty.count(), 0);
        QCOMPARE(sm->isDirty(), wasDirty);
        if (writer == "session" || writer == "autosave")
            QVERIFY(sm->isDirty());
    }

    // Runs after the table: the start-up report is written once only.
    void writeSucceedsOnceTheLimitIsLifted_data()
    {
        QTest::addColumn<QString>("writer");
        for (const char* w : {"stream", "whole", "session", "autosave", "startup report", "style image", "crash copy"})
            QTest::newRow(w) << QString::fromLatin1(w);
    }
    void writeSucceedsOnceTheLimitIsLifted()
    {
        QFETCH(QString, writer);
        const Attempt a = prepare(writer, 60000, QStringLiteral("lifted ") + writer);
        const QString dir = QFileInfo(a.target).absolutePath();
        const QStringList before = folderEntries(dir);
        SessionManager* sm = SessionManager::instance();
        QSignalSpy saved(sm, &SessionManager::sessionSaved);
        QSignalSpy autoSaveFailed(sm, &SessionManager::autoSaveFailed);
        if (!a.warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(a.warning));
        {
            FileSizeLimit cap(100);
            QVERIFY(!a.run());
        }
        QCOMPARE(readFile(a.target), a.old);

        QVERIFY(a.run());
        if (a.expected.isEmpty())
            QVERIFY(QJsonDocument::fromJson(readFile(a.target)).object().contains("exitCode"));
        else
            QCOMPARE(readFile(a.target), a.expected);
        QCOMPARE(folderEntries(dir), before);
        if (writer == "session" || writer == "autosave") {
            QCOMPARE(saved.count(), 1);
            QVERIFY(!sm->isDirty());
        }
        if (writer == "autosave")
            QCOMPARE(autoSaveFailed.count(), 1); // the success after the failure is quiet
    }
};

QTEST_MAIN(TstFullDisk)
#include "tst_fulldisk.moc"
