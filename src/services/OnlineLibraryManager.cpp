#include "OnlineLibraryManager.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QRegularExpression>
#include <QUuid>
#include <QtConcurrent>

#include <cerrno>
#include <cmath>
#include <limits>
#include <signal.h>
#include <unistd.h>

#include "Modal.h"
#include "OpLog.h"
#include "SafeWrite.h"
#include "SettingsKeys.h"
#include "Utf8Cut.h"
#include "WebAddress.h"

namespace {

const QString kUnexpected = QStringLiteral("Online library returned an unexpected response.");

// The shared state of one streamed transfer.
struct Stream
{
    qint64 received = 0;
    bool cancelled = false;   // given up on purpose: nothing to report
    bool sinkFailed = false;
    QString sinkError;
    QString refusedRedirect;  // where a refused redirect pointed
};

} // namespace

OnlineLibraryManager* OnlineLibraryManager::instance()
{
    static OnlineLibraryManager* s_instance = [] {
        // Previews of earlier runs that ended without cleaning up go first.
        removeStalePreviews();
        return new OnlineLibraryManager();
    }();
    return s_instance;
}

OnlineLibraryManager::OnlineLibraryManager(QObject* parent)
    : QObject(parent), m_nam(new QNetworkAccessManager(this))
{
    qRegisterMetaType<OnlineFolder>();
    qRegisterMetaType<OnlineFile>();
}

OnlineLibraryManager::~OnlineLibraryManager() = default;

QString OnlineLibraryManager::libraryBaseUrl()
{
    return SettingsKeys::serviceUrl() + QLatin1String(kLibraryPath);
}

QString OnlineLibraryManager::vxLibraryPath()
{
    const QString dir = SettingsKeys::downloadFolder();
    QDir().mkpath(dir);
    return dir;
}

// --- Catalogue ------------------------------------------------------------------

double OnlineLibraryManager::parseDuration(const QJsonValue& v)
{
    double d = 0;
    if (v.isDouble()) {
        d = v.toDouble();
    } else if (v.isString()) {
        const QStringList parts = v.toString().split(QLatin1Char(':'));
        if (parts.size() == 2)
            d = parts.at(0).trimmed().toDouble() * 60.0 + parts.at(1).trimmed().toDouble();
    }
    if (!std::isfinite(d) || d < 0 || d > kMaxDuration)
        return 0;
    return d;
}

bool OnlineLibraryManager::parseCatalogue(const QByteArray& body, QList<OnlineFolder>* folders,
                                          QList<OnlineFile>* files, QString* error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (error)
            *error = pe.errorString();
        return false;
    }
    folders->clear();
    files->clear();
    const QJsonArray list = doc.object().value(QLatin1String("folders")).toArray();
    for (const QJsonValue& fv : list) {
        const QJsonObject fo = fv.toObject();
        const QString folderName = fo.value(QLatin1String("name")).toString();
        folders->append(OnlineFolder{folderName, folderName});
        const QJsonArray entries = fo.value(QLatin1String("files")).toArray();
        for (const QJsonValue& ev : entries) {
            const QJsonObject eo = ev.toObject();
            OnlineFile f;
            f.name = eo.value(QLatin1String("name")).toString();
            if (f.name.isEmpty())
                f.name = eo.value(QLatin1String("title")).toString();
            f.url = eo.value(QLatin1String("url")).toString();
            f.folder = folderName;
            f.duration = parseDuration(eo.value(QLatin1String("duration")));
            files->append(f);
        }
    }
    return true;
}

