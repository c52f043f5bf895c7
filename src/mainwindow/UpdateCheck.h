#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUrl>

// The pieces of the update check that need no window: reading the service's
// reply, comparing versions, the texts and colours of the offer, and where
// the installer goes.
namespace UpdateCheck {

// The fixed path of the update configuration on the service.
inline const QString kConfigPath = QStringLiteral("/wp-json/tarvello-config/v1/settings");

// The service's reply. A field that is missing or of another type takes its
// default; texts are trimmed.
struct Config
{
    bool success = false;
    QString latestVersion;
    QString downloadUrl;
    QString notes;
    bool forceUpdate = false;
    bool updateActive = false;
    bool enableDownload = false;
};

// Reads the reply body. False when the body is not JSON; error then holds the
// parser's text. A JSON value that is not an object reads as all defaults.
bool parse(const QByteArray& body, Config* config, QString* error);

// Whether latest is a newer version than running, compared as version
// numbers ("2.0.100" is newer than "2.0.84", "2.0.9" is not). A text that
// does not start with a number is never newer.
bool isNewer(const QString& latest, const QString& running);

// The address of the update configuration on the service at serviceUrl.
QUrl endpoint(const QString& serviceUrl);

// The bar's message (rich text; version and notes escaped).
QString offerText(const QString& version, const QString& notes, bool force);
// The bar's style sheet in its normal or its urgent colours.
QString barStyleSheet(bool force);


// The download folder, "update" in this user's own cache folder.
QString downloadFolder();
// A name of its own for a new download in the download folder:
// "TarvelloRuzoru_Setup-<process id>-<16 random hex digits>.exe", never that
// of a file already there. Two programs running at once, or two downloads of
// one program, never write the same file.
QString newInstallerPath();
// The process id in the file name of a download (the name alone, or a path);
// 0 when it is not a name newInstallerPath gives.
qint64 installerOwner(const QString& fileName);
// An installer left by a program that has ended goes once it is this old: the
// package tool may still be about to read the one its program handed over.
constexpr qint64 kLeftoverAgeSecs = 3600;
// Removes from the download folder the installers of programs that no longer
// run, last written kLeftoverAgeSecs or more before now (or dated after now).
// Returns how many went.
int removeLeftoverInstallers(const QDateTime& now);

// Makes the download folder when it is missing (mode 0700, its parents as
// usual) and checks that only this user can reach it: a real folder, not a
// link, owned by this user, with no access for group or others. Empty when
// it is fit for a download, else why not (a sentence for the user).
QString prepareDownloadFolder();

// A downloaded installer as it was written: its path, its size and the
// SHA-256 of its bytes, taken while they arrived.
struct Fetched
{
    QString path;
    qint64 size = -1;
    QByteArray sha256;
    bool isValid() const { return !path.isEmpty() && size >= 0 && !sha256.isEmpty(); }
};

// Whether the file at f.path is still the one fetched: its folder still
// private, the file a regular file of this user's, of the same size and the
// same SHA-256. Empty when it is, else why not. Reads the whole file: run it
// off the GUI thread.
QString verifyFetched(const Fetched& f);
// Smallest size of a usable installer, in bytes.
constexpr qint64 kMinInstallerBytes = 100000;

// The sentence that sends the user to the website when updating fails.
QString manualHint();

// What a check the user asked for says when it got no answer: networkError
// is the reply's QNetworkReply::NetworkError. Errors of the connection
// (below 200: host, connection, timeout, proxy) could not reach the
// service; the rest are the service's own answer of an error.
QString checkFailedText(int networkError);
// What a check the user asked for says when no service is set.
QString noServiceText();

// A reply that arrived with no error of the connection or of HTTP, but that
// offers nothing to act on.
enum class Unusable {
    Empty,      // no body at all, or only blanks
    NotService, // not JSON: a login page, a captive portal, a proxy's page
    NoSuccess,  // JSON whose "success" is not true
    NoVersion,  // a successful reply that names no version
};
// What a check the user asked for says of such a reply.
QString unusableReplyText(Unusable why);

} // namespace UpdateCheck
