// The update check and the bar that offers a new version below the toolbar:
// one check against the project's service, the offer, the download of the
// package and its hand-over to the system's package tool.
#include "MainWindow.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>
#include <utility>

#include "AppSettings.h"
#include "FileCheck.h"
#include "Modal.h"
#include "OpLog.h"
#include "PackageInstaller.h"
#include "SafeWrite.h"
#include "SessionManager.h"
#include "SettingsKeys.h"
#include "UpdateCheck.h"
#include "WebAddress.h"
#include "VXIcons.h"

namespace {

constexpr int kDayMs = 86400000;
constexpr int kRetryMs = 30000;
constexpr int kCheckTimeoutMs = 10000;
constexpr int kLatestLabelMs = 5000;
constexpr int kCheckFailedToastMs = 5000;
// A download that brings no data for this long has stalled.
constexpr int kStallMs = 30000;
// Why the program cut a download short (MainWindow::downloadCut).
constexpr int kNotCut = 0;
constexpr int kCutStalled = 1;
constexpr int kCutWithdrawn = 2;
// The notes dialog shows at most this much of the notes: a label of
// megabytes would take the window minutes to lay out.
constexpr int kNotesShown = 20000;

QString runningVersion()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QStringLiteral("2.0.84") : v;
}

} // namespace

void MainWindow::buildUpdateBar()
{
    QWidget* central = centralWidget();
    updateBar = new QWidget(central);
    updateBar->setObjectName(QStringLiteral("updateBar"));
    updateBar->setAttribute(Qt::WA_StyledBackground, true);
    updateBar->hide();
    updateBar->setFixedHeight(sc(38));
    // Its notices name its buttons ("click Restart & Install"): no card
    // covers them.
    ToastWidget::keepClearOf(updateBar);
    auto* row = new QHBoxLayout(updateBar);
    row->setContentsMargins(sc(12), 0, sc(8), 0);
    row->setSpacing(sc(8));

    auto* icon = new QLabel(QStringLiteral("🔔"), updateBar);
    icon->setFixedWidth(sc(20));
    row->addWidget(icon, 0);

    updateLabel = new QLabel(updateBar);
    updateLabel->setObjectName(QStringLiteral("updateLabel"));
    updateLabel->setTextFormat(Qt::RichText);
    updateLabel->setWordWrap(false);
    row->addWidget(updateLabel, 1);

    changelogBtn = new QPushButton(QStringLiteral("What's New"), updateBar);
    changelogBtn->setObjectName(QStringLiteral("changelogBtn"));
    changelogBtn->setIcon(VXIcons::modern(
        VXIcons::strokeSvg(QStringLiteral("<path d='M9 4h6v3H9z'/><path d='M9 5H6v15h12V5h-3'/>"
                                          "<path d='M9 11h6M9 15h6'/>"),
                           2.0),
        QColor(QStringLiteral("#E8E8EC")), sc(14)));
    changelogBtn->setCursor(Qt::PointingHandCursor);
    changelogBtn->setFixedHeight(sc(26));
    changelogBtn->hide();
    row->addWidget(changelogBtn);

    updateBtn = new QPushButton(QStringLiteral("Download"), updateBar);
    updateBtn->setObjectName(QStringLiteral("updateBtn"));
    updateBtn->setIcon(VXIcons::modern(
        VXIcons::strokeSvg(QStringLiteral("<path d='M12 4v11'/><path d='M7 10l5 5 5-5'/><path d='M5 20h14'/>"), 2.0),
        QColor(QStringLiteral("#FFFFFF")), sc(14)));
    updateBtn->setCursor(Qt::PointingHandCursor);
    updateBtn->setFixedHeight(sc(26));
    row->addWidget(updateBtn);

    updateDismiss = new QPushButton(updateBar);
    updateDismiss->setObjectName(QStringLiteral("updateDismiss"));
    updateDismiss->setIcon(VXIcons::modern(VXIcons::strokeSvg(QStringLiteral("<path d='M6 6l12 12M18 6L6 18'/>"), 2.4),
                                           QColor(QStringLiteral("#E8E8EC")), sc(12)));
    updateDismiss->setCursor(Qt::PointingHandCursor);
    updateDismiss->setFixedSize(sc(24), sc(24));
    updateDismiss->setToolTip(QStringLiteral("Dismiss"));
    row->addWidget(updateDismiss);

    connect(changelogBtn, &QPushButton::clicked, this, &MainWindow::showUpdateNotes);
    // Download, or once the package is here, install it.
    connect(updateBtn, &QPushButton::clicked, this, [this] {
        if (!installerReady.isEmpty())
            applyUpdate(installerReady);
        else if (!downloadUrl.isEmpty())
            startSilentDownload(downloadUrl);
    });
    connect(updateDismiss, &QPushButton::clicked, this, [this] {
        updateBar->hide();
        AppSettings s;
        s.setValue(SettingsKeys::UpdateDismissed, latestVersion);
    });

    // Below the toolbar, above the central area.
    if (auto* column = qobject_cast<QVBoxLayout*>(central ? central->layout() : nullptr)) {
        const int at = toolBar ? column->indexOf(toolBar) : -1;
        if (at >= 0)
            column->insertWidget(at + 1, updateBar);
    }
}

