#include "conversion/audio/AudioConverter.h"

#include "platform/ChildLifeline.h"
#include "platform/FilePath.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

#include <algorithm>
#include <cmath>

#include <sys/stat.h>
#include <unistd.h>

namespace {

int sampleRateOf(AudioSampleRate rate)
{
    switch (rate) {
    case AudioSampleRate::original: return 0;
    case AudioSampleRate::r44100: return 44100;
    case AudioSampleRate::r48000: return 48000;
    case AudioSampleRate::r88200: return 88200;
    case AudioSampleRate::r96000: return 96000;
    case AudioSampleRate::r192000: return 192000;
    }
    return 0;
}

bool fileExists(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

double clampedProcessed(double reached, double duration)
{
    if (duration <= 0)
        return 0;
    return std::clamp(std::max(reached, 0.0) / duration, 0.0, 1.0) * duration;
}

// Shared body of the PCM render and the M4A transcode: decode the first audio stream and
// write it through `spec` into a new file of the given container.
ConversionResult writeAudio(const QByteArray &sourcePath, const QByteArray &outputPath, const char *muxer,
                            const av::AudioEncodeSpec &spec, const LockedFlagPtr &cancel,
                            const ConversionProgress &onProgress)
{
    ::unlink(outputPath.constData());
    QString error;
    av::Input input;
    if (!input.open(sourcePath, &error))
        return ConversionResult::failure(error);
    const int streamIndex = input.firstStream(AVMEDIA_TYPE_AUDIO);
    if (streamIndex < 0)
        return ConversionResult::failure(QStringLiteral("The file has no audio track"));
    double promised = 0;
    const double missing = av::missingPcmSeconds(sourcePath, &promised);
    if (av::endsEarly(promised, promised - missing))
        return ConversionResult::failure(av::kEndsEarlyMessage
                                         + QStringLiteral(" (%1 of %2 seconds)")
                                               .arg(promised - missing, 0, 'f', 2)
                                               .arg(promised, 0, 'f', 2));
    const double duration = input.durationSeconds();
    // Only the audio stream is demuxed.
    for (unsigned i = 0; i < input.ctx()->nb_streams; ++i)
        input.ctx()->streams[i]->discard = int(i) == streamIndex ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    av::Output output;
    if (!output.create(outputPath, muxer, &error))
        return ConversionResult::failure(error);
    av::AudioChain chain;
    if (!chain.open(input.ctx()->streams[streamIndex], output, spec, &error))
        return ConversionResult::failure(error);
    AVDictionary *muxOptions = nullptr;
    if (qstrcmp(muxer, "wav") == 0)
        av_dict_set(&muxOptions, "rf64", "auto", 0); // past 4 GiB a plain RIFF header overflows
    const bool headerOk = output.writeHeader(&muxOptions, &error);
    av_dict_free(&muxOptions);
    if (!headerOk)
        return ConversionResult::failure(error);

    av::ProgressThrottle progress(onProgress);
    av::PacketPtr packet = av::makePacket();
    for (;;) {
        if (av::cancelled(cancel))
            return ConversionResult::failure(QStringLiteral("Cancelled"));
        int ret = av_read_frame(input.ctx(), packet.get());
        if (ret == AVERROR_EOF)
            break;
        if (ret < 0) {
            if (ret == AVERROR(EAGAIN))
                continue;
            // A read that ends in an error: what follows is missing (a cut-off file says
            // "end of file" in the middle of a packet).
            return ConversionResult::failure(av::kEndsEarlyMessage + QStringLiteral(" (%1)").arg(av::errorText(ret)));
        }
        if (packet->stream_index == streamIndex) {
            ret = chain.sendPacket(packet.get());
            if (ret < 0) {
                av_packet_unref(packet.get());
                return ConversionResult::failure(chain.lastError());
            }
            if (duration > 0)
                progress.report(clampedProcessed(chain.decodedSeconds(), duration), 1.0);
        }
        av_packet_unref(packet.get());
    }
    if (chain.finish() < 0)
        return ConversionResult::failure(chain.lastError());
    // A file cut short reads to its (early) end without an error: what was decoded must
    // cover what the header promised.
    if (av::endsEarly(input.expectedStreamSeconds(streamIndex), chain.decodedSeconds()))
        return ConversionResult::failure(av::kEndsEarlyMessage
                                         + QStringLiteral(" (%1 of %2 seconds)")
                                               .arg(chain.decodedSeconds(), 0, 'f', 2)
                                               .arg(input.expectedStreamSeconds(streamIndex), 0, 'f', 2));
    if (!output.finish(&error))
        return ConversionResult::failure(error);
    if (!fileExists(outputPath))
        return ConversionResult::failure(QStringLiteral("The output file was not written"));
    if (duration > 0)
        progress.report(duration, 1.0, true);
    return ConversionResult::success();
}

// The staged name with its extension replaced (".../song.mp3" → ".../song.wav").
QByteArray withExtension(const QByteArray &path, const QByteArray &extension)
{
    const int slash = path.lastIndexOf('/');
    const int dot = path.lastIndexOf('.');
    const QByteArray stem = dot > slash + 1 ? path.left(dot) : path;
    return stem + '.' + extension;
}

bool isCleanUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

} // namespace

ResolvedAudioTarget resolveAudioTarget(const av::AudioSourceFacts &source, AudioSampleRate sampleRate,
                                       AudioChannels channels, AudioBitDepth bitDepth, int aacBitrateKbps,
                                       int mp3BitrateKbps)
{
    ResolvedAudioTarget t;
    const int rate = sampleRateOf(sampleRate);
    t.sampleRate = rate > 0 ? rate : (source.sampleRate > 0 ? source.sampleRate : 44100);
    switch (channels) {
    case AudioChannels::original: t.channels = unsigned(std::max(source.channels, 1)); break;
    case AudioChannels::mono: t.channels = 1; break;
    case AudioChannels::stereo: t.channels = 2; break;
    }
    if (bitDepth == AudioBitDepth::original) {
        if (source.isFloat)
            t.bitDepth = AudioBitDepth::b32f;
        else if (source.bitsPerChannel > 16)
            t.bitDepth = AudioBitDepth::b24;
        else
            t.bitDepth = AudioBitDepth::b16;
    } else {
        t.bitDepth = bitDepth;
    }
    t.aacBitsPerSecond = int64_t(aacBitrateKbps) * 1000;
    t.mp3Kbps = mp3BitrateKbps;
    return t;
}

ResolvedAudioTarget resolveAudioTarget(const av::AudioSourceFacts &source, const AudioConversionSettings &s)
{
    return resolveAudioTarget(source, s.sampleRate, s.channels, s.bitDepth, s.aacBitrate, s.mp3Bitrate);
}

AVCodecID pcmCodecFor(AudioBitDepth resolved, bool bigEndian)
{
    switch (resolved) {
    case AudioBitDepth::b24: return bigEndian ? AV_CODEC_ID_PCM_S24BE : AV_CODEC_ID_PCM_S24LE;
    case AudioBitDepth::b32f: return bigEndian ? AV_CODEC_ID_PCM_F32BE : AV_CODEC_ID_PCM_F32LE;
    case AudioBitDepth::b16:
    case AudioBitDepth::original: break;
    }
    return bigEndian ? AV_CODEC_ID_PCM_S16BE : AV_CODEC_ID_PCM_S16LE;
}

ConversionResult renderAudioTrackToPCMFile(const QByteArray &sourcePath, const QByteArray &outputPath,
                                           PcmFileType fileType, double sampleRate, unsigned channels,
                                           AudioBitDepth bitDepth, const LockedFlagPtr &cancel,
                                           const ConversionProgress &onProgress)
{
    av::AudioEncodeSpec spec;
    spec.codec = pcmCodecFor(bitDepth, fileType == PcmFileType::aiff);
    spec.sampleRate = int(std::lround(sampleRate));
    spec.channels = int(channels);
    return writeAudio(sourcePath, outputPath, fileType == PcmFileType::aiff ? "aiff" : "wav", spec, cancel,
                      onProgress);
}

ConversionResult transcodeAudioTrackToM4A(const QByteArray &sourcePath, const QByteArray &outputPath,
                                          double sampleRate, unsigned channels, int64_t aacBitsPerSecond,
                                          const LockedFlagPtr &cancel, const ConversionProgress &onProgress)
{
    av::AudioEncodeSpec spec;
    spec.codec = AV_CODEC_ID_AAC;
    spec.sampleRate = int(std::lround(sampleRate));
    spec.channels = int(channels);
    spec.bitRate = aacBitsPerSecond;
    return writeAudio(sourcePath, outputPath, "ipod", spec, cancel, onProgress);
}

QStringList lameArguments(const QString &inputPath, const QString &outputPath, AudioSampleRate sampleRate,
                          AudioChannels channels, int mp3BitrateKbps)
{
    QStringList args{QStringLiteral("--disptime"), QStringLiteral("1"), QStringLiteral("--nohist"),
                     QStringLiteral("--noreplaygain"), QStringLiteral("--cbr"), QStringLiteral("-b"),
                     QString::number(mp3BitrateKbps)};
    switch (sampleRate) {
    case AudioSampleRate::original: break;
    case AudioSampleRate::r44100:
    case AudioSampleRate::r88200: args << QStringLiteral("--resample") << QStringLiteral("44.1"); break;
    case AudioSampleRate::r48000:
    case AudioSampleRate::r96000:
    case AudioSampleRate::r192000: args << QStringLiteral("--resample") << QStringLiteral("48"); break;
    }
    switch (channels) {
    case AudioChannels::original: break;
    case AudioChannels::mono: args << QStringLiteral("-a") << QStringLiteral("-m") << QStringLiteral("m"); break;
    case AudioChannels::stereo: args << QStringLiteral("-m") << QStringLiteral("j"); break;
    }
    args << inputPath << outputPath;
    return args;
}

std::optional<LameProgress> parseLameProgressLine(const QString &line, double durationSeconds)
{
    if (!(durationSeconds > 0) || !std::isfinite(durationSeconds))
        return std::nullopt; // unknown (or not a number at all)
    if (!line.contains(QLatin1String("%)")) && !line.contains(QLatin1String("x|")))
        return std::nullopt;
    // LAME pads the percentage inside its parentheses ("( 45%)"); the padding is allowed.
    static const QRegularExpression percentRe(QStringLiteral("\\(\\s*(\\d+)%\\)"));
    static const QRegularExpression speedRe(QStringLiteral("\\|\\s*([\\d.]+)x\\|"));
    double fraction = 0.5;
    const QRegularExpressionMatch pm = percentRe.match(line);
    if (pm.hasMatch()) {
        const double p = pm.captured(1).toDouble() / 100.0;
        if (p > 0)
            fraction = 0.5 + 0.5 * std::min(p, 1.0);
    }
    double speed = 0;
    const QRegularExpressionMatch sm = speedRe.match(line);
    if (sm.hasMatch()) {
        QString text = sm.captured(0);
        text.remove(QLatin1Char('|'));
        const QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &piece : pieces) {
            if (piece.endsWith(QLatin1Char('x'))) {
                speed = piece.chopped(1).toDouble();
                if (!std::isfinite(speed))
                    speed = 0; // digits beyond any double
                break;
            }
        }
    }
    return LameProgress{fraction * durationSeconds, speed};
}

