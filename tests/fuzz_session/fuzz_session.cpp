// Feeds arbitrary bytes to the session file reader. Whatever the input, the
// reader must not crash, and a session it accepts must be sane: at least one
// tab, volumes inside their ranges, and writing it out and reading it back
// twice must settle on the same file.
#include <QByteArray>
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
