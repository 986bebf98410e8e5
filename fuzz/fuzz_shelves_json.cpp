// "shelves.json": the shelf list as the shelf manager reads it at start-up.
//
// Invariants: whatever decodes writes back in a form that decodes again, to shelves that
// write the same bytes (after one save, saving changes nothing that the next start sees).

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
    // A URL that is not in its canonical form ("##") is written canonically by the first save;
    // from then on every save writes the same bytes.
    FUZZ_CHECK(reread->size() == shelves->size(), written.left(4096));
    FUZZ_CHECK(ShelfJson::encodeShelves(*reread) == written, written.left(4096));
    return 0;
}
