#include "CrashReport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cxxabi.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FileCheck.h"
#include "Modal.h"
#include "OpLog.h"
#include "SafeWrite.h"
#include "ScreenFit.h"

extern char** environ;

namespace CrashReport {
namespace {

using CrashSignals::SafeText;

constexpr int kMaxFrames = 24;
constexpr int kDialogWaitMs = 60000;
const char kStackHeading[] = "\n--- Stack Trace (for developers) ---\n";
const char kNoDialogEnv[] = "TR_NO_CRASH_DIALOG";

// Everything the signal handler needs, prepared by install().
char g_reportPath[4096];
char g_reportDir[4096];
char g_programPath[4096];
char g_version[64];
char g_fallbackModule[256] = "TarvelloRuzoru";
std::atomic<int> g_utcOffset {0};
char g_fileText[192 * 1024];
char g_scratchDir[4096];
uintptr_t g_frames[kMaxFrames];

std::atomic<QObject*> g_debugSink {nullptr};

// ---- The four texts ---------------------------------------------------------

struct SafeDescription
{
    char error[48];
    char what[768];
    const char* why;
    const char* fix;
};

const char kNullWhat[] = "The app tried to use an audio object before it was ready (null pointer).";
const char kNullWhy[] = "An audio engine object was accessed before initialization completed. This should not occur "
                        "in v7+ builds. If it does, a device change or hot-plug event may have triggered a re-init "
                        "race.";
const char kNullFix[] = "• Restart the app.\n"
                        "• If it keeps happening: go to Settings → Audio → change the output device, then restart.\n"
                        "• Try running as Administrator.\n"
                        "• Disable exclusive audio mode: right-click speaker → Sounds → your device → Properties → "
                        "Advanced → uncheck \"Allow exclusive control\".";
const char kFreedWhy[] = "A pointer to an audio buffer or UI object was used after it was deleted (use-after-free).";
const char kFreedFix[] = "• Restart the app.\n• If it keeps happening, paste the report below to an AI or developer.";
const char kStackWhat[] = "The app ran out of stack space (too many nested function calls).";
const char kStackWhy[] = "A function is calling itself recursively without a proper exit condition, or a deeply "
                         "nested audio callback chain overflowed.";
const char kStackFix[] = "• Restart the app.\n• If triggered by a specific action (e.g. loading a file), avoid that "
                         "action and report it.";
const char kIllegalWhat[] = "The CPU hit an instruction it doesn't understand.";
const char kIllegalWhy[] = "The binary may be corrupt, or was compiled for a newer CPU than this machine supports.";
const char kIllegalFix[] = "• Re-download or rebuild the app.\n• Check that your CPU supports SSE2/AVX if the build "
                           "uses those flags.";
const char kDivWhat[] = "The app tried to divide a number by zero.";
const char kDivWhy[] = "An audio buffer size, sample rate, or channel count was zero when the engine expected a valid "
                       "value.";
const char kDivFix[] = "• Check audio device settings — make sure a valid output device is selected.\n• Restart the "
                       "app.";
const char kAbortWhat[] = "The app stopped itself (abort) because it reached a state it could not go on from.";
const char kAbortWhy[] = "A safety check in the app or in one of the libraries it uses failed.";
const char kUncaughtWhy[] = "An operation failed with an error (a C++ exception) that no part of the app caught, so "
                            "the app had to stop.";
const char kSentWhy[] = "The signal was sent on purpose, for example with kill; it did not come from a fault in the "
                        "app's own code or memory.";
const char kSentFix[] = "• Find out what sent the signal (the process id above) and stop it from doing so.\n"
                        "• Restart the app.";
const char kOtherWhat[] = "An unexpected low-level exception occurred.";
const char kOtherWhy[] = "Unknown cause.";
const char kOtherFix[] = "• Restart the app.\n• Paste the full report below to an AI or developer.";

void describeSentSignal(const CrashSignals::Fault& f, SafeText& what)
{
    const char* name = CrashSignals::signalName(f.signo);
    char number[24];
    if (!name) {
        SafeText(number, sizeof number).add("signal ").dec(f.signo);
        name = number;
    }
    if (f.senderPid == int64_t(getpid()))
        what.add("The app sent itself the signal ").add(name).add(" (process id ").dec(f.senderPid);
    else
        what.add("Another process (id ").dec(f.senderPid).add(") sent the app the signal ").add(name);
    what.add(f.senderPid == int64_t(getpid()) ? "), which ended it." : ", which ended it.");
}

void describeSafe(const CrashSignals::Fault& f, SafeDescription* d)
{
    const uint64_t address = f.address;
    SafeText error(d->error, sizeof d->error);
    SafeText what(d->what, sizeof d->what);
    switch (f.code) {
    case CrashSignals::kAccessViolation:
        error.add("NULL_POINTER_ACCESS");
        if (address < 4096) {
            what.add(kNullWhat);
            d->why = kNullWhy;
            d->fix = kNullFix;
        } else {
            what.add("The app tried to ")
                .add(f.accessKind == 0 ? "read from" : "write to")
                .add(" a memory address that doesn't exist (0x")
                .hex(address, 16)
                .add(").");
            d->why = kFreedWhy;
            d->fix = kFreedFix;
        }
        break;
    case CrashSignals::kStackOverflow:
        error.add("STACK_OVERFLOW");
        what.add(kStackWhat);
        d->why = kStackWhy;
        d->fix = kStackFix;
        break;
    case CrashSignals::kIllegalInstruction:
        error.add("ILLEGAL_INSTRUCTION");
        what.add(kIllegalWhat);
        d->why = kIllegalWhy;
        d->fix = kIllegalFix;
        break;
    case CrashSignals::kIntegerDivideByZero:
        error.add("DIVIDE_BY_ZERO");
        what.add(kDivWhat);
        d->why = kDivWhy;
        d->fix = kDivFix;
        break;
    case CrashSignals::kAborted:
        error.add("ABORTED");
        what.add(kAbortWhat);
        d->why = kAbortWhy;
        d->fix = kFreedFix;
        break;
    case CrashSignals::kUncaughtException:
        error.add("UNCAUGHT_EXCEPTION");
        what.add("The app hit an error that nothing handled (")
            .add(f.detail && *f.detail ? f.detail : "unknown exception")
            .add(").");
        d->why = kUncaughtWhy;
        d->fix = kFreedFix;
        break;
    case CrashSignals::kSentSignal:
        error.add("SIGNAL_FROM_OUTSIDE");
        describeSentSignal(f, what);
        d->why = kSentWhy;
        d->fix = kSentFix;
        break;
    default:
        error.add("EXCEPTION_0x").hex(f.code, 8);
        what.add(kOtherWhat);
        d->why = kOtherWhy;
        d->fix = kOtherFix;
        break;
    }
}

// ---- Pieces of the report ---------------------------------------------------

// Local time from the wall clock and the zone offset noted outside the handler.
void addLocalTime(SafeText& t)
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    const int64_t local = int64_t(ts.tv_sec) + g_utcOffset.load(std::memory_order_relaxed);
    int64_t days = local / 86400;
    int64_t secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    t.dec(year, 4, '0').add('-').dec(month, 2, '0').add('-').dec(day, 2, '0').add(' ');
    t.dec(secs / 3600, 2, '0').add(':').dec(secs / 60 % 60, 2, '0').add(':').dec(secs % 60, 2, '0');
}

void addFixOnOneLine(SafeText& t, const char* fix)
{
    for (const char* p = fix; *p; ++p) {
        if (*p == '\n')
            t.add(" | ");
        else
            t.add(*p);
    }
}

void addOperation(int index, const char* text, size_t len, void* ctx)
{
    if (len == 0)
        return;
    auto& t = *static_cast<SafeText*>(ctx);
    t.add('#').dec(index, 2).add(' ').add(text, len).add('\n');
}

void addStackTrace(SafeText& t, const uintptr_t* frames, int count)
{
    const size_t start = t.size();
    for (int i = 0; i < count && i < kMaxFrames; ++i) {
        // A return address may lie just past its function's end; look the
        // symbol up from inside the call instead.
        const uintptr_t lookup = i > 0 && frames[i] ? frames[i] - 1 : frames[i];
        const char* symbol = nullptr;
        const char* module = nullptr;
        CrashSignals::symbolize(lookup, &symbol, &module);
        t.add('#').dec(i, 2).add("  0x").hex(frames[i], 16).add("  ").add(symbol ? symbol : "??").add('\n');
    }
    if (t.size() == start)
        t.add("(stack trace unavailable)");
}

// ---- The dialog helper ------------------------------------------------------

// Starts this program as the dialog helper, hands it the file text over a
// socket and waits until it reports that the dialog has closed.
void runDialogHelper(const char* text, size_t len)
{
    if (!g_programPath[0])
        return;
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0)
        return;
    // The helper's end must survive exec: a copy without close-on-exec.
    const int childFd = fcntl(sv[1], F_DUPFD, 3);
    close(sv[1]);
    if (childFd < 0) {
        close(sv[0]);
        return;
    }
    char fdText[24];
    SafeText(fdText, sizeof fdText).dec(childFd);
    char arg0[] = "TarvelloRuzoru";
    char arg1[] = "--crash-dialog";
    char* argv[] = {arg0, arg1, g_reportPath, fdText, nullptr};

