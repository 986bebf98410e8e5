#include "tools/archive/ArchiveRunner.h"

#include "platform/FilePath.h"
#include "platform/PrivateTemp.h"
#include "platform/Trash.h"
#include "tools/archive/ArchiveFileOps.h"
#include "tools/flatten/FileOps.h"
#include "tools/progress/ShelfProgressState.h"

#include <cerrno>

#include <QDir>
#include <QFile>
#include <QUuid>

namespace {

QString nameOf(const QUrl &url)
{
    return QString::fromLocal8Bit(ArchiveFileOps::lastComponent(FilePath::bytes(url)));
}

QUrl childUrl(const QUrl &folder, const QString &name)
{
    QByteArray dir = FilePath::bytes(folder);
    if (!dir.endsWith('/'))
        dir += '/';
    return FilePath::urlFromBytes(dir + QFile::encodeName(name));
}

} // namespace

ArchiveJobOptions jobOptions(const ArchiveToolOptions &o)
{
    ArchiveJobOptions job;
    job.format = o.format;
    job.level = o.compressionLevel;
    job.usePassword = o.usePassword && o.format == ArchiveFormat::sevenZip;
    job.password = o.password;
    job.zipIndividually = o.zipIndividually;
    job.removeOriginals = o.removeOriginals;
    return job;
}

QString proposedArchiveName(const QList<QUrl> &files, const QString &shelfName)
{
    QString name = shelfName;
    if (files.size() == 1)
        name = QString::fromLocal8Bit(
            ArchiveFileOps::splitExtension(ArchiveFileOps::lastComponent(FilePath::bytes(files.first()))).first);
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Archive");
    return name;
}

int trashFiles(const QList<QUrl> &files)
{
    int trashed = 0;
    for (const QUrl &url : files)
        if (Trash::moveToTrash(url).ok)
            ++trashed;
    return trashed;
}

std::optional<QUrl> moveToFreeArchiveName(const QByteArray &from, const QUrl &wanted, QString *error)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QUrl dest = ArchiveEngine::uniqueArchiveURL(wanted);
        const int err = FileOps::moveNew(from, FilePath::bytes(dest));
        if (err == 0)
            return dest;
        if (err != EEXIST) {
            *error = FileOps::errorDescription(err);
            return std::nullopt;
        }
        // Taken between the look and the move: the next free name.
    }
    *error = FileOps::errorDescription(EEXIST);
    return std::nullopt;
}

ArchiveRunner::ArchiveRunner(ArchiveRunHost *host, QObject *parent) : QObject(parent), m_host(host) {}

ArchiveRunner::~ArchiveRunner()
{
    PrivateTemp::removeRunFolder(m_runFolder);
}

void ArchiveRunner::setProgressState(ShelfProgressState *state)
{
    m_progress = state;
}

void ArchiveRunner::cancel()
{
    m_token->cancel();
}

QString ArchiveRunner::temporaryPath(const QString &name)
{
    if (m_runFolder.isEmpty())
        m_runFolder = PrivateTemp::makeRunFolder("archive");
    if (m_runFolder.isEmpty())
        return {};
    return QFile::decodeName(m_runFolder) + QLatin1Char('/') + name;
}

void ArchiveRunner::beginProgress()
{
    m_clock.start();
    if (!m_progress)
        return;
    m_progress->setLabel(m_label);
    m_progress->setEtaString(QString());
    m_progress->setFileCountLabel(m_files.size() == 1 ? QStringLiteral("1 file")
                                                      : QStringLiteral("%1 files").arg(m_files.size()));
    m_progress->setRunning(0.0);
    QPointer<ArchiveRunner> self(this);
    m_progress->setCancelHandler([self] {
        if (self)
            self->cancel();
    });
}

void ArchiveRunner::reportProgress(double fraction)
{
    if (!m_progress || m_ended || m_token->isCancelled())
        return;
    m_progress->setRunning(fraction);
    // Remaining time from the pace so far, once there is a pace to speak of.
    if (fraction >= 0.05 && fraction < 1.0)
        m_progress->setEtaSeconds(m_clock.elapsed() / 1000.0 * (1.0 - fraction) / fraction);
    else
        m_progress->setEtaString(QString());
}

