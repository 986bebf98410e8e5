#include "app/cli/Cli.h"

#include "app/cli/CliArguments.h"
#include "app/cli/CliPresets.h"
#include "app/cli/CliProgress.h"
#include "app/cli/CliRunner.h"
#include "conversion/model/BackgroundModel.h"
#include "conversion/model/BackgroundModelDownload.h"
#include "platform/FilePath.h"
#include "settings/SettingsStore.h"
#include "tools/presets/PresetStore.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <functional>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_interruptPipe[2] = {-1, -1};

void onInterrupt(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_interruptPipe[1], &byte, 1);
}

// How long a SIGTERM gives the tool to stop by itself before the process ends anyway.
constexpr int kTermGraceMs = 700;

void writeAll(FILE *stream, const QByteArray &data)
{
    std::fwrite(data.constData(), 1, size_t(data.size()), stream);
    std::fflush(stream);
}

int runPresets(const Cli::PresetsArguments &args)
{
    PresetStore &store = PresetStore::shared();
    if (args.exportPreset) {
        QString error;
        const auto preset = CliPresets::find(store, *args.tool, args.name, &error);
        if (!preset) {
            std::fprintf(stderr, "perchbox: %s\n", error.toUtf8().constData());
            return Cli::exitUsage;
        }
        writeAll(stdout, CliPresets::encode(*preset));
        return Cli::exitSuccess;
    }
    writeAll(stdout, CliPresets::listing(store, args.tool));
    return Cli::exitSuccess;
}

// Calls `cancel` with the signal on the first Ctrl+C (or SIGTERM); a second one stops the program
// at once.
void onInterrupt(QCoreApplication &app, std::function<void(int)> cancel)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_interruptPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [cancel = std::move(cancel), count = 0]() mutable {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_interruptPipe[0], &byte, 1);
        if (++count > 1) {
            std::signal(SIGINT, SIG_DFL);
            std::raise(SIGINT);
            return;
        }
        cancel(byte);
    });
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

// `perchbox model [download]`: where the background-removal model is, or its download.
int runModel(const QList<QByteArray> &args, QCoreApplication &app)
{
    const QString installed = BackgroundModel::installedPath();
    if (args.size() == 1 || (args.size() == 2 && args[1] == "status")) {
        if (installed.isEmpty()) {
            std::printf("not installed (\"perchbox model download\" fetches it: %lld MB, %s)\n",
                        (long long)qRound64(double(BackgroundModel::defaultSource().size) / 1e6),
                        qPrintable(BackgroundModel::sourceDescription()));
            return Cli::exitFailure;
        }
        std::printf("%s\n", qPrintable(installed));
        return Cli::exitSuccess;
    }
    if (args.size() != 2 || args[1] != "download") {
        std::fprintf(stderr, "perchbox: usage: perchbox model [status | download]\n");
        return Cli::exitUsage;
    }
    if (!installed.isEmpty()) {
        std::printf("%s\n", qPrintable(installed));
        return Cli::exitSuccess;
    }
    BackgroundModelDownload download;
    CliProgress progress(::isatty(STDERR_FILENO));
    using Stage = BackgroundModelDownload::Stage;
    QObject::connect(&download, &BackgroundModelDownload::progressChanged, &app, [&] {
        const qint64 total = download.total();
        CliProgress::Status status;
        status.label = QStringLiteral("Downloading the background model…");
        if (total > 0)
            status.fraction = double(download.received()) / double(total);
        status.files = BackgroundModelDownload::progressText(download.received(), total, download.secondsLeft());
        progress.update(status);
    });
    int result = Cli::exitFailure;
    QObject::connect(&download, &BackgroundModelDownload::stageChanged, &app, [&](Stage stage) {
        if (stage == Stage::preparing) {
            progress.update({QStringLiteral("Preparing the background model…"), std::nullopt, {}, {}});
            return;
        }
        if (stage == Stage::downloading)
            return;
        progress.clear();
        if (stage == Stage::finished) {
            std::printf("%s\n", qPrintable(download.modelPath()));
            result = Cli::exitSuccess;
        } else if (stage == Stage::cancelled) {
            std::fprintf(stderr, "perchbox: download cancelled\n");
            result = Cli::exitInterrupted;
        } else {
            std::fprintf(stderr, "perchbox: %s\n", qPrintable(download.errorText()));
        }
        QCoreApplication::exit(result);
    });
    onInterrupt(app, [&download](int) { download.cancel(); });
    QMetaObject::invokeMethod(&download, [&download] { download.start(); }, Qt::QueuedConnection);
    app.exec();
    return result;
}

int runTool(const Cli::RunArguments &args, QCoreApplication &app)
{
    CliRunner runner(args, FilePath::workingDirectory(), PresetStore::shared());
    int status = Cli::exitFailure;
    QObject::connect(&runner, &CliRunner::finished, &app, [&status](int s) {
        status = s;
        QCoreApplication::exit(s);
    });

    // Ctrl+C cancels the tool as its window's Cancel does; a second Ctrl+C stops at once.
    onInterrupt(app, [&runner](int signal) {
        if (!runner.interrupt())
            std::fprintf(stderr, "\nperchbox: this tool cannot be stopped safely midway; it finishes the "
                                 "files it has begun (press Ctrl+C again to stop at once)\n");
        // A SIGTERM (a session ending, a service manager) ends us within a second, however
        // long the current file would take: a converter busy with a large file or a slow
        // disk does not keep the process alive.
        if (signal == SIGTERM)
            QTimer::singleShot(kTermGraceMs, &runner, [&runner] { runner.stopNow(); });
    });

    QMetaObject::invokeMethod(&runner, [&runner] { runner.start(); }, Qt::QueuedConnection);
    app.exec();
    return status;
}

} // namespace

