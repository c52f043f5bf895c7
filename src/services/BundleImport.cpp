// Taking a bundle in: the worker's checks, extraction and project rewrite.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include "BundleFormat.h"
#include "BundleImportRules.h"
#include "BundleManager.h"
#include "BundleWorker.h"
#include "FileCheck.h"
#include "SafeWrite.h"

namespace {

struct Entry
{
    QString name;
    QByteArray data;
    quint32 crc = 0;
};

const QString kTruncated = QStringLiteral("Bundle is truncated or corrupt.");

// Whether the file at path holds exactly these bytes (size first, then CRC).
bool sameContent(const QString& path, const Entry& e)
{
    QByteArray bytes;
    if (QFileInfo(path).size() != e.data.size() || !FileCheck::readRegularFile(path, &bytes))
        return false;
    return bytes.size() == e.data.size() && BundleFormat::crc32(bytes) == e.crc;
}

// Taken means anything there, a dangling symbolic link included: writing
// through a link could land outside the destination.
bool taken(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// The folder of an audio entry, from the first manifest item describing it.
QString targetFolder(const QJsonArray& items, const QString& entryName, const QString& fileName,
                     const QList<QString>& tabNames, const QList<QString>& tabFolders, const QString& audioDir)
{
    using namespace BundleImportRules;
    QJsonObject item;
    bool found = false;
    // An item naming this very entry wins over one matching by file name.
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        if (o.value(QStringLiteral("bundlePath")).toString() == entryName) {
            item = o;
            found = true;
            break;
        }
    }
    for (int i = 0; !found && i < items.size(); ++i) {
        const QJsonObject o = items.at(i).toObject();
        const QString originalName = o.value(QStringLiteral("originalName")).toString();
        QString part = fileNamePart(o.value(QStringLiteral("bundlePath")).toString());
        if (part.isEmpty())
            part = fileNamePart(originalName);
        if (part == fileName || fileNamePart(originalName) == fileName) {
            item = o;
            found = true;
        }
    }
    if (!found)
        return audioDir;

    const int index = item.value(QStringLiteral("tabIndex")).toInt(-1);
    const QString tabName = item.value(QStringLiteral("tabName")).toString();
    const bool indexOk = index >= 0 && index < tabFolders.size();
    auto namesTab = [&](int i) {
        const QString n = tabNames.at(i);
        return n == tabName || (n.isEmpty() && tabName == QStringLiteral("Tab %1").arg(i + 1));
    };
    if (indexOk && (tabName.isEmpty() || namesTab(index)))
        return audioDir + QLatin1Char('/') + tabFolders.at(index);
    if (!tabName.isEmpty()) {
        // The index and the name disagree (or the index is out of range): the name decides.
        for (int i = 0; i < tabNames.size(); ++i)
            if (namesTab(i))
                return audioDir + QLatin1Char('/') + tabFolders.at(i);
        return audioDir + QLatin1Char('/') + tabFolderComponent(tabName, 0);
    }
    return indexOk ? audioDir + QLatin1Char('/') + tabFolders.at(index) : audioDir;
}

} // namespace

