#include "BundleWorker.h"

#include <QFileInfo>

#include "BundleFormat.h"

void BundleWorker::setupExport(const QString& projectPath_, const QString& bundlePath_, const Session& session_)
{
    isExport = true;
    projectPath = projectPath_;
    bundlePath = bundlePath_;
    session = session_;
}

void BundleWorker::setupImport(const QString& bundlePath_, const QString& destDir_, const QList<QString>& tabNames_,
                               bool merge_)
{
    isExport = false;
    bundlePath = bundlePath_;
    destDir = destDir_;
    tabNames = tabNames_;
    merge = merge_;
}

void BundleWorker::run()
{
    // Each job reports its own one result, failures included.
    if (isExport)
        runExport();
    else
        runImport();
}

void BundleWorker::cancel()
{
    cancelled.store(true);
}

bool BundleWorker::fail(const QString& msg)
{
    emit finished(false, msg);
    return false;
}

quint32 BundleWorker::crc32(const QByteArray& bytes)
{
    return BundleFormat::crc32(bytes);
}

QString BundleWorker::uniqueName(const QString& dir, const QString& base, const QString& ext)
{
    // Each candidate is cut to a name the file system takes.
    auto free = [&dir](const QString& name) {
        const QString p = dir + QLatin1Char('/') + name;
        return !QFileInfo::exists(p) && !QFileInfo(p).isSymLink() ? p : QString();
    };
    QString p = free(BundleFormat::fitFileName(base, ext));
    for (int n = 1; p.isEmpty() && n <= 9999; ++n)
        p = free(BundleFormat::fitFileName(base, QStringLiteral(" (%1)%2").arg(n).arg(ext)));
    return p;
}
