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
    const QString first = dir + QLatin1Char('/') + base + ext;
    if (!QFileInfo::exists(first) && !QFileInfo(first).isSymLink())
        return first;
    for (int n = 1; n <= 9999; ++n) {
        const QString p = QStringLiteral("%1/%2 (%3)%4").arg(dir, base).arg(n).arg(ext);
        if (!QFileInfo::exists(p) && !QFileInfo(p).isSymLink())
            return p;
    }
    return QString();
}
