#include "CrashReport.h"
#include "OpLog.h"
#include "PlatformLog.h"
#include "ProcessExit.h"
#include "Startup.h"

#include <QtGlobal>

int main(int argc, char** argv)
{
    // A crashed run starts the program again only to show the crash dialog.
    if (CrashReport::handleCrashDialogArgs(argc, argv))
        return 0;
    // Qt 6.4's FFmpeg media back end starts a sound in a few milliseconds where
    // GStreamer takes well over a hundred; a value set by the user still wins.
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    // Lines of the platform layer (audio outputs, threads) go to the operation log.
    PlatformLog::setSink(&VX_LOG);
    ProcessExit::skippingLibraryTeardown(qMain(argc, argv));
}
