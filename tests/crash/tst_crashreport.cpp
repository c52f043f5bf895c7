#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QScrollArea>
#include <QPointer>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <unistd.h>

#include "CrashReport.h"
#include "CrashSignals.h"
#include "OpLog.h"
#include "TestSupport.h"

namespace crashtest {
// Exported (the test links with -rdynamic), so the stack trace can name it.
__attribute__((noinline)) int knownFrame(int x)
{
    return x * 3 + 1;
}
} // namespace crashtest

namespace {
uintptr_t inKnownFrame()
{
    return reinterpret_cast<uintptr_t>(&crashtest::knownFrame) + 4;
}

struct Formatted
{
    QString file, report;
};

Formatted format(const CrashSignals::Fault& f, const QVector<uintptr_t>& frames)
{
    static char buf[256 * 1024];
    size_t reportLen = 0;
    const size_t len = CrashReport::formatReport(f, frames.constData(), int(frames.size()), buf, sizeof buf, &reportLen);
    return {QString::fromUtf8(buf, qsizetype(len)), QString::fromUtf8(buf, qsizetype(reportLen))};
}

CrashSignals::Fault fault(quint32 code, uintptr_t pc = 0)
{
    CrashSignals::Fault f;
    f.code = code;
    f.pc = pc;
    return f;
}

const QString kOps = "\n--- Last Operations (newest first) ---\n";
const QString kStack = "\n--- Stack Trace (for developers) ---\n";

QStringList opsOf(const QString& report)
{
    return report.mid(report.indexOf(kOps) + kOps.size()).split('\n', Qt::SkipEmptyParts);
}

QStringList framesOf(const QString& file)
{
    return file.mid(file.indexOf(kStack) + kStack.size()).split('\n', Qt::SkipEmptyParts);
}

// Stands in for the debug window: records what reaches its log slot.
class Sink : public QObject
{
    Q_OBJECT
public:
    QStringList got;
    QList<QThread*> threads;
public slots:
    void log(const QString& tag, const QString& text)
    {
        got << tag + "|" + text;
        threads << QThread::currentThread();
    }
};

// Every text colour of the shown crash box against the ground drawn under
// the report (its scroll area): those below 4.5 : 1, and a ground that is not
// the box's own dark one.
QStringList faintTexts(QMessageBox* box)
{
    QStringList faint;
    const QImage shot = box->grab().toImage();
    auto* area = box->findChild<QScrollArea*>(QStringLiteral("crashReportScroll"));
    if (!area)
        return {"no report scroll area"};
    const QRgb ground = TestSupport::drawnGround(shot, QRect(area->mapTo(box, QPoint(0, 0)), area->size()));
    if (TestSupport::contrast(ground, qRgb(0x1A, 0x1A, 0x1A)) > 1.1)
        faint << QStringLiteral("ground %1").arg(QColor(ground).name());
    QStringList inks;
    for (QLabel* l : box->findChildren<QLabel*>())
        if (!l->text().isEmpty())
            inks << l->palette().color(l->foregroundRole()).name();
    static const QRegularExpression colour(QStringLiteral("[^-]color:(#[0-9A-Fa-f]{3,6})"));
    for (const QString& html : {box->text(), box->informativeText()})
        for (auto m = colour.globalMatch(html); m.hasNext();)
            inks << m.next().captured(1);
    for (const QString& ink : inks)
        if (TestSupport::contrast(QColor(ink).rgb(), ground) < 4.5)
            faint << QStringLiteral("%1 on %2: %3:1").arg(ink, QColor(ground).name())
                         .arg(TestSupport::contrast(QColor(ink).rgb(), ground), 0, 'f', 2);
    return faint;
}

void send(QtMsgType type, const QString& text)
{
    CrashReport::qtMessageHandler(type, QMessageLogContext(), text);
}
} // namespace

