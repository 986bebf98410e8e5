#include "tools/favorites/FavoritesBar.h"

#include "conversion/MediaBackend.h"
#include "model/ShelfManager.h"
#include "platform/Icons.h"
#include "tools/favorites/FavoriteButton.h"
#include "tools/favorites/FavoriteEditing.h"
#include "tools/favorites/FavoriteQueuePopover.h"
#include "tools/favorites/FavoriteRules.h"
#include "tools/favorites/FavoriteRunner.h"
#include "tools/favorites/FlowLayout.h"
#include "tools/presets/PresetStore.h"
#include "tools/progress/ProgressRingButton.h"
#include "tools/progress/ShelfProgressState.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

FavoritesBar::FavoritesBar(ShelfManager &manager, PresetStore &presets, FavoriteRunner &runner, const QUuid &shelfId,
                           QWidget *parent)
    : QWidget(parent), warmUp(&warmUpBackgroundRemoval), m_manager(manager), m_presets(presets), m_runner(&runner),
      m_shelfId(shelfId)
{
    setObjectName(QStringLiteral("favoritesBar"));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 0, 0, 2);
    outer->setSpacing(3);

    auto *flowHost = new QWidget(this);
    m_flow = new FlowLayout(flowHost, 4);
    outer->addWidget(flowHost);

    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_selectAll = new QPushButton(QStringLiteral("Select All"), flowHost);
    m_selectAll->setFlat(true);
    m_selectAll->setFont(small);
    m_selectAll->setFocusPolicy(Qt::NoFocus);
    m_selectAll->setCursor(Qt::PointingHandCursor);
    m_selectAll->setFixedHeight(20);
    m_selectAll->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0 4px; background: transparent; }"));
    connect(m_selectAll, &QPushButton::clicked, this, [this] {
        if (selectAll)
            selectAll();
    });
    m_flow->addWidget(m_selectAll);

    m_star = new QToolButton(flowHost);
    m_star->setIcon(symbolIcon(QStringLiteral("star")));
    m_star->setIconSize(QSize(13, 13));
    m_star->setAutoRaise(true);
    m_star->setFixedSize(22, 20);
    m_star->setFocusPolicy(Qt::NoFocus);
    m_star->setToolTip(QStringLiteral("Favorites"));
    m_star->setAccessibleName(QStringLiteral("Favorites"));
    m_star->setPopupMode(QToolButton::InstantPopup);
    m_star->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; width: 0; }"));
    auto *starMenu = new QMenu(m_star);
    connect(starMenu, &QMenu::aboutToShow, this, [this, starMenu] {
        starMenu->clear();
        FavoriteEditing::fillFavoritesMenu(starMenu, m_manager, m_presets, m_shelfId);
    });
    m_star->setMenu(starMenu);
    m_flow->addWidget(m_star);

    m_statusRow = new QWidget(this);
    auto *status = new QHBoxLayout(m_statusRow);
    status->setContentsMargins(4, 0, 0, 0);
    status->setSpacing(6);
    m_status = new QLabel(m_statusRow);
    m_status->setFont(small);
    m_status->setWordWrap(true);
    status->addWidget(m_status, 1);
    m_clearQueue = new QPushButton(QStringLiteral("Clear Queue"), m_statusRow);
    m_clearQueue->setFont(small);
    m_clearQueue->setFlat(true);
    m_clearQueue->setFocusPolicy(Qt::NoFocus);
    m_clearQueue->setCursor(Qt::PointingHandCursor);
    connect(m_clearQueue, &QPushButton::clicked, this, [this] {
        if (m_runner)
            m_runner->clearWaiting();
    });
    status->addWidget(m_clearQueue);
    outer->addWidget(m_statusRow);
    m_statusRow->hide();

    connect(&manager, &ShelfManager::shelvesChanged, this, [this] {
        // A change of another shelf leaves this bar as it is (with thousands of shelves,
        // every bar redoing itself on every change kept the display busy for minutes).
        if (m_manager.shelfRevision(m_shelfId) != m_shownRevision)
            rebuild();
    });
    connect(&presets, &PresetStore::presetsChanged, this, &FavoritesBar::rebuild);
    connect(&runner, &FavoriteRunner::changed, this, &FavoritesBar::syncRun);
    connect(&runner, &FavoriteRunner::runQueued, this, [this](const QUuid &id) {
        if (FavoriteButton *b = button(id))
            b->spring();
    });
    connect(&runner, &FavoriteRunner::runFailed, this, [this](const QUuid &id) {
        if (FavoriteButton *b = button(id))
            b->shake();
    });
    rebuild();
}

QList<FavoriteButton *> FavoritesBar::buttons() const
{
    QList<FavoriteButton *> out;
    for (int i = 0; i < m_flow->count(); ++i)
        if (auto *b = qobject_cast<FavoriteButton *>(m_flow->itemAt(i)->widget()))
            out.append(b);
    return out;
}

