#pragma once

#include "tools/rename/RenameEngine.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <optional>

// The rows of the rename preview: old name → new name, one per file in list order. Rebuilt
// only when the preview signature of (files, options) changes.
class RenamePreviewModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { OldName, Arrow, NewName, ColumnCount };
    // True on a row whose new name is its old one (drawn in the secondary text colour).
    static constexpr int UnchangedRole = Qt::UserRole + 1;

    explicit RenamePreviewModel(QObject *parent = nullptr);

    // Returns true when the rows were rebuilt (the signature changed).
    bool update(const QList<RenameFile> &files, const RenamePreset &options);
    int rebuildCount() const { return m_rebuilds; }
    QString oldName(int row) const { return m_old.value(row); }
    QString newName(int row) const { return m_new.value(row); }
    bool isUnchanged(int row) const { return m_old.value(row) == m_new.value(row); }

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::optional<RenamePreviewSignature> m_signature;
    QStringList m_old;
    QStringList m_new;
    int m_rebuilds = 0;
};
