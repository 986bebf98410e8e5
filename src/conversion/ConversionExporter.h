#pragma once

#include "conversion/MediaConverter.h"
#include "conversion/MediaModel.h"
#include "tools/flatten/FileOps.h"

#include "tools/progress/RemainingTimeEstimate.h"

#include <QElapsedTimer>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

class ShelfProgressState;

// The converters the job uses, one per media type.
struct ConverterSet {
    std::shared_ptr<MediaConverter> audio; // also for videos converted with "Extract audio only"
    std::shared_ptr<MediaConverter> video;
    std::shared_ptr<MediaConverter> image;

    // The real converters (FFmpeg for audio and video, libvips for images).
    static ConverterSet standard();
};

// What a finished job did: the files it produced and, for every file that produced nothing,
// why (a file not reached because the job was cancelled is not a failure).
struct ConversionReport {
    struct Failure {
        QUrl source;
        QString reason;
    };
    QList<QUrl> outputs;          // produced files, in order
    QList<QUrl> convertedSources; // the media files whose output was put in place
    QList<Failure> failures;
    bool cancelled = false;

    // "name: reason", one per failure.
    QStringList failureLines() const;
};

// The conversion job: converts the files one after the other on a worker thread, each into
// the staging folder first, then moves the result to its final place by the output mode;
// reports one progress bar with a time estimate into the shelf's progress state; honours
// the cancellation flag before each file and when each converter returns; removes the
// staging folder at the end; posts the "Conversion Complete" notification when something
// was produced; hands the list of produced files to the completion handler on the UI thread.
class ConversionExporter : public QObject
{
    Q_OBJECT
public:
    struct Job {
        QList<ResolvedMediaFile> files;
        ConversionJobOptions options;
        QString stagingFolder;                  // created by the caller (makeStagingFolder)
        QString lamePath;                       // MP3 encoder executable, "" when none
        LockedFlagPtr cancel;                   // set by the user interface
        QPointer<ShelfProgressState> progress;  // may be null
        QString sourceShelfName;
        bool postNotification = true;
    };
    using Completion = std::function<void(const QList<QUrl> &outputs)>;
    using ReportCompletion = std::function<void(const ConversionReport &report)>;

    // Starts the job and returns at once. The exporter deletes itself after `completion`
    // has run (on the thread that called start, which must run an event loop).
    static ConversionExporter *start(Job job, ReportCompletion completion,
                                     ConverterSet converters = ConverterSet::standard());
    // The same, for callers that need only the produced files.
    static ConversionExporter *start(Job job, Completion completion,
                                     ConverterSet converters = ConverterSet::standard());

    // "<app data>/ConversionTemp/<new UUID>", created and claimed (see StagingFolder); "" on
    // failure. The job removes it when it ends.
    static QString makeStagingFolder();

    // Quitting: cancels every running job and removes its staging folder at once (outputs
    // already in place stay), then waits up to `graceMs` for the jobs' threads. False when one
    // is still busy (a converter that cannot stop midway): the caller ends the process without
    // waiting for it, since nothing it could still produce would be kept.
    static bool stopAllForQuit(int graceMs);
    static constexpr int quitGraceMs = 500;

    // ---- the rules, exposed for tests ----
    // The type a file is converted as (a video with "Extract audio only" counts as audio).
    static MediaType effectiveType(MediaType type, const ConversionJobOptions &options);
    static QString outputExtension(MediaType effectiveType, const ConversionJobOptions &options);
    // "my.photo.png" + "jpg" → "my.photo.jpg"; "name" → "name.jpg"; ".hidden" → ".hidden.jpg".
    static QByteArray outputName(const QByteArray &sourceName, const QString &extension);
    // Final path of an output (before collision handling); creates mirror-tree folders.
    static QByteArray finalPath(const ResolvedMediaFile &file, const QByteArray &outputName,
                                const ConversionJobOptions &options, bool createFolders);
    // "photo.png" → "photo 2.png" (n = 2, 3, …); no dot when there is no extension.
    static QByteArray numberedName(const QByteArray &name, int n);
    // The weight of a file in the progress bar: its duration for audio and video (60 when
    // unknown), 1 for an image.
    static double weight(const ResolvedMediaFile &file);
    struct Progress {
        double fraction = 0;
        double estimateSeconds = 0;
    };
    // While a converter runs: processed media seconds p at speed s of the current file.
    static Progress runningProgress(double completedWeight, double totalWeight, double p, double s);
    // After a file: min(1, completed / max(total, 1)).
    static double finishedFraction(double completedWeight, double totalWeight);
    // Body of the completion notification.
    static QString notificationBody(int outputCount, const QString &sourceShelfName);
    // Moves a staged file into place. Overwrite replaces an existing file only by an atomic
    // rename once the whole new file is beside it; otherwise an existing file is never
    // touched and a numbered name is chosen. Returns the final path, "" on failure.
    static QByteArray moveIntoPlace(const QByteArray &staged, const QByteArray &finalPath,
                                    bool overwrite, QString *error = nullptr,
                                    const FileOps::StopRequest &stop = {});

signals:
    void progressChanged(double fraction, const QString &estimateText);
    void finished(const QList<QUrl> &outputs);

private:
    ConversionExporter(Job job, ReportCompletion completion, ConverterSet converters);
    void runOnWorker(); // the loop, on a worker thread
    void reportProgress(double fraction); // from the worker
    void finish(); // on the owner thread

    Job m_job;
    QElapsedTimer m_clock;           // the worker's
    RemainingTimeEstimate m_estimate; // the owner thread's
    ReportCompletion m_completion;
    ConverterSet m_converters;
    ConversionReport m_report;
};

// The text after a shelf's name for the shelf that receives converted files.
inline const QString kConvertedShelfSuffix = QStringLiteral(" \u2014 Converted");
