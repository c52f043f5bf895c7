// Packing the current session into a bundle: the choices on the GUI thread,
// then the worker's walk over the entries.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "AppSettings.h"
#include "BundleFormat.h"
#include "BundleManager.h"
#include "BundleWorker.h"
#include "FileCheck.h"
#include "HeldIndices.h"
#include "Modal.h"
#include "SafeWrite.h"
#include "ScreenFit.h"

#include <QScrollArea>
#include "SessionManager.h"

namespace {

const QString kTitle = QStringLiteral("Export Bundle");

// The scope dialog's answer: empty when the user backed out.
struct Scope
{
    bool accepted = false;
    bool perTab = false;
    QList<TabData> tabs;
};

// Height of the scope dialog's parts other than its list of tabs.
constexpr int kRoomAroundTabList = 260;

Scope askScope(QWidget* parent, const Session& session)
{
    QDialog dlg(parent);
    dlg.setWindowTitle(QStringLiteral("Export Bundle — Choose Scope"));
    dlg.setMinimumWidth(360);
    auto* lay = new QVBoxLayout(&dlg);
    lay->setSpacing(8);
    lay->setContentsMargins(16, 16, 16, 16);
    lay->addWidget(new QLabel(QStringLiteral("<b>What do you want to export?</b>"), &dlg));

    auto* bulk = new QRadioButton(QStringLiteral("Bulk — export the entire session (all tabs)"), &dlg);
    auto* perTab = new QRadioButton(QStringLiteral("Per-Tab — export selected tab(s) only"), &dlg);
    bulk->setObjectName(QStringLiteral("bulk"));
    perTab->setObjectName(QStringLiteral("perTab"));
    bulk->setChecked(true);
    lay->addWidget(bulk);
    lay->addWidget(perTab);

    auto* group = new QGroupBox(QStringLiteral("Select tabs to export:"), &dlg);
    auto* groupLay = new QVBoxLayout(group);
    auto* tabList = new QWidget;
    auto* tabLay = new QVBoxLayout(tabList);
    tabLay->setContentsMargins(0, 0, 0, 0);
    QList<QCheckBox*> boxes;
    for (int i = 0; i < session.tabs.size(); ++i) {
        auto* cb = new QCheckBox(BundleManager::scopeTabLabel(session.tabs.at(i), i + 1), tabList);
        cb->setChecked(true);
        tabLay->addWidget(cb);
        boxes << cb;
    }
    // Many tabs scroll inside the group: Next and Cancel stay on the screen.
    groupLay->addWidget(ScreenFit::scrolling(tabList, ScreenFit::availableHeight(parent) - kRoomAroundTabList, group));
    ScreenFit::capHeight(&dlg);
    group->hide();
    lay->addWidget(group);
    QObject::connect(perTab, &QRadioButton::toggled, &dlg, [group, &dlg](bool on) {
        group->setVisible(on);
        dlg.adjustSize();
    });

    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dlg);
    auto* next = new QPushButton(QStringLiteral("Next…"), &dlg);
    next->setDefault(true);
    QObject::connect(cancel, &QPushButton::clicked, &dlg, &QDialog::reject);
    QObject::connect(next, &QPushButton::clicked, &dlg, &QDialog::accept);
    row->addWidget(cancel);
    row->addWidget(next);
    lay->addLayout(row);

    Scope out;
    if (Modal::exec(&dlg) != QDialog::Accepted)
        return out;
    out.accepted = true;
    out.perTab = perTab->isChecked();
    for (int i = 0; i < boxes.size(); ++i)
        if (!out.perTab || boxes.at(i)->isChecked())
            out.tabs << session.tabs.at(i);
    return out;
}

} // namespace

