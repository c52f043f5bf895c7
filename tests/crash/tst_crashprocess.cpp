#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>
#include <csignal>

#include "CrashReport.h"
#include "CrashSignals.h"
#include "TestSupport.h"

namespace {
struct Run
{
    QProcess::ExitStatus status = QProcess::NormalExit;
    int exitCode = 0;
    QByteArray out;
    QString report; // the whole file
};

// Runs the victim with its own data folder; the dialog helper only finishes
// the file (nothing may block headless).
Run runVictim(const QString& mode)
{
    const QString data = TestSupport::tempDir();
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data);
    env.insert("TR_NO_CRASH_DIALOG", "1");
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CRASH_VICTIM), {mode});
    Run r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        qWarning("victim %s did not end", qPrintable(mode));
        return r;
    }
    r.status = p.exitStatus();
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    QFile f(data + "/Tarvello/Tarvello Rododu/crash_report.txt");
    if (f.open(QIODevice::ReadOnly))
        r.report = QString::fromUtf8(f.readAll());
    return r;
}

QString section(const QString& text, const QString& from, const QString& to)
{
    const qsizetype a = text.indexOf(from);
    if (a < 0)
        return QString();
    const qsizetype b = to.isEmpty() ? -1 : text.indexOf(to, a + from.size());
    return b < 0 ? text.mid(a + from.size()) : text.mid(a + from.size(), b - a - from.size());
}

const QString kOps = "\n--- Last Operations (newest first) ---\n";
const QString kStack = "\n--- Stack Trace (for developers) ---\n";
const QByteArray kReportTitle = "=== Tarvello Rododu Crash Report ===\n";
const QByteArray kMangledFrame = "# 0  0x00000000000000aa  _ZN7QObject5eventEP6QEvent\n\n";
} // namespace

