#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

class QMimeData;

// How files get onto a shelf by paste and drop: which URLs a clipboard or drop payload
// carries, and the files written for image and text content. No widgets; the shelf window
// hands the results to ShelfManager::addFiles.
namespace ShelfIntake {

// File URLs of a payload: text/uri-list, else the GNOME/KDE copied-files form
// ("x-special/gnome-copied-files": "copy" or "cut", then one URL a line). Only local file
// URLs, percent-encoding kept so that names that are not UTF-8 survive.
QList<QUrl> fileUrls(const QMimeData *data);

// Paste: file URLs as they are; else an image written as "Pasted Image <s>.png" into
// `tempDir`; else non-empty text written as "Pasted Text <s>.txt". Empty when nothing
// could be taken or the write failed. An existing file is never overwritten (a second
// paste within the same second gets " 2", " 3", … before the extension).
QList<QUrl> paste(const QMimeData *data, const QString &tempDir, qint64 secondsSince1970);

// Drop: file URLs in drop order; when there are none, image content (by the kind order
// of ShelfLogic::dropImageKinds) written into `desktopDir` under the dropped-image name.
// Content that does not decode as an image, or that cannot be written, gives nothing.
QList<QUrl> drop(const QMimeData *data, const QString &desktopDir, qint64 msecsSince1970,
                 const QUuid &nameId = QUuid::createUuid());

// The suggested file name a drag source gave for its content, if any
// ("application/x-kde-suggestedfilename", or the last path part of "text/x-moz-url").
QString suggestedName(const QMimeData *data);

// Writes `bytes` to a new file `dir`/`name` (never replacing an existing file: a numbered
// name is chosen instead). Returns the file's URL, or an empty URL on failure.
QUrl writeNewFile(const QString &dir, const QString &name, const QByteArray &bytes);

// Clipboard payload for "Copy File": text/uri-list plus the GNOME and KDE copied-files
// formats, and the paths as plain text.
QMimeData *copiedFilesMimeData(const QList<QUrl> &urls);

} // namespace ShelfIntake
