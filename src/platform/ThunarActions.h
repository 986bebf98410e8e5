#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Thunar keeps its custom actions in one file, uca.xml, shared with the user's own. We edit
// it in place: our <action> elements (those whose unique-id `isOurs` accepts) are taken out
// and `block` (zero or more <action> elements) goes in before "</actions>"; everything else
// (the user's actions, comments, formatting) stays byte for byte.
namespace ThunarActions {

// One <action> element for every kind of file and folder (texts are escaped here).
QByteArray actionElement(const QString &name, const QString &submenu, const QString &uniqueId,
                         const QString &command, const QString &description);

// Returns false, leaving `result` empty, when `existing` is not a well-formed <actions>
// document in UTF-8: a file we cannot read is never replaced. An empty `existing` counts as an empty
// document.
bool replaceOurs(const QByteArray &existing, const std::function<bool(const QString &uniqueId)> &isOurs,
                 const QByteArray &block, QByteArray *result);

} // namespace ThunarActions
