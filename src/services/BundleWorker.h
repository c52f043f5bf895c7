#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>

#include "BundleFormat.h"
#include "Types.h"

class QFile;
class QJsonArray;

// One bundle job, export or import, on a thread of its own. It is given all
// its inputs before the thread starts and reports only through its signals;
// the job polls the cancel flag between entries.
class BundleWorker : public QObject
{
    Q_OBJECT
public:
    BundleWorker() = default;
    ~BundleWorker() override = default;

    void setupExport(const QString& projectPath, const QString& bundlePath, const Session& session);
    void setupImport(const QString& bundlePath, const QString& destDir, const QList<QString>& tabNames,
                     bool merge);
    void setProjectName(const QString& name) { projectName = name; }

    // Runnable on any thread; each emits its one result before returning.
    bool runExport();
    bool runImport();

    bool isExportJob() const { return isExport; }
    bool isCancelled() const { return cancelled.load(); }

    static quint32 crc32(const QByteArray& bytes);
    // A free path dir/base+ext, else dir/base (n)+ext for n from 1 to 9999;
    // empty when every one of them is taken.
    static QString uniqueName(const QString& dir, const QString& base, const QString& ext);

public slots:
    void run();
    void cancel();

signals:
    void progress(int current, int total, const QString& msg);
    void finished(bool ok, const QString& msg);
    void appendReady(const QByteArray& patchedProjectJson);
    // Before an import's result: the sounds the manifest lists that the
    // bundle did not hold (count of distinct files), and one line per button
    // that keeps such a path. Before an export's: the buttons left out of the
    // bundle as their files are missing (count and one line each). Not
    // emitted when every sound was there.
    void soundsMissing(int sounds, const QStringList& buttons);

public:
    // What an import's checking pass keeps of the bundle.
    struct ImportScan;

private:

    bool fail(const QString& msg);
    // The steps of an import; each reports its own failure.
    bool openBundle(QFile* file, BundleFormat::Reader* reader, BundleFormat::Header* header);
    bool measureEntries(BundleFormat::Reader* reader, const BundleFormat::Header& header);
    bool scanEntries(BundleFormat::Reader* reader, const BundleFormat::Header& header, ImportScan* scan);
    bool checkFreeSpace(qint64 bytes);
    bool extractAudio(const ImportScan& scan, const QJsonArray& items, const QJsonArray& tabSettings,
                      QHash<QString, QStringList>* extracted);
    bool writeEntry(BundleFormat::Reader* reader, const BundleFormat::EntryInfo& info, const QString& target);

    bool isExport = true;
    std::atomic<bool> cancelled{false};
    bool merge = false;
    Session session;
    QList<QString> tabNames;
    QString projectName;
    QString projectPath;
    QString bundlePath;
    QString destDir;
};
