#pragma once

#include "tools/archive/ArchiveOptions.h"
#include "tools/flatten/FlattenOptions.h"
#include "tools/presets/Presets.h"

// How each tool window turns its current options into a preset, and a preset back into
// its options. Windows keep their options in these plain values.

struct ArchiveToolOptions {
    ArchiveFormat format = ArchiveFormat::zip;
    CompressionLevel compressionLevel = CompressionLevel::normal;
    bool usePassword = false; // the password switch
    QString password;
    bool zipIndividually = false;
    bool removeOriginals = false;
    bool operator==(const ArchiveToolOptions &) const = default;
};

struct FlattenToolOptions {
    FlattenDuplicateMode duplicateMode = FlattenDuplicateMode::keepForReview;
    FlattenOperation operation = FlattenOperation::copy;
    bool operator==(const FlattenToolOptions &) const = default;
};

namespace PresetRules {

// `usePassword` is stored true only for 7z with the switch on; the password is kept as typed.
ArchivePreset buildArchive(const ArchiveToolOptions &options, const QString &name);
// Unknown format or level strings leave those options as they were; the password switch
// is applied only when the format now chosen is 7z, and switched off otherwise.
void applyArchive(const ArchivePreset &preset, ArchiveToolOptions &options);

RenamePreset buildRename(const RenamePreset &options, const QString &name);
// Every option is copied (the preset's own id and name are not options).
void applyRename(const RenamePreset &preset, RenamePreset &options);

FlattenPreset buildFlatten(const FlattenToolOptions &options, const QString &name);
// Unknown strings leave that option as it was.
void applyFlatten(const FlattenPreset &preset, FlattenToolOptions &options);

} // namespace PresetRules
