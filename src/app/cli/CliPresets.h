#pragma once

#include "app/cli/CliArguments.h"
#include "tools/presets/Presets.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>

class PresetStore;

// Presets as the command line sees them: looked up by name in the store, read from a file
// in their JSON form (with the store's own strict and lenient reading), listed and exported.
namespace CliPresets {

using AnyPreset = std::variant<ArchivePreset, RenamePreset, FlattenPreset, ConversionPreset>;

// The names of one tool's saved presets, in list order.
QStringList names(const PresetStore &store, Cli::Tool tool);

// The saved preset of that name (exact, case-sensitive). When there is none, `error` says so
// and lists the saved names.
std::optional<AnyPreset> find(const PresetStore &store, Cli::Tool tool, const QString &name, QString *error);

// A preset record in JSON form (one object, as `presets export` prints it). `origin` names
// the source in messages.
std::optional<AnyPreset> decode(Cli::Tool tool, const QByteArray &json, const QString &origin, QString *error);

// The preset's JSON form, indented, ending in a line break.
QByteArray encode(const AnyPreset &preset);

// "presets" without a tool: every tool's presets under a heading; with a tool: one name a line.
QByteArray listing(const PresetStore &store, std::optional<Cli::Tool> tool);

} // namespace CliPresets
