#include "PlatformLog.h"

#include <QDebug>
#include <atomic>

namespace {
std::atomic<PlatformLog::Sink> g_sink{nullptr};
}

void PlatformLog::setSink(Sink sink)
{
    g_sink.store(sink, std::memory_order_release);
}

void PlatformLog::write(const QString& line)
{
    if (Sink s = g_sink.load(std::memory_order_acquire))
        s(line);
    else
        qInfo().noquote() << line;
}
