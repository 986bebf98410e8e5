// "shelves.json": the shelf list as the shelf manager reads it at start-up.
//
// Invariants: whatever decodes writes back in a form that decodes to the same shelves, and
// writing that again gives the same bytes (a save never changes what the next start sees).

#include "FuzzSupport.h"

#include "model/ShelfFolder.h"
#include "model/ShelfJson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    auto shelves = ShelfJson::decodeShelves(bytes, &error);
    if (!shelves) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    // The manager puts every shelf's folder under its own data folder before anything else.
    for (Shelf &s : *shelves)
        s.folderURL = shelfFolderURL(s.id);

    const QByteArray written = ShelfJson::encodeShelves(*shelves);
    const auto reread = ShelfJson::decodeShelves(written, &error);
    FUZZ_CHECK(reread, written.left(4096) + "\n" + error.toUtf8());
    FUZZ_CHECK(*reread == *shelves, written.left(4096));
    FUZZ_CHECK(ShelfJson::encodeShelves(*reread) == written, written.left(4096));
    return 0;
}