class TstCrashReport : public QObject
{
    Q_OBJECT
private slots:
    void lastOperationsNewestFirst()
    {
        VX_LOG("a");
        VX_LOG("b");
        VX_LOG("c");
        const Formatted f = format(fault(CrashSignals::kAccessViolation), {});
        const QStringList ops = opsOf(f.report);
        const QRegularExpression op("^# ([0-9]) \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (.*)$");
        QCOMPARE(ops.size(), 3);
        QCOMPARE(op.match(ops[0]).captured(2), QString("c"));
        QCOMPARE(op.match(ops[1]).captured(2), QString("b"));
        QCOMPARE(op.match(ops[2]).captured(2), QString("a"));
        QCOMPARE(op.match(ops[2]).captured(1), QString("2"));

        for (int i = 0; i < 70; ++i)
            VX_LOG(QString("op %1").arg(i));
        const QStringList many = opsOf(format(fault(CrashSignals::kAccessViolation), {}).report);
        QCOMPARE(many.size(), 64);
        QVERIFY(many[0].startsWith("# 0 ") && many[0].endsWith(" op 69"));
        QVERIFY(many[63].startsWith("#63 ") && many[63].endsWith(" op 6"));

        // Held by a writer (the crashing thread itself, say): left out, never waited for.
        QString held;
        OpLog::withRingHeld([&] { held = format(fault(CrashSignals::kAccessViolation), {}).report; });
        QCOMPARE(opsOf(held),
                 QStringList({"(left out: the operation log was being written when the crash happened)"}));
    }

    void classification_data()
    {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<quint64>("kind");
        QTest::addColumn<quint64>("address");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("why");
        QTest::addColumn<QString>("fix");
        const QString nullWhat = "The app tried to use an audio object before it was ready (null pointer).";
        const QString nullWhy = "An audio engine object was accessed before initialization completed. This should not "
                                "occur in v7+ builds. If it does, a device change or hot-plug event may have triggered "
                                "a re-init race.";
        const QString nullFix =
            "• Restart the app.\n• If it keeps happening: go to Settings → Audio → change the output device, then "
            "restart.\n• Try running as Administrator.\n• Disable exclusive audio mode: right-click speaker → Sounds → "
            "your device → Properties → Advanced → uncheck \"Allow exclusive control\".";
        const QString freedWhy = "A pointer to an audio buffer or UI object was used after it was deleted (use-after-free).";
        const QString freedFix = "• Restart the app.\n• If it keeps happening, paste the report below to an AI or developer.";
        const QString otherFix = "• Restart the app.\n• Paste the full report below to an AI or developer.";
        const quint32 av = CrashSignals::kAccessViolation;
        QTest::newRow("null read") << av << 0ull << 0ull << "NULL_POINTER_ACCESS" << nullWhat << nullWhy << nullFix;
        QTest::newRow("write 4095") << av << 1ull << 4095ull << "NULL_POINTER_ACCESS" << nullWhat << nullWhy << nullFix;
        QTest::newRow("read 4096")
            << av << 0ull << 4096ull << "NULL_POINTER_ACCESS"
            << "The app tried to read from a memory address that doesn't exist (0x0000000000001000)." << freedWhy
            << freedFix;
        QTest::newRow("write high")
            << av << 7ull << 0xdeadbeef00ull << "NULL_POINTER_ACCESS"
            << "The app tried to write to a memory address that doesn't exist (0x000000deadbeef00)." << freedWhy
            << freedFix;
        QTest::newRow("stack overflow")
            << CrashSignals::kStackOverflow << 0ull << 0ull << "STACK_OVERFLOW"
            << "The app ran out of stack space (too many nested function calls)."
            << "A function is calling itself recursively without a proper exit condition, or a deeply nested audio "
               "callback chain overflowed."
            << "• Restart the app.\n• If triggered by a specific action (e.g. loading a file), avoid that action and "
               "report it.";
        QTest::newRow("illegal instruction")
            << CrashSignals::kIllegalInstruction << 0ull << 0ull << "ILLEGAL_INSTRUCTION"
            << "The CPU hit an instruction it doesn't understand."
            << "The binary may be corrupt, or was compiled for a newer CPU than this machine supports."
            << "• Re-download or rebuild the app.\n• Check that your CPU supports SSE2/AVX if the build uses those flags.";
        QTest::newRow("divide by zero")
            << CrashSignals::kIntegerDivideByZero << 0ull << 0ull << "DIVIDE_BY_ZERO"
            << "The app tried to divide a number by zero."
            << "An audio buffer size, sample rate, or channel count was zero when the engine expected a valid value."
            << "• Check audio device settings — make sure a valid output device is selected.\n• Restart the app.";
        QTest::newRow("breakpoint") << 0x80000003u << 0ull << 0ull << "EXCEPTION_0x80000003"
                                    << "An unexpected low-level exception occurred." << "Unknown cause." << otherFix;
        QTest::newRow("abort")
            << CrashSignals::kAborted << 0ull << 0ull << "ABORTED"
            << "The app stopped itself (abort) because it reached a state it could not go on from."
            << "A safety check in the app or in one of the libraries it uses failed." << freedFix;
        QTest::newRow("short code") << 0x5u << 0ull << 0ull << "EXCEPTION_0x00000005"
                                    << "An unexpected low-level exception occurred." << "Unknown cause." << otherFix;
    }
    void classification()
    {
        QFETCH(quint32, code);
        QFETCH(quint64, kind);
        QFETCH(quint64, address);
        QFETCH(QString, error);
        QFETCH(QString, what);
        QFETCH(QString, why);
        QFETCH(QString, fix);
        const CrashReport::Description d = CrashReport::describe(code, kind, address);
        QCOMPARE(d.error, error);
        QCOMPARE(d.what, what);
        QCOMPARE(d.why, why);
        QCOMPARE(d.fix, fix);

        // The report carries the same texts, FIX on one line.
        CrashSignals::Fault f = fault(code);
        f.accessKind = kind;
        f.address = address;
        QString fixLine = fix;
        fixLine.replace('\n', " | ");
        const QString expect = "\n\nERROR: " + error + "\nWHAT:  " + what + "\nWHY:   " + why + "\nFIX:   " + fixLine
                               + "\n\nCrash in: ";
        QVERIFY(format(f, {}).report.contains(expect));
    }

