#include "OpLog.h"

#include <QDateTime>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace {
QString g_breadcrumbs[OpLog::kCapacity];
int g_bcHead = 0;
std::mutex g_bcMx;

// The crash handler's copy of the ring: plain bytes, written under g_bcMx and
// additionally fenced by g_crashBusy, which the handler only ever tries.
// g_bcHead too only changes while both are held, so the handler may read it.
char g_crashText[OpLog::kCapacity][OpLog::kCrashEntryBytes];
size_t g_crashLen[OpLog::kCapacity];
std::atomic_flag g_crashBusy = ATOMIC_FLAG_INIT;

void holdCrashCopy()
{
    // Only the crash handler competes for this, and only briefly.
    while (g_crashBusy.test_and_set(std::memory_order_acquire))
        std::this_thread::yield();
}

void releaseCrashCopy()
{
    g_crashBusy.clear(std::memory_order_release);
}

int slotOf(int n)
{
    return ((n % OpLog::kCapacity) + OpLog::kCapacity) % OpLog::kCapacity;
}

QStringList collectLocked()
{
    QStringList out;
    const int n = std::min(g_bcHead, OpLog::kCapacity);
    for (int i = 0; i < n; ++i)
        out << g_breadcrumbs[slotOf(g_bcHead - 1 - i)];
    return out;
}

// Cuts UTF-8 at a character boundary.
size_t fitUtf8(const QByteArray& u, size_t cap)
{
    size_t n = std::min(size_t(u.size()), cap);
    if (n < size_t(u.size()))
        while (n > 0 && (static_cast<unsigned char>(u[qsizetype(n)]) & 0xC0) == 0x80)
            --n;
    return n;
}
} // namespace

void VX_LOG(const QString& msg)
{
    std::lock_guard<std::mutex> lock(g_bcMx);
    const QString entry = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz"))
                          + QLatin1Char(' ') + msg;
    const int slot = slotOf(g_bcHead);
    g_breadcrumbs[slot] = entry;

    const QByteArray utf8 = entry.toUtf8();
    const size_t len = fitUtf8(utf8, OpLog::kCrashEntryBytes - 1);
    holdCrashCopy();
    memcpy(g_crashText[slot], utf8.constData(), len);
    g_crashText[slot][len] = '\0';
    g_crashLen[slot] = len;
    ++g_bcHead;
    releaseCrashCopy();
}

namespace OpLog {
QStringList entriesNewestFirst()
{
    std::lock_guard<std::mutex> lock(g_bcMx);
    return collectLocked();
}

bool tryEntriesNewestFirst(QStringList* out)
{
    std::unique_lock<std::mutex> lock(g_bcMx, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    *out = collectLocked();
    return true;
}

int totalWritten()
{
    std::lock_guard<std::mutex> lock(g_bcMx);
    return g_bcHead;
}

bool visitForCrash(CrashVisitor fn, void* ctx)
{
    if (g_crashBusy.test_and_set(std::memory_order_acquire))
        return false;
    const int head = g_bcHead;
    const int n = std::min(head, kCapacity);
    for (int i = 0; i < n; ++i) {
        const int slot = slotOf(head - 1 - i);
        fn(i, g_crashText[slot], g_crashLen[slot], ctx);
    }
    releaseCrashCopy();
    return true;
}

void withRingHeld(const std::function<void()>& fn)
{
    std::lock_guard<std::mutex> lock(g_bcMx);
    holdCrashCopy();
    fn();
    releaseCrashCopy();
}
} // namespace OpLog
