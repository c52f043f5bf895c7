// Advanced: auto-save interval, the event log switch, the download folder,
// the data folder's size with clearing the audio cache, button volumes back
// to 100 % and resetting every setting.
#include "SettingsDialog.h"

#include <algorithm>
#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <cmath>

#include "AppSettings.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "Modal.h"
#include "PcmPlayer.h"
#include "SessionManager.h"
#include "SettingsKeys.h"
#include "SettingsPageKit.h"
#include "VXIcons.h"
#include "WasapiEngine.h"

using namespace SettingsPageKit;

namespace {

const char* const kFolderSvg = "<path d='M4 20h16a2 2 0 0 0 2-2V8a2 2 0 0 0-2-2h-7.9a2 2 0 0 1-1.69-.9L9.6 3.9A2 2 0 0 0 "
                               "7.93 3H4a2 2 0 0 0-2 2v13a2 2 0 0 0 2 2z'/>";
const char* const kBinSvg = "<path d='M3 6h18'/><path d='M19 6v14a2 2 0 0 1-2 2H7a2 2 0 0 1-2-2V6'/><path d='M8 6V4a2 2 "
                            "0 0 1 2-2h4a2 2 0 0 1 2 2v2'/><line x1='10' y1='11' x2='10' y2='17'/><line x1='14' "
                            "y1='11' x2='14' y2='17'/>";
const char* const kRestartSvg = "<path d='M21 12a9 9 0 1 1-3-6.7'/><polyline points='21 3 21 8 16 8'/>";

struct AutoSaveChoice
{
    const char* text;
    int seconds;
};
const AutoSaveChoice kAutoSave[] = {
    {"Disabled", 0},          {"Every 1 minute", 60},     {"Every 2 minutes", 120},
    {"Every 5 minutes", 300}, {"Every 15 minutes", 900}};

QString dataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString cacheText(const QString& size)
{
    return QStringLiteral("App data & cache: %1\nLocation: %2").arg(size, dataFolder());
}

QLabel* mutedLabel(const QString& text)
{
    auto* l = new QLabel(text);
    l->setObjectName(QStringLiteral("mutedLabel"));
    l->setWordWrap(true);
    return l;
}

QPushButton* pageButton(const QString& text, const QIcon& icon = QIcon())
{
    auto* b = new QPushButton(icon, text);
    b->setFixedHeight(32);
    return b;
}

// Starts the size count on the global pool; the label shows the result when
// it comes. The watcher is the label's child, so a late result is dropped
// with the label.
void startSizeCount(QLabel* label)
{
    label->setText(cacheText(QStringLiteral("Calculating…")));
    auto* watcher = new QFutureWatcher<QString>(label);
    QObject::connect(watcher, &QFutureWatcher<QString>::finished, label, [label, watcher] {
        label->setText(cacheText(watcher->result()));
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(QThreadPool::globalInstance(), [] {
        return SettingsDialog::formatSize(SettingsDialog::dataSize(dataFolder(), AppSettings().fileName()));
    }));
}

// Creates the folder; false (after a warning naming it) when it cannot be.
bool makeFolder(QWidget* parent, const QString& folder)
{
    if (!folder.isEmpty() && QDir().mkpath(folder) && QFileInfo(folder).isDir())
        return true;
    themedMessageBox(parent, QMessageBox::Warning, QStringLiteral("VX Library"),
                     QStringLiteral("The folder could not be created:\n%1").arg(folder), QMessageBox::Ok,
                     QMessageBox::Ok);
    return false;
}

} // namespace

qint64 SettingsDialog::dataSize(const QString& root, const QString& settingsFile)
{
    qint64 total = 0;
    QDirIterator it(root, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        if (fi.isFile())
            total += fi.size();
    }
    const QFileInfo settings(settingsFile);
    if (!settingsFile.isEmpty() && settings.isFile())
        total += settings.size();
    return total;
}

QString SettingsDialog::formatSize(qint64 bytes)
{
    if (bytes <= 1023)
        return QStringLiteral("%1 B").arg(bytes);
    if (bytes <= 1048575)
        return QStringLiteral("%1 KB").arg(bytes / 1024);
    return QStringLiteral("%1 MB").arg(bytes / 1048576);
}

void SettingsDialog::buildAdvancedPage()
{
    const ThemeColors c = ThemeManager::instance()->colors();
    auto* page = new QWidget;
    QVBoxLayout* v = pageLayout(page, 14);

    buildAutoSaveSection(v, c);
    buildEventLogSection(v);
    buildDownloadFolderSection(v, c);
    buildCacheSection(v);
    buildVolumeResetSection(v, c);
    buildSettingsResetSection(v);

    v->addStretch();
    pageStack->addWidget(scrollPage(page));
}

// Auto-save: the session's own interval.
void SettingsDialog::buildAutoSaveSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Auto-save"));
    auto* form = new QFormLayout(g);
    autoSaveCombo = new QComboBox;
    autoSaveCombo->setStyleSheet(comboSS(c));
    for (const AutoSaveChoice& a : kAutoSave)
        autoSaveCombo->addItem(QString::fromLatin1(a.text), a.seconds);
    // The interval the session saves at now, whichever key set it.
    const int row = autoSaveCombo->findData(SettingsKeys::autoSaveSeconds());
    if (row >= 0)
        autoSaveCombo->setCurrentIndex(row);
    connect(autoSaveCombo, &QComboBox::currentIndexChanged, this, [this] {
        {
            AppSettings s;
            s.setValue(SettingsKeys::AdvancedAutosave, autoSaveCombo->currentData().toInt());
        }
        emit settingsChanged();
    });
    form->addRow(QStringLiteral("Auto-save interval:"), autoSaveCombo);
    v->addWidget(g);
}

