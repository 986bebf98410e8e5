#pragma once

#include "model/Shelf.h"

#include <QAbstractListModel>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QSet>
#include <QUuid>

class ThumbnailCache;

// The files of one shelf as a list model (one row per ShelfFile, in `files` order). File
// facts (existence, size, MIME icon) are looked up lazily for the rows that are drawn and
// kept until the entry changes, so a shelf of many thousand files costs nothing up front.
class ShelfFileModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum Role {
        FileIdRole = Qt::UserRole + 1,
        ResolvedUrlRole,
        SizeTextRole,
        ExistsRole,
        SelectedRole,
        ThumbnailRole, // QImage, null until made
    };

    explicit ShelfFileModel(QObject *parent = nullptr);
    ~ShelfFileModel() override;

    // Replaces the shown files. Appending to the end (the usual case while files arrive)
    // is reported as inserted rows; anything else as a reset.
    void setFiles(const QList<ShelfFile> &files);
    const QList<ShelfFile> &files() const { return m_files; }
    QList<QUuid> order() const;
    int rowOf(const QUuid &id) const;
    const ShelfFile *fileAt(int row) const;

    void setSelection(const QSet<QUuid> &selected);
    void setThumbnailSize(int px);
    // Forgets cached file facts (after a rename or trash outside our knowledge).
    void refreshFileInfo();
    // Looks again at the files whose facts are known (the drawn ones): a file that vanished
    // gets the warning look, one that came back its normal look.
    void recheckFiles();

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The display name of a file: the last part of its resolved path.
    static QString displayName(const QUrl &url);

private:
    struct Info {
        bool known = false;
        bool exists = false;
        bool isDir = false;
        qint64 size = 0;
        QString name;
        QString sizeText;
        QIcon icon;
        QUrl resolved;
    };
    const Info &info(int row) const;
    void thumbnailReady(const QUrl &url);

    QList<ShelfFile> m_files;
    mutable QHash<QUuid, int> m_rowOf; // row of each id, made on demand (see rowOf)
    QSet<QUuid> m_selected;
    mutable QHash<QUuid, Info> m_info;
    ThumbnailCache *m_thumbs = nullptr;
    int m_thumbSize = 26;
};