void MainWindow::showUpdateNotes()
{
    QDialog dlg(this);
    dlg.setWindowTitle(QStringLiteral("What's New in v") + latestVersion);
    dlg.setMinimumWidth(420);
    auto* col = new QVBoxLayout(&dlg);
    QString notes = updateNotes;
    if (notes.size() > kNotesShown)
        notes = notes.left(kNotesShown) + QStringLiteral("…");
    auto* label = new QLabel(notes.isEmpty() ? QStringLiteral("No release notes provided.") : notes, &dlg);
    label->setObjectName(QStringLiteral("updateNotesLabel"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("font-size:13px;padding:8px;"));
    col->addWidget(label);
    auto* ok = new QPushButton(QStringLiteral("OK"), &dlg);
    ok->setFixedHeight(32);
    connect(ok, &QPushButton::clicked, &dlg, &QDialog::accept);
    col->addWidget(ok);
    Modal::exec(&dlg);
}

void MainWindow::checkForUpdates(bool silent, bool asked)
{
    if (!updateTimer) {
        updateTimer = new QTimer(this);
        updateTimer->setInterval(kDayMs);
        connect(updateTimer, &QTimer::timeout, this, [this] { checkForUpdates(true); });
        updateTimer->start();
    }
    const QUrl endpoint = UpdateCheck::endpoint(SettingsKeys::serviceUrl());
    if (WebAddress::isReserved(endpoint)) {
        // A reserved name that never resolves: no service is set, and the
        // name is not sent to any resolver.
        VX_LOG(QStringLiteral("[Update] No update service set (%1)").arg(endpoint.host()));
        if (asked)
            toast(UpdateCheck::noServiceText(), ToastManager::Warning, kCheckFailedToastMs);
        return;
    }
    auto* nam = new QNetworkAccessManager(this);
    QNetworkRequest req(endpoint);
    req.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(kCheckTimeoutMs);
    QNetworkReply* reply = nam->get(req);
    connect(reply, &QNetworkReply::finished, this, [this, nam, reply, silent, asked] {
        handleUpdateReply(reply, silent, asked);
        // The check's manager goes with its reply.
        nam->deleteLater();
    });
}

void MainWindow::updateCheckFailed(QNetworkReply* reply, bool asked)
{
    // Only the user's own check says it failed. One retry per run of
    // failures, always silent.
    if (asked)
        toast(UpdateCheck::checkFailedText(int(reply->error())), ToastManager::Warning, kCheckFailedToastMs);
    if (!updateRetryPending) {
        updateRetryPending = true;
        if (!updateRetryTimer) {
            updateRetryTimer = new QTimer(this);
            updateRetryTimer->setSingleShot(true);
            updateRetryTimer->setInterval(kRetryMs);
            connect(updateRetryTimer, &QTimer::timeout, this, [this] { checkForUpdates(true); });
        }
        updateRetryTimer->start();
    }
    VX_LOG(QStringLiteral("[Update] Check failed: %1").arg(reply->errorString()));
}

void MainWindow::handleUpdateReply(QNetworkReply* reply, bool silent, bool asked)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError) {
        updateCheckFailed(reply, asked);
        return;
    }
    updateRetryPending = false;

    const QByteArray body = reply->isOpen() ? reply->readAll() : QByteArray();
    UpdateCheck::Config c;
    QString parseError;
    // A reply with nothing to act on is dropped; only the user's own check
    // says so.
    const auto unusable = [this, asked](UpdateCheck::Unusable why) {
        if (asked)
            toast(UpdateCheck::unusableReplyText(why), ToastManager::Warning, kCheckFailedToastMs);
    };
    if (!UpdateCheck::parse(body, &c, &parseError)) {
        qWarning().noquote() << "[Update] Check response is not valid JSON:" << parseError << "raw:"
                             << QString::fromUtf8(body.left(200));
        // An empty answer is told apart from a page that is not the service's.
        unusable(body.trimmed().isEmpty() ? UpdateCheck::Unusable::Empty : UpdateCheck::Unusable::NotService);
        return;
    }
    if (!c.success) {
        unusable(UpdateCheck::Unusable::NoSuccess);
        return;
    }
    latestVersion = c.latestVersion;
    downloadUrl = c.downloadUrl;
    updateNotes = c.notes;
    if (latestVersion.isEmpty()) {
        unusable(UpdateCheck::Unusable::NoVersion);
        return;
    }

    const bool newer = c.updateActive && UpdateCheck::isNewer(latestVersion, runningVersion());
    const QString dismissed = SettingsKeys::readString(SettingsKeys::UpdateDismissed);
    if (dismissed == latestVersion && !c.forceUpdate && newer)
        return;
    if (newer) {
        showUpdateOffer(c.forceUpdate, c.enableDownload, silent);
        return;
    }
    withdrawUpdateOffer();
    showLatestVersion(silent);
}

