#pragma once

#include "model/RawEnum.h"

#include <QString>

// Options of the Zip tool, stored by raw string in settings and archive presets.

enum class ArchiveFormat { zip, sevenZip, tarGz };
PERCHBOX_RAW_ENUM(ArchiveFormat,
                  {ArchiveFormat::zip, "zip"},
                  {ArchiveFormat::sevenZip, "7z"},
                  {ArchiveFormat::tarGz, "tarGz"});

enum class CompressionLevel { fast, normal, max };
PERCHBOX_RAW_ENUM(CompressionLevel,
                  {CompressionLevel::fast, "fast"},
                  {CompressionLevel::normal, "normal"},
                  {CompressionLevel::max, "max"});

// The label shown in the format picker: "ZIP", "7Z", "TAR+GZ".
inline QString displayLabel(ArchiveFormat format)
{
    switch (format) {
    case ArchiveFormat::zip: return QStringLiteral("ZIP");
    case ArchiveFormat::sevenZip: return QStringLiteral("7Z");
    case ArchiveFormat::tarGz: return QStringLiteral("TAR+GZ");
    }
    return {};
}

// The archive's file extension without the dot: "zip", "7z", "tar.gz".
inline QString fileExtension(ArchiveFormat format)
{
    switch (format) {
    case ArchiveFormat::zip: return QStringLiteral("zip");
    case ArchiveFormat::sevenZip: return QStringLiteral("7z");
    case ArchiveFormat::tarGz: return QStringLiteral("tar.gz");
    }
    return {};
}

// "Fast", "Normal", "Max".
inline QString displayLabel(CompressionLevel level)
{
    switch (level) {
    case CompressionLevel::fast: return QStringLiteral("Fast");
    case CompressionLevel::normal: return QStringLiteral("Normal");
    case CompressionLevel::max: return QStringLiteral("Max");
    }
    return {};
}

// The level argument handed to zip ("-1", "-6", "-9"); the other formats ignore the level.
inline QString zipLevelArgument(CompressionLevel level)
{
    switch (level) {
    case CompressionLevel::fast: return QStringLiteral("-1");
    case CompressionLevel::normal: return QStringLiteral("-6");
    case CompressionLevel::max: return QStringLiteral("-9");
    }
    return QStringLiteral("-6");
}