    void signalsMapOntoExceptionCodes()
    {
        using namespace CrashSignals;
        QCOMPARE(CrashSignals::describe(SIGSEGV, SEGV_MAPERR, 0x10, nullptr).code, kAccessViolation);
        QCOMPARE(CrashSignals::describe(SIGSEGV, SEGV_MAPERR, 0x10, nullptr).address, quint64(0x10));
        QCOMPARE(CrashSignals::describe(SIGBUS, BUS_ADRERR, 0x7000, nullptr).code, kAccessViolation);
        QCOMPARE(CrashSignals::describe(SIGILL, ILL_ILLOPN, 0, nullptr).code, kIllegalInstruction);
        QCOMPARE(CrashSignals::describe(SIGILL, ILL_PRVOPC, 0, nullptr).code, kPrivilegedInstruction);
        QCOMPARE(CrashSignals::describe(SIGFPE, FPE_INTDIV, 0, nullptr).code, kIntegerDivideByZero);
        QCOMPARE(CrashSignals::describe(SIGFPE, FPE_INTOVF, 0, nullptr).code, kIntegerOverflow);
        QCOMPARE(CrashSignals::describe(SIGFPE, FPE_FLTDIV, 0, nullptr).code, kFloatDivideByZero);
        QCOMPARE(CrashSignals::describe(SIGFPE, FPE_FLTINV, 0, nullptr).code, kFloatInvalidOperation);
        QCOMPARE(CrashSignals::describe(SIGABRT, SI_TKILL, 0, nullptr, getpid()).code, kAborted);

        // Sent by a process: si_addr holds no address (it overlaps the sender's
        // id), so nothing is read as one.
        for (int sigCode : {int(SI_USER), int(SI_QUEUE), int(SI_TKILL)}) {
            for (int signo : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
                const Fault sent = CrashSignals::describe(signo, sigCode, 4321, nullptr, 4321);
                QCOMPARE(sent.code, kSentSignal);
                QCOMPARE(sent.senderPid, int64_t(4321));
                QCOMPARE(sent.address, quint64(0));
            }
        }
        // Raised by the kernel without an address (SI_KERNEL) is still a fault.
        QCOMPARE(CrashSignals::describe(SIGSEGV, SI_KERNEL, 0, nullptr).code, kAccessViolation);
    }

