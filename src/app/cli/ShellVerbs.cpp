#include "app/cli/ShellVerbs.h"

namespace ShellVerbs {

const QList<Verb> &all()
{
    static const QList<Verb> verbs{
        {QStringLiteral("toggle"), 0, QStringLiteral("toggle")},
        {QStringLiteral("new-shelf"), 0, QStringLiteral("new-shelf")},
        {QStringLiteral("tuck"), 1, QStringLiteral("tuck left|right")},
        {QStringLiteral("summon"), 1, QStringLiteral("summon SHELF")},
        {QStringLiteral("favorite"), 2, QStringLiteral("favorite SHELF FAVORITE")},
    };
    return verbs;
}

const Verb *find(const QByteArray &firstArgument)
{
    for (const Verb &verb : all())
        if (firstArgument == verb.name.toUtf8())
            return &verb;
    return nullptr;
}

std::optional<QStringList> parse(const QList<QByteArray> &args, QString *error)
{
    const Verb *verb = args.isEmpty() ? nullptr : find(args.first());
    if (!verb) {
        if (error)
            *error = QStringLiteral("unknown command");
        return std::nullopt;
    }
    if (args.size() - 1 != verb->arguments) {
        if (error)
            *error = QStringLiteral("usage: perchbox ") + verb->usage;
        return std::nullopt;
    }
    QStringList words;
    for (const QByteArray &arg : args)
        words << QString::fromLocal8Bit(arg);
    return words;
}

} // namespace ShellVerbs
