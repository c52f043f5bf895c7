#pragma once
// A reach into the window's update check, a server for it, and what the
// window showed: toasts and the boxes it asked.
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "AppSettings.h"
#include "LocalHttpServer.h"
#include "MainWindow.h"
#include "SafeWrite.h"
#include "SettingsKeys.h"
#include "TestSupport.h"
#include "ToastCapture.h"
#include "UpdateCheck.h"

class UpdateTestAccess
{
public:
    static QWidget* bar(MainWindow* w) { return w->updateBar; }
    static QLabel* label(MainWindow* w) { return w->updateLabel; }
    static QPushButton* button(MainWindow* w) { return w->updateBtn; }
    static QPushButton* notesButton(MainWindow* w) { return w->changelogBtn; }
    static QPushButton* dismiss(MainWindow* w) { return w->updateDismiss; }
    static QLabel* versionLabel(MainWindow* w) { return w->sbVersion; }
    static QTimer* dayTimer(MainWindow* w) { return w->updateTimer; }
    static QTimer* startTimer(MainWindow* w) { return w->updateStartTimer; }
    static QTimer* retryTimer(MainWindow* w) { return w->updateRetryTimer; }
    static QTimer* versionTimer(MainWindow* w) { return w->versionLabelTimer; }
    static bool& retryPending(MainWindow* w) { return w->updateRetryPending; }
    static bool downloading(MainWindow* w) { return w->updateDownloading; }
    static QString& downloadUrl(MainWindow* w) { return w->downloadUrl; }
    static QString& notes(MainWindow* w) { return w->updateNotes; }
    static QString& latest(MainWindow* w) { return w->latestVersion; }
    static QString& installerReady(MainWindow* w) { return w->installerReady; }
    static QByteArray installerSha256(MainWindow* w) { return w->installerSha256; }
    static qint64 installerSize(MainWindow* w) { return w->installerSize; }
    static QTimer* stallTimer(MainWindow* w) { return w->downloadStallTimer; }
    // Takes the file as the window's own download, as it stands now.
    static void recordFetched(MainWindow* w, const QString& path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        w->installerReady = path;
        w->installerSize = bytes.size();
        w->installerSha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    }
};

namespace UpdateTest {

const QString kPath = QStringLiteral("/wp-json/tarvello-config/v1/settings");

inline void setService(const QUrl& url)
{
    AppSettings s;
    s.setValue(SettingsKeys::UpdateServiceUrl, url.toString());
}

using TestSupport::takeToasts;

// The network managers of the window's checks and downloads still alive.
inline int managers(MainWindow* w)
{
    return int(w->findChildren<QNetworkAccessManager*>().size());
}

// Waits until every check and download of the window has been handled and
// its manager freed.
inline bool settle(MainWindow* w)
{
    return QTest::qWaitFor([w] { return managers(w) == 0; }, 20000);
}

// A fresh, private download folder with nothing in it.
inline bool freshDownloadFolder()
{
    const QString folder = UpdateCheck::downloadFolder();
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (QFileInfo(folder).isSymLink() || QFileInfo(folder).isFile())
        QFile::remove(folder);
    QDir(folder).removeRecursively();
    return UpdateCheck::prepareDownloadFolder().isEmpty();
}

// A Debian package of about `bytes` bytes.
inline QByteArray package(int bytes)
{
    return TestSupport::debianPackage(bytes);
}

// The boxes and dialogs the window asked, answered with `answer`.
struct Asked
{
    QList<Modal::Request> requests;
    std::function<QVariant(const Modal::Request&)> answer = [](const Modal::Request&) { return QVariant(); };
    QStringList titles() const
    {
        QStringList t;
        for (const Modal::Request& r : requests)
            t << r.title;
        return t;
    }
};

} // namespace UpdateTest
