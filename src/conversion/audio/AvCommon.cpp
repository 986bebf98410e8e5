#include "conversion/audio/AvCommon.h"

#include <QFile>
#include <QLoggingCategory>
#include <QtGlobal>

#include <chrono>
#include <cmath>
#include <mutex>

#include <cstdarg>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

namespace av {

QString errorText(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromUtf8(buf);
}

// FFmpeg takes "proto:..." prefixes in names; a "file:" prefix keeps a name with a colon a
// plain file.
static QByteArray fileUrl(const QByteArray &path)
{
    return QByteArrayLiteral("file:") + path;
}

// ---- Input --------------------------------------------------------------------------------

Input::~Input()
{
    if (m_ctx)
        avformat_close_input(&m_ctx);
}

namespace {

Q_LOGGING_CATEGORY(lcMediaLibraries, "perchbox.media", QtInfoMsg)

// FFmpeg hands a line over in pieces; each thread gathers its own until the line ends.
void logToCategory(void *avcl, int level, const char *format, va_list args)
{
    if (level > AV_LOG_VERBOSE || !lcMediaLibraries().isDebugEnabled())
        return;
    thread_local QByteArray pending;
    thread_local int printPrefix = 1;
    char piece[1024];
    av_log_format_line2(avcl, level, format, args, piece, sizeof piece, &printPrefix);
    pending += piece;
    while (true) {
        const qsizetype end = pending.indexOf('\n');
        if (end < 0)
            break;
        qCDebug(lcMediaLibraries, "ffmpeg: %s", pending.left(end).constData());
        pending.remove(0, end + 1);
    }
}

} // namespace

void routeLibraryLogs()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Nothing of FFmpeg's reaches standard error; its lines are formatted at all only
        // while our debug log is on.
        av_log_set_level(lcMediaLibraries().isDebugEnabled() ? AV_LOG_VERBOSE : AV_LOG_QUIET);
        av_log_set_callback(&logToCategory);
    });
}

bool endsEarly(double expected, double reached)
{
    if (!(expected > 0) || !std::isfinite(expected))
        return false;
    const double missing = expected - std::max(reached, 0.0);
    return missing > 0.5 && missing > 0.02 * expected;
}

double missingPcmSeconds(const QByteArray &path, double *promised)
{
    *promised = 0;
    QFile file(QFile::decodeName(path));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 size = file.size();
    const QByteArray head = file.read(12);
    if (head.size() < 12)
        return 0;
    const bool wave = head.startsWith("RIFF") && head.mid(8, 4) == "WAVE";
    const bool aiff = head.startsWith("FORM") && (head.mid(8, 4) == "AIFF" || head.mid(8, 4) == "AIFC");
    if (!wave && !aiff)
        return 0;
    auto u16 = [wave](const QByteArray &b, int at) {
        const auto *d = reinterpret_cast<const uchar *>(b.constData()) + at;
        return wave ? quint32(d[0] | d[1] << 8) : quint32(d[0] << 8 | d[1]);
    };
    auto u32 = [wave](const QByteArray &b, int at) {
        const auto *d = reinterpret_cast<const uchar *>(b.constData()) + at;
        return wave ? quint32(d[0]) | quint32(d[1]) << 8 | quint32(d[2]) << 16 | quint32(d[3]) << 24
                    : quint32(d[0]) << 24 | quint32(d[1]) << 16 | quint32(d[2]) << 8 | quint32(d[3]);
    };
    double bytesPerSecond = 0;
    qint64 at = 12;
    for (int chunks = 0; chunks < 64 && at + 8 <= size; ++chunks) {
        if (!file.seek(at))
            return 0;
        const QByteArray header = file.read(8);
        if (header.size() < 8)
            return 0;
        const QByteArray id = header.left(4);
        const quint32 length = u32(header, 4);
        if (wave && id == "fmt ") {
            const QByteArray fmt = file.read(16);
            if (fmt.size() == 16)
                bytesPerSecond = u32(fmt, 8);
        } else if (aiff && id == "COMM") {
            const QByteArray comm = file.read(18);
            if (comm.size() == 18) {
                // Channels, frames, bits, then the rate as an 80-bit extended float.
                const int exponent = int(u16(comm, 8) & 0x7FFF) - 16383;
                const quint64 mantissa = quint64(u32(comm, 10)) << 32 | u32(comm, 14);
                const double rate = std::ldexp(double(mantissa), exponent - 63);
                bytesPerSecond = rate * u16(comm, 0) * ((u16(comm, 6) + 7) / 8);
            }
        } else if ((wave && id == "data") || (aiff && id == "SSND")) {
            const qint64 body = at + 8 + (aiff ? 8 : 0);
            const qint64 declared = qint64(length) - (aiff ? 8 : 0);
            if (length == 0 || length == 0xFFFFFFFFu || declared <= 0 || !(bytesPerSecond > 0))
                return 0; // a length left open: written while streaming
            *promised = declared / bytesPerSecond;
            const qint64 held = std::max<qint64>(size - body, 0);
            return declared > held ? (declared - held) / bytesPerSecond : 0;
        }
        at += 8 + qint64(length) + (length & 1);
    }
    return 0;
}

