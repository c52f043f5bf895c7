// Feeds arbitrary bytes to the session file reader. Whatever the input, the
// reader must not crash, and a session it accepts must be sane: at least one
// tab, volumes inside their ranges, and writing it out and reading it back
// twice must settle on the same file.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <cstdio>
#include <cstdlib>

#include "SessionManager.h"

namespace {

[[noreturn]] void fail(const char* what)
{
    fprintf(stderr, "session reader: %s\n", what);
    abort();
}

Session reread(const Session& s)
{
    const QByteArray text = QJsonDocument(s.toJson()).toJson(QJsonDocument::Indented);
    Session back;
    if (SessionManager::readSession(text, &back) != SessionManager::ReadResult::Ok)
        fail("its own output does not read back");
    return back;
}

void checkOne(const QByteArray& data)
{
    Session s;
    if (SessionManager::readSession(data, &s) != SessionManager::ReadResult::Ok)
        return;
    if (s.tabs.isEmpty())
        fail("accepted session without a tab");
    for (const TabData& t : s.tabs) {
        if (!(t.volume >= 0 && t.volume <= 1.0))
            fail("tab volume out of range");
        if (t.id.isEmpty())
            fail("tab without id");
        for (const ButtonData& b : t.buttons)
            if (!(b.volume >= 0 && b.volume <= 2.0))
                fail("button volume out of range");
    }
    // The first write drops what the format does not keep (alpha, values
    // left out); from then on a session must survive the file unchanged.
    const Session once = reread(s);
    const Session twice = reread(once);
    if (!(once == twice) || once.toJson() != twice.toJson())
        fail("session changes on a second save and load");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    checkOne(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}

#ifndef TR_LIBFUZZER
// Replay: every file of the seed corpus (or of the folders and files given).
int main(int argc, char** argv)
{
    QStringList inputs;
    for (int i = 1; i < argc; ++i)
        inputs << QString::fromLocal8Bit(argv[i]);
    if (inputs.isEmpty())
        inputs << QStringLiteral(TR_FUZZ_CORPUS);
    int count = 0;
    for (const QString& in : inputs) {
        QStringList files;
        if (QFileInfo(in).isDir()) {
            for (const QString& name : QDir(in).entryList(QDir::Files, QDir::Name))
                files << in + QLatin1Char('/') + name;
        } else {
            files << in;
        }
        for (const QString& path : files) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) {
                fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 1;
            }
            const QByteArray bytes = f.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
            ++count;
        }
    }
    printf("replayed %d input(s)\n", count);
    return count > 0 ? 0 : 1;
}
#endif
