#pragma once

#include "input/tuck/ShelfTuckManager.h"

#include <QHash>
#include <QObject>
#include <QPointer>

class QTimer;
class QVariantAnimation;

// The tuck manager's desktop: the program's screens, the pointer, Qt timers, and frame
// animations with a CSS-like ease-in-ease-out curve.
class QtTuckEnvironment : public QObject, public TuckEnvironment
{
    Q_OBJECT
public:
    explicit QtTuckEnvironment(QObject *parent = nullptr);
    ~QtTuckEnvironment() override;

    QList<TuckGeometry::Screen> screens() const override;
    QPoint cursorPos() const override;
    int startTimer(int ms, std::function<void()> fire) override;
    void stopTimer(int id) override;
    void animate(TuckWindow *window, const QRect &target, int ms, std::function<void()> done) override;
    void stopAnimation(TuckWindow *window) override;

signals:
    // A screen came, went, or changed its geometry or work area.
    void screensChanged();

private:
    void watchScreen(class QScreen *screen);

    int m_nextTimer = 1;
    QHash<int, QTimer *> m_timers;
    QHash<TuckWindow *, QVariantAnimation *> m_animations;
};
