#pragma once

#include "app/cli/CliArguments.h"
#include "app/cli/CliPresets.h"
#include "app/cli/CliProgress.h"
#include "conversion/MediaConverter.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class PresetStore;
class ShelfProgressState;

// One `perchbox run TOOL …`: resolves the preset and the files, runs the tool's engine on the
// event loop of a QCoreApplication, writes results to standard output and error lines to
// standard error, and reports the exit status through `finished`.
class CliRunner : public QObject
{
    Q_OBJECT
public:
    CliRunner(Cli::RunArguments args, QByteArray workingDirectory, PresetStore &store,
              QObject *parent = nullptr);
    ~CliRunner() override;

    // Starts the run; `finished` follows, always from the event loop.
    void start();
    // Ctrl+C: cancels the tool where it can be cancelled (temporary files are removed by the
    // tool). Returns false when the running tool cannot be stopped safely midway.
    bool interrupt();
    // After a SIGTERM the tool had its moment to stop and has not: ends the process now.
    // A conversion's staging folder is removed first (an archiver ends with us by itself,
    // and what it leaves in its private folder is cleared by the next run). Rename and
    // flatten, which write straight into the user's folders, are left to stop on their own
    // (flatten between two chunks of a copy, with the partial copy removed).
    void stopNow();

signals:
    void finished(int exitStatus);

private:
    void finish(int status);
    void fail(const QString &message, int status);
    bool resolveFiles();
    bool resolveOutputFolder(bool required);

    void runRename(const RenamePreset &preset);
    void runFlatten(const FlattenPreset &preset);
    void runZip(const ArchivePreset &preset);
    void runConvert(const ConversionPreset &preset);
    void convertGathered(const ConversionPreset &preset, const QList<ResolvedMediaFile> &media);

    void watchProgress();
    void showProgress();

    Cli::RunArguments m_args;
    QByteArray m_cwd;
    PresetStore &m_store;
    QList<QUrl> m_files;
    QList<QByteArray> m_shownNames; // the arguments as given, one per resolved file
    bool m_someMissing = false;
    std::optional<QUrl> m_outputFolder;

    CliProgress m_progress;
    ShelfProgressState *m_state = nullptr;
    QList<double> m_weights; // conversion: per-file weights, for the file count
    std::function<void()> m_cancel;
    bool m_interrupted = false;
    bool m_done = false;
};

// The Convert options a preset stands for, starting from the stored conversion defaults;
// the same reading as the Convert panel's (unknown raw values keep the default, lenient
// dimensions, an image format that cannot be written here becomes the first writable one).
ConversionJobOptions conversionOptionsForPreset(const ConversionPreset &preset);
