// perchbox                 start (or bring the running instance forward)
// perchbox --send FILE…    put files on a shelf ("Send to Perchbox"), starting Perchbox if needed
// perchbox --quit          quit the running instance
// perchbox VERB …          act on the running instance (app/cli/ShellVerbs.h), starting it if needed
// perchbox --new-shelf     make a new shelf (the launcher's "New Shelf"), starting Perchbox if needed

#include "app/FavoritesIntegration.h"
#include "app/HotkeyIntegration.h"
#include "app/PerchboxApp.h"
#include "app/StartupReport.h"
#include "app/ScreenshotIntegration.h"
#include "app/ToolIntegration.h"
#include "app/UpdateIntegration.h"
#include "app/cli/Cli.h"
#include "app/cli/PresetMenuSync.h"
#include "app/cli/ShellVerbs.h"
#include "conversion/ConversionExporter.h"
#include "model/ShelfManager.h"
#include "platform/AppBus.h"
#include "platform/DisplayPlatform.h"
#include "platform/FilePath.h"
#include "settings/AppSettings.h"
#include "settings/SettingsStore.h"
#include "shelf/ShelfWindow.h"
#include "shelf/ThumbnailCache.h"
#include "tools/presets/PresetStore.h"

#include <QApplication>
#include <QClipboard>
#include <QSocketNotifier>
#include <QThreadPool>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <vector>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

// Set when a start that meant to hand over found no instance after all and runs the program
// again to become it.
constexpr char kStartHereVariable[] = "PERCHBOX_START_HERE";

// How long a thumbnail being written at quit may take to finish.
constexpr int kThumbnailWritesGraceMs = 2000;

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

struct CommandLine {
    bool send = false;
    bool quit = false;
    bool newShelf = false;
    bool help = false;
    bool version = false;
    QList<QByteArray> files;
    QByteArray unknown;
};

// Reads the arguments as raw bytes, so that file names that are not valid UTF-8 survive.
CommandLine parse(int argc, char **argv)
{
    CommandLine cl;
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (!filesOnly && arg == "--") {
            filesOnly = true;
        } else if (!filesOnly && arg == "--send") {
            cl.send = true;
        } else if (!filesOnly && arg == "--quit") {
            cl.quit = true;
        } else if (!filesOnly && arg == "--new-shelf") {
            cl.newShelf = true;
        } else if (!filesOnly && (arg == "--help" || arg == "-h")) {
            cl.help = true;
        } else if (!filesOnly && arg == "--version") {
            cl.version = true;
        } else if (!filesOnly && arg.startsWith('-') && !cl.send) {
            cl.unknown = arg;
        } else {
            cl.send = true;
            cl.files.append(arg);
        }
    }
    return cl;
}

