#include "shelf/ShelfLogic.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>

namespace ShelfLogic {

void click(Selection &s, const QList<QUuid> &order, const QUuid &clicked, bool shift)
{
    const qsizetype to = order.indexOf(clicked);
    const qsizetype from = s.anchor ? order.indexOf(*s.anchor) : -1;
    if (shift && from >= 0 && to >= 0) {
        for (qsizetype i = std::min(from, to); i <= std::max(from, to); ++i)
            s.selected.insert(order.at(i));
    } else if (s.selected.contains(clicked)) {
        s.selected.remove(clicked);
    } else {
        s.selected.insert(clicked);
    }
    s.anchor = clicked;
}

void selectAll(Selection &s, const QList<QUuid> &order)
{
    for (const QUuid &id : order)
        s.selected.insert(id);
}

void prune(Selection &s, const QList<QUuid> &order)
{
    const QSet<QUuid> present(order.cbegin(), order.cend());
    for (auto it = s.selected.begin(); it != s.selected.end();) {
        if (present.contains(*it))
            ++it;
        else
            it = s.selected.erase(it);
    }
}

QList<QUuid> selectedInOrder(const Selection &s, const QList<QUuid> &order)
{
    QList<QUuid> out;
    for (const QUuid &id : order)
        if (s.selected.contains(id))
            out.append(id);
    return out;
}

PreviewList previewList(const Selection &s, const QList<QUuid> &order)
{
    PreviewList p;
    p.ids = selectedInOrder(s, order);
    if (p.ids.isEmpty())
        p.ids = order;
    if (s.anchor) {
        const qsizetype i = p.ids.indexOf(*s.anchor);
        p.start = i >= 0 ? int(i) : 0;
    }
    return p;
}

QList<QUuid> menuTargets(const Selection &s, const QList<QUuid> &order, const QUuid &clicked)
{
    if (s.selected.size() >= 2 && s.selected.contains(clicked))
        return selectedInOrder(s, order);
    return {clicked};
}

QString quoted(const QString &name)
{
    return QLatin1Char('"') + name + QLatin1Char('"');
}

QString menuTitle(const QStringList &names)
{
    if (names.size() >= 2)
        return QString::number(names.size()) + QStringLiteral(" Files Selected");
    return names.value(0);
}

MenuTexts toolTexts(ToolEntry tool, const QStringList &names, int filesOnShelf)
{
    MenuTexts t;
    t.title = menuTitle(names);
    const QString count = QString::number(names.size());
    const QString all = QString::number(filesOnShelf);
    const QString one = quoted(names.value(0));
    switch (tool) {
    case ToolEntry::zip:
        t.toolSubmenu = QStringLiteral("Zip…");
        t.toolOne = QStringLiteral("Zip ") + one;
        t.toolAll = QStringLiteral("Zip All ") + all + QStringLiteral(" Files in Shelf");
        t.toolPlural = QStringLiteral("Zip ") + count + QStringLiteral(" Selected Files…");
        break;
    case ToolEntry::rename:
        t.toolSubmenu = QStringLiteral("Rename…");
        t.toolOne = QStringLiteral("Rename ") + one;
        t.toolAll = QStringLiteral("Rename All ") + all + QStringLiteral(" Files in Shelf");
        t.toolPlural = QStringLiteral("Rename ") + count + QStringLiteral(" Selected Files…");
        break;
    case ToolEntry::flatten:
        t.toolSubmenu = QStringLiteral("Flatten to Folder…");
        t.toolOne = QStringLiteral("Flatten ") + one;
        t.toolAll = QStringLiteral("Flatten All ") + all + QStringLiteral(" Files in Shelf");
        t.toolPlural = QStringLiteral("Flatten ") + count + QStringLiteral(" Selected to Folder…");
        break;
    case ToolEntry::convert:
        t.toolSubmenu = QStringLiteral("Convert…");
        t.toolOne = QStringLiteral("Convert ") + one;
        t.toolAll = QStringLiteral("Convert All ") + all + QStringLiteral(" Files in Shelf");
        t.toolPlural = QStringLiteral("Convert ") + count + QStringLiteral(" Selected Files…");
        break;
    }
    return t;
}

QString sendToShelfText(int count)
{
    if (count >= 2)
        return QStringLiteral("Send ") + QString::number(count) + QStringLiteral(" Selected to Shelf…");
    return QStringLiteral("Send to Shelf…");
}

QString removeText(const QStringList &names)
{
    if (names.size() >= 2)
        return QStringLiteral("Remove ") + QString::number(names.size()) + QStringLiteral(" Selected from Shelf");
    return QStringLiteral("Remove ") + quoted(names.value(0)) + QStringLiteral(" from Shelf");
}

QString trashText(const QStringList &names)
{
    if (names.size() >= 2)
        return QStringLiteral("Move ") + QString::number(names.size()) + QStringLiteral(" Selected to Trash");
    return QStringLiteral("Move ") + quoted(names.value(0)) + QStringLiteral(" to Trash");
}

QString pastedImageName(qint64 seconds)
{
    return QStringLiteral("Pasted Image ") + QString::number(seconds) + QStringLiteral(".png");
}

QString pastedTextName(qint64 seconds)
{
    return QStringLiteral("Pasted Text ") + QString::number(seconds) + QStringLiteral(".txt");
}

const QList<DropImageKind> &dropImageKinds()
{
    static const QList<DropImageKind> kinds = {
        {QStringLiteral("public.heic"), {QStringLiteral("image/heic"), QStringLiteral("image/heic-sequence")}, QStringLiteral("heic")},
        {QStringLiteral("public.heif"), {QStringLiteral("image/heif"), QStringLiteral("image/heif-sequence")}, QStringLiteral("heif")},
        {QStringLiteral("org.webmproject.webp"), {QStringLiteral("image/webp")}, QStringLiteral("webp")},
        {QStringLiteral("com.compuserve.gif"), {QStringLiteral("image/gif")}, QStringLiteral("gif")},
        {QStringLiteral("com.microsoft.bmp"), {QStringLiteral("image/bmp"), QStringLiteral("image/x-bmp"), QStringLiteral("image/x-ms-bmp")}, QStringLiteral("bmp")},
        {QStringLiteral("public.png"), {QStringLiteral("image/png")}, QStringLiteral("png")},
        {QStringLiteral("public.jpeg"), {QStringLiteral("image/jpeg"), QStringLiteral("image/jpg"), QStringLiteral("image/pjpeg")}, QStringLiteral("jpg")},
        {QStringLiteral("public.tiff"), {QStringLiteral("image/tiff"), QStringLiteral("image/x-tiff")}, QStringLiteral("tiff")},
        {QStringLiteral("public.image"), {}, QStringLiteral("png")},
    };
    return kinds;
}

std::optional<DropImageKind> pickDropImageKind(const QStringList &formats)
{
    const auto &kinds = dropImageKinds();
    for (const DropImageKind &k : kinds) {
        if (k.mimes.isEmpty()) {
            for (const QString &f : formats)
                if (f.startsWith(QLatin1String("image/"), Qt::CaseInsensitive))
                    return k;
            continue;
        }
        for (const QString &m : k.mimes)
            if (formats.contains(m, Qt::CaseInsensitive))
                return k;
    }
    return std::nullopt;
}

QString droppedImageName(const QString &suggested, qint64 ms, const QUuid &uuid,
                         const QString &extension)
{
    QString base = suggested.trimmed();
    // Keep only the last path component of anything path-like, and never a separator.
    base.replace(QLatin1Char('\\'), QLatin1Char('/'));
    base = base.section(QLatin1Char('/'), -1);
    base.remove(QChar(0));
    // Remove the extension ("photo.jpeg" → "photo"; ".hidden" has none to remove).
    const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        base.truncate(dot);
    base = base.trimmed();
    // No hidden files and no "." / ".." leftovers.
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    base = base.trimmed();
    for (QChar &c : base)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    if (base.isEmpty())
        base = QStringLiteral("Dropped Image");
    // Stay well under the usual 255-byte file-name limit.
    while (base.toUtf8().size() > 180)
        base.chop(1);
    const QString id = uuid.toString(QUuid::WithoutBraces).toUpper().left(8);
    return base + QLatin1Char(' ') + QString::number(ms) + QLatin1Char('-') + id
           + QLatin1Char('.') + extension;
}

QString formatFileSize(qint64 bytes)
{
    if (bytes < 0)
        bytes = 0;
    if (bytes == 1)
        return QStringLiteral("1 byte");
    if (bytes < 1000)
        return QString::number(bytes) + QStringLiteral(" bytes");
    static const char *units[] = {"KB", "MB", "GB", "TB", "PB"};
    double v = double(bytes);
    int u = -1;
    while (v >= 1000.0 && u < 4) {
        v /= 1000.0;
        ++u;
    }
    // KB without decimals, MB with one, GB and above with two.
    const int decimals = u == 0 ? 0 : (u == 1 ? 1 : 2);
    QString n = QString::number(v, 'f', decimals);
    if (n.contains(QLatin1Char('.'))) {
        while (n.endsWith(QLatin1Char('0')))
            n.chop(1);
        if (n.endsWith(QLatin1Char('.')))
            n.chop(1);
    }
    // Rounding up can reach the next unit ("1000 KB").
    if (n == QLatin1String("1000") && u < 4) {
        n = QStringLiteral("1");
        ++u;
    }
    return n + QLatin1Char(' ') + QLatin1String(units[u]);
}

bool shouldCloseWhenEmpty(int fileCount, bool setting, bool toolRunning)
{
    return fileCount == 0 && setting && !toolRunning;
}

} // namespace ShelfLogic
