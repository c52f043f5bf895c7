// Feeds arbitrary bytes to the BSI Stinger reader, once as a page and once
// as a collection. Whatever the input, the reader must not crash, and what
// it gives back must be sane: 36 buttons with ids of their own, volumes and
// fades inside their ranges, at most one warning per button plus one, and
// collection entries in the order of their set numbers.
#include <QByteArray>
#include <QDir>
#include <QSet>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "StingerImporter.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "stinger reader: %s\n", what);
    abort();
}

// An empty folder inside an empty folder: the audio search looks only there
// (and at file names given as absolute paths).
const QString& searchDir()
{
    static QTemporaryDir root;
    static const QString dir = [] {
        const QString d = root.path() + QStringLiteral("/page");
        QDir().mkpath(d);
        return d;
    }();
    return dir;
}

void checkPage(const QByteArray& data)
{
    QList<QString> warnings;
    const TabData t = StingerImporter::parseStgBytes(data, QStringLiteral("Page"), searchDir(), warnings);
    if (t.buttons.size() != StingerImporter::kButtons)
        fail("page without 36 buttons");
    if (t.name.isEmpty())
        fail("tab without a name");
    if (!t.color.isValid())
        fail("tab without a colour");
    QSet<QString> ids{t.id};
    for (const ButtonData& b : t.buttons) {
        ids.insert(b.id);
        if (!(b.volume >= 0 && b.volume <= 2.0))
            fail("button volume out of range");
        if (!std::isfinite(b.fadeIn) || !std::isfinite(b.fadeOut) || b.fadeIn < 0 || b.fadeOut < 0)
            fail("fade negative or not finite");
        if (b.bgColor.isValid() && !b.textColor.isValid())
            fail("background colour without a text colour");
    }
    if (ids.size() != StingerImporter::kButtons + 1 || ids.contains(QString()))
        fail("ids missing or shared");
    if (warnings.size() > StingerImporter::kButtons + 1)
        fail("more warnings than buttons");
}

void checkSets(const QByteArray& data)
{
    const QList<QPair<QString, QString>> sets = StingerImporter::readSets(data);
    qlonglong last = std::numeric_limits<qlonglong>::min();
    QSet<QString> keys;
    for (const auto& [key, value] : sets) {
        bool ok = false;
        qlonglong n = key.toLongLong(&ok);
        if (!ok)
            n = 0;
        if (n < last)
            fail("sets out of order");
        last = n;
        if (key.isEmpty() || key != key.trimmed() || value != value.trimmed())
            fail("untrimmed key or value");
        if (keys.contains(key))
            fail("a key twice");
        keys.insert(key);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    checkPage(bytes);
    checkSets(bytes);
    return 0;
}