void ArchiveRunner::end(Outcome outcome, const QString &message)
{
    if (m_ended)
        return;
    m_ended = true;
    // Whatever is left of the run (a half-built archive, the archiver's own temporary file)
    // goes with its folder.
    PrivateTemp::removeRunFolder(m_runFolder);
    m_runFolder.clear();
    if (m_progress) {
        m_progress->clearCancelHandler();
        switch (outcome) {
        case Outcome::succeeded:
            if (m_progress->phase() != ShelfProgressState::Phase::done)
                m_progress->markDone();
            break;
        case Outcome::failed:
            m_progress->markError();
            break;
        case Outcome::cancelled:
            m_progress->reset();
            break;
        }
    }
    emit finished(outcome, message, m_saved);
    deleteLater();
}

void ArchiveRunner::run(const QList<QUrl> &files, const QString &archiveName, const ArchiveJobOptions &options,
                        const std::optional<QUrl> &destinationFolder)
{
    if (options.zipIndividually)
        runPerFile(files, options, destinationFolder);
    else
        runAllIntoOne(files, archiveName, options, destinationFolder);
}

// ---------------------------------------------------------------------------------------------
// All into one archive

void ArchiveRunner::runAllIntoOne(const QList<QUrl> &files, const QString &archiveName,
                                  const ArchiveJobOptions &options, const std::optional<QUrl> &destinationFolder)
{
    m_files = files;
    m_options = options;
    const QString base = ArchiveEngine::usableBaseName(archiveName, options.format);
    const QString ext = fileExtension(options.format);
    const QString temporaryFile = temporaryPath(base + QLatin1Char('.') + ext);

    beginProgress();
    if (temporaryFile.isEmpty()) {
        const QString message = QStringLiteral("Could not make a private temporary folder for the archive.");
        m_host->showAlert(QStringLiteral("Export Failed"), QStringLiteral("Could not save archive:\n") + message);
        return end(Outcome::failed, message);
    }
    const QUrl temporary = FilePath::urlFromPath(temporaryFile);
    QPointer<ArchiveRunner> self(this);
    buildArchive(
        files, temporary, options.format, options.level, options.usePassword, options.password, m_token,
        [self](double f) {
            if (self)
                self->reportProgress(f);
        },
        [self, temporary, base, ext, destinationFolder](std::optional<QString> message) {
            if (!self) {
                ArchiveFileOps::removeTree(FilePath::bytes(temporary));
                return;
            }
            if (message) {
                ArchiveFileOps::removeTree(FilePath::bytes(temporary));
                if (*message == ArchiveEngine::cancelledMessage)
                    return self->end(Outcome::cancelled, QString());
                self->m_host->showAlert(QStringLiteral("Export Failed"),
                                        QStringLiteral("Could not save archive:\n") + *message);
                return self->end(Outcome::failed, *message);
            }
            if (self->m_progress) {
                self->m_progress->clearCancelHandler();
                self->m_progress->markDone();
            }
            if (destinationFolder)
                return self->saveSingle(temporary, childUrl(*destinationFolder, base + QLatin1Char('.') + ext), false);
            self->m_host->chooseSaveLocation(
                base + QLatin1Char('.') + ext, QStringLiteral("Save \"%1\" archive").arg(base), self->m_options.format,
                [self, temporary](std::optional<QUrl> chosen) {
                    if (!self) {
                        ArchiveFileOps::removeTree(FilePath::bytes(temporary));
                        return;
                    }
                    if (!chosen) {
                        ArchiveFileOps::removeTree(FilePath::bytes(temporary));
                        return self->end(Outcome::cancelled, QString());
                    }
                    self->saveSingle(temporary, *chosen, true);
                });
        },
        m_tools);
}

void ArchiveRunner::saveSingle(const QUrl &temporary, const QUrl &destination, bool mayReplace)
{
    const QByteArray from = FilePath::bytes(temporary);
    QString error;
    std::optional<QUrl> saved;
    if (mayReplace) {
        // The user agreed to replace a file there in the save panel; it is replaced in one
        // step once the whole archive is beside it.
        if (const int err = FileOps::moveReplacing(from, FilePath::bytes(destination)))
            error = FileOps::errorDescription(err);
        else
            saved = destination;
    } else {
        saved = moveToFreeArchiveName(from, destination, &error);
    }
    ArchiveFileOps::removeTree(from);
    if (!saved) {
        m_host->showAlert(QStringLiteral("Export Failed"), QStringLiteral("Could not save archive:\n") + error);
        return end(Outcome::failed, error);
    }
    m_saved << *saved;
    m_host->reveal({*saved});
    if (m_options.removeOriginals)
        trashFiles(m_files);
    end(Outcome::succeeded, QString());
}

