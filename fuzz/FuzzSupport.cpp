#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

namespace {

QString s_scratch;

} // namespace

namespace Fuzz {

QString scratchDir()
{
    return s_scratch;
}

void fail(const char *condition, const char *file, int line, const QByteArray &detail)
{
    std::fprintf(stderr, "\n*** invariant failed at %s:%d: %s\n", file, line, condition);
    if (!detail.isEmpty())
        std::fprintf(stderr, "*** %s\n", detail.constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace Fuzz

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A folder of our own for HOME and the XDG folders: targets that load settings or
    // state read and write there, never in the real home.
    const QByteArray base = qEnvironmentVariableIsEmpty("TMPDIR") ? QByteArray("/tmp") : qgetenv("TMPDIR");
    QByteArray templ = base + "/perchbox-fuzz-XXXXXX";
    if (!::mkdtemp(templ.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    s_scratch = QString::fromLocal8Bit(templ);
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QByteArray dir = templ + '/' + QByteArray(name).toLower();
        QDir().mkpath(QString::fromLocal8Bit(dir));
        qputenv(name, dir);
    }
    qputenv("XDG_CONFIG_DIRS", templ + "/xdg-config-dirs");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own warnings about the inputs (damaged files and the like) are expected.
    qputenv("QT_LOGGING_RULES", "*.warning=false;default.warning=false");

    static int argc = 1;
    static char name[] = "perchbox-fuzz";
    static char *argv[] = {name, nullptr};
    new QCoreApplication(argc, argv); // lives as long as the process
    return 0;
}
