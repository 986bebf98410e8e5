#pragma once

// Small pieces shared by the audio and video converters: ownership wrappers for the FFmpeg
// objects, opening an input by its raw path bytes, decoders, and the audio chain that turns
// decoded audio of any shape into encoded packets of a target shape.

#include "conversion/LockedFlag.h"
#include "conversion/MediaConverter.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

// Progress of one file (processed media seconds, speed) and the converters' result come from
// the converter contract of the conversion job.
using ConversionProgress = ConversionProgressHandler;

namespace av {

QString errorText(int code);

// FFmpeg's own log lines ("moov atom not found", "Packet corrupt") go to our log, category
// "perchbox.media", at debug level (QT_LOGGING_RULES="perchbox.media.debug=true" shows
// them), never straight to standard error. Called before any FFmpeg work.
void routeLibraryLogs();

// What a file whose media stops short of what its container promises fails with.
inline const QString kEndsEarlyMessage = QStringLiteral("The file ends early");
// True when `reachedSeconds` of decoded media fall short of the `expectedSeconds` the
// container gives by more than 2 % and more than half a second (a truncated file; a few
// frames of difference are normal).
bool endsEarly(double expectedSeconds, double reachedSeconds);

// For a WAV or AIFF file: the seconds of sound its header promises (`promised`) and how many
// of them the file does not hold because it is cut short. FFmpeg quietly takes the length
// from what is there, so a truncated WAV looks whole to it. 0 for other files and for
// headers that leave the length open (streamed WAV).
double missingPcmSeconds(const QByteArray &path, double *promised);

// The sample rate an encoder takes that is nearest to `wanted` (the higher of two equally
// near ones); `wanted` itself when the encoder takes any rate.
int nearestSupportedSampleRate(const AVCodec *encoder, int wanted);

struct CodecContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FilterGraphDeleter {
    void operator()(AVFilterGraph *g) const { avfilter_graph_free(&g); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphDeleter>;

inline FramePtr makeFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr makePacket() { return PacketPtr(av_packet_alloc()); }

// An opened input file.
class Input
{
public:
    Input() = default;
    Input(const Input &) = delete;
    Input &operator=(const Input &) = delete;
    ~Input();

    // Opens and probes the file at `path` (raw bytes). False with `error` set on failure.
    // Anything but a regular file is refused before it is opened (a pipe would block).
    bool open(const QByteArray &path, QString *error);
    AVFormatContext *ctx() const { return m_ctx; }

    // Index of the first stream of the given type, or -1.
    int firstStream(AVMediaType type) const;
    // Duration of the file in seconds (container duration, else the longest stream); 0 when
    // unknown.
    double durationSeconds() const;
    // The file's start time in seconds (0 when unknown).
    double startSeconds() const;
    // How long stream `index` should last by its header (its own duration, else the
    // container's when it is the only track); 0 when unknown or only estimated from the bit
    // rate.
    double expectedStreamSeconds(int index) const;
    // Where stream `index` starts, in seconds (its own start, else the file's).
    double streamStartSeconds(int index) const;

private:
    AVFormatContext *m_ctx = nullptr;
};

// An opened output file: the muxer context and its I/O. The file is removed again when the
// output is dropped before `finish` succeeded.
class Output
{
public:
    Output() = default;
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    ~Output();

    // `muxer` is a libavformat short name ("wav", "aiff", "ipod", "mov", "mp4").
    bool create(const QByteArray &path, const char *muxer, QString *error);
    AVFormatContext *ctx() const { return m_ctx; }
    bool globalHeader() const;

    bool writeHeader(AVDictionary **options, QString *error);
    // Interleaved write; takes ownership of the packet's reference.
    int write(AVPacket *packet);
    bool finish(QString *error);
    // Closes and deletes the file (failure path).
    void discard();

private:
    void close();
    AVFormatContext *m_ctx = nullptr;
    QByteArray m_path;
    bool m_headerWritten = false;
    bool m_finished = false;
};

// A decoder for one input stream, with frame and slice threading on every core.
CodecContextPtr openDecoder(const AVStream *stream, QString *error);

// Source facts of an audio stream: the values a converter resolves its target from.
struct AudioSourceFacts {
    double sampleRate = 44100;   // ≤ 0 in the header counts as 44100
    int channels = 2;            // 0 in the header counts as 2
    int bitsPerChannel = 16;     // 0 (unknown or compressed) counts as 16
    bool isFloat = false;
};
AudioSourceFacts audioSourceFacts(const AVCodecParameters *par);

// What the audio chain encodes to.
struct AudioEncodeSpec {
    AVCodecID codec = AV_CODEC_ID_NONE;
    int sampleRate = 44100;
    int channels = 2;
    int64_t bitRate = 0; // compressed codecs only
};

// Decoder → resampler/mixer (libavfilter aresample + aformat) → encoder → output stream.
// The filter graph is built on the first decoded frame, so headers that lie about rate or
// channel count do not matter; only the decoded audio does.
class AudioChain
{
public:
    AudioChain() = default;
    AudioChain(const AudioChain &) = delete;
    AudioChain &operator=(const AudioChain &) = delete;

    // Opens the decoder for `in` and the encoder, and adds the output stream to `out`
    // (before its header is written).
    bool open(const AVStream *in, Output &out, const AudioEncodeSpec &spec, QString *error);

    // Decodes one packet of the input stream and writes what comes out. Decode errors of a
    // damaged packet are skipped; other errors are returned (negative).
    int sendPacket(const AVPacket *packet);
    // Drains decoder, filters and encoder at the end of the input.
    int finish();
    // Places the audio on a shared timeline that starts at `originSeconds` of the input (the
    // audio of a video keeps its offset to the picture). Without it audio starts at zero.
    void alignTo(double originSeconds)
    {
        m_align = true;
        m_originSeconds = originSeconds;
    }

    // Media time (seconds from the stream's start) reached by the decoded audio so far.
    double decodedSeconds() const { return m_decodedSeconds; }
    int decodedFrames() const { return m_decodedFrames; }
    int skippedPackets() const { return m_skippedPackets; }
    const QString &lastError() const { return m_error; }

private:
    int receiveDecoded();
    int buildGraph(const AVFrame *first);
    int pushToGraph(AVFrame *frame);
    int pullFromGraph();
    int encode(AVFrame *frame);

    const AVStream *m_in = nullptr;
    Output *m_out = nullptr;
    AVStream *m_outStream = nullptr;
    CodecContextPtr m_dec;
    CodecContextPtr m_enc;
    FilterGraphPtr m_graph;
    AVFilterContext *m_src = nullptr;
    AVFilterContext *m_sink = nullptr;
    FramePtr m_frame = makeFrame();
    FramePtr m_filtered = makeFrame();
    PacketPtr m_packet = makePacket();
    int64_t m_inSamples = 0;
    int64_t m_outSamples = 0;
    int64_t m_startPts = AV_NOPTS_VALUE;
    double m_decodedSeconds = 0;
    bool m_align = false;
    double m_originSeconds = 0;
    int m_decodedFrames = 0;
    int m_skippedPackets = 0;
    QString m_error;
};

// Limits how often progress goes out: at most every 50 ms, plus the final report.
class ProgressThrottle
{
public:
    explicit ProgressThrottle(ConversionProgress sink) : m_sink(std::move(sink)) {}
    void report(double processedSeconds, double speed, bool force = false);

private:
    ConversionProgress m_sink;
    qint64 m_lastMs = -1;
};

inline bool cancelled(const LockedFlagPtr &flag) { return flag && flag->value(); }

} // namespace av