void FavoritesBar::rebuild()
{
    const Shelf *shelf = m_manager.shelf(m_shelfId);
    if (!shelf)
        return;
    m_shownRevision = m_manager.shelfRevision(m_shelfId);
    // Buttons are kept by favorite id; the flow is rebuilt only when the order changed.
    QList<QUuid> order;
    QSet<QUuid> present;
    for (const ShelfFavoriteAction &favorite : shelf->favorites) {
        FavoriteButton *&b = m_buttons[favorite.id];
        if (!b) {
            b = new FavoriteButton(favorite, m_flow->parentWidget());
            const QUuid id = favorite.id;
            connect(b, &QToolButton::clicked, this, [this, id] { click(id); });
            connect(b, &FavoriteButton::menuRequested, this, &FavoritesBar::showButtonMenu);
            b->installEventFilter(this); // the pointer on it: see eventFilter
        }
        b->setFavorite(favorite, shelf->favoriteButtonDisplayMode, !FavoriteRules::presetExists(m_presets, favorite));
        order.append(favorite.id);
        present.insert(favorite.id);
    }
    for (auto it = m_buttons.begin(); it != m_buttons.end();) {
        if (!present.contains(it.key())) {
            delete it.value();
            it = m_buttons.erase(it);
        } else {
            ++it;
        }
    }
    QList<QUuid> shown;
    for (FavoriteButton *b : buttons())
        shown.append(b->favoriteId());
    if (shown != order) {
        for (FavoriteButton *b : buttons())
            m_flow->removeWidget(b);
        for (const QUuid &id : order)
            m_flow->addWidget(m_buttons.value(id));
    }
    m_selectAll->setEnabled(!shelf->files.isEmpty());
    setVisible(!shelf->files.isEmpty() || !shelf->favorites.isEmpty());
    warmUpForFavorites(*shelf);
    syncRun();
}

bool FavoritesBar::removesBackgrounds(const ShelfFavoriteAction &favorite) const
{
    if (favorite.tool != ShelfFavoriteToolKind::convert)
        return false;
    // A preset always sets "Remove background" (it does not fall back to the defaults).
    const auto preset = m_presets.conversionPreset(favorite.presetID);
    return preset && preset->removeImageBackground;
}

void FavoritesBar::warmUpForFavorites(const Shelf &shelf)
{
    // A Convert favorite that removes backgrounds needs the segmentation network, which takes
    // seconds to load: start while the button is only shown, not when it is clicked — once
    // per program run, as the first shelf with such a favorite appears. The network is let go
    // after a while unused; the pointer reaching the button loads it again (see eventFilter).
    static bool started = false;
    if (started)
        return;
    for (const ShelfFavoriteAction &favorite : shelf.favorites) {
        if (removesBackgrounds(favorite)) {
            started = true;
            if (warmUp)
                warmUp();
            return;
        }
    }
}

bool FavoritesBar::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Enter || event->type() == QEvent::FocusIn) {
        const Shelf *shelf = m_manager.shelf(m_shelfId);
        auto *b = qobject_cast<FavoriteButton *>(watched);
        if (shelf && b) {
            for (const ShelfFavoriteAction &favorite : shelf->favorites)
                if (favorite.id == b->favoriteId() && removesBackgrounds(favorite) && warmUp)
                    warmUp();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void FavoritesBar::syncRun()
{
    if (!m_runner)
        return;
    for (auto it = m_buttons.cbegin(); it != m_buttons.cend(); ++it)
        it.value()->setFeedback(m_runner->feedback(it.key()), m_runner->lastFailure(it.key()));
    const bool active = m_runner->runningFavoriteID().has_value();
    const int waiting = int(m_runner->favoriteQueue().size());
    m_status->setText(active ? FavoriteRules::compactStatus(m_runner->runningFavoriteLabel(), waiting) : QString());
    m_status->setToolTip(m_status->text());
    m_clearQueue->setVisible(waiting > 0);
    m_statusRow->setVisible(active);
    if (m_ring) {
        m_ring->setQueueCount(waiting);
        m_ring->setFavoriteActivity(m_runner->isFavoriteActivity());
    }
}

void FavoritesBar::attachRing(ShelfProgressRingButton *ring)
{
    m_ring = ring;
    if (!ring)
        return;
    QPointer<FavoriteRunner> runner(m_runner);
    ring->setOnRunningTap([this, runner] {
        // During a favorite run the ring shows its queue; otherwise it cancels the tool.
        if (runner && runner->isFavoriteActivity())
            showQueuePopover();
        else if (runner && runner->progress())
            runner->progress()->cancel();
    });
    syncRun();
}

FavoriteQueuePopover *FavoritesBar::queuePopover() const
{
    return m_popover;
}

void FavoritesBar::click(const QUuid &favoriteId)
{
    if (m_runner)
        m_runner->favoriteTapped(favoriteId, selection ? selection() : QSet<QUuid>{});
}

void FavoritesBar::showQueuePopover()
{
    if (m_popover)
        m_popover->close();
    m_popover = new FavoriteQueuePopover(m_runner, this);
    m_popover->popup(m_ring ? static_cast<QWidget *>(m_ring) : this);
}

void FavoritesBar::showButtonMenu(const QUuid &favoriteId, const QPoint &globalPos)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    FavoriteEditing::fillButtonMenu(menu, window(), m_manager, m_shelfId, favoriteId);
    menu->popup(globalPos);
}
