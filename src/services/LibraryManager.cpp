#include "LibraryManager.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>

#include "AppSettings.h"
#include "FileCheck.h"
#include "HeldIndices.h"
#include "OpLog.h"

// --- FolderScanner ---------------------------------------------------------

const QStringList FolderScanner::s_audioExts = {
    QStringLiteral("mp3"),  QStringLiteral("wav"), QStringLiteral("ogg"),  QStringLiteral("flac"),
    QStringLiteral("aac"),  QStringLiteral("m4a"), QStringLiteral("wma"),  QStringLiteral("aiff"),
    QStringLiteral("aif"),  QStringLiteral("opus"), QStringLiteral("mp4"), QStringLiteral("webm"),
};

bool FolderScanner::isAudioFile(const QString& fileName)
{
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return s_audioExts.contains(fileName.mid(dot + 1).toLower());
}

void FolderScanner::scan(const QString& path, const QString& category)
{
    QList<LibraryEntry> batch;
    batch.reserve(256);
    QDirIterator it(path, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QFileInfo info = it.fileInfo();
        if (!isAudioFile(info.fileName()))
            continue;
        // A pipe or a device named like a sound would freeze whoever opens it.
        QString why;
        if (!FileCheck::isRegularFile(file, &why)) {
            VX_LOG(QStringLiteral("[Library] skipped %1: %2").arg(file, why));
            continue;
        }
        batch.append(LibraryEntry{file, info.completeBaseName(), category});
        if (batch.size() == kBatchSize) {
            emit batchFound(batch);
            batch.clear();
        }
    }
    if (!batch.isEmpty())
        emit batchFound(batch);
    emit scanComplete(category);
}

// --- LibraryManager --------------------------------------------------------

LibraryManager* LibraryManager::instance()
{
    static LibraryManager* s_instance = new LibraryManager();
    return s_instance;
}

LibraryManager::LibraryManager(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<LibraryEntry>("LibraryEntry");
    qRegisterMetaType<QList<LibraryEntry>>("QVector<LibraryEntry>");

    m_thread = new QThread(this);
    m_thread->setObjectName(QStringLiteral("LibraryScanner"));
    m_scanner = new FolderScanner;
    m_scanner->moveToThread(m_thread);
    m_thread->start(QThread::InheritPriority);

    connect(m_scanner, &FolderScanner::batchFound, this, &LibraryManager::onBatchFound, Qt::QueuedConnection);
    connect(m_scanner, &FolderScanner::scanComplete, this, &LibraryManager::onScanComplete,
            Qt::QueuedConnection);
}

LibraryManager::~LibraryManager()
{
    // Only managers of tests go away; the program's lives for the process.
    m_thread->quit();
    m_thread->wait();
    delete m_scanner;
}

void LibraryManager::addFolder(const QString& path, const QString& category)
{
    // A folder path may end in a slash (a dropped folder's URL): the folder's
    // own name is still the category, never an empty one.
    const QString cat = category.isEmpty() ? QFileInfo(QDir::cleanPath(path)).fileName() : category;
    m_roots.insert(cat, path);
    emit scanStarted(cat);
    m_pending.append(PendingScan{cat, false});
    QMetaObject::invokeMethod(m_scanner, "scan", Qt::QueuedConnection, Q_ARG(QString, path),
                              Q_ARG(QString, cat));
    saveConfig();
}

void LibraryManager::addFile(const QString& path, const QString& category)
{
    QString why;
    if (!FileCheck::isRegularFile(path, &why)) {
        VX_LOG(QStringLiteral("[Library] not added %1: %2").arg(path, why));
        return;
    }
    LibraryEntry e{path, QFileInfo(path).completeBaseName(),
                   category.isEmpty() ? QStringLiteral("Downloads") : category};
    {
        QMutexLocker lock(&m_mutex);
        for (const LibraryEntry& held : std::as_const(m_entries)) {
            if (held.filePath == path)
                return;
        }
        m_listed.insert(listedKey(e));
        m_entries.append(e);
    }
    emit entryAdded(e);
}

void LibraryManager::markScansStale(const QString& category, bool all)
{
    for (PendingScan& p : m_pending) {
        if (all || p.category == category)
            p.stale = true;
    }
}

bool LibraryManager::isScanning(const QString& category) const
{
    return std::any_of(m_pending.cbegin(), m_pending.cend(),
                       [&](const PendingScan& p) { return !p.stale && p.category == category; });
}

void LibraryManager::removeFolder(const QString& category)
{
    m_roots.remove(category);
    // A scan of this category still running would bring its files back.
    markScansStale(category, false);
    {
        QMutexLocker lock(&m_mutex);
        m_entries.removeIf([&](const LibraryEntry& e) { return e.category == category; });
        reindexPaths();
    }
    saveConfig();
}

void LibraryManager::reloadAll()
{
    const QHash<QString, QString> roots = m_roots;
    markScansStale(QString(), true);
    {
        // Files added singly (downloads, drops) have no folder to come back
        // from: they stay. Every root's files are found again by its scan.
        QMutexLocker lock(&m_mutex);
        m_entries.removeIf([&](const LibraryEntry& e) { return roots.contains(e.category); });
        reindexPaths();
    }
    emit cleared();
    for (auto it = roots.cbegin(); it != roots.cend(); ++it)
        addFolder(it.value(), it.key());
}