void OnlineLibraryManager::fetchFolders()
{
    // One load at a time: a newer request replaces the one under way.
    if (m_catalogue) {
        QNetworkReply* old = m_catalogue;
        m_catalogue = nullptr;
        old->setProperty("superseded", true);
        old->abort();
    }
    const QUrl url(libraryBaseUrl() + QStringLiteral("/folders"));
    if (WebAddress::isReserved(url)) {
        // The stand-in address of a program with no service set: a reserved
        // name that never resolves, so it is not even looked up.
        ++m_generation;
        m_loading = false;
        emit errorOccurred(QStringLiteral("Failed to load folders: no online library service is set (%1)")
                               .arg(url.host()));
        return;
    }
    m_loading = true;
    const quint64 generation = ++m_generation;

    auto body = std::make_shared<QByteArray>();
    auto stream = std::make_shared<Stream>();
    QNetworkRequest req(url);
    req.setRawHeader("Accept", "application/json");
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(m_timeoutMs);
    QNetworkReply* reply = m_nam->get(req);
    m_catalogue = reply;

    auto tooLarge = [stream, reply](qint64 size) {
        stream->sinkFailed = true;
        stream->sinkError = QStringLiteral("catalogue of %1 bytes or more is larger than %2 bytes")
                                .arg(size)
                                .arg(kMaxCatalogueBytes);
        reply->abort();
    };
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, tooLarge] {
        const QVariant len = reply->header(QNetworkRequest::ContentLengthHeader);
        if (len.isValid() && len.toLongLong() > kMaxCatalogueBytes)
            tooLarge(len.toLongLong());
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, body, stream, tooLarge] {
        if (stream->sinkFailed)
            return;
        const QByteArray chunk = reply->readAll();
        stream->received += chunk.size();
        if (stream->received > kMaxCatalogueBytes) {
            tooLarge(stream->received);
            return;
        }
        body->append(chunk);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, body, stream, generation] {
        reply->deleteLater();
        if (reply->property("superseded").toBool() || generation != m_generation)
            return;
        m_catalogue = nullptr;
        if (stream->sinkFailed) {
            m_loading = false;
            qWarning().noquote() << "[OnlineLibrary] Folders response is too large:" << stream->sinkError
                                 << "raw:" << QString::fromUtf8(body->left(200));
            emit errorOccurred(kUnexpected);
            return;
        }
        if (reply->isOpen()) {
            const QByteArray rest = reply->readAll();
            stream->received += rest.size();
            body->append(rest);
        }
        const QString failure = failureText(reply, stream->received);
        if (!failure.isEmpty()) {
            m_loading = false;
            emit errorOccurred(QStringLiteral("Failed to load folders: ") + failure);
            return;
        }
        if (body->size() > kMaxCatalogueBytes) {
            m_loading = false;
            qWarning().noquote() << "[OnlineLibrary] Folders response is too large:"
                                 << QStringLiteral("larger than %1 bytes").arg(kMaxCatalogueBytes)
                                 << "raw:" << QString::fromUtf8(body->left(200));
            emit errorOccurred(kUnexpected);
            return;
        }
        // The parse runs on the pool so that a large catalogue never holds up
        // the window; the loading flag stays set until it is taken in.
        struct Parsed
        {
            bool ok = false;
            QList<OnlineFolder> folders;
            QList<OnlineFile> files;
            QString error;
        };
        auto* watcher = new QFutureWatcher<Parsed>(this);
        connect(watcher, &QFutureWatcher<Parsed>::finished, this, [this, watcher, generation, body] {
            watcher->deleteLater();
            const Parsed p = watcher->result();
            applyCatalogue(generation, p.ok, p.folders, p.files, p.error, body->left(200));
        });
        watcher->setFuture(QtConcurrent::run([body] {
            Parsed p;
            p.ok = parseCatalogue(*body, &p.folders, &p.files, &p.error);
            return p;
        }));
    });
}

void OnlineLibraryManager::applyCatalogue(quint64 generation, bool ok, const QList<OnlineFolder>& folders,
                                          const QList<OnlineFile>& files, const QString& error,
                                          const QByteArray& head)
{
    if (generation != m_generation)
        return;   // a newer load is under way and will answer
    m_loading = false;
    if (!ok) {
        qWarning().noquote() << "[OnlineLibrary] Folders response is not valid JSON:" << error << "raw:"
                             << QString::fromUtf8(head);
        emit errorOccurred(kUnexpected);
        return;
    }
    m_folders = folders;
    m_allFiles = files;
    m_received = true;
    VX_LOG(QStringLiteral("[OnlineLibrary] Catalogue: %1 folders, %2 files").arg(folders.size()).arg(files.size()));
    emit foldersLoaded(m_folders);
}

void OnlineLibraryManager::fetchFiles(const QString& folder)
{
    // Only while no catalogue has arrived: an empty one is an answer too.
    if (!m_received && !m_loading) {
        fetchFolders();
        return;
    }
    m_files.clear();
    for (const OnlineFile& f : std::as_const(m_allFiles)) {
        if (folder.isEmpty() || f.folder == folder)
            m_files.append(f);
    }
    emit filesLoaded(m_files);
}

