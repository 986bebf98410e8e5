#include "tools/favorites/FavoriteQueuePopover.h"

#include "tools/favorites/FavoriteRules.h"
#include "tools/favorites/FavoriteRunner.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

FavoriteQueuePopover::FavoriteQueuePopover(FavoriteRunner *runner, QWidget *parent)
    : QFrame(parent, Qt::Popup), m_runner(runner)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QStringLiteral("perchbox-favorite-queue"));
    setAccessibleName(QStringLiteral("Favorite Queue"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    auto *title = new QLabel(QStringLiteral("Favorite Queue"), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    m_rows = new QVBoxLayout;
    m_rows->setSpacing(3);
    layout->addLayout(m_rows);
    auto *buttons = new QHBoxLayout;
    m_cancel = new QPushButton(QStringLiteral("Cancel Current"), this);
    m_clear = new QPushButton(QStringLiteral("Clear Waiting"), this);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_clear);
    layout->addLayout(buttons);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        if (m_runner)
            m_runner->cancelCurrent();
    });
    connect(m_clear, &QPushButton::clicked, this, [this] {
        if (m_runner)
            m_runner->clearWaiting();
    });
    if (runner)
        connect(runner, &FavoriteRunner::changed, this, &FavoriteQueuePopover::rebuild);
    rebuild();
}

void FavoriteQueuePopover::rebuild()
{
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const bool active = m_runner && m_runner->runningFavoriteID();
    const QList<QueuedFavoriteRun> waiting = m_runner ? m_runner->favoriteQueue() : QList<QueuedFavoriteRun>{};
    if (active) {
        auto *heading = new QLabel(QStringLiteral("Running Now"), this);
        QFont caption = heading->font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        caption.setBold(true);
        heading->setFont(caption);
        m_rows->addWidget(heading);
        m_rows->addWidget(new QLabel(m_runner->runningFavoriteLabel(), this));
    }
    for (const QueuedFavoriteRun &run : waiting)
        m_rows->addWidget(new QLabel(QStringLiteral("Queued: ") + FavoriteRules::label(run.favorite), this));
    if (waiting.isEmpty()) {
        auto *empty = new QLabel(active ? QStringLiteral("No more favorites are queued.")
                                        : QStringLiteral("No favorites are queued."),
                                 this);
        empty->setEnabled(false);
        m_rows->addWidget(empty);
    }
    m_cancel->setEnabled(m_runner && m_runner->canCancelCurrent());
    m_clear->setEnabled(!waiting.isEmpty());
    adjustSize();
}

QStringList FavoriteQueuePopover::lines() const
{
    QStringList out;
    for (int i = 0; i < m_rows->count(); ++i)
        if (auto *label = qobject_cast<QLabel *>(m_rows->itemAt(i)->widget()))
            out << label->text();
    return out;
}

void FavoriteQueuePopover::popup(QWidget *anchor)
{
    adjustSize();
    QPoint at = anchor ? anchor->mapToGlobal(QPoint(anchor->width() - width(), anchor->height() + 4)) : QCursor::pos();
    if (const QScreen *screen = anchor && anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() - height())));
    }
    move(at);
    show();
}
