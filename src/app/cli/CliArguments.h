#pragma once

#include "app/cli/CliCheckUpdates.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The command line of the tool verbs:
//
//   perchbox run TOOL (--preset NAME | --preset-file PATH) [--output DIR | --next-to-first]
//                [--name NAME] [--dry-run] [--] FILE…
//   perchbox presets [TOOL]
//   perchbox presets export TOOL NAME
//   perchbox check-updates [--channel stable|nightly]
//
// Arguments are kept as raw bytes where they name files, so that names which are not valid
// UTF-8 survive; preset and archive names are text.
namespace Cli {

enum class Tool { zip, rename, flatten, convert };

// "zip", "rename", "flatten", "convert"
QString toolName(Tool tool);
// "Zip", "Rename", "Flatten", "Convert" (as in the file manager entries)
QString toolTitle(Tool tool);
std::optional<Tool> toolFromName(const QString &name);
QList<Tool> allTools();
// "zip, rename, flatten, convert"
QString toolList();

// Exit statuses.
constexpr int exitSuccess = 0;
constexpr int exitFailure = 1;     // some file (or the whole run) failed
constexpr int exitUsage = 2;       // bad command line, unknown tool or preset
constexpr int exitInterrupted = 130;

struct RunArguments {
    Tool tool = Tool::zip;
    QString presetName;               // --preset
    QByteArray presetFile;            // --preset-file ("-" for standard input)
    bool hasPresetFile = false;
    QByteArray output;                // --output
    bool nextToFirst = false;         // --next-to-first: the folder that holds the first FILE
    std::optional<QString> archiveName; // --name (zip, one archive of all files)
    bool dryRun = false;
    QList<QByteArray> files;
};

struct PresetsArguments {
    std::optional<Tool> tool;         // list one tool's presets, or all
    bool exportPreset = false;        // presets export TOOL NAME
    QString name;
};

struct Command {
    enum class Kind { help, run, presets, checkUpdates } kind = Kind::help;
    RunArguments run;
    PresetsArguments presets;
    CheckUpdatesArguments checkUpdates;
};

// Parses argv[1…] (argv[1] being "run", "presets", "check-updates", "--help" or "-h"). On a usage error
// returns nothing and sets `error` to one line (without the program name).
std::optional<Command> parse(const QList<QByteArray> &args, QString *error);

// True for the first arguments that this command line handles.
bool handles(const QByteArray &firstArgument);

} // namespace Cli