void LibraryManager::clearAll()
{
    markScansStale(QString(), true);
    {
        QMutexLocker lock(&m_mutex);
        m_entries.clear();
        m_listed.clear();
    }
    m_roots.clear();
    saveConfig();
    emit cleared();
}

void LibraryManager::onBatchFound(const QList<LibraryEntry>& batch)
{
    if (!m_pending.isEmpty() && m_pending.first().stale)
        return;
    // A folder that comes in again under its category (added twice, or
    // dropped while it is in the library) brings files already listed there:
    // each is listed once.
    QList<LibraryEntry> fresh;
    fresh.reserve(batch.size());
    {
        QMutexLocker lock(&m_mutex);
        for (const LibraryEntry& e : batch) {
            if (!m_listed.contains(listedKey(e))) {
                m_listed.insert(listedKey(e));
                fresh.append(e);
            }
        }
        m_entries.append(fresh);
    }
    for (const LibraryEntry& e : std::as_const(fresh))
        emit entryAdded(e);
}

QString LibraryManager::listedKey(const LibraryEntry& e)
{
    return e.category + QChar(0x1F) + QDir::cleanPath(e.filePath);
}

void LibraryManager::reindexPaths()
{
    m_listed.clear();
    m_listed.reserve(m_entries.size());
    for (const LibraryEntry& e : std::as_const(m_entries))
        m_listed.insert(listedKey(e));
}

void LibraryManager::onScanComplete(const QString& category)
{
    if (!m_pending.isEmpty()) {
        const bool stale = m_pending.first().stale;
        m_pending.removeFirst();
        if (stale) {
            emit scanDropped(category);
            return;
        }
    }
    int count = 0;
    {
        QMutexLocker lock(&m_mutex);
        for (const LibraryEntry& e : std::as_const(m_entries)) {
            if (e.category == category)
                ++count;
        }
    }
    emit scanFinished(category, count);
}

QList<LibraryEntry> LibraryManager::entries() const
{
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

QList<LibraryEntry> LibraryManager::entriesForCategory(const QString& key) const
{
    QMutexLocker lock(&m_mutex);
    if (key.isEmpty() || key == QLatin1String("__all__"))
        return m_entries;
    const QString prefix = key + QLatin1Char('/');
    QList<LibraryEntry> out;
    for (const LibraryEntry& e : m_entries) {
        if (e.category == key || e.category.startsWith(prefix))
            out.append(e);
    }
    return out;
}

QList<LibraryEntry> LibraryManager::search(const QString& text) const
{
    QMutexLocker lock(&m_mutex);
    if (text.isEmpty())
        return m_entries;
    QList<LibraryEntry> out;
    for (const LibraryEntry& e : m_entries) {
        if (e.name.contains(text, Qt::CaseInsensitive) || e.filePath.contains(text, Qt::CaseInsensitive))
            out.append(e);
    }
    return out;
}

QStringList LibraryManager::categories() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const LibraryEntry& e : m_entries) {
        if (!out.contains(e.category))
            out.append(e.category);
    }
    return out;
}

QStringList LibraryManager::rootFolders() const
{
    return m_roots.keys();
}

QString LibraryManager::folderPath(const QString& category) const
{
    return m_roots.value(category);
}

// The group "library" also holds settings of others (the download folder):
// only the root list's own keys are ever removed.
void LibraryManager::removeRootKeys(QSettings& s)
{
    static const QRegularExpression rootKey(QStringLiteral("^(count|cat\\d+_(name|path))$"));
    const QStringList keys = s.childKeys();
    for (const QString& k : keys) {
        if (rootKey.match(k).hasMatch())
            s.remove(k);
    }
}

void LibraryManager::saveConfig()
{
    AppSettings s;
    s.beginGroup(QStringLiteral("library"));
    removeRootKeys(s);
    int i = 0;
    for (auto it = m_roots.cbegin(); it != m_roots.cend(); ++it, ++i) {
        s.setValue(QStringLiteral("cat%1_name").arg(i), it.key());
        s.setValue(QStringLiteral("cat%1_path").arg(i), it.value());
    }
    s.setValue(QStringLiteral("count"), i);
    s.endGroup();
}

QList<QPair<QString, QString>> LibraryManager::savedFolders()
{
    QList<QPair<QString, QString>> roots;
    AppSettings s;
    s.beginGroup(QStringLiteral("library"));
    const int count = s.value(QStringLiteral("count"), 0).toInt();
    // Only the pairs the group holds: a damaged count must not stall the start.
    static const QRegularExpression pairKey(QStringLiteral("^cat(\\d+)_(?:name|path)$"));
    for (int i : heldIndices(s.childKeys(), pairKey, count))
        roots.append({s.value(QStringLiteral("cat%1_name").arg(i)).toString(),
                      s.value(QStringLiteral("cat%1_path").arg(i)).toString()});
    s.endGroup();
    return roots;
}

void LibraryManager::loadConfig()
{
    // Every addFolder rewrites the group: all pairs are read first.
    const QList<QPair<QString, QString>> roots = savedFolders();
    for (const auto& [name, path] : roots) {
        if (!name.isEmpty() && !path.isEmpty())
            addFolder(path, name);
    }
}

void LibraryManager::clearSavedFolders()
{
    AppSettings s;
    s.beginGroup(QStringLiteral("library"));
    removeRootKeys(s);
    s.endGroup();
}