int nearestSupportedSampleRate(const AVCodec *encoder, int wanted)
{
    if (!encoder || !encoder->supported_samplerates)
        return wanted;
    int best = 0;
    for (const int *rate = encoder->supported_samplerates; *rate; ++rate) {
        const int distance = std::abs(*rate - wanted), bestDistance = std::abs(best - wanted);
        if (best == 0 || distance < bestDistance || (distance == bestDistance && *rate > best))
            best = *rate;
    }
    return best > 0 ? best : wanted;
}

bool Input::open(const QByteArray &path, QString *error)
{
    routeLibraryLogs();
    struct stat st;
    if (::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error)
            *error = ::access(path.constData(), F_OK) == 0 ? kNotRegularFileMessage
                                                            : QStringLiteral("The file no longer exists");
        return false;
    }
    int ret = avformat_open_input(&m_ctx, fileUrl(path).constData(), nullptr, nullptr);
    if (ret < 0) {
        m_ctx = nullptr;
        if (error)
            *error = QStringLiteral("Cannot open the file: %1").arg(errorText(ret));
        return false;
    }
    ret = avformat_find_stream_info(m_ctx, nullptr);
    if (ret < 0) {
        if (error)
            *error = QStringLiteral("Cannot read the file's streams: %1").arg(errorText(ret));
        return false;
    }
    return true;
}

int Input::firstStream(AVMediaType type) const
{
    if (!m_ctx)
        return -1;
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
        const AVStream *st = m_ctx->streams[i];
        if (st->codecpar->codec_type != type)
            continue;
        // Cover art comes as a one-picture "video" stream; it is not a video track.
        if (type == AVMEDIA_TYPE_VIDEO && (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        return int(i);
    }
    return -1;
}

double Input::durationSeconds() const
{
    if (!m_ctx)
        return 0;
    if (m_ctx->duration != AV_NOPTS_VALUE && m_ctx->duration > 0)
        return double(m_ctx->duration) / AV_TIME_BASE;
    double longest = 0;
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
        const AVStream *st = m_ctx->streams[i];
        if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
            longest = std::max(longest, st->duration * av_q2d(st->time_base));
    }
    return longest;
}

double Input::startSeconds() const
{
    if (!m_ctx || m_ctx->start_time == AV_NOPTS_VALUE)
        return 0;
    return double(m_ctx->start_time) / AV_TIME_BASE;
}

