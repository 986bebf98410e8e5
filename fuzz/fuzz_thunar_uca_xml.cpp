// Thunar's custom actions file (~/.config/Thunar/uca.xml), which "Send to Perchbox" and the
// per-preset entries merge their <action> elements into. The input is the user's file.
//
// Invariants: merging our actions into a file twice gives what merging once gave; with
// nothing of ours to take out or put in, the file stays byte for byte; what we write can be
// merged again and then holds none of our actions once they are taken out.

#include "FuzzSupport.h"

#include "platform/ThunarActions.h"

namespace {

const QString kOurs = QStringLiteral("perchbox-send-to-perchbox");

bool isOurs(const QString &id)
{
    return id == kOurs || id.startsWith(QLatin1String("perchbox-preset-"));
}

QByteArray ourBlock()
{
    return ThunarActions::actionElement(QStringLiteral("Send to Perchbox"), QString(), kOurs,
                                        QStringLiteral("perchbox --send %F"), QStringLiteral("Puts the files on a shelf"))
         + ThunarActions::actionElement(QStringLiteral("Zip <fast> & \"small\""), QStringLiteral("Perchbox"),
                                        QStringLiteral("perchbox-preset-zip-1"),
                                        QStringLiteral("perchbox run zip --preset 'Zip' -- %F"), QString());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray existing(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray block = ourBlock();

    QByteArray merged;
    if (!ThunarActions::replaceOurs(existing, isOurs, block, &merged)) {
        FUZZ_CHECK(merged.isEmpty());
        return 0;
    }

    // Nothing of ours in or out: the user's file is left exactly as it was.
    QByteArray untouched;
    FUZZ_CHECK(ThunarActions::replaceOurs(existing, [](const QString &) { return false; }, QByteArray(), &untouched));
    if (!existing.trimmed().isEmpty())
        FUZZ_CHECK(untouched == existing, untouched.left(2048));

    QByteArray again;
    FUZZ_CHECK(ThunarActions::replaceOurs(merged, isOurs, block, &again), merged.left(2048));
    FUZZ_CHECK(again == merged, "once:\n" + merged.left(2048) + "\ntwice:\n" + again.left(2048));

    QByteArray removed;
    FUZZ_CHECK(ThunarActions::replaceOurs(merged, isOurs, QByteArray(), &removed), merged.left(2048));
    FUZZ_CHECK(!removed.contains("perchbox-send-to-perchbox") || existing.contains("perchbox-send-to-perchbox"),
               removed.left(2048));
    return 0;
}
