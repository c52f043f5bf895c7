#pragma once
#include <QHash>
#include <QSet>
#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

class QThread;

// One file of the local sound library.
struct LibraryEntry
{
    QString filePath;   // as the folder walk yields it, or as given to addFile
    QString name;       // the file name without its last suffix
    QString category;   // the category (library root) it belongs to

    bool operator==(const LibraryEntry&) const = default;
};
Q_DECLARE_METATYPE(LibraryEntry)

// Walks one folder and its sub-folders for audio files on the library thread
// and reports them in batches. Holds no state; every result leaves through a
// queued signal.
class FolderScanner : public QObject
{
    Q_OBJECT
public:
    static constexpr int kBatchSize = 50;
    // Accepted suffixes, lower case; the file's suffix is compared lower-cased.
    static const QStringList s_audioExts;

    static bool isAudioFile(const QString& fileName);

public slots:
    void scan(const QString& path, const QString& category);

signals:
    void batchFound(const QList<LibraryEntry>& batch);
    void scanComplete(const QString& category);
};

// The user's local sound library: named categories, each rooted at a folder,
// and one flat list of the audio files found under them (or added singly).
// Scans run one after another on one library thread that lives as long as the
// manager; their results are merged here on the GUI thread. The list is never
// written to disk: the saved roots are scanned again at start.
class LibraryManager : public QObject
{
    Q_OBJECT
public:
    // The one manager of the program, made on first use; never deleted.
    static LibraryManager* instance();

    // The program uses instance(); tests make their own managers.
    explicit LibraryManager(QObject* parent = nullptr);
    ~LibraryManager() override;

    void addFolder(const QString& path, const QString& category);
    void addFile(const QString& path, const QString& category = QStringLiteral("Downloads"));
    void removeFolder(const QString& category);
    void reloadAll();
    void clearAll();

    QList<LibraryEntry> entries() const;
    // "__all__" or an empty key gives every entry; otherwise the category and
    // its sub-categories ("key/...").
    QList<LibraryEntry> entriesForCategory(const QString& key) const;
    // Entries whose name or path contains text, any case; empty text gives all.
    QList<LibraryEntry> search(const QString& text) const;
    QStringList categories() const;
    QStringList rootFolders() const;
    QString folderPath(const QString& category) const;

    // The saved roots in the settings group "library": "count", then
    // "cat%1_name" and "cat%1_path". Other keys of the group are left alone.
    void loadConfig();
    // The saved (category, folder) pairs, in index order, as loadConfig reads them.
    static QList<QPair<QString, QString>> savedFolders();
    void saveConfig();
    void clearSavedFolders();

    // Scans queued on the library thread whose results are still to come.
    int pendingScans() const { return int(m_pending.size()); }
    // Whether a scan of this category is queued whose results will still count.
    bool isScanning(const QString& category) const;

signals:
    void cleared();
    void scanStarted(const QString& category);
    void entryAdded(const LibraryEntry& e);
    void scanFinished(const QString& category, int count);
    // A scan whose category was removed or emptied before it ended: it brings
    // nothing and no scanFinished follows for it.
    void scanDropped(const QString& category);

private:
    // A scan handed to the library thread. Results arrive in request order,
    // so the oldest pending scan is the one whose batches come in. A scan
    // whose category was removed or emptied since is dropped on arrival.
    struct PendingScan
    {
        QString category;
        bool stale = false;
    };

    void onBatchFound(const QList<LibraryEntry>& batch);
    void onScanComplete(const QString& category);
    void markScansStale(const QString& category, bool all);
    static void removeRootKeys(class QSettings& s);
    // An entry's category and cleaned file path, as one text.
    static QString listedKey(const LibraryEntry& e);
    // After entries were removed: the index follows. Under the lock.
    void reindexPaths();

    FolderScanner* m_scanner = nullptr;
    QThread* m_thread = nullptr;
    QList<LibraryEntry> m_entries;
    QSet<QString> m_listed;   // listedKey of every entry: a file is listed once per category
    QHash<QString, QString> m_roots;
    mutable QMutex m_mutex;
    QList<PendingScan> m_pending;
};
