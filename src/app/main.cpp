#include "CrashReport.h"
#include "Startup.h"

int main(int argc, char** argv)
{
    // A crashed run starts the program again only to show the crash dialog.
    if (CrashReport::handleCrashDialogArgs(argc, argv))
        return 0;
    return qMain(argc, argv);
}
