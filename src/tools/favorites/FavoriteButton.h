#pragma once

#include "model/Shelf.h"
#include "tools/favorites/FavoriteRunner.h"

#include <QToolButton>

class QVariantAnimation;

// One favorite in the favorites bar: the tool's symbol and the favorite's name (as the
// shelf's display mode says), the warning of a missing preset, and the outcome mark of the
// last run (running, success, failure). A failure shakes the button; a click that has to
// wait makes it spring.
class FavoriteButton : public QToolButton
{
    Q_OBJECT
public:
    FavoriteButton(const ShelfFavoriteAction &favorite, QWidget *parent = nullptr);

    QUuid favoriteId() const { return m_favorite.id; }
    // The record, the display mode and whether its preset is gone.
    void setFavorite(const ShelfFavoriteAction &favorite, ShelfFavoriteButtonDisplayMode mode, bool presetMissing);
    void setFeedback(FavoriteRunFeedback feedback, const QString &failure);
    FavoriteRunFeedback feedback() const { return m_feedback; }
    bool presetMissing() const { return m_missing; }

    void shake();
    void spring();
    // The horizontal offset of the shake and the vertical one of the spring (tests read them).
    QPointF animationOffset() const { return m_offset; }

    // The spring of the animations (response 0.2 s, damping 0.8) at `seconds`: the fraction
    // of the way from start to rest (overshooting a little before settling).
    static double springProgress(double seconds);

    QSize sizeHint() const override;

signals:
    void menuRequested(const QUuid &favoriteId, const QPoint &globalPos);

protected:
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void animate(bool shake);
    void refresh();

    ShelfFavoriteAction m_favorite;
    ShelfFavoriteButtonDisplayMode m_mode = ShelfFavoriteButtonDisplayMode::iconAndName;
    bool m_missing = false;
    FavoriteRunFeedback m_feedback = FavoriteRunFeedback::idle;
    QString m_failure;
    QPointF m_offset;
    int m_spinAngle = 0;
    QVariantAnimation *m_animation = nullptr;
    class QTimer *m_spin = nullptr;
};
