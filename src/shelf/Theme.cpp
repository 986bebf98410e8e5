#include "shelf/Theme.h"

#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMutex>

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
    // The "ultra-thin material": a thin tint that lets the desktop show through.
    QColor base;
    if (theme == AppTheme::light)
        base = QColor(246, 246, 246);
    else if (theme == AppTheme::dark)
        base = QColor(40, 40, 42);
    else
        base = effectivePalette(palette).color(QPalette::Window);
    base.setAlphaF(translucencyAvailable ? 0.78f : 1.0f);
    return base;
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

QStringList retroFontCandidates()
{
    return {QStringLiteral(":/fonts/ChicagoFLF.ttf"),
            QStringLiteral(PERCHBOX_DATA_DIR "/fonts/ChicagoFLF.ttf"),
            QStringLiteral(PERCHBOX_SOURCE_DIR "/resources/fonts/ChicagoFLF.ttf")};
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
        name = families.isEmpty() ? QStringLiteral("ChicagoFLF") : families.first();
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
