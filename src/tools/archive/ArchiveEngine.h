#pragma once

#include "tools/archive/ArchiveOptions.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QProcess;

// Shared between whoever may cancel an archive run (the user interface, any thread) and the
// engine that runs the archiver.
class ArchiveCancellationToken
{
public:
    // Marks the run cancelled and interrupts the running archiver (SIGINT), if there is one.
    // May be called from any thread, before, during or after a run.
    void cancel();
    bool isCancelled() const;

    // Engine side: records the archiver process (nullptr when it ended). When the token was
    // already cancelled the process is interrupted at once.
    void attach(QProcess *process);
    void detach();

private:
    mutable QMutex m_lock;
    QPointer<QProcess> m_process;
    bool m_cancelled = false;
};
using ArchiveCancellationTokenPtr = std::shared_ptr<ArchiveCancellationToken>;

// Where the archivers are. The defaults are the system's; tests may point elsewhere.
struct ArchiveToolPaths {
    QString zip = QStringLiteral("/usr/bin/zip");
    QString tar = QStringLiteral("/usr/bin/tar");
    // Looked up in this order; the first that exists is used.
    QStringList sevenZipCandidates = defaultSevenZipCandidates();

    static QStringList defaultSevenZipCandidates();
    // The 7-Zip executable to use, or empty when none is installed.
    QString sevenZip() const;
};

namespace ArchiveEngine {

inline const QString cancelledMessage = QStringLiteral("cancelled");
inline const QString sevenZipMissingMessage = QStringLiteral(
    "7-Zip support isn't available in this build.\n\nRelease builds bundle the 7zz tool "
    "automatically.\n\nChoose ZIP or TAR+GZ instead.");
// "Archive tool failed (exit 2)." and, on a line of its own, the reason the tool gave on
// its error output (its first error line: "tar: x.tar.gz: Cannot write: No space left on
// device"), when it gave one.
QString toolFailedMessage(int status, const QByteArray &toolErrors = {});

// Every slash, colon, asterisk, question mark, double quote, <, >, | and backslash becomes "-".
QString cleanBaseName(const QString &name);

// File names hold at most this many bytes.
inline constexpr qsizetype kMaxNameBytes = 255;
// Why `name` (cleaned) cannot name an archive of `format`: empty, starting with a dot (a
// hidden file, as ".." would give "...zip"), or too long with its extension. Empty when
// it can. The command line refuses such names up front.
QString archiveNameProblem(const QString &name, ArchiveFormat format);
// A base name that can always be used: cleaned, leading dots dropped, shortened to fit,
// "Archive" when nothing is left (names proposed by the program, not typed by the user).
QString usableBaseName(const QString &name, ArchiveFormat format);

// True when the archiver gets the password on its standard input (7Z with a password).
bool passwordGoesOnStandardInput(ArchiveFormat format, bool usePassword, const QString &password);

// `wanted` when nothing is there, else the first free "base n.ext" for n = 2, 3, … (the name is
// split at its last dot, so Photos.tar.gz becomes "Photos.tar 2.gz").
QUrl uniqueArchiveURL(const QUrl &wanted);

// The archiver's arguments. For ZIP the inputs are not named (the archiver runs inside the
// staging folder and packs "."). Links inside folders are stored as links by every format.
// A 7Z password is never an argument: "-p" alone asks for it on standard input.
QList<QByteArray> arguments(ArchiveFormat format, CompressionLevel level, bool usePassword,
                            const QString &password, const QByteArray &output,
                            const QList<QByteArray> &inputs);

// Where an input lands in the ZIP staging folder: its own name, or on a clash base-n.ext with
// n the run's clash counter (increased at every clash).
class StagingNamer
{
public:
    QByteArray nameFor(const QByteArray &name);

private:
    QList<QByteArray> m_used;
    int m_clashes = 0;
};

// Turns an archiver's output, as it arrives, into progress fractions.
class ProgressParser
{
public:
    // `total`: the number of entries to pack (files, plus folders and their contents); 0
    // turns progress off for ZIP and TAR+GZ.
    ProgressParser(ArchiveFormat format, qint64 total);
    // The fraction to report after this chunk, if it brought any progress.
    std::optional<double> feed(const QByteArray &chunk);
    qint64 entriesSeen() const { return m_entries; }

private:
    std::optional<double> handleLine(const QByteArray &line);

    ArchiveFormat m_format;
    qint64 m_total;
    qint64 m_entries = 0;
    QByteArray m_partial;
};

} // namespace ArchiveEngine

using ArchiveProgressHandler = std::function<void(double fraction)>;
// No message: success. "cancelled": the run was cancelled. Anything else: a failure to show.
using ArchiveCompletionHandler = std::function<void(std::optional<QString> message)>;

// Runs one archiver invocation packing `urls` into `output`. Asynchronous: returns at once;
// progress and completion are delivered on the calling thread's event loop (the main thread
// for the user interface). The output is left alone on success; a partial archive the run
// created is removed on failure or cancellation. Staging and counting run on a worker thread.
void buildArchive(const QList<QUrl> &urls, const QUrl &output, ArchiveFormat format,
                  CompressionLevel level, bool usePassword, const QString &password,
                  const ArchiveCancellationTokenPtr &token, ArchiveProgressHandler onProgress,
                  ArchiveCompletionHandler onFinished, const ArchiveToolPaths &tools = {});
