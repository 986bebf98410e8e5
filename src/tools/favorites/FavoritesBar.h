#pragma once

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QUuid>
#include <QWidget>

#include <functional>

class FavoriteButton;
class FavoriteQueuePopover;
class FavoriteRunner;
class FlowLayout;
class PresetStore;
class QLabel;
class QPushButton;
class QToolButton;
class ShelfManager;
class ShelfProgressRingButton;
struct Shelf;
struct ShelfFavoriteAction;

// The favorites bar of a shelf header: "Select All", the star menu that pins presets, one
// button per favorite in the shelf's order (drawn as its display mode says), and, while a
// favorite runs, the compact status ("Running: …", "2 more queued") with "Clear Queue".
// It also gives the shelf's ring its favorite side: the number of waiting runs, whether a
// favorite is what runs, and the queue popover on click.
class FavoritesBar : public QWidget
{
    Q_OBJECT
public:
    FavoritesBar(ShelfManager &manager, PresetStore &presets, FavoriteRunner &runner, const QUuid &shelfId,
                 QWidget *parent = nullptr);

    // The shelf window's selection, and its "Select All" (both may stay empty).
    std::function<QSet<QUuid>()> selection;
    std::function<void()> selectAll;
    // Starts loading the background-removal network (warmUpBackgroundRemoval; tests count it).
    std::function<void()> warmUp;

    // Connects the header's ring: queue count, favorite activity and the popover.
    void attachRing(ShelfProgressRingButton *ring);

    FavoriteButton *button(const QUuid &favoriteId) const { return m_buttons.value(favoriteId); }
    QList<FavoriteButton *> buttons() const;
    QToolButton *starButton() const { return m_star; }
    QPushButton *selectAllButton() const { return m_selectAll; }
    QLabel *statusLine() const { return m_status; }
    QPushButton *clearQueueButton() const { return m_clearQueue; }
    FavoriteQueuePopover *queuePopover() const;

    // A click on a favorite (what its button does).
    void click(const QUuid &favoriteId);
    void showQueuePopover();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void rebuild();
    bool removesBackgrounds(const ShelfFavoriteAction &favorite) const;
    void warmUpForFavorites(const Shelf &shelf);
    void syncRun();
    void showButtonMenu(const QUuid &favoriteId, const QPoint &globalPos);

    ShelfManager &m_manager;
    PresetStore &m_presets;
    QPointer<FavoriteRunner> m_runner;
    QUuid m_shelfId;
    quint64 m_shownRevision = ~quint64(0); // of the shelf, as last shown
    QPointer<ShelfProgressRingButton> m_ring;
    QPushButton *m_selectAll = nullptr;
    QToolButton *m_star = nullptr;
    FlowLayout *m_flow = nullptr;
    QWidget *m_statusRow = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_clearQueue = nullptr;
    QHash<QUuid, FavoriteButton *> m_buttons;
    QPointer<FavoriteQueuePopover> m_popover;
};
