#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

#include <initializer_list>

// Icons by symbol name ("tray", "tray.fill", "star.fill", "trash", "photo", "eye.slash",
// "plus", "gearshape", "exclamationmark.triangle.fill", …). A name maps to the desktop icon
// theme's freedesktop name where one fits; otherwise, or when the theme lacks it, a small
// bundled drawing is used, so every symbol shows on every desktop.

// The icon for `symbolName`, drawn in the palette's text colour when it comes from the bundle.
// An unknown name gives the bundled "questionmark.circle".
QIcon symbolIcon(const QString &symbolName);

// The bundled drawing in `tint` (shelf icons tinted by the shelf colour). Never the theme's.
QIcon tintedSymbolIcon(const QString &symbolName, const QColor &tint);

// True when the bundle has a drawing of that name.
bool hasBundledSymbol(const QString &symbolName);

// Every bundled symbol name.
QStringList bundledSymbolNames();

// The freedesktop icon name used for a symbol, empty when the bundle is always used.
QString themeNameForSymbol(const QString &symbolName);

// True for one-colour icons that take the colour of the text around them: the bundled
// symbols and icon-theme icons named "…-symbolic".
bool isSymbolicIcon(const QIcon &icon);

// `icon` at `size` with every pixel painted in `color`, keeping its coverage (a symbolic
// icon drawn in a theme's foreground colour).
QPixmap recolouredPixmap(const QIcon &icon, const QSize &size, const QColor &color, qreal devicePixelRatio = 1.0);

// `icon` drawn once at each of `sides` (square) and kept as those pixmaps only. A window
// hands every size its icon offers to the display server and the window manager, so
// windows that nobody sees in a taskbar are given two small sizes, made once for all.
QIcon iconAtSizes(const QIcon &icon, std::initializer_list<int> sides);
