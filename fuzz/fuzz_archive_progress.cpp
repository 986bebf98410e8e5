// The console output of the archivers (zip -v, tar -v, 7zz -bsp2) as the archive engine
// reads it for progress. The first byte picks the format, the next two the number of
// entries to pack and how the output is cut into the chunks the pipe delivers.
//
// Invariants: every reported fraction is a number between 0 and 1; the entries counted do
// not depend on how the output was cut into chunks. The same bytes as the tool's error output
// give a failure message of the fixed first line and at most one line of reason.

#include "FuzzSupport.h"

#include "tools/archive/ArchiveEngine.h"

#include <cmath>

namespace {

qint64 feedAll(ArchiveFormat format, qint64 total, const QByteArray &output, int chunkSize)
{
    ArchiveEngine::ProgressParser parser(format, total);
    for (qsizetype at = 0; at < output.size(); at += chunkSize) {
        if (const auto fraction = parser.feed(output.mid(at, chunkSize)))
            FUZZ_CHECK(std::isfinite(*fraction) && *fraction >= 0.0 && *fraction <= 1.0,
                       QByteArray::number(*fraction) + " from " + output.left(512).toPercentEncoding(" "));
    }
    return parser.entriesSeen();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    const ArchiveFormat formats[] = {ArchiveFormat::zip, ArchiveFormat::tarGz, ArchiveFormat::sevenZip};
    const ArchiveFormat format = formats[data[0] % 3];
    const qint64 total = data[1] % 64; // 0: progress off for ZIP and TAR+GZ
    const int chunk = 1 + data[2] % 32;
    const QByteArray output(reinterpret_cast<const char *>(data + 3), qsizetype(size - 3));

    const qint64 whole = feedAll(format, total, output, int(qMax<qsizetype>(1, output.size())));
    const qint64 pieces = feedAll(format, total, output, chunk);
    FUZZ_CHECK(whole == pieces, QByteArray::number(whole) + " vs " + QByteArray::number(pieces));

    const QString header = ArchiveEngine::toolFailedMessage(2);
    const QString message = ArchiveEngine::toolFailedMessage(2, output);
    FUZZ_CHECK(message.startsWith(header) && message.count(QLatin1Char('\n')) <= 1
                   && message.size() <= header.size() + 1 + 400,
               message.left(600).toUtf8());
    return 0;
}
