#include "app/ShelfListModel.h"

#include "model/ShelfColor.h"
#include "model/ShelfManager.h"
#include "settings/AppSettings.h"

ShelfListModel::ShelfListModel(ShelfManager &manager, AppSettings &settings, QObject *parent)
    : QAbstractListModel(parent), m_manager(manager), m_settings(settings)
{
    for (const Shelf &shelf : m_manager.shelves())
        m_ids.append(shelf.id);
    connect(&m_manager, &ShelfManager::shelvesChanged, this, &ShelfListModel::syncFromManager);
    connect(&m_manager, &ShelfManager::openShelfIDsChanged, this, &ShelfListModel::refreshAll);
    connect(&m_manager, &ShelfManager::userHiddenShelfIDsChanged, this, &ShelfListModel::refreshAll);
    connect(&m_settings, &AppSettings::defaultShelfIDChanged, this, &ShelfListModel::refreshAll);
}

int ShelfListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_ids.size());
}

QVariant ShelfListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_ids.size())
        return {};
    const QUuid id = m_ids.at(index.row());
    const Shelf *shelf = m_manager.shelf(id);
    if (!shelf)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return shelf->name;
    case Qt::ToolTipRole:
        return QStringLiteral("Click to open · Hover to highlight");
    case IdRole:
        return id;
    case IconNameRole:
        return shelf->icon;
    case ColorRole:
        return toQColor(shelf->colorData);
    case IsDefaultRole:
        return !m_settings.defaultShelfID().isNull() && m_settings.defaultShelfID() == id;
    case IsOpenRole:
        return m_manager.isShelfOpen(id);
    case IsVisibleRole:
        return m_manager.isShelfVisible(id);
    case FileCountRole:
        return int(shelf->files.size());
    default:
        return {};
    }
}

QHash<int, QByteArray> ShelfListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(IdRole, "shelfId");
    names.insert(IconNameRole, "iconName");
    names.insert(ColorRole, "color");
    names.insert(IsDefaultRole, "isDefault");
    names.insert(IsOpenRole, "isOpen");
    names.insert(IsVisibleRole, "isVisible");
    names.insert(FileCountRole, "fileCount");
    return names;
}

QUuid ShelfListModel::idAt(int row) const
{
    return row >= 0 && row < m_ids.size() ? m_ids.at(row) : QUuid();
}

int ShelfListModel::rowOf(const QUuid &id) const
{
    return int(m_ids.indexOf(id));
}

bool ShelfListModel::moveShelf(int from, int to)
{
    if (from < 0 || from >= m_ids.size() || to < 0 || to >= m_ids.size() || from == to)
        return false;
    return m_manager.moveShelf(from, to); // shelvesChanged moves our row
}

void ShelfListModel::syncFromManager()
{
    QList<QUuid> ids;
    for (const Shelf &shelf : m_manager.shelves())
        ids.append(shelf.id);
    if (ids == m_ids) {
        refreshAll();
        return;
    }
    // A single move (drag to reorder) keeps the view's selection and scroll position.
    if (ids.size() == m_ids.size() && ids.size() > 1) {
        for (int from = 0; from < m_ids.size(); ++from) {
            QList<QUuid> trial = m_ids;
            const QUuid moved = trial.takeAt(from);
            const int to = int(ids.indexOf(moved));
            if (to < 0)
                break;
            trial.insert(to, moved);
            if (trial == ids) {
                beginMoveRows({}, from, from, {}, to > from ? to + 1 : to);
                m_ids = ids;
                endMoveRows();
                return;
            }
        }
    }
    beginResetModel();
    m_ids = ids;
    endResetModel();
}

void ShelfListModel::refreshAll()
{
    if (!m_ids.isEmpty())
        emit dataChanged(index(0), index(int(m_ids.size()) - 1));
}
