#include "UpdateCheck.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QVersionNumber>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace UpdateCheck {

namespace {

QString text(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isString() ? v.toString().trimmed() : QString();
}

bool flag(const QJsonObject& o, const char* key)
{
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isBool() && v.toBool();
}

// The leading digits and dots of a version text: the version number itself.
// QVersionNumber would take a sign into a number ("2.0.+9" as 2.0.9).
QString numericHead(const QString& version)
{
    qsizetype n = 0;
    while (n < version.size()
           && ((version.at(n) >= QLatin1Char('0') && version.at(n) <= QLatin1Char('9')) || version.at(n) == QLatin1Char('.')))
        ++n;
    return version.left(n);
}

} // namespace

bool parse(const QByteArray& body, Config* config, QString* error)
{
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &pe);
    if (pe.error != QJsonParseError::NoError) {
        if (error)
            *error = pe.errorString();
        return false;
    }
    const QJsonObject o = doc.object(); // empty for an array
    Config c;
    c.success = flag(o, "success");
    c.latestVersion = text(o, "latest_version");
    c.downloadUrl = text(o, "download_url");
    c.notes = text(o, "update_notes");
    c.forceUpdate = flag(o, "force_update");
    c.updateActive = flag(o, "update_active");
    c.enableDownload = flag(o, "enable_download");
    *config = c;
    return true;
}

bool isNewer(const QString& latest, const QString& running)
{
    if (latest.isEmpty() || !latest.front().isDigit())
        return false;
    // "2.0.84.0" is "2.0.84": trailing zeros say nothing.
    const QVersionNumber l = QVersionNumber::fromString(numericHead(latest)).normalized();
    return QVersionNumber::compare(l, QVersionNumber::fromString(numericHead(running)).normalized()) > 0;
}

QUrl endpoint(const QString& serviceUrl)
{
    return QUrl(serviceUrl + kConfigPath);
}

QString offerText(const QString& version, const QString& notes, bool force)
{
    const QString v = version.toHtmlEscaped();
    if (force)
        return QStringLiteral("⚠ <b>Urgent Update:</b> v%1 available!").arg(v);
    QString tail;
    if (!notes.isEmpty())
        tail = QStringLiteral(" &nbsp;·&nbsp; ") + notes.left(60).toHtmlEscaped() + QStringLiteral("…");
    return QStringLiteral("🆕 <b>New Version v%1 available!</b>%2").arg(v, tail);
}

QString barStyleSheet(bool force)
{
    const char* const bg = force ? "#5A0A0A" : "#0A2A0A";
    const char* const border = force ? "#FF4444" : "#2ECC71";
    const char* const fg = force ? "#FF8888" : "#90EE90";
    const char* const buttons = force ? "#CC2222" : "#1E8A3E";
    return QStringLiteral("QWidget#updateBar{background:%1;border-bottom:1px solid %2;}"
                          "QLabel#updateLabel{color:%3;font-size:12px;}"
                          "QPushButton#updateBtn,QPushButton#changelogBtn{background:%4;color:white;border:none;"
                          "border-radius:4px;padding:2px 10px;font-weight:700;}"
                          "QPushButton#updateDismiss{background:transparent;color:%3;border:none;font-size:14px;}")
        .arg(QLatin1String(bg), QLatin1String(border), QLatin1String(fg), QLatin1String(buttons));
}

QString downloadFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/update");
}

