#include "conversion/video/VideoConverter.h"

#include "conversion/audio/AudioConverter.h"
#include "platform/FilePath.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

// ---- Derived settings ---------------------------------------------------------------------

int uprightRotation(const int32_t *displayMatrix)
{
    if (!displayMatrix)
        return 0;
    const double ccw = av_display_rotation_get(displayMatrix);
    if (std::isnan(ccw))
        return 0;
    // The matrix rotates counter-clockwise by `ccw`; the picture is turned clockwise by the
    // negation, snapped to a quarter turn.
    int cw = int(std::lround(-ccw / 90.0)) * 90;
    cw %= 360;
    if (cw < 0)
        cw += 360;
    return cw;
}

VideoGeometry computeVideoGeometry(int naturalWidth, int naturalHeight, int rotation, VideoResolution resolution)
{
    VideoGeometry g;
    g.rotation = rotation;
    const bool quarter = rotation == 90 || rotation == 270;
    g.displayWidth = std::abs(quarter ? naturalHeight : naturalWidth);
    g.displayHeight = std::abs(quarter ? naturalWidth : naturalHeight);
    if (g.displayWidth <= 0 || g.displayHeight <= 0)
        return g;
    double boxW = g.displayWidth;
    double boxH = g.displayHeight;
    switch (resolution) {
    case VideoResolution::original: break;
    case VideoResolution::uhd4k: boxW = 3840; boxH = 2160; break;
    case VideoResolution::fhd1080: boxW = 1920; boxH = 1080; break;
    case VideoResolution::hd720: boxW = 1280; boxH = 720; break;
    }
    const double s = std::min(boxW / g.displayWidth, boxH / g.displayHeight);
    auto even = [](double v) { return std::max(int(std::lround(v)) & ~1, 2); };
    g.outputWidth = even(g.displayWidth * s);
    g.outputHeight = even(g.displayHeight * s);
    return g;
}

int64_t averageVideoBitRate(VideoOutputFormat format, VideoQualityCRF quality, int width, int height, double fps)
{
    double h264Base = 8000000;
    switch (quality) {
    case VideoQualityCRF::veryHigh: h264Base = 12000000; break;
    case VideoQualityCRF::high: h264Base = 8000000; break;
    case VideoQualityCRF::medium: h264Base = 5000000; break;
    case VideoQualityCRF::low: h264Base = 2500000; break;
    }
    const double base = format == VideoOutputFormat::h265 ? h264Base * 0.65 : h264Base;
    const double pixels = std::max(double(width) * double(height) / 2073600.0, 0.35);
    const double rate = std::max(fps / 30.0, 0.75);
    return int64_t(base * pixels * rate);
}

static std::optional<AVRational> targetFrameRate(VideoFrameRate rate)
{
    switch (rate) {
    case VideoFrameRate::original: return std::nullopt;
    case VideoFrameRate::f2397: return AVRational{24000, 1001};
    case VideoFrameRate::f24: return AVRational{24, 1};
    case VideoFrameRate::f25: return AVRational{25, 1};
    case VideoFrameRate::f2997: return AVRational{30000, 1001};
    case VideoFrameRate::f30: return AVRational{30, 1};
    case VideoFrameRate::f60: return AVRational{60, 1};
    }
    return std::nullopt;
}

double frameRateForBitRate(VideoFrameRate target, double nominalRate)
{
    if (const auto fps = targetFrameRate(target))
        return av_q2d(*fps);
    if (nominalRate > 0 && std::isfinite(nominalRate))
        return nominalRate;
    return 30.0;
}

