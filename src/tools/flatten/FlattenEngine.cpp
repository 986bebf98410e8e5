#include "tools/flatten/FlattenEngine.h"

#include "model/Shelf.h"
#include "platform/FilePath.h"
#include "platform/Trash.h"
#include "tools/flatten/FileOps.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QMetaObject>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QString display(const QByteArray &name)
{
    return QFile::decodeName(name);
}

struct DirId {
    dev_t dev = 0;
    ino_t ino = 0;
    bool valid = false;
};

// Collects the files below `folder` into `out`, depth first in the walk's own order.
void walk(const QByteArray &folder, const DirId &skip, QList<QByteArray> &out, QStringList &errors)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        errors.append(QStringLiteral("Could not process ") + display(FileOps::lastComponent(folder))
                      + QStringLiteral(": ") + FileOps::errorDescription(errno));
        return;
    }
    while (struct dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.')
            continue; // hidden, and "." / ".."
        const QByteArray path = join(folder, QByteArray(name));
        unsigned char type = entry->d_type;
        struct stat st;
        bool haveStat = false;
        if (type == DT_UNKNOWN || type == DT_DIR) {
            if (::lstat(path.constData(), &st) != 0) {
                out.append(path); // vanished meanwhile: reported when processed
                continue;
            }
            haveStat = true;
            type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
        }
        if (type == DT_DIR) {
            if (skip.valid && haveStat && st.st_dev == skip.dev && st.st_ino == skip.ino)
                continue; // the destination itself, inside a source folder
            walk(path, skip, out, errors);
        } else {
            out.append(path);
        }
    }
    ::closedir(dir);
}

struct timespec modificationTime(const QByteArray &path)
{
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return {0, 0}; // unreadable: the distant past
    return st.st_mtim;
}

bool newer(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

bool splitExtension(const QByteArray &name, QByteArray *base, QByteArray *ext)
{
    const qsizetype dot = name.lastIndexOf('.');
    if (dot <= 0 || dot == name.size() - 1) {
        *base = name;
        ext->clear();
        return false;
    }
    *base = name.left(dot);
    *ext = name.mid(dot + 1);
    return true;
}

} // namespace

FlattenEngine &FlattenEngine::shared()
{
    static FlattenEngine engine;
    return engine;
}

void FlattenEngine::flatten(const QList<QUrl> &items, const QUrl &destination,
                            FlattenDuplicateMode mode, FlattenOperation operation,
                            Completion completion, CancelFlag cancel) const
{
    QThreadPool *pool = QThreadPool::globalInstance();
    auto future = QtConcurrent::run(pool, [items, destination, mode, operation, cancel,
                                           completion = std::move(completion)]() {
        FlattenResult result = run(items, destination, mode, operation, cancel);
        QObject *app = QCoreApplication::instance();
        if (!app) {
            completion(result);
            return;
        }
        QMetaObject::invokeMethod(app, [completion, result]() { completion(result); },
                                  Qt::QueuedConnection);
    });
    Q_UNUSED(future);
}

void FlattenEngine::flatten(const QList<ShelfFile> &files, const QUrl &destination,
                            FlattenDuplicateMode mode, FlattenOperation operation,
                            Completion completion, CancelFlag cancel) const
{
    QList<QUrl> items;
    items.reserve(files.size());
    for (const ShelfFile &file : files)
        items.append(file.resolvedURL());
    flatten(items, destination, mode, operation, std::move(completion), std::move(cancel));
}

QList<QByteArray> FlattenEngine::collectSources(const QList<QUrl> &items, const QByteArray &destination,
                                               QStringList *errors)
{
    DirId destId;
    if (struct stat st; ::stat(destination.constData(), &st) == 0)
        destId = {st.st_dev, st.st_ino, true};
    QList<QByteArray> sources;
    QStringList walkErrors;
    for (const QUrl &item : items) {
        const QByteArray path = FilePath::bytes(item);
        struct stat st;
        if (!path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (destId.valid && st.st_dev == destId.dev && st.st_ino == destId.ino)
                continue; // flattening the destination into itself: nothing to gather
            walk(path, destId, sources, walkErrors);
        } else {
            sources.append(path.isEmpty() ? item.toString().toUtf8() : path);
        }
    }
    if (errors)
        errors->append(walkErrors);
    return sources;
}

