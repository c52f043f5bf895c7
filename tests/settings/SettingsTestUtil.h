#pragma once
// Hand-written settings files and finding the dialog's widgets.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "AppSettings.h"

namespace SettingsTest {

inline QString storePath()
{
    return AppSettings().fileName();
}

// Replaces the whole store with the given INI text (empty: no file at all).
inline bool writeStore(const QByteArray& ini)
{
    const QString path = storePath();
    QDir(path).removeRecursively();
    QFile::remove(path);
    if (ini.isEmpty())
        return true;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(ini) != ini.size() || !f.flush())
        return false;
    // QSettings keeps a file it has read until its time or size changes; two
    // files written within one second may have both alike.
    static QDateTime stamp = QDateTime::currentDateTimeUtc().addYears(-1);
    stamp = stamp.addSecs(2);
    return f.setFileTime(stamp, QFileDevice::FileModificationTime);
}

// A folder where the file belongs: nothing can be written to the store.
inline bool blockStore()
{
    const QString path = storePath();
    QFile::remove(path);
    return QDir().mkpath(path);
}

inline void unblockStore()
{
    QDir(storePath()).removeRecursively();
}

} // namespace SettingsTest
