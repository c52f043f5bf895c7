// The one main of every test executable. A test's own main (QTEST_MAIN, or
// one written by hand) is compiled under the name trTestMain; this runs it
// and ends the process as the program does, so a passed run is not failed by
// a library's exit-time teardown.
#include "ProcessExit.h"

int trTestMain(int argc, char** argv);

int main(int argc, char** argv)
{
    ProcessExit::skippingLibraryTeardown(trTestMain(argc, argv));
}
