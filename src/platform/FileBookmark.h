#pragma once

#include <QByteArray>
#include <QUrl>

// A file "bookmark": opaque bytes that lead back to a file. It records the file's path
// together with its device and inode, so that resolution can tell a replaced file (same
// path, other inode: marked stale) and can find a file renamed inside its folder (same
// inode under another name).
namespace FileBookmark {

// Makes a bookmark of an existing file or folder; empty when the file cannot be reached.
QByteArray create(const QUrl &fileUrl);

struct Resolution {
    QUrl url;           // empty when the bookmark leads nowhere
    bool stale = false; // the file at the recorded path is not the one bookmarked
};

// Resolves bookmark bytes; an empty url means failure (callers fall back to their stored URL).
Resolution resolve(const QByteArray &bookmark);

// Convenience: the resolved URL, or `fallback` when there is no bookmark or it fails.
QUrl resolvedUrl(const QByteArray &bookmark, const QUrl &fallback);

} // namespace FileBookmark
