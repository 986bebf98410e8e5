#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QUuid>

class AppSettings;
class ShelfManager;

// The shelves of the manager, in list order, for the tray panel's list. Follows the
// manager's shelf list, open and hidden sets, and the default-shelf setting.
class ShelfListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        IdRole = Qt::UserRole + 1, // QUuid
        IconNameRole,              // QString symbol name
        ColorRole,                 // QColor
        IsDefaultRole,             // bool: the "Send to Perchbox" default
        IsOpenRole,                // bool
        IsVisibleRole,             // bool: open and not hidden
        FileCountRole,             // int
    };

    ShelfListModel(ShelfManager &manager, AppSettings &settings, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QHash<int, QByteArray> roleNames() const override;

    QUuid idAt(int row) const;
    int rowOf(const QUuid &id) const;

    // Moves a row (drag to reorder); the manager saves the new order.
    bool moveShelf(int from, int to);

private:
    void syncFromManager();
    void refreshAll();

    ShelfManager &m_manager;
    AppSettings &m_settings;
    QList<QUuid> m_ids;
};