namespace Cli {

QByteArray helpText()
{
    return QByteArrayLiteral(
        "Usage:\n"
        "  perchbox                      start Perchbox, or show the shelves of the running one\n"
        "  perchbox [--send] FILE…       put files or folders on the default shelf (or \"Inbox\"),\n"
        "                                starting Perchbox if needed\n"
        "  perchbox --new-shelf          make a new shelf and show it, starting Perchbox if needed\n"
        "  perchbox --quit               quit the running Perchbox\n"
        "  perchbox --version            print the version\n"
        "  perchbox --help, -h           print this help\n"
        "\n"
        "  The actions of the global shortcuts, for any desktop's keyboard settings and for\n"
        "  scripts (they start Perchbox first when it is not running):\n"
        "  perchbox toggle               show or hide all shelves\n"
        "  perchbox new-shelf            make a new shelf\n"
        "  perchbox tuck left|right      tuck the active shelf (the one last opened, hovered or\n"
        "                                brought to the front) against that screen edge; again:\n"
        "                                untuck it\n"
        "  perchbox summon SHELF         bring a shelf (its name or id) to the pointer; again:\n"
        "                                send it back\n"
        "  perchbox favorite SHELF FAVORITE\n"
        "                                click a favorite of a shelf (its name or id); FAVORITE is\n"
        "                                the button's name, its preset's name or its position (1 for\n"
        "                                the first); the run joins the shelf's queue as a click does\n"
        "\n"
        "  perchbox run TOOL (--preset NAME | --preset-file PATH) [OPTIONS] [--] FILE…\n"
        "      Run a tool with a saved preset on files and folders, without the desktop.\n"
        "      TOOL is one of:\n"
        "        zip      pack the files into archives (ZIP, TAR+GZ or 7Z, as the preset says)\n"
        "        rename   rename the files where they are\n"
        "        flatten  copy or move every file, from folders at any depth, into one folder\n"
        "        convert  convert audio, video and images\n"
        "      Options:\n"
        "        --preset NAME        the saved preset of that name (see \"perchbox presets\")\n"
        "        --preset-file PATH   a preset in its JSON form (\"-\" reads standard input)\n"
        "        --output DIR, -o DIR the folder to write into; required by zip and flatten,\n"
        "                             and by convert unless the preset replaces the originals\n"
        "        --next-to-first      write into the folder that holds the first FILE\n"
        "        --name NAME          zip, one archive of all files: its name without the\n"
        "                             extension (default: the first file's name); a name that\n"
        "                             is taken gets a number (\"Photos 2.zip\")\n"
        "        --dry-run, -n        rename and flatten: print what would happen (old → new\n"
        "                             names; source → target and duplicates) and touch nothing\n"
        "      Outputs are printed one a line, errors go to standard error. On a terminal a\n"
        "      progress line shows the percentage, the files and the time remaining.\n"
        "      Ctrl+C cancels: temporary files are removed and nothing is left half-written.\n"
        "\n"
        "  perchbox model [download]     where the background-removal model is; download it\n"
        "                                (as the Convert panel offers) when it is missing\n"
        "\n"
        "  perchbox presets [TOOL]       list the saved presets (of one tool: one name a line)\n"
        "  perchbox presets export TOOL NAME\n"
        "                                print a preset in its JSON form, for --preset-file\n"
        "\n"
        "  perchbox check-updates [--channel stable|nightly]\n"
        "      Look for a newer Perchbox on the update channel (default: the one chosen in the\n"
        "      settings) and print one line: the newer version and its download page, or that\n"
        "      this version is up to date (both exit 0), or why the check failed (exit 1).\n"
        "      Nothing is downloaded.\n"
        "\n"
        "Exit status: 0 success; 1 when any file failed (or there is no shelf to tuck); 2 for bad\n"
        "usage (unknown tool, preset, option, shelf); 130 when interrupted.\n"
        "\n"
        "Files: settings and presets in $XDG_CONFIG_HOME/Perchbox, shelves in\n"
        "$XDG_DATA_HOME/Perchbox. See perchbox(1).\n");
}

} // namespace Cli

bool cliHandles(int argc, char **argv)
{
    return argc > 1 && Cli::handles(QByteArray(argv[1]));
}

int runCli(int argc, char **argv)
{
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args << QByteArray(argv[i]);

    if (args.value(0) == "model") {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Perchbox"));
        return runModel(args, app);
    }

    QString error;
    const std::optional<Cli::Command> command = Cli::parse(args, &error);
    if (!command) {
        std::fprintf(stderr, "perchbox: %s\n", error.toUtf8().constData());
        return Cli::exitUsage;
    }
    if (command->kind == Cli::Command::Kind::help) {
        writeAll(stdout, Cli::helpText());
        return Cli::exitSuccess;
    }
    // Listings and tool runs only read the settings and presets: the file is never rewritten
    // or set aside by them, also when it holds entries this version cannot read.
    if (command->kind == Cli::Command::Kind::presets || command->kind == Cli::Command::Kind::run)
        SettingsStore::makeSharedReadOnly();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Perchbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PERCHBOX_VERSION));

    if (command->kind == Cli::Command::Kind::presets)
        return runPresets(command->presets);
    if (command->kind == Cli::Command::Kind::checkUpdates)
        return Cli::runCheckUpdates(command->checkUpdates);
    return runTool(command->run, app);
}
