#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Moves files to the desktop's trash following the freedesktop.org trash layout, so the file
// manager can list and restore them. Works on raw path bytes, so names that are not valid
// UTF-8 survive. The home trash ($XDG_DATA_HOME/Trash with its "files" and "info" folders) is
// created when missing; files on another file system go to that volume's
// "$topdir/.Trash-$uid" folder.
namespace Trash {

struct Result {
    QUrl url;      // the file that was asked for
    bool ok = false;
    QString error; // why it failed, for the user
    QUrl trashedUrl; // where it went, when ok
};

// Moves one file or folder; returns the outcome.
Result moveToTrash(const QUrl &fileUrl);

// Moves each file in turn; one result per input, in order. A failure never stops the rest.
QList<Result> moveToTrash(const QList<QUrl> &fileUrls);

// The home trash folder ($XDG_DATA_HOME/Trash).
QString homeTrashPath();

} // namespace Trash