void MainWindow::showLatestVersion(bool silent)
{
    if (sbVersion) {
        sbVersion->setText(QStringLiteral("<span style='color:#2ECC71;font-weight:700;'>✓ v%1 — Latest</span>")
                               .arg(runningVersion().toHtmlEscaped()));
        if (!versionLabelTimer) {
            versionLabelTimer = new QTimer(this);
            versionLabelTimer->setSingleShot(true);
            versionLabelTimer->setInterval(kLatestLabelMs);
            connect(versionLabelTimer, &QTimer::timeout, this, [this] {
                if (sbVersion)
                    sbVersion->setText(QStringLiteral("Tarvello Rododu v") + runningVersion());
            });
        }
        versionLabelTimer->start();
    }
    if (!silent)
        toast(QStringLiteral("✅ You have the latest version!"), ToastManager::Success, 3000);
}

void MainWindow::showUpdateOffer(bool force, bool enableDownload, bool silent)
{
    setWindowTitle(QStringLiteral("Tarvello Rododu — 🔴 Update Available v%1").arg(latestVersion));
    // A package downloaded from another address is not the one offered now.
    if (!installerReady.isEmpty() && installerUrl != downloadUrl) {
        forgetDownloadedInstaller();
        resetDownloadButton();
    }
    changelogBtn->setVisible(!updateNotes.isEmpty());
    updateLabel->setText(UpdateCheck::offerText(latestVersion, updateNotes, force));
    updateBtn->setVisible(enableDownload);
    // A download under way keeps its button until it ends.
    updateBtn->setEnabled(enableDownload && !updateDownloading && !installerChecking);
    updateBar->setStyleSheet(UpdateCheck::barStyleSheet(force));
    updateBar->show();
    if (!silent)
        toast(QStringLiteral("🔔 Update available: v%1").arg(latestVersion), ToastManager::Info, 5000);
}

void MainWindow::resetDownloadButton()
{
    if (!updateBtn)
        return;
    updateBtn->setText(QStringLiteral("Download"));
    updateBtn->setEnabled(true);
}

void MainWindow::updateFailed(const QString& what)
{
    resetDownloadButton();
    Modal::warning(this, QStringLiteral("Update Failed"), what + QStringLiteral("\n\n") + UpdateCheck::manualHint());
}

// One running download: the file it writes and what it has seen so far.
struct UpdateDownload
{
    explicit UpdateDownload(const QString& target) : writer(target) {}
    SafeFileWriter writer;
    QCryptographicHash hash{QCryptographicHash::Sha256};
    qint64 received = 0;
    QString url;

    // Writes and hashes one chunk; false when the write failed.
    bool take(const QByteArray& chunk)
    {
        received += chunk.size();
        if (chunk.isEmpty() || !writer.isOpen())
            return true;
        hash.addData(chunk);
        return writer.write(chunk);
    }
};

