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

// A channel layout owned here: starts empty (a layout FFmpeg may uninit or
// copy into), and is released when it goes, whatever path leaves.
class OwnedLayout
{
public:
    OwnedLayout() = default;
    OwnedLayout(const OwnedLayout&) = delete;
    OwnedLayout& operator=(const OwnedLayout&) = delete;
    ~OwnedLayout() { av_channel_layout_uninit(&m_layout); }

    AVChannelLayout* get() { return &m_layout; }

private:
    AVChannelLayout m_layout{};
};

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
    const std::function<bool(const char*, qint64)>* consume = nullptr;
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
        if (n <= 0)
            return;
        frames += n;
        if (consume && *consume) {
            if (!(*consume)(reinterpret_cast<const char*>(data), n * bpf))
                full = true;
            return;
        }
        out->append(reinterpret_cast<const char*>(data), qsizetype(n * bpf));
    }
};

// Opens the file, picks its best audio stream and opens a decoder for it;
// the other streams are discarded. Returns the reason on failure.
QString openSource(Session& s, const QString& path, int* streamIndex, const AVCodec** codecOut,
                   const QByteArray& rawLayout = QByteArray())
{
    const QByteArray p = QFile::encodeName(path);
    AVDictionary* opts = nullptr;
    if (!rawLayout.isEmpty())
        av_dict_set(&opts, "ch_layout", rawLayout.constData(), 0);
    int err = avformat_open_input(&s.fmt, p.constData(), nullptr, &opts);
    av_dict_free(&opts);
    if (err < 0) {
        s.fmt = nullptr;
        return QStringLiteral("cannot open: %1").arg(avError(err));
    }
    if ((err = avformat_find_stream_info(s.fmt, nullptr)) < 0)
        return QStringLiteral("no stream information: %1").arg(avError(err));
    const AVCodec* codec = nullptr;
    const int si = av_find_best_stream(s.fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (si < 0 || !codec)
        return QStringLiteral("no decodable audio stream");
    AVStream* st = s.fmt->streams[si];
    for (unsigned i = 0; i < s.fmt->nb_streams; ++i)
        if (int(i) != si)
            s.fmt->streams[i]->discard = AVDISCARD_ALL;

    s.dec = avcodec_alloc_context3(codec);
    if (!s.dec || avcodec_parameters_to_context(s.dec, st->codecpar) < 0)
        return QStringLiteral("cannot set up the decoder");
    s.dec->pkt_timebase = st->time_base;
    s.dec->thread_count = 1;
    if ((err = avcodec_open2(s.dec, codec, nullptr)) < 0)
        return QStringLiteral("cannot open the %1 decoder: %2").arg(QString::fromUtf8(codec->name), avError(err));
    if (s.dec->sample_rate <= 0 || s.dec->ch_layout.nb_channels <= 0)
        return QStringLiteral("audio stream without rate or channels");
    // A rate no audio file has (a damaged header) would make the resampler
    // work for a very long time on a few bytes.
    if (s.dec->sample_rate < PcmDecoder::kMinSourceRate || s.dec->sample_rate > PcmDecoder::kMaxSourceRate)
        return QStringLiteral("unsupported sample rate %1").arg(s.dec->sample_rate);
    *streamIndex = si;
    *codecOut = codec;
    return QString();
}

// Converts whatever the decoder gives to the output format, and hands the
// result to the sink. Set up anew when the stream changes format.
class Converter
{
public:
    Converter(Session& s, const PcmDecoder::Options& options, Sink& sink)
        : m_s(s), m_sink(sink), m_channels(options.channels), m_rate(options.rate),
          m_outFmt(options.format == SampleFormat::S16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLT)
    {
        av_channel_layout_default(m_outLayout.get(), options.channels);
    }

    // Converts n samples of f from sample offset on.
    bool feed(const AVFrame* f, int offset, int n)
    {
        if (!m_started || f->sample_rate != m_inRate || AVSampleFormat(f->format) != m_inFmt
            || av_channel_layout_compare(&f->ch_layout, m_inLayout.get()) != 0) {
            if (m_started) {
                // The stream changed format: finish the old converter first.
                convert(nullptr, 0);
            }
            if (!setup(f))
                return false;
            m_started = true;
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
    }

    // Drains the resampler's tail.
    void flush()
    {
        if (m_s.swr)
            convert(nullptr, 0);
    }

private:
    bool setup(const AVFrame* f)
    {
        swr_free(&m_s.swr);
        if (av_channel_layout_copy(m_inLayout.get(), &f->ch_layout) < 0)
            return false;
        // A source that does not say which channel is where is taken in the
        // usual order for its channel count.
        OwnedLayout inLayout;
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || f->ch_layout.nb_channels <= 0)
            av_channel_layout_default(inLayout.get(), std::max(1, f->ch_layout.nb_channels));
        else if (av_channel_layout_copy(inLayout.get(), &f->ch_layout) < 0)
            return false;
        const int r = swr_alloc_set_opts2(&m_s.swr, m_outLayout.get(), m_outFmt, m_rate, inLayout.get(),
                                          AVSampleFormat(f->format), f->sample_rate, 0, nullptr);
        if (r >= 0 && inLayout.get()->nb_channels == 1 && m_channels == 2) {
            // A mono source plays at full level on both sides.
            const double both[2] = {1.0, 1.0};
            swr_set_matrix(m_s.swr, both, 1);
        }
        if (r < 0 || swr_init(m_s.swr) < 0) {
            swr_free(&m_s.swr);
            return false;
        }
        m_inRate = f->sample_rate;
        m_inFmt = AVSampleFormat(f->format);
        return true;
    }

    bool convert(const uint8_t** in, int inSamples)
    {
        const int cap = swr_get_out_samples(m_s.swr, inSamples);
        if (cap < 0)
            return false;
        if (cap == 0)
            return true;
        if (m_buf.size() < qsizetype(cap) * m_sink.bpf)
            m_buf.resize(qsizetype(cap) * m_sink.bpf);
        uint8_t* o = reinterpret_cast<uint8_t*>(m_buf.data());
        const int got = swr_convert(m_s.swr, &o, cap, in, inSamples);
        if (got < 0)
            return false;
        m_sink.take(o, got);
        return true;
    }

    Session& m_s;
    Sink& m_sink;
    const int m_channels;
    const int m_rate;
    const AVSampleFormat m_outFmt;
    OwnedLayout m_outLayout;
    OwnedLayout m_inLayout;
    int m_inRate = 0;
    AVSampleFormat m_inFmt = AV_SAMPLE_FMT_NONE;
    bool m_started = false;
    QByteArray m_buf;
};

// Where the output starts. The converter is fed from a point some way before
// the start, on a sample where input and output frames line up (its index
// times rate / sourceRate is whole), and its output before the start is
// dropped: so the converter's filter has the real history at the start and
// the frames equal those of a decode from the top.
struct StartPlacement
{
    static constexpr qint64 kPreroll = 4096;   // source samples of converter history

    int inRate = 0;
    int outRate = 0;
    qint64 startOut = 0;        // output frame the result begins at
    qint64 feedFrom = 0;        // source sample the converter is fed from
    qint64 feedPoint = 0;       // the same, moved on where a seek landed late
    qint64 srcPos = 0;          // source sample index of the next decoded sample
    bool positionKnown = true;
    AVRational timeBase{1, 1};
    int64_t streamStart = 0;

    StartPlacement(double startSecIn, int sourceRate, int rate, const AVStream* st)
        : inRate(sourceRate), outRate(rate), timeBase(st->time_base),
          streamStart(st->start_time != AV_NOPTS_VALUE ? st->start_time : 0)
    {
        // (Starts beyond a few months are past the end of any file.)
        const double startSec = startSecIn > 0.001 ? std::min(startSecIn, 1.0e7) : 0.0;
        startOut = qint64(std::llround(startSec * rate));
        const qint64 g = std::gcd(qint64(inRate), qint64(rate));
        const qint64 stepIn = inRate / g;
        const qint64 startSrc = startOut * inRate / rate;
        feedFrom = std::max<qint64>(0, startSrc - kPreroll) / stepIn * stepIn;
        feedPoint = feedFrom;
    }

    // Output frames to drop before the start when feeding from feedFrom.
    qint64 initialSkip() const
    {
        const qint64 g = std::gcd(qint64(inRate), qint64(outRate));
        return startOut - feedFrom / (inRate / g) * (outRate / g);
    }

    // Seeks near the start. MP3 seeks land by estimate, so starts into MP3
    // within the first minute are decoded from the top instead, which is exact.
    void seek(Session& s, int si, AVCodecID codec, double startSec)
    {
        const bool estimatedSeek = codec == AV_CODEC_ID_MP3 || codec == AV_CODEC_ID_MP2;
        if (feedFrom <= 0 || (estimatedSeek && startSec <= 60.0))
            return;
        const int64_t ts = av_rescale_q(feedFrom, AVRational{1, inRate}, timeBase);
        if (av_seek_frame(s.fmt, si, streamStart + ts, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(s.dec);
            positionKnown = false;      // taken from the first frame's timestamp
        }
    }

    // Places a decoded frame: false when all of it lies before the feed point;
    // else the first sample to feed and how many.
    bool place(const AVFrame* f, Sink& sink, int* offset, int* n)
    {
        if (!positionKnown) {
            const int64_t pts = f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
            srcPos = pts != AV_NOPTS_VALUE
                ? av_rescale_q(pts - streamStart, timeBase, AVRational{1, f->sample_rate})
                : feedFrom;
            positionKnown = true;
            if (srcPos > feedFrom) {
                // The seek landed late: the output begins at the first sample
                // there is, placed where it belongs.
                const qint64 outPos = srcPos * outRate / std::max(1, inRate);
                sink.skipFrames = std::max<qint64>(0, startOut - outPos);
                feedPoint = srcPos;
            }
        }
        *offset = 0;
        *n = f->nb_samples;
        if (srcPos + *n <= feedPoint) {
            srcPos += *n;
            return false;
        }
        if (srcPos < feedPoint) {
            *offset = int(feedPoint - srcPos);
            *n -= *offset;
        }
        srcPos += f->nb_samples;
        return true;
    }
};

// Reserves what the range needs (or the file's length), never more than
// 60 MiB up front.
void reserveOutput(QByteArray& result, const Session& s, const PcmDecoder::Options& options, qint64 startOut,
                   int bpf)
{
    qint64 expect = options.maxFrames;
    if (expect < 0 && s.fmt->duration > 0)
        expect = qint64(double(s.fmt->duration) / AV_TIME_BASE * options.rate) - startOut + options.rate / 10;
    if (expect > 0)
        result.reserve(qsizetype(std::min<qint64>(expect * bpf, 62914560)));
}

enum class ReadEnd { Done, ConvertFailed };

// Reads packets of the stream and decodes them, handing every frame to
// onFrame, until the end of the file, a read error or a full sink.
template<typename OnFrame>
ReadEnd readFrames(Session& s, int si, const Sink& sink, PcmDecoder::Info& inf, OnFrame onFrame)
{
    int consecutiveReadErrors = 0;
    bool eof = false;
    while (!eof && !sink.full) {
        int err = av_read_frame(s.fmt, s.pkt);
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
            const bool ok = onFrame(s.frame);
            av_frame_unref(s.frame);
            if (!ok)
                return ReadEnd::ConvertFailed;
            if (sink.full)
                break;
        }
    }
    return ReadEnd::Done;
}

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
    int si = -1;
    const AVCodec* codec = nullptr;
    const QString why = openSource(s, path, &si, &codec, options.rawLayout);
    if (!why.isEmpty())
        return fail(why);
    inf.sourceRate = s.dec->sample_rate;
    inf.sourceChannels = s.dec->ch_layout.nb_channels;
    inf.codec = QString::fromUtf8(codec->name);
    if (s.fmt->duration > 0)
        inf.durationMs = s.fmt->duration / (AV_TIME_BASE / 1000);

    s.pkt = av_packet_alloc();
    s.frame = av_frame_alloc();
    if (!s.pkt || !s.frame)
        return fail(QStringLiteral("out of memory"));

    StartPlacement start(options.startSec, s.dec->sample_rate, options.rate, s.fmt->streams[si]);
    start.seek(s, si, codec->id, options.startSec > 0.001 ? std::min(options.startSec, 1.0e7) : 0.0);

    Sink sink;
    sink.out = &result;
    sink.consume = &options.consume;
    sink.skipFrames = start.initialSkip();
    sink.bpf = options.channels * (options.format == SampleFormat::S16 ? 2 : 4);
    sink.limitFrames = options.maxFrames;
    sink.capFrames = qint64(kMaxOutputSeconds) * options.rate;
    if (options.maxFrames == 0)
        return true;
    if (!options.consume)
        reserveOutput(result, s, options, start.startOut, sink.bpf);

    Converter converter(s, options, sink);
    const ReadEnd end = readFrames(s, si, sink, inf, [&](AVFrame* f) {
        if (f->nb_samples <= 0 || f->sample_rate < kMinSourceRate || f->sample_rate > kMaxSourceRate)
            return true;
        int offset = 0;
        int n = 0;
        if (!start.place(f, sink, &offset, &n))
            return true;
        return converter.feed(f, offset, n);
    });
    if (end == ReadEnd::ConvertFailed) {
        if (error)
            *error = QStringLiteral("cannot convert the audio");
        if (result.isEmpty())
            return fail(QStringLiteral("cannot convert the audio"));
        inf.readError = true;
    }
    if (!sink.full)
        converter.flush();
    inf.truncated = sink.truncated;
    // Give back unused reserved space: a block kept for long should not hold
    // more than it uses.
    if (result.capacity() - result.size() > result.size() / 16 + 4096)
        result.squeeze();
    return true;
}

bool PcmDecoder::probe(const QString& path, Info* info)
{
    if (path.isEmpty() || !info)
        return false;
    Session s;
    int si = -1;
    const AVCodec* codec = nullptr;
    if (!openSource(s, path, &si, &codec).isEmpty())
        return false;
    *info = Info();
    info->sourceRate = s.dec->sample_rate;
    info->sourceChannels = s.dec->ch_layout.nb_channels;
    info->codec = QString::fromUtf8(codec->name);
    if (s.fmt->duration > 0)
        info->durationMs = s.fmt->duration / (AV_TIME_BASE / 1000);
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
