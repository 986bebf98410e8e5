#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// perchbox check-updates [--channel stable|nightly]
//
// Checks the channel's update feed (by default the channel chosen in the settings) with the
// program's update checker and prints one line: the newer version and its page (exit 0),
// that this version is up to date (exit 0), or the error, on standard error (exit 1).
namespace Cli {

struct CheckUpdatesArguments {
    std::optional<bool> nightly; // --channel; empty: the settings' channel
};

// Parses the arguments after "check-updates"; on a usage error returns nothing and sets
// `error` to one line.
std::optional<CheckUpdatesArguments> parseCheckUpdates(const QList<QByteArray> &args, QString *error);

// Runs the check on the calling thread's event loop (a QCoreApplication must exist).
int runCheckUpdates(const CheckUpdatesArguments &args);

} // namespace Cli