static bool isRegularFile(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QByteArray findSubtitleSidecar(const QByteArray &videoPath)
{
    const int slash = videoPath.lastIndexOf('/');
    const int dot = videoPath.lastIndexOf('.');
    const QByteArray stem = dot > slash + 1 ? videoPath.left(dot) : videoPath;
    for (const char *ext : {"srt", "ass", "ssa", "vtt"}) {
        const QByteArray candidate = stem + '.' + ext;
        if (isRegularFile(candidate))
            return candidate;
    }
    return {};
}

// ---- Transcode ----------------------------------------------------------------------------

namespace {

void logFailure(const char *what, const QString &fileName, const QString &detail = QString())
{
    QByteArray line = QByteArrayLiteral("[ConversionExporter] \xE2\x9D\x8C ") + what + fileName.toUtf8();
    if (!detail.isNull())
        line += ": " + detail.toUtf8();
    line += '\n';
    std::fputs(line.constData(), stderr);
}

class VideoTranscoder
{
public:
    VideoTranscoder(const VideoConversionSettings &settings, const LockedFlagPtr &cancel,
                    const ConversionProgress &onProgress, QString fileName)
        : m_settings(settings), m_cancel(cancel), m_progress(onProgress), m_fileName(std::move(fileName))
    {
    }

    ConversionResult run(const QByteArray &sourcePath, const QByteArray &outputPath);

private:
    bool openEncoder(QString *error);
    int buildGraph(const AVFrame *first);
    int decodeVideo(const AVPacket *packet);
    int filterFrame(AVFrame *frame);
    int pullFiltered();
    int handleFiltered(AVFrame *frame);
    int emitFrame(const AVFrame *frame, int64_t pts, double reachedSeconds);
    int encode(AVFrame *frame);
    int flushVideo();
    ConversionResult fail(const QString &why);

    const VideoConversionSettings &m_settings;
    LockedFlagPtr m_cancel;
    av::ProgressThrottle m_progress;
    QString m_fileName;

    av::Input m_input;
    av::Output m_output;
    int m_videoIndex = -1;
    int m_audioIndex = -1;
    AVStream *m_inVideo = nullptr;
    AVStream *m_outVideo = nullptr;
    av::CodecContextPtr m_dec;
    av::CodecContextPtr m_enc;
    std::unique_ptr<av::AudioChain> m_audio;
    av::FilterGraphPtr m_graph;
    AVFilterContext *m_src = nullptr;
    AVFilterContext *m_sink = nullptr;
    QByteArray m_subtitles;
    VideoGeometry m_geometry;
    AVPixelFormat m_encoderFormat = AV_PIX_FMT_YUV420P;
    std::optional<AVRational> m_gridRate;
    double m_duration = 0;
    int64_t m_origin = 0;          // start of the file in the sink's time base
    AVRational m_sinkTb{1, 1};

    // Constant grid: the frame currently shown and the next slot.
    av::FramePtr m_current = av::makeFrame();
    bool m_haveCurrent = false;
    int64_t m_slot = 0;
    int64_t m_lastPts = std::numeric_limits<int64_t>::min();
    double m_lastFrameEnd = 0;

    av::FramePtr m_decoded = av::makeFrame();
    av::FramePtr m_filtered = av::makeFrame();
    av::FramePtr m_send = av::makeFrame();
    av::PacketPtr m_packet = av::makePacket();
    int m_decodedFrames = 0;
    int m_writtenFrames = 0;
    QString m_error;
    bool m_logged = false;
};

ConversionResult VideoTranscoder::fail(const QString &why)
{
    m_output.discard();
    return ConversionResult::failure(why);
}

bool VideoTranscoder::openEncoder(QString *error)
{
    const char *name = "libx264";
    switch (m_settings.format) {
    case VideoOutputFormat::prores: name = "prores_ks"; break;
    case VideoOutputFormat::h264: name = "libx264"; break;
    case VideoOutputFormat::h265: name = "libx265"; break;
    }
    const AVCodec *codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        *error = QStringLiteral("The %1 encoder is not available").arg(QString::fromLatin1(name));
        return false;
    }
    m_enc.reset(avcodec_alloc_context3(codec));
    AVCodecContext *enc = m_enc.get();
    enc->width = m_geometry.outputWidth;
    enc->height = m_geometry.outputHeight;
    enc->sample_aspect_ratio = AVRational{1, 1};
    enc->thread_count = 0;

    const double nominal = av_q2d(m_inVideo->avg_frame_rate) > 0 ? av_q2d(m_inVideo->avg_frame_rate)
                                                                   : av_q2d(m_inVideo->r_frame_rate);
    const double fps = frameRateForBitRate(m_settings.frameRate, nominal);
    if (m_gridRate) {
        enc->framerate = *m_gridRate;
        enc->time_base = av_inv_q(*m_gridRate);
    } else {
        const AVRational guessed = av_guess_frame_rate(m_input.ctx(), m_inVideo, nullptr);
        enc->framerate = guessed.num > 0 && guessed.den > 0 ? guessed : AVRational{std::max(int(fps), 1), 1};
        enc->time_base = m_inVideo->time_base;
    }

    const AVCodecParameters *par = m_inVideo->codecpar;
    enc->color_range = par->color_range;
    enc->color_primaries = par->color_primaries;
    enc->color_trc = par->color_trc;
    enc->colorspace = par->color_space;

    AVDictionary *opts = nullptr;
    switch (m_settings.format) {
    case VideoOutputFormat::prores: {
        const int profile = int(m_settings.proResProfile); // proxy … 4444 XQ, 0 … 5
        if (profile >= int(ProResProfile::p4444)) {
            const AVPixFmtDescriptor *d = av_pix_fmt_desc_get(AVPixelFormat(par->format));
            m_encoderFormat = d && (d->flags & AV_PIX_FMT_FLAG_ALPHA) ? AV_PIX_FMT_YUVA444P10LE : AV_PIX_FMT_YUV444P10LE;
        } else {
            m_encoderFormat = AV_PIX_FMT_YUV422P10LE;
        }
        av_dict_set_int(&opts, "profile", profile, 0);
        av_dict_set(&opts, "vendor", "apl0", 0);
        break;
    }
    case VideoOutputFormat::h264:
        m_encoderFormat = AV_PIX_FMT_YUV420P;
        enc->bit_rate = averageVideoBitRate(m_settings.format, m_settings.quality, enc->width, enc->height, fps);
        av_dict_set(&opts, "profile", "high", 0);
        break;
    case VideoOutputFormat::h265:
        m_encoderFormat = AV_PIX_FMT_YUV420P;
        enc->bit_rate = averageVideoBitRate(m_settings.format, m_settings.quality, enc->width, enc->height, fps);
        enc->codec_tag = MKTAG('h', 'v', 'c', '1');
        av_dict_set(&opts, "x265-params", "log-level=error", 0);
        break;
    }
    enc->pix_fmt = m_encoderFormat;
    if (m_output.globalHeader())
        enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int ret = avcodec_open2(enc, codec, &opts);
    av_dict_free(&opts);
    if (ret < 0) {
        *error = QStringLiteral("Cannot open the %1 encoder at %2×%3: %4")
                     .arg(QString::fromLatin1(name))
                     .arg(enc->width)
                     .arg(enc->height)
                     .arg(av::errorText(ret));
        return false;
    }
    m_outVideo = avformat_new_stream(m_output.ctx(), nullptr);
    if (!m_outVideo || avcodec_parameters_from_context(m_outVideo->codecpar, enc) < 0) {
        *error = QStringLiteral("Cannot add the video track");
        return false;
    }
    m_outVideo->time_base = enc->time_base;
    m_outVideo->avg_frame_rate = enc->framerate;
    return true;
}

int VideoTranscoder::buildGraph(const AVFrame *first)
{
    m_graph.reset(avfilter_graph_alloc());
    AVFilterGraph *g = m_graph.get();
    AVRational sar = first->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0)
        sar = AVRational{1, 1};
    const QByteArray srcArgs = QStringLiteral("video_size=%1x%2:pix_fmt=%3:time_base=%4/%5:pixel_aspect=%6/%7")
                                   .arg(first->width)
                                   .arg(first->height)
                                   .arg(first->format)
                                   .arg(m_inVideo->time_base.num)
                                   .arg(m_inVideo->time_base.den)
                                   .arg(sar.num)
                                   .arg(sar.den)
                                   .toLatin1();
    int ret = avfilter_graph_create_filter(&m_src, avfilter_get_by_name("buffer"), "in", srcArgs.constData(), nullptr, g);
    AVFilterContext *last = m_src;
    auto append = [&](const char *filter, const char *args) {
        if (ret < 0)
            return;
        AVFilterContext *ctx = nullptr;
        ret = avfilter_graph_create_filter(&ctx, avfilter_get_by_name(filter), nullptr, args, nullptr, g);
        if (ret >= 0)
            ret = avfilter_link(last, 0, ctx, 0);
        if (ret >= 0)
            last = ctx;
    };
    switch (m_geometry.rotation) {
    case 90: append("transpose", "dir=clock"); break;
    case 180: append("hflip", nullptr); append("vflip", nullptr); break;
    case 270: append("transpose", "dir=cclock"); break;
    default: break;
    }
    const QByteArray scaleArgs = QStringLiteral("w=%1:h=%2").arg(m_geometry.outputWidth).arg(m_geometry.outputHeight).toLatin1();
    append("scale", scaleArgs.constData());
    append("setsar", "sar=1");
    if (ret >= 0 && !m_subtitles.isEmpty()) {
        // Drawn on the scaled picture, so the text keeps its size relative to the frame.
        AVFilterContext *subs = avfilter_graph_alloc_filter(g, avfilter_get_by_name("subtitles"), "subtitles");
        if (!subs)
            ret = AVERROR_FILTER_NOT_FOUND;
        if (ret >= 0)
            ret = av_opt_set(subs, "filename", (QByteArrayLiteral("file:") + m_subtitles).constData(), AV_OPT_SEARCH_CHILDREN);
        if (ret >= 0)
            ret = avfilter_init_str(subs, nullptr);
        if (ret >= 0)
            ret = avfilter_link(last, 0, subs, 0);
        if (ret >= 0)
            last = subs;
    }
    const QByteArray formatArgs = QByteArrayLiteral("pix_fmts=") + av_get_pix_fmt_name(m_encoderFormat);
    append("format", formatArgs.constData());
    if (ret >= 0)
        ret = avfilter_graph_create_filter(&m_sink, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, g);
    if (ret >= 0)
        ret = avfilter_link(last, 0, m_sink, 0);
    if (ret >= 0)
        ret = avfilter_graph_config(g, nullptr);
    if (ret < 0) {
        m_error = QStringLiteral("Cannot set up the picture pipeline: %1").arg(av::errorText(ret));
        return ret;
    }
    m_sinkTb = av_buffersink_get_time_base(m_sink);
    const double start = m_input.startSeconds();
    m_origin = int64_t(std::llround(start / av_q2d(m_sinkTb)));
    return 0;
}

