#pragma once
#include <QByteArray>
#include <QFile>
#include <QVector>
#include <QtEndian>

// Builds RIFF/WAVE images chunk by chunk, including malformed ones.
class WavBuilder
{
public:
    WavBuilder() { m_b.append("RIFF"); put32(0); m_b.append("WAVE"); }

    static QByteArray fmtBody(int tag, int channels, int rate, int bits)
    {
        QByteArray f;
        put16(f, quint16(tag));
        put16(f, quint16(channels));
        put32(f, quint32(rate));
        put32(f, quint32(rate) * quint32(channels) * quint32(bits / 8));
        put16(f, quint16(channels * (bits / 8)));
        put16(f, quint16(bits));
        return f;
    }
    // WAVE_FORMAT_EXTENSIBLE with the sub-format's first two bytes set to
    // subTag, and the speakers the channels feed in channelMask.
    static QByteArray extensibleBody(int subTag, int channels, int rate, int bits, quint32 channelMask = 3)
    {
        QByteArray f = fmtBody(0xFFFE, channels, rate, bits);
        put16(f, 22);                    // cbSize
        put16(f, quint16(bits));         // valid bits
        put32(f, channelMask);
        put16(f, quint16(subTag));       // sub-format GUID starts here
        f.append(QByteArray::fromHex("000000001000800000aa00389b71"));
        return f;
    }

    WavBuilder& fmt(int tag, int channels, int rate, int bits) { return chunk("fmt ", fmtBody(tag, channels, rate, bits)); }
    // A chunk; sizeField < 0 writes the real size. Odd bodies get a pad byte.
    WavBuilder& chunk(const char* id, const QByteArray& body, qint64 sizeField = -1, bool pad = true)
    {
        m_b.append(id, 4);
        put32(sizeField < 0 ? quint32(body.size()) : quint32(sizeField));
        m_b.append(body);
        if (pad && (body.size() & 1))
            m_b.append('\0');
        return *this;
    }
    WavBuilder& data(const QByteArray& body, qint64 sizeField = -1) { return chunk("data", body, sizeField); }
    WavBuilder& raw(const QByteArray& bytes) { m_b.append(bytes); return *this; }

    QByteArray bytes() const
    {
        QByteArray b = m_b;
        qToLittleEndian(quint32(b.size() - 8), b.data() + 4);
        return b;
    }
    bool write(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes()) == bytes().size();
    }

    static QByteArray pcm16(const QVector<qint16>& s)
    {
        QByteArray b(s.size() * 2, '\0');
        for (int i = 0; i < s.size(); ++i)
            qToLittleEndian(s[i], b.data() + 2 * i);
        return b;
    }

private:
    static void put16(QByteArray& b, quint16 v) { char c[2]; qToLittleEndian(v, c); b.append(c, 2); }
    static void put32(QByteArray& b, quint32 v) { char c[4]; qToLittleEndian(v, c); b.append(c, 4); }
    void put32(quint32 v) { put32(m_b, v); }
    QByteArray m_b;
};
