#pragma once
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QString>
#include <functional>

#include "FileCheck.h"

// Decoding of a button's range to the pre-decoded engines' PCM: 16-bit signed
// little-endian stereo 44100 Hz, 4 bytes a frame, no header.
//
// Range arguments are seconds from the start of the file: in (trim start) and
// out (trim end; a value not above in + 0.01 means up to the end). The byte
// limit trunc(44100 * (out - in) * 4) is rounded down to whole frames.

// The file's range as raw PCM with the gain applied; empty when the file
// cannot be decoded. Reentrant, any thread.
QByteArray decodePcmMF_stereo(const QString& path, double in, double out, float gain);

namespace PcmDecode {

constexpr int kBytesPerFrame = 4;
constexpr int kRate = 44100;

// True when path names a regular file (a symbolic link to one included);
// otherwise logs why and gives false. A pipe or a device would block the
// decoder's open() or never end, so every decode asks this first.
bool decodable(const QString& path);

// The decode of the pre-decoded engine: decodePcmMF_stereo, and when that
// gives nothing, for a path whose suffix is "wav" in any case, the whole file
// image (RIFF header included) with the gain applied to its data chunk. That
// fallback takes only a 16-bit PCM, 2-channel, 44100 Hz WAV; any other WAV
// gives an empty result (it would otherwise play at the wrong speed or as
// noise). The range is not applied to the fallback. Reentrant.
QByteArray decodePcm(const QString& path, double in, double out, float gain);

// The fallback alone: the file image of a 16-bit stereo 44100 Hz PCM WAV
// with the gain applied to its samples; empty for anything else.
QByteArray readWavImage(const QString& path, float gain);
// The same file's samples alone, without the header (a raw block).
QByteArray readWavSamples(const QString& path, float gain);

// True for a RIFF WAVE file that states its format but holds no sample: its
// data chunk is empty, or it has none. Only files of up to 64 KiB are read;
// any larger one is taken to hold sound.
bool wavHoldsNoSound(const QString& path);

// Where the samples of a RIFF image lie: the data chunk found by the chunk
// walker, its length cut to the image and to whole frames. False when the
// image holds no 16-bit stereo 44100 Hz PCM data. Callers that build playback
// buffers from a RIFF image use this instead of searching for "data".
bool locateRiffSamples(const QByteArray& image, qsizetype* offset, qsizetype* length);

// The byte limit for a range: -1 for none (out not above in + 0.01), else
// trunc(44100 * (out - in) * 4) rounded down to whole frames (0 or more).
qint64 rangeByteLimit(double in, double out);

// Which bytes of `total` bytes of whole-file frames the range [in, out) covers,
// as the decoder would have given them: *offset skips round(in * 44100) frames
// (none for in up to 0.001), *length is what is left, cut to rangeByteLimit and
// to whole frames. Both stay inside the block; *length is 0 when the range
// starts at or past the end.
void rangeSlice(qint64 total, double in, double out, qint64* offset, qint64* length);

// Every 16-bit sample of bytes [offset, offset + length) (whole samples only)
// becomes clamp(trunc(sample * gain), -32768, 32767) in single precision;
// nothing happens when |gain - 1| <= 0.01.
void applyGain(QByteArray& block, qsizetype offset, qsizetype length, float gain);
inline void applyGain(QByteArray& block, float gain) { applyGain(block, 0, block.size(), gain); }

// A fade of this many seconds is heard: above 10 ms.
bool hasFade(double seconds);
// Shapes a block of whole frames with linear fades: a fade-in rising from
// silence at the first frame to full level fadeIn seconds later, a fade-out
// falling to silence at the end over the last fadeOut seconds (where they
// meet, the lower of the two). A fade of 10 ms or less is none.
void applyFades(QByteArray& block, double fadeIn, double fadeOut);

// The decode cache key: path|in|out|gain, each number with three decimals
// (the gain widened to double first).
QString cacheKey(const QString& path, double in, double out, float gain);

// A bounded FIFO cache in front of a decoder (by default decodePcm). At most
// capacity entries and maxBytes of blocks; the oldest inserted goes first;
// empty blocks are never stored. A block that a sound still plays from costs
// nothing more for being here; one that none does (a range trimmed anew, a
// gain changed, a button gone) holds its memory for as long as it stays.
// The lock is never held while decoding, so two requests for one key may
// decode at once; the first to finish is stored and the later one returns
// its own block. Blocks are shared (no copy on a hit). Thread-safe.
//
// Each block is kept with the stamp its file had before it was decoded (a
// look through KnownFiles). A request finds it while the file still has that
// stamp or cannot be seen: a file replaced, rewritten or grown since is
// decoded anew, and the new block takes the place of the old one, which goes
// together with every other range kept from the file's earlier version.
class DecodeCache
{
public:
    using Decoder = std::function<QByteArray(const QString&, double, double, float)>;
    static constexpr int kDefaultCapacity = 200;
    static constexpr qint64 kDefaultMaxBytes = 128 * 1024 * 1024;

    explicit DecodeCache(int capacity = kDefaultCapacity, Decoder decoder = {},
                         qint64 maxBytes = kDefaultMaxBytes);

    // stamp, when given, receives the stamp of the file the block was
    // decoded from.
    QByteArray decodeCached(const QString& path, double in, double out, float gain,
                            FileCheck::Stamp* stamp = nullptr);
    // decodeCached after lowering the calling thread to QThread::IdlePriority
    // (for the engine's decode pool).
    QByteArray decodeCachedAtIdle(const QString& path, double in, double out, float gain,
                                  FileCheck::Stamp* stamp = nullptr);

    bool contains(const QString& key) const;
    // Drops the key's block, if held.
    void forget(const QString& key);
    int size() const;
    // The bytes of the blocks held.
    qint64 bytes() const;
    QList<QString> keys() const;    // oldest first
    void clear();

private:
    struct Entry
    {
        QByteArray block;
        QString path;
        FileCheck::Stamp stamp;
    };
    // Under the lock: stores the block under key in place of what was there,
    // dropping the path's blocks of other versions and then the oldest
    // entries beyond the capacity or the bytes.
    void store(const QString& key, const QString& path, const FileCheck::Stamp& stamp, const QByteArray& block);
    void drop(const QString& key);

    mutable QMutex m_mx;
    QHash<QString, Entry> m_blocks;
    QList<QString> m_order;
    int m_capacity;
    qint64 m_maxBytes;
    qint64 m_bytes = 0;
    Decoder m_decoder;
};

} // namespace PcmDecode