int VideoTranscoder::encode(AVFrame *frame)
{
    int ret = avcodec_send_frame(m_enc.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF) {
        m_error = av::errorText(ret);
        logFailure("Video append failed for ", m_fileName, m_error);
        m_logged = true;
        return ret;
    }
    for (;;) {
        ret = avcodec_receive_packet(m_enc.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret >= 0) {
            av_packet_rescale_ts(m_packet.get(), m_enc->time_base, m_outVideo->time_base);
            m_packet->stream_index = m_outVideo->index;
            ret = m_output.write(m_packet.get());
        }
        if (ret < 0) {
            m_error = av::errorText(ret);
            logFailure("Video append failed for ", m_fileName, m_error.isEmpty() ? QStringLiteral("unknown error") : m_error);
            m_logged = true;
            return ret;
        }
    }
}

int VideoTranscoder::emitFrame(const AVFrame *frame, int64_t pts, double reachedSeconds)
{
    int ret = av_frame_ref(m_send.get(), frame);
    if (ret < 0) {
        logFailure("Failed to prepare video frame for ", m_fileName);
        m_logged = true;
        m_error = QStringLiteral("Cannot prepare a video frame");
        return ret;
    }
    m_send->pts = pts;
    m_send->pict_type = AV_PICTURE_TYPE_NONE; // let the encoder choose its own frame types
    ret = encode(m_send.get());
    av_frame_unref(m_send.get());
    if (ret < 0)
        return ret;
    ++m_writtenFrames;
    if (m_duration > 0)
        m_progress.report(std::clamp(std::max(reachedSeconds, 0.0) / m_duration, 0.0, 1.0) * m_duration, 1.0);
    return 0;
}