void MainWindow::startSilentDownload(const QString& url)
{
    if (updateDownloading)
        return;
    updateDownloading = true;
    forgetDownloadedInstaller();
    if (updateBtn) {
        updateBtn->setText(QStringLiteral("Downloading…"));
        updateBtn->setEnabled(false);
    }

    const QUrl address(url);
    if (!WebAddress::isFetchable(address)) {
        updateDownloading = false;
        updateFailed(QStringLiteral("Download failed: the download address is not a web address (%1).")
                         .arg(url.isEmpty() ? QStringLiteral("empty") : url.left(200)));
        return;
    }

    // Only a folder of this user's alone takes the download: what lies there
    // is later handed to the package tool as root.
    const QString folderProblem = UpdateCheck::prepareDownloadFolder();
    if (!folderProblem.isEmpty()) {
        updateDownloading = false;
        updateFailed(QStringLiteral("Download failed: ") + folderProblem);
        return;
    }
    // What programs that have ended left there goes; each download then gets
    // a file of its own, which another program running at the same time
    // never writes. The bytes stream into a temporary file beside it, which
    // takes the name only once the whole body has arrived.
    UpdateCheck::removeLeftoverInstallers(QDateTime::currentDateTimeUtc());
    auto d = std::make_shared<UpdateDownload>(UpdateCheck::newInstallerPath());
    d->url = url;
    if (!d->writer.open()) {
        updateDownloading = false;
        updateFailed(QStringLiteral("Download failed: ") + d->writer.errorString());
        return;
    }

    auto* nam = new QNetworkAccessManager(this);
    QNetworkRequest req(address);
    req.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    req.setTransferTimeout(0);
    QNetworkReply* reply = nam->get(req);
    downloadReply = reply;
    downloadCut = kNotCut;

    if (!downloadStallTimer) {
        downloadStallTimer = new QTimer(this);
        downloadStallTimer->setSingleShot(true);
        downloadStallTimer->setInterval(kStallMs);
        connect(downloadStallTimer, &QTimer::timeout, this, [this] {
            if (auto* running = qobject_cast<QNetworkReply*>(downloadReply.data())) {
                downloadCut = kCutStalled;
                running->abort();
            }
        });
    }
    downloadStallTimer->start();

    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 got, qint64 total) {
        if (total > 0 && updateBtn)
            updateBtn->setText(QStringLiteral("⏳ %1%").arg(got * 100 / total));
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, d] {
        downloadStallTimer->start();
        // A failed write ends the transfer; the reason is reported at its end.
        if (!d->take(reply->readAll()))
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, nam, reply, d] {
        nam->deleteLater();
        finishDownload(reply, d);
    });
}

void MainWindow::finishDownload(QNetworkReply* reply, const std::shared_ptr<UpdateDownload>& d)
{
    reply->deleteLater();
    updateDownloading = false;
    downloadReply = nullptr;
    downloadStallTimer->stop();
    const int cut = std::exchange(downloadCut, kNotCut);

    d->take(reply->isOpen() ? reply->readAll() : QByteArray());
    if (cut == kCutWithdrawn) {
        // The offer went while the bytes came: nothing is kept or said.
        d->writer.cancel();
        resetDownloadButton();
        return;
    }
    if (cut == kCutStalled) {
        d->writer.cancel();
        updateFailed(QStringLiteral("Download failed: the server sent no data for %1 seconds (%2 bytes had come).")
                         .arg(kStallMs / 1000)
                         .arg(d->received));
        return;
    }
    const bool writeFailed = !d->writer.isOpen() || !d->writer.errorString().isEmpty();
    if (writeFailed) {
        const QString why = d->writer.errorString();
        d->writer.cancel();
        updateFailed(QStringLiteral("Download failed: ") + why);
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        d->writer.cancel();
        updateFailed(QStringLiteral("Download failed: ") + reply->errorString());
        return;
    }
    // A reply cut short can end without an error: the bytes must match
    // what the server announced.
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && announced.toLongLong() != d->received) {
        d->writer.cancel();
        updateFailed(QStringLiteral("Download failed: the connection ended after %1 of %2 bytes.")
                         .arg(d->received)
                         .arg(announced.toLongLong()));
        return;
    }
    if (!d->writer.commit()) {
        updateFailed(QStringLiteral("Download failed: ") + d->writer.errorString());
        return;
    }
    keepDownloadedInstaller(d);
}

void MainWindow::keepDownloadedInstaller(const std::shared_ptr<UpdateDownload>& d)
{
    const QString target = d->writer.path();
    const QFileInfo fi(target);
    if (fi.isFile() && fi.size() >= UpdateCheck::kMinInstallerBytes) {
        ToastManager::instance()->show(
            this,
            QStringLiteral("✅ Downloaded %1 MB — click Restart & Install").arg(fi.size() / 1024.0 / 1024.0, 0, 'f', 1),
            ToastManager::Success, 5000);
        installerReady = target;
        installerUrl = d->url;
        installerSize = d->writer.bytesWritten();
        installerSha256 = d->hash.result();
        if (updateBtn) {
            updateBtn->setText(QStringLiteral("Restart && Install"));
            updateBtn->setEnabled(true);
        }
        return;
    }
    const qint64 size = fi.exists() ? fi.size() : 0;
    // No later download replaces it: an unusable body goes at once.
    QFile::remove(target);
    Modal::warning(this, QStringLiteral("Download Error"),
                   QStringLiteral("Downloaded file is too small or missing.\nPath: %1\nSize: %2 bytes\n"
                                  "Network bytes received: %3\n\n"
                                  "The download URL may be wrong or the server returned an error page.")
                       .arg(target)
                       .arg(size)
                       .arg(d->received));
    resetDownloadButton();
}