double Input::expectedStreamSeconds(int index) const
{
    if (!m_ctx || index < 0 || unsigned(index) >= m_ctx->nb_streams)
        return 0;
    // A length guessed from the bit rate (a VBR MP3 without its header) proves nothing.
    if (m_ctx->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE)
        return 0;
    const AVStream *st = m_ctx->streams[index];
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        return st->duration * av_q2d(st->time_base);
    // The container's length is the longest track's: it speaks for this one only when it
    // is the only track (sound may rightly end before the picture).
    for (unsigned i = 0; i < m_ctx->nb_streams; ++i) {
        const AVStream *other = m_ctx->streams[i];
        const AVMediaType type = other->codecpar->codec_type;
        if (int(i) != index && (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_VIDEO)
            && !(other->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return 0;
    }
    return durationSeconds();
}

double Input::streamStartSeconds(int index) const
{
    if (!m_ctx || index < 0 || unsigned(index) >= m_ctx->nb_streams)
        return 0;
    const AVStream *st = m_ctx->streams[index];
    if (st->start_time != AV_NOPTS_VALUE)
        return st->start_time * av_q2d(st->time_base);
    return startSeconds();
}

// ---- Output -------------------------------------------------------------------------------

Output::~Output()
{
    if (!m_finished)
        discard();
}

bool Output::create(const QByteArray &path, const char *muxer, QString *error)
{
    m_path = path;
    ::unlink(path.constData()); // a staged name is ours to replace
    int ret = avformat_alloc_output_context2(&m_ctx, nullptr, muxer, fileUrl(path).constData());
    if (ret < 0 || !m_ctx) {
        m_ctx = nullptr;
        if (error)
            *error = QStringLiteral("Cannot create the %1 writer: %2")
                         .arg(QString::fromLatin1(muxer), errorText(ret));
        return false;
    }
    ret = avio_open(&m_ctx->pb, fileUrl(path).constData(), AVIO_FLAG_WRITE);
    if (ret < 0) {
        if (error)
            *error = QStringLiteral("Cannot create the output file: %1").arg(errorText(ret));
        return false;
    }
    return true;
}

bool Output::globalHeader() const
{
    return m_ctx && (m_ctx->oformat->flags & AVFMT_GLOBALHEADER);
}

bool Output::writeHeader(AVDictionary **options, QString *error)
{
    int ret = avformat_write_header(m_ctx, options);
    if (ret < 0) {
        if (error)
            *error = QStringLiteral("Cannot start writing: %1").arg(errorText(ret));
        return false;
    }
    m_headerWritten = true;
    return true;
}

int Output::write(AVPacket *packet)
{
    return av_interleaved_write_frame(m_ctx, packet);
}

bool Output::finish(QString *error)
{
    int ret = m_headerWritten ? av_write_trailer(m_ctx) : AVERROR(EINVAL);
    if (ret >= 0 && m_ctx->pb)
        ret = m_ctx->pb->error;
    if (ret < 0) {
        if (error)
            *error = QStringLiteral("Cannot finish the file: %1").arg(errorText(ret));
        discard();
        return false;
    }
    close();
    m_finished = true;
    return true;
}

void Output::close()
{
    if (!m_ctx)
        return;
    if (m_ctx->pb)
        avio_closep(&m_ctx->pb);
    avformat_free_context(m_ctx);
    m_ctx = nullptr;
}

void Output::discard()
{
    close();
    if (!m_path.isEmpty())
        ::unlink(m_path.constData());
    m_finished = true;
}

// ---- Decoders -----------------------------------------------------------------------------

CodecContextPtr openDecoder(const AVStream *stream, QString *error)
{
    const AVCodec *codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) {
        if (error)
            *error = QStringLiteral("No decoder for %1")
                         .arg(QString::fromLatin1(avcodec_get_name(stream->codecpar->codec_id)));
        return {};
    }
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    int ret = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (ret >= 0) {
        ctx->pkt_timebase = stream->time_base;
        ctx->thread_count = 0; // one per core
        ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
        ret = avcodec_open2(ctx.get(), codec, nullptr);
    }
    if (ret < 0) {
        if (error)
            *error = QStringLiteral("Cannot open the %1 decoder: %2")
                         .arg(QString::fromLatin1(codec->name), errorText(ret));
        return {};
    }
    return ctx;
}

AudioSourceFacts audioSourceFacts(const AVCodecParameters *par)
{
    AudioSourceFacts facts;
    facts.sampleRate = par->sample_rate > 0 ? par->sample_rate : 44100;
    facts.channels = par->ch_layout.nb_channels > 0 ? par->ch_layout.nb_channels : 2;

    switch (par->codec_id) {
    case AV_CODEC_ID_PCM_F16LE:
    case AV_CODEC_ID_PCM_F24LE:
    case AV_CODEC_ID_PCM_F32BE:
    case AV_CODEC_ID_PCM_F32LE:
    case AV_CODEC_ID_PCM_F64BE:
    case AV_CODEC_ID_PCM_F64LE:
        facts.isFloat = true;
        break;
    default:
        break;
    }

    // Compressed (lossy) formats have no bit depth of their own.
    int bits = 0;
    const AVCodecDescriptor *desc = avcodec_descriptor_get(par->codec_id);
    const bool lossy = desc && (desc->props & AV_CODEC_PROP_LOSSY);
    if (!lossy) {
        bits = av_get_bits_per_sample(par->codec_id); // PCM codecs
        if (bits <= 0)
            bits = par->bits_per_raw_sample;
        if (bits <= 0)
            bits = par->bits_per_coded_sample;
    }
    facts.bitsPerChannel = bits > 0 ? bits : 16;
    return facts;
}

// ---- Audio chain --------------------------------------------------------------------------

bool AudioChain::open(const AVStream *in, Output &out, const AudioEncodeSpec &spec, QString *error)
{
    m_in = in;
    m_out = &out;
    m_dec = openDecoder(in, error);
    if (!m_dec)
        return false;

    const AVCodec *codec = avcodec_find_encoder(spec.codec);
    if (!codec) {
        if (error)
            *error = QStringLiteral("No %1 encoder").arg(QString::fromLatin1(avcodec_get_name(spec.codec)));
        return false;
    }
    m_enc.reset(avcodec_alloc_context3(codec));
    AVCodecContext *enc = m_enc.get();
    // AAC stops at 96 kHz: a higher rate asked for becomes the nearest one the encoder
    // takes (as LAME is told for MP3), instead of failing every file.
    enc->sample_rate = nearestSupportedSampleRate(codec, spec.sampleRate);
    const AVChannelLayout &inLayout = in->codecpar->ch_layout;
    if (inLayout.nb_channels == spec.channels && inLayout.order == AV_CHANNEL_ORDER_NATIVE)
        av_channel_layout_copy(&enc->ch_layout, &inLayout);
    else
        av_channel_layout_default(&enc->ch_layout, spec.channels);
    enc->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    enc->time_base = AVRational{1, enc->sample_rate};
    if (spec.bitRate > 0)
        enc->bit_rate = spec.bitRate;
    if (out.globalHeader())
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int ret = avcodec_open2(enc, codec, nullptr);
    if (ret < 0) {
        if (error)
            *error = QStringLiteral("Cannot open the %1 encoder (%2 Hz, %3 ch): %4")
                         .arg(QString::fromLatin1(codec->name))
                         .arg(enc->sample_rate)
                         .arg(spec.channels)
                         .arg(errorText(ret));
        return false;
    }
    m_outStream = avformat_new_stream(out.ctx(), nullptr);
    if (!m_outStream || avcodec_parameters_from_context(m_outStream->codecpar, enc) < 0) {
        if (error)
            *error = QStringLiteral("Cannot add the audio track");
        return false;
    }
    m_outStream->time_base = enc->time_base;
    return true;
}

int AudioChain::buildGraph(const AVFrame *first)
{
    m_graph.reset(avfilter_graph_alloc());
    AVFilterGraph *g = m_graph.get();
    m_src = m_sink = nullptr;

    AVChannelLayout inLayout{};
    if (first->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || first->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(first->ch_layout.nb_channels, 1));
    else
        av_channel_layout_copy(&inLayout, &first->ch_layout);
    char inLayoutText[128] = {};
    av_channel_layout_describe(&inLayout, inLayoutText, sizeof inLayoutText);
    av_channel_layout_uninit(&inLayout);
    char outLayoutText[128] = {};
    av_channel_layout_describe(&m_enc->ch_layout, outLayoutText, sizeof outLayoutText);

    const QByteArray srcArgs = QStringLiteral("time_base=1/%1:sample_rate=%1:sample_fmt=%2:channel_layout=%3")
                                   .arg(first->sample_rate)
                                   .arg(QString::fromLatin1(av_get_sample_fmt_name(AVSampleFormat(first->format))),
                                        QString::fromLatin1(inLayoutText))
                                   .toLatin1();
    const QByteArray fmtArgs = QStringLiteral("sample_fmts=%1:sample_rates=%2:channel_layouts=%3")
                                   .arg(QString::fromLatin1(av_get_sample_fmt_name(m_enc->sample_fmt)))
                                   .arg(m_enc->sample_rate)
                                   .arg(QString::fromLatin1(outLayoutText))
                                   .toLatin1();
    AVFilterContext *resample = nullptr;
    AVFilterContext *format = nullptr;
    int ret = avfilter_graph_create_filter(&m_src, avfilter_get_by_name("abuffer"), "in", srcArgs.constData(), nullptr, g);
    if (ret >= 0)
        ret = avfilter_graph_create_filter(&resample, avfilter_get_by_name("aresample"), "resample", nullptr, nullptr, g);
    if (ret >= 0)
        ret = avfilter_graph_create_filter(&format, avfilter_get_by_name("aformat"), "format", fmtArgs.constData(), nullptr, g);
    if (ret >= 0)
        ret = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("abuffersink"), "out", nullptr, nullptr, g);
    if (ret >= 0)
        ret = avfilter_link(m_src, 0, resample, 0);
    if (ret >= 0)
        ret = avfilter_link(resample, 0, format, 0);
    if (ret >= 0)
        ret = avfilter_link(format, 0, m_sink, 0);
    if (ret >= 0)
        ret = avfilter_graph_config(g, nullptr);
    if (ret < 0) {
        m_error = QStringLiteral("Cannot set up audio conversion: %1").arg(errorText(ret));
        return ret;
    }
    if (m_enc->frame_size > 0 && !(m_enc->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE))
        av_buffersink_set_frame_size(m_sink, unsigned(m_enc->frame_size));
    m_inSamples = 0;
    return 0;
}

