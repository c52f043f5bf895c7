#include "UpdateCheck.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVersionNumber>

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
    return QDir::tempPath() + QStringLiteral("/TarvelloUpdate");
}

QString installerPath()
{
    return downloadFolder() + QStringLiteral("/TarvelloRuzoru_Setup.exe");
}

QString manualHint()
{
    return QStringLiteral("Please download the latest installer manually from the Tarvello website.");
}

} // namespace UpdateCheck
