#include "app/cli/CliCheckUpdates.h"

#include "app/cli/CliArguments.h"
#include "settings/SettingsStore.h"
#include "updates/UpdateChecker.h"
#include "updates/UpdateFeeds.h"
#include "updates/Version.h"

#include <QEventLoop>

#include <cstdio>

namespace Cli {

std::optional<CheckUpdatesArguments> parseCheckUpdates(const QList<QByteArray> &args, QString *error)
{
    CheckUpdatesArguments result;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QByteArray &arg = args.at(i);
        QByteArray value;
        if (arg == "--channel") {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("--channel needs stable or nightly");
                return std::nullopt;
            }
            value = args.at(++i);
        } else if (arg.startsWith("--channel=")) {
            value = arg.mid(10);
        } else {
            *error = QStringLiteral("usage: perchbox check-updates [--channel stable|nightly]");
            return std::nullopt;
        }
        if (value != "stable" && value != "nightly") {
            *error = QStringLiteral("unknown channel \"%1\"; the channels are: stable, nightly").arg(QString::fromLocal8Bit(value));
            return std::nullopt;
        }
        result.nightly = value == "nightly";
    }
    return result;
}

int runCheckUpdates(const CheckUpdatesArguments &args)
{
    const bool nightly = args.nightly.value_or(
        SettingsStore::shared().boolValue(QStringLiteral("useNightlyChannel")).value_or(false));
    const QString channel = nightly ? QStringLiteral("nightly") : QStringLiteral("stable");
    const QString current = Version::current();

    UpdateChecker checker;
    UpdateCheckResult result;
    QEventLoop loop;
    QObject::connect(&checker, &UpdateChecker::finished, &loop, [&](const UpdateCheckResult &r) {
        result = r;
        loop.quit();
    });
    checker.check(UpdateFeeds::addressForChannel(nightly), current);
    loop.exec();

    switch (result.status) {
    case UpdateCheckResult::Status::found:
        std::printf("Perchbox %s is available (%s channel): %s\n", qPrintable(result.version), qPrintable(channel),
                    result.page.toEncoded().constData());
        return exitSuccess;
    case UpdateCheckResult::Status::upToDate:
        std::printf("Perchbox %s is up to date (%s channel).\n", qPrintable(current), qPrintable(channel));
        return exitSuccess;
    case UpdateCheckResult::Status::error:
        break;
    }
    std::fprintf(stderr, "perchbox: could not check for updates (%s channel): %s\n", qPrintable(channel),
                 result.message.toUtf8().constData());
    return exitFailure;
}

} // namespace Cli
