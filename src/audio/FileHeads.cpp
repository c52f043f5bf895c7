#include "FileHeads.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

#include "KnownFiles.h"
#include "OpLog.h"
#include "PcmDecode.h"
#include "PcmDecoder.h"
#include "StandingThreads.h"

namespace {

StandingThreads& readers()
{
    // Never destroyed: see StandingThreads.
    static StandingThreads* set = new StandingThreads(QStringLiteral("tr-heads"));
    return *set;
}

bool onAppThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

bool local(const QString& path)
{
    return !path.isEmpty() && !path.startsWith(QLatin1String("http"));
}

} // namespace

// Never destroyed: a read hanging on a lost disk must not find it gone.
FileHeads* FileHeads::instance()
{
    static FileHeads* s_instance = new FileHeads;
    return s_instance;
}

FileHeads::FileHeads()
{
    if (QCoreApplication* app = QCoreApplication::instance(); app && QThread::currentThread() != app->thread())
        moveToThread(app->thread());
    // A file seen other than it was is read again, whether its facts were
    // asked for before or not: what is kept follows the files KnownFiles
    // knows. On the reading thread, straight from the thread that saw it:
    // the window's thread is not asked.
    connect(
        KnownFiles::instance(), &KnownFiles::filesSeen, this, [this](const QStringList& paths) { readAhead(paths); },
        Qt::DirectConnection);
}

bool FileHeads::find(const QString& path, Head* head) const
{
    if (!local(path))
        return false;
    bool seenOnce = false;
    const FileCheck::Stamp now = KnownFiles::instance()->lastSeen(path, &seenOnce);
    // An empty file is known by its stamp alone.
    if (seenOnce && now.exists() && now.size == 0) {
        if (head) {
            *head = Head{};
            head->refusal = tr("The file is empty");
            head->stamp = now;
        }
        return true;
    }
    std::lock_guard lock(m_mx);
    const auto it = m_heads.constFind(path);
    if (!seenOnce || (it == m_heads.constEnd() && now.exists())
        || (it != m_heads.constEnd() && KnownFiles::changed(it->stamp, now)))
        return false;
    // Not there: what is known is that, and what was read of it before.
    if (head)
        *head = it != m_heads.constEnd() ? *it : Head{};
    return true;
}

bool FileHeads::upToDate(const QString& path) const
{
    if (m_waitingSet.contains(path))
        return true;
    bool seenOnce = false;
    const FileCheck::Stamp now = KnownFiles::instance()->lastSeen(path, &seenOnce);
    const auto it = m_heads.constFind(path);
    return seenOnce && it != m_heads.constEnd() && it->stamp == now;
}

// Under m_mx. A path already waiting keeps its place.
void FileHeads::queue(const QString& path)
{
    if (m_waitingSet.contains(path))
        return;
    m_waiting << path;
    m_waitingSet.insert(path);
}

// An empty list starts the reads of what waits, if they are not running.
void FileHeads::readAhead(const QStringList& paths)
{
    bool start = false;
    {
        std::lock_guard lock(m_mx);
        for (const QString& path : paths) {
            if (local(path) && !upToDate(path))
                queue(path);
        }
        start = !m_waiting.isEmpty() && !m_draining;
        if (start)
            m_draining = true;
    }
    if (start && !readers().run([this] { drain(); })) {
        VX_LOG(QStringLiteral("[FileHeads] no thread to read file heads on"));
        std::lock_guard lock(m_mx);
        m_draining = false;
    }
}

// Reads what waits, one file after another, until nothing does.
void FileHeads::drain()
{
    for (;;) {
        QString path;
        {
            std::unique_lock lock(m_mx);
            m_released.wait(lock, [this] { return !m_held; });
            if (m_waiting.isEmpty()) {
                m_draining = false;
                return;
            }
            path = m_waiting.takeFirst();
            m_waitingSet.remove(path);
            ++m_underWay;
        }
        readAndStore(path);
    }
}

void FileHeads::readFirst(const QString& path)
{
    if (!local(path))
        return;
    {
        std::lock_guard lock(m_mx);
        m_asked.insert(path);
        // Read here, not again behind the others.
        if (m_waitingSet.remove(path))
            m_waiting.removeOne(path);
    }
    const bool started = readers().run([this, path] {
        {
            std::unique_lock lock(m_mx);
            m_released.wait(lock, [this] { return !m_held; });
            ++m_underWay;
        }
        readAndStore(path);
        // Seen changed meanwhile: the reads ahead take the new version.
        readAhead({});
    });
    if (!started)
        readAhead({path});
}

void FileHeads::readAndStore(const QString& path)
{
    // The version is looked at before and after the read: facts read
    // while the file changed belong to no version, and the change seen
    // asks for a read of the new one.
    KnownFiles* known = KnownFiles::instance();
    Head head;
    head.stamp = known->lookNow(path);
    if (head.stamp.exists())
        readHead(path, &head);
    const bool steady = known->lookNow(path) == head.stamp;
    bool tell = false;
    {
        std::lock_guard lock(m_mx);
        --m_underWay;
        if (steady) {
            store(path, head);
            tell = m_asked.remove(path);
        } else {
            queue(path);
        }
    }
    if (tell)
        emit headRead(path);
}

// Under m_mx. In the place of the facts of the file's earlier version, if
// any. Nothing else goes: every file asked about keeps its facts.
void FileHeads::store(const QString& path, const Head& head)
{
    m_heads.insert(path, head);
}

void FileHeads::readHead(const QString& path, Head* head)
{
    if (onAppThread())
        ++m_appThreadReads;
    if (head->stamp.size == 0) {
        head->refusal = tr("The file is empty");
        return;
    }
    if (PcmDecode::wavHoldsNoSound(path)) {
        head->refusal = tr("The file holds no sound");
        return;
    }
    PcmDecoder::Info info;
    if (!PcmDecoder::probe(path, &info)) {
        head->refusal = tr("Not a sound file this program can read");
        return;
    }
    const bool pcm = info.codec.startsWith(QLatin1String("pcm_"));
    head->pcmRate = pcm ? info.sourceRate : 0;
    head->durationMs = std::max<qint64>(0, info.durationMs);
    // A compressed header can be found in random bytes: its first moments
    // must decode to sound as well.
    if (!pcm && !decodesSound(path))
        head->refusal = tr("Not a sound file this program can read");
}

QString FileHeads::trimInPastEnd(double trimInSeconds, qint64 fileMs)
{
    return tr("Trim-in %1 s lies past the end of the file, %2 s")
        .arg(QString::number(trimInSeconds, 'f', 1), QString::number(fileMs / 1000.0, 'f', 1));
}

bool FileHeads::decodesSound(const QString& path)
{
    constexpr qint64 kTestFrames = 4410;   // 0.1 s
    PcmDecoder::Options o;
    o.maxFrames = kTestFrames;
    QByteArray out;
    return PcmDecoder::decode(path, o, &out) && !out.isEmpty();
}

void FileHeads::setHeld(bool held)
{
    {
        std::lock_guard lock(m_mx);
        m_held = held;
    }
    m_released.notify_all();
}

bool FileHeads::busy() const
{
    std::lock_guard lock(m_mx);
    return !m_waiting.isEmpty() || m_underWay > 0;
}

void FileHeads::clear()
{
    std::lock_guard lock(m_mx);
    m_heads.clear();
}
