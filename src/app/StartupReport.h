#pragma once
#include <QString>
#include <functional>

class MainWindow;

// A look at start-up from outside, for tests and benchmarks that run the
// program without a screen. With TR_STARTUP_REPORT=<file> in the environment
// the program answers every modal request itself (recording it), writes a
// JSON report of what start-up did and what the window shows some time after
// the window appeared (TR_STARTUP_REPORT_DELAY_MS, default 1000), then closes
// its window, which ends the program through the window list. With
// TR_STARTUP_THROW_AT=<progress> as well, the start-up step of that progress
// throws, to exercise the start-up guard. With TR_STARTUP_REPORT_KEEP_OPEN
// the window instead stays open with an unsaved change once the report is
// written, the report is written again after each modal request and at the
// end, and TR_STARTUP_REPORT_ANSWERS chooses the message boxes' answers (see
// StartupReport.cpp). Without TR_STARTUP_REPORT all of this does nothing.
namespace StartupReport {

bool enabled();
// Installs the modal recorder when enabled.
void install();
void noteStep(int progress, const QString& status);
void maybeThrowAt(int progress);
// The window was shown at shownAt (ms since the epoch) and the after-splash
// work is queued: schedules the report behind it.
void noteShown(MainWindow* w, qint64 shownAt);
// qMain is about to return rc: writes the report when it was not written yet.
void finish(int rc);
// The clock the pre-buffer wait reads, in ms since the epoch. With
// TR_STARTUP_WAIT_CLOCK=frozen (and the report enabled) it stands still, so
// the wait ends only once every sound is ready, however slowly a loaded
// machine decodes; otherwise the wall clock.
std::function<qint64()> waitClock();

} // namespace StartupReport
