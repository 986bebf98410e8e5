#pragma once

#include "model/RawEnum.h"

// Enumerations of the application settings, stored by raw string.

// What a drag out of a shelf does by default (Alt flips it for one drag).
enum class DragMode { copy, move };
PERCHBOX_RAW_ENUM(DragMode, {DragMode::copy, "copy"}, {DragMode::move, "move"});

enum class AppTheme { system, light, dark, onyx, retro };
PERCHBOX_RAW_ENUM(AppTheme,
                  {AppTheme::system, "system"},
                  {AppTheme::light, "light"},
                  {AppTheme::dark, "dark"},
                  {AppTheme::onyx, "onyx"},
                  {AppTheme::retro, "retro"});

enum class ShelfLayout { list, grid };
PERCHBOX_RAW_ENUM(ShelfLayout, {ShelfLayout::list, "list"}, {ShelfLayout::grid, "grid"});

enum class ShelfSize { compact, large };
PERCHBOX_RAW_ENUM(ShelfSize, {ShelfSize::compact, "compact"}, {ShelfSize::large, "large"});

enum class ShelfSortOrder { manual, nameAsc, nameDesc, sizeAsc, sizeDesc, dateDesc, dateAsc };
PERCHBOX_RAW_ENUM(ShelfSortOrder,
                  {ShelfSortOrder::manual, "manual"},
                  {ShelfSortOrder::nameAsc, "nameAsc"},
                  {ShelfSortOrder::nameDesc, "nameDesc"},
                  {ShelfSortOrder::sizeAsc, "sizeAsc"},
                  {ShelfSortOrder::sizeDesc, "sizeDesc"},
                  {ShelfSortOrder::dateDesc, "dateDesc"},
                  {ShelfSortOrder::dateAsc, "dateAsc"});

// The fixed shortcuts of earlier versions; only read for migration to key combos.
enum class GlobalShortcut { none, optionSpace, optionD, ctrlOptionD };
PERCHBOX_RAW_ENUM(GlobalShortcut,
                  {GlobalShortcut::none, "none"},
                  {GlobalShortcut::optionSpace, "optionSpace"},
                  {GlobalShortcut::optionD, "optionD"},
                  {GlobalShortcut::ctrlOptionD, "ctrlOptionD"});