// --- Transfers ------------------------------------------------------------------

QString OnlineLibraryManager::failureText(QNetworkReply* reply, qint64 received) const
{
    // Transfers cancelled on purpose never get here: a cancel is the timeout.
    if (reply->error() == QNetworkReply::OperationCanceledError)
        return QStringLiteral("no data from the server for %1 s").arg(m_timeoutMs / 1000.0);
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    // Qt can end a reply that the server cut short without an error: the
    // bytes must add up to what the server announced.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != received)
        return QStringLiteral("the connection ended after %1 of %2 bytes").arg(received).arg(announced.toLongLong());
    return QString();
}

QNetworkReply* OnlineLibraryManager::startTransfer(const QUrl& url, const std::shared_ptr<SafeFileWriter>& writer,
                                                   Done done, const QString& progressName)
{
    QNetworkRequest req(url);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    req.setTransferTimeout(m_timeoutMs);
    QNetworkReply* reply = m_nam->get(req);
    auto stream = std::make_shared<Stream>();

    // Redirects are followed to web addresses only, never from https to http.
    connect(reply, &QNetworkReply::redirected, this, [reply, url, stream](const QUrl& to) {
        const QUrl target = url.resolved(to);
        const bool downgrade = url.scheme().toLower() == QLatin1String("https")
                               && target.scheme().toLower() != QLatin1String("https");
        if (WebAddress::isFetchable(target) && !downgrade) {
            emit reply->redirectAllowed();
            return;
        }
        stream->refusedRedirect = target.toString().left(200);
        reply->abort();
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, writer, stream] {
        if (stream->sinkFailed)
            return;
        const QByteArray chunk = reply->readAll();
        stream->received += chunk.size();
        if (!writer->write(chunk)) {
            stream->sinkFailed = true;
            stream->sinkError = writer->errorString();
            reply->abort();
        }
    });
    if (!progressName.isEmpty()) {
        connect(reply, &QNetworkReply::downloadProgress, this, [this, progressName](qint64 got, qint64 total) {
            emit downloadProgress(progressName, got, total);
        });
    }
    connect(reply, &QNetworkReply::finished, this, [this, reply, writer, stream, done] {
        reply->deleteLater();
        if (reply->property("cancelled").toBool()) {
            writer->cancel();
            return;
        }
        if (!stream->sinkFailed && reply->isOpen()) {
            const QByteArray rest = reply->readAll();
            stream->received += rest.size();
            if (!rest.isEmpty() && !writer->write(rest)) {
                stream->sinkFailed = true;
                stream->sinkError = writer->errorString();
            }
        }
        if (stream->sinkFailed) {
            writer->cancel();
            done(Outcome::WriteFailed, stream->sinkError);
            return;
        }
        const QString failure = stream->refusedRedirect.isEmpty()
                                    ? failureText(reply, stream->received)
                                    : QStringLiteral("redirected to an address that is not fetched: ")
                                          + stream->refusedRedirect;
        if (!failure.isEmpty()) {
            writer->cancel();
            done(Outcome::NetworkFailed, failure);
            return;
        }
        if (!writer->commit()) {
            done(Outcome::WriteFailed, writer->errorString());
            return;
        }
        done(Outcome::Saved, QString());
    });
    return reply;
}

QString OnlineLibraryManager::safeComponent(const QString& text, bool isFolder)
{
    static const QString folderBad = QStringLiteral(":*?\"<>|");
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool bad = u < 0x20 || u == 0x7f || c == QLatin1Char('/') || c == QLatin1Char('\\')
                         || (isFolder && folderBad.contains(c));
        out += bad ? QLatin1Char('_') : c;
    }
    // A leading dot would hide the name on disk ("../x" becomes ".._x"); "."
    // and ".." stay for the caller to refuse.
    if (out != QLatin1String(".") && out != QLatin1String("..")) {
        for (qsizetype i = 0; i < out.size() && out.at(i) == QLatin1Char('.'); ++i)
            out[i] = QLatin1Char('_');
    }
    if (out.toUtf8().size() <= kMaxComponentBytes)
        return out;
    // Too long for one name on disk: cut the stem, keep a short suffix.
    const int dot = isFolder ? -1 : int(out.lastIndexOf(QLatin1Char('.')));
    QString suffix = dot > 0 ? out.mid(dot) : QString();
    if (suffix.toUtf8().size() > 16)
        suffix.clear();
    const QString stem = suffix.isEmpty() ? out : out.left(dot);
    return cutUtf8(stem, kMaxComponentBytes - int(suffix.toUtf8().size())) + suffix;
}

