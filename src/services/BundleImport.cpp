// Taking a bundle in: the worker's checks, extraction and project rewrite.
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QStorageInfo>

#include "BundleFormat.h"
#include "BundleImportRules.h"
#include "BundleManager.h"
#include "BundleWorker.h"
#include "FileCheck.h"
#include "SafeWrite.h"

namespace {

const QString kTruncated = QStringLiteral("Bundle is truncated or corrupt.");
// The manifest and the project are JSON held whole; a larger one is not ours.
constexpr qint64 kMaxJsonEntryBytes = 16 << 20;

// Whether the file at path holds exactly size bytes with this CRC, read a
// piece at a time.
bool sameContent(const QString& path, qint64 size, quint32 crc)
{
    if (QFileInfo(path).size() != size || !FileCheck::isRegularFile(path))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray buf(qMin<qint64>(qMax<qint64>(size, 1), BundleFormat::Reader::kChunkBytes), Qt::Uninitialized);
    quint32 c = 0;
    qint64 total = 0;
    for (qint64 n; (n = f.read(buf.data(), buf.size())) > 0;) {
        c = BundleFormat::crc32(buf.constData(), n, c);
        total += n;
    }
    return total == size && c == crc;
}

// Taken means anything there, a dangling symbolic link included: writing
// through a link could land outside the destination.
bool taken(const QString& path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// The file name an audio entry is written under: the last step of its name,
// cut to fit the file system, empty for a name that gives no file.
QString audioFileName(const QString& entryName)
{
    using namespace BundleImportRules;
    if (!entryName.startsWith(QLatin1String("Audio/")))
        return QString();
    const QString f = fileNamePart(entryName);
    if (f.isEmpty() || f == QLatin1String(".") || f == QLatin1String(".."))
        return QString();
    const QFileInfo fi(f);
    const QString ext = fi.suffix().isEmpty() ? QString() : QLatin1Char('.') + fi.suffix();
    return ext.isEmpty() ? BundleFormat::fitFileName(f, QString())
                         : BundleFormat::fitFileName(fi.completeBaseName(), ext);
}

// The index of the first "audioFiles" item describing an entry, -1 for none:
// an item naming this very entry wins over one matching by file name.
int describingItem(const QJsonArray& items, const QString& entryName, const QString& fileName)
{
    using namespace BundleImportRules;
    for (int i = 0; i < items.size(); ++i)
        if (items.at(i).toObject().value(QStringLiteral("bundlePath")).toString() == entryName)
            return i;
    for (int i = 0; i < items.size(); ++i) {
        const QJsonObject o = items.at(i).toObject();
        const QString originalName = o.value(QStringLiteral("originalName")).toString();
        QString part = fileNamePart(o.value(QStringLiteral("bundlePath")).toString());
        if (part.isEmpty())
            part = fileNamePart(originalName);
        if (part == fileName || fileNamePart(originalName) == fileName)
            return i;
    }
    return -1;
}

// The folder an audio entry goes to: the folder of the tab it was packed
// with, the folders being the ones the confirmation showed.
QString targetFolder(const QJsonArray& items, const QList<int>& itemTabs, const QString& entryName,
                     const QList<QString>& tabFolders, const QString& audioDir)
{
    const int item = describingItem(items, entryName, BundleImportRules::fileNamePart(entryName));
    if (item < 0)
        return audioDir;
    const int k = itemTabs.value(item, -1);
    if (k >= 0 && k < tabFolders.size())
        return audioDir + QLatin1Char('/') + tabFolders.at(k);
    const QString tabName = items.at(item).toObject().value(QStringLiteral("tabName")).toString();
    if (!tabName.isEmpty())
        return audioDir + QLatin1Char('/') + BundleImportRules::tabFolderComponent(tabName, 0);
    return audioDir;
}

// The folder that would hold path, or its nearest existing parent: where
// the free space is measured.
QString existingParent(QString path)
{
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const QString up = QFileInfo(path).path();
        if (up == path)
            break;
        path = up;
    }
    return path;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1);
}

