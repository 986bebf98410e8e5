// A single preset in its JSON form, as `perchbox run TOOL --preset-file PATH` reads it. The
// first byte picks the tool; the rest is the file.
//
// Invariants: a failure always says why; a preset that decodes is written by `presets
// export` in a form that decodes to the same preset.

#include "FuzzSupport.h"

#include "app/cli/CliPresets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const Cli::Tool tools[] = {Cli::Tool::zip, Cli::Tool::rename, Cli::Tool::flatten, Cli::Tool::convert};
    const Cli::Tool tool = tools[data[0] % 4];
    const QByteArray json(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    QString error;
    const auto preset = CliPresets::decode(tool, json, QStringLiteral("the preset file"), &error);
    if (!preset) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    const QByteArray exported = CliPresets::encode(*preset);
    const auto reread = CliPresets::decode(tool, exported, QStringLiteral("the export"), &error);
    FUZZ_CHECK(reread, exported.left(4096) + "\n" + error.toUtf8());
    FUZZ_CHECK(*reread == *preset, exported.left(4096));
    return 0;
}
