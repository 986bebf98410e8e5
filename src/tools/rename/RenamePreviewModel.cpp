#include "tools/rename/RenamePreviewModel.h"

RenamePreviewModel::RenamePreviewModel(QObject *parent) : QAbstractTableModel(parent) {}

bool RenamePreviewModel::update(const QList<RenameFile> &files, const RenamePreset &options)
{
    RenamePreviewSignature signature = RenameEngine::previewSignature(files, options);
    if (m_signature && *m_signature == signature)
        return false;
    // The same files as last time: keep their decoded names, recompute only the new ones.
    const bool sameFiles = m_signature && m_signature->fileCount == signature.fileCount
                           && m_signature->firstFileID == signature.firstFileID
                           && m_signature->firstFilePath == signature.firstFilePath
                           && m_signature->lastFileID == signature.lastFileID
                           && m_signature->lastFilePath == signature.lastFilePath;
    beginResetModel();
    m_signature = std::move(signature);
    if (!sameFiles) {
        m_old.clear();
        m_old.reserve(files.size());
        for (const RenameFile &file : files)
            m_old.append(RenameEngine::fileName(file.url));
    }
    m_new.clear();
    m_new.reserve(files.size());
    const RenameRules rules(options);
    for (qsizetype i = 0; i < m_old.size(); ++i)
        m_new.append(rules.newName(m_old[i], i));
    ++m_rebuilds;
    endResetModel();
    return true;
}

int RenamePreviewModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_old.size());
}

int RenamePreviewModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RenamePreviewModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_old.size())
        return {};
    const int row = index.row();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        if (index.column() == OldName)
            return m_old[row];
        if (index.column() == NewName)
            return m_new[row];
        return role == Qt::DisplayRole ? QVariant(QStringLiteral("→")) : QVariant();
    case UnchangedRole:
        return isUnchanged(row);
    default:
        return {};
    }
}

QVariant RenamePreviewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case OldName: return QStringLiteral("Original");
    case NewName: return QStringLiteral("Renamed");
    default: return QString();
    }
}
