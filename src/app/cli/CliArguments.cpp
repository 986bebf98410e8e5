#include "app/cli/CliArguments.h"

namespace Cli {

QString toolName(Tool tool)
{
    switch (tool) {
    case Tool::zip: return QStringLiteral("zip");
    case Tool::rename: return QStringLiteral("rename");
    case Tool::flatten: return QStringLiteral("flatten");
    case Tool::convert: return QStringLiteral("convert");
    }
    return {};
}

QString toolTitle(Tool tool)
{
    switch (tool) {
    case Tool::zip: return QStringLiteral("Zip");
    case Tool::rename: return QStringLiteral("Rename");
    case Tool::flatten: return QStringLiteral("Flatten");
    case Tool::convert: return QStringLiteral("Convert");
    }
    return {};
}

QList<Tool> allTools()
{
    return {Tool::zip, Tool::rename, Tool::flatten, Tool::convert};
}

std::optional<Tool> toolFromName(const QString &name)
{
    for (Tool t : allTools())
        if (toolName(t) == name)
            return t;
    return std::nullopt;
}

QString toolList()
{
    QStringList names;
    for (Tool t : allTools())
        names << toolName(t);
    return names.join(QStringLiteral(", "));
}

bool handles(const QByteArray &first)
{
    return first == "run" || first == "presets" || first == "model" || first == "check-updates" || first == "--help"
        || first == "-h" || first == "help";
}

namespace {

std::optional<Tool> toolArgument(const QByteArray &arg, QString *error)
{
    const QString name = QString::fromLocal8Bit(arg);
    if (auto tool = toolFromName(name))
        return tool;
    *error = QStringLiteral("unknown tool \"%1\"; the tools are: %2").arg(name, toolList());
    return std::nullopt;
}

std::optional<Command> parseRun(const QList<QByteArray> &args, QString *error)
{
    Command cmd;
    cmd.kind = Command::Kind::run;
    RunArguments &r = cmd.run;
    if (args.size() < 2) {
        *error = QStringLiteral("run needs a tool: %1").arg(toolList());
        return std::nullopt;
    }
    const auto tool = toolArgument(args.at(1), error);
    if (!tool)
        return std::nullopt;
    r.tool = *tool;

    bool havePreset = false;
    bool filesOnly = false;
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QByteArray &arg = args.at(i);
        if (filesOnly || !arg.startsWith('-') || arg == "-") {
            r.files.append(arg);
            continue;
        }
        if (arg == "--") {
            filesOnly = true;
            continue;
        }
        // "--option=value" or "--option value"
        QByteArray option = arg;
        std::optional<QByteArray> inlineValue;
        if (const qsizetype eq = arg.indexOf('='); arg.startsWith("--") && eq > 2) {
            option = arg.left(eq);
            inlineValue = arg.mid(eq + 1);
        }
        auto value = [&](QByteArray *out) -> bool {
            if (inlineValue) {
                *out = *inlineValue;
                return true;
            }
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(QString::fromLocal8Bit(option));
                return false;
            }
            *out = args.at(++i);
            return true;
        };
        QByteArray v;
        if (option == "--preset") {
            if (!value(&v))
                return std::nullopt;
            if (havePreset) {
                *error = QStringLiteral("give one --preset or one --preset-file");
                return std::nullopt;
            }
            havePreset = true;
            r.presetName = QString::fromLocal8Bit(v);
        } else if (option == "--preset-file") {
            if (!value(&v))
                return std::nullopt;
            if (havePreset) {
                *error = QStringLiteral("give one --preset or one --preset-file");
                return std::nullopt;
            }
            havePreset = true;
            r.presetFile = v;
            r.hasPresetFile = true;
        } else if (option == "--output" || option == "-o") {
            if (!value(&v))
                return std::nullopt;
            if (v.isEmpty()) {
                *error = QStringLiteral("--output needs a folder");
                return std::nullopt;
            }
            r.output = v;
        } else if (option == "--next-to-first") {
            r.nextToFirst = true;
        } else if (option == "--name") {
            if (!value(&v))
                return std::nullopt;
            r.archiveName = QString::fromLocal8Bit(v);
        } else if (option == "--dry-run" || option == "-n") {
            r.dryRun = true;
        } else {
            *error = QStringLiteral("unknown option %1 for run (see perchbox --help)").arg(QString::fromLocal8Bit(arg));
            return std::nullopt;
        }
    }

    if (!havePreset) {
        *error = QStringLiteral("run %1 needs --preset NAME or --preset-file PATH").arg(toolName(r.tool));
        return std::nullopt;
    }
    if (r.files.isEmpty()) {
        *error = QStringLiteral("run %1 needs at least one file").arg(toolName(r.tool));
        return std::nullopt;
    }
    if (!r.output.isEmpty() && r.nextToFirst) {
        *error = QStringLiteral("give either --output or --next-to-first");
        return std::nullopt;
    }
    if (r.tool == Tool::rename && (!r.output.isEmpty() || r.nextToFirst)) {
        *error = QStringLiteral("rename renames the files where they are; --output does not apply");
        return std::nullopt;
    }
    if (r.archiveName && r.tool != Tool::zip) {
        *error = QStringLiteral("--name applies to zip only");
        return std::nullopt;
    }
    if (r.dryRun && r.tool != Tool::rename && r.tool != Tool::flatten) {
        *error = QStringLiteral("--dry-run applies to rename and flatten");
        return std::nullopt;
    }
    return cmd;
}

std::optional<Command> parsePresets(const QList<QByteArray> &args, QString *error)
{
    Command cmd;
    cmd.kind = Command::Kind::presets;
    if (args.size() >= 2 && args.at(1) == "export") {
        if (args.size() != 4) {
            *error = QStringLiteral("usage: perchbox presets export TOOL NAME");
            return std::nullopt;
        }
        const auto tool = toolArgument(args.at(2), error);
        if (!tool)
            return std::nullopt;
        cmd.presets.tool = tool;
        cmd.presets.exportPreset = true;
        cmd.presets.name = QString::fromLocal8Bit(args.at(3));
        return cmd;
    }
    if (args.size() > 2) {
        *error = QStringLiteral("usage: perchbox presets [TOOL] | perchbox presets export TOOL NAME");
        return std::nullopt;
    }
    if (args.size() == 2) {
        const auto tool = toolArgument(args.at(1), error);
        if (!tool)
            return std::nullopt;
        cmd.presets.tool = tool;
    }
    return cmd;
}

} // namespace

std::optional<Command> parse(const QList<QByteArray> &args, QString *error)
{
    if (args.isEmpty() || args.first() == "--help" || args.first() == "-h" || args.first() == "help")
        return Command{};
    if (args.first() == "run") {
        if (args.size() >= 2 && (args.at(1) == "--help" || args.at(1) == "-h"))
            return Command{};
        return parseRun(args, error);
    }
    if (args.first() == "presets")
        return parsePresets(args, error);
    if (args.first() == "check-updates") {
        const auto checkUpdates = parseCheckUpdates(args.mid(1), error);
        if (!checkUpdates)
            return std::nullopt;
        Command cmd;
        cmd.kind = Command::Kind::checkUpdates;
        cmd.checkUpdates = *checkUpdates;
        return cmd;
    }
    *error = QStringLiteral("unknown command %1 (see perchbox --help)").arg(QString::fromLocal8Bit(args.first()));
    return std::nullopt;
}

} // namespace Cli
