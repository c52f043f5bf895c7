#pragma once
#include <QString>
#include <QVariant>

// Every settings key of the program, with its type, its default and the
// values it may take, and the one validated read. A value that is missing,
// of the wrong type (the INI store gives back text, or a list where a text
// was meant) or out of range reads as the default, so nothing downstream ever
// sees it. Writers use AppSettings as before.
namespace SettingsKeys {

// audio
inline const QString AudioDevice = QStringLiteral("audio/device");            // text, ""
inline const QString AudioBuffer = QStringLiteral("audio/buffer");            // int 16..4096, 128
inline const QString AudioEngine = QStringLiteral("audio/engine");            // text, "wasapi_shared"
inline const QString AudioFormatRate = QStringLiteral("audio/format_rate");   // int 8000..768000, 0 (none)
inline const QString AudioPlaybackMode = QStringLiteral("audio/playback_mode"); // text, ""
inline const QString AudioSampler = QStringLiteral("audio/sampler");          // text, "" (readers pass theirs)
inline const QString AudioPreload = QStringLiteral("audio/preload");          // bool, true
// appearance
inline const QString AppearancePreset = QStringLiteral("appearance/preset");  // text, "default"
inline const QString AppearanceTheme = QStringLiteral("appearance/theme");    // text, "dark"
inline const QString AppearanceAccent = QStringLiteral("appearance/accent");  // "#rrggbb" or "", ""
inline const QString AppearanceFont = QStringLiteral("appearance/font");      // family without ; { } " ', ""
inline const QString AppearanceFontPx = QStringLiteral("appearance/fontPx");  // int 0 or 6..72, 0
inline const QString AppearanceBtnFontSize = QStringLiteral("appearance/btnFontSize"); // 0,10,12,14; 0
inline const QString AppearanceShowLoopIcon = QStringLiteral("appearance/showLoopIcon");       // bool, true
inline const QString AppearanceShowScissorIcon = QStringLiteral("appearance/showScissorIcon"); // bool, true
// advanced and session
inline const QString AdvancedAutosave = QStringLiteral("advanced/autosave");  // 0,60,120,300,900; 0
inline const QString AdvancedShowLog = QStringLiteral("advanced/showLog");    // bool, false
inline const QString SessionAutoSave = QStringLiteral("session/autoSave");    // bool, true
inline const QString RecentFiles = QStringLiteral("recentFiles");             // text list, []
// library
inline const QString LibraryDownloadPath = QStringLiteral("library/downloadPath"); // absolute folder, defaultDownloadFolder()
inline const QString LibraryOutputDevice = QStringLiteral("library/outputDevice"); // text, ""
// layout, grid, window
inline const QString LayoutStackDualPanes = QStringLiteral("layout/stackDualPanes"); // bool, true
inline const QString GridCols = QStringLiteral("grid/cols");                  // int 0..1000, 0
inline const QString GridRows = QStringLiteral("grid/rows");                  // int 0..1000, 0
inline const QString WindowGeometry = QStringLiteral("window/geometry");      // byte array
inline const QString WindowState = QStringLiteral("window/state");            // byte array
inline const QString WindowSplitter = QStringLiteral("window/splitter");      // byte array
inline const QString WindowVersion = QStringLiteral("window/version");        // text, ""
// update and the project's web service
inline const QString UpdateDismissed = QStringLiteral("update/dismissed");    // text, ""
inline const QString UpdateServiceUrl = QStringLiteral("update/serviceUrl");  // http(s) URL, kDefaultServiceUrl

// The service address until the project has a service: resolves nowhere.
inline const QString kDefaultServiceUrl = QStringLiteral("https://updates.tarvello.invalid");

// The key's value after validation; the table's default when the stored
// value is missing, of the wrong type or out of range. Unknown keys read as
// stored (or an invalid QVariant).
QVariant read(const QString& key);
// The same with the reader's own default, for keys whose readers differ.
QVariant read(const QString& key, const QVariant& readerDefault);

// Whether a value would be accepted for the key (used by read and tests).
bool isValid(const QString& key, const QVariant& value);
// The table's default for the key (invalid QVariant when it has none).
QVariant defaultValue(const QString& key);

QString readString(const QString& key);
QString readString(const QString& key, const QString& readerDefault);
int readInt(const QString& key);
int readInt(const QString& key, int readerDefault);
bool readBool(const QString& key);
bool readBool(const QString& key, bool readerDefault);

// "VX Library" under the user's music folder, else under the home folder.
QString defaultDownloadFolder();
// "library/downloadPath" validated: empty or not absolute gives the default.
QString downloadFolder();
// The session's auto-save interval in seconds, 0 for none: "advanced/autosave"
// when it holds one of its choices, else kDefaultAutoSaveSeconds when
// "session/autoSave" is true and 0 when it is false.
constexpr int kDefaultAutoSaveSeconds = 120;
int autoSaveSeconds();
// "update/serviceUrl" validated: an http or https address with a host, with
// no trailing slash; anything else gives kDefaultServiceUrl.
QString serviceUrl();

} // namespace SettingsKeys
