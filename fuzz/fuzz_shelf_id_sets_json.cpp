// "openShelves.json" and "hidden-shelf-ids.json": the sets of shelf ids the shelf manager
// reads at start-up (one reader for both files).
//
// Invariant: a set that decodes writes back to text that decodes to the same set.

#include "FuzzSupport.h"

#include "model/ShelfJson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto ids = ShelfJson::decodeIdSet(bytes);
    if (!ids)
        return 0;
    const QByteArray written = ShelfJson::encodeIdSet(*ids);
    const auto reread = ShelfJson::decodeIdSet(written);
    FUZZ_CHECK(reread && *reread == *ids, written.left(4096));
    return 0;
}
