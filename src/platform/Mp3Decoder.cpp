#include "Mp3Decoder.h"

#include <QFile>

#include <mpg123.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {

bool initLibrary()
{
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] { ok = mpg123_init() == MPG123_OK; });
    return ok;
}

ssize_t readCb(void* handle, void* buf, size_t count)
{
    auto* src = static_cast<Mp3Decoder::Source*>(handle);
    const qint64 left = src->data.size() - src->pos;
    const qint64 n = std::min<qint64>(qint64(count), std::max<qint64>(0, left));
    if (n > 0) {
        memcpy(buf, src->data.constData() + src->pos, size_t(n));
        src->pos += n;
    }
    return ssize_t(n);
}

off_t seekCb(void* handle, off_t offset, int whence)
{
    auto* src = static_cast<Mp3Decoder::Source*>(handle);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = src->pos;
    else if (whence == SEEK_END)
        base = src->data.size();
    else if (whence != SEEK_SET)
        return -1;
    const qint64 to = base + qint64(offset);
    if (to < 0 || to > src->data.size())
        return -1;
    src->pos = to;
    return off_t(to);
}

} // namespace

Mp3Decoder::Mp3Decoder() = default;

Mp3Decoder::~Mp3Decoder()
{
    close();
}

void Mp3Decoder::close()
{
    if (m_h) {
        mpg123_close(m_h);
        mpg123_delete(m_h);
        m_h = nullptr;
    }
    m_src = Source();
    m_channels = 0;
    m_rate = 0;
    m_totalSamples = 0;
    m_eof = false;
}

bool Mp3Decoder::openFile(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("cannot open: %1").arg(f.errorString());
        return false;
    }
    if (f.size() > kMaxFileBytes) {
        if (error)
            *error = QStringLiteral("file too large (%1 bytes)").arg(f.size());
        return false;
    }
    const QByteArray data = f.readAll();
    return openBuffer(data, error);
}

bool Mp3Decoder::openBuffer(const QByteArray& data, QString* error)
{
    close();
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        close();
        return false;
    };
    if (data.isEmpty())
        return fail(QStringLiteral("empty input"));
    if (!initLibrary())
        return fail(QStringLiteral("libmpg123 did not initialise"));
    int err = MPG123_OK;
    m_h = mpg123_new(nullptr, &err);
    if (!m_h)
        return fail(QStringLiteral("libmpg123: %1").arg(QString::fromUtf8(mpg123_plain_strerror(err))));
    mpg123_param(m_h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0);
    mpg123_param(m_h, MPG123_REMOVE_FLAGS, MPG123_IGNORE_INFOFRAME, 0);
    // Float output at whatever rate and channel count the stream has.
    mpg123_format_none(m_h);
    const long* rates = nullptr;
    size_t nrates = 0;
    mpg123_rates(&rates, &nrates);
    for (size_t i = 0; i < nrates; ++i)
        mpg123_format(m_h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);

    m_src.data = data;
    m_src.pos = 0;
    if (mpg123_replace_reader_handle(m_h, readCb, seekCb, nullptr) != MPG123_OK)
        return fail(QStringLiteral("libmpg123 reader: %1").arg(QString::fromUtf8(mpg123_strerror(m_h))));
    if (mpg123_open_handle(m_h, &m_src) != MPG123_OK)
        return fail(QStringLiteral("not an MP3 stream: %1").arg(QString::fromUtf8(mpg123_strerror(m_h))));
    // Scanning the whole stream gives the exact length (and finds out
    // whether there is any MP3 in it at all).
    if (mpg123_scan(m_h) != MPG123_OK)
        return fail(QStringLiteral("not an MP3 stream: %1").arg(QString::fromUtf8(mpg123_strerror(m_h))));
    long rate = 0;
    int channels = 0, enc = 0;
    if (mpg123_getformat(m_h, &rate, &channels, &enc) != MPG123_OK || rate <= 0 || channels <= 0)
        return fail(QStringLiteral("no MP3 frames found"));
    m_rate = int(rate);
    m_channels = channels;
    const off_t frames = mpg123_length(m_h);
    m_totalSamples = frames > 0 ? qint64(frames) * channels : 0;
    if (m_totalSamples <= 0)
        return fail(QStringLiteral("no MP3 frames found"));
    return true;
}

qint64 Mp3Decoder::readFloat(float* out, qint64 maxSamples)
{
    if (!m_h || m_eof || !out || m_channels <= 0)
        return 0;
    qint64 want = maxSamples - maxSamples % m_channels;
    qint64 got = 0;
    int newFormatRetries = 0;
    while (got < want) {
        size_t done = 0;
        const size_t bytes = size_t(want - got) * sizeof(float);
        const int r = mpg123_read(m_h, reinterpret_cast<unsigned char*>(out + got), bytes, &done);
        got += qint64(done / sizeof(float));
        if (r == MPG123_OK)
            continue;
        if (r == MPG123_NEW_FORMAT) {
            // A change of rate or channels inside the stream: keep reading in
            // the new layout (as a minimal decoder does), up to a point.
            long rate = 0;
            int ch = 0, enc = 0;
            if (mpg123_getformat(m_h, &rate, &ch, &enc) == MPG123_OK && ch > 0 && ch != m_channels) {
                m_eof = true;   // a channel change would misalign the interleaving
                break;
            }
            if (++newFormatRetries > 16) {
                m_eof = true;
                break;
            }
            continue;
        }
        // MPG123_DONE, or an error that ends the stream.
        m_eof = true;
        break;
    }
    got -= got % m_channels;
    return got;
}
