#pragma once

#include <QFrame>
#include <QPointer>

class FavoriteRunner;
class QLabel;
class QPushButton;
class QVBoxLayout;

// "Favorite Queue": what runs now and what waits, opened by clicking the shelf's ring during
// a favorite run. "Cancel Current" stops the running tool; "Clear Waiting" drops the rest.
// Follows the runner while it is open.
class FavoriteQueuePopover : public QFrame
{
    Q_OBJECT
public:
    explicit FavoriteQueuePopover(FavoriteRunner *runner, QWidget *parent = nullptr);

    // Opens below `anchor` (kept on its screen).
    void popup(QWidget *anchor);

    // The texts shown, one a line (for tests and accessibility).
    QStringList lines() const;
    QPushButton *cancelCurrentButton() const { return m_cancel; }
    QPushButton *clearWaitingButton() const { return m_clear; }

private:
    void rebuild();

    QPointer<FavoriteRunner> m_runner;
    QVBoxLayout *m_rows = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_clear = nullptr;
};