// The running instance: the shelves, the tray item and everything that hangs off them, until
// the user quits. Returns the exit status.
int runInstance(QApplication &app, AppBusService &bus, AppBusService::Claim claim, const CommandLine &cl,
                const QList<QUrl> &files, const std::optional<QStringList> &verb)
{
    ShelfManager manager;
    // A verb that cannot be done here is told before Perchbox starts for it.
    if (verb) {
        const QString error = HotkeyIntegration::checkVerb(*verb, manager.shelves());
        if (!error.isEmpty()) {
            std::fprintf(stderr, "perchbox: %s\n", qPrintable(error));
            return 2;
        }
    }
    AppSettings &settings = AppSettings::instance();
    PerchboxApp::Options options;
    options.windowFactory = &ShelfWindow::createPresented;
    options.terminatingHook = [] { ShelfWindow::setTerminating(true); };
    PerchboxApp perchbox(manager, settings, options);
    // The tools' entries in the shelf windows and their settings sections; before any
    // shelf window exists.
    ToolIntegration tools(perchbox);
    // Hot keys, edge tucking and their verbs; before any shelf window exists.
    HotkeyIntegration hotkeys(perchbox);
    hotkeys.registerVerbs(bus);
    // Favorites: the bars in the shelf headers, their runs and their verb.
    FavoritesIntegration favorites(perchbox, tools);
    favorites.registerVerbs(bus);
    // Screenshot auto-capture and the update channel, with their settings pages.
    ScreenshotIntegration screenshots(perchbox);
    UpdateIntegration updates(perchbox);
    if (claim == AppBusService::Claim::primary)
        perchbox.attachBus(&bus);

    // SIGTERM / SIGINT quit like "Quit Perchbox": the open shelves are kept.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &perchbox, [&perchbox] {
            char byte;
            [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
            perchbox.quit();
        });
        struct sigaction action = {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGHUP, &action, nullptr);
    }

    PresetMenuSync::attach(PresetStore::shared(), settings, QCoreApplication::applicationFilePath());
    reportStartupWhenShown(perchbox);
    perchbox.start();
    // A verb given to this start acts once the shelves are back.
    if (verb) {
        const auto act = [&bus, &perchbox, words = *verb] {
            // "toggle" shows the shelves: they were not on screen before this start, so when
            // the start brought some back, that is the toggle done.
            if (words.first() == QLatin1String("toggle"))
                for (QWidget *window : perchbox.delegate().shelfWindows())
                    if (window->isVisible())
                        return;
            const VerbResult answer = bus.runVerb(words);
            if (answer.status != 0)
                std::fprintf(stderr, "perchbox: %s\n", qPrintable(answer.message));
        };
        if (perchbox.hasLaunched())
            act();
        else
            QObject::connect(&perchbox, &PerchboxApp::launched, &perchbox, act, Qt::SingleShotConnection);
    }
    // Files given to this start (or a new shelf) are taken once the shelves are back.
    if (!files.isEmpty() || cl.newShelf) {
        const auto takeRequest = [&perchbox, files, newShelf = cl.newShelf] {
            if (!files.isEmpty())
                perchbox.delegate().sendToShelf(files);
            if (newShelf)
                perchbox.delegate().newShelfFromPanel();
        };
        if (perchbox.hasLaunched())
            takeRequest();
        else
            QObject::connect(&perchbox, &PerchboxApp::launched, &perchbox, takeRequest, Qt::SingleShotConnection);
    }
    const int status = app.exec();
    // Conversions still running stop with the program: cancelled, their staging folders
    // removed. A converter that cannot stop midway must not keep the process alive (the
    // shelves and settings were written as the event loop ended).
    if (!ConversionExporter::stopAllForQuit(ConversionExporter::quitGraceMs)) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    takeStartupReportDescriptor();
    // `run`, `presets` and the full help work without the desktop (see app/cli/Cli.h).
    if (cliHandles(argc, argv))
        return runCli(argc, argv);

    // A shell verb: its words go to the running instance.
    std::optional<QStringList> verb;
    if (argc > 1 && ShellVerbs::find(QByteArray(argv[1]))) {
        QList<QByteArray> args;
        for (int i = 1; i < argc; ++i)
            args << QByteArray(argv[i]);
        QString error;
        verb = ShellVerbs::parse(args, &error);
        if (!verb) {
            std::fprintf(stderr, "perchbox: %s\n", qPrintable(error));
            return 2;
        }
    }

    // --help and --version need no display.
    if (const CommandLine early = verb ? CommandLine{} : parse(argc, argv); early.help || early.version) {
        if (early.help)
            std::printf("Usage: perchbox [--send FILE…] [--new-shelf] [--quit]\n"
                        "  (no arguments)   start Perchbox, or show the shelves of the running one\n"
                        "  --send FILE…     put files or folders on the default shelf (or \"Inbox\")\n"
                        "  --new-shelf      make a new shelf and show it\n"
                        "  --quit           quit the running Perchbox\n");
        else
            std::printf("Perchbox %s\n", PERCHBOX_VERSION);
        return 0;
    }
    // Files to send that all are missing: say so and stop, before anything is shown or
    // started (and without a display).
    if (const CommandLine early = verb ? CommandLine{} : parse(argc, argv);
        early.send && early.unknown.isEmpty() && !early.files.isEmpty()) {
        QList<QByteArray> missing;
        if (AppBus::resolveArguments(early.files, FilePath::workingDirectory(), &missing).isEmpty()) {
            for (const QByteArray &name : missing)
                std::fprintf(stderr, "perchbox: no such file or folder: %s\n", name.constData());
            return 1;
        }
    }

    // Shelf windows must be placeable: on Wayland with XWayland, run on X11.
    DisplayPlatform::apply();
    // A start that finds Perchbox running only hands its request over, and so never connects
    // to the display (with thousands of shelves on screen, a busy display server kept such a
    // start waiting for seconds).
    const bool startHere = qEnvironmentVariableIsSet(kStartHereVariable);
    qunsetenv(kStartHereVariable);
    const bool handOverOnly = !startHere && AppBus::instanceRunning();
    if (!handOverOnly && !verb) {
        if (const CommandLine early = parse(argc, argv); early.quit && early.unknown.isEmpty()) {
            std::fprintf(stderr, "perchbox: Perchbox is not running\n");
            return 0;
        }
    }
    const std::vector<char *> originalArguments(argv, argv + argc + 1);
    // Qt options (-platform …) are removed from argv by the application object.
    std::optional<QCoreApplication> handOverApp;
    std::optional<QApplication> guiApp;
    if (handOverOnly)
        handOverApp.emplace(argc, argv);
    else
        guiApp.emplace(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Perchbox"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PERCHBOX_VERSION));
    if (guiApp) {
        QApplication::setDesktopFileName(AppBus::appId);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    const CommandLine cl = verb ? CommandLine{} : parse(argc, argv);
    if (!cl.unknown.isEmpty()) {
        std::fprintf(stderr, "perchbox: unknown option %s (see --help)\n", cl.unknown.constData());
        return 2;
    }

    QList<QUrl> files;
    QList<QByteArray> missing;
    if (cl.send) {
        files = AppBus::resolveArguments(cl.files, FilePath::workingDirectory(), &missing);
        for (const QByteArray &name : missing)
            std::fprintf(stderr, "perchbox: no such file or folder: %s\n", name.constData());
    }

    // What this start asks of the running Perchbox; the exit status once it was delivered.
    const auto handOver = [&cl, &files, &missing, &verb](QString *error) -> std::optional<int> {
        if (verb) {
            VerbResult answer;
            if (!AppBusClient::command(*verb, &answer, error))
                return std::nullopt;
            if (answer.status != 0)
                std::fprintf(stderr, "perchbox: %s\n", qPrintable(answer.message));
            return answer.status;
        }
        bool delivered;
        if (cl.quit)
            delivered = AppBusClient::quit(error);
        else if (cl.newShelf)
            delivered = AppBusClient::newShelf(error);
        else if (cl.send && !files.isEmpty())
            delivered = AppBusClient::sendFiles(files, error);
        else
            delivered = AppBusClient::activate(error);
        if (!delivered)
            return std::nullopt;
        return missing.isEmpty() ? 0 : 1; // the files that exist were sent
    };

    if (handOverOnly) {
        QString error;
        if (const std::optional<int> status = handOver(&error))
            return *status;
        // The running Perchbox went away meanwhile: this start becomes the instance, in a
        // process of its own that has the display.
        handOverApp.reset();
        ::setenv(kStartHereVariable, "1", 1);
        ::execv("/proc/self/exe", originalArguments.data());
        std::fprintf(stderr, "perchbox: could not start: %s\n", std::strerror(errno));
        return 1;
    }

    // A request (files, a verb) when none runs: an installed Perchbox is started by the session
    // bus, in the session's own environment, and this process only delivers the request.
    const bool request = verb || cl.newShelf || (cl.send && !files.isEmpty());
    if (request && AppBus::canActivate()) {
        QString error;
        if (const std::optional<int> status = handOver(&error))
            return *status;
        std::fprintf(stderr, "perchbox: the session bus could not start Perchbox (%s); starting here\n",
                     qPrintable(error));
    }

    // One running instance per session: hand over to it when there is one.
    AppBusService bus;
    QString busError;
    AppBusService::Claim claim = bus.claim(&busError);
    for (int attempt = 0; claim == AppBusService::Claim::alreadyRunning; ++attempt) {
        QString error;
        if (const std::optional<int> status = handOver(&error))
            return *status;
        // The owner went away meanwhile (or hangs): try to become the running instance.
        if (attempt >= 3) {
            std::fprintf(stderr, "perchbox: the running Perchbox does not answer (%s); starting anyway\n",
                         qPrintable(error));
            break;
        }
        ::usleep(300 * 1000);
        claim = bus.claim(&busError);
    }
    if (cl.quit) {
        if (claim != AppBusService::Claim::alreadyRunning)
            std::fprintf(stderr, "perchbox: Perchbox is not running\n");
        return claim == AppBusService::Claim::alreadyRunning ? 1 : 0;
    }
    if (claim == AppBusService::Claim::noBus)
        std::fprintf(stderr, "perchbox: no D-Bus session bus (%s); starting alone, without single-instance "
                             "hand-over\n", qPrintable(busError));

    // The program's own objects are gone by now and its state is on disk; what is left are
    // the windows. The toolkit would take them down one at a time, each a round trip to a
    // display server that redraws the screen for every one (minutes with thousands of
    // shelves); the server drops them all at once when the connection closes. Work handed to
    // the thread pools (a move to the Trash, a thumbnail being written) is finished first.
    const int status = runInstance(*guiApp, bus, claim, cl, files, verb);
    QThreadPool::globalInstance()->waitForDone();
    // Files copied in a shelf stay on the clipboard: the toolkit hands them to the desktop's
    // clipboard keeper as the application object goes.
    if (QGuiApplication::clipboard()->ownsClipboard())
        return status;
    ThumbnailCache::finishWrites(kThumbnailWritesGraceMs);
    // A setting written as the windows went (a tool window keeping its last choices) is still
    // waiting for its save.
    SettingsStore::shared().flush();
    std::fflush(nullptr);
    ::_exit(status);
}
