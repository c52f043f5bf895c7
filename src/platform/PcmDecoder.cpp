#include "PcmDecoder.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {

QString avError(int err)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(err, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

// Everything one decode owns; released in the destructor whatever happens.
struct Session
{
    AVFormatContext* fmt = nullptr;
    AVCodecContext* dec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* pkt = nullptr;
    AVFrame* frame = nullptr;

    ~Session()
    {
        av_frame_free(&frame);
        av_packet_free(&pkt);
        swr_free(&swr);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }
};

// Collects converted output: drops frames before the start, stops at the
// limit and at the cap.
struct Sink
{
    QByteArray* out = nullptr;
    int bpf = 4;
    qint64 skipFrames = 0;      // output frames still to drop before the start
    qint64 limitFrames = -1;    // frames still wanted (-1 none)
    qint64 capFrames = 0;
    qint64 frames = 0;
    bool full = false;
    bool truncated = false;

    void take(const uint8_t* data, qint64 n)
    {
        if (full || n <= 0)
            return;
        if (skipFrames > 0) {
            const qint64 s = std::min(skipFrames, n);
            skipFrames -= s;
            data += s * bpf;
            n -= s;
            if (n <= 0)
                return;
        }
        if (limitFrames >= 0 && n >= limitFrames - frames) {
            n = limitFrames - frames;
            full = true;
        }
        if (frames + n >= capFrames) {
            if (frames + n > capFrames)
                truncated = true;
            n = capFrames - frames;
            full = true;
        }
        if (n > 0) {
            out->append(reinterpret_cast<const char*>(data), qsizetype(n * bpf));
            frames += n;
        }
    }
};

} // namespace

