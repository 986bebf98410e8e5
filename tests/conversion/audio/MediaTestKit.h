#pragma once

// Test helpers for the media converters: clips made at test time with the ffmpeg program,
// and what libavformat reads back from a written file.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
}

namespace mediatest {

// Runs `ffmpeg -y -loglevel error <args>`; true on exit status 0.
inline bool ffmpeg(const QStringList &args, QByteArray *stdoutData = nullptr)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"), QStringList{QStringLiteral("-nostdin"), QStringLiteral("-y"),
                                                  QStringLiteral("-loglevel"), QStringLiteral("error")}
                                          + args);
    if (!p.waitForStarted(-1))
        return false;
    p.closeWriteChannel();
    QByteArray out;
    while (p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(200);
        out += p.readAllStandardOutput();
    }
    p.waitForFinished(-1);
    out += p.readAllStandardOutput();
    if (stdoutData)
        *stdoutData = out;
    if (p.exitCode() != 0)
        qWarning("ffmpeg failed: %s", p.readAllStandardError().constData());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

struct StreamFacts {
    bool present = false;
    QString codec;       // FFmpeg codec name ("pcm_s24le", "aac", "h264", "prores")
    QString tag;         // four-character code, when the container has one
    int profile = -99;
    int sampleRate = 0;
    int channels = 0;
    int width = 0;
    int height = 0;
    QString pixelFormat;
    double frameRate = 0; // average
    int packets = 0;
    double startTime = 0; // seconds
};

struct FileFacts {
    bool opened = false;
    QString container;  // demuxer name
    double duration = 0;
    StreamFacts audio;
    StreamFacts video;
};

inline QString fourcc(uint32_t tag)
{
    if (!tag)
        return {};
    char s[5] = {char(tag & 0xff), char((tag >> 8) & 0xff), char((tag >> 16) & 0xff), char((tag >> 24) & 0xff), 0};
    return QString::fromLatin1(s);
}

inline FileFacts readBack(const QString &path)
{
    FileFacts f;
    AVFormatContext *ctx = nullptr;
    const QByteArray p = path.toUtf8();
    if (avformat_open_input(&ctx, p.constData(), nullptr, nullptr) < 0)
        return f;
    if (avformat_find_stream_info(ctx, nullptr) < 0) {
        avformat_close_input(&ctx);
        return f;
    }
    f.opened = true;
    f.container = QString::fromLatin1(ctx->iformat->name);
    f.duration = ctx->duration != AV_NOPTS_VALUE ? double(ctx->duration) / AV_TIME_BASE : 0;
    int audioIndex = -1, videoIndex = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        AVStream *st = ctx->streams[i];
        const AVCodecParameters *par = st->codecpar;
        StreamFacts *s = nullptr;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && audioIndex < 0) {
            audioIndex = int(i);
            s = &f.audio;
        } else if (par->codec_type == AVMEDIA_TYPE_VIDEO && videoIndex < 0) {
            videoIndex = int(i);
            s = &f.video;
        }
        if (!s)
            continue;
        s->present = true;
        s->codec = QString::fromLatin1(avcodec_get_name(par->codec_id));
        s->tag = fourcc(par->codec_tag);
        s->profile = par->profile;
        s->sampleRate = par->sample_rate;
        s->channels = par->ch_layout.nb_channels;
        s->width = par->width;
        s->height = par->height;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && par->format >= 0)
            s->pixelFormat = QString::fromLatin1(av_get_pix_fmt_name(AVPixelFormat(par->format)));
        s->frameRate = av_q2d(st->avg_frame_rate);
        s->startTime = st->start_time != AV_NOPTS_VALUE ? st->start_time * av_q2d(st->time_base) : 0;
    }
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        if (pkt->stream_index == audioIndex)
            ++f.audio.packets;
        else if (pkt->stream_index == videoIndex)
            ++f.video.packets;
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return f;
}

// The first frame (or the frame at `seconds`) of a video as 8-bit gray pixels.
inline QByteArray grayFrame(const QString &path, double seconds = 0)
{
    QByteArray out;
    ffmpeg({QStringLiteral("-ss"), QString::number(seconds), QStringLiteral("-i"), path, QStringLiteral("-frames:v"),
            QStringLiteral("1"), QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
            QStringLiteral("gray"), QStringLiteral("-")},
           &out);
    return out;
}

} // namespace mediatest