QString OnlineLibraryManager::downloadTarget(const QString& root, const QString& name, const QString& folder)
{
    const QString fileName = safeComponent(name, false);
    if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String(".."))
        return QString();
    QString dir = root;
    if (!folder.isEmpty()) {
        QString sub = safeComponent(folder, true);
        if (sub.isEmpty() || sub == QLatin1String(".") || sub == QLatin1String(".."))
            sub = QStringLiteral("_");
        dir += QLatin1Char('/') + sub;
    }
    return dir + QLatin1Char('/') + fileName;
}

QString OnlineLibraryManager::keepBothPath(const QString& dir, const QString& name)
{
    const int firstDot = int(name.indexOf(QLatin1Char('.')));
    const int lastDot = int(name.lastIndexOf(QLatin1Char('.')));
    const QString base = firstDot >= 0 ? name.left(firstDot) : name;
    const QString suffix = lastDot >= 0 ? name.mid(lastDot + 1) : QString();
    for (int n = 1;; ++n) {
        const QString candidate = dir + QLatin1Char('/') + base + QStringLiteral("_%1.").arg(n) + suffix;
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}

void OnlineLibraryManager::downloadFile(const QString& url, const QString& name, const QString& folder)
{
    const QUrl address(url);
    if (!WebAddress::isFetchable(address)) {
        emit downloadError(QStringLiteral("Download failed: not a web address: ") + url.left(200));
        return;
    }
    QString path = downloadTarget(vxLibraryPath(), name, folder);
    if (path.isEmpty()) {
        emit downloadError(QStringLiteral("Download failed: the file has no usable name (\"%1\")").arg(name.left(200)));
        return;
    }
    const QString dir = QFileInfo(path).path();
    const QString fileName = QFileInfo(path).fileName();
    QDir().mkpath(dir);

    if (QFileInfo::exists(path)) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("File Already Exists"),
                        QStringLiteral("<b>") + fileName.toHtmlEscaped() + QStringLiteral("</b> already exists in this folder."));
        box.setInformativeText(QStringLiteral("What do you want to do?"));
        QPushButton* skip = box.addButton(QStringLiteral("Skip"), QMessageBox::RejectRole);
        QPushButton* replace = box.addButton(QStringLiteral("Replace"), QMessageBox::DestructiveRole);
        QPushButton* keepBoth = box.addButton(QStringLiteral("Keep Both"), QMessageBox::AcceptRole);
        box.setEscapeButton(skip);
        Modal::execBox(&box);
        QAbstractButton* chosen = box.clickedButton();
        if (chosen == keepBoth) {
            path = keepBothPath(dir, fileName);
        } else if (chosen != replace) {
            emit downloadSkipped(path);
            return;
        }
        // Replace: the old file stays until the new one has fully arrived.
    }

    auto writer = std::make_shared<SafeFileWriter>(path);
    if (!writer->open()) {
        VX_LOG(QStringLiteral("[OnlineLibrary] Cannot write %1: %2").arg(path, writer->errorString()));
        emit downloadError(QStringLiteral("Cannot write to VX Library: ") + path);
        return;
    }
    startTransfer(address, writer, [this, path](Outcome outcome, const QString& why) {
        if (outcome == Outcome::Saved) {
            emit downloadFinished(path);
        } else if (outcome == Outcome::WriteFailed) {
            VX_LOG(QStringLiteral("[OnlineLibrary] Cannot write %1: %2").arg(path, why));
            emit downloadError(QStringLiteral("Cannot write to VX Library: ") + path);
        } else {
            emit downloadError(QStringLiteral("Download failed: ") + why);
        }
    }, fileName);
}

// --- Preview --------------------------------------------------------------------