void BundleManager::exportBundle(QWidget* parent)
{
    SessionManager* sm = SessionManager::instance();
    const bool saved = sm->saveSession(QString());
    if (sm->session().filePath.isEmpty()) {
        Modal::warning(parent, kTitle, QStringLiteral("Please save your project (.vx) before exporting a bundle."));
        return;
    }
    // Packing the file on disk after a failed save would carry stale work
    // and report success.
    if (!saved) {
        Modal::warning(parent, kTitle, QStringLiteral("Could not save the session; bundle not exported."));
        return;
    }
    if (sm->session().tabs.isEmpty()) {
        Modal::warning(parent, kTitle, QStringLiteral("No tabs to export."));
        return;
    }

    const Scope scope = askScope(parent, sm->session());
    if (!scope.accepted)
        return;
    if (scope.tabs.isEmpty()) {
        Modal::warning(parent, kTitle, QStringLiteral("No tabs selected. Please select at least one tab."));
        return;
    }
    Session copy = sm->session();
    copy.tabs = scope.tabs;

    const QString projectPath = sm->session().filePath;
    QString target = Modal::getSaveFileName(parent, kTitle, suggestedBundlePath(projectPath, scope.perTab, scope.tabs),
                                            QStringLiteral("Tarvello Bundle (*.vxbundle)"));
    if (target.isEmpty())
        return;
    if (!target.endsWith(QLatin1String(".vxbundle")))
        target += QLatin1String(".vxbundle");

    auto* worker = new BundleWorker;
    worker->setupExport(projectPath, target, copy);
    runWorker(worker, parent, QStringLiteral("Exporting Bundle…"));
}