    void reportLayout()
    {
        QVector<uintptr_t> frames;
        for (int i = 0; i < 30; ++i)
            frames << (i == 1 ? uintptr_t(0x10) : inKnownFrame());
        const Formatted f = format(fault(CrashSignals::kStackOverflow, inKnownFrame()), frames);

        QVERIFY(f.file.startsWith(f.report));
        QVERIFY(f.report.startsWith("=== Tarvello Rododu Crash Report ===\nVersion: "));
        QVERIFY(QRegularExpression("\nTime: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n\nERROR: ").match(f.report).hasMatch());
        // The fault lies in this test program.
        QVERIFY(f.report.contains("\n\nCrash in: tst_crashreport\n\n" + kOps));
        QVERIFY(f.report.contains("FIX:   • Restart the app. | • If triggered by a specific action"));
        // The dialog's part has no stack trace; the file has it and ends with a line break.
        QVERIFY(!f.report.contains("Stack Trace"));
        QCOMPARE(f.file.mid(f.report.size(), kStack.size()), kStack);
        QVERIFY(f.file.endsWith("\n\n"));

        const QStringList lines = framesOf(f.file);
        QCOMPARE(lines.size(), 24);
        const QString sym = "_ZN9crashtest10knownFrameEi";
        const QString hex = QString("%1").arg(inKnownFrame(), 16, 16, QChar('0'));
        QCOMPARE(lines[0], "# 0  0x" + hex + "  " + sym);
        QCOMPARE(lines[1], QString("# 1  0x0000000000000010  ??"));
        QCOMPARE(lines[9], "# 9  0x" + hex + "  " + sym);
        QCOMPARE(lines[10], "#10  0x" + hex + "  " + sym);
        QCOMPARE(lines[23], "#23  0x" + hex + "  " + sym);
        // After demangling the same line reads as C++.
        QVERIFY(CrashReport::demangleStackTrace(f.file).contains("\n#23  0x" + hex + "  crashtest::knownFrame(int)\n"));

        // No frames at all, and a fault outside any module.
        const Formatted bare = format(fault(0x80000003u, 0x10), {});
        QVERIFY(bare.file.endsWith(kStack + "(stack trace unavailable)\n"));
        QVERIFY(bare.report.contains("\n\nCrash in: TarvelloRuzoru\n\n"));
    }

    void demanglingTouchesOnlyTheStackTrace()
    {
        const QString text = "ERROR: X\nWHAT:  _ZN7QObject5eventEP6QEvent stays\n" + kStack
                             + "# 0  0x00000000000000aa  _ZN7QObject5eventEP6QEvent\n"
                               "# 1  0x00000000000000bb  _Znotmangled\n"
                               "# 2  0x00000000000000cc  ??\n"
                               "# 3  0x00000000000000dd  main\n\n";
        const QString out = CrashReport::demangleStackTrace(text);
        QCOMPARE(out,
                 "ERROR: X\nWHAT:  _ZN7QObject5eventEP6QEvent stays\n" + kStack
                     + "# 0  0x00000000000000aa  QObject::event(QEvent*)\n"
                       "# 1  0x00000000000000bb  _Znotmangled\n"
                       "# 2  0x00000000000000cc  ??\n"
                       "# 3  0x00000000000000dd  main\n\n");
        QCOMPARE(CrashReport::demangleStackTrace("no trace here"), QString("no trace here"));
    }