// The event log switch.
void SettingsDialog::buildEventLogSection(QVBoxLayout* v)
{
    QGroupBox* g = makeGroup(QStringLiteral("Debug"));
    auto* gl = new QVBoxLayout(g);
    showLogCheck = new QCheckBox(QStringLiteral("Show Event Log panel"));
    applyToggleStyle(showLogCheck);
    showLogCheck->setChecked(SettingsKeys::readBool(SettingsKeys::AdvancedShowLog, false));
    connect(showLogCheck, &QCheckBox::toggled, this, [this](bool on) {
        {
            AppSettings s;
            s.setValue(SettingsKeys::AdvancedShowLog, on);
        }
        emit settingsChanged();
    });
    gl->addWidget(showLogCheck);
    v->addWidget(g);
}

// The download folder.
void SettingsDialog::buildDownloadFolderSection(QVBoxLayout* v, const ThemeColors& c)
{
    const QString defaultFolder = QDir::toNativeSeparators(SettingsKeys::defaultDownloadFolder());
    QGroupBox* g = makeGroup(QStringLiteral("VX Library"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(8);
    gl->addWidget(mutedLabel(QStringLiteral("Location where VX Library audio files are downloaded.")));
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    auto* path = new QLabel(QDir::toNativeSeparators(SettingsKeys::downloadFolder()));
    path->setObjectName(QStringLiteral("mutedLabel"));
    path->setProperty("downloadPathLabel", true);
    path->setTextFormat(Qt::PlainText);
    path->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    path->setStyleSheet(QStringLiteral("background:%1; color:%2; border:1px solid %3; border-radius:4px; "
                                       "padding:4px 8px;")
                            .arg(c.surfaceAlt.name(), c.text.name(), c.border.name()));
    const QIcon folderIcon = VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kFolderSvg), 2.0), c.text, 13);
    auto* browse = pageButton(QStringLiteral("Browse…"), folderIcon);
    browse->setMinimumWidth(std::max(110, browse->sizeHint().width()));
    auto* reset = pageButton(QStringLiteral("Reset"));
    reset->setMinimumWidth(std::max(70, reset->sizeHint().width()));
    reset->setToolTip(QStringLiteral("Reset to default: ") + defaultFolder);
    row->addWidget(path, 1);
    row->addWidget(browse);
    row->addWidget(reset);
    gl->addLayout(row);
    auto* open = pageButton(QStringLiteral("Open VX Library Folder"), folderIcon);
    gl->addWidget(open);
    v->addWidget(g);

    // A folder that cannot be created keeps the stored one.
    auto store = [this, path](const QString& folder) {
        if (!makeFolder(this, folder))
            return;
        {
            AppSettings s;
            s.setValue(SettingsKeys::LibraryDownloadPath, folder);
        }
        path->setText(folder);
        emit settingsChanged();
    };
    connect(browse, &QPushButton::clicked, this, [this, store] {
        const QString start = QDir::toNativeSeparators(SettingsKeys::downloadFolder());
        const QString chosen =
            Modal::getExistingDirectory(this, QStringLiteral("Select VX Library Download Folder"), start);
        if (chosen.isEmpty())
            return;
        store(QDir::toNativeSeparators(chosen));
    });
    connect(reset, &QPushButton::clicked, this, [store, defaultFolder] { store(defaultFolder); });
    connect(open, &QPushButton::clicked, this, [this, path] {
        const QString folder = path->text();
        if (makeFolder(this, folder))
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
}

// The data folder's size and the audio cache.
void SettingsDialog::buildCacheSection(QVBoxLayout* v)
{
    // "&&" shows one ampersand in a group title.
    QGroupBox* g = makeGroup(QStringLiteral("Cache && Storage"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(8);
    QLabel* cache = mutedLabel(QString());
    cache->setTextFormat(Qt::PlainText);
    cache->setProperty("cacheLabel", true);
    gl->addWidget(cache);
    auto* clear = pageButton(QStringLiteral("Clear Audio Cache"),
                             VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kBinSvg), 2.0),
                                             QColor(QStringLiteral("#EF4444")), 13));
    clear->setObjectName(QStringLiteral("dangerBtn"));
    gl->addWidget(clear);
    v->addWidget(g);
    startSizeCount(cache);
    connect(clear, &QPushButton::clicked, this, [this, cache] {
        if (themedMessageBox(this, QMessageBox::Question, QStringLiteral("Clear Cache"),
                             QStringLiteral("This will remove all cached audio data.\nAudio files will be "
                                            "re-decoded on next use.\n\nContinue?"),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
            return;
        QStringList kept;
        for (const char* sub : {"/cache", "/pcm"}) {
            QDir dir(dataFolder() + QLatin1String(sub));
            if (dir.exists() && !dir.removeRecursively())
                kept << QDir::toNativeSeparators(dir.path());
        }
        WasapiEngine::instance()->clearCache();
        // Counted again off the GUI thread, like the first count.
        startSizeCount(cache);
        if (!kept.isEmpty())
            themedMessageBox(this, QMessageBox::Warning, QStringLiteral("Clear Cache"),
                             QStringLiteral("Some cached audio could not be removed:\n") + kept.join('\n'),
                             QMessageBox::Ok, QMessageBox::Ok);
        else
            themedMessageBox(this, QMessageBox::Information, QStringLiteral("Cache Cleared"),
                             QStringLiteral("Audio cache cleared successfully."), QMessageBox::Ok, QMessageBox::Ok);
    });
}

// Every button's volume back to 100 %.
void SettingsDialog::buildVolumeResetSection(QVBoxLayout* v, const ThemeColors& c)
{
    QGroupBox* g = makeGroup(QStringLiteral("Volume"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(8);
    gl->addWidget(mutedLabel(QStringLiteral("Reset every button's volume (all tabs) back to the default 100% shown "
                                            "on the Audio Trim slider.")));
    auto* reset = pageButton(QStringLiteral("Reset All Button Volumes to 100%"),
                             VXIcons::modern(VXIcons::strokeSvg(QString::fromLatin1(kRestartSvg), 2.0), c.text, 13));
    reset->setProperty("volumeReset", true);
    gl->addWidget(reset);
    v->addWidget(g);
    connect(reset, &QPushButton::clicked, this, [this] {
        if (themedMessageBox(this, QMessageBox::Question, QStringLiteral("Reset All Button Volumes"),
                             QStringLiteral("Reset the volume of every button, on every tab, to the default 100% "
                                            "(Audio Trim slider)?\n\nThis cannot be undone."),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
            return;
        int changed = 0;
        for (TabData& t : SessionManager::instance()->session().tabs) {
            for (ButtonData& b : t.buttons) {
                if (b.audioPath.isEmpty())
                    continue;
                const bool differs = !(b.volume == 1.0);   // a NaN differs too
                b.volume = 1.0;
                if (!differs)
                    continue;
                ++changed;
                // The engines' decoded copies carry the old gain: they go,
                // as for a replaced file.
                DirectSoundEngine::instance()->evict(b.id);
                WasapiEngine::instance()->evictButton(b.id);
                DrumEngine::instance()->evictButton(b.id);
                PcmPlayer::instance()->evictButton(b.id);
            }
        }
        SessionManager::instance()->markDirty();
        emit settingsChanged();
        themedMessageBox(this, QMessageBox::Information, QStringLiteral("Volumes Reset"),
                         QStringLiteral("%1 button volume(s) reset to 100%.\nSave your session to keep this "
                                        "change.")
                             .arg(changed),
                         QMessageBox::Ok, QMessageBox::Ok);
    });
}

// Every setting back to its default.
void SettingsDialog::buildSettingsResetSection(QVBoxLayout* v)
{
    QGroupBox* g = makeGroup(QStringLiteral("Reset"));
    auto* gl = new QVBoxLayout(g);
    gl->setSpacing(8);
    gl->addWidget(mutedLabel(QStringLiteral("Reset all settings to factory defaults.\nYour sessions and audio files "
                                            "are not deleted.")));
    auto* reset = pageButton(QStringLiteral("⚠️  Reset All Settings to Default"));
    reset->setObjectName(QStringLiteral("dangerBtn"));
    reset->setProperty("settingsReset", true);
    gl->addWidget(reset);
    v->addWidget(g);
    connect(reset, &QPushButton::clicked, this, [this] {
        if (themedMessageBox(this, QMessageBox::Question, QStringLiteral("Reset Settings"),
                             QStringLiteral("Reset ALL settings to factory defaults?\n\n• Theme → Dark\n• Audio → "
                                            "WASAPI Shared, default output, buffer 128, pre-load on\n• Button "
                                            "labels → automatic size\n• Auto-save → every 2 minutes\n• Event "
                                            "log → hidden\n\nButton shortcuts and volumes, your sessions and "
                                            "audio files will not be affected."),
                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            != QMessageBox::Yes)
            return;
        if (!resetAllSettings()) {
            themedMessageBox(this, QMessageBox::Warning, QStringLiteral("Settings Reset"),
                             QStringLiteral("Settings could not be reset: the settings file cannot be written."),
                             QMessageBox::Ok, QMessageBox::Ok);
            return;
        }
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        WasapiEngine::instance()->shutdown();
        emit settingsChanged();
        themedMessageBox(this, QMessageBox::Information, QStringLiteral("Settings Reset"),
                         QStringLiteral("All settings have been reset to defaults.\nPlease restart Tarvello Rododu "
                                        "for all changes to take effect."),
                         QMessageBox::Ok, QMessageBox::Ok);
        close();
    });
}

bool SettingsDialog::resetAllSettings()
{
    AppSettings s;
    if (!s.isWritable())
        return false;
    QList<QPair<QString, QVariant>> old;
    for (const QString& k : s.allKeys())
        old.append({k, s.value(k)});
    s.clear();
    s.sync();
    if (s.status() == QSettings::NoError)
        return true;
    // The file still holds the old values; the store in memory goes back to
    // them, so no later write of anyone's turns the failed reset into a half one.
    for (const auto& [k, value] : std::as_const(old))
        s.setValue(k, value);
    return false;
}
