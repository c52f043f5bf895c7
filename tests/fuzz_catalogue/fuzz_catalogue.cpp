// Feeds arbitrary bytes to the online library client as the catalogue reply.
// Whatever the input, the reader must not crash; every file belongs to a
// folder of the catalogue and has a usable duration; an address it would
// fetch is a web address; and a file's download path, "Keep Both" included,
// stays inside the download folder as names the file system takes.
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QSet>
#include <QUrl>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "OnlineLibraryManager.h"
#include "WebAddress.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "catalogue reader: %s\n", what);
    abort();
}

// The download folder: never made, so "Keep Both" takes its first name.
const QString kRoot = QStringLiteral("/nonexistent-fuzz-root/VX Library");

// One name below the download folder as the file system takes it.
void checkComponent(const QString& c)
{
    if (c.isEmpty() || c == QLatin1String(".") || c == QLatin1String(".."))
        fail("an empty or path-step name");
    if (c.toUtf8().size() > 255)
        fail("a name longer than 255 bytes");
    for (const QChar ch : c)
        if (ch.unicode() < 0x20 || ch == QLatin1Char('/') || ch == QLatin1Char('\\'))
            fail("a separator or control character in a name");
}

// path lies below kRoot, at most one folder deep, every step a plain name.
void checkInside(const QString& path)
{
    if (!path.startsWith(kRoot + QLatin1Char('/')))
        fail("a download path outside the download folder");
    if (QDir::cleanPath(path) != path)
        fail("a download path that is not clean");
    const QStringList steps = path.mid(kRoot.size() + 1).split(QLatin1Char('/'));
    if (steps.size() > 2)
        fail("a download path more than one folder deep");
    for (const QString& s : steps)
        checkComponent(s);
}

void checkFile(const OnlineFile& f, const QSet<QString>& folderNames)
{
    if (!folderNames.contains(f.folder))
        fail("a file of no folder");
    if (!std::isfinite(f.duration) || f.duration < 0 || f.duration > OnlineLibraryManager::kMaxDuration)
        fail("a duration out of range");
    const QUrl address(f.url);
    if (WebAddress::isFetchable(address)) {
        const QString scheme = address.scheme().toLower();
        if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || address.host().isEmpty()
            || address.isLocalFile())
            fail("a non-web address accepted");
    }
    for (const QString& folder : {f.folder, QString()}) {
        const QString path = OnlineLibraryManager::downloadTarget(kRoot, f.name, folder);
        if (path.isEmpty())
            continue;
        checkInside(path);
        const int slash = int(path.lastIndexOf(QLatin1Char('/')));
        const QString both = OnlineLibraryManager::keepBothPath(path.left(slash), path.mid(slash + 1));
        if (both == path)
            fail("Keep Both gave the same path");
        checkInside(both);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QList<OnlineFolder> folders;
    QList<OnlineFile> files;
    QString error;
    if (!OnlineLibraryManager::parseCatalogue(body, &folders, &files, &error)) {
        if (error.isEmpty())
            fail("a refused catalogue without a reason");
        return 0;
    }
    QSet<QString> folderNames;
    for (const OnlineFolder& f : folders)
        folderNames.insert(f.name);
    for (const OnlineFile& f : files)
        checkFile(f, folderNames);
    return 0;
}
