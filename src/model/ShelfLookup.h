#pragma once

#include "model/Shelf.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

// The shelf a user names on the command line: by its id (the canonical UUID form, either
// case), else by its name (exactly, then ignoring case). A name that several shelves carry
// is refused. Returns the id, or nothing with one line in `error`.
std::optional<QUuid> findShelfByNameOrId(const QList<Shelf> &shelves, const QString &query, QString *error);
