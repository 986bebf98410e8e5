#include "platform/Icons.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSet>
#include <QSvgRenderer>

#include <algorithm>
#include <memory>

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

// A bundled symbol, drawn at the size asked for when it is first asked for: a shelf
// shows most symbols at one size only, and a restore of many shelves in many colours
// would otherwise draw every symbol at every size up front.
class BundledSymbolEngine : public QIconEngine
{
public:
    BundledSymbolEngine(QByteArray svg, qreal opacity) : m_svg(std::move(svg)), m_opacity(opacity) {}

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State state) override
    {
        if (size.isEmpty())
            return {};
        const quint64 key = (quint64(quint32(size.width())) << 32) | quint32(size.height());
        auto it = m_drawn.constFind(key);
        if (it == m_drawn.constEnd()) {
            QPixmap drawn(size);
            drawn.fill(Qt::transparent);
            if (!m_renderer)
                m_renderer = std::make_unique<QSvgRenderer>(m_svg);
            QPainter painter(&drawn);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setOpacity(m_opacity);
            const int side = std::min(size.width(), size.height()); // square, centred
            m_renderer->render(&painter, QRectF((size.width() - side) / 2.0, (size.height() - side) / 2.0, side, side));
            painter.end();
            it = m_drawn.insert(key, drawn);
        }
        if (mode == QIcon::Normal)
            return *it;
        // Disabled, active and selected looks as any icon gets them.
        QIcon plain;
        plain.addPixmap(*it);
        return plain.pixmap(size, mode, state);
    }
    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pm = pixmap(rect.size() * dpr, mode, state);
        pm.setDevicePixelRatio(dpr);
        painter->drawPixmap(rect, pm);
    }
    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        return {side, side};
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override
    {
        QList<QSize> sizes;
        for (int side : {16, 22, 24, 32, 48, 64})
            sizes.append(QSize(side, side));
        return sizes;
    }
    QIconEngine *clone() const override { return new BundledSymbolEngine(m_svg, m_opacity); }
    QString key() const override { return QStringLiteral("perchbox-symbol"); }

private:
    QByteArray m_svg;
    qreal m_opacity;
    std::unique_ptr<QSvgRenderer> m_renderer;
    QHash<quint64, QPixmap> m_drawn;
};

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
    const QIcon icon(new BundledSymbolEngine(svg, tint.alphaF()));
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

QIcon iconAtSizes(const QIcon &icon, std::initializer_list<int> sides)
{
    if (icon.isNull())
        return icon;
    // Made once per icon and set of sizes; a new application icon gets its own.
    static QHash<QPair<qint64, QString>, QIcon> made;
    QString sizesKey;
    for (int side : sides)
        sizesKey += QString::number(side) + QLatin1Char(' ');
    const QPair<qint64, QString> key(icon.cacheKey(), sizesKey);
    if (auto it = made.constFind(key); it != made.constEnd())
        return *it;
    if (made.size() > 16)
        made.clear();
    QIcon fixed;
    for (int side : sides)
        fixed.addPixmap(icon.pixmap(QSize(side, side)));
    made.insert(key, fixed);
    return fixed;
}