void OnlineLibraryManager::cancelPreview()
{
    if (QNetworkReply* r = m_preview) {
        m_preview = nullptr;
        r->setProperty("cancelled", true);
        r->abort();
    }
    // The half-written file goes now, not when the aborted reply reports:
    // at the program's end no report comes.
    if (const std::shared_ptr<SafeFileWriter> w = std::exchange(m_previewWriter, nullptr))
        w->cancel();
}

QString OnlineLibraryManager::previewFilePrefix()
{
    return QStringLiteral("tarvello-preview-");
}

int OnlineLibraryManager::removeStalePreviews(const QString& dir)
{
    const QString folder = dir.isEmpty() ? QDir::tempPath() : dir;
    // "tarvello-preview-<pid>-<uuid>.<suffix>", or its half-written copy with
    // a leading dot and a trailing ".XXXXXX"; older names carry no pid.
    static const QRegularExpression name(QStringLiteral("^\\.?") + QRegularExpression::escape(previewFilePrefix())
                                         + QStringLiteral("(?:(\\d+)-)?"));
    int removed = 0;
    const QFileInfoList found =
        QDir(folder).entryInfoList({QStringLiteral("*tarvello-preview-*")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& fi : found) {
        const QRegularExpressionMatch m = name.match(fi.fileName());
        if (!m.hasMatch() || fi.isSymLink() || !fi.isFile())
            continue;
        bool ok = false;
        const qint64 pid = m.captured(1).toLongLong(&ok);
        const bool owned = ok && pid > 0 && pid <= std::numeric_limits<pid_t>::max()
                           && (pid == qint64(::getpid()) || ::kill(pid_t(pid), 0) == 0 || errno != ESRCH);
        if (!owned && QFile::remove(fi.absoluteFilePath()))
            ++removed;
    }
    return removed;
}

void OnlineLibraryManager::fetchPreview(const QString& url)
{
    cancelPreview();
    const QUrl address(url);
    if (!WebAddress::isFetchable(address)) {
        emit previewError(url, QStringLiteral("Preview failed: not a web address: ") + url.left(200));
        return;
    }
    // The media player gets a local file: handed a web address it would wait
    // for the server on the window's thread.
    const QString suffix = safeComponent(QFileInfo(address.path()).suffix().left(8), true);
    const QString path = QDir::tempPath() + QLatin1Char('/') + previewFilePrefix()
                         + QString::number(qint64(::getpid())) + QLatin1Char('-')
                         + QUuid::createUuid().toString(QUuid::WithoutBraces)
                         + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
    auto writer = std::make_shared<SafeFileWriter>(path);
    if (!writer->open()) {
        emit previewError(url, QStringLiteral("Preview failed: ") + writer->errorString());
        return;
    }
    m_previewWriter = writer;
    m_preview = startTransfer(address, writer, [this, url, path](Outcome outcome, const QString& why) {
        m_preview = nullptr;
        m_previewWriter.reset();
        if (outcome == Outcome::Saved)
            emit previewReady(url, path);
        else
            emit previewError(url, QStringLiteral("Preview failed: ") + why);
    }, QString());
    double duration = 0;
    for (const OnlineFile& f : std::as_const(m_allFiles)) {
        if (f.url == url) {
            duration = f.duration;
            break;
        }
    }
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto announced = std::make_shared<bool>(false);
    connect(m_preview, &QNetworkReply::downloadProgress, this,
            [this, url, writer, clock, announced, duration](qint64, qint64 total) {
                // What is on disk counts, not what the socket took.
                const qint64 got = writer->bytesWritten();
                emit previewProgress(url, got, total);
                if (*announced || !writer->isOpen() || !previewKeepsAhead(got, total, clock->elapsed(), duration))
                    return;
                *announced = true;
                emit previewPlayable(url, writer->tempPath());
            });
}

bool OnlineLibraryManager::previewKeepsAhead(qint64 got, qint64 total, qint64 elapsedMs, double durationSec)
{
    if (total <= 0 || got >= total || got < kPreviewHeadBytes || elapsedMs <= 0 || !(durationSec > 0))
        return false;
    const double bytesPerSecond = double(got) * 1000.0 / double(elapsedMs);
    const double restSeconds = double(total - got) / bytesPerSecond;
    // The sound reaches the end of what will be there no sooner than it
    // plays total minus the head.
    const double playSeconds = durationSec * double(total - kPreviewHeadBytes) / double(total);
    return restSeconds <= 0.75 * playSeconds;
}