class TstCrashProcess : public QObject
{
    Q_OBJECT
private slots:
    void faultsGiveAFullReport_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<quint32>("code");
        QTest::addColumn<quint64>("kind");
        QTest::addColumn<quint64>("address");
        QTest::addColumn<QString>("module");
        QTest::addColumn<QString>("frame0");
        // Sent signals: the signal; uncaught exceptions: what the report names.
        QTest::addColumn<int>("signo");
        QTest::addColumn<QString>("detail");
        const QString self = "crash_victim";
        QTest::newRow("null read") << "nullread" << CrashSignals::kAccessViolation << 0ull << 0ull << self
                                   << "victim::nullRead()" << 0 << QString();
        QTest::newRow("low write") << "lowwrite" << CrashSignals::kAccessViolation << 1ull << 0x10ull << self
                                   << "victim::writeAt(unsigned long)" << 0 << QString();
        QTest::newRow("write 4095") << "write4095" << CrashSignals::kAccessViolation << 1ull << 0xfffull << self
                                    << "victim::writeAt(unsigned long)" << 0 << QString();
        QTest::newRow("read 4096") << "read4096" << CrashSignals::kAccessViolation << 0ull << 0x1000ull << self
                                   << "victim::readAt(unsigned long)" << 0 << QString();
        QTest::newRow("divide by zero") << "divzero" << CrashSignals::kIntegerDivideByZero << 0ull << 0ull << self
                                        << "victim::divideByZero()" << 0 << QString();
        QTest::newRow("stack overflow") << "overflow" << CrashSignals::kStackOverflow << 0ull << 0ull << self
                                        << "victim::recurse(int)" << 0 << QString();
        QTest::newRow("illegal instruction") << "illegal" << CrashSignals::kIllegalInstruction << 0ull << 0ull << self
                                             << "victim::illegalInstruction()" << 0 << QString();
        QTest::newRow("float division") << "floatdiv" << CrashSignals::kFloatDivideByZero << 0ull << 0ull << self
                                        << "victim::floatDivideByZero()" << 0 << QString();
        QTest::newRow("inside libc") << "libc" << CrashSignals::kAccessViolation << 0ull << 0ull << "libc.so.6"
                                     << "" << 0 << QString();
        QTest::newRow("worker thread") << "thread" << CrashSignals::kAccessViolation << 0ull << 0ull << self
                                       << "victim::nullRead()" << 0 << QString();
        QTest::newRow("worker overflow") << "threadoverflow" << CrashSignals::kStackOverflow << 0ull << 0ull << self
                                         << "victim::recurse(int)" << 0 << QString();
        // Ended by the program itself or by another process: a report all the same.
        const QString libc = "libc.so.6";
        QTest::newRow("abort") << "abort" << CrashSignals::kAborted << 0ull << 0ull << libc << "" << 0 << QString();
        QTest::newRow("exception on a worker")
            << "throwthread" << CrashSignals::kUncaughtException << 0ull << 0ull << libc << "" << 0
            << "std::runtime_error: boom on a worker";
        QTest::newRow("terminate on a worker")
            << "terminatethread" << CrashSignals::kUncaughtException << 0ull << 0ull << libc << "" << 0
            << "std::terminate was called without an exception";
        QTest::newRow("SIGSEGV from another process")
            << "sentsegv" << CrashSignals::kSentSignal << 0ull << 0ull << libc << "" << int(SIGSEGV) << QString();
        QTest::newRow("SIGABRT from another process")
            << "sentabrt" << CrashSignals::kSentSignal << 0ull << 0ull << libc << "" << int(SIGABRT) << QString();
    }
    void faultsGiveAFullReport()
    {
        QFETCH(QString, mode);
        QFETCH(quint32, code);
        QFETCH(quint64, kind);
        QFETCH(quint64, address);
        QFETCH(QString, module);
        QFETCH(QString, frame0);
        QFETCH(int, signo);
        QFETCH(QString, detail);

        const Run r = runVictim(mode);
        QCOMPARE(r.status, QProcess::CrashExit);
        const QString& t = r.report;
        QVERIFY2(!t.isEmpty(), "no crash_report.txt");

        CrashSignals::Fault expected;
        expected.code = code;
        expected.accessKind = kind;
        expected.address = address;
        expected.signo = signo;
        const QByteArray detailText = detail.toUtf8();
        expected.detail = detail.isEmpty() ? nullptr : detailText.constData();
        if (code == CrashSignals::kSentSignal) {
            // The victim says which process it had send the signal.
            const auto m = QRegularExpression("sender: (\\d+)\n").match(QString::fromLatin1(r.out));
            QVERIFY2(m.hasMatch(), r.out.constData());
            expected.senderPid = m.captured(1).toLongLong();
            QVERIFY(expected.senderPid > 0);
        }
        const CrashReport::Description d = CrashReport::describe(expected);
        if (code == CrashSignals::kSentSignal)
            QVERIFY2(d.what.startsWith(QString("Another process (id %1) sent the app the signal ").arg(expected.senderPid)),
                     qPrintable(d.what));
        const QString head = QString("=== Tarvello Rododu Crash Report ===\nVersion: 2.0.84\nTime: ");
        QVERIFY(t.startsWith(head));
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n\n").match(t.mid(head.size())).hasMatch());
        QString fixLine = d.fix;
        fixLine.replace('\n', " | ");
        const QString texts = "\n\nERROR: " + d.error + "\nWHAT:  " + d.what + "\nWHY:   " + d.why + "\nFIX:   " + fixLine
                              + "\n\nCrash in: " + module + "\n\n" + kOps;
        QVERIFY2(t.contains(texts), qPrintable(t.left(1200)));

        // The three operations, newest first.
        const QStringList ops = section(t, kOps, kStack).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(ops.size(), 3);
        const QRegularExpression op("^# ?(\\d+) \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$");
        QCOMPARE(op.match(ops[0]).captured(2), "[Victim] third: " + mode);
        QCOMPARE(op.match(ops[1]).captured(2), QString("[Victim] second"));
        QCOMPARE(op.match(ops[2]).captured(2), QString("[Victim] first"));
        QVERIFY(ops[0].startsWith("# 0 ") && ops[2].startsWith("# 2 "));

        // The stack trace: our own function first, names readable, at most 24 frames.
        QVERIFY(t.endsWith("\n"));
        const QStringList frames = section(t, kStack, QString()).split('\n', Qt::SkipEmptyParts);
        QVERIFY(!frames.isEmpty());
        QVERIFY(frames.size() <= 24);
        const QRegularExpression line("^#([ \\d]\\d)  0x[0-9a-f]{16}  (.+)$");
        for (int i = 0; i < frames.size(); ++i) {
            const auto m = line.match(frames[i]);
            QVERIFY2(m.hasMatch(), qPrintable(frames[i]));
            QCOMPARE(m.captured(1).trimmed().toInt(), i);
            QVERIFY2(!m.captured(2).startsWith("_Z"), qPrintable(frames[i]));
        }
        if (!frame0.isEmpty())
            QCOMPARE(line.match(frames[0]).captured(2), frame0);
        if (code == CrashSignals::kStackOverflow) {
            QCOMPARE(frames.size(), 24);
            QCOMPARE(line.match(frames[23]).captured(2), frame0);
        } else if (!mode.contains("thread") && mode != "libc") {
            QVERIFY2(t.contains("  main\n"), qPrintable(section(t, kStack, QString())));
        }
    }

    void theLastOperationsAreCappedAt64()
    {
        const Run r = runVictim("many");
        QCOMPARE(r.status, QProcess::CrashExit);
        const QStringList ops = section(r.report, kOps, kStack).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(ops.size(), 64);
        QVERIFY(ops.first().startsWith("# 0 ") && ops.first().endsWith(" op 69"));
        QVERIFY(ops[9].startsWith("# 9 ") && ops[10].startsWith("#10 "));
        QVERIFY(ops.last().startsWith("#63 ") && ops.last().endsWith(" op 6"));
    }

    void aHeldRingIsLeftOutInsteadOfWaitedFor()
    {
        const Run r = runVictim("ringheld");
        QCOMPARE(r.status, QProcess::CrashExit);
        QCOMPARE(section(r.report, kOps, kStack),
                 QString("(left out: the operation log was being written when the crash happened)\n"));
        QVERIFY(r.report.contains("ERROR: NULL_POINTER_ACCESS\n"));
    }

    // The helper as the crash handler starts it, with the report on a
    // descriptor (here its standard input): the named file is finished only
    // when it already is a report, and a descriptor that is not a whole number
    // of 0 or more is refused at once with a message, reading nothing.
    void dialogHelperDescriptorForm_data()
    {
        QTest::addColumn<QByteArray>("fileHolds");
        QTest::addColumn<QString>("fd");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<bool>("finished");
        const QByteArray report = kReportTitle + "ERROR: X\n" + kStack.toUtf8() + kMangledFrame;
        QTest::newRow("report file, fd 0") << report << "0" << false << true;
        QTest::newRow("user data, fd 0") << QByteArray("precious user data\n") << "0" << false << false;
        QTest::newRow("empty file, fd 0") << QByteArray() << "0" << false << false;
        QTest::newRow("fd abc") << report << "abc" << true << false;
        QTest::newRow("fd -1") << report << "-1" << true << false;
        QTest::newRow("fd +0") << report << "+0" << true << false;
        QTest::newRow("fd 3x") << report << "3x" << true << false;
        QTest::newRow("fd empty") << report << "" << true << false;
        QTest::newRow("fd past int") << report << "99999999999" << true << false;
    }
    void dialogHelperDescriptorForm()
    {
        QFETCH(QByteArray, fileHolds);
        QFETCH(QString, fd);
        QFETCH(bool, refused);
        QFETCH(bool, finished);
        const QString path = TestSupport::tempDir() + "/crash_report.txt";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(fileHolds);
        f.close();

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TR_NO_CRASH_DIALOG", "1");
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(CRASH_VICTIM), {"--crash-dialog", path, fd});
        QVERIFY(p.waitForStarted());
        // A refused helper ends without reading its input: the pipe stays open.
        if (!refused) {
            p.write(kReportTitle + "ERROR: X\n" + kStack.toUtf8() + kMangledFrame);
            p.closeWriteChannel();
        }
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QByteArray err = p.readAllStandardError();
        QCOMPARE(err.contains("--crash-dialog: \"" + fd.toUtf8() + "\" is not a descriptor"), refused);

        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray after = f.readAll();
        if (finished)
            QVERIFY2(after.endsWith("  QObject::event(QEvent*)\n\n"), after.constData());
        else
            QCOMPARE(after, fileHolds);
    }

    void fatalMessageWritesTheFileAndAborts()
    {
        const Run r = runVictim("fatal");
        QCOMPARE(r.status, QProcess::CrashExit);
        const QRegularExpression form("^FATAL: boom 7\n\nFile: (.+):(\\d+)\nFunction: (.+)$");
        const auto m = form.match(r.report);
        QVERIFY2(m.hasMatch(), qPrintable(r.report));
        QVERIFY(m.captured(1).endsWith("crash_victim.cpp"));
        QVERIFY(m.captured(3).contains("main"));
        QVERIFY(!r.out.contains("box:")); // no GUI: no box
    }

    void fatalBoxOnlyOnTheGuiThread()
    {
        const Run gui = runVictim("fatalgui");
        QCOMPARE(gui.status, QProcess::CrashExit);
        QVERIFY(gui.report.startsWith("FATAL: boom 7\n\nFile: "));
        QVERIFY2(gui.out.startsWith("box: Tarvello Fatal Error|boom 7\n\nFile: "), gui.out.constData());

        const Run worker = runVictim("fatalthread");
        QCOMPARE(worker.status, QProcess::CrashExit);
        QVERIFY(worker.report.startsWith("FATAL: boom on a worker\n\nFile: "));
        QCOMPARE(worker.out, QByteArray());
    }
};

QTEST_GUILESS_MAIN(TstCrashProcess)
#include "tst_crashprocess.moc"
