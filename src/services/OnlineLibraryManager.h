#pragma once
#include <QJsonValue>
#include <QList>
#include <QMetaType>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class SafeFileWriter;

// A folder of the online catalogue.
struct OnlineFolder
{
    QString name;         // the catalogue's "name": the key fetchFiles matches
    QString displayName;  // what the folder chooser shows (the same "name")

    bool operator==(const OnlineFolder&) const = default;
};
Q_DECLARE_METATYPE(OnlineFolder)

// A file of the online catalogue.
struct OnlineFile
{
    QString name;         // "name", else "title"; also the file name on disk
    QString url;          // "url", fetched unchanged
    QString folder;       // name of the folder that lists it
    double duration = 0;  // seconds; 0 when not given or not usable

    bool operator==(const OnlineFile&) const = default;
};
Q_DECLARE_METATYPE(OnlineFile)

// The client of the project's online sound library: loads the catalogue (one
// JSON document of folders and their files), hands out the files of a folder,
// downloads single files into the download folder and fetches files for the
// preview. Every transfer runs on the GUI thread's event loop and answers
// through signals; none of them blocks.
//
// Downloads stream into a temporary file beside the target, which replaces
// the target only when every announced byte has arrived: a failed, cut or
// stalled transfer leaves no file behind and an old file untouched.
class OnlineLibraryManager : public QObject
{
    Q_OBJECT
public:
    // Path of the library on the web service, below its address.
    static constexpr const char* kLibraryPath = "/wp-json/tarvello-library/v1";
    // The most of a catalogue that is read; a longer one is refused.
    static constexpr qint64 kMaxCatalogueBytes = 16 * 1024 * 1024;
    // A transfer that receives nothing for this long is given up.
    static constexpr int kTransferTimeoutMs = 10000;
    // Longest name, in UTF-8 bytes, a file or folder gets on disk (room is
    // left for the temporary file's prefix and suffix).
    static constexpr int kMaxComponentBytes = 240;

    // The one manager of the program, made on first use; never deleted.
    static OnlineLibraryManager* instance();

    // The program uses instance(); tests make their own managers.
    explicit OnlineLibraryManager(QObject* parent = nullptr);
    ~OnlineLibraryManager() override;

    // Loads the catalogue; answers with foldersLoaded or errorOccurred. A load
    // still under way is dropped in favour of the new one.
    void fetchFolders();
    // Answers with filesLoaded: every file for an empty folder, else the files
    // of that folder (exact match). Before any catalogue has arrived it only
    // starts the load, unless one is under way.
    void fetchFiles(const QString& folder);
    // Downloads url as name into the download folder, below the sub-folder
    // folder when that is not empty. Answers with downloadSkipped,
    // downloadError or downloadFinished.
    void downloadFile(const QString& url, const QString& name, const QString& folder);
    // Fetches url into a temporary file for the preview; answers with
    // previewReady or previewError. A fetch under way is cancelled first.
    void fetchPreview(const QString& url);
    // Cancels the preview fetch under way, if any, and drops what it had
    // written; nothing is reported.
    void cancelPreview();
    // Preview files are named after the process that fetched them. Removes
    // those in dir (the temporary folder by default) left by a process that
    // has ended, and the half-written ones beside them; returns how many.
    static int removeStalePreviews(const QString& dir = QString());
    static QString previewFilePrefix();
    // The head a growing preview holds before it may start, in bytes.
    static constexpr qint64 kPreviewHeadBytes = 64 * 1024;
    // Whether a preview of total bytes lasting durationSec, of which got
    // arrived in elapsedMs, may start now: the rest, at the pace so far,
    // comes in within three quarters of the time the sound needs to reach it.
    static bool previewKeepsAhead(qint64 got, qint64 total, qint64 elapsedMs, double durationSec);
    bool previewPending() const { return m_preview != nullptr; }

    QList<OnlineFolder> folders() const { return m_folders; }
    QList<OnlineFile> files() const { return m_files; }
    QList<OnlineFile> allFiles() const { return m_allFiles; }
    bool isLoading() const { return m_loading; }
    bool catalogueReceived() const { return m_received; }