namespace {

struct PackItem
{
    QString name;
    QString source;     // empty for the manifest
};

// The audio entries of the exported tabs: each existing file once, named by
// the first tab and button that use it.
struct AudioPlan
{
    QList<PackItem> audio;
    QList<int> tabsWithAudio;   // indices among the exported tabs
    // Buttons whose file is missing, left out: "Tab / Button: path" each.
    QStringList leftOut;
};

// A button as the export's report names it.
QString buttonLine(const TabData& tab, int t, const ButtonData& b, int k)
{
    const QString tabName = tab.name.isEmpty() ? QStringLiteral("Tab %1").arg(t + 1) : tab.name;
    const QString label = b.name.isEmpty() ? QStringLiteral("button %1").arg(k + 1) : b.name;
    return QStringLiteral("%1 / %2: %3").arg(tabName, label, b.audioPath);
}

AudioPlan planAudio(const QList<TabData>& tabs)
{
    QHash<QString, bool> usable;
    auto exists = [&usable](const QString& path) {
        auto it = usable.constFind(path);
        if (it == usable.constEnd())
            it = usable.insert(path, FileCheck::isRegularFile(path));
        return *it;
    };

    AudioPlan plan;
    BundleFormat::EntryNamer namer;
    QSet<QString> packed;
    for (int t = 0; t < tabs.size(); ++t) {
        const TabData& tab = tabs.at(t);
        for (int k = 0; k < tab.buttons.size(); ++k) {
            const ButtonData& b = tab.buttons.at(k);
            if (!b.audioPath.isEmpty() && !exists(b.audioPath))
                plan.leftOut << buttonLine(tab, t, b, k);
        }
        const bool hasAudio = std::any_of(tab.buttons.begin(), tab.buttons.end(), [&](const ButtonData& b) {
            return !b.audioPath.isEmpty() && exists(b.audioPath);
        });
        if (!hasAudio)
            continue;
        plan.tabsWithAudio << t;
        const QString folder = BundleFormat::tabFolderName(tab.name, t + 1);
        for (const ButtonData& b : tab.buttons) {
            if (b.audioPath.isEmpty() || packed.contains(b.audioPath) || !exists(b.audioPath))
                continue;
            packed.insert(b.audioPath);
            plan.audio << PackItem{namer.nameFor(folder, QFileInfo(b.audioPath).fileName()), b.audioPath};
        }
    }
    return plan;
}

// The group "midi" as the manifest carries it. Only the entries the group
// really holds below "count" are read, so a damaged count costs nothing.
QJsonObject midiForManifest()
{
    AppSettings s;
    s.beginGroup(QStringLiteral("midi"));
    QJsonObject midi;
    midi[QStringLiteral("device")] = s.value(QStringLiteral("device")).toString();
    const int count = settingInt(s, QStringLiteral("count"), 0);
    static const QRegularExpression entryKey(QStringLiteral("^(\\d+)_"));
    QJsonArray mappings;
    for (int i : heldIndices(s.childKeys(), entryKey, count)) {
        const QString p = QString::number(i);
        QJsonObject m;
        m[QStringLiteral("btn")] = s.value(p + QLatin1String("_btn")).toString();
        m[QStringLiteral("ctrl")] = s.value(p + QLatin1String("_ctrl")).toString();
        m[QStringLiteral("ch")] = settingInt(s, p + QLatin1String("_ch"), -1);
        m[QStringLiteral("note")] = settingInt(s, p + QLatin1String("_note"), -1);
        m[QStringLiteral("cc")] = settingBool(s, p + QLatin1String("_cc"), false);
        mappings.append(m);
    }
    s.endGroup();
    midi[QStringLiteral("mappings")] = mappings;
    return midi;
}

QJsonObject pbState(bool autoStop, bool crossTabStop)
{
    QJsonObject o;
    o[QStringLiteral("autoStop")] = autoStop;
    o[QStringLiteral("crossTabStop")] = crossTabStop;
    return o;
}

QByteArray buildManifest(const Session& session, const QString& projectPath, const AudioPlan& plan)
{
    QJsonObject m;
    m[QStringLiteral("bundleVersion")] = BundleFormat::kVersion;
    m[QStringLiteral("projectName")] = QFileInfo(projectPath).fileName().section(QLatin1Char('.'), 0, 0);
    m[QStringLiteral("projectFile")] = BundleFormat::kProjectEntry();
    m[QStringLiteral("audioCount")] = int(plan.audio.size());
    m[QStringLiteral("createdAt")] = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
    m[QStringLiteral("createdBy")] = QStringLiteral("Tarvello Rododu");
    m[QStringLiteral("createdWith")] = QStringLiteral("Qt 6.11");
    m[QStringLiteral("compression")] = QStringLiteral("zlib-selective");
    m[QStringLiteral("globalVolume")] = session.globalVolume;
    m[QStringLiteral("pbState")] = pbState(session.autoStop, session.crossTabStop);

    QJsonArray tabSettings;
    for (int t : plan.tabsWithAudio) {
        const TabData& tab = session.tabs.at(t);
        QJsonObject o;
        o[QStringLiteral("name")] = tab.name;
        // The same count as the items' "tabIndex": it ties the items to this
        // list, which leaves out the tabs without audio.
        o[QStringLiteral("tabIndex")] = t;
        o[QStringLiteral("volume")] = tab.volume;
        o[QStringLiteral("stopShortcut")] = tab.stopKey;
        o[QStringLiteral("volUpShortcut")] = tab.volUpKey;
        o[QStringLiteral("volDownShortcut")] = tab.volDnKey;
        o[QStringLiteral("fadeMs")] = tab.fadeMs;
        o[QStringLiteral("pbState")] = pbState(tab.pb_as, tab.pb_cts);
        tabSettings.append(o);
    }
    m[QStringLiteral("tabSettings")] = tabSettings;
    m[QStringLiteral("midi")] = midiForManifest();

    QJsonArray audioFiles;
    for (const PackItem& item : plan.audio) {
        int tabIndex = -1;
        for (int t = 0; t < session.tabs.size() && tabIndex < 0; ++t)
            for (const ButtonData& b : session.tabs.at(t).buttons)
                if (b.audioPath == item.source) {
                    tabIndex = t;
                    break;
                }
        const QString tabName = tabIndex < 0 ? QString() : session.tabs.at(tabIndex).name;
        QJsonObject o;
        o[QStringLiteral("originalPath")] = item.source;
        o[QStringLiteral("originalName")] = QFileInfo(item.source).fileName();
        o[QStringLiteral("bundlePath")] = item.name;
        o[QStringLiteral("bundleName")] = item.name.section(QLatin1Char('/'), -1);
        o[QStringLiteral("size")] = double(QFileInfo(item.source).size());
        o[QStringLiteral("tabIndex")] = tabIndex;
        o[QStringLiteral("tabName")] = tabName.isEmpty() ? QStringLiteral("Tab %1").arg(tabIndex + 1) : tabName;
        audioFiles.append(o);
    }
    m[QStringLiteral("audioFiles")] = audioFiles;
    return QJsonDocument(m).toJson(QJsonDocument::Indented);
}

} // namespace

