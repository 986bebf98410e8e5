// The four preset lists ("pbx.archivePresets.v1", "pbx.renamePresets.v1",
// "pbx.flattenPresets.v1", "pbx.conversionPresets.v1"), as the preset store decodes them.
// The first byte picks the list; the rest is its JSON text.
//
// Invariant: a list that decodes writes back to text that decodes to the same list, and
// writing that again gives the same text.

#include "FuzzSupport.h"

#include "tools/presets/Presets.h"

namespace {

template <typename P>
void roundTrip(const QByteArray &json)
{
    const auto list = PresetJson::decodeList<P>(json);
    if (!list)
        return;
    const QByteArray written = PresetJson::encodeList(*list);
    const auto reread = PresetJson::decodeList<P>(written);
    FUZZ_CHECK(reread, written.left(4096));
    FUZZ_CHECK(*reread == *list, written.left(4096));
    FUZZ_CHECK(PresetJson::encodeList(*reread) == written, written.left(4096));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray json(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 4) {
    case 0: roundTrip<ArchivePreset>(json); break;
    case 1: roundTrip<RenamePreset>(json); break;
    case 2: roundTrip<FlattenPreset>(json); break;
    case 3: roundTrip<ConversionPreset>(json); break;
    }
    return 0;
}
