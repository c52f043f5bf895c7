// Writes the small seed corpora of the audio fuzz targets (run by hand; the
// output is committed): tests/fuzz_audio/seeds/{wav,decoder}.
#include <QDir>
#include <QFile>

#include <cstdio>

#include "AudioFixture.h"
#include "WavBuilder.h"

static void put(const QString& dir, const QString& name, const QByteArray& b)
{
    QFile f(dir + "/" + name);
    if (f.open(QIODevice::WriteOnly))
        f.write(b);
}

static QByteArray file(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

static QVector<qint16> tone(int frames, int channels)
{
    QVector<qint16> s(frames * channels);
    for (int i = 0; i < s.size(); ++i)
        s[i] = qint16((i * 977) % 20000 - 10000);
    return s;
}

int main(int argc, char** argv)
{
    const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("seeds");
    const QString wav = root + "/wav", dec = root + "/decoder";
    QDir().mkpath(wav);
    QDir().mkpath(dec);
    const QByteArray pcm = WavBuilder::pcm16(tone(64, 2));
    QList<QPair<QString, QByteArray>> images = {
        {"cd.wav", WavBuilder().fmt(1, 2, 44100, 16).data(pcm).bytes()},
        {"list-odd.wav", WavBuilder().chunk("LIST", "abc").fmt(1, 1, 8000, 8).data(QByteArray(33, '\x80')).bytes()},
        {"float-ext.wav", WavBuilder().chunk("fmt ", WavBuilder::extensibleBody(3, 2, 48000, 32)).data(QByteArray(64, '\0')).bytes()},
        {"pcm24.wav", WavBuilder().fmt(1, 2, 96000, 24).data(QByteArray(60, '\x11')).bytes()},
        {"lying.wav", WavBuilder().fmt(1, 2, 44100, 16).data(pcm.left(40), 0x7fffffff).bytes()},
        {"zero-ch.wav", WavBuilder().fmt(1, 0, 44100, 16).data(pcm.left(16)).bytes()},
        {"data-first.wav", WavBuilder().data(pcm.left(32)).fmt(1, 2, 44100, 16).bytes()},
    };
    for (const auto& im : images) {
        put(wav, im.first, im.second);
        put(dec, "0-" + im.first, QByteArray(1, '\0') + im.second);
    }
    const QString tmp = QDir::tempPath() + "/tr-seed";
    QDir().mkpath(tmp);
    struct C { AudioFixture::Codec c; const char* ext; char sel; };
    for (C c : {C{AudioFixture::Codec::Mp3, "mp3", '\1'}, C{AudioFixture::Codec::Flac, "flac", '\2'},
                C{AudioFixture::Codec::Vorbis, "ogg", '\3'}}) {
        const QString p = tmp + "/s." + c.ext;
        QString err;
        if (!AudioFixture::encode(p, c.c, tone(2000, 1), 1, 8000, &err, 16000)) {
            fprintf(stderr, "%s: %s\n", c.ext, qPrintable(err));
            continue;
        }
        put(dec, QString("%1-tiny.%2").arg(int(c.sel)).arg(c.ext), QByteArray(1, c.sel) + file(p));
    }
    printf("seeds written to %s\n", qPrintable(root));
    return 0;
}