// The file extracted for one "audioFiles" item. Two entries of one name are
// both extracted, in entry order; the items naming that entry are paired
// with them in the same order (a later item beyond them takes the last file).
QString extractedFileFor(const QStringList& files, int occurrence)
{
    return files.value(occurrence, files.constLast());
}

// Which sounds listed by the manifest the bundle did not hold: the buttons
// that keep a path of the machine that made it.
struct MissingSounds
{
    QSet<QString> paths;
    QStringList buttons;

    void note(const QJsonObject& tab, int t, const QJsonObject& button, int b, const QString& path)
    {
        paths.insert(path);
        QString tabName = tab.value(QStringLiteral("name")).toString();
        if (tabName.isEmpty())
            tabName = QStringLiteral("Tab %1").arg(t + 1);
        QString label = button.value(QStringLiteral("name")).toString();
        if (label.isEmpty())
            label = QStringLiteral("button %1").arg(b + 1);
        buttons << QStringLiteral("%1 / %2: %3").arg(tabName, label, path);
    }
};

// The project with every button's audio path pointing at the extracted
// file, serialised; its "filePath" is dropped. Buttons whose sound the
// manifest lists but the bundle lacks keep their path and are noted in
// missing (a one-tab bundle leaves the other tabs' sounds out on purpose).
QByteArray patchedProject(QJsonObject project, const QJsonArray& items, const QHash<QString, QStringList>& extracted,
                          MissingSounds* missing)
{
    using namespace BundleImportRules;
    QHash<QString, QString> pathMap, nameMap;
    QSet<QString> lackedPaths, lackedNames;   // listed by the manifest, not held by the bundle
    QHash<QString, int> occurrences;          // items seen so far per entry name
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        const QString originalPath = o.value(QStringLiteral("originalPath")).toString();
        const QString originalName = o.value(QStringLiteral("originalName")).toString();
        const QString inBundle = o.value(QStringLiteral("bundlePath")).toString();
        QString p;
        bool exact = false;
        if (extracted.contains(inBundle)) {
            p = extractedFileFor(extracted.value(inBundle), occurrences[inBundle]++);
            exact = true;
        } else if (extracted.contains(fileNamePart(inBundle))) {
            p = extracted.value(fileNamePart(inBundle)).constLast();
        } else {
            if (!originalPath.isEmpty())
                lackedPaths.insert(originalPath);
            if (!originalName.isEmpty())
                lackedNames.insert(originalName);
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
            else if (lackedPaths.contains(path) || lackedNames.contains(fileNamePart(path)))
                missing->note(tab, t, button, b, path);
            buttons[b] = button;
        }
        tab[QStringLiteral("buttons")] = buttons;
        tabs[t] = tab;
    }
    if (project.contains(QStringLiteral("tabs")))
        project[QStringLiteral("tabs")] = tabs;
    project.remove(QStringLiteral("filePath"));
    return QJsonDocument(project).toJson(QJsonDocument::Indented);
}

} // namespace

// What the checking pass keeps of a bundle: the entries' names and checks,
// the manifest and the project (small JSON), and what extraction will write.
struct BundleWorker::ImportScan
{
    struct Entry
    {
        QString name;
        qint64 contentSize = 0;
        quint32 crc = 0;
    };
    QList<Entry> entries;
    QByteArray manifest;
    QByteArray project;
    bool hasManifest = false;
    bool hasProject = false;
    qint64 bytesToWrite = 0;
};

