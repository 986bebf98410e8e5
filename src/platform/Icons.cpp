#include "platform/Icons.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSet>
#include <QSvgRenderer>

// Outside any namespace: Q_INIT_RESOURCE declares a global function.
static void initSymbolResources()
{
    Q_INIT_RESOURCE(symbols);
}

namespace {

const QString kPrefix = QStringLiteral(":/perchbox/symbols/");

void initResources()
{
    static const bool done = [] {
        initSymbolResources();
        return true;
    }();
    Q_UNUSED(done);
}

const QHash<QString, QString> &themeNames()
{
    // Only general-purpose symbols take the theme's look; the shelf symbols keep ours.
    static const QHash<QString, QString> names = {
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("plus"), QStringLiteral("list-add")},
        {QStringLiteral("gearshape"), QStringLiteral("preferences-system")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("view-refresh")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("help-browser")},
        {QStringLiteral("info.circle"), QStringLiteral("help-about")},
        {QStringLiteral("power"), QStringLiteral("application-exit")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("pencil"), QStringLiteral("document-edit")},
    };
    return names;
}

QColor defaultTint()
{
    if (qobject_cast<QApplication *>(QCoreApplication::instance()))
        return QApplication::palette().color(QPalette::WindowText);
    return QColor(0x30, 0x30, 0x30);
}

QColor cutoutColor(const QColor &tint)
{
    // The inner marks of filled symbols contrast with the fill.
    return tint.lightnessF() > 0.6 ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white);
}

QSet<qint64> &bundledKeys()
{
    static QSet<qint64> keys;
    return keys;
}

QIcon renderBundled(const QString &name, const QColor &tint)
{
    initResources();
    QFile file(kPrefix + name + QStringLiteral(".svg"));
    if (!file.open(QIODevice::ReadOnly)) {
        if (name == QLatin1String("questionmark.circle"))
            return {};
        return renderBundled(QStringLiteral("questionmark.circle"), tint);
    }
    QByteArray svg = file.readAll();
    svg.replace("#ffffff", cutoutColor(tint).name(QColor::HexRgb).toLatin1());
    svg.replace("#000000", tint.name(QColor::HexRgb).toLatin1());
    QSvgRenderer renderer(svg);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(tint.alphaF());
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    bundledKeys().insert(icon.cacheKey());
    return icon;
}

} // namespace

QString themeNameForSymbol(const QString &symbolName)
{
    return themeNames().value(symbolName);
}

bool hasBundledSymbol(const QString &symbolName)
{
    initResources();
    return QFile::exists(kPrefix + symbolName + QStringLiteral(".svg"));
}

QStringList bundledSymbolNames()
{
    initResources();
    QStringList names;
    for (const QString &file : QDir(kPrefix).entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name))
        names.append(file.chopped(4));
    return names;
}

QIcon tintedSymbolIcon(const QString &symbolName, const QColor &tint)
{
    static QHash<QString, QIcon> cache;
    const QString key = symbolName + QLatin1Char('|') + tint.name(QColor::HexArgb);
    auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    const QIcon icon = renderBundled(symbolName, tint);
    cache.insert(key, icon);
    return icon;
}

QIcon symbolIcon(const QString &symbolName)
{
    const QString themeName = themeNameForSymbol(symbolName);
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    return tintedSymbolIcon(symbolName, defaultTint());
}

bool isSymbolicIcon(const QIcon &icon)
{
    return !icon.isNull()
        && (bundledKeys().contains(icon.cacheKey()) || icon.name().endsWith(QLatin1String("-symbolic")));
}

QPixmap recolouredPixmap(const QIcon &icon, const QSize &size, const QColor &color, qreal dpr)
{
    QPixmap pixmap = icon.pixmap(size, dpr);
    if (pixmap.isNull())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRect(QPoint(0, 0), pixmap.size()), color);
    return pixmap;
}