    // The download folder ("library/downloadPath", else the default), made
    // when missing.
    static QString vxLibraryPath();
    // The catalogue's address: the service address, read now, plus kLibraryPath.
    static QString libraryBaseUrl();

    // Test hook: the inactivity limit of every transfer started afterwards.
    void setTransferTimeout(int ms) { m_timeoutMs = ms; }
    int transferTimeout() const { return m_timeoutMs; }

    // --- The pieces that need no network, open for tests -----------------------

    // Reads a catalogue body. False when it is not JSON (error then holds the
    // parser's text); a JSON value of another shape gives no folders.
    static bool parseCatalogue(const QByteArray& body, QList<OnlineFolder>* folders,
                               QList<OnlineFile>* files, QString* error);
    // A "duration" value in seconds: "m:ss" or a number; 0 for anything else,
    // and for results that are negative, not finite or beyond kMaxDuration.
    static double parseDuration(const QJsonValue& v);
    static constexpr double kMaxDuration = 1e7;
    // One safe path component from a catalogue text: "/", "\" and control
    // characters become "_", a folder also loses : * ? " < > |, leading dots
    // become "_" (no hidden name), and the text is cut to kMaxComponentBytes
    // (keeping a file's suffix). An empty result, "." or ".." stays as it is:
    // the caller decides.
    static QString safeComponent(const QString& text, bool isFolder);
    // Where a catalogue file named name, listed in folder, lands below root:
    // root/name, or root/<folder>/name for a folder that is not empty (a
    // folder with no usable name becomes "_"). Empty when the name leaves
    // nothing usable.
    static QString downloadTarget(const QString& root, const QString& name, const QString& folder);
    // "Keep Both": the first dir/base_n.suffix (n = 1, 2, ...) that is free.
    static QString keepBothPath(const QString& dir, const QString& name);

signals:
    void foldersLoaded(const QList<OnlineFolder>& folders);
    void filesLoaded(const QList<OnlineFile>& files);
    void downloadProgress(const QString& filename, qint64 received, qint64 total);
    void downloadFinished(const QString& localPath);
    void downloadSkipped(const QString& localPath);
    void downloadError(const QString& msg);
    void errorOccurred(const QString& msg);
    void previewReady(const QString& url, const QString& localPath);
    // What of the preview has arrived; total is -1 while the size is unknown.
    void previewProgress(const QString& url, qint64 received, qint64 total);
    // Enough of the preview has arrived, at a pace that keeps ahead of its
    // playing (from the catalogue's duration), for a player that reads on
    // into a growing file to start on growingPath now. At most once a fetch;
    // previewReady follows as usual.
    void previewPlayable(const QString& url, const QString& growingPath);
    void previewError(const QString& url, const QString& msg);

private:
    enum class Outcome { Saved, NetworkFailed, WriteFailed };
    using Done = std::function<void(Outcome outcome, const QString& why)>;

    // Streams url into an open writer. On full arrival the writer is
    // committed; otherwise it is cancelled. done then runs once, unless the
    // transfer was cancelled on purpose (property "cancelled" on the reply).
    QNetworkReply* startTransfer(const QUrl& url, const std::shared_ptr<SafeFileWriter>& writer, Done done,
                                 const QString& progressName);
    // Why a finished reply failed, empty when it did not. received: body
    // bytes taken, checked against the announced length.
    QString failureText(QNetworkReply* reply, qint64 received) const;
    void onCatalogueFinished(QNetworkReply* reply);
    void applyCatalogue(quint64 generation, bool ok, const QList<OnlineFolder>& folders,
                        const QList<OnlineFile>& files, const QString& error, const QByteArray& head);

    QNetworkAccessManager* m_nam = nullptr;
    QList<OnlineFolder> m_folders;
    QList<OnlineFile> m_files;
    QList<OnlineFile> m_allFiles;
    bool m_loading = false;
    bool m_received = false;          // a catalogue has been taken in
    quint64 m_generation = 0;         // of the latest catalogue load
    QPointer<QNetworkReply> m_catalogue;
    QPointer<QNetworkReply> m_preview;
    std::shared_ptr<SafeFileWriter> m_previewWriter;
    int m_timeoutMs = kTransferTimeoutMs;
};
