// File bookmark bytes (a shelf file's "bookmarkData", the settings' folder bookmarks), as
// every file operation resolves them. Resolving only reads: it looks at the recorded path
// and, when the file is gone, at the entries of its folder.
//
// Invariants: a bookmark resolves to a local absolute path without NUL bytes; a bookmark
// made of a file, whatever its name, resolves to that file.

#include "FuzzSupport.h"

#include "platform/FileBookmark.h"
#include "platform/FilePath.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bookmark(reinterpret_cast<const char *>(data), qsizetype(size));
    const FileBookmark::Resolution r = FileBookmark::resolve(bookmark);
    if (!r.url.isEmpty()) {
        const QByteArray path = FilePath::bytes(r.url);
        FUZZ_CHECK(r.url.isLocalFile() && path.startsWith('/'), r.url.toEncoded());
        FUZZ_CHECK(!path.contains('\0'), r.url.toEncoded());
    }
    FUZZ_CHECK(FileBookmark::resolvedUrl(bookmark, QUrl(QStringLiteral("file:///fallback"))).isValid());

    // The other way: a bookmark of a real file leads back to it, whatever its name.
    if (size > 0 && size <= 200 && !bookmark.contains('/') && !bookmark.contains('\0') && bookmark != "."
        && bookmark != "..") {
        const QByteArray file = QFile::encodeName(Fuzz::scratchDir()) + '/' + bookmark;
        if (::close(::open(file.constData(), O_WRONLY | O_CREAT, 0600)) == 0) {
            const QUrl url = FilePath::urlFromBytes(file);
            const FileBookmark::Resolution back = FileBookmark::resolve(FileBookmark::create(url));
            ::unlink(file.constData());
            FUZZ_CHECK(back.url == url && !back.stale, url.toEncoded() + " → " + back.url.toEncoded());
        }
    }
    return 0;
}
