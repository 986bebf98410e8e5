#pragma once

#include "model/RawEnum.h"

// Options of Flatten to Folder, stored by raw string in settings and flatten presets.

enum class FlattenOperation { copy, move };
PERCHBOX_RAW_ENUM(FlattenOperation,
                  {FlattenOperation::copy, "copy"},
                  {FlattenOperation::move, "move"});

// What happens when a file's name already exists in the destination: keep the newer of
// the two, or set the newcomer aside in "_Duplicates" under a numbered name.
enum class FlattenDuplicateMode { overwriteNewest, keepForReview };
PERCHBOX_RAW_ENUM(FlattenDuplicateMode,
                  {FlattenDuplicateMode::overwriteNewest, "overwriteNewest"},
                  {FlattenDuplicateMode::keepForReview, "keepForReview"});