namespace {

// Why the folder is not this user's alone; empty when it is.
QString privateFolderProblem(const QString& folder)
{
    struct stat st {};
    const QByteArray native = QFile::encodeName(folder);
    if (::lstat(native.constData(), &st) != 0)
        return QStringLiteral("The download folder %1 cannot be read (%2).")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("The download folder %1 is not a folder.").arg(folder);
    if (st.st_uid != ::getuid())
        return QStringLiteral("The download folder %1 belongs to another user (uid %2).").arg(folder).arg(st.st_uid);
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("The download folder %1 is open to other users (mode %2); only you may use it.")
            .arg(folder)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

} // namespace

QString prepareDownloadFolder()
{
    const QString folder = downloadFolder();
    QDir().mkpath(QFileInfo(folder).path());
    const QByteArray native = QFile::encodeName(folder);
    // Made here with no access for anyone else; an existing one is checked
    // as it stands, never loosened or taken over.
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        return QStringLiteral("The download folder %1 cannot be made (%2).")
            .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
    return privateFolderProblem(folder);
}

QString verifyFetched(const Fetched& f)
{
    if (!f.isValid())
        return QStringLiteral("This installer was not downloaded by the program.");
    if (QFileInfo(f.path).absolutePath() != QFileInfo(downloadFolder()).absoluteFilePath())
        return QStringLiteral("The installer is not in the download folder.");
    const QString folderProblem = privateFolderProblem(downloadFolder());
    if (!folderProblem.isEmpty())
        return folderProblem;
    struct stat st {};
    if (::lstat(QFile::encodeName(f.path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return QStringLiteral("The installer is missing or is no longer a plain file.");
    if (st.st_uid != ::getuid())
        return QStringLiteral("The installer now belongs to another user.");
    if (qint64(st.st_size) != f.size)
        return QStringLiteral("The installer's size changed after the download (%1 bytes, %2 downloaded).")
            .arg(qint64(st.st_size))
            .arg(f.size);
    QFile file(f.path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("The installer cannot be read.");
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file) || file.size() != f.size)
        return QStringLiteral("The installer cannot be read.");
    if (hash.result() != f.sha256)
        return QStringLiteral("The installer's contents changed after the download.");
    return QString();
}

namespace {

const QString kInstallerStem = QStringLiteral("TarvelloRuzoru_Setup-");
const QString kInstallerSuffix = QStringLiteral(".exe");
constexpr int kRandomDigits = 16;

// Whether a process of that id runs (one of another user's counts too).
bool processRuns(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace

QString newInstallerPath()
{
    const QString folder = downloadFolder();
    for (;;) {
        const QString name = kInstallerStem + QString::number(QCoreApplication::applicationPid())
                           + QLatin1Char('-')
                           + QStringLiteral("%1").arg(QRandomGenerator::system()->generate64(), kRandomDigits, 16,
                                                      QLatin1Char('0'))
                           + kInstallerSuffix;
        const QString path = folder + QLatin1Char('/') + name;
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            return path;
    }
}

qint64 installerOwner(const QString& fileName)
{
    const QString name = QFileInfo(fileName).fileName();
    if (!name.startsWith(kInstallerStem) || !name.endsWith(kInstallerSuffix))
        return 0;
    const QStringView middle = QStringView(name).mid(kInstallerStem.size(),
                                                     name.size() - kInstallerStem.size() - kInstallerSuffix.size());
    const qsizetype dash = middle.indexOf(QLatin1Char('-'));
    if (dash <= 0 || middle.size() - dash - 1 != kRandomDigits)
        return 0;
    for (const QChar c : middle.mid(dash + 1)) {
        if (!c.isDigit() && !(c >= QLatin1Char('a') && c <= QLatin1Char('f')))
            return 0;
    }
    bool ok = false;
    const qint64 pid = middle.left(dash).toLongLong(&ok);
    return ok && pid > 0 && middle.at(0).isDigit() ? pid : 0;
}

int removeLeftoverInstallers(const QDateTime& now)
{
    int removed = 0;
    const QDir folder(downloadFolder());
    for (const QFileInfo& f : folder.entryInfoList({kInstallerStem + QLatin1Char('*')}, QDir::Files | QDir::Hidden)) {
        const qint64 owner = installerOwner(f.fileName());
        if (owner == 0 || processRuns(owner) || f.isSymLink())
            continue;
        // Kept while written within the hour before now. A date ahead of
        // now tells nothing of its age (the clock was set back since): its
        // program has ended, so it goes rather than stay for ever.
        const QDateTime written = f.lastModified();
        if (written <= now && written > now.addSecs(-kLeftoverAgeSecs))
            continue;
        removed += QFile::remove(f.absoluteFilePath());
    }
    return removed;
}

QString manualHint()
{
    return QStringLiteral("Please download the latest installer manually from the Tarvello website.");
}

// The warning toast draws its own sign: these texts carry none.
QString checkFailedText(int networkError)
{
    // QNetworkReply numbers the errors of the connection and of proxies
    // below 200, those of the content and the server from 200 up.
    if (networkError < 200)
        return QStringLiteral("Could not reach the update service. Check the connection and try again later.");
    return QStringLiteral("The update service answered the check with an error. Try again later.");
}

QString noServiceText()
{
    return QStringLiteral("Could not check for updates: no update service is set.");
}

QString unusableReplyText(Unusable why)
{
    switch (why) {
    case Unusable::NotService:
        break;
    case Unusable::Empty:
        return QStringLiteral("The update service's answer was empty. Try again later.");
    case Unusable::NoSuccess:
        return QStringLiteral("The update service did not report a successful check. Try again later.");
    case Unusable::NoVersion:
        return QStringLiteral("The update service's answer names no version. Try again later.");
    }
    return QStringLiteral("The update check got an answer that is not the update service's "
                          "(a login or network page?). Try again later.");
}

} // namespace UpdateCheck
