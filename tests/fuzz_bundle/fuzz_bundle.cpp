// Feeds arbitrary bytes to the bundle reader (the import job) and to the
// import preview. Whatever the input, neither may crash, the job reports
// exactly one result, and nothing is ever written outside its destination.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "BundleManager.h"
#include "BundleWorker.h"
#include "SafeWrite.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "bundle reader: %s\n", what);
    abort();
}

void checkOne(const QByteArray& data)
{
    static int argc = 1;
    static char name[] = "fuzz_bundle";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(app);
    // The reader's warnings about damaged input say nothing here and would
    // drown the fuzzer's own report.
    static const bool quiet = [] {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        return true;
    }();
    Q_UNUSED(quiet);

    QTemporaryDir root;
    const QString bundle = root.filePath(QStringLiteral("in.vxbundle"));
    if (!safeWriteFile(bundle, data))
        fail("cannot write the input");
    const BundleManager::Preview preview = BundleManager::previewBundle(bundle);

    const QString dest = root.filePath(QStringLiteral("dest"));
    BundleWorker w;
    w.setupImport(bundle, dest, preview.tabNames, data.size() % 2 == 1);
    w.setProjectName(QStringLiteral("Fuzz"));
    int results = 0;
    QObject::connect(&w, &BundleWorker::finished, [&](bool, const QString&) { ++results; });
    QObject::connect(&w, &BundleWorker::appendReady, [&](const QByteArray&) { ++results; });
    w.runImport();
    // The import's notice to the manager is queued: deliver it, so that the
    // run does not pile up events.
    QCoreApplication::sendPostedEvents();
    if (results != 1)
        fail("the job did not report exactly once");
    QDirIterator it(root.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        if (p != bundle && !p.startsWith(dest + QLatin1Char('/')) && p != dest)
            fail("a file outside the destination");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkOne(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