void MainWindow::forgetDownloadedInstaller()
{
    // This window's own download goes with it (every download has a name of
    // its own, so no later one replaces it); a file recorded from anywhere
    // else is left alone.
    const QFileInfo own(installerReady);
    if (!installerReady.isEmpty() && own.absolutePath() == QFileInfo(UpdateCheck::downloadFolder()).absoluteFilePath()
        && UpdateCheck::installerOwner(own.fileName()) == QCoreApplication::applicationPid())
        QFile::remove(installerReady);
    installerReady.clear();
    installerUrl.clear();
    installerSize = -1;
    installerSha256.clear();
}

void MainWindow::withdrawUpdateOffer()
{
    const bool offered = updateBar && !updateBar->isHidden();
    const bool hadDownload = !installerReady.isEmpty() || updateDownloading;
    if (offered)
        updateBar->hide();
    if (changelogBtn)
        changelogBtn->hide();
    if (windowTitle().startsWith(QStringLiteral("Tarvello Rododu — 🔴 Update Available")))
        setWindowTitleFromSession();
    latestVersion.clear();
    downloadUrl.clear();
    updateNotes.clear();
    if (auto* running = qobject_cast<QNetworkReply*>(downloadReply.data())) {
        downloadCut = kCutWithdrawn;
        running->abort();
    }
    if (!installerReady.isEmpty()) {
        QFile::remove(installerReady);
        forgetDownloadedInstaller();
    }
    resetDownloadButton();
    if (offered || hadDownload)
        VX_LOG(QStringLiteral("[Update] Offer withdrawn: the service offers nothing newer"));
}

void MainWindow::applyUpdate(const QString& path)
{
    if (installerChecking)
        return;
    const QFileInfo fi(path);
    const qint64 size = fi.exists() ? fi.size() : 0;
    if (!FileCheck::isRegularFile(path) || size < UpdateCheck::kMinInstallerBytes) {
        Modal::warning(this, QStringLiteral("Update Failed"),
                       QStringLiteral("Installer file missing or invalid.\n\nExpected: ") + path
                           + QStringLiteral("\nSize: ") + QString::number(size) + QStringLiteral(" bytes\n\n")
                           + UpdateCheck::manualHint());
        return;
    }
    // Only the file this program downloaded goes to the package tool, as it
    // was written: its bytes are read again on the pool, not here.
    UpdateCheck::Fetched fetched;
    if (path == installerReady)
        fetched = UpdateCheck::Fetched{installerReady, installerSize, installerSha256};
    installerChecking = true;
    if (updateBtn)
        updateBtn->setEnabled(false);
    auto* watcher = new QFutureWatcher<QString>(this);
    connect(watcher, &QFutureWatcher<QString>::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        installerChecking = false;
        if (updateBtn)
            updateBtn->setEnabled(true);
        installChecked(path, watcher->result());
    });
    watcher->setFuture(QtConcurrent::run(&UpdateCheck::verifyFetched, fetched));
}

void MainWindow::installChecked(const QString& path, const QString& problem)
{
    if (!problem.isEmpty()) {
        VX_LOG(QStringLiteral("[Update] Installer refused: %1 (%2)").arg(problem, path));
        if (path == installerReady) {
            forgetDownloadedInstaller();
            resetDownloadButton();
        }
        Modal::warning(this, QStringLiteral("Update Failed"),
                       QStringLiteral("The installer was not installed: it is not the file this program "
                                      "downloaded.\n\n%1\nPath: %2\n\n")
                               .arg(problem, path)
                           + UpdateCheck::manualHint());
        return;
    }
    const int result = PackageInstaller::launch(path);
    if (result <= 32) {
        Modal::warning(this, QStringLiteral("Update Failed"),
                       QStringLiteral("Could not launch installer (error code: %1).\n\nPlease run it manually:\n")
                               .arg(result)
                           + path);
        return;
    }
    VX_LOG(QStringLiteral("[Update] Installer started: %1").arg(path));
    SessionManager* sm = SessionManager::instance();
    if (sm->isDirty()) {
        syncGridsToSession();
        sm->saveSession(QString());
    }
    // The window's own close stores its state and stops the engines; work
    // that is still unsaved is asked about there.
    close();
}