ConversionResult runLAME(const QString &lamePath, const QByteArray &inputWav, AudioSampleRate sampleRate,
                         AudioChannels channels, int mp3BitrateKbps, double durationSeconds,
                         const QByteArray &outputMp3, const LockedFlagPtr &cancel,
                         const ConversionProgress &onProgress)
{
    if (lamePath.isEmpty() || !QFileInfo(lamePath).isExecutable())
        return ConversionResult::failure(QStringLiteral("The MP3 encoder (lame) was not found"));
    ::unlink(outputMp3.constData());

    QProcess process;
    process.setProgram(lamePath);
    process.setArguments(lameArguments(QString::fromUtf8(inputWav), QString::fromUtf8(outputMp3), sampleRate,
                                       channels, mp3BitrateKbps));
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    // The encoder ends with us, even when we are killed.
    ChildLifeline::prepare();
    process.setChildProcessModifier([] { ChildLifeline::enterGroupWithWatchdog(); });
    process.start(QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return ConversionResult::failure(QStringLiteral("Cannot start the MP3 encoder: %1").arg(process.errorString()));

    QString collected;
    QString pending;
    auto drain = [&] {
        const QByteArray chunk = process.readAll();
        if (chunk.isEmpty())
            return;
        const QString text = QString::fromUtf8(chunk);
        collected += text;
        pending += text;
        qsizetype start = 0;
        for (qsizetype i = 0; i < pending.size(); ++i) {
            const QChar c = pending.at(i);
            if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
                continue;
            if (i > start) {
                const auto report = parseLameProgressLine(pending.mid(start, i - start), durationSeconds);
                if (report && onProgress)
                    onProgress(report->processedSeconds, report->speed);
            }
            start = i + 1;
        }
        pending.remove(0, start);
    };

    bool wasCancelled = false;
    while (process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(100);
        drain();
        if (av::cancelled(cancel)) {
            wasCancelled = true;
            process.kill();
            process.waitForFinished(-1);
            break;
        }
    }
    process.waitForFinished(-1);
    drain();

    const bool ok = !wasCancelled && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0
                    && fileExists(outputMp3);
    if (!ok) {
        ::unlink(outputMp3.constData());
        if (wasCancelled)
            return ConversionResult::failure(QStringLiteral("Cancelled"));
        return ConversionResult::failure(collected.trimmed().isEmpty()
                                             ? QStringLiteral("The MP3 encoder failed (exit status %1)")
                                                   .arg(process.exitCode())
                                             : collected);
    }
    return ConversionResult::success();
}

ConversionResult convertAudioFile(const QUrl &source, const AudioConversionSettings &settings,
                                  const QUrl &stagedOutput, const QString &lamePath,
                                  const LockedFlagPtr &cancel, const ConversionProgress &onProgress)
{
    const QByteArray sourcePath = FilePath::bytes(source);
    const QByteArray outputPath = FilePath::bytes(stagedOutput);
    if (sourcePath.isEmpty() || outputPath.isEmpty())
        return ConversionResult::failure(QStringLiteral("Not a local file"));

    // Source facts come from the first audio stream's header.
    av::AudioSourceFacts facts;
    double duration = 0;
    {
        QString error;
        av::Input probe;
        if (!probe.open(sourcePath, &error))
            return ConversionResult::failure(error);
        const int index = probe.firstStream(AVMEDIA_TYPE_AUDIO);
        if (index < 0)
            return ConversionResult::failure(QStringLiteral("The file has no audio track"));
        facts = av::audioSourceFacts(probe.ctx()->streams[index]->codecpar);
        duration = probe.durationSeconds();
    }
    const ResolvedAudioTarget target = resolveAudioTarget(facts, settings);

    ConversionResult result;
    switch (settings.format) {
    case AudioOutputFormat::wav:
    case AudioOutputFormat::aiff:
        result = renderAudioTrackToPCMFile(sourcePath, outputPath,
                                           settings.format == AudioOutputFormat::aiff ? PcmFileType::aiff
                                                                                      : PcmFileType::wave,
                                           target.sampleRate, target.channels, target.bitDepth, cancel,
                                           onProgress);
        break;
    case AudioOutputFormat::m4a:
        result = transcodeAudioTrackToM4A(sourcePath, outputPath, target.sampleRate, target.channels,
                                          target.aacBitsPerSecond, cancel, onProgress);
        break;
    case AudioOutputFormat::mp3: {
        // LAME is handed plain text paths; a staged name that is not valid UTF-8 is encoded
        // under a temporary name and renamed afterwards.
        const bool cleanName = isCleanUtf8(outputPath);
        const QByteArray mp3Path = cleanName
                                       ? outputPath
                                       : outputPath.left(outputPath.lastIndexOf('/') + 1) + ".perchbox-lame-"
                                             + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + ".mp3";
        const QByteArray wavPath = withExtension(cleanName ? outputPath : mp3Path, "wav");
        // MP3 carries at most two channels; LAME refuses more.
        const unsigned channels = std::min(target.channels, 2u);
        ConversionProgress half = [&](double processed, double speed) {
            if (onProgress)
                onProgress(processed * 0.5, speed);
        };
        result = renderAudioTrackToPCMFile(sourcePath, wavPath, PcmFileType::wave, target.sampleRate, channels,
                                           AudioBitDepth::b16, cancel, half);
        if (result.ok)
            result = runLAME(lamePath, wavPath, settings.sampleRate, settings.channels, target.mp3Kbps, duration,
                             mp3Path, cancel, onProgress);
        ::unlink(wavPath.constData());
        if (result.ok && !cleanName && ::rename(mp3Path.constData(), outputPath.constData()) != 0) {
            ::unlink(mp3Path.constData());
            result = ConversionResult::failure(QStringLiteral("Cannot name the MP3 file"));
        }
        break;
    }
    }
    if (!result.ok)
        ::unlink(outputPath.constData());
    return result;
}

// ---- The job's converter ------------------------------------------------------------------

AudioConversionSettings audioSettingsFrom(const ConversionJobOptions &options)
{
    AudioConversionSettings s;
    s.format = options.audioFormat;
    s.sampleRate = options.sampleRate;
    s.bitDepth = options.bitDepth;
    s.channels = options.channels;
    s.mp3Bitrate = options.mp3Bitrate;
    s.aacBitrate = options.aacBitrate;
    return s;
}

namespace {

class AudioConverter final : public MediaConverter
{
public:
    ConversionResult convert(const ConversionRequest &request) override
    {
        return convertAudioFile(request.source, audioSettingsFrom(request.options), request.stagedOutput,
                                request.lamePath, request.cancel, request.progress);
    }
};

} // namespace

std::unique_ptr<MediaConverter> makeLibavAudioConverter()
{
    return std::make_unique<AudioConverter>();
}
