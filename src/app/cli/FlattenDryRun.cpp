#include "app/cli/FlattenDryRun.h"

#include "platform/FilePath.h"
#include "tools/flatten/FileOps.h"
#include "tools/flatten/FlattenEngine.h"

#include <QHash>
#include <QSet>

#include <cerrno>
#include <sys/stat.h>

namespace {

QByteArray join(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

struct timespec mtimeOf(const struct stat &st)
{
    return st.st_mtim;
}

bool newer(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec > b.tv_nsec);
}

QString shown(const QByteArray &path)
{
    return FilePath::displayPath(FilePath::urlFromBytes(path));
}

} // namespace

namespace FlattenDryRun {

FlattenPlan plan(const QList<QUrl> &items, const QUrl &destination, FlattenDuplicateMode mode)
{
    FlattenPlan result;
    QByteArray dest = FilePath::bytes(destination);
    while (dest.size() > 1 && dest.endsWith('/'))
        dest.chop(1);
    const QList<QByteArray> sources = FlattenEngine::collectSources(items, dest, &result.errors);

    const QByteArray duplicates = join(dest, FlattenEngine::duplicatesFolderName);
    struct Placed {
        struct timespec mtime;
        QByteArray source;
    };
    QHash<QByteArray, Placed> placed; // names the run would have put into the destination
    QSet<QByteArray> setAside;                 // names it would have used in _Duplicates
    for (const QByteArray &source : sources) {
        FlattenPlanStep step;
        step.source = source;
        const QByteArray name = FileOps::lastComponent(source);
        step.target = join(dest, name);
        struct stat sourceSt;
        if (::lstat(source.constData(), &sourceSt) != 0) {
            step.kind = FlattenPlanStep::Kind::unreadable;
            result.steps << step;
            continue;
        }
        struct stat targetSt;
        const bool onDisk = ::lstat(step.target.constData(), &targetSt) == 0;
        const bool planned = placed.contains(name);
        if (!onDisk && !planned) {
            step.kind = FlattenPlanStep::Kind::place;
            placed.insert(name, {mtimeOf(sourceSt), source});
        } else if (!planned && sourceSt.st_dev == targetSt.st_dev && sourceSt.st_ino == targetSt.st_ino) {
            step.kind = FlattenPlanStep::Kind::alreadyThere;
        } else if (mode == FlattenDuplicateMode::overwriteNewest) {
            const struct timespec existing = planned ? placed.value(name).mtime : mtimeOf(targetSt);
            if (newer(mtimeOf(sourceSt), existing)) {
                step.kind = FlattenPlanStep::Kind::replace;
                if (planned)
                    step.replacedSource = placed.value(name).source;
                placed.insert(name, {mtimeOf(sourceSt), source});
            } else {
                step.kind = FlattenPlanStep::Kind::keepExisting;
            }
        } else {
            step.kind = FlattenPlanStep::Kind::duplicate;
            // The first name free on disk and not taken earlier in this run.
            QByteArray candidate = FlattenEngine::uniqueDuplicatePath(duplicates, name);
            if (setAside.contains(FileOps::lastComponent(candidate))) {
                QByteArray base = name, ext;
                if (const qsizetype dot = name.lastIndexOf('.'); dot > 0 && dot < name.size() - 1) {
                    base = name.left(dot);
                    ext = name.mid(dot);
                }
                for (int n = 1;; ++n) {
                    const QByteArray next = base + " (" + QByteArray::number(n) + ")" + ext;
                    struct stat st;
                    if (!setAside.contains(next) && ::lstat(join(duplicates, next).constData(), &st) != 0) {
                        candidate = join(duplicates, next);
                        break;
                    }
                }
            }
            setAside.insert(FileOps::lastComponent(candidate));
            step.target = candidate;
        }
        result.steps << step;
    }
    return result;
}

QStringList describe(const FlattenPlan &plan, FlattenOperation operation)
{
    const QString verb = operation == FlattenOperation::move ? QStringLiteral("move") : QStringLiteral("copy");
    QStringList lines;
    for (const FlattenPlanStep &s : plan.steps) {
        const QString from = shown(s.source);
        const QString to = shown(s.target);
        switch (s.kind) {
        case FlattenPlanStep::Kind::place:
            lines << QStringLiteral("%1: %2 → %3").arg(verb, from, to);
            break;
        case FlattenPlanStep::Kind::replace:
            if (s.replacedSource.isEmpty())
                lines << QStringLiteral("%1: %2 → %3 (newer; replaces the existing file)").arg(verb, from, to);
            else if (operation == FlattenOperation::move)
                lines << QStringLiteral("%1: %2 → %3 (newer; replaces %4, which goes to the Trash)")
                             .arg(verb, from, to, shown(s.replacedSource));
            else
                lines << QStringLiteral("%1: %2 → %3 (newer; replaces the copy of %4)")
                             .arg(verb, from, to, shown(s.replacedSource));
            break;
        case FlattenPlanStep::Kind::keepExisting:
            lines << QStringLiteral("keep: %1 (%2 exists and is as new or newer; nothing happens)").arg(from, to);
            break;
        case FlattenPlanStep::Kind::duplicate:
            lines << QStringLiteral("%1: %2 → %3 (duplicate name; set aside for review)").arg(verb, from, to);
            break;
        case FlattenPlanStep::Kind::alreadyThere:
            lines << QStringLiteral("keep: %1 (already in the destination)").arg(from);
            break;
        case FlattenPlanStep::Kind::unreadable:
            lines << QStringLiteral("error: %1 cannot be read").arg(from);
            break;
        }
    }
    for (const QString &e : plan.errors)
        lines << QStringLiteral("error: ") + e;
    return lines;
}

bool wouldFail(const FlattenPlan &plan)
{
    if (!plan.errors.isEmpty())
        return true;
    for (const FlattenPlanStep &s : plan.steps)
        if (s.kind == FlattenPlanStep::Kind::unreadable)
            return true;
    return false;
}

} // namespace FlattenDryRun