namespace {

QString checkFailure(BundleFormat::Reader::Check c, const QString& name)
{
    using Check = BundleFormat::Reader::Check;
    switch (c) {
    case Check::Ok:
    case Check::SinkFailed:
        break;
    case Check::Truncated:
        return kTruncated;
    case Check::SizeMismatch:
        return QStringLiteral("Bundle is truncated or corrupt (size mismatch).");
    case Check::InflateFailed:
        return QStringLiteral("Decompression failed for '%1'.").arg(name);
    case Check::CrcMismatch:
        return QStringLiteral("CRC mismatch for '%1'. Bundle may be corrupt.").arg(name);
    case Check::Cancelled:
        return QStringLiteral("Cancelled");
    }
    return QString();
}

// The manifest and the project of a checked bundle; the failure's message,
// empty when both are usable.
QString readJsonEntries(const BundleWorker::ImportScan& scan, QJsonObject* manifest, QJsonObject* project)
{
    if (scan.hasManifest) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(scan.manifest, &err);
        if (err.error != QJsonParseError::NoError)
            qWarning() << "BundleManager: manifest JSON parse error:" << err.errorString() << "at offset" << err.offset;
        *manifest = doc.object();
    }
    if (manifest->isEmpty())
        return QStringLiteral("Bundle manifest missing or corrupt.");
    if (!scan.hasProject)
        return QStringLiteral("Project file not found inside bundle.");
    QJsonParseError projectErr;
    const QJsonDocument projectDoc = QJsonDocument::fromJson(scan.project, &projectErr);
    if (projectDoc.isNull() || !projectDoc.isObject()) {
        qWarning() << "BundleManager: project.vx JSON parse error:" << projectErr.errorString() << "at offset"
                   << projectErr.offset;
        return QStringLiteral("Project file inside bundle is corrupt.");
    }
    *project = projectDoc.object();
    return QString();
}

// The result of an import that wrote its project. Sounds the project names
// but the bundle lacks turn it into a warning: their buttons play nothing.
QString importedText(const QString& path, int audioFiles, int missingSounds)
{
    if (missingSounds == 0)
        return QStringLiteral("Bundle imported successfully!\n\nProject: %1\nAudio files: %2").arg(path).arg(audioFiles);
    return QStringLiteral("Bundle imported, but %3 sound(s) were not in the bundle: their buttons keep paths of the "
                          "machine that made it (listed in the event log).\n\nProject: %1\nAudio files: %2\n"
                          "Sounds not in the bundle: %3")
        .arg(path)
        .arg(audioFiles)
        .arg(missingSounds);
}

} // namespace

bool BundleWorker::openBundle(QFile* file, BundleFormat::Reader* reader, BundleFormat::Header* header)
{
    if (!FileCheck::isRegularFile(bundlePath) || !file->open(QIODevice::ReadOnly))
        return fail(QStringLiteral("Cannot open bundle:\n") + bundlePath);
    const auto headerStatus = reader->readHeader(header);
    if (!header->magicOk())
        return fail(QStringLiteral("Not a valid .vxbundle file."));
    if (headerStatus != BundleFormat::Reader::Status::Ok)
        return fail(kTruncated);
    if (header->version > quint32(BundleFormat::kVersion))
        return fail(QStringLiteral("Bundle version %1 is newer than supported (%2).")
                        .arg(header->version)
                        .arg(BundleFormat::kVersion));
    return true;
}

bool BundleWorker::measureEntries(BundleFormat::Reader* reader, const BundleFormat::Header& header)
{
    // What the entries claim is known from their heads alone: a bundle that
    // cannot fit fails before anything is inflated or written.
    qint64 claimed = 0;
    for (quint32 i = 0; i < header.count; ++i) {
        if (cancelled.load())
            return fail(QStringLiteral("Cancelled"));
        BundleFormat::EntryInfo info;
        if (reader->readEntryInfo(header, &info) != BundleFormat::Reader::Status::Ok
            || reader->skipPayload(info) != BundleFormat::Reader::Status::Ok)
            return fail(kTruncated);
        if (!BundleFormat::plausibleSize(info))
            return fail(QStringLiteral("Bundle is truncated or corrupt (size mismatch)."));
        if (!audioFileName(info.name).isEmpty())
            claimed += info.contentSize;   // each at most the file's size or 4 GiB
    }
    return checkFreeSpace(claimed);
}

