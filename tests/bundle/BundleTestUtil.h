#pragma once
// Helpers of the bundle tests: a bundle reader of the tests' own (it shares
// nothing with the program's), sessions with audio files made on the spot,
// and a synchronous run of one worker job with its signals recorded.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUuid>
#include <QtEndian>
#include <functional>
#include <zlib.h>

#include "BundleWorker.h"
#include "SafeWrite.h"
#include "Types.h"

namespace BundleTest {

struct Entry
{
    QByteArray name;
    qint64 contentSize = 0;
    quint32 crc = 0;
    int flag = 0;
    qint64 storedSize = 0;
    QByteArray content;
};

// Reads a version-2 bundle byte by byte and checks every field: the magic,
// the version, the count against the entries found, no bytes left over, the
// flag, the stored size, the content size, zlib's CRC of the content, and
// for compressed entries qCompress's big-endian length prefix. Empty error
// text: the file is sound.
inline QList<Entry> readBundle(const QByteArray& file, QString* error)
{
    QList<Entry> out;
    auto bad = [&](const QString& why) {
        *error = why;
        return out;
    };
    error->clear();
    if (file.size() < 12 || file.left(4) != "ZEZO")
        return bad(QStringLiteral("magic"));
    const qint32 version = qFromLittleEndian<qint32>(file.constData() + 4);
    const qint32 count = qFromLittleEndian<qint32>(file.constData() + 8);
    if (version != 2)
        return bad(QStringLiteral("version %1").arg(version));
    qint64 pos = 12;
    auto need = [&](qint64 n) { return pos + n <= file.size(); };
    for (qint32 i = 0; i < count; ++i) {
        Entry e;
        if (!need(2))
            return bad(QStringLiteral("entry %1: name length").arg(i));
        const quint16 nameLen = qFromLittleEndian<quint16>(file.constData() + pos);
        pos += 2;
        if (!need(nameLen + 21))
            return bad(QStringLiteral("entry %1: fields").arg(i));
        e.name = file.mid(pos, nameLen);
        pos += nameLen;
        e.contentSize = qFromLittleEndian<qint64>(file.constData() + pos);
        e.crc = qFromLittleEndian<quint32>(file.constData() + pos + 8);
        e.flag = qint8(file.at(pos + 12));
        e.storedSize = qFromLittleEndian<qint64>(file.constData() + pos + 13);
        pos += 21;
        if (e.flag != 0 && e.flag != 1)
            return bad(QStringLiteral("entry %1: flag %2").arg(i).arg(e.flag));
        if (e.storedSize < 0 || !need(e.storedSize))
            return bad(QStringLiteral("entry %1: stored size").arg(i));
        const QByteArray payload = file.mid(pos, e.storedSize);
        pos += e.storedSize;
        if (e.flag == 1) {
            if (payload.size() < 4 || qFromBigEndian<quint32>(payload.constData()) != quint64(e.contentSize))
                return bad(QStringLiteral("entry %1: length prefix").arg(i));
            e.content = qUncompress(payload);
            if (payload.size() >= e.contentSize)
                return bad(QStringLiteral("entry %1: compressed but not shorter").arg(i));
        } else {
            e.content = payload;
        }
        if (e.content.size() != e.contentSize)
            return bad(QStringLiteral("entry %1: content size").arg(i));
        const quint32 crc = quint32(::crc32(0, reinterpret_cast<const Bytef*>(e.content.constData()),
                                            uInt(e.content.size())));
        if (crc != e.crc)
            return bad(QStringLiteral("entry %1: crc").arg(i));
        out << e;
    }
    if (pos != file.size())
        return bad(QStringLiteral("%1 bytes after the last entry").arg(file.size() - pos));
    return out;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString err;
    if (!safeWriteFile(path, bytes, &err))
        qFatal("cannot write test file %s: %s", qPrintable(path), qPrintable(err));
}

// Bytes that zlib cannot shrink.
inline QByteArray noise(int size, quint32 seed = 1)
{
    QByteArray b(size, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<quint32*>(b.data()), size / 4);
    for (int i = size / 4 * 4; i < size; ++i)
        b[i] = char(gen.generate());
    return b;
}

inline ButtonData button(const QString& audioPath)
{
    ButtonData b;
    b.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    b.audioPath = audioPath;
    return b;
}

inline TabData tab(const QString& name, const QStringList& audio)
{
    TabData t;
    t.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    t.name = name;
    for (const QString& a : audio)
        t.buttons << button(a);
    return t;
}

inline QString writeSession(const Session& s, const QString& path)
{
    writeFile(path, QJsonDocument(s.toJson()).toJson(QJsonDocument::Indented));
    return path;
}

struct Run
{
    bool result = false;
    int finishedCount = 0;
    bool ok = false;
    QString msg;
    QList<int> current, total;
    QStringList labels;
    // What the job said was missing before its result, one line a button.
    QStringList missing;
};

// Runs the worker's job on this thread. onProgress sees each progress report
// while the job is still inside it (it may cancel, or delete a file).
inline Run run(BundleWorker& w, std::function<void(BundleWorker&, int)> onProgress = {})
{
    Run r;
    QObject::connect(&w, &BundleWorker::progress, [&](int c, int t, const QString& m) {
        r.current << c;
        r.total << t;
        r.labels << m;
        if (onProgress)
            onProgress(w, c);
    });
    QObject::connect(&w, &BundleWorker::soundsMissing, [&](int, const QStringList& buttons) { r.missing << buttons; });
    QObject::connect(&w, &BundleWorker::finished, [&](bool ok, const QString& m) {
        ++r.finishedCount;
        r.ok = ok;
        r.msg = m;
    });
    r.result = w.isExportJob() ? w.runExport() : w.runImport();
    return r;
}

inline QStringList names(const QList<Entry>& entries)
{
    QStringList out;
    for (const Entry& e : entries)
        out << QString::fromUtf8(e.name);
    return out;
}

inline QJsonObject manifestOf(const QList<Entry>& entries)
{
    return entries.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(entries.last().content).object();
}

// The entry names without the optional icon (present only when the program's
// folder holds it).
inline QStringList withoutIcon(QStringList names)
{
    names.removeAll(QStringLiteral("bundle.ico"));
    return names;
}

// Every file below dir, relative to it, sorted.
inline QStringList listing(const QString& dir)
{
    QStringList out;
    QDir d(dir);
    for (const QFileInfo& fi : d.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name)) {
        out << fi.fileName();
        if (fi.isDir())
            for (const QString& s : listing(fi.absoluteFilePath()))
                out << fi.fileName() + QLatin1Char('/') + s;
    }
    return out;
}

} // namespace BundleTest
