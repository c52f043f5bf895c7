#include "CrashReport.h"
#include "OpLog.h"
#include "PlatformLog.h"
#include "ProcessExit.h"
#include "Startup.h"

#include <QString>
#include <QtGlobal>

int main(int argc, char** argv)
{
    // A crashed run starts the program again only to show the crash dialog.
    if (CrashReport::handleCrashDialogArgs(argc, argv))
        return 0;
    // Qt Multimedia plays through its FFmpeg back end, whatever the environment
    // asks. Qt 6.4's GStreamer back end starts a sound over a hundred
    // milliseconds late, and a player that sat prepared reports its end as
    // late as it sat there (prepared for 4 s, a 1.09 s file ended 4.2 s after
    // its start), which stalls Auto-Mix and ends trimmed sounds late.
    const QByteArray askedBackend = qgetenv("QT_MEDIA_BACKEND");
    qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    // Lines of the platform layer (audio outputs, threads) go to the operation log.
    PlatformLog::setSink(&VX_LOG);
    if (!askedBackend.isEmpty() && askedBackend != "ffmpeg")
        VX_LOG(QStringLiteral("[Media] QT_MEDIA_BACKEND=%1 ignored: sound plays through ffmpeg")
                   .arg(QString::fromLocal8Bit(askedBackend)));
    ProcessExit::skippingLibraryTeardown(qMain(argc, argv));
}