    const pid_t pid = vfork();
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execve(g_programPath, argv, environ);
        _exit(127);
    }
    close(childFd);
    if (pid > 0) {
        size_t sent = 0;
        while (sent < len) {
            const ssize_t n = send(sv[0], text + sent, len - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            sent += size_t(n);
        }
        shutdown(sv[0], SHUT_WR);
        struct pollfd pfd {sv[0], POLLIN, 0};
        while (poll(&pfd, 1, kDialogWaitMs) < 0 && errno == EINTR) {
        }
    }
    close(sv[0]);
}

// ---- Qt side ----------------------------------------------------------------

bool onGuiThread()
{
    auto* app = QCoreApplication::instance();
    return app && qobject_cast<QApplication*>(app) && QThread::currentThread() == app->thread();
}

void noteUtcOffset()
{
    g_utcOffset.store(QDateTime::currentDateTime().offsetFromUtc(), std::memory_order_relaxed);
}

void copyInto(char* dst, size_t cap, const QByteArray& src)
{
    const size_t n = std::min(size_t(src.size()), cap - 1);
    memcpy(dst, src.constData(), n);
    dst[n] = '\0';
}

struct ParsedReport
{
    QString error, what, fix, report;
};

ParsedReport parseReport(const QString& fileText)
{
    ParsedReport p;
    const qsizetype cut = fileText.indexOf(QLatin1String(kStackHeading));
    p.report = cut >= 0 ? fileText.left(cut) : fileText;
    for (const QString& line : p.report.split(QLatin1Char('\n'))) {
        if (p.error.isEmpty() && line.startsWith(QLatin1String("ERROR: ")))
            p.error = line.mid(7);
        else if (p.what.isEmpty() && line.startsWith(QLatin1String("WHAT:  ")))
            p.what = line.mid(7);
        else if (p.fix.isEmpty() && line.startsWith(QLatin1String("FIX:   ")))
            p.fix = line.mid(7).replace(QStringLiteral(" | • "), QStringLiteral("\n• "));
    }
    return p;
}

