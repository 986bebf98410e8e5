#include "shelf/ShelfFileModel.h"

#include "platform/FilePath.h"
#include "platform/MimeIcons.h"
#include "shelf/ShelfLogic.h"
#include "shelf/ThumbnailCache.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QtConcurrent>

#include <sys/stat.h>

namespace {

QIcon iconForName(const QString &fileName, bool isDir)
{
    if (isDir)
        return folderIcon();
    static QMimeDatabase db;
    return iconForMimeType(db.mimeTypeForFile(fileName, QMimeDatabase::MatchExtension));
}

} // namespace

ShelfFileModel::ShelfFileModel(QObject *parent)
    : QAbstractListModel(parent)
    , m_thumbs(new ThumbnailCache(this))
{
    connect(m_thumbs, &ThumbnailCache::ready, this, &ShelfFileModel::thumbnailReady);
    // Loading the MIME database takes a while the first time; do it off the UI thread
    // before the first row is drawn.
    static const bool warmed = [] {
        (void)QtConcurrent::run([] {
            QMimeDatabase().mimeTypeForFile(QStringLiteral("warm-up.txt"), QMimeDatabase::MatchExtension);
        });
        return true;
    }();
    (void)warmed;
}

ShelfFileModel::~ShelfFileModel() = default;

QString ShelfFileModel::displayName(const QUrl &url)
{
    const QString path = FilePath::displayPath(url);
    QString name = path.section(QLatin1Char('/'), -1, -1, QString::SectionSkipEmpty);
    return name.isEmpty() ? path : name;
}

QList<QUuid> ShelfFileModel::order() const
{
    QList<QUuid> out;
    out.reserve(m_files.size());
    for (const ShelfFile &f : m_files)
        out.append(f.id);
    return out;
}

const ShelfFile *ShelfFileModel::fileAt(int row) const
{
    return row >= 0 && row < m_files.size() ? &m_files.at(row) : nullptr;
}

void ShelfFileModel::setFiles(const QList<ShelfFile> &files)
{
    const qsizetype old = m_files.size();
    // Files arriving in batches are appended: compare ids only (cheap), then the URL of
    // the last known entry.
    bool appended = files.size() > old;
    for (qsizetype i = 0; appended && i < old; ++i)
        appended = files.at(i).id == m_files.at(i).id;
    if (appended && old > 0)
        appended = files.at(old - 1).url == m_files.at(old - 1).url;
    if (appended) {
        beginInsertRows({}, int(old), int(files.size() - 1));
        if (old == 0) {
            m_files = files; // the shelf's own list, shared until one of them changes
        } else {
            for (qsizetype i = old; i < files.size(); ++i) {
                m_files.append(files.at(i));
                if (!m_rowOf.isEmpty())
                    m_rowOf.insert(files.at(i).id, int(i));
            }
        }
        endInsertRows();
        return;
    }
    if (files.size() == old) {
        bool same = true;
        for (qsizetype i = 0; same && i < old; ++i)
            same = files.at(i) == m_files.at(i) && files.at(i).bookmarkData == m_files.at(i).bookmarkData;
        if (same)
            return;
    }
    beginResetModel();
    // What is known about an entry stays only while it still points at the same file (a
    // renamed entry keeps its id but is shown under its new name at once).
    QHash<QUuid, QUrl> before;
    for (const ShelfFile &f : m_files)
        before.insert(f.id, f.url);
    m_files = files;
    m_rowOf.clear();
    QHash<QUuid, QUrl> present;
    for (qsizetype i = 0; i < m_files.size(); ++i)
        present.insert(m_files.at(i).id, m_files.at(i).url);
    for (auto it = m_info.begin(); it != m_info.end();) {
        const auto now = present.constFind(it.key());
        const bool keep = now != present.constEnd() && before.value(it.key()) == *now;
        it = keep ? std::next(it) : m_info.erase(it);
    }
    endResetModel();
}

