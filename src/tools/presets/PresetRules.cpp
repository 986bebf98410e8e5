#include "tools/presets/PresetRules.h"

namespace PresetRules {

ArchivePreset buildArchive(const ArchiveToolOptions &options, const QString &name)
{
    ArchivePreset p;
    p.id = QUuid::createUuid();
    p.name = name;
    p.format = rawValue(options.format);
    p.compressionLevel = rawValue(options.compressionLevel);
    p.usePassword = options.usePassword && options.format == ArchiveFormat::sevenZip;
    p.password = options.password;
    p.zipIndividually = options.zipIndividually;
    p.removeOriginals = options.removeOriginals;
    return p;
}

void applyArchive(const ArchivePreset &preset, ArchiveToolOptions &options)
{
    if (auto format = enumFromRaw<ArchiveFormat>(preset.format))
        options.format = *format;
    if (auto level = enumFromRaw<CompressionLevel>(preset.compressionLevel))
        options.compressionLevel = *level;
    options.usePassword = options.format == ArchiveFormat::sevenZip && preset.usePassword;
    options.password = preset.password;
    options.zipIndividually = preset.zipIndividually;
    options.removeOriginals = preset.removeOriginals;
}

RenamePreset buildRename(const RenamePreset &options, const QString &name)
{
    RenamePreset p = options;
    p.id = QUuid::createUuid();
    p.name = name;
    return p;
}

void applyRename(const RenamePreset &preset, RenamePreset &options)
{
    const QUuid id = options.id;
    const QString name = options.name;
    options = preset;
    options.id = id;
    options.name = name;
}

FlattenPreset buildFlatten(const FlattenToolOptions &options, const QString &name)
{
    FlattenPreset p;
    p.id = QUuid::createUuid();
    p.name = name;
    p.duplicateMode = rawValue(options.duplicateMode);
    p.operation = rawValue(options.operation);
    return p;
}

void applyFlatten(const FlattenPreset &preset, FlattenToolOptions &options)
{
    if (auto mode = enumFromRaw<FlattenDuplicateMode>(preset.duplicateMode))
        options.duplicateMode = *mode;
    if (auto op = enumFromRaw<FlattenOperation>(preset.operation))
        options.operation = *op;
}

} // namespace PresetRules
