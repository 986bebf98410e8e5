// Flatten to Folder figures, copy mode, against `cp` copying the same files into one folder
// in the same run: a tree of 20,000 small files, and 5 files of 500 MB (real data, not
// sparse; deleted afterwards). Printed, not asserted (target: within 1.1× of cp).
#include "platform/FilePath.h"
#include "tools/flatten/FlattenEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool writeFile(const QByteArray &path, qint64 size, quint64 seed)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    QByteArray block(1 << 20, '\0');
    quint64 x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (qint64 done = 0; done < size;) {
        auto *words = reinterpret_cast<quint64 *>(block.data());
        for (qsizetype i = 0; i < block.size() / 8; ++i) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            words[i] = x;
        }
        const qint64 n = std::min<qint64>(block.size(), size - done);
        if (::write(fd, block.constData(), size_t(n)) != n) {
            ::close(fd);
            return false;
        }
        done += n;
    }
    ::close(fd);
    return true;
}

double cpMs(const QString &source, const QString &dest)
{
    QDir().mkpath(dest);
    QElapsedTimer t;
    t.start();
    // Every file of the tree into one folder, as flatten does.
    const QString script = QStringLiteral("find '%1' -type f -print0 | xargs -0 cp -t '%2'").arg(source, dest);
    if (QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}) != 0)
        std::fprintf(stderr, "cp failed\n");
    ::sync();
    return t.nsecsElapsed() / 1e6;
}

double flattenMs(const QString &source, const QString &dest, FlattenResult *result)
{
    QElapsedTimer t;
    t.start();
    *result = FlattenEngine::run({FilePath::urlFromPath(source)}, FilePath::urlFromPath(dest),
                                 FlattenDuplicateMode::keepForReview, FlattenOperation::copy);
    ::sync();
    return t.nsecsElapsed() / 1e6;
}

void compare(const char *label, const QString &source, const QString &work, int rounds)
{
    double bestCp = 1e18, bestFlat = 1e18;
    FlattenResult result;
    for (int r = 0; r < rounds; ++r) {
        const QString a = work + QStringLiteral("/cp%1").arg(r);
        const QString b = work + QStringLiteral("/flat%1").arg(r);
        // Alternate the order so neither side always gets the warmer cache.
        if (r % 2 == 0) {
            bestCp = std::min(bestCp, cpMs(source, a));
            bestFlat = std::min(bestFlat, flattenMs(source, b, &result));
        } else {
            bestFlat = std::min(bestFlat, flattenMs(source, b, &result));
            bestCp = std::min(bestCp, cpMs(source, a));
        }
        QDir(a).removeRecursively();
        QDir(b).removeRecursively();
        ::sync();
    }
    std::printf("%s: flatten %.0f ms, cp %.0f ms, ratio %.2f× (files copied %d, errors %lld)\n", label,
                bestFlat, bestCp, bestFlat / bestCp, result.filesCopied, (long long)result.errors.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bool skipBig = qEnvironmentVariableIsSet("PERCHBOX_BENCH_SKIP_BIG");
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/bench_flatten-XXXXXX"));

    // 20,000 small files: 200 folders of 100 files, 1 to 8 KB, unique names.
    const QString small = work.path() + QStringLiteral("/small");
    for (int d = 0; d < 200; ++d) {
        const QString folder = small + QStringLiteral("/d%1/sub").arg(d);
        QDir().mkpath(folder);
        for (int f = 0; f < 100; ++f)
            writeFile(QFile::encodeName(folder + QStringLiteral("/f%1_%2.dat").arg(d).arg(f)),
                      1024 * (1 + (d * 100 + f) % 8), quint64(d * 100 + f));
    }
    ::sync();
    compare("20,000 small files", small, work.path(), 3);
    QDir(small).removeRecursively();

    if (skipBig)
        return 0;
    const QString big = work.path() + QStringLiteral("/big");
    QDir().mkpath(big);
    for (int i = 0; i < 5; ++i)
        if (!writeFile(QFile::encodeName(big + QStringLiteral("/big%1.bin").arg(i)), 500ll << 20, quint64(i + 7))) {
            std::fprintf(stderr, "could not write the big files (disk full?)\n");
            return 1;
        }
    ::sync();
    compare("5 files of 500 MB", big, work.path(), 2);
    QDir(big).removeRecursively();
    return 0;
}
