#include "OpLog.h"

#include <QDateTime>
#include <mutex>

namespace {
QString g_breadcrumbs[OpLog::kCapacity];
int g_bcHead = 0;
std::mutex g_bcMx;

QStringList collectLocked()
{
    QStringList out;
    const int n = std::min(g_bcHead, OpLog::kCapacity);
    for (int i = 0; i < n; ++i) {
        const int slot = ((g_bcHead - 1 - i) % OpLog::kCapacity + OpLog::kCapacity) % OpLog::kCapacity;
        out << g_breadcrumbs[slot];
    }
    return out;
}
} // namespace

void VX_LOG(const QString& msg)
{
    std::lock_guard<std::mutex> lock(g_bcMx);
    const QString entry = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz"))
                          + QLatin1Char(' ') + msg;
    g_breadcrumbs[g_bcHead % OpLog::kCapacity] = entry;
    ++g_bcHead;
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
} // namespace OpLog
