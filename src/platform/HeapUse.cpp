#include "HeapUse.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <malloc.h>

namespace {

std::atomic<bool> g_trimAsked{false};
std::atomic<int> g_trims{0};
std::atomic<qint64> g_longestTrimUs{0};
// When the last trim was started, on the steady clock (GUI thread only).
QElapsedTimer g_sinceTrim;

} // namespace

namespace HeapUse {

void limitRetention()
{
    // Setting either threshold stops glibc from moving both.
    mallopt(M_MMAP_THRESHOLD, kMmapBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimBytes);
}

void trimSoon()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || g_trimAsked.exchange(true))
        return;
    // A trim holds each arena while it goes through it, and a thread that
    // allocates from that arena meanwhile waits, the window's among them:
    // a show pressed without pause trims at most once every kTrimGapMs.
    const qint64 gapLeft = g_sinceTrim.isValid() ? kTrimGapMs - g_sinceTrim.elapsed() : 0;
    QTimer::singleShot(int(qMax<qint64>(kTrimDelayMs, gapLeft)), app, [] {
        // Asks from here on wait for the next trim: what is freed while this
        // one runs may be missed by it.
        g_trimAsked.store(false);
        g_sinceTrim.start();
        QThreadPool::globalInstance()->start([] {
            QElapsedTimer took;
            took.start();
            malloc_trim(0);
            const qint64 us = took.nsecsElapsed() / 1000;
            if (us > g_longestTrimUs.load())
                g_longestTrimUs.store(us);
            g_trims.fetch_add(1);
        });
    });
}

int trimsDone()
{
    return g_trims.load();
}

qint64 longestTrimUs()
{
    return g_longestTrimUs.load();
}

} // namespace HeapUse