// A crash report as the handler writes it: UTF-8 text that begins with the
// report's title line and holds the stack trace section.
bool looksLikeReport(const QByteArray& raw)
{
    static const QByteArray title = "=== Tarvello Rododu Crash Report ===\n";
    if (!raw.startsWith(title) || !raw.contains(kStackHeading) || raw.contains('\0'))
        return false;
    return QString::fromUtf8(raw).toUtf8() == raw;
}

QByteArray readAllFromFd(int fd)
{
    QByteArray out;
    char buf[16384];
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}

// The helper's descriptor argument: decimal digits only, 0 or more, within
// an int. Anything else (a sign, letters, nothing at all) is refused.
bool parseDescriptor(const char* text, int* fd)
{
    if (!text || !*text)
        return false;
    long long v = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        v = v * 10 + (*c - '0');
        if (v > INT_MAX)
            return false;
    }
    *fd = int(v);
    return true;
}

// The named file's bytes when it is a regular file that can be read, else nothing.
QByteArray readReportFile(const QString& path)
{
    if (path.isEmpty() || !FileCheck::isRegularFile(path))
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// ---- Public -----------------------------------------------------------------

QString crashLogPath()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return dir + QStringLiteral("/crash_report.txt");
}

Description describe(quint32 code, quint64 accessKind, quint64 address)
{
    CrashSignals::Fault f;
    f.code = code;
    f.accessKind = accessKind;
    f.address = address;
    return describe(f);
}