bool BundleWorker::runImport()
{
    using namespace BundleImportRules;
    QFile file(bundlePath);
    if (!FileCheck::isRegularFile(bundlePath) || !file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot open bundle:\n") + bundlePath);

    // 1. Header.
    BundleFormat::Reader reader(&file);
    BundleFormat::Header header;
    const auto headerStatus = reader.readHeader(&header);
    if (!header.magicOk())
        return fail(QStringLiteral("Not a valid .vxbundle file."));
    if (headerStatus != BundleFormat::Reader::Status::Ok)
        return fail(kTruncated);
    if (header.version > quint32(BundleFormat::kVersion))
        return fail(QStringLiteral("Bundle version %1 is newer than supported (%2).")
                        .arg(header.version)
                        .arg(BundleFormat::kVersion));

    // 2. Every entry read and checked before anything is written.
    QList<Entry> entries;
    for (quint32 i = 0; i < header.count; ++i) {
        if (cancelled.load())
            return fail(QStringLiteral("Cancelled"));
        BundleFormat::EntryInfo info;
        if (reader.readEntryInfo(header, &info) != BundleFormat::Reader::Status::Ok)
            return fail(kTruncated);
        QByteArray payload;
        if (reader.readPayload(info, &payload) != BundleFormat::Reader::Status::Ok)
            return fail(kTruncated);
        bool mismatch = false;
        Entry e{info.name, BundleFormat::contentOf(info, payload, &mismatch), info.crc};
        payload = QByteArray();
        if (mismatch)
            return fail(QStringLiteral("Bundle is truncated or corrupt (size mismatch)."));
        if (info.compressed && e.data.isEmpty())
            return fail(QStringLiteral("Decompression failed for '%1'.").arg(info.name));
        if (BundleFormat::crc32(e.data) != info.crc)
            return fail(QStringLiteral("CRC mismatch for '%1'. Bundle may be corrupt.").arg(info.name));
        entries.append(std::move(e));
        emit progress(int(qMin<quint32>(i + 1, INT_MAX)), int(qMin<quint32>(header.count, INT_MAX)),
                      QStringLiteral("Reading: ") + info.name);
    }
    const int total = int(entries.size());

    // 3. The manifest, then the project, before any folder is made.
    const Entry* manifestEntry = nullptr;
    const Entry* projectEntry = nullptr;
    for (const Entry& e : std::as_const(entries)) {
        if (!manifestEntry && e.name == BundleFormat::kManifest())
            manifestEntry = &e;
        if (!projectEntry && e.name == BundleFormat::kProjectEntry())
            projectEntry = &e;
    }
    QJsonObject manifest;
    if (manifestEntry) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(manifestEntry->data, &err);
        if (err.error != QJsonParseError::NoError)
            qWarning() << "BundleManager: manifest JSON parse error:" << err.errorString() << "at offset" << err.offset;
        manifest = doc.object();
    }
    if (manifest.isEmpty())
        return fail(QStringLiteral("Bundle manifest missing or corrupt."));
    if (!projectEntry)
        return fail(QStringLiteral("Project file not found inside bundle."));
    QJsonParseError projectErr;
    const QJsonDocument projectDoc = QJsonDocument::fromJson(projectEntry->data, &projectErr);
    if (projectDoc.isNull() || !projectDoc.isObject()) {
        qWarning() << "BundleManager: project.vx JSON parse error:" << projectErr.errorString() << "at offset"
                   << projectErr.offset;
        return fail(QStringLiteral("Project file inside bundle is corrupt."));
    }
    QJsonObject project = projectDoc.object();

    // 4. Folders: one per tab of the manifest, made unique.
    QDir().mkpath(destDir);
    const QString audioDir = destDir + QStringLiteral("/Audio");
    QDir().mkpath(audioDir);
    QList<QString> tabFolders;
    for (int i = 0; i < tabNames.size(); ++i) {
        const QString base = tabFolderComponent(tabNames.at(i), i + 1);
        QString candidate = base;
        for (int n = 1; tabFolders.contains(candidate); ++n)
            candidate = QStringLiteral("%1 (%2)").arg(base).arg(n);
        tabFolders << candidate;
        QDir().mkpath(audioDir + QLatin1Char('/') + candidate);
    }

    // 5. Extraction: every audio entry, below the audio folder only.
    const QJsonArray items = manifest.value(QStringLiteral("audioFiles")).toArray();
    QHash<QString, QString> extracted;
    int handled = 0;
    for (const Entry& e : std::as_const(entries)) {
        if (cancelled.load())
            return fail(QStringLiteral("Cancelled"));
        if (!e.name.startsWith(QLatin1String("Audio/")))
            continue;
        const QString f = fileNamePart(e.name);
        if (f.isEmpty() || f == QLatin1String(".") || f == QLatin1String(".."))
            continue;
        const QFileInfo fi(f);
        const QString base = fi.completeBaseName();
        const QString ext = QLatin1Char('.') + fi.suffix();
        const QString folder = targetFolder(items, e.name, f, tabNames, tabFolders, audioDir);
        QDir().mkpath(folder);
        QString target = folder + QLatin1Char('/') + f;
        if (taken(target)) {
            if (sameContent(target, e)) {
                extracted[e.name] = target;
                ++handled;
                emit progress(handled, total, QStringLiteral("Reusing: ") + f);
                continue;
            }
            target = uniqueName(folder, base, ext);
            if (target.isEmpty())
                return fail(QStringLiteral("Failed to write: ") + folder + QLatin1Char('/') + f);
        }
        if (!safeWriteFile(target, e.data))
            return fail(QStringLiteral("Failed to write: ") + target);
        extracted[e.name] = target;
        ++handled;
        emit progress(handled, total, QStringLiteral("Extracting: ") + f);
    }

    // 7. The project's audio paths point at the extracted files.
    QHash<QString, QString> pathMap, nameMap;
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        const QString originalPath = o.value(QStringLiteral("originalPath")).toString();
        const QString originalName = o.value(QStringLiteral("originalName")).toString();
        const QString inBundle = o.value(QStringLiteral("bundlePath")).toString();
        QString p;
        bool exact = false;
        if (extracted.contains(inBundle)) {
            p = extracted.value(inBundle);
            exact = true;
        } else if (extracted.contains(fileNamePart(inBundle))) {
            p = extracted.value(fileNamePart(inBundle));
        } else {
            continue;
        }
        if (!originalPath.isEmpty() && (exact || !pathMap.contains(originalPath)))
            pathMap.insert(originalPath, p);
        if (!originalName.isEmpty() && !nameMap.contains(originalName))
            nameMap.insert(originalName, p);
    }
    QJsonArray tabs = project.value(QStringLiteral("tabs")).toArray();
    for (int t = 0; t < tabs.size(); ++t) {
        QJsonObject tab = tabs.at(t).toObject();
        QJsonArray buttons = tab.value(QStringLiteral("buttons")).toArray();
        for (int b = 0; b < buttons.size(); ++b) {
            QJsonObject button = buttons.at(b).toObject();
            const QString path = button.value(QStringLiteral("audioPath")).toString();
            if (path.isEmpty())
                continue;
            if (pathMap.contains(path))
                button[QStringLiteral("audioPath")] = pathMap.value(path);
            else if (nameMap.contains(fileNamePart(path)))
                button[QStringLiteral("audioPath")] = nameMap.value(fileNamePart(path));
            buttons[b] = button;
        }
        tab[QStringLiteral("buttons")] = buttons;
        tabs[t] = tab;
    }
    if (project.contains(QStringLiteral("tabs")))
        project[QStringLiteral("tabs")] = tabs;
    project.remove(QStringLiteral("filePath"));
    const QByteArray json = QJsonDocument(project).toJson(QJsonDocument::Indented);

    // 8. A merge hands the project over and leaves the user's MIDI mappings
    // alone: its buttons get new ids, so the bundle's would point at nothing.
    if (merge) {
        emit progress(total, total, QStringLiteral("Import complete."));
        emit appendReady(json);
        return true;
    }

    QString name = projectName;
    if (name.isEmpty())
        name = QFileInfo(fileNamePart(manifest.value(QStringLiteral("projectFile")).toString())).completeBaseName();
    name = cleanProjectName(name);
    const QString path = uniqueName(destDir, name, QStringLiteral(".vx"));
    if (path.isEmpty() || !safeWriteFile(path, json))
        return fail(QStringLiteral("Failed to write project file."));

    // The bundle's MIDI table travels with the project: the window takes it
    // in together with the project, only when the user goes on to open it.
    const QJsonValue midi = manifest.value(QStringLiteral("midi"));
    QByteArray midiJson;
    if (midi.isObject()) {
        midiJson = QJsonDocument(midi.toObject()).toJson(QJsonDocument::Compact);
        emit progress(0, 0, QStringLiteral("MIDI mappings restored…"));
    }
    emit progress(total, total, QStringLiteral("Import complete."));
    emit finished(true, QStringLiteral("Bundle imported successfully!\n\nProject: %1\nAudio files: %2")
                            .arg(path)
                            .arg(extracted.size()));
    QMetaObject::invokeMethod(BundleManager::instance(), "notifyImportDone", Qt::QueuedConnection,
                              Q_ARG(QString, path), Q_ARG(QByteArray, midiJson));
    return true;
}
