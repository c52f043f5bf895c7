#include "AudioFixture.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace AudioFixture {

static const char* encoderName(Codec c)
{
    switch (c) {
    case Codec::Mp3: return "libmp3lame";
    case Codec::Flac: return "flac";
    case Codec::Vorbis: return "libvorbis";
    }
    return "";
}

static const char* muxerName(Codec c)
{
    switch (c) {
    case Codec::Mp3: return "mp3";
    case Codec::Flac: return "flac";
    case Codec::Vorbis: return "ogg";
    }
    return "";
}

bool hasEncoder(Codec codec)
{
    return avcodec_find_encoder_by_name(encoderName(codec)) != nullptr;
}

bool encode(const QString& path, Codec codec, const QVector<qint16>& samples, int channels, int rate,
            QString* error, int bitrate)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    const AVCodec* enc = avcodec_find_encoder_by_name(encoderName(codec));
    if (!enc)
        return fail(QStringLiteral("no encoder %1").arg(encoderName(codec)));
    AVFormatContext* fmt = nullptr;
    const QByteArray p = QFile::encodeName(path);
    if (avformat_alloc_output_context2(&fmt, nullptr, muxerName(codec), p.constData()) < 0 || !fmt)
        return fail(QStringLiteral("no muxer"));
    AVCodecContext* ctx = avcodec_alloc_context3(enc);
    AVStream* st = avformat_new_stream(fmt, nullptr);
    SwrContext* swr = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* pkt = av_packet_alloc();
    bool ok = false;
    QString why;
    do {
        av_channel_layout_default(&ctx->ch_layout, channels);
        ctx->sample_rate = rate;
        ctx->sample_fmt = enc->sample_fmts ? enc->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        for (const AVSampleFormat* f = enc->sample_fmts; f && *f != AV_SAMPLE_FMT_NONE; ++f)
            if (*f == AV_SAMPLE_FMT_S16)
                ctx->sample_fmt = *f;
        if (codec != Codec::Flac)
            ctx->bit_rate = bitrate;
        ctx->time_base = AVRational{1, rate};
        if (fmt->oformat->flags & AVFMT_GLOBALHEADER)
            ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(ctx, enc, nullptr) < 0) {
            why = QStringLiteral("encoder refused the format");
            break;
        }
        avcodec_parameters_from_context(st->codecpar, ctx);
        st->time_base = ctx->time_base;
        if (avio_open(&fmt->pb, p.constData(), AVIO_FLAG_WRITE) < 0) {
            why = QStringLiteral("cannot write %1").arg(path);
            break;
        }
        if (avformat_write_header(fmt, nullptr) < 0) {
            why = QStringLiteral("header failed");
            break;
        }
        AVChannelLayout inLayout{};
        av_channel_layout_default(&inLayout, channels);
        swr_alloc_set_opts2(&swr, &ctx->ch_layout, ctx->sample_fmt, rate, &inLayout, AV_SAMPLE_FMT_S16, rate, 0,
                            nullptr);
        av_channel_layout_uninit(&inLayout);
        if (!swr || swr_init(swr) < 0) {
            why = QStringLiteral("converter failed");
            break;
        }
        const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : 4096;
        const qint64 total = samples.size() / channels;
        qint64 pos = 0;
        qint64 pts = 0;
        bool bad = false;
        auto drain = [&]() {
            while (avcodec_receive_packet(ctx, pkt) == 0) {
                av_packet_rescale_ts(pkt, ctx->time_base, st->time_base);
                pkt->stream_index = st->index;
                if (av_interleaved_write_frame(fmt, pkt) < 0)
                    bad = true;
            }
        };
        while (pos < total && !bad) {
            const int n = int(std::min<qint64>(frameSize, total - pos));
            av_frame_unref(frame);
            frame->nb_samples = n;
            frame->format = ctx->sample_fmt;
            av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
            frame->sample_rate = rate;
            if (av_frame_get_buffer(frame, 0) < 0) {
                bad = true;
                break;
            }
            const uint8_t* in[1] = {reinterpret_cast<const uint8_t*>(samples.constData() + pos * channels)};
            swr_convert(swr, frame->data, n, in, n);
            frame->pts = pts;
            pts += n;
            pos += n;
            if (avcodec_send_frame(ctx, frame) < 0)
                bad = true;
            drain();
        }
        avcodec_send_frame(ctx, nullptr);
        drain();
        if (bad || av_write_trailer(fmt) < 0) {
            why = QStringLiteral("encoding failed");
            break;
        }
        ok = true;
    } while (false);
    if (fmt && fmt->pb)
        avio_closep(&fmt->pb);
    av_packet_free(&pkt);
    av_frame_free(&frame);
    swr_free(&swr);
    avcodec_free_context(&ctx);
    avformat_free_context(fmt);
    if (!ok)
        return fail(why);
    return true;
}

} // namespace AudioFixture