bool BundleWorker::scanEntries(BundleFormat::Reader* reader, const BundleFormat::Header& header, ImportScan* scan)
{
    // Every entry is read and checked before anything is written, one piece
    // at a time: only the manifest and the project are kept.
    for (quint32 i = 0; i < header.count; ++i) {
        if (cancelled.load())
            return fail(QStringLiteral("Cancelled"));
        BundleFormat::EntryInfo info;
        if (reader->readEntryInfo(header, &info) != BundleFormat::Reader::Status::Ok)
            return fail(kTruncated);
        QByteArray* keep = nullptr;
        if (!scan->hasManifest && info.name == BundleFormat::kManifest())
            keep = &scan->manifest;
        else if (!scan->hasProject && info.name == BundleFormat::kProjectEntry())
            keep = &scan->project;
        if (keep && info.contentSize > kMaxJsonEntryBytes)
            return fail(info.name == BundleFormat::kManifest()
                            ? QStringLiteral("Bundle manifest missing or corrupt.")
                            : QStringLiteral("Project file inside bundle is corrupt."));
        BundleFormat::Reader::Sink sink;
        if (keep)
            sink = [keep](const char* data, qint64 len) {
                keep->append(data, len);
                return true;
            };
        const auto check = reader->streamContent(info, sink, &cancelled);
        if (check != BundleFormat::Reader::Check::Ok)
            return fail(checkFailure(check, info.name));
        if (keep == &scan->manifest)
            scan->hasManifest = true;
        else if (keep == &scan->project)
            scan->hasProject = true;
        if (!audioFileName(info.name).isEmpty())
            scan->bytesToWrite += info.contentSize;
        scan->entries.append({info.name, info.contentSize, info.crc});
        emit progress(int(qMin<quint32>(i + 1, INT_MAX)), int(qMin<quint32>(header.count, INT_MAX)),
                      QStringLiteral("Reading: ") + info.name);
    }
    return true;
}

bool BundleWorker::checkFreeSpace(qint64 bytes)
{
    const QStorageInfo disk(existingParent(destDir));
    const qint64 free = disk.isValid() ? disk.bytesAvailable() : -1;
    if (free < 0 || bytes <= free)
        return true;
    return fail(QStringLiteral("Not enough free disk space to import this bundle: its files need %1 MB, "
                               "the destination has %2 MB free.")
                    .arg(megabytes(bytes), megabytes(free)));
}

bool BundleWorker::extractAudio(const ImportScan& scan, const QJsonArray& items, const QJsonArray& tabSettings,
                               QHash<QString, QStringList>* extracted)
{
    using namespace BundleImportRules;
    QFile file(bundlePath);
    BundleFormat::Reader reader(&file);
    BundleFormat::Header header;
    if (!openBundle(&file, &reader, &header))
        return false;
    const QString audioDir = destDir + QStringLiteral("/Audio");
    const QList<QString> folders = tabFolders(tabNames);
    const QList<int> itemTabs = itemTabPositions(items, tabNames, tabSettings);
    const int total = int(scan.entries.size());
    int handled = 0;
    for (const ImportScan::Entry& e : scan.entries) {
        if (cancelled.load())
            return fail(QStringLiteral("Cancelled"));
        BundleFormat::EntryInfo info;
        if (reader.readEntryInfo(header, &info) != BundleFormat::Reader::Status::Ok || info.name != e.name
            || info.crc != e.crc || info.contentSize != e.contentSize)
            return fail(kTruncated);
        const QString f = audioFileName(e.name);
        if (f.isEmpty()) {
            if (reader.skipPayload(info) != BundleFormat::Reader::Status::Ok)
                return fail(kTruncated);
            continue;
        }
        // A folder is made only for a file that goes into it.
        const QString folder = targetFolder(items, itemTabs, e.name, folders, audioDir);
        QDir().mkpath(folder);
        QString target = folder + QLatin1Char('/') + f;
        if (taken(target)) {
            if (sameContent(target, e.contentSize, e.crc)) {
                if (reader.skipPayload(info) != BundleFormat::Reader::Status::Ok)
                    return fail(kTruncated);
                (*extracted)[e.name].append(target);
                emit progress(++handled, total, QStringLiteral("Reusing: ") + f);
                continue;
            }
            const QFileInfo fi(f);
            const QString ext = QLatin1Char('.') + fi.suffix();
            target = uniqueName(folder, fi.completeBaseName(), ext);
            if (target.isEmpty())
                return fail(QStringLiteral("Failed to write: ") + folder + QLatin1Char('/') + f);
        }
        if (!writeEntry(&reader, info, target))
            return false;
        (*extracted)[e.name].append(target);
        emit progress(++handled, total, QStringLiteral("Extracting: ") + f);
    }
    return true;
}