int AudioChain::pushToGraph(AVFrame *frame)
{
    if (m_graph) {
        // A change of rate, format or layout mid-stream needs a new graph: drain the old one.
        const AVFilterLink *link = m_src->outputs[0];
        if (link->sample_rate != frame->sample_rate || link->format != frame->format
            || link->ch_layout.nb_channels != frame->ch_layout.nb_channels) {
            int ret = av_buffersrc_add_frame(m_src, nullptr);
            if (ret >= 0)
                ret = pullFromGraph();
            if (ret < 0)
                return ret;
            m_graph.reset();
        }
    }
    if (!m_graph) {
        int ret = buildGraph(frame);
        if (ret < 0)
            return ret;
    }
    frame->pts = m_inSamples;
    m_inSamples += frame->nb_samples;
    int ret = av_buffersrc_add_frame_flags(m_src, frame, 0);
    if (ret < 0) {
        m_error = QStringLiteral("Audio conversion failed: %1").arg(errorText(ret));
        return ret;
    }
    return pullFromGraph();
}

int AudioChain::pullFromGraph()
{
    for (;;) {
        int ret = av_buffersink_get_frame(m_sink, m_filtered.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            m_error = QStringLiteral("Audio conversion failed: %1").arg(errorText(ret));
            return ret;
        }
        m_filtered->pts = m_outSamples;
        m_outSamples += m_filtered->nb_samples;
        ret = encode(m_filtered.get());
        av_frame_unref(m_filtered.get());
        if (ret < 0)
            return ret;
    }
}

