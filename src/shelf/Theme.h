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
// themes give a tint of the desktop's window colour (light / dark forced for those themes):
// translucent where a compositing manager can show it, but never so thin that what lies
// behind (another shelf's text, a white page, a black terminal) brings the shelf's own
// texts below a contrast of 4.5:1 — X11 compositors do not blur. Opaque when
// `translucencyAvailable` is false, so that nothing is ever drawn black.
QColor windowBackground(AppTheme theme, bool translucencyAvailable,
                        const QPalette &palette = QPalette());

// Contrast, as the web accessibility guidelines measure it (1 … 21), of two opaque colours.
double contrastRatio(const QColor &a, const QColor &b);
// `top` (possibly translucent) painted over the opaque `bottom`.
QColor composite(const QColor &top, const QColor &bottom);
// The lowest contrast of `text` drawn on `background` (either may be translucent) over
// whatever grey from black to white lies behind the window.
double worstCaseContrast(const QColor &text, const QColor &background);
// The contrast the shelf's texts keep over anything behind; icons need at least 3:1.
inline constexpr double minimumTextContrast = 4.5;
// How much of what lies behind may show through a translucent shelf: black behind and white
// behind differ by at most this contrast, too little to read a text through.
inline constexpr double maximumShowThrough = 1.25;
inline constexpr double minimumIconContrast = 3.0;

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
// The colour of symbolic icons (header buttons, file and folder symbols): the text colour.
QColor iconColor(AppTheme theme, const QPalette &palette = QPalette());
// The colour of the warning symbol of a missing file, readable on the theme's background.
QColor warningColor(AppTheme theme, const QPalette &palette = QPalette());

// Fonts. `pixelSize` is the size in logical pixels (the views' "points").
QFont font(AppTheme theme, int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(AppTheme theme, int pixelSize);

// The retro font family: the shipped retro font (DotGothic16, a freely licensed pixel
// font) when it could be registered, else "Chicago", else "ChicagoFLF", else "Geneva"
// (whichever is installed first; font matching falls back to the desktop's default when
// even Geneva is missing).
QString retroFontFamily();

// The lookup chain on its own, for a given registered name ("" = none) and the list of
// installed font families.
QString retroFontFamilyFrom(const QString &registeredName, const QStringList &installedFamilies);

// Where the shipped retro font is looked for, in order: the install tree beside the
// program, the configured data folder, the build tree, the system's fonts.
QStringList retroFontCandidates();
QString retroFontFileName();
// The licence of the shipped font (shown in About & Notices), "" when it cannot be found.
QString retroFontLicencePath();

} // namespace Theme
