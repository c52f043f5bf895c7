#pragma once
#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>

#include "CrashSignals.h"

class QObject;
class QMessageLogContext;

// The crash report and the Qt message handler.
//
// A fatal signal is described in plain language (what went wrong, why, how to
// fix it), followed by the last operations of VX_LOG and, in the file only, a
// stack trace. The handler writes "crash_report.txt" with async-signal-safe
// work only, then starts this program again as
//   <program> --crash-dialog <report path> <socket fd>
// which demangles the stack trace in the file and shows the crash dialog
// with "Copy for AI". main() hands its arguments to handleCrashDialogArgs
// first thing. With TR_NO_CRASH_DIALOG set in the environment the helper
// only finishes the file and shows nothing (headless runs, tests).
namespace CrashReport {

// Installs crashHandler for fatal signals and qtMessageHandler for Qt's
// messages, and prepares what the handler needs (report path, program path,
// version, time zone) so that it allocates nothing later. Call once, right
// after the application object exists and its names and version are set.
void install();

// The writable application data folder, created with every missing parent
// on each call, followed by "/crash_report.txt".
QString crashLogPath();

// What a crash is: ERROR (a code word), WHAT, WHY and FIX (lines beginning
// with "• ", separated by line breaks).
struct Description
{
    QString error, what, why, fix;
};
// accessKind and address count for access violations only (0 read, else write).
Description describe(quint32 code, quint64 accessKind, quint64 address);
// The same for a whole fault: a sent signal names its signal and sender, an
// uncaught exception its type and message.
Description describe(const CrashSignals::Fault& fault);

// The report file's text for a fault with the given frames (the faulting
// instruction first; at most 24 are listed). *reportLength receives the length
// of the part before the stack trace, which is what the dialog and the
// clipboard carry. Async-signal-safe; returns the text's length.
size_t formatReport(const CrashSignals::Fault& fault, const uintptr_t* frames, int frameCount, char* out,
                    size_t cap, size_t* reportLength);

// The fatal-signal handler: report file, then the dialog helper.
void crashHandler(const CrashSignals::Fault& fault);

// Routes debug and warning messages to the debug window's log(QString tag,
// QString text) slot by a queued call, drops critical and info messages,
// and turns a fatal message into a report file, a box (on the GUI thread
// only) and an abort.
void qtMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg);
// The debug window registers itself here (null when it goes away). Until
// then debug and warning messages are dropped.
void setDebugWindowSink(QObject* sink);

// The stack trace section with the linked symbol names turned readable.
QString demangleStackTrace(const QString& fileText);

// Shows the crash dialog for a report file's text (modal, through Modal).
// Returns true when the user chose "Copy for AI"; the report (without the
// stack trace) is then on the clipboard.
bool showCrashDialog(const QString& fileText, const QString& logPath);

// When argv asks for the crash dialog, does that and returns true; main()
// then returns at once. Otherwise returns false and does nothing. The report
// text comes from the descriptor when one is given, else from the file; the
// file is rewritten only when it already holds a report. A descriptor that is
// not a whole number of 0 or more is refused with a line on stderr.
bool handleCrashDialogArgs(int argc, char** argv);

} // namespace CrashReport