bool PcmDecoder::decode(const QString& path, const Options& options, QByteArray* out, QString* error,
                        Info* info)
{
    QByteArray local;
    QByteArray& result = out ? *out : local;
    result.clear();
    Info localInfo;
    Info& inf = info ? *info : localInfo;
    inf = Info();
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        result.clear();
        return false;
    };
    if (options.channels < 1 || options.channels > 2 || options.rate < 8000 || options.rate > 384000)
        return fail(QStringLiteral("unsupported output format"));
    if (path.isEmpty())
        return fail(QStringLiteral("no file given"));

    Session s;
    const QByteArray p = QFile::encodeName(path);
    int err = avformat_open_input(&s.fmt, p.constData(), nullptr, nullptr);
    if (err < 0) {
        s.fmt = nullptr;
        return fail(QStringLiteral("cannot open: %1").arg(avError(err)));
    }
    if ((err = avformat_find_stream_info(s.fmt, nullptr)) < 0)
        return fail(QStringLiteral("no stream information: %1").arg(avError(err)));
    const AVCodec* codec = nullptr;
    const int si = av_find_best_stream(s.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (si < 0 || !codec)
        return fail(QStringLiteral("no decodable audio stream"));
    AVStream* st = s.fmt->streams[si];
    for (unsigned i = 0; i < s.fmt->nb_streams; ++i)
        if (int(i) != si)
            s.fmt->streams[i]->discard = AVDISCARD_ALL;

    s.dec = avcodec_alloc_context3(codec);
    if (!s.dec || avcodec_parameters_to_context(s.dec, st->codecpar) < 0)
        return fail(QStringLiteral("cannot set up the decoder"));
    s.dec->pkt_timebase = st->time_base;
    s.dec->thread_count = 1;
    if ((err = avcodec_open2(s.dec, codec, nullptr)) < 0)
        return fail(QStringLiteral("cannot open the %1 decoder: %2").arg(QString::fromUtf8(codec->name), avError(err)));
    if (s.dec->sample_rate <= 0 || s.dec->ch_layout.nb_channels <= 0)
        return fail(QStringLiteral("audio stream without rate or channels"));
    // A rate no audio file has (a damaged header) would make the resampler
    // work for a very long time on a few bytes.
    if (s.dec->sample_rate < kMinSourceRate || s.dec->sample_rate > kMaxSourceRate)
        return fail(QStringLiteral("unsupported sample rate %1").arg(s.dec->sample_rate));
    inf.sourceRate = s.dec->sample_rate;
    inf.sourceChannels = s.dec->ch_layout.nb_channels;
    inf.codec = QString::fromUtf8(codec->name);

    const AVSampleFormat outFmt = options.format == SampleFormat::S16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT;
    const int bpf = options.channels * (options.format == SampleFormat::S16 ? 2 : 4);
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, options.channels);

    s.pkt = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.pkt || !s.frame)
        return fail(QStringLiteral("out of memory"));

    // Where the output starts. The converter is fed from a point P some way
    // before the start, on a sample where input and output frames line up
    // (P * rate / sourceRate is whole), and its output before the start is
    // dropped: so the converter's filter has the real history at the start
    // and the frames equal those of a decode from the top.
    // (Starts beyond a few months are past the end of any file.)
    const double startSec = options.startSec > 0.001 ? std::min(options.startSec, 1.0e7) : 0.0;
    const int inRate = s.dec->sample_rate;
    const qint64 startOut = qint64(std::llround(startSec * options.rate));
    const qint64 g = std::gcd(qint64(inRate), qint64(options.rate));
    const qint64 stepIn = inRate / g;
    const qint64 stepOut = options.rate / g;
    constexpr qint64 kPreroll = 4096;   // source samples of converter history
    const qint64 startSrc = startOut * inRate / options.rate;
    const qint64 feedFrom = std::max<qint64>(0, startSrc - kPreroll) / stepIn * stepIn;
    qint64 srcPos = 0;        // source sample index of the next decoded sample
    bool positionKnown = true;

    // Seek near the start. MP3 seeks land by estimate, so starts into MP3
    // within the first minute are decoded from the top instead, which is exact.
    const bool estimatedSeek = codec->id == AV_CODEC_ID_MP3 || codec->id == AV_CODEC_ID_MP2;
    if (feedFrom > 0 && !(estimatedSeek && startSec <= 60.0)) {
        const int64_t ts = av_rescale_q(feedFrom, AVRational{1, inRate}, st->time_base);
        const int64_t base = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        if (av_seek_frame(s.fmt, si, base + ts, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(s.dec);
            positionKnown = false;      // taken from the first frame's timestamp
        }
    }
    const int64_t streamStart = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;

    Sink sink;
    sink.out = &result;
    sink.skipFrames = startOut - feedFrom / stepIn * stepOut;
    qint64 feedPoint = feedFrom;
    sink.bpf = bpf;
    sink.limitFrames = options.maxFrames;
    sink.capFrames = qint64(kMaxOutputSeconds) * options.rate;
    if (options.maxFrames == 0)
        return true;

    // Reserve what the range needs (or the file's length), never more than
    // 60 MiB up front.
    qint64 expect = options.maxFrames;
    if (expect < 0 && s.fmt->duration > 0)
        expect = qint64(double(s.fmt->duration) / AV_TIME_BASE * options.rate) - startOut + options.rate / 10;
    if (expect > 0)
        result.reserve(qsizetype(std::min<qint64>(expect * bpf, 62914560)));

    const int swrRate = options.rate;
    int swrInRate = 0;
    AVSampleFormat swrInFmt = AV_SAMPLE_FMT_NONE;
    AVChannelLayout swrInLayout{};
    QByteArray convBuf;

    auto setupSwr = [&](const AVFrame* f) -> bool {
        swr_free(&s.swr);
        av_channel_layout_uninit(&swrInLayout);
        if (av_channel_layout_copy(&swrInLayout, &f->ch_layout) < 0)
            return false;
        AVChannelLayout inLayout;
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f->ch_layout.nb_channels <= 0)
            av_channel_layout_default(&inLayout, std::max(1, f->ch_layout.nb_channels));
        else if (av_channel_layout_copy(&inLayout, &f->ch_layout) < 0)
            return false;
        int r = swr_alloc_set_opts2(&s.swr, &outLayout, outFmt, swrRate, &inLayout,
                                    AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
        if (r >= 0 && inLayout.nb_channels == 1 && options.channels == 2) {
            // A mono source plays at full level on both sides.
            const double both[2] = {1.0, 1.0};
            swr_set_matrix(s.swr, both, 1);
        }
        av_channel_layout_uninit(&inLayout);
        if (r < 0 || swr_init(s.swr) < 0) {
            swr_free(&s.swr);
            return false;
        }
        swrInRate = f->sample_rate;
        swrInFmt = AVSampleFormat(f->format);
        return true;
    };

    auto convert = [&](const uint8_t** in, int inSamples) -> bool {
        const int cap = swr_get_out_samples(s.swr, inSamples);
        if (cap < 0)
            return false;
        if (cap == 0)
            return true;
        if (convBuf.size() < qsizetype(cap) * bpf)
            convBuf.resize(qsizetype(cap) * bpf);
        uint8_t* o = reinterpret_cast<uint8_t*>(convBuf.data());
        const int got = swr_convert(s.swr, &o, cap, in, inSamples);
        if (got < 0)
            return false;
        sink.take(o, got);
        return true;
    };

    bool swrStarted = false;
    auto handleFrame = [&](AVFrame* f) -> bool {
        if (f->nb_samples <= 0 || f->sample_rate < kMinSourceRate || f->sample_rate > kMaxSourceRate)
            return true;
        if (!positionKnown) {
            const int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
            srcPos = pts != AV_NOPTS_VALUE
                ? av_rescale_q(pts - streamStart, st->time_base, AVRational{1, f->sample_rate})
                : feedFrom;
            positionKnown = true;
            if (srcPos > feedFrom) {
                // The seek landed late: the output begins at the first sample
                // there is, placed where it belongs.
                const qint64 outPos = srcPos * options.rate / std::max(1, inRate);
                sink.skipFrames = std::max<qint64>(0, startOut - outPos);
                feedPoint = srcPos;
            }
        }
        int offset = 0;
        int n = f->nb_samples;
        if (srcPos + n <= feedPoint) {
            srcPos += n;
            return true;
        }
        if (srcPos < feedPoint) {
            offset = int(feedPoint - srcPos);
            n -= offset;
        }
        srcPos += f->nb_samples;
        if (!swrStarted || f->sample_rate != swrInRate || AVSampleFormat(f->format) != swrInFmt
            || av_channel_layout_compare(&f->ch_layout, &swrInLayout) != 0) {
            if (swrStarted) {
                // The stream changed format: finish the old converter first.
                convert(nullptr, 0);
            }
            if (!setupSwr(f))
                return false;
            swrStarted = true;
        }
        const uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
        const bool planar = av_sample_fmt_is_planar(AVSampleFormat(f->format));
        const int bps = av_get_bytes_per_sample(AVSampleFormat(f->format));
        const int chans = f->ch_layout.nb_channels;
        if (planar) {
            for (int c = 0; c < chans && c < AV_NUM_DATA_POINTERS; ++c)
                planes[c] = f->extended_data[c] + qsizetype(offset) * bps;
        } else {
            planes[0] = f->extended_data[0] + qsizetype(offset) * bps * chans;
        }
        if (planar && chans > AV_NUM_DATA_POINTERS) {
            // Many-channel planar frames: hand over extended_data directly.
            if (offset != 0)
                return true;
            return convert(const_cast<const uint8_t**>(f->extended_data), n);
        }
        return convert(planes, n);
    };


    int consecutiveReadErrors = 0;
    bool eof = false;
    while (!eof && !sink.full) {
        err = av_read_frame(s.fmt, s.pkt);
        if (err == AVERROR(EAGAIN)) {
            if (++consecutiveReadErrors > 100)
                break;
            continue;
        }
        if (err == AVERROR_EOF || err < 0) {
            if (err != AVERROR_EOF && !avio_feof(s.fmt->pb))
                inf.readError = true;
            eof = true;
            avcodec_send_packet(s.dec, nullptr);    // drain
        } else {
            consecutiveReadErrors = 0;
            if (s.pkt->stream_index != si) {
                av_packet_unref(s.pkt);
                continue;
            }
            err = avcodec_send_packet(s.dec, s.pkt);
            av_packet_unref(s.pkt);
            if (err < 0 && err != AVERROR(EAGAIN)) {
                if (err == AVERROR_EOF)
                    break;
                // A packet the decoder rejects is skipped.
                ++inf.corruptPackets;
                continue;
            }
        }
        for (;;) {
            err = avcodec_receive_frame(s.dec, s.frame);
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
                break;
            if (err < 0) {
                ++inf.corruptPackets;
                break;
            }
            const bool ok = handleFrame(s.frame);
            av_frame_unref(s.frame);
            if (!ok) {
                if (error)
                    *error = QStringLiteral("cannot convert the audio");
                av_channel_layout_uninit(&swrInLayout);
                av_channel_layout_uninit(&outLayout);
                if (result.isEmpty())
                    return fail(QStringLiteral("cannot convert the audio"));
                inf.readError = true;
                eof = true;
                break;
            }
            if (sink.full)
                break;
        }
    }
    // Flush the resampler's tail.
    if (s.swr && !sink.full)
        convert(nullptr, 0);
    av_channel_layout_uninit(&swrInLayout);
    av_channel_layout_uninit(&outLayout);
    inf.truncated = sink.truncated;
    // Give back unused reserved space: a block kept for long should not hold
    // more than it uses.
    if (result.capacity() - result.size() > result.size() / 16 + 4096)
        result.squeeze();
    return true;
}

QByteArray PcmDecoder::decodeS16Stereo44100(const QString& path, double startSec, qint64 maxFrames,
                                            QString* error)
{
    Options o;
    o.startSec = startSec;
    o.maxFrames = maxFrames;
    QByteArray out;
    if (!decode(path, o, &out, error))
        return QByteArray();
    return out;
}