Description describe(const CrashSignals::Fault& fault)
{
    SafeDescription d {};
    describeSafe(fault, &d);
    return {QString::fromUtf8(d.error), QString::fromUtf8(d.what), QString::fromUtf8(d.why),
            QString::fromUtf8(d.fix)};
}

size_t formatReport(const CrashSignals::Fault& fault, const uintptr_t* frames, int frameCount, char* out,
                    size_t cap, size_t* reportLength)
{
    SafeDescription d {};
    describeSafe(fault, &d);

    const char* symbol = nullptr;
    const char* modulePath = nullptr;
    CrashSignals::symbolize(fault.pc, &symbol, &modulePath);
    const char* module = modulePath ? CrashSignals::baseName(modulePath) : g_fallbackModule;

    SafeText t(out, cap);
    t.add("=== Tarvello Rododu Crash Report ===\nVersion: ").add(g_version).add("\nTime: ");
    addLocalTime(t);
    t.add("\n\nERROR: ").add(d.error);
    t.add("\nWHAT:  ").add(d.what);
    t.add("\nWHY:   ").add(d.why);
    t.add("\nFIX:   ");
    addFixOnOneLine(t, d.fix);
    t.add("\n\nCrash in: ").add(module).add("\n\n");
    t.add("\n--- Last Operations (newest first) ---\n");
    if (!OpLog::visitForCrash(&addOperation, &t))
        t.add("(left out: the operation log was being written when the crash happened)\n");
    if (reportLength)
        *reportLength = t.size();
    t.add(kStackHeading);
    addStackTrace(t, frames, frameCount);
    t.add('\n');
    return t.size();
}

void crashHandler(const CrashSignals::Fault& fault)
{
    const int frames = CrashSignals::captureFrames(fault, g_frames, kMaxFrames);
    const size_t len = formatReport(fault, g_frames, frames, g_fileText, sizeof g_fileText, nullptr);

    if (g_reportDir[0]) {
        memcpy(g_scratchDir, g_reportDir, sizeof g_scratchDir);
        CrashSignals::makePath(g_scratchDir);
    }
    if (g_reportPath[0]) {
        const int fd = open(g_reportPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            CrashSignals::writeFully(fd, g_fileText, len);
            fsync(fd);
            close(fd);
        }
    }
    // The file is on disk (or could not be written); now the dialog.
    runDialogHelper(g_fileText, len);
}

void install()
{
    const QString path = crashLogPath();
    copyInto(g_reportPath, sizeof g_reportPath, QFile::encodeName(path));
    copyInto(g_reportDir, sizeof g_reportDir, QFile::encodeName(QFileInfo(path).absolutePath()));
    const QString program = QCoreApplication::applicationFilePath();
    copyInto(g_programPath, sizeof g_programPath, QFile::encodeName(program));
    if (!program.isEmpty())
        copyInto(g_fallbackModule, sizeof g_fallbackModule, QFile::encodeName(QFileInfo(program).fileName()));
    copyInto(g_version, sizeof g_version, QCoreApplication::applicationVersion().toUtf8());

    // Local time in the handler comes from this offset; keep it current
    // across changes to and from summer time.
    noteUtcOffset();
    auto* zoneTimer = new QTimer(QCoreApplication::instance());
    QObject::connect(zoneTimer, &QTimer::timeout, zoneTimer, &noteUtcOffset);
    zoneTimer->start(60000);

    CrashSignals::install(&crashHandler);
    qInstallMessageHandler(&qtMessageHandler);
}

void setDebugWindowSink(QObject* sink)
{
    g_debugSink.store(sink);
}

void qtMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg)
{
    switch (type) {
    case QtFatalMsg: {
        QString text = msg;
        if (context.file)
            text += QStringLiteral("\n\nFile: %1:%2\nFunction: %3")
                        .arg(QString::fromUtf8(context.file))
                        .arg(context.line)
                        .arg(context.function ? QString::fromUtf8(context.function) : QStringLiteral("?"));
        safeWriteFile(crashLogPath(), "FATAL: " + text.toUtf8());
        // A box can only be shown on the GUI thread; elsewhere the file is all.
        if (onGuiThread())
            Modal::critical(nullptr, QStringLiteral("Tarvello Fatal Error"), text, QMessageBox::Ok);
        // The file says what happened: the abort must not replace it.
        CrashSignals::releaseAbort();
        abort();
    }
    case QtDebugMsg:
    case QtWarningMsg: {
        if (msg.contains(QLatin1String("box-shadow")) || msg.contains(QLatin1String("QString::arg: Argument missing")))
            return;
        auto* app = QCoreApplication::instance();
        if (!app || !g_debugSink.load())
            return;
        const QString tag = type == QtWarningMsg ? QStringLiteral("WARN") : QStringLiteral("DBG");
        // Read the sink again when the call runs: it may have gone meanwhile.
        QMetaObject::invokeMethod(
            app,
            [tag, msg] {
                if (QObject* sink = g_debugSink.load())
                    QMetaObject::invokeMethod(sink, "log", Qt::DirectConnection, Q_ARG(QString, tag),
                                              Q_ARG(QString, msg));
            },
            Qt::QueuedConnection);
        return;
    }
    case QtCriticalMsg:
    case QtInfoMsg:
        return;
    }
}

QString demangleStackTrace(const QString& fileText)
{
    const qsizetype at = fileText.indexOf(QLatin1String(kStackHeading));
    if (at < 0)
        return fileText;
    const qsizetype start = at + qsizetype(strlen(kStackHeading));
    static const QRegularExpression frameLine(QStringLiteral("^(#[ \\d]\\d  0x[0-9a-f]{16}  )(_Z\\S+)$"),
                                              QRegularExpression::MultilineOption);
    QString out = fileText.left(start);
    const QString trace = fileText.mid(start);
    qsizetype last = 0;
    auto it = frameLine.globalMatch(trace);
    while (it.hasNext()) {
        const auto m = it.next();
        int status = -1;
        char* plain = abi::__cxa_demangle(m.captured(2).toLatin1().constData(), nullptr, nullptr, &status);
        out += trace.mid(last, m.capturedStart(2) - last);
        out += status == 0 && plain ? QString::fromUtf8(plain) : m.captured(2);
        free(plain);
        last = m.capturedEnd(2);
    }
    out += trace.mid(last);
    return out;
}

namespace {

// Room the box needs besides its report: heading, buttons, margins, frame.
constexpr int kRoomAroundReport = 170;

// A full operation log makes the report taller than the screen; the report
// scrolls inside the box so that "Copy for AI" and "OK" stay in reach.
void wrapReport(QMessageBox* box)
{
    auto* grid = qobject_cast<QGridLayout*>(box->layout());
    auto* info = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    if (!grid || !info)
        return;
    const int at = grid->indexOf(info);
    if (at < 0)
        return;   // already inside its scroll area
    int row = 0, column = 0, rows = 1, columns = 1;
    grid->getItemPosition(at, &row, &column, &rows, &columns);
    grid->removeWidget(info);
    delete box->findChild<QScrollArea*>(QStringLiteral("crashReportScroll"), Qt::FindDirectChildrenOnly);
    QScrollArea* area = ScreenFit::scrolling(info, ScreenFit::availableHeight(box) - kRoomAroundReport, box);
    area->setObjectName(QStringLiteral("crashReportScroll"));
    area->setMinimumWidth(560);
    grid->addWidget(area, row, column, rows, columns);
}

// The message box lays itself out anew on a style change (putting the report
// back into its grid): wrap it again once that is done.
class ReportRewrap : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* e) override
    {
        if (e->type() == QEvent::StyleChange) {
            auto* box = static_cast<QMessageBox*>(watched);
            QTimer::singleShot(0, box, [box] { wrapReport(box); });
        }
        return false;
    }
};

void fitReportToScreen(QMessageBox& box)
{
    wrapReport(&box);
    box.installEventFilter(new ReportRewrap(&box));
}

} // namespace

