#pragma once

#include <QByteArray>

// The command-line verbs that run without the desktop: `perchbox run …`, `perchbox presets …`
// and the full `--help`. They use a QCoreApplication of their own (no display, no running
// instance needed) and never construct a window.
//
// main() calls runCli before anything else when cliHandles(argv[1]) is true, and returns its
// exit status.
bool cliHandles(int argc, char **argv);
int runCli(int argc, char **argv);

namespace Cli {
// The text of `perchbox --help`.
QByteArray helpText();
} // namespace Cli