bool BundleWorker::runExport()
{
    QList<PackItem> items;
    items << PackItem{BundleFormat::kProjectEntry(), projectPath};
    const QString icon = QCoreApplication::applicationDirPath() + QStringLiteral("/vx_ruzoru_icon.ico");
    if (FileCheck::isRegularFile(icon))
        items << PackItem{BundleFormat::kIconEntry(), icon};
    const AudioPlan plan = planAudio(session.tabs);
    items << plan.audio;
    const QByteArray manifest = buildManifest(session, projectPath, plan);
    items << PackItem{BundleFormat::kManifest(), QString()};

    QList<QByteArray> names;
    for (const PackItem& item : std::as_const(items)) {
        names << item.name.toUtf8();
        if (names.last().size() > BundleFormat::kMaxNameBytes)
            return fail(QStringLiteral("Name too long for a bundle entry: ") + item.name);
    }

    const int count = int(items.size());
    SafeFileWriter out(bundlePath);
    if (!out.open())
        return fail(QStringLiteral("Cannot create bundle file:\n") + bundlePath);
    if (!out.write(BundleFormat::fileHeader(BundleFormat::kVersion, count))) {
        out.cancel();
        return fail(QStringLiteral("Failed to write bundle to disk."));
    }

    for (int i = 0; i < count; ++i) {
        const PackItem& item = items.at(i);
        if (cancelled.load()) {
            out.cancel();
            return fail(QStringLiteral("Cancelled"));
        }
        QByteArray content;
        if (item.source.isEmpty())
            content = manifest;
        else if (!FileCheck::readRegularFile(item.source, &content)) {
            out.cancel();
            return fail(QStringLiteral("Cannot read: ") + item.source);
        }
        bool compressed = false;
        const QByteArray payload = BundleFormat::payloadFor(item.name, content, &compressed);
        const QByteArray head = BundleFormat::entryHead(names.at(i), content.size(), BundleFormat::crc32(content),
                                                        compressed, payload.size());
        if (!out.write(head) || !out.write(payload)) {
            out.cancel();
            return fail(QStringLiteral("Failed to write bundle to disk."));
        }
        if (i + 1 < count)
            emit progress(i + 1, count, QStringLiteral("Packing: ") + QFileInfo(item.source).fileName());
        else
            emit progress(count, count, QStringLiteral("Writing manifest…"));
    }

    if (!out.commit())
        return fail(QStringLiteral("Failed to write bundle to disk."));
    emit progress(count, count, QStringLiteral("Export complete."));
    if (plan.leftOut.isEmpty()) {
        emit finished(true, QStringLiteral("Bundle exported successfully!\n\n%1\n\n%2 audio file(s) packed.")
                                .arg(bundlePath)
                                .arg(plan.audio.size()));
        return true;
    }
    // The receiver would find these pads dead: the sender learns it now.
    emit soundsMissing(int(plan.leftOut.size()), plan.leftOut);
    emit finished(true, QStringLiteral("Bundle exported, but %3 sound(s) were left out: their audio files are "
                                       "missing (listed in the event log).\n\n%1\n\n%2 audio file(s) packed.")
                            .arg(bundlePath)
                            .arg(plan.audio.size())
                            .arg(plan.leftOut.size()));
    return true;
}