int VideoTranscoder::handleFiltered(AVFrame *frame)
{
    if (!frame->data[0]) {
        logFailure("Missing video pixel buffer for ", m_fileName);
        m_logged = true;
        m_error = QStringLiteral("A composed frame has no picture");
        return AVERROR_INVALIDDATA;
    }
    int64_t pts = frame->pts != AV_NOPTS_VALUE ? frame->pts - m_origin : 0;
    const double frameSeconds = pts * av_q2d(m_sinkTb);
    const double frameLength = frame->pkt_duration > 0 ? frame->pkt_duration * av_q2d(m_sinkTb)
                                                   : (m_enc->framerate.num > 0 ? av_q2d(av_inv_q(m_enc->framerate)) : 1.0 / 30);
    m_lastFrameEnd = std::max(m_lastFrameEnd, frameSeconds + frameLength);

    if (!m_gridRate) {
        // Frames pass as they come; a timestamp that does not move forward is dropped.
        if (pts <= m_lastPts)
            return 0;
        m_lastPts = pts;
        return emitFrame(frame, pts, frameSeconds + frameLength);
    }

    // Constant grid: slot k (time k·d) shows the latest frame not later than k·d.
    const double d = av_q2d(av_inv_q(*m_gridRate));
    const double frameSlot = frameSeconds / d;
    if (m_haveCurrent) {
        const double limitSlots = m_duration > 0 ? m_duration / d : std::numeric_limits<double>::infinity();
        while (double(m_slot) < limitSlots - 1e-9 && double(m_slot) < frameSlot - 1e-6) {
            int ret = emitFrame(m_current.get(), m_slot, (m_slot + 1) * d);
            if (ret < 0)
                return ret;
            ++m_slot;
        }
    }
    av_frame_unref(m_current.get());
    av_frame_move_ref(m_current.get(), frame);
    m_haveCurrent = true;
    return 0;
}

