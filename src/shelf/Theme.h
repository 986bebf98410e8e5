#pragma once

#include "settings/SettingsEnums.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>
#include <QStringList>

// The five looks of the shelf windows. Views ask these small functions instead of
// hard-coding colours or fonts; the settings window's theme picker uses swatchColor().
namespace Theme {

// Corner radius of a shelf window: 14 px, square for retro.
int cornerRadius(AppTheme theme);

// True when the window is drawn on a translucent material (system, light, dark); false
// for the solid themes (onyx, retro).
bool usesMaterial(AppTheme theme);

// The fill of the window's shape. Solid themes give their fixed opaque colour. Material
// themes give a translucent tint of the desktop's window colour (light / dark forced for
// those themes) — or the same colour opaque when `translucencyAvailable` is false (no
// compositing manager), so that nothing is ever drawn black.
QColor windowBackground(AppTheme theme, bool translucencyAvailable,
                        const QPalette &palette = QPalette());

// The fixed solid colours.
QColor onyxBackground();  // sRGB (0.06, 0.06, 0.08)
QColor retroBackground(); // sRGB (0.784, 0.773, 0.737)

// The colour of the theme's swatch in the picker. `palette` supplies the primary label
// colour for `system` (its WindowText at 0.3 opacity).
QColor swatchColor(AppTheme theme, const QPalette &palette = QPalette());

// Whether the theme's texts are dark-on-light (true) or light-on-dark.
bool isDark(AppTheme theme, const QPalette &palette = QPalette());
// Text colour suited to the theme's background.
QColor textColor(AppTheme theme, const QPalette &palette = QPalette());
QColor secondaryTextColor(AppTheme theme, const QPalette &palette = QPalette());

// Fonts. `pixelSize` is the size in logical pixels (the views' "points").
QFont font(AppTheme theme, int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(AppTheme theme, int pixelSize);

// The retro font family: the bundled "ChicagoFLF" font when it could be registered,
// else "Chicago", else "ChicagoFLF", else "Geneva" (whichever is installed first; font
// matching falls back to the desktop's default when even Geneva is missing).
QString retroFontFamily();

// The lookup chain on its own, for a given registered name ("" = none) and the list of
// installed font families.
QString retroFontFamilyFrom(const QString &registeredName, const QStringList &installedFamilies);

// Where the bundled retro font is looked for: the Qt resource ":/fonts/ChicagoFLF.ttf",
// then "ChicagoFLF.ttf" in the installed data folder and in the source tree's resources.
QStringList retroFontCandidates();

} // namespace Theme