    void dialogHelperFinishesTheFile()
    {
        const QString path = TestSupport::tempDir() + "/crash_report.txt";
        const QByteArray title = "=== Tarvello Rododu Crash Report ===\n";
        const QByteArray text =
            title + "ERROR: X\n" + kStack.toUtf8() + "# 0  0x00000000000000aa  _ZN7QObject5eventEP6QEvent\n\n";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();

        qputenv("TR_NO_CRASH_DIALOG", "1");
        QByteArray a0 = "prog", a1 = "--crash-dialog", a2 = QFile::encodeName(path);
        char* argv[] = {a0.data(), a1.data(), a2.data(), nullptr};
        QVERIFY(CrashReport::handleCrashDialogArgs(3, argv));
        qunsetenv("TR_NO_CRASH_DIALOG");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().endsWith("  QObject::event(QEvent*)\n\n"));
        f.close();

        // Anything that is not a report of ours stays byte for byte as it was,
        // even when it holds mangled names the helper would turn readable.
        const QByteArray frame = "# 0  0x00000000000000aa  _ZN7QObject5eventEP6QEvent\n";
        QByteArray ogg("OggS\0\x02\0\0\0\0\0\0\0\0", 14);
        for (int i = 0; i < 4096; ++i)
            ogg += char((i * 131 + 7) & 0xff);
        const QList<QByteArray> strangers = {
            ogg + kStack.toUtf8() + frame,                                   // binary, not UTF-8
            "ERROR: X\n" + kStack.toUtf8() + frame,                          // no title line
            title + "ERROR: \xff\xfe X\n" + kStack.toUtf8() + frame,         // title, but not UTF-8
            title + "ERROR: X\n" + frame,                                    // no stack trace section
            title + "ERROR: X\n" + kStack.toUtf8() + QByteArray("\0", 1) + frame, // a NUL byte
        };
        for (const QByteArray& stranger : strangers) {
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(stranger);
            f.close();
            qputenv("TR_NO_CRASH_DIALOG", "1");
            QVERIFY(CrashReport::handleCrashDialogArgs(3, argv));
            qunsetenv("TR_NO_CRASH_DIALOG");
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), stranger);
            f.close();
        }

        QByteArray b1 = "--other";
        char* plain[] = {a0.data(), b1.data(), a2.data(), nullptr};
        QVERIFY(!CrashReport::handleCrashDialogArgs(3, plain));
        QVERIFY(!CrashReport::handleCrashDialogArgs(1, argv));
    }

    void dialogCopiesTheReportWithoutTheStackTrace()
    {
        const Formatted f = format(fault(CrashSignals::kAccessViolation), {inKnownFrame()});
        QGuiApplication::clipboard()->setText("before");

        QMessageBox* seen = nullptr;
        QString info;
        QStringList buttons;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            seen = r.box;
            info = r.box->informativeText();
            for (QAbstractButton* b : r.box->buttons())
                buttons << b->text() + "/" + QString::number(r.box->buttonRole(b));
            for (QAbstractButton* b : r.box->buttons())
                if (b->text() == "Copy for AI")
                    return QVariant::fromValue(b);
            return {};
        });
        QVERIFY(CrashReport::showCrashDialog(f.file, "/data/crash_report.txt"));
        QVERIFY(seen);
        QCOMPARE(QGuiApplication::clipboard()->text(), f.report);
        buttons.sort(); // laid out by the platform's convention
        QCOMPARE(buttons, QStringList({"Copy for AI/" + QString::number(QMessageBox::ActionRole),
                                       "OK/" + QString::number(QMessageBox::AcceptRole)}));
        const CrashReport::Description d = CrashReport::describe(CrashSignals::kAccessViolation, 0, 0);
        QVERIFY(info.startsWith("<b>Error:</b> NULL_POINTER_ACCESS<br><b>What happened:</b> " + d.what.toHtmlEscaped()
                                + "<br><br><b style='color:#90EE90;'>How to fix:</b><br><pre "
                                  "style='color:#90EE90;font-size:11px;'>"
                                + d.fix.toHtmlEscaped() + "</pre><hr>"));
        QVERIFY(info.contains(f.report.toHtmlEscaped() + "</pre><small style='color:#9A9A9A;'>Log: /data/crash_report.txt</small>"));
        QVERIFY(!info.left(info.indexOf("<hr>")).contains(d.why.toHtmlEscaped())); // WHY only inside the report
        QVERIFY(!info.contains("Stack Trace"));
    }

    void dialogClosesItselfWithoutCopying()
    {
        // A full operation log: the box still fits the screen, its buttons in reach.
        for (int i = 0; i < 64; ++i)
            VX_LOG(QString("operation %1 of a full log, long enough to need a line of its own").arg(i));
        const Formatted f = format(fault(CrashSignals::kIntegerDivideByZero), {});
        QGuiApplication::clipboard()->setText("before");
        bool closedByTimer = false;
        bool fits = false;
        QStringList faint;
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            title = r.title;
            text = r.box->text();
            icon = r.box->icon();
            auto* timer = r.box->findChild<QTimer*>();
            if (!timer || !timer->isActive() || !timer->isSingleShot() || timer->interval() != 30000)
                return {};
            // Drive the timer instead of waiting for it.
            r.box->show();
            QCoreApplication::processEvents();
            const QRect screen = r.box->screen()->availableGeometry();
            fits = r.box->frameGeometry().height() <= screen.height();
            for (QAbstractButton* b : r.box->buttons())
                fits = fits && r.box->rect().contains(QRect(b->mapTo(r.box, QPoint(0, 0)), b->size()));
            faint = faintTexts(r.box);
            timer->start(0);
            (void)QTest::qWaitFor([&] { return !r.box->isVisible(); });
            closedByTimer = r.box->clickedButton() && r.box->clickedButton()->text() == "OK";
            return {};
        });
        QVERIFY(!CrashReport::showCrashDialog(f.file, "/x"));
        QCOMPARE(title, QString("Tarvello Rododu — Crash"));
        QCOMPARE(icon, QMessageBox::Critical);
        QCOMPARE(text, QString("<b style='font-size:13px;color:#FF6060;'>⚠ Tarvello Rododu crashed</b>"));
        QVERIFY(closedByTimer);
        QVERIFY(fits);
        QVERIFY2(faint.isEmpty(), qPrintable(faint.join('\n')));
        QVERIFY(f.report.count("operation ") >= 60);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("before"));
    }

    void messagesReachTheDebugWindow()
    {
        Sink sink;
        send(QtDebugMsg, "before any window"); // dropped: no debug window yet
        CrashReport::setDebugWindowSink(&sink);
        send(QtDebugMsg, "hello");
        send(QtWarningMsg, "careful");
        send(QtWarningMsg, "Could not parse stylesheet: box-shadow: 0 0 3px");
        send(QtDebugMsg, "QString::arg: Argument missing: x, 2");
        send(QtCriticalMsg, "critical");
        send(QtInfoMsg, "info");
        QVERIFY(sink.got.isEmpty()); // queued, not direct
        QThread* worker = QThread::create([] { send(QtWarningMsg, "from a worker"); });
        worker->start();
        worker->wait();
        delete worker;
        QTRY_COMPARE(sink.got.size(), 3);
        QCOMPARE(sink.got, QStringList({"DBG|hello", "WARN|careful", "WARN|from a worker"}));
        for (QThread* t : sink.threads)
            QCOMPARE(t, qApp->thread());

        // A window that goes between the message and the call is not touched.
        send(QtDebugMsg, "late");
        CrashReport::setDebugWindowSink(nullptr);
        QCoreApplication::processEvents();
        QCOMPARE(sink.got.size(), 3);
    }
};

QTEST_MAIN(TstCrashReport)
#include "tst_crashreport.moc"
