#include "shelf/Theme.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHash>
#include <QMutex>

#include <algorithm>
#include <cmath>

namespace Theme {

int cornerRadius(AppTheme theme)
{
    return theme == AppTheme::retro ? 0 : 14;
}

bool usesMaterial(AppTheme theme)
{
    switch (theme) {
    case AppTheme::system:
    case AppTheme::light:
    case AppTheme::dark:
        return true;
    case AppTheme::onyx:
    case AppTheme::retro:
        return false;
    }
    return true;
}

QColor onyxBackground() { return QColor::fromRgbF(0.06f, 0.06f, 0.08f, 1.0f); }
QColor retroBackground() { return QColor::fromRgbF(0.784f, 0.773f, 0.737f, 1.0f); }

static QPalette effectivePalette(const QPalette &palette)
{
    // A default-constructed QPalette carries the application's palette once a GUI
    // application exists.
    if (QGuiApplication::instance())
        return palette.resolveMask() ? palette : QGuiApplication::palette();
    return palette;
}

bool isDark(AppTheme theme, const QPalette &palette)
{
    switch (theme) {
    case AppTheme::light:
    case AppTheme::retro:
        return false;
    case AppTheme::dark:
    case AppTheme::onyx:
        return true;
    case AppTheme::system:
        break;
    }
    const QPalette p = effectivePalette(palette);
    return p.color(QPalette::Window).lightnessF() < 0.5;
}

QColor windowBackground(AppTheme theme, bool translucencyAvailable, const QPalette &palette)
{
    switch (theme) {
    case AppTheme::onyx:
        return onyxBackground();
    case AppTheme::retro:
        return retroBackground();
    case AppTheme::light:
    case AppTheme::dark:
    case AppTheme::system:
        break;
    }
    // The "ultra-thin material": a tint that lets the desktop show through, as thin as the
    // texts on it allow.
    QColor base;
    if (theme == AppTheme::light)
        base = QColor(246, 246, 246);
    else if (theme == AppTheme::dark)
        base = QColor(40, 40, 42);
    else
        base = effectivePalette(palette).color(QPalette::Window);
    if (!translucencyAvailable) {
        base.setAlpha(255);
        return base;
    }
    const QColor texts[] = {textColor(theme, palette), secondaryTextColor(theme, palette)};
    // Painting asks on every frame: the answer is kept per colour pair.
    static QMutex mutex;
    static QHash<QPair<QRgb, QRgb>, int> alphas;
    QMutexLocker lock(&mutex);
    const QPair<QRgb, QRgb> key(base.rgb(), texts[0].rgba());
    auto it = alphas.constFind(key);
    if (it == alphas.constEnd()) {
        // The thinnest tint that keeps every text legible (legibility only grows with
        // opacity, so a bisection finds it), never thinner than the material's own.
        const auto legible = [&](int alpha) {
            QColor c = base;
            c.setAlpha(alpha);
            // What lies behind shows through only as a faint shade, never as readable text…
            if (contrastRatio(composite(c, Qt::black), composite(c, Qt::white)) > maximumShowThrough)
                return false;
            // …and our texts keep their contrast over anything.
            for (const QColor &text : texts)
                if (worstCaseContrast(text, c) < minimumTextContrast)
                    return false;
            return true;
        };
        int low = 199, high = 255; // low: not known legible; high: legible (opaque)
        if (legible(200))
            high = 200;
        while (high - low > 1) {
            const int mid = (low + high) / 2;
            (legible(mid) ? high : low) = mid;
        }
        it = alphas.insert(key, high);
    }
    base.setAlpha(*it);
    return base;
}

static double linearChannel(double c)
{
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

static double luminance(const QColor &c)
{
    return 0.2126 * linearChannel(c.redF()) + 0.7152 * linearChannel(c.greenF()) + 0.0722 * linearChannel(c.blueF());
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor composite(const QColor &top, const QColor &bottom)
{
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a), 1.0f);
}

double worstCaseContrast(const QColor &text, const QColor &background)
{
    double worst = 21.0;
    for (int grey = 0; grey <= 255; ++grey) {
        const QColor surface = composite(background, QColor(grey, grey, grey));
        worst = std::min(worst, contrastRatio(composite(text, surface), surface));
    }
    return worst;
}

QColor swatchColor(AppTheme theme, const QPalette &palette)
{
    switch (theme) {
    case AppTheme::system: {
        QColor c = effectivePalette(palette).color(QPalette::WindowText);
        c.setAlphaF(0.3f);
        return c;
    }
    case AppTheme::light:
        return QColor(Qt::white);
    case AppTheme::dark:
        return QColor::fromRgbF(0.2f, 0.2f, 0.2f, 1.0f);
    case AppTheme::onyx:
        return onyxBackground();
    case AppTheme::retro:
        return QColor::fromRgbF(0.85f, 0.839f, 0.8f, 1.0f);
    }
    return QColor(Qt::white);
}

QColor textColor(AppTheme theme, const QPalette &palette)
{
    if (theme == AppTheme::system)
        return effectivePalette(palette).color(QPalette::WindowText);
    if (theme == AppTheme::retro)
        return QColor(Qt::black);
    return isDark(theme, palette) ? QColor(235, 235, 240) : QColor(20, 20, 22);
}

QColor secondaryTextColor(AppTheme theme, const QPalette &palette)
{
    QColor c = textColor(theme, palette);
    c.setAlphaF(0.6f);
    return c;
}

QColor iconColor(AppTheme theme, const QPalette &palette)
{
    return textColor(theme, palette);
}

QColor warningColor(AppTheme theme, const QPalette &palette)
{
    return isDark(theme, palette) ? QColor(255, 159, 10) : QColor(160, 82, 0);
}

QString retroFontFileName()
{
    return QStringLiteral("DotGothic16-Regular.ttf");
}

QStringList retroFontCandidates()
{
    // Installed beside the program (prefix/bin → prefix/share/perchbox/fonts), in the
    // configured data folder, in the build tree, and — last — the system's copy of the font.
    QStringList out;
    if (QCoreApplication::instance())
        out << QCoreApplication::applicationDirPath() + QStringLiteral("/../share/perchbox/fonts/") + retroFontFileName();
    out << QStringLiteral(PERCHBOX_DATA_DIR "/fonts/") + retroFontFileName();
#ifdef PERCHBOX_BUILD_FONT_DIR
    out << QStringLiteral(PERCHBOX_BUILD_FONT_DIR "/") + retroFontFileName();
#endif
    out << QStringLiteral("/usr/share/fonts/truetype/dotgothic16/") + retroFontFileName();
    return out;
}

QString retroFontLicencePath()
{
    for (const QString &font : retroFontCandidates()) {
        const QString licence = QFileInfo(font).absolutePath() + QStringLiteral("/DotGothic16-LICENSE.txt");
        if (QFile::exists(licence))
            return QFileInfo(licence).canonicalFilePath();
    }
    return QFile::exists(QStringLiteral("/usr/share/doc/fonts-dotgothic16/copyright"))
               ? QStringLiteral("/usr/share/doc/fonts-dotgothic16/copyright")
               : QString();
}

QString retroFontFamilyFrom(const QString &registeredName, const QStringList &installed)
{
    if (!registeredName.isEmpty())
        return registeredName;
    for (const char *name : {"Chicago", "ChicagoFLF"})
        if (installed.contains(QLatin1String(name), Qt::CaseInsensitive))
            return QLatin1String(name);
    return QStringLiteral("Geneva");
}

// Registers the bundled font once per process (for this process only) and remembers the
// family name it goes by.
static QString registeredRetroName()
{
    static QMutex mutex;
    static bool done = false;
    static QString name;
    QMutexLocker lock(&mutex);
    if (done)
        return name;
    done = true;
    for (const QString &path : retroFontCandidates()) {
        if (!QFile::exists(path))
            continue;
        const int id = QFontDatabase::addApplicationFont(path);
        if (id < 0)
            continue;
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        name = families.isEmpty() ? QStringLiteral("DotGothic16") : families.first();
        break;
    }
    return name;
}

QString retroFontFamily()
{
    return retroFontFamilyFrom(registeredRetroName(), QFontDatabase::families());
}

QFont font(AppTheme theme, int pixelSize, QFont::Weight weight)
{
    QFont f = QGuiApplication::instance() ? QGuiApplication::font() : QFont();
    if (theme == AppTheme::retro)
        f = QFont(retroFontFamily());
    f.setPixelSize(std::max(1, pixelSize));
    f.setWeight(weight);
    return f;
}

QFont monospacedFont(AppTheme theme, int pixelSize)
{
    QFont f;
    if (theme == AppTheme::retro) {
        f = QFont(QFontDatabase::families().contains(QStringLiteral("Monaco"))
                      ? QStringLiteral("Monaco")
                      : retroFontFamily());
    } else {
        f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    }
    f.setPixelSize(std::max(1, pixelSize));
    return f;
}

} // namespace Theme