int ShelfFileModel::rowOf(const QUuid &id) const
{
    // Made when first asked for: most shelves are only shown, and a start with many large
    // shelves would otherwise index every entry of every one of them up front.
    if (m_rowOf.isEmpty() && !m_files.isEmpty()) {
        m_rowOf.reserve(m_files.size());
        for (qsizetype i = 0; i < m_files.size(); ++i)
            m_rowOf.insert(m_files.at(i).id, int(i));
    }
    return m_rowOf.value(id, -1);
}

void ShelfFileModel::setSelection(const QSet<QUuid> &selected)
{
    if (selected == m_selected)
        return;
    QSet<QUuid> changed = (selected - m_selected) + (m_selected - selected);
    m_selected = selected;
    for (const QUuid &id : changed) {
        const int row = rowOf(id);
        if (row >= 0)
            emit dataChanged(index(row), index(row), {SelectedRole});
    }
}

void ShelfFileModel::setThumbnailSize(int px)
{
    if (px == m_thumbSize)
        return;
    m_thumbSize = px;
    if (!m_files.isEmpty())
        emit dataChanged(index(0), index(int(m_files.size()) - 1), {ThumbnailRole});
}

void ShelfFileModel::refreshFileInfo()
{
    m_info.clear();
    m_thumbs->clear();
    if (!m_files.isEmpty())
        emit dataChanged(index(0), index(int(m_files.size()) - 1));
}

void ShelfFileModel::recheckFiles()
{
    for (int row = 0; row < m_files.size(); ++row) {
        auto it = m_info.find(m_files.at(row).id);
        if (it == m_info.end() || !it->known)
            continue;
        const QUrl now = m_files.at(row).resolvedURL();
        struct stat st;
        const QByteArray path = FilePath::bytes(now);
        const bool exists = ::stat(path.constData(), &st) == 0 || FilePath::exists(now);
        const qint64 size = exists && ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : it->size;
        if (now != it->resolved || exists != it->exists || size != it->size) {
            it->known = false; // looked up afresh when drawn
            emit dataChanged(index(row), index(row));
        }
    }
}

const ShelfFileModel::Info &ShelfFileModel::info(int row) const
{
    const ShelfFile &f = m_files.at(row);
    Info &i = m_info[f.id];
    if (i.known)
        return i;
    i.known = true;
    i.resolved = f.resolvedURL();
    i.name = displayName(i.resolved);
    const QByteArray path = FilePath::bytes(i.resolved);
    struct stat st;
    if (::stat(path.constData(), &st) == 0) {
        i.exists = true;
        i.isDir = S_ISDIR(st.st_mode);
        i.size = qint64(st.st_size);
    } else {
        i.exists = FilePath::exists(i.resolved); // a dangling link still counts
    }
    i.sizeText = i.isDir ? QString() : ShelfLogic::formatFileSize(i.size);
    i.icon = iconForName(i.name, i.isDir);
    return i;
}

void ShelfFileModel::thumbnailReady(const QUrl &url)
{
    for (int row = 0; row < m_files.size(); ++row) {
        const auto it = m_info.constFind(m_files.at(row).id);
        if (it != m_info.constEnd() && it->resolved == url)
            emit dataChanged(index(row), index(row), {ThumbnailRole});
    }
}

int ShelfFileModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_files.size());
}

Qt::ItemFlags ShelfFileModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QVariant ShelfFileModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_files.size())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return info(row).name;
    case Qt::DecorationRole:
        return info(row).icon;
    case FileIdRole:
        return m_files.at(row).id;
    case ResolvedUrlRole:
        return info(row).resolved;
    case SizeTextRole:
        return info(row).sizeText;
    case ExistsRole:
        return info(row).exists;
    case SelectedRole:
        return m_selected.contains(m_files.at(row).id);
    case ThumbnailRole: {
        const Info &i = info(row);
        // Any file may have a preview in the desktop's thumbnail cache.
        if (!i.exists || i.isDir)
            return QImage();
        return m_thumbs->request(i.resolved, m_thumbSize * 2);
    }
    default:
        return {};
    }
}