bool showCrashDialog(const QString& fileText, const QString& logPath)
{
    const ParsedReport p = parseReport(fileText);
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Tarvello Rododu — Crash"));
    box.setIcon(QMessageBox::Critical);
    box.setText(QStringLiteral("<b style='font-size:13px;color:#FF6060;'>⚠ Tarvello Rododu crashed</b>"));
    box.setInformativeText(
        QStringLiteral("<b>Error:</b> ") + p.error.toHtmlEscaped() + QStringLiteral("<br><b>What happened:</b> ")
        + p.what.toHtmlEscaped()
        + QStringLiteral("<br><br><b style='color:#90EE90;'>How to fix:</b><br>"
                         "<pre style='color:#90EE90;font-size:11px;'>")
        + p.fix.toHtmlEscaped()
        + QStringLiteral("</pre><hr><b style='color:#888;font-size:11px;'>Copy and paste to an AI:</b>"
                         "<pre style='background:#111;color:#BBB;padding:6px;font-size:10px;'>")
        + p.report.toHtmlEscaped() + QStringLiteral("</pre><small style='color:#9A9A9A;'>Log: ")
        + logPath.toHtmlEscaped() + QStringLiteral("</small>"));
    QPushButton* copy = box.addButton(QStringLiteral("Copy for AI"), QMessageBox::ActionRole);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setStyleSheet(QStringLiteral(
        "QMessageBox{background:#1A1A1A;min-width:580px;}QLabel{color:#E0E0E0;background:transparent;}"
        // The report's scroll area and its bar sit on the box's own dark ground.
        "QScrollArea,QScrollArea>QWidget{background:#1A1A1A;border:none;}"
        "QScrollBar:vertical{background:#1A1A1A;width:10px;margin:0;}"
        "QScrollBar::handle:vertical{background:#555;border-radius:4px;min-height:24px;}"
        "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0;}"
        "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:none;}"
        "QPushButton{background:#2A2A2A;color:#F0F0F0;border:1px solid #444;border-radius:6px;padding:6px 18px;}"
        "QPushButton:hover{background:#3A3A3A;}"));
    fitReportToScreen(box);
    // Nobody there: the box closes itself as if "OK" had been pressed.
    auto* autoClose = new QTimer(&box);
    autoClose->setSingleShot(true);
    QObject::connect(autoClose, &QTimer::timeout, ok, &QAbstractButton::click);
    autoClose->start(30000);

    Modal::execBox(&box);
    if (box.clickedButton() != copy)
        return false;
    QGuiApplication::clipboard()->setText(p.report);
    return true;
}

bool handleCrashDialogArgs(int argc, char** argv)
{
    if (argc < 3 || strcmp(argv[1], "--crash-dialog") != 0)
        return false;
    const QString path = QFile::decodeName(argv[2]);
    int fd = -1;
    if (argc >= 4 && !parseDescriptor(argv[3], &fd)) {
        fprintf(stderr, "--crash-dialog: \"%s\" is not a descriptor (a whole number, 0 or more); nothing was done\n",
                argv[3]);
        return true;
    }

    // Only a report of ours is shown; the file named here is finished only
    // when it already holds one, and any other file is left exactly as it is,
    // whatever text arrives on the descriptor.
    const QByteArray onDisk = readReportFile(path);
    const QByteArray raw = fd >= 0 ? readAllFromFd(fd) : onDisk;
    if (!looksLikeReport(raw)) {
        if (fd >= 0)
            close(fd);
        return true;
    }
    const QString text = demangleStackTrace(QString::fromUtf8(raw));
    const QByteArray finished = text.toUtf8();
    if (looksLikeReport(onDisk) && finished != onDisk) {
        safeWriteFile(path, finished);
    }

    const auto done = [fd] {
        if (fd >= 0) {
            const char c = 1;
            (void)!write(fd, &c, 1);
            close(fd);
        }
    };
    if (qEnvironmentVariableIsSet(kNoDialogEnv)) {
        done();
        return true;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tarvello Rododu"));
    QApplication::setOrganizationName(QStringLiteral("Tarvello"));
    const bool copied = showCrashDialog(text, path);
    done();
    // The clipboard's content lives in this process on X11 and Wayland: keep
    // it available until another program takes the clipboard over, at most
    // ten minutes.
    QClipboard* cb = QGuiApplication::clipboard();
    if (copied && cb->ownsClipboard()) {
        QObject::connect(cb, &QClipboard::dataChanged, &app, [cb] {
            if (!cb->ownsClipboard())
                QCoreApplication::quit();
        });
        QTimer::singleShot(10 * 60 * 1000, &app, &QCoreApplication::quit);
        app.exec();
    }
    return true;
}

} // namespace CrashReport
