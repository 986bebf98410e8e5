// Saves the settings store in a tight loop, as the program does when its settings change
// one after another, and says on standard output each revision once it is on the disk.
// The crash-safety suite kills it with SIGKILL at random moments.
//
//   perchbox_state_writer SETTINGS_FILE
//
// At start it prints "start <revision>" (the revision found in the file, 0 for none), then
// counts up from there: every save holds the revision and a payload derived from it, so a
// reader can tell a whole save from a mix of two.
#include "settings/SettingsStore.h"

#include <QCoreApplication>

#include <cstdio>

QString crashPayload(qint64 revision)
{
    // Between a few bytes and about 40 KB, so that saves cross the sizes where a write
    // is split into several.
    return QStringLiteral("r%1;").arg(revision).repeated(int(revision * 7919 % 5000));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: perchbox_state_writer SETTINGS_FILE\n");
        return 2;
    }
    SettingsStore store(QString::fromLocal8Bit(argv[1]));
    qint64 revision = store.intValue(QStringLiteral("crashRevision")).value_or(0);
    std::printf("start %lld\n", static_cast<long long>(revision));
    std::fflush(stdout);
    for (;;) {
        ++revision;
        store.setInt(QStringLiteral("crashRevision"), revision);
        store.setString(QStringLiteral("crashPayload"), crashPayload(revision));
        QString error;
        if (!store.flush(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("%lld\n", static_cast<long long>(revision));
        std::fflush(stdout);
    }
}
