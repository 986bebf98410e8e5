#pragma once

#include <QString>

#include <optional>

class QWidget;

// The "Rename Shelf" dialog of the shelf header and the tray panel. Returns the new name,
// trimmed; nothing when cancelled or left empty.
std::optional<QString> askShelfName(QWidget *parent, const QString &current, bool stayOnTop = false);