// ---------------------------------------------------------------------------------------------
// One archive per file

void ArchiveRunner::runPerFile(const QList<QUrl> &files, const ArchiveJobOptions &options,
                               const std::optional<QUrl> &destinationFolder)
{
    m_files = files;
    m_options = options;
    m_runToken = QUuid::createUuid().toString(QUuid::Id128).left(12);
    m_index = 0;
    QPointer<ArchiveRunner> self(this);
    auto start = [self](const QUrl &folder) {
        if (!self)
            return;
        self->m_folder = folder;
        self->beginProgress();
        self->perFileNext();
    };
    if (destinationFolder) {
        start(*destinationFolder);
        return;
    }
    m_host->chooseDestinationFolder([self, start](std::optional<QUrl> folder) {
        if (!self)
            return;
        if (!folder)
            return self->end(Outcome::cancelled, QString());
        start(*folder);
    });
}

void ArchiveRunner::perFileNext()
{
    if (m_index >= m_files.size() || m_token->isCancelled())
        return perFileEnd();

    const QUrl file = m_files.at(m_index);
    const QByteArray name = ArchiveFileOps::lastComponent(FilePath::bytes(file));
    const QString base = ArchiveEngine::usableBaseName(
        QString::fromLocal8Bit(ArchiveFileOps::splitExtension(name).first), m_options.format);
    const QString ext = fileExtension(m_options.format);
    const QString temporaryFile = temporaryPath(base + QLatin1Char('_') + m_runToken + QLatin1Char('.') + ext);
    if (temporaryFile.isEmpty()) {
        m_failures << nameOf(file) + QStringLiteral(": Could not make a private temporary folder for the archive.");
        return perFileEnd();
    }
    const QUrl temporary = FilePath::urlFromPath(temporaryFile);
    ArchiveFileOps::removeTree(FilePath::bytes(temporary));

    if (m_progress)
        m_progress->setFileCountLabel(QStringLiteral("%1/%2").arg(m_index + 1).arg(m_files.size()));

    const int count = int(m_files.size());
    const int index = m_index;
    QPointer<ArchiveRunner> self(this);
    buildArchive(
        {file}, temporary, m_options.format, m_options.level, m_options.usePassword, m_options.password, m_token,
        [self, index, count](double f) {
            if (self)
                self->reportProgress((index + f) / count);
        },
        [self, file, temporary, base, ext](std::optional<QString> message) {
            if (!self) {
                ArchiveFileOps::removeTree(FilePath::bytes(temporary));
                return;
            }
            if (!message) {
                QString error;
                if (const auto dest = moveToFreeArchiveName(FilePath::bytes(temporary),
                                                            childUrl(self->m_folder, base + QLatin1Char('.') + ext),
                                                            &error)) {
                    self->m_saved << *dest;
                    self->m_archivedInputs << file;
                } else {
                    self->m_failures << nameOf(file) + QStringLiteral(": ") + error;
                }
            } else if (*message != ArchiveEngine::cancelledMessage) {
                self->m_failures << nameOf(file) + QStringLiteral(": ") + *message;
            }
            ArchiveFileOps::removeTree(FilePath::bytes(temporary));
            ++self->m_index;
            self->perFileNext();
        },
        m_tools);
}

void ArchiveRunner::perFileEnd()
{
    const bool cancelled = m_token->isCancelled();
    if (!m_saved.isEmpty())
        m_host->reveal(m_saved);
    // Only inputs whose archive was saved, and never after the user stopped the run.
    if (m_options.removeOriginals && !cancelled)
        trashFiles(m_archivedInputs);
    if (!m_failures.isEmpty()) {
        const QString text = QStringLiteral("Some files could not be archived:\n") + m_failures.join(QLatin1Char('\n'));
        m_host->showAlert(QStringLiteral("Export Failed"), text);
        return end(Outcome::failed, m_failures.join(QLatin1Char('\n')));
    }
    end(cancelled ? Outcome::cancelled : Outcome::succeeded, QString());
}
