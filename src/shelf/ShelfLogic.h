#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// The decisions inside a shelf window that need no window: selection rules, menu texts,
// the names of pasted and dropped files, file-size text. Kept apart so they can be
// tested without a display.
namespace ShelfLogic {

// ---- selection ---------------------------------------------------------------------

struct Selection {
    QSet<QUuid> selected;
    std::optional<QUuid> anchor; // lastTappedID
};

// A click on `clicked` among the shelf's files (`order`, in shelf order). With Shift and
// an anchor that is still on the shelf, every file between the anchor and the clicked one
// (both included) is added; otherwise the clicked file is toggled. The anchor becomes the
// clicked file either way.
void click(Selection &selection, const QList<QUuid> &order, const QUuid &clicked, bool shift);

// Selects every file of the shelf (Ctrl+A).
void selectAll(Selection &selection, const QList<QUuid> &order);

// Drops ids that are no longer on the shelf (after a removal or a move).
void prune(Selection &selection, const QList<QUuid> &order);

// The selection in shelf order.
QList<QUuid> selectedInOrder(const Selection &selection, const QList<QUuid> &order);

// The files the preview shows (the selection in shelf order, or every file when nothing
// is selected) and the position to start at: the anchor when it is among them, else 0.
struct PreviewList {
    QList<QUuid> ids;
    int start = 0;
};
PreviewList previewList(const Selection &selection, const QList<QUuid> &order);

// The targets of a context menu opened on `clicked`: the whole selection (in shelf
// order) when the clicked file is part of a selection of two or more, else the clicked
// file alone.
QList<QUuid> menuTargets(const Selection &selection, const QList<QUuid> &order, const QUuid &clicked);

// ---- menu texts --------------------------------------------------------------------

// A double-quote, the name, a double-quote.
QString quoted(const QString &name);

enum class ToolEntry { zip, rename, flatten, convert };

struct MenuTexts {
    QString title;           // the file name, or "3 Files Selected"
    // Single target: the submenu title and its two entries; plural: `toolPlural` only.
    QString toolSubmenu;     // "Zip…"
    QString toolOne;         // "Zip \"a.txt\""
    QString toolAll;         // "Zip All 5 Files in Shelf"
    QString toolPlural;      // "Zip 3 Selected Files…"
};

QString menuTitle(const QStringList &targetNames);
MenuTexts toolTexts(ToolEntry tool, const QStringList &targetNames, int filesOnShelf);
QString sendToShelfText(int count);        // "Send to Shelf…" / "Send 3 Selected to Shelf…"
QString removeText(const QStringList &targetNames);  // "Remove \"a\" from Shelf" / "Remove 3 Selected from Shelf"
QString trashText(const QStringList &targetNames);   // "Move \"a\" to Trash" / "Move 3 Selected to Trash"

// ---- intake names --------------------------------------------------------------------

// "Pasted Image <seconds>.png" and "Pasted Text <seconds>.txt".
QString pastedImageName(qint64 secondsSince1970);
QString pastedTextName(qint64 secondsSince1970);

// The image kinds a drop is searched for, in order, with their file extensions. `mimes`
// are the MIME types that carry the kind (the first one present wins).
struct DropImageKind {
    QString typeId;     // "public.heic", …, "public.image"
    QStringList mimes;  // e.g. {"image/heic"}
    QString extension;  // "heic"
};
const QList<DropImageKind> &dropImageKinds();
// The first kind whose MIME type appears in `formats`, in the order above; the last kind
// ("public.image", extension "png") matches any "image/…" format.
std::optional<DropImageKind> pickDropImageKind(const QStringList &formats);

// The file name of dropped image content:
//   <suggested name trimmed, without extension, or "Dropped Image"> <ms>-<uuid8>.<ext>
// A suggested name never leads outside the target folder: path separators, NUL bytes
// and a leading dot are replaced, "." and ".." become "Dropped Image", and the result is a
// single file name.
QString droppedImageName(const QString &suggestedName, qint64 msecsSince1970,
                         const QUuid &uuid, const QString &extension);

// ---- display -------------------------------------------------------------------------

// A byte count in decimal units (multiples of 1000): "1 byte", "512 bytes", "12 KB",
// "1.5 MB", "2.35 GB", "1.2 TB".
QString formatFileSize(qint64 bytes);

// ---- close when empty ----------------------------------------------------------------

// Whether a shelf whose file list just changed should close itself (0.2 s later).
bool shouldCloseWhenEmpty(int fileCount, bool closeWhenEmptySetting, bool toolRunning);
inline constexpr int closeWhenEmptyDelayMs = 200;

} // namespace ShelfLogic
