#include "BundleFormat.h"

#include <QFileInfo>
#include <QIODevice>
#include <QRegularExpression>
#include <QtEndian>

#include <cstring>
#include <zlib.h>

#include "Utf8Cut.h"

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

QString cleanName(const QString& name, const QString& fallback)
{
    static const QRegularExpression bad(QStringLiteral("[<>:\"/\\\\|?*\\x00-\\x1f\\x7f]"));
    QString out = name;
    out.replace(bad, QStringLiteral("_"));
    out = cutUtf8(out.trimmed(), kMaxCleanNameBytes).trimmed();
    if (out.isEmpty() || out == QLatin1String(".") || out == QLatin1String(".."))
        return fallback;
    return out;
}

QString cleanFolderName(const QString& name)
{
    return cleanName(name, QStringLiteral("Tab"));
}

QString fitFileName(const QString& stem, const QString& tail)
{
    const int tailBytes = int(tail.toUtf8().size());
    if (int(stem.toUtf8().size()) + tailBytes <= kMaxFileNameBytes)
        return stem + tail;
    if (tailBytes >= kMaxFileNameBytes)
        return cutUtf8(stem + tail, kMaxFileNameBytes);
    return cutUtf8(stem, kMaxFileNameBytes - tailBytes) + tail;
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
        name = QStringLiteral("Audio/%1/").arg(folder)
               + fitFileName(stem, QStringLiteral("_%1.%2").arg(n).arg(suffix));
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

Reader::Check Reader::streamContent(const EntryInfo& e, const Sink& sink, const std::atomic<bool>* cancel)
{
    if (e.storedSize > bytesLeft())
        return Check::Truncated;
    return e.compressed ? streamInflated(e, sink, cancel) : streamStored(e, sink, cancel);
}

Reader::Check Reader::streamStored(const EntryInfo& e, const Sink& sink, const std::atomic<bool>* cancel)
{
    if (e.storedSize != e.contentSize)
        return Check::SizeMismatch;
    QByteArray buf(qMin(e.storedSize, kChunkBytes), Qt::Uninitialized);
    quint32 crc = 0;
    for (qint64 left = e.storedSize; left > 0;) {
        if (cancel && cancel->load())
            return Check::Cancelled;
        const qint64 n = qMin(left, kChunkBytes);
        if (!readExact(buf.data(), n))
            return Check::Truncated;
        crc = crc32(buf.constData(), n, crc);
        if (sink && !sink(buf.constData(), n))
            return Check::SinkFailed;
        left -= n;
    }
    return crc == e.crc ? Check::Ok : Check::CrcMismatch;
}

Reader::Check Reader::streamInflated(const EntryInfo& e, const Sink& sink, const std::atomic<bool>* cancel)
{
    // qCompress's form: the content length in 4 big-endian bytes, then zlib.
    if (e.storedSize < 4)
        return Check::InflateFailed;
    char prefix[4];
    if (!readExact(prefix, 4))
        return Check::Truncated;
    const qint64 claimed = qFromBigEndian<quint32>(prefix);
    if (claimed != e.contentSize || claimed > kMaxInflateRatio * e.storedSize)
        return Check::SizeMismatch;

    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return Check::InflateFailed;
    struct End
    {
        z_stream* z;
        ~End() { inflateEnd(z); }
    } end{&z};

    QByteArray in(qMin(e.storedSize - 4, kChunkBytes), Qt::Uninitialized);
    QByteArray out(qMin(qMax<qint64>(claimed, 1), kChunkBytes), Qt::Uninitialized);
    qint64 left = e.storedSize - 4;
    qint64 produced = 0;
    quint32 crc = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (cancel && cancel->load())
            return Check::Cancelled;
        if (z.avail_in == 0) {
            if (left == 0)
                return Check::InflateFailed;   // the stream ends before its end mark
            const qint64 n = qMin(left, qint64(in.size()));
            if (!readExact(in.data(), n))
                return Check::Truncated;
            left -= n;
            z.next_in = reinterpret_cast<Bytef*>(in.data());
            z.avail_in = uInt(n);
        }
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return Check::InflateFailed;
        const qint64 got = out.size() - qint64(z.avail_out);
        if (rc == Z_BUF_ERROR && got == 0 && z.avail_in > 0)
            return Check::InflateFailed;
        produced += got;
        if (produced > claimed)
            return Check::SizeMismatch;
        crc = crc32(out.constData(), got, crc);
        if (got > 0 && sink && !sink(out.constData(), got))
            return Check::SinkFailed;
    }
    // Whatever follows the end mark within the payload is not content.
    if (left > 0 && !m_dev->seek(m_dev->pos() + left))
        return Check::Truncated;
    if (produced == 0)
        return Check::InflateFailed;
    if (produced != claimed)
        return Check::SizeMismatch;
    return crc == e.crc ? Check::Ok : Check::CrcMismatch;
}

bool plausibleSize(const EntryInfo& e)
{
    if (!e.compressed)
        return e.contentSize == e.storedSize;
    return e.contentSize <= kMaxCompressible && e.storedSize >= 4
        && e.contentSize <= kMaxInflateRatio * (e.storedSize - 4);
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
