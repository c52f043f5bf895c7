#pragma once
#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>

class QIODevice;

// The .vxbundle container: a 12-byte header (magic "ZEZO", version, entry
// count) and then the entries back to back, each with its name, its content
// size, the CRC-32 of its content and, from version 2 on, a compressed flag
// and the stored size before the payload. Every integer is little-endian.
// This is the one description of the bytes; the export writes through it and
// the import and its preview read through it.
namespace BundleFormat {

inline constexpr char kMagic[4] = {'Z', 'E', 'Z', 'O'};
inline constexpr qint32 kVersion = 2;
inline constexpr int kHeaderSize = 12;
// Name length field: 16 bits.
inline constexpr int kMaxNameBytes = 0xFFFF;
// qCompress puts the content length before its zlib stream in 32 bits.
inline constexpr qint64 kMaxCompressible = (qint64(1) << 32) - 1;

// "manifest.json", "project.vx", "bundle.ico".
const QString& kManifest();
const QString& kProjectEntry();
const QString& kIconEntry();

// The CRC-32 of zlib and ZIP (reflected 0xEDB88320, start and final xor
// 0xFFFFFFFF). Pass the previous value as crc to continue over more bytes.
quint32 crc32(const char* data, qint64 len, quint32 crc = 0);
inline quint32 crc32(const QByteArray& bytes) { return crc32(bytes.constData(), bytes.size()); }

// True when the lower-cased suffix of the name's last component marks an
// audio format that is compressed already (mp3, ogg, flac, ...).
bool isAlreadyCompressed(const QString& name);

// Longest name on disk, in UTF-8 bytes.
inline constexpr int kMaxFileNameBytes = 255;
// Longest name taken from a tab or project name, in UTF-8 bytes: room is left
// for the " (n)" and the suffix that keep names apart.
inline constexpr int kMaxCleanNameBytes = 240;

// A name made fit for one path step: < > : " / \ | ? * and control
// characters become "_", the result is trimmed and cut to kMaxCleanNameBytes;
// fallback when that leaves nothing, "." or "..".
QString cleanName(const QString& name, const QString& fallback);
// A tab name made fit for a folder: cleanName with the fallback "Tab".
QString cleanFolderName(const QString& name);
// stem + tail as one file name of at most kMaxFileNameBytes, the stem cut
// when it has to be.
QString fitFileName(const QString& stem, const QString& tail);
// The folder of the tab at a 1-based position: its name cleaned, or
// "Tab <position>" when the name is empty.
QString tabFolderName(const QString& tabName, int position);

// The payload to store for an entry's content: the compressed form (level 6)
// when the name allows it, the content is not empty, not too large for the
// length prefix, and the compressed form is strictly shorter. Otherwise the
// content itself, with *compressed false.
QByteArray payloadFor(const QString& name, const QByteArray& content, bool* compressed);

// The 12 header bytes.
QByteArray fileHeader(qint32 version, qint32 count);
// The fields of a version-2 entry that come before its payload.
QByteArray entryHead(const QByteArray& utf8Name, qint64 contentSize, quint32 crc, bool compressed,
                     qint64 storedSize);

// Names of the audio entries, "Audio/<folder>/<file>". The first file with a
// name takes it; later ones take "<stem>_<n>.<suffix>", n counting on from
// 2 until the name is free (so a file that is itself named a_2.wav never
// collides with the second a.wav).
class EntryNamer
{
public:
    QString nameFor(const QString& folder, const QString& fileName);

private:
    QHash<QString, int> m_counts;
    QSet<QString> m_taken;
};

// Reading. Sizes are checked against the bytes that are left before
// anything is allocated, so a hostile file cannot make the reader ask for
// more memory than the file holds.
struct Header
{
    QByteArray magic;       // the first four bytes as found
    quint32 version = 0;
    quint32 count = 0;
    bool magicOk() const { return magic == QByteArray(kMagic, 4); }
    // Versions 0 and 1 carry no compressed flag and no stored size.
    bool hasCompressionFields() const { return version > 1; }
};

struct EntryInfo
{
    QString name;
    qint64 contentSize = 0;
    quint32 crc = 0;
    bool compressed = false;
    qint64 storedSize = 0;
};

class Reader
{
public:
    enum class Status { Ok, End, Truncated };
    // What streaming an entry's content found; the first fault ends it.
    enum class Check { Ok, Truncated, SizeMismatch, InflateFailed, CrcMismatch, SinkFailed, Cancelled };
    // Takes the next piece of content; false stops the stream.
    using Sink = std::function<bool(const char* data, qint64 len)>;
    // Largest piece of payload or content held at once while streaming.
    static constexpr qint64 kChunkBytes = 1 << 20;

    // The device must be open for reading and positioned at the start.
    explicit Reader(QIODevice* device);

    // Fewer than 12 bytes: Truncated (with the magic filled in as far as read).
    Status readHeader(Header* out);
    // The fields of the next entry up to its payload. Truncated when a field
    // runs past the end, or a size is negative or larger than what is left.
    Status readEntryInfo(const Header& h, EntryInfo* out);
    // The payload of the entry just described, in one read.
    Status readPayload(const EntryInfo& e, QByteArray* out);
    // Steps over the payload without reading it.
    Status skipPayload(const EntryInfo& e);
    // Reads the payload of the entry just described in pieces, inflating a
    // compressed one on the way, hands the content to sink (when given) piece
    // by piece and checks its size and CRC. Memory stays at two pieces
    // whatever the entry claims. cancel, when given, is polled per piece.
    Check streamContent(const EntryInfo& e, const Sink& sink, const std::atomic<bool>* cancel = nullptr);

    qint64 bytesLeft() const;

private:
    bool readExact(char* dst, qint64 len);
    Check streamStored(const EntryInfo& e, const Sink& sink, const std::atomic<bool>* cancel);
    Check streamInflated(const EntryInfo& e, const Sink& sink, const std::atomic<bool>* cancel);

    QIODevice* m_dev;
    qint64 m_size;
};

// Whether an entry's content size can come from its payload: a stored
// entry's is the payload's own size; a compressed one's fits qCompress's
// length prefix and what deflate can reach from the payload (1032 to 1).
bool plausibleSize(const EntryInfo& e);

// The content of an entry from its payload. A compressed payload is checked
// before it is inflated: its length prefix must equal contentSize and lie
// within what deflate can reach from the payload (1032 to 1). Empty result
// and *sizeMismatch false: inflating failed.
QByteArray contentOf(const EntryInfo& e, const QByteArray& payload, bool* sizeMismatch);

} // namespace BundleFormat