int VideoTranscoder::pullFiltered()
{
    for (;;) {
        int ret = av_buffersink_get_frame(m_sink, m_filtered.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret < 0) {
            logFailure("Failed to prepare video frame for ", m_fileName);
            m_logged = true;
            m_error = QStringLiteral("Picture pipeline failed: %1").arg(av::errorText(ret));
            return ret;
        }
        ret = handleFiltered(m_filtered.get());
        av_frame_unref(m_filtered.get());
        if (ret < 0)
            return ret;
    }
}

int VideoTranscoder::filterFrame(AVFrame *frame)
{
    if (!m_graph) {
        int ret = buildGraph(frame);
        if (ret < 0)
            return ret;
    }
    frame->pts = frame->best_effort_timestamp;
    int ret = av_buffersrc_add_frame_flags(m_src, frame, 0);
    if (ret < 0) {
        logFailure("Failed to prepare video frame for ", m_fileName);
        m_logged = true;
        m_error = QStringLiteral("Picture pipeline failed: %1").arg(av::errorText(ret));
        return ret;
    }
    return pullFiltered();
}

int VideoTranscoder::decodeVideo(const AVPacket *packet)
{
    int ret = avcodec_send_packet(m_dec.get(), packet);
    if (ret < 0 && ret != AVERROR_EOF && ret != AVERROR(EAGAIN)) {
        if (ret == AVERROR(ENOMEM)) {
            m_error = QStringLiteral("Out of memory while decoding video");
            return ret;
        }
        return 0; // a damaged packet; the decoder picks up again at the next one
    }
    for (;;) {
        ret = avcodec_receive_frame(m_dec.get(), m_decoded.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return 0;
        if (ret == AVERROR_INVALIDDATA)
            continue;
        if (ret < 0) {
            m_error = QStringLiteral("Video decoding failed: %1").arg(av::errorText(ret));
            return ret;
        }
        ++m_decodedFrames;
        ret = filterFrame(m_decoded.get());
        av_frame_unref(m_decoded.get());
        if (ret < 0)
            return ret;
    }
}

int VideoTranscoder::flushVideo()
{
    int ret = decodeVideo(nullptr);
    if (ret < 0)
        return ret;
    if (m_decodedFrames == 0) {
        m_error = QStringLiteral("The video track holds no decodable pictures");
        return AVERROR_INVALIDDATA;
    }
    if (m_graph) {
        ret = av_buffersrc_add_frame_flags(m_src, nullptr, 0);
        if (ret >= 0)
            ret = pullFiltered();
        if (ret < 0)
            return ret;
    }
    if (m_gridRate && m_haveCurrent) {
        // The last frame fills the grid up to the end of the clip.
        const double d = av_q2d(av_inv_q(*m_gridRate));
        const double end = m_duration > 0 ? m_duration : m_lastFrameEnd;
        const double limitSlots = end / d;
        while (double(m_slot) < limitSlots - 1e-9) {
            ret = emitFrame(m_current.get(), m_slot, (m_slot + 1) * d);
            if (ret < 0)
                return ret;
            ++m_slot;
        }
        if (m_slot == 0) { // a clip shorter than one slot still gets its picture
            ret = emitFrame(m_current.get(), m_slot++, d);
            if (ret < 0)
                return ret;
        }
    }
    if (m_writtenFrames == 0) {
        m_error = QStringLiteral("No video frame was written");
        return AVERROR_INVALIDDATA;
    }
    return encode(nullptr);
}

ConversionResult VideoTranscoder::run(const QByteArray &sourcePath, const QByteArray &outputPath)
{
    QString error;
    ::unlink(outputPath.constData());
    if (!m_input.open(sourcePath, &error))
        return ConversionResult::failure(error);
    m_videoIndex = m_input.firstStream(AVMEDIA_TYPE_VIDEO);
    if (m_videoIndex < 0)
        return ConversionResult::failure(QStringLiteral("The file has no video track"));
    m_audioIndex = m_input.firstStream(AVMEDIA_TYPE_AUDIO);
    AVFormatContext *in = m_input.ctx();
    for (unsigned i = 0; i < in->nb_streams; ++i)
        in->streams[i]->discard = (int(i) == m_videoIndex || int(i) == m_audioIndex) ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    m_inVideo = in->streams[m_videoIndex];
    m_duration = m_input.durationSeconds();

    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(m_inVideo, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    m_geometry = computeVideoGeometry(m_inVideo->codecpar->width, m_inVideo->codecpar->height,
                                      uprightRotation(matrix), m_settings.resolution);
    if (!m_geometry.valid())
        return ConversionResult::failure(QStringLiteral("The video has no picture size"));
    m_gridRate = targetFrameRate(m_settings.frameRate);
    if (m_settings.burnSubtitles)
        m_subtitles = findSubtitleSidecar(sourcePath);

    m_dec = av::openDecoder(m_inVideo, &error);
    if (!m_dec)
        return ConversionResult::failure(error);

    const bool prores = m_settings.format == VideoOutputFormat::prores;
    if (!m_output.create(outputPath, prores ? "mov" : "mp4", &error))
        return fail(error);
    if (!openEncoder(&error))
        return fail(error);

    if (m_audioIndex >= 0) {
        const AVStream *audioIn = in->streams[m_audioIndex];
        const ResolvedAudioTarget target =
            resolveAudioTarget(av::audioSourceFacts(audioIn->codecpar), m_settings.audioSampleRate,
                               m_settings.videoChannels, m_settings.audioBitDepth, m_settings.aacBitrate);
        av::AudioEncodeSpec spec;
        spec.sampleRate = int(std::lround(target.sampleRate));
        spec.channels = int(target.channels);
        const bool pcm = prores && (m_settings.audioFormat == AudioOutputFormat::wav
                                    || m_settings.audioFormat == AudioOutputFormat::aiff);
        if (pcm) {
            spec.codec = pcmCodecFor(target.bitDepth, m_settings.audioFormat == AudioOutputFormat::aiff);
        } else {
            spec.codec = AV_CODEC_ID_AAC;
            spec.bitRate = target.aacBitsPerSecond;
        }
        m_audio = std::make_unique<av::AudioChain>();
        if (!m_audio->open(audioIn, m_output, spec, &error))
            return fail(error);
        m_audio->alignTo(m_input.startSeconds());
    }

    if (!m_output.writeHeader(nullptr, &error))
        return fail(error);

    av::PacketPtr packet = av::makePacket();
    for (;;) {
        if (av::cancelled(m_cancel))
            return fail(QStringLiteral("Cancelled"));
        int ret = av_read_frame(in, packet.get());
        if (ret == AVERROR_EOF)
            break;
        if (ret < 0) {
            if (ret == AVERROR(EAGAIN))
                continue;
            return fail(av::kEndsEarlyMessage + QStringLiteral(" (%1)").arg(av::errorText(ret)));
        }
        if (packet->stream_index == m_videoIndex)
            ret = decodeVideo(packet.get());
        else if (m_audio && packet->stream_index == m_audioIndex)
            ret = m_audio->sendPacket(packet.get()) < 0 ? -1 : 0;
        av_packet_unref(packet.get());
        if (ret < 0)
            return fail(m_audio && !m_audio->lastError().isEmpty() && m_error.isEmpty() ? m_audio->lastError() : m_error);
    }
    if (flushVideo() < 0)
        return fail(m_error);
    if (m_audio && m_audio->finish() < 0) {
        // A damaged or empty audio track does not sink the picture: only real write errors do.
        if (m_audio->decodedFrames() > 0)
            return fail(m_audio->lastError());
    }
    // A file cut short reads to its (early) end without an error: the pictures (and the
    // sound, when there is any) must cover what the header promised.
    const double pictureSeconds = m_lastFrameEnd - (m_input.streamStartSeconds(m_videoIndex) - m_input.startSeconds());
    const double expectedPicture = m_input.expectedStreamSeconds(m_videoIndex);
    if (av::endsEarly(expectedPicture, pictureSeconds))
        return fail(av::kEndsEarlyMessage
                    + QStringLiteral(" (%1 of %2 seconds)").arg(pictureSeconds, 0, 'f', 2).arg(expectedPicture, 0, 'f', 2));
    if (m_audio && m_audio->decodedFrames() > 0) {
        const double expectedSound = m_input.expectedStreamSeconds(m_audioIndex);
        if (av::endsEarly(expectedSound, m_audio->decodedSeconds()))
            return fail(av::kEndsEarlyMessage + QStringLiteral(" (%1 of %2 seconds of sound)")
                                                    .arg(m_audio->decodedSeconds(), 0, 'f', 2)
                                                    .arg(expectedSound, 0, 'f', 2));
    }
    if (!m_output.finish(&error))
        return fail(error);
    if (m_duration > 0)
        m_progress.report(m_duration, 1.0, true);
    return ConversionResult::success();
}

} // namespace

ConversionResult convertVideoFile(const QUrl &source, const VideoConversionSettings &settings,
                                  const QUrl &stagedOutput, const LockedFlagPtr &cancel,
                                  const ConversionProgress &onProgress)
{
    const QByteArray sourcePath = FilePath::bytes(source);
    const QByteArray outputPath = FilePath::bytes(stagedOutput);
    if (sourcePath.isEmpty() || outputPath.isEmpty())
        return ConversionResult::failure(QStringLiteral("Not a local file"));
    VideoTranscoder transcoder(settings, cancel, onProgress, QFileInfo(FilePath::displayPath(source)).fileName());
    ConversionResult result = transcoder.run(sourcePath, outputPath);
    if (!result.ok)
        ::unlink(outputPath.constData());
    return result;
}

// ---- The job's converter ------------------------------------------------------------------

VideoConversionSettings videoSettingsFrom(const ConversionJobOptions &options)
{
    VideoConversionSettings s;
    s.format = options.videoFormat;
    s.proResProfile = options.proResProfile;
    s.quality = options.videoCRF;
    s.frameRate = options.frameRate;
    s.resolution = options.resolution;
    s.videoChannels = options.videoChannels;
    s.preserveDuration = options.preserveDuration;
    s.burnSubtitles = options.burnSubtitles;
    s.audioFormat = options.audioFormat;
    s.audioSampleRate = options.sampleRate;
    s.audioBitDepth = options.bitDepth;
    s.aacBitrate = options.aacBitrate;
    return s;
}

namespace {

class VideoConverter final : public MediaConverter
{
public:
    ConversionResult convert(const ConversionRequest &request) override
    {
        return convertVideoFile(request.source, videoSettingsFrom(request.options), request.stagedOutput,
                                request.cancel, request.progress);
    }
};

} // namespace

std::unique_ptr<MediaConverter> makeLibavVideoConverter()
{
    return std::make_unique<VideoConverter>();
}
