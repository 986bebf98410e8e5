// Archiving mixed files with each format: our engine against the same archiver run directly
// on the same inputs, in the same run. Prints the figures; asserts nothing.
//
//   bench_archive [megabytes]   (default 120; the 2 GB case: bench_archive 2048)
//   BENCH_ARCHIVE_ROUNDS=N      rounds per format, best of each side (default 4)

#include "platform/FilePath.h"
#include "tools/archive/ArchiveEngine.h"
#include "tools/archive/ArchiveFileOps.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/stat.h>

namespace {

void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
}

// Half incompressible, half text-like; a few large files and many small ones.
qint64 makeInputs(const QString &root, qint64 megabytes)
{
    QRandomGenerator gen(42);
    qint64 total = 0;
    const qint64 target = megabytes << 20;
    QDir().mkpath(root + "/big");
    QDir().mkpath(root + "/small/nested");
    QByteArray words;
    for (int i = 0; i < 4096; ++i)
        words += QByteArray::number(gen.generate() % 100000) + (i % 12 ? " lorem ipsum " : "\n");
    int n = 0;
    while (total < target * 8 / 10) {
        const qint64 size = std::min<qint64>(32 << 20, target * 8 / 10 - total);
        QByteArray data(size, '\0');
        if (n % 2 == 0) {
            gen.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
        } else {
            for (qint64 at = 0; at < size; at += words.size())
                memcpy(data.data() + at, words.constData(), size_t(std::min<qint64>(words.size(), size - at)));
        }
        writeFile(QStringLiteral("%1/big/file %2.bin").arg(root).arg(n++), data);
        total += size;
    }
    for (int i = 0; total < target; ++i) {
        const qint64 size = 4096 + gen.bounded(200000);
        QByteArray data(size, '\0');
        if (i % 2)
            gen.fillRange(reinterpret_cast<quint32 *>(data.data()), size / 4);
        else
            for (qint64 at = 0; at < size; at += words.size())
                memcpy(data.data() + at, words.constData(), size_t(std::min<qint64>(words.size(), size - at)));
        writeFile(QStringLiteral("%1/small/%2/s%3.txt").arg(root, i % 3 ? "nested" : ".").arg(i), data);
        total += size;
    }
    return total;
}

double runOurs(const QList<QUrl> &inputs, const QString &out, ArchiveFormat format)
{
    QFile::remove(out);
    QEventLoop loop;
    std::optional<QString> result;
    QElapsedTimer t;
    t.start();
    buildArchive(inputs, FilePath::urlFromPath(out), format, CompressionLevel::normal, false, {},
                 std::make_shared<ArchiveCancellationToken>(), {}, [&](std::optional<QString> m) {
                     result = m;
                     loop.quit();
                 });
    loop.exec();
    const double s = t.nsecsElapsed() / 1e9;
    if (result)
        std::printf("  our run failed: %s\n", qPrintable(*result));
    return s;
}

double runDirect(const QString &program, const QStringList &args, const QString &cwd)
{
    QProcess p;
    p.setWorkingDirectory(cwd);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(program, args);
    p.waitForFinished(-1);
    const double s = t.nsecsElapsed() / 1e9;
    if (p.exitCode() != 0)
        std::printf("  direct run failed (exit %d)\n", p.exitCode());
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 120;
    const int rounds = qEnvironmentVariableIntValue("BENCH_ARCHIVE_ROUNDS") > 0 ? qEnvironmentVariableIntValue("BENCH_ARCHIVE_ROUNDS") : 4;
    QTemporaryDir dir;
    const QString root = dir.path() + "/inputs";
    const qint64 bytes = makeInputs(root, megabytes);
    const QList<QUrl> inputs{FilePath::urlFromPath(root + "/big"), FilePath::urlFromPath(root + "/small")};
    std::printf("bench_archive: %.1f MB of mixed files (half random, half text) in %lld entries\n",
                bytes / 1048576.0,
                (long long)(ArchiveFileOps::countEntries(QFile::encodeName(root + "/big"))
                            + ArchiveFileOps::countEntries(QFile::encodeName(root + "/small"))));

    // Staging alone (ZIP's extra step): hard links on the same file system.
    {
        const QByteArray stage = QFile::encodeName(dir.path() + "/stage");
        ::mkdir(stage.constData(), 0700);
        QElapsedTimer t;
        t.start();
        ArchiveFileOps::stageCopy(QFile::encodeName(root + "/big"), stage + "/big", nullptr);
        ArchiveFileOps::stageCopy(QFile::encodeName(root + "/small"), stage + "/small", nullptr);
        std::printf("  ZIP staging copy: %.3f s\n", t.nsecsElapsed() / 1e9);
        ArchiveFileOps::removeTree(stage);
    }

    struct Case {
        ArchiveFormat format;
        QString program;
        QStringList args;
    };
    const QString out = dir.path() + "/out";
    const ArchiveToolPaths tools;
    QList<Case> cases{
        {ArchiveFormat::tarGz, tools.tar, {"-czvf", out + ".tar.gz", root + "/big", root + "/small"}},
        {ArchiveFormat::zip, tools.zip, {"-6", "-r", "-v", out + ".zip", "big", "small"}},
    };
    if (!tools.sevenZip().isEmpty())
        cases.append({ArchiveFormat::sevenZip, tools.sevenZip(),
                      {"a", "-bsp2", out + ".7z", root + "/big", root + "/small"}});
    for (const Case &c : cases) {
        const QString target = out + QLatin1Char('.') + fileExtension(c.format);
        // Alternating order (which side goes first flips each round), best of each side: the
        // machine's speed drifts by ±10 % between runs.
        double ours = 1e9, direct = 1e9;
        for (int round = 0; round < rounds; ++round) {
            const bool directFirst = round % 2 == 0;
            if (directFirst) {
                direct = std::min(direct, runDirect(c.program, c.args, root));
                QFile::remove(target);
            }
            ours = std::min(ours, runOurs(inputs, target, c.format));
            QFile::remove(target);
            if (!directFirst) {
                direct = std::min(direct, runDirect(c.program, c.args, root));
                QFile::remove(target);
            }
        }
        std::printf("  %-7s ours %.2f s, %s directly %.2f s, ratio %.3f\n", qPrintable(displayLabel(c.format)),
                    ours, qPrintable(QFileInfo(c.program).fileName()), direct, ours / direct);
        std::fflush(stdout);
    }
    return 0;
}
