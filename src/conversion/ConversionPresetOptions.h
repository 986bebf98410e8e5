#pragma once

#include "conversion/MediaConverter.h"
#include "tools/presets/Presets.h"

#include <QString>

// Options ↔ preset records (raw values); reading is lenient: unknown values keep the
// current option, dimensions go through the lenient parse, an image format the system
// cannot write becomes the first writable one. Shared by the Convert panel and the
// command line.
ConversionPreset conversionPresetFromOptions(const ConversionJobOptions &options, const QString &name);
void applyConversionPreset(const ConversionPreset &preset, ConversionJobOptions &options);
// The options pre-filled from the stored conversion defaults.
ConversionJobOptions conversionOptionsFromDefaults();
// "Save as default": stores the options the defaults hold (not the bit depth, the two bit
// rates, "Preserve duration" or "Extract audio only").
void saveConversionDefaults(const ConversionJobOptions &options);