int AudioChain::encode(AVFrame *frame)
{
    int ret = avcodec_send_frame(m_enc.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF) {
        m_error = QStringLiteral("Audio encoding failed: %1").arg(errorText(ret));
        return ret;
    }
    for (;;) {
        ret = avcodec_receive_packet(m_enc.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            m_error = QStringLiteral("Audio encoding failed: %1").arg(errorText(ret));
            return ret;
        }
        av_packet_rescale_ts(m_packet.get(), m_enc->time_base, m_outStream->time_base);
        m_packet->stream_index = m_outStream->index;
        ret = m_out->write(m_packet.get());
        if (ret < 0) {
            m_error = QStringLiteral("Cannot write audio: %1").arg(errorText(ret));
            return ret;
        }
    }
}

int AudioChain::receiveDecoded()
{
    for (;;) {
        int ret = avcodec_receive_frame(m_dec.get(), m_frame.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret == AVERROR_INVALIDDATA) {
            ++m_skippedPackets;
            continue;
        }
        if (ret < 0) {
            m_error = QStringLiteral("Audio decoding failed: %1").arg(errorText(ret));
            return ret;
        }
        if (m_frame->nb_samples <= 0 || m_frame->sample_rate <= 0 || m_frame->ch_layout.nb_channels <= 0) {
            av_frame_unref(m_frame.get());
            continue;
        }
        ++m_decodedFrames;
        const int64_t ts = m_frame->best_effort_timestamp;
        if (ts != AV_NOPTS_VALUE) {
            if (m_startPts == AV_NOPTS_VALUE) {
                m_startPts = m_in->start_time != AV_NOPTS_VALUE ? m_in->start_time : ts;
                const double offset = ts * av_q2d(m_in->time_base) - m_originSeconds;
                if (m_align && m_outSamples == 0 && offset > 0.001)
                    m_outSamples = std::llround(offset * m_enc->sample_rate);
            }
            m_decodedSeconds = (ts - m_startPts) * av_q2d(m_in->time_base)
                               + double(m_frame->nb_samples) / m_frame->sample_rate;
        } else {
            m_decodedSeconds += double(m_frame->nb_samples) / m_frame->sample_rate;
        }
        ret = pushToGraph(m_frame.get());
        av_frame_unref(m_frame.get());
        if (ret < 0)
            return ret;
    }
}