bool BundleWorker::writeEntry(BundleFormat::Reader* reader, const BundleFormat::EntryInfo& info, const QString& target)
{
    SafeFileWriter out(target);
    if (!out.open())
        return fail(QStringLiteral("Failed to write: ") + target);
    const auto check = reader->streamContent(
        info, [&out](const char* data, qint64 len) { return out.write(data, len); }, &cancelled);
    if (check == BundleFormat::Reader::Check::Ok && out.commit())
        return true;
    out.cancel();
    if (check == BundleFormat::Reader::Check::Ok || check == BundleFormat::Reader::Check::SinkFailed)
        return fail(QStringLiteral("Failed to write: ") + target);
    return fail(checkFailure(check, info.name));
}

bool BundleWorker::runImport()
{
    using namespace BundleImportRules;

    // 1. Header, then every entry checked.
    ImportScan scan;
    {
        QFile file(bundlePath);
        BundleFormat::Reader reader(&file);
        BundleFormat::Header header;
        if (!openBundle(&file, &reader, &header) || !measureEntries(&reader, header) || !file.seek(0)
            || reader.readHeader(&header) != BundleFormat::Reader::Status::Ok || !scanEntries(&reader, header, &scan))
            return false;
    }
    const int total = int(scan.entries.size());

    // 2. The manifest, then the project, before any folder is made.
    QJsonObject manifest;
    QJsonObject project;
    if (const QString error = readJsonEntries(scan, &manifest, &project); !error.isEmpty())
        return fail(error);
    const qint64 projectBytes = merge ? 0 : scan.project.size();
    scan.manifest = QByteArray();
    scan.project = QByteArray();

    // 3. Room for what will be written, then the audio files.
    if (!checkFreeSpace(scan.bytesToWrite + projectBytes))
        return false;
    const QJsonArray items = manifest.value(QStringLiteral("audioFiles")).toArray();
    QHash<QString, QStringList> extracted;
    if (!extractAudio(scan, items, manifest.value(QStringLiteral("tabSettings")).toArray(), &extracted))
        return false;
    // Files on disk: an entry reused for another of its name counts once.
    QSet<QString> written;
    for (const QStringList& files : std::as_const(extracted))
        for (const QString& f : files)
            written.insert(f);
    const int audioFiles = int(written.size());

    // 4. The project's audio paths point at the extracted files.
    MissingSounds missing;
    const QByteArray json = patchedProject(project, items, extracted, &missing);
    if (!missing.paths.isEmpty())
        emit soundsMissing(int(missing.paths.size()), missing.buttons);

    // 5. A merge hands the project over and leaves the user's MIDI mappings
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
    QDir().mkpath(destDir);
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
    emit finished(true, importedText(path, audioFiles, int(missing.paths.size())));
    QMetaObject::invokeMethod(BundleManager::instance(), "notifyImportDone", Qt::QueuedConnection,
                              Q_ARG(QString, path), Q_ARG(QByteArray, midiJson));
    return true;
}
