#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The shell verbs that act on the running Perchbox (`perchbox favorite SHELF FAVORITE`, …).
// A start with a verb hands the words to the running instance over the bus (AppBus Command)
// and exits with its answer; when no instance runs, that start becomes the instance and
// acts once its shelves are back. Users bind these commands to keys of their desktop.
namespace ShellVerbs {

struct Verb {
    QString name;      // the first argument
    int arguments = 0; // how many words follow it
    QString usage;     // "favorite SHELF FAVORITE"
};

const QList<Verb> &all();
// The verb named by the first argument, or nothing.
const Verb *find(const QByteArray &firstArgument);

// The words of a verb's command line (the verb and its arguments, as text). A wrong number
// of arguments gives nothing and one line in `error`.
std::optional<QStringList> parse(const QList<QByteArray> &args, QString *error);

} // namespace ShellVerbs
