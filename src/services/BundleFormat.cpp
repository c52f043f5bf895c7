#include "BundleFormat.h"

#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>
#include <QtEndian>

#include <cstring>
#include <zlib.h>

namespace BundleFormat {

namespace {
constexpr int kCompressionLevel = 6;
// Deflate cannot expand by more than about 1032 to 1.
constexpr qint64 kMaxInflateRatio = 1032;

void putLE32(char* p, quint32 v) { qToLittleEndian<quint32>(v, p); }
void putLE64(char* p, quint64 v) { qToLittleEndian<quint64>(v, p); }
} // namespace

const QString& kManifest()
{
    static const QString s = QStringLiteral("manifest.json");
    return s;
}

const QString& kProjectEntry()
{
    static const QString s = QStringLiteral("project.vx");
    return s;
}

const QString& kIconEntry()
{
    static const QString s = QStringLiteral("bundle.ico");
    return s;
}

quint32 crc32(const char* data, qint64 len, quint32 crc)
{
    // zlib's table-driven CRC, fed in pieces that fit its uInt length.
    uLong c = crc;
    while (len > 0) {
        const qint64 n = qMin<qint64>(len, qint64(1) << 30);
        c = ::crc32(c, reinterpret_cast<const Bytef*>(data), uInt(n));
        data += n;
        len -= n;
    }
    return quint32(c);
}

bool isAlreadyCompressed(const QString& name)
{
    static const QSet<QString> kinds = {
        QStringLiteral("mp3"), QStringLiteral("ogg"),  QStringLiteral("opus"), QStringLiteral("aac"),
        QStringLiteral("m4a"), QStringLiteral("flac"), QStringLiteral("wma"),  QStringLiteral("ac3"),
        QStringLiteral("mp4"), QStringLiteral("aif"),  QStringLiteral("aiff")};
    const QString last = name.section(QLatin1Char('/'), -1);
    const int dot = last.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    return kinds.contains(last.mid(dot + 1).toLower());
}

QString cleanFolderName(const QString& name)
{
    static const QRegularExpression bad(QStringLiteral("[<>:\"/\\\\|?*]"));
    QString out = name;
    out.replace(bad, QStringLiteral("_"));
    out = out.trimmed();
    return out.isEmpty() ? QStringLiteral("Tab") : out;
}

QString tabFolderName(const QString& tabName, int position)
{
    return cleanFolderName(tabName.isEmpty() ? QStringLiteral("Tab %1").arg(position) : tabName);
}

QByteArray payloadFor(const QString& name, const QByteArray& content, bool* compressed)
{
    *compressed = false;
    if (isAlreadyCompressed(name) || content.isEmpty() || content.size() > kMaxCompressible)
        return content;
    QByteArray packed = qCompress(content, kCompressionLevel);
    if (!packed.isEmpty() && packed.size() < content.size()) {
        *compressed = true;
        return packed;
    }
    return content;
}

QByteArray fileHeader(qint32 version, qint32 count)
{
    QByteArray out(kHeaderSize, Qt::Uninitialized);
    std::memcpy(out.data(), kMagic, 4);
    putLE32(out.data() + 4, quint32(version));
    putLE32(out.data() + 8, quint32(count));
    return out;
}

QByteArray entryHead(const QByteArray& utf8Name, qint64 contentSize, quint32 crc, bool compressed,
                     qint64 storedSize)
{
    QByteArray out(2 + utf8Name.size() + 8 + 4 + 1 + 8, Qt::Uninitialized);
    char* p = out.data();
    qToLittleEndian<quint16>(quint16(utf8Name.size()), p);
    p += 2;
    std::memcpy(p, utf8Name.constData(), size_t(utf8Name.size()));
    p += utf8Name.size();
    putLE64(p, quint64(contentSize));
    p += 8;
    putLE32(p, crc);
    p += 4;
    *p++ = compressed ? 1 : 0;
    putLE64(p, quint64(storedSize));
    return out;
}

QString EntryNamer::nameFor(const QString& folder, const QString& fileName)
{
    const QString base = QStringLiteral("Audio/%1/%2").arg(folder, fileName);
    const auto it = m_counts.constFind(base);
    if (it == m_counts.constEnd() && !m_taken.contains(base)) {
        m_counts.insert(base, 1);
        m_taken.insert(base);
        return base;
    }
    const QFileInfo fi(fileName);
    const QString stem = fi.completeBaseName();
    const QString suffix = fi.suffix();
    int n = (it == m_counts.constEnd()) ? 1 : *it;
    QString name;
    do {
        ++n;
        name = QStringLiteral("Audio/%1/%2_%3.%4").arg(folder, stem).arg(n).arg(suffix);
    } while (m_taken.contains(name));
    m_counts.insert(base, n);
    m_taken.insert(name);
    return name;
}

Reader::Reader(QIODevice* device) : m_dev(device), m_size(device->size()) {}

qint64 Reader::bytesLeft() const
{
    return qMax<qint64>(0, m_size - m_dev->pos());
}

bool Reader::readExact(char* dst, qint64 len)
{
    while (len > 0) {
        const qint64 n = m_dev->read(dst, len);
        if (n <= 0)
            return false;
        dst += n;
        len -= n;
    }
    return true;
}

Reader::Status Reader::readHeader(Header* out)
{
    char buf[kHeaderSize];
    qint64 got = 0;
    while (got < kHeaderSize) {
        const qint64 n = m_dev->read(buf + got, kHeaderSize - got);
        if (n <= 0)
            break;
        got += n;
    }
    out->magic = QByteArray(buf, int(qMin<qint64>(got, 4)));
    if (got < kHeaderSize)
        return Status::Truncated;
    out->version = qFromLittleEndian<quint32>(buf + 4);
    out->count = qFromLittleEndian<quint32>(buf + 8);
    return Status::Ok;
}

Reader::Status Reader::readEntryInfo(const Header& h, EntryInfo* out)
{
    if (bytesLeft() == 0)
        return Status::End;
    char lenBuf[2];
    if (!readExact(lenBuf, 2))
        return Status::Truncated;
    const quint16 nameLen = qFromLittleEndian<quint16>(lenBuf);
    if (nameLen > bytesLeft())
        return Status::Truncated;
    QByteArray name(nameLen, Qt::Uninitialized);
    if (!readExact(name.data(), nameLen))
        return Status::Truncated;
    out->name = QString::fromUtf8(name);

    char fixed[8 + 4 + 1 + 8];
    const int fixedLen = h.hasCompressionFields() ? 21 : 12;
    if (!readExact(fixed, fixedLen))
        return Status::Truncated;
    out->contentSize = qint64(qFromLittleEndian<quint64>(fixed));
    out->crc = qFromLittleEndian<quint32>(fixed + 8);
    if (h.hasCompressionFields()) {
        out->compressed = fixed[12] == 1;
        out->storedSize = qint64(qFromLittleEndian<quint64>(fixed + 13));
    } else {
        out->compressed = false;
        out->storedSize = out->contentSize;
    }
    if (out->contentSize < 0 || out->storedSize < 0 || out->storedSize > bytesLeft())
        return Status::Truncated;
    // Stored content is the payload itself, so it cannot be larger than the
    // rest of the file either; compressed content is bounded when inflated.
    if (!out->compressed && out->contentSize > bytesLeft())
        return Status::Truncated;
    return Status::Ok;
}

Reader::Status Reader::readPayload(const EntryInfo& e, QByteArray* out)
{
    if (e.storedSize > bytesLeft())
        return Status::Truncated;
    out->resize(e.storedSize);
    if (!readExact(out->data(), e.storedSize)) {
        out->clear();
        return Status::Truncated;
    }
    return Status::Ok;
}

Reader::Status Reader::skipPayload(const EntryInfo& e)
{
    if (e.storedSize > bytesLeft())
        return Status::Truncated;
    return m_dev->seek(m_dev->pos() + e.storedSize) ? Status::Ok : Status::Truncated;
}

QByteArray contentOf(const EntryInfo& e, const QByteArray& payload, bool* sizeMismatch)
{
    *sizeMismatch = false;
    if (!e.compressed) {
        *sizeMismatch = payload.size() != e.contentSize;
        return payload;
    }
    if (payload.size() < 4)
        return {};
    const qint64 claimed = qFromBigEndian<quint32>(payload.constData());
    if (claimed != e.contentSize || claimed > kMaxInflateRatio * payload.size()) {
        *sizeMismatch = true;
        return {};
    }
    const QByteArray content = qUncompress(payload);
    if (!content.isEmpty() && content.size() != e.contentSize)
        *sizeMismatch = true;
    return content;
}

} // namespace BundleFormat