int AudioChain::sendPacket(const AVPacket *packet)
{
    int ret = avcodec_send_packet(m_dec.get(), packet);
    if (ret == AVERROR(EAGAIN)) {
        // Should not happen as every send is drained, but be safe.
        ret = receiveDecoded();
        if (ret < 0)
            return ret;
        ret = avcodec_send_packet(m_dec.get(), packet);
    }
    if (ret < 0 && ret != AVERROR_EOF) {
        if (ret == AVERROR(ENOMEM)) {
            m_error = QStringLiteral("Out of memory while decoding audio");
            return ret;
        }
        ++m_skippedPackets; // damaged packet: the decoder resynchronises on the next one
        return 0;
    }
    return receiveDecoded();
}

int AudioChain::finish()
{
    avcodec_send_packet(m_dec.get(), nullptr);
    int ret = receiveDecoded();
    if (ret < 0)
        return ret;
    if (m_decodedFrames == 0) {
        m_error = QStringLiteral("The audio track holds no decodable audio");
        return AVERROR_INVALIDDATA;
    }
    if (m_graph) {
        ret = av_buffersrc_add_frame(m_src, nullptr);
        if (ret >= 0)
            ret = pullFromGraph();
        if (ret < 0)
            return ret;
    }
    return encode(nullptr);
}

// ---- Progress -----------------------------------------------------------------------------

void ProgressThrottle::report(double processedSeconds, double speed, bool force)
{
    if (!m_sink)
        return;
    const qint64 now = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count();
    if (!force && m_lastMs >= 0 && now - m_lastMs < 50)
        return;
    m_lastMs = now;
    m_sink(processedSeconds, speed);
}

} // namespace av
