#pragma once

#include "tools/flatten/FlattenOptions.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// What a flatten run would do, worked out without touching a file: the same collection
// (folders walked, hidden names inside folders skipped, links not followed, the destination's
// own subtree left out) and the same duplicate policy, with the files placed earlier in the
// run taken into account as if they were already there.
struct FlattenPlanStep {
    enum class Kind {
        place,        // copied or moved to the target
        replace,      // overwriteNewest: the source is newer and takes the target's place
        keepExisting, // overwriteNewest: the existing target is as new or newer; nothing happens
        duplicate,    // keepForReview: set aside in _Duplicates under `target`
        alreadyThere, // the source is the target itself
        unreadable,   // the source cannot be read (the run reports "Could not process")
    };
    Kind kind = Kind::place;
    QByteArray source;
    QByteArray target;
    // replace: the source placed at the target earlier in the run, if any (in move mode it
    // goes to the Trash; in copy mode only its copy is replaced).
    QByteArray replacedSource;
};

struct FlattenPlan {
    QList<FlattenPlanStep> steps;
    QStringList errors; // folders that cannot be read
};

namespace FlattenDryRun {

FlattenPlan plan(const QList<QUrl> &items, const QUrl &destination, FlattenDuplicateMode mode);

// One line per step: "source → target", with the duplicate handling in brackets.
QStringList describe(const FlattenPlan &plan, FlattenOperation operation);

// True when the real run would report an error (a source or folder that cannot be read).
bool wouldFail(const FlattenPlan &plan);

} // namespace FlattenDryRun
