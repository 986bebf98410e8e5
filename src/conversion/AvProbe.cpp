#include "conversion/AvProbe.h"

#include "conversion/audio/AvCommon.h"
#include "platform/FilePath.h"

#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/bswap.h>
#include <libavutil/display.h>
}

// ---------------------------------------------------------------------------------------
// FFmpeg probe

// FFmpeg names codecs by id; the display names follow the four-character codes that a
// QuickTime container would carry for the same codec.
static uint32_t audioFourCC(const AVCodecParameters *par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AAC_LATM: return fourCC("aac ");
    case AV_CODEC_ID_MP3: return fourCC(".mp3");
    case AV_CODEC_ID_ALAC: return fourCC("alac");
    case AV_CODEC_ID_FLAC: return fourCC("flac");
    case AV_CODEC_ID_OPUS: return fourCC("opus");
    default: break;
    }
    const AVCodecDescriptor *desc = avcodec_descriptor_get(par->codec_id);
    if (desc && desc->name && QByteArray(desc->name).startsWith("pcm_"))
        return fourCC("lpcm");
    return av_bswap32(par->codec_tag);
}

static uint32_t videoFourCC(const AVCodecParameters *par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_H264: return fourCC("avc1");
    case AV_CODEC_ID_HEVC: return fourCC("hvc1");
    case AV_CODEC_ID_AV1: return fourCC("av01");
    case AV_CODEC_ID_VP9: return fourCC("vp09");
    case AV_CODEC_ID_MPEG4: return fourCC("mp4v");
    case AV_CODEC_ID_MPEG2VIDEO: return fourCC("mp2v");
    case AV_CODEC_ID_PRORES: {
        // The container's tag names the profile; without one, the stream's profile does.
        const uint32_t tag = av_bswap32(par->codec_tag);
        switch (tag) {
        case fourCC("apco"): case fourCC("apcs"): case fourCC("apcn"):
        case fourCC("apch"): case fourCC("ap4h"): case fourCC("ap4x"): return tag;
        default: break;
        }
        switch (par->profile) {
        case FF_PROFILE_PRORES_PROXY: return fourCC("apco");
        case FF_PROFILE_PRORES_LT: return fourCC("apcs");
        case FF_PROFILE_PRORES_STANDARD: return fourCC("apcn");
        case FF_PROFILE_PRORES_HQ: return fourCC("apch");
        case FF_PROFILE_PRORES_4444: return fourCC("ap4h");
        case FF_PROFILE_PRORES_XQ: return fourCC("ap4x");
        default: return fourCC("apcn");
        }
    }
    default: break;
    }
    return av_bswap32(par->codec_tag);
}

static bool isPrintableCode(uint32_t code)
{
    if (code == 0)
        return false;
    for (int shift = 0; shift < 32; shift += 8) {
        const unsigned c = (code >> shift) & 0xff;
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}

static QString codecDisplayName(uint32_t code, AVCodecID id, bool audio)
{
    // Containers without four-character codes (WAV, Matroska) carry numbers or nothing:
    // those fall back to FFmpeg's codec name.
    if (isPrintableCode(code))
        return audio ? audioCodecNameForFourCC(code) : videoCodecNameForFourCC(code);
    const char *name = avcodec_get_name(id);
    return name ? QString::fromLatin1(name).toUpper() : QString();
}

static std::optional<MediaInfo> probeAudioVideo(const QUrl &url, MediaType type)
{
    const QByteArray path = FilePath::bytes(url);
    if (path.isEmpty())
        return std::nullopt;
    // The same opening and the same track choice as the converters: what the options
    // window shows is what gets converted.
    av::Input input;
    if (!input.open(path, nullptr))
        return std::nullopt;
    AVFormatContext *fmt = input.ctx();

    MediaInfo info;
    double seconds = -1;
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        seconds = double(fmt->duration) / AV_TIME_BASE;
    int audioIndex = input.firstStream(AVMEDIA_TYPE_AUDIO);
    if (audioIndex >= 0 && fmt->streams[audioIndex]->codecpar->sample_rate <= 0)
        audioIndex = -1; // a stream nothing could be decoded from (a text file called .mp3)
    const int videoIndex = type == MediaType::video ? input.firstStream(AVMEDIA_TYPE_VIDEO) : -1;
    if (audioIndex < 0 && (type == MediaType::audio || videoIndex < 0))
        return std::nullopt; // not a media file we can read, whatever its name says
    if (seconds < 0) {
        for (int idx : {audioIndex, videoIndex}) {
            if (idx < 0)
                continue;
            const AVStream *st = fmt->streams[idx];
            if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
                seconds = st->duration * av_q2d(st->time_base);
                break;
            }
        }
    }
    if (seconds >= 0) {
        info.duration = durationText(seconds);
        info.totalDurationSeconds = seconds;
    }

    if (audioIndex >= 0) {
        const AVCodecParameters *par = fmt->streams[audioIndex]->codecpar;
        info.sampleRate = sampleRateText(par->sample_rate);
        int bits = par->bits_per_raw_sample;
        if (bits <= 0 && audioFourCC(par) == fourCC("lpcm"))
            bits = par->bits_per_coded_sample;
        if (bits > 0)
            info.bitDepth = bitDepthText(bits);
        if (par->ch_layout.nb_channels > 0)
            info.channels = channelsText(par->ch_layout.nb_channels);
        info.audioCodec = codecDisplayName(audioFourCC(par), par->codec_id, true);
    }
    if (videoIndex >= 0) {
        AVStream *st = fmt->streams[videoIndex];
        const AVCodecParameters *par = st->codecpar;
        AVRational rate = st->avg_frame_rate;
        if (rate.num <= 0 || rate.den <= 0)
            rate = st->r_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            info.fps = frameRateText(av_q2d(rate));
        if (par->width > 0 && par->height > 0) {
            double w = par->width, h = par->height;
            const auto *matrix = reinterpret_cast<const int32_t *>(
                av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr));
            if (matrix) {
                // The display matrix maps the coded frame onto the display; its 2×2 part
                // applied to the size gives the displayed extent.
                const double a = matrix[0] / 65536.0, b = matrix[1] / 65536.0;
                const double c = matrix[3] / 65536.0, d = matrix[4] / 65536.0;
                const double nw = std::fabs(a * w + c * h), nh = std::fabs(b * w + d * h);
                w = nw;
                h = nh;
            }
            info.resolution = QString::number(qRound(w)) + QChar(0x00D7) + QString::number(qRound(h));
        }
        info.videoCodec = codecDisplayName(videoFourCC(par), par->codec_id, false);
    }
    return info;
}

std::optional<MediaInfo> probeAudioVideoFile(const QUrl &url, MediaType type)
{
    if (type == MediaType::image)
        return std::nullopt;
    return probeAudioVideo(url, type);
}
