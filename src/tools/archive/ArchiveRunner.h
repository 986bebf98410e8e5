#pragma once

#include "tools/archive/ArchiveEngine.h"
#include "tools/presets/PresetRules.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>

class ShelfProgressState;

// The options of one Zip run (the window's choices or an archive preset).
struct ArchiveJobOptions {
    ArchiveFormat format = ArchiveFormat::zip;
    CompressionLevel level = CompressionLevel::normal;
    bool usePassword = false;
    QString password;
    bool zipIndividually = false;
    bool removeOriginals = false;
};

// The run options of the Zip tool's choices (the password only for 7Z with its switch on).
ArchiveJobOptions jobOptions(const ArchiveToolOptions &options);

// What a run needs from the desktop: panels, the file manager and alerts. The window side
// implements it with dialogs; tests answer directly. Every answer may come later (panels are
// asynchronous); `done` must be called exactly once.
class ArchiveRunHost
{
public:
    virtual ~ArchiveRunHost() = default;
    // The save panel of "All into one zip": nothing when the user cancelled.
    virtual void chooseSaveLocation(const QString &proposedFileName, const QString &message,
                                    ArchiveFormat format,
                                    std::function<void(std::optional<QUrl>)> done) = 0;
    // The folder chooser of "One zip per file".
    virtual void chooseDestinationFolder(std::function<void(std::optional<QUrl>)> done) = 0;
    // Shows the archives in the file manager.
    virtual void reveal(const QList<QUrl> &urls) = 0;
    virtual void showAlert(const QString &title, const QString &message) = 0;
};

// Drives the archive engine for the Zip window and for favorites: one archive for all files
// or one per file, saving, revealing, trashing the originals, failures and progress. One
// runner does one run and then deletes itself (after `finished`).
class ArchiveRunner : public QObject
{
    Q_OBJECT
public:
    enum class Outcome { succeeded, failed, cancelled };
    Q_ENUM(Outcome)

    ArchiveRunner(ArchiveRunHost *host, QObject *parent = nullptr);
    ~ArchiveRunner() override;

    // The shelf's progress state to report into (may be null). The runner installs its
    // cancel handler there for the duration of the run.
    void setProgressState(ShelfProgressState *state);
    // The label shown with the ring (the tooltip), e.g. "Zipping…".
    void setProgressLabel(const QString &label) { m_label = label; }
    void setToolPaths(const ArchiveToolPaths &tools) { m_tools = tools; }

    // "All into one zip". `archiveName` is the base name the caller proposes (cleaned here).
    // Without `destinationFolder` the host's save panel asks where to save; with one the
    // archive goes there under a free name (favorites).
    void runAllIntoOne(const QList<QUrl> &files, const QString &archiveName,
                       const ArchiveJobOptions &options,
                       const std::optional<QUrl> &destinationFolder = std::nullopt);
    // "One zip per file". Without `destinationFolder` the host's folder chooser asks.
    void runPerFile(const QList<QUrl> &files, const ArchiveJobOptions &options,
                    const std::optional<QUrl> &destinationFolder = std::nullopt);
    // Runs whichever mode `options.zipIndividually` selects.
    void run(const QList<QUrl> &files, const QString &archiveName, const ArchiveJobOptions &options,
             const std::optional<QUrl> &destinationFolder = std::nullopt);

    void cancel();
    ArchiveCancellationTokenPtr token() const { return m_token; }

signals:
    // `message`: the failure text (also shown in the alert); `archives`: what was saved.
    void finished(ArchiveRunner::Outcome outcome, const QString &message, const QList<QUrl> &archives);

private:
    void beginProgress();
    void reportProgress(double fraction);
    void end(Outcome outcome, const QString &message);
    // Where an archive is built before it is saved: a private folder of this run (made on
    // first use, removed at the end). Empty when none can be made.
    QString temporaryPath(const QString &name);

    // Moves the built archive into place: over `destination` when the user chose it in the
    // save panel (`mayReplace`), else under the first free name at or after it.
    void saveSingle(const QUrl &temporary, const QUrl &destination, bool mayReplace);
    void perFileNext();
    void perFileEnd();

    ArchiveRunHost *m_host;
    QPointer<ShelfProgressState> m_progress;
    QString m_label = QStringLiteral("Zipping…");
    ArchiveToolPaths m_tools;
    QByteArray m_runFolder;
    ArchiveCancellationTokenPtr m_token = std::make_shared<ArchiveCancellationToken>();
    ArchiveJobOptions m_options;
    QList<QUrl> m_files;
    QList<QUrl> m_saved;
    bool m_ended = false;
    QElapsedTimer m_clock;

    // One-per-file state.
    QUrl m_folder;
    QString m_runToken;
    int m_index = 0;
    QStringList m_failures;
    QList<QUrl> m_archivedInputs;
};

// The name proposed for one archive of `files`: the file's name without its extension when
// there is one file, else the shelf's name; "Archive" when that leaves nothing.
QString proposedArchiveName(const QList<QUrl> &files, const QString &shelfName);

// Moves each file to the Trash; failures are skipped. Returns how many were trashed.
int trashFiles(const QList<QUrl> &files);

// Moves `from` to `wanted`, or, when that name is taken, to the next free name of
// uniqueArchiveURL; never replaces a file. Returns the URL used, or nothing with `error`.
std::optional<QUrl> moveToFreeArchiveName(const QByteArray &from, const QUrl &wanted, QString *error);
