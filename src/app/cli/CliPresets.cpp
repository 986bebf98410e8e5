#include "app/cli/CliPresets.h"

#include "tools/presets/PresetStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace CliPresets {

namespace {

template <typename P>
QStringList namesOf(const QList<P> &list)
{
    QStringList out;
    for (const P &p : list)
        out << p.name;
    return out;
}

template <typename P>
std::optional<AnyPreset> byName(const QList<P> &list, const QString &name)
{
    for (const P &p : list)
        if (p.name == name)
            return AnyPreset(p);
    return std::nullopt;
}

QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

} // namespace

QStringList names(const PresetStore &store, Cli::Tool tool)
{
    switch (tool) {
    case Cli::Tool::zip: return namesOf(store.archivePresets());
    case Cli::Tool::rename: return namesOf(store.renamePresets());
    case Cli::Tool::flatten: return namesOf(store.flattenPresets());
    case Cli::Tool::convert: return namesOf(store.conversionPresets());
    }
    return {};
}

std::optional<AnyPreset> find(const PresetStore &store, Cli::Tool tool, const QString &name, QString *error)
{
    std::optional<AnyPreset> found;
    switch (tool) {
    case Cli::Tool::zip: found = byName(store.archivePresets(), name); break;
    case Cli::Tool::rename: found = byName(store.renamePresets(), name); break;
    case Cli::Tool::flatten: found = byName(store.flattenPresets(), name); break;
    case Cli::Tool::convert: found = byName(store.conversionPresets(), name); break;
    }
    if (found)
        return found;
    const QStringList saved = names(store, tool);
    QString text = QStringLiteral("no %1 preset named %2").arg(Cli::toolName(tool), quoted(name));
    if (saved.isEmpty()) {
        text += QStringLiteral("; no %1 presets are saved").arg(Cli::toolName(tool));
    } else {
        QStringList q;
        for (const QString &s : saved)
            q << quoted(s);
        text += QStringLiteral("; saved %1 presets: %2").arg(Cli::toolName(tool), q.join(QStringLiteral(", ")));
    }
    *error = text;
    return std::nullopt;
}

std::optional<AnyPreset> decode(Cli::Tool tool, const QByteArray &json, const QString &origin, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        *error = QStringLiteral("%1 is not valid JSON: %2 at offset %3")
                     .arg(origin, parseError.errorString())
                     .arg(parseError.offset);
        return std::nullopt;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("%1 does not hold a preset (a JSON object) but %2")
                     .arg(origin, doc.isArray() ? QStringLiteral("a list") : QStringLiteral("a single value"));
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    std::optional<AnyPreset> preset;
    switch (tool) {
    case Cli::Tool::zip:
        if (auto p = PresetJson::decodeArchive(o))
            preset = *p;
        break;
    case Cli::Tool::rename:
        if (auto p = PresetJson::decodeRename(o))
            preset = *p;
        break;
    case Cli::Tool::flatten:
        if (auto p = PresetJson::decodeFlatten(o))
            preset = *p;
        break;
    case Cli::Tool::convert:
        if (auto p = PresetJson::decodeConversion(o))
            preset = *p;
        break;
    }
    if (!preset)
        *error = QStringLiteral("%1 is not a %2 preset: a key is missing or has the wrong type "
                                "(\"perchbox presets export %2 NAME\" shows the form)")
                     .arg(origin, Cli::toolName(tool));
    return preset;
}

QByteArray encode(const AnyPreset &preset)
{
    const QJsonObject o = std::visit([](const auto &p) { return PresetJson::encode(p); }, preset);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

QByteArray listing(const PresetStore &store, std::optional<Cli::Tool> tool)
{
    QByteArray out;
    if (tool) {
        for (const QString &name : names(store, *tool))
            out += name.toUtf8() + '\n';
        return out;
    }
    for (Cli::Tool t : Cli::allTools()) {
        out += Cli::toolTitle(t).toUtf8() + " (" + Cli::toolName(t).toUtf8() + "):\n";
        const QStringList list = names(store, t);
        if (list.isEmpty())
            out += "  None saved\n";
        for (const QString &name : list)
            out += "  " + name.toUtf8() + '\n';
    }
    return out;
}

} // namespace CliPresets
