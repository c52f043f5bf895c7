// Decoding benchmarks, each against a reference measured in the same run:
// 1. a 3-minute MP3 and a 3-minute 48 kHz FLAC to 16-bit stereo 44100 Hz:
//    our decoder's throughput against the ffmpeg command doing the same
//    conversion to raw PCM (target: at least 0.90);
// 2. WaveformDecoder::decodeBands with 4000 bars of a 5-minute MP3 against a
//    plain float decode of the same file (target: at most 1.5).
// The fixtures are made with the ffmpeg command in a temporary folder.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "Mp3Decoder.h"
#include "PcmDecoder.h"
#include "WaveformDecoder.h"

namespace {

bool runFfmpeg(const QStringList& args)
{
    QProcess p;
    p.start("ffmpeg", QStringList{"-hide_banner", "-nostdin", "-v", "error", "-y"} + args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(600000))
        return false;
    if (p.exitCode() != 0)
        fprintf(stderr, "ffmpeg: %s\n", p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool makeFixture(const QString& path, int seconds, int rate, const QStringList& codecArgs)
{
    const QString d = QString::number(seconds);
    return runFfmpeg(QStringList{"-f", "lavfi", "-i", "sine=f=330:d=" + d + ":sample_rate=" + QString::number(rate),
                                 "-f", "lavfi", "-i", "anoisesrc=d=" + d + ":a=0.05:r=" + QString::number(rate),
                                 "-filter_complex", "[0][1]amix=inputs=2,pan=stereo|c0=c0|c1=0.7*c0",
                                 "-ar", QString::number(rate)}
                     + codecArgs + QStringList{path});
}

// Best of n runs, in seconds.
double best(int n, const std::function<bool()>& f)
{
    double b = 1e9;
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        if (!f())
            return -1;
        b = std::min(b, t.nsecsElapsed() / 1e9);
    }
    return b;
}

int failures = 0;

void report(const char* what, double ours, double ref, double ratio, bool higherIsBetter, double target)
{
    const bool ok = higherIsBetter ? ratio >= target : ratio <= target;
    if (!ok)
        ++failures;
    printf("%-44s ours %7.3f s  reference %7.3f s  ratio %.2f (target %s %.2f) %s\n", what, ours, ref, ratio,
           higherIsBetter ? ">=" : "<=", target, ok ? "ok" : "MISSED");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString mp3 = dir.filePath("3min.mp3");
    const QString flac = dir.filePath("3min-48k.flac");
    const QString mp3long = dir.filePath("5min.mp3");
    printf("making fixtures with the ffmpeg command...\n");
    fflush(stdout);
    if (!makeFixture(mp3, 180, 44100, {"-c:a", "libmp3lame", "-b:a", "192k"})
        || !makeFixture(flac, 180, 48000, {"-c:a", "flac", "-sample_fmt", "s16"})
        || !makeFixture(mp3long, 300, 44100, {"-c:a", "libmp3lame", "-b:a", "192k"})) {
        fprintf(stderr, "cannot make the fixtures (is ffmpeg installed?)\n");
        return 2;
    }
    const int runs = 5;

    // The command's own start-up is measured on a 0.05 s file of the same
    // kind and taken off, so the comparison is of decoding alone. Both sides
    // decode on one thread (the engines run several decodes at once, one
    // thread each).
    const QString mp3tiny = dir.filePath("tiny.mp3");
    const QString flactiny = dir.filePath("tiny.flac");
    if (!runFfmpeg({"-i", mp3, "-t", "0.05", "-c:a", "libmp3lame", "-b:a", "192k", mp3tiny})
        || !runFfmpeg({"-i", flac, "-t", "0.05", "-c:a", "flac", "-sample_fmt", "s16", flactiny})) {
        fprintf(stderr, "cannot make the start-up fixtures\n");
        return 2;
    }
    auto ffmpegDecode = [](const QString& file) {
        return runFfmpeg({"-threads", "1", "-i", file, "-vn", "-f", "s16le", "-acodec", "pcm_s16le", "-ac", "2",
                          "-ar", "44100", "/dev/null"});
    };
    for (const QString& file : {mp3, flac}) {
        qint64 frames = 0;
        const double ours = best(runs, [&] {
            const QByteArray pcm = PcmDecoder::decodeS16Stereo44100(file, 0, -1);
            frames = pcm.size() / 4;
            return !pcm.isEmpty();
        });
        const double full = best(runs, [&] { return ffmpegDecode(file); });
        const double startup = best(runs, [&] { return ffmpegDecode(file == mp3 ? mp3tiny : flactiny); });
        const double ref = full - startup;
        if (ours < 0 || full < 0 || startup < 0) {
            fprintf(stderr, "decode failed for %s\n", qPrintable(file));
            return 2;
        }
        const QString name = QString("decode %1 (%2 frames), throughput")
                                 .arg(file.endsWith(".mp3") ? "3-min MP3" : "3-min 48 kHz FLAC")
                                 .arg(frames);
        report(qPrintable(name), ours, ref, ref / ours, true, 0.90);
    }

    QList<WaveBar> bars;
    const double bands = best(runs, [&] {
        bars = WaveformDecoder::decodeBands(mp3long, 4000);
        return bars.size() == 4000;
    });
    const double plain = best(runs, [&] {
        Mp3Decoder dec;
        if (!dec.openFile(mp3long))
            return false;
        QList<float> s(dec.totalSamples());
        qint64 got = 0;
        while (got < s.size()) {
            const qint64 n = dec.readFloat(s.data() + got, s.size() - got);
            if (n <= 0)
                break;
            got += n;
        }
        return got > 0;
    });
    if (bands < 0 || plain < 0) {
        fprintf(stderr, "waveform decode failed\n");
        return 2;
    }
    report("decodeBands 4000 bars of a 5-min MP3, cost", bands, plain, bands / plain, false, 1.5);
    printf("%s\n", failures ? "some targets missed" : "all targets met");
    return failures ? 1 : 0;
}
