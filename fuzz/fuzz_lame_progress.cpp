// The console output of the LAME encoder, line by line, as the MP3 conversion reads it for
// progress. The first eight bytes are the duration of the file (a double, as probing gives
// it); the rest is the output.
//
// Invariant: a progress report is finite, lies in the encoder's half of the conversion
// (between half the duration and the whole of it) and has a speed of at least 0.

#include "FuzzSupport.h"

#include "conversion/audio/AudioConverter.h"

#include <cmath>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 8)
        return 0;
    double duration = 0;
    std::memcpy(&duration, data, 8);
    const QString output = QString::fromUtf8(reinterpret_cast<const char *>(data + 8), qsizetype(size - 8));
    // Lines end at a carriage return (LAME redraws its progress line) or a line feed.
    QStringList lines;
    for (const QString &piece : output.split(u'\n', Qt::SkipEmptyParts))
        lines += piece.split(u'\r', Qt::SkipEmptyParts);
    for (const QString &line : std::as_const(lines)) {
        const auto report = parseLameProgressLine(line, duration);
        if (!report)
            continue;
        const QByteArray detail = line.toUtf8().left(512) + " / duration " + QByteArray::number(duration);
        FUZZ_CHECK(std::isfinite(report->processedSeconds) && std::isfinite(report->speed), detail);
        FUZZ_CHECK(report->processedSeconds >= 0.5 * duration && report->processedSeconds <= duration, detail);
        FUZZ_CHECK(report->speed >= 0, detail);
    }
    return 0;
}
