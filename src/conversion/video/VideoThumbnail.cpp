#include "conversion/video/VideoThumbnail.h"

#include "conversion/audio/AvCommon.h"
#include "conversion/video/VideoConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavutil/display.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr double kShareInto = 0.1;     // where the picture is taken, as a share of the duration
constexpr double kLatestSeconds = 30;  // … but no later than this
constexpr int kMaxPacketsAfterSeek = 600; // decoding from the key frame before the target

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Decodes frames of stream `index` until one at or after `targetPts` (AV_NOPTS_VALUE: the
// first), or the last one decoded when the stream ends first. True when `frame` holds one.
bool decodeFrom(AVFormatContext *ctx, int index, AVCodecContext *dec, int64_t targetPts, AVFrame *frame)
{
    av::PacketPtr packet = av::makePacket();
    av::FramePtr decoded = av::makeFrame();
    bool have = false;
    int packets = 0;
    bool draining = false;
    while (true) {
        if (!draining) {
            const int read = av_read_frame(ctx, packet.get());
            if (read < 0) {
                draining = true;
                avcodec_send_packet(dec, nullptr);
            } else {
                const bool ours = packet->stream_index == index;
                if (ours) {
                    ++packets;
                    avcodec_send_packet(dec, packet.get()); // a damaged packet is skipped
                }
                av_packet_unref(packet.get());
                if (!ours)
                    continue;
            }
        }
        for (;;) {
            const int ret = avcodec_receive_frame(dec, decoded.get());
            if (ret == AVERROR(EAGAIN))
                break;
            if (ret < 0)
                return have;
            av_frame_unref(frame);
            av_frame_move_ref(frame, decoded.get());
            have = true;
            const int64_t pts = frame->best_effort_timestamp;
            if (targetPts == AV_NOPTS_VALUE || pts == AV_NOPTS_VALUE || pts >= targetPts)
                return true;
        }
        if (draining)
            return have;
        if (have && packets > kMaxPacketsAfterSeek)
            return true;
    }
}

// Turns packed RGBA pixels by a clockwise quarter-turn multiple.
ThumbnailPixels rotated(const ThumbnailPixels &in, int clockwise)
{
    if (clockwise == 0)
        return in;
    const bool quarter = clockwise == 90 || clockwise == 270;
    ThumbnailPixels out;
    out.width = quarter ? in.height : in.width;
    out.height = quarter ? in.width : in.height;
    out.rgba.resize(in.rgba.size());
    const auto *src = reinterpret_cast<const quint32 *>(in.rgba.constData());
    auto *dst = reinterpret_cast<quint32 *>(out.rgba.data());
    for (int y = 0; y < in.height; ++y) {
        for (int x = 0; x < in.width; ++x) {
            int dx = x, dy = y;
            if (clockwise == 90) {
                dx = in.height - 1 - y;
                dy = x;
            } else if (clockwise == 180) {
                dx = in.width - 1 - x;
                dy = in.height - 1 - y;
            } else if (clockwise == 270) {
                dx = y;
                dy = in.width - 1 - x;
            }
            dst[dy * out.width + dx] = src[y * in.width + x];
        }
    }
    return out;
}

} // namespace

bool videoThumbnail(const QByteArray &path, int maxSide, ThumbnailPixels *out, QString *error)
{
    if (maxSide < 1)
        return fail(error, QStringLiteral("No size asked for"));
    av::Input input;
    if (!input.open(path, error))
        return false;
    AVFormatContext *ctx = input.ctx();
    const int index = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return fail(error, QStringLiteral("The file has no video track"));
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        ctx->streams[i]->discard = int(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    AVStream *stream = ctx->streams[index];
    av::CodecContextPtr dec = av::openDecoder(stream, error);
    if (!dec)
        return false;

    av::FramePtr frame = av::makeFrame();
    bool have = false;
    const double duration = input.durationSeconds();
    if (duration >= 1.0 && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        const double at = input.startSeconds() + std::min(duration * kShareInto, kLatestSeconds);
        const int64_t target = av_rescale_q(int64_t(at * AV_TIME_BASE), AV_TIME_BASE_Q, stream->time_base);
        if (av_seek_frame(ctx, index, target, AVSEEK_FLAG_BACKWARD) >= 0) {
            avcodec_flush_buffers(dec.get());
            have = decodeFrom(ctx, index, dec.get(), target, frame.get());
        }
        if (!have) {
            // Back to the start for the first frame.
            av_seek_frame(ctx, index, stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time,
                          AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(dec.get());
        }
    }
    if (!have)
        have = decodeFrom(ctx, index, dec.get(), AV_NOPTS_VALUE, frame.get());
    if (!have || frame->width <= 0 || frame->height <= 0)
        return fail(error, QStringLiteral("No picture could be decoded"));

    // Display size: the pixel aspect applied to the width.
    double displayWidth = frame->width;
    const AVRational sar = frame->sample_aspect_ratio.num > 0 ? frame->sample_aspect_ratio
                                                               : stream->sample_aspect_ratio;
    if (sar.num > 0 && sar.den > 0)
        displayWidth = frame->width * av_q2d(sar);
    const double scale = std::min(1.0, double(maxSide) / std::max(displayWidth, double(frame->height)));
    const int width = std::max(1, int(std::lround(displayWidth * scale)));
    const int height = std::max(1, int(std::lround(frame->height * scale)));

    SwsContext *sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), width, height,
                                     AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr, nullptr);
    if (!sws)
        return fail(error, QStringLiteral("The picture cannot be converted"));
    ThumbnailPixels pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.rgba.resize(qsizetype(width) * height * 4);
    uint8_t *dst[4] = {reinterpret_cast<uint8_t *>(pixels.rgba.data()), nullptr, nullptr, nullptr};
    const int dstStride[4] = {width * 4, 0, 0, 0};
    const int rows = sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    sws_freeContext(sws);
    if (rows != height)
        return fail(error, QStringLiteral("The picture cannot be converted"));

    const auto *matrix = reinterpret_cast<const int32_t *>(
        av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
    *out = rotated(pixels, uprightRotation(matrix));
    return true;
}