FlattenResult FlattenEngine::run(const QList<QUrl> &items, const QUrl &destination,
                                 FlattenDuplicateMode mode, FlattenOperation operation,
                                 const CancelFlag &cancel)
{
    FlattenResult result;
    const FileOps::StopRequest stop = [cancel] { return cancel && cancel->load(); };
    QByteArray dest = FilePath::bytes(destination);
    while (dest.size() > 1 && dest.endsWith('/'))
        dest.chop(1);
    if (const int err = FileOps::makePath(dest)) {
        result.errors.append(QStringLiteral("Could not create destination folder: ")
                             + FileOps::errorDescription(err));
        return result;
    }
    // 1. Collect everything first, so nothing that arrives during the run is taken again.
    const QList<QByteArray> sources = collectSources(items, dest, &result.errors);

    // 2. Place every collected file.
    const QByteArray duplicates = join(dest, duplicatesFolderName);
    const bool move = operation == FlattenOperation::move;
    // Files this run moved into the destination, by name: another source of the same name
    // must not destroy them.
    struct Placed {
        dev_t dev;
        ino_t ino;
    };
    QHash<QByteArray, Placed> movedHere;
    auto remember = [&](const QByteArray &name, const QByteArray &target) {
        struct stat st;
        if (move && ::lstat(target.constData(), &st) == 0)
            movedHere.insert(name, {st.st_dev, st.st_ino});
    };
    for (const QByteArray &source : sources) {
        if (stop()) {
            result.cancelled = true;
            break;
        }
        const QByteArray name = FileOps::lastComponent(source);
        const QByteArray target = join(dest, name);
        struct stat sourceSt;
        if (::lstat(source.constData(), &sourceSt) != 0) {
            result.errors.append(QStringLiteral("Could not process ") + display(name)
                                 + QStringLiteral(": ") + FileOps::errorDescription(errno));
            continue;
        }
        // A pipe, a device or a socket is never opened, copied or moved.
        if (S_ISFIFO(sourceSt.st_mode) || S_ISCHR(sourceSt.st_mode) || S_ISBLK(sourceSt.st_mode)
            || S_ISSOCK(sourceSt.st_mode)) {
            result.errors.append(QStringLiteral("Could not process ") + display(name)
                                 + QStringLiteral(": not a file or a folder (a pipe or a device, for example)"));
            continue;
        }
        struct stat targetSt;
        if (::lstat(target.constData(), &targetSt) != 0) {
            const int err = move ? FileOps::moveNew(source, target, stop) : FileOps::copyNew(source, target, stop);
            if (err == ECANCELED) {
                result.cancelled = true;
                break;
            }
            if (err) {
                result.errors.append(QStringLiteral("Could not process ") + display(name)
                                     + QStringLiteral(": ") + FileOps::errorDescription(err));
            } else if (move) {
                ++result.filesMoved;
                remember(name, target);
            } else {
                ++result.filesCopied;
            }
            continue;
        }

        if (sourceSt.st_dev == targetSt.st_dev && sourceSt.st_ino == targetSt.st_ino)
            continue; // the file is already where it would go

        if (mode == FlattenDuplicateMode::overwriteNewest) {
            if (!newer(modificationTime(source), modificationTime(target)))
                continue;
            const auto ours = movedHere.constFind(name);
            const bool otherSource = ours != movedHere.constEnd() && ours->dev == targetSt.st_dev
                                     && ours->ino == targetSt.st_ino;
            int err = 0;
            QString reason;
            if (otherSource) {
                // The older file is another of the user's own sources, not a copy: it goes
                // to the Trash, and the newer one takes the free name.
                const Trash::Result trashed = Trash::moveToTrash(FilePath::urlFromBytes(target));
                if (!trashed.ok)
                    reason = QStringLiteral("the older file of that name could not be moved to the Trash: ")
                             + trashed.error;
                else
                    err = FileOps::moveNew(source, target, stop);
            } else {
                err = FileOps::replaceExisting(source, target, move, stop);
            }
            if (err == ECANCELED) {
                result.cancelled = true;
                break;
            }
            if (err)
                reason = FileOps::errorDescription(err);
            if (!reason.isEmpty()) {
                result.errors.append(QStringLiteral("Could not overwrite ") + display(name) + QStringLiteral(": ")
                                     + reason);
            } else if (move) {
                ++result.filesMoved;
                remember(name, target);
            } else {
                ++result.filesCopied;
            }
            continue;
        }

        FileOps::makePath(duplicates); // a failure shows up in the next step
        int err = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray aside = uniqueDuplicatePath(duplicates, name);
            err = move ? FileOps::moveNew(source, aside, stop) : FileOps::copyNew(source, aside, stop);
            if (err != EEXIST)
                break; // EEXIST: someone took the name in between; try the next one
        }
        if (err == ECANCELED) {
            result.cancelled = true;
            break;
        }
        if (err) {
            result.errors.append(QStringLiteral("Could not move duplicate ") + display(name)
                                 + QStringLiteral(": ") + FileOps::errorDescription(err));
            continue;
        }
        if (move)
            ++result.filesMoved;
        else
            ++result.filesCopied;
        ++result.duplicatesMoved;
    }
    return result;
}

QUrl FlattenEngine::uniqueDuplicateURL(const QUrl &folder, const QString &name)
{
    return FilePath::urlFromBytes(uniqueDuplicatePath(FilePath::bytes(folder), FileOps::encodeName(name)));
}

QByteArray FlattenEngine::uniqueDuplicatePath(const QByteArray &folder, const QByteArray &name)
{
    struct stat st;
    QByteArray candidate = join(folder, name);
    if (::lstat(candidate.constData(), &st) != 0)
        return candidate;
    QByteArray base;
    QByteArray ext;
    const bool hasExt = splitExtension(name, &base, &ext);
    for (qint64 n = 1;; ++n) {
        QByteArray next = base + " (" + QByteArray::number(n) + ")";
        if (hasExt)
            next += '.' + ext;
        candidate = join(folder, next);
        if (::lstat(candidate.constData(), &st) != 0)
            return candidate;
    }
}

QString FlattenEngine::summary(const FlattenResult &result)
{
    if (!result.errors.isEmpty())
        return QStringLiteral("Completed with %1 error(s): %2")
            .arg(result.errors.size())
            .arg(result.errors.first());
    QStringList parts;
    if (result.filesCopied >= 1)
        parts.append(QStringLiteral("%1 copied").arg(result.filesCopied));
    if (result.filesMoved >= 1)
        parts.append(QStringLiteral("%1 moved").arg(result.filesMoved));
    if (result.duplicatesMoved >= 1)
        parts.append(QStringLiteral("%1 duplicate(s) in _Duplicates").arg(result.duplicatesMoved));
    return parts.join(QStringLiteral(" · "));
}
