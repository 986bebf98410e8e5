#include "input/tuck/QtTuckEnvironment.h"

#include <QCursor>
#include <QEasingCurve>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>

namespace {
QEasingCurve easeInEaseOut()
{
    // cubic-bezier(0.42, 0, 0.58, 1)
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}
} // namespace

QtTuckEnvironment::QtTuckEnvironment(QObject *parent) : QObject(parent)
{
    if (!qGuiApp)
        return;
    for (QScreen *screen : QGuiApplication::screens())
        watchScreen(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        watchScreen(screen);
        emit screensChanged();
    });
    // Queued: while the signal runs the screen is still in the list.
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &QtTuckEnvironment::screensChanged, Qt::QueuedConnection);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &QtTuckEnvironment::screensChanged);
}

QtTuckEnvironment::~QtTuckEnvironment()
{
    for (QVariantAnimation *animation : std::as_const(m_animations))
        animation->stop();
    qDeleteAll(m_animations);
    qDeleteAll(m_timers);
}

void QtTuckEnvironment::watchScreen(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, &QtTuckEnvironment::screensChanged);
    connect(screen, &QScreen::availableGeometryChanged, this, &QtTuckEnvironment::screensChanged);
}

QList<TuckGeometry::Screen> QtTuckEnvironment::screens() const
{
    QList<TuckGeometry::Screen> list;
    if (!qGuiApp)
        return list;
    for (QScreen *screen : QGuiApplication::screens()) {
        TuckGeometry::Screen s;
        s.id = screen->name();
        s.name = (screen->manufacturer() + QLatin1Char(' ') + screen->model()).trimmed();
        if (s.name.isEmpty())
            s.name = screen->name();
        s.geometry = screen->geometry();
        s.available = screen->availableGeometry();
        list.append(s);
    }
    return list;
}

QPoint QtTuckEnvironment::cursorPos() const
{
    return QCursor::pos();
}

int QtTuckEnvironment::startTimer(int ms, std::function<void()> fire)
{
    const int id = m_nextTimer++;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, id, fire = std::move(fire)] {
        if (QTimer *t = m_timers.take(id))
            t->deleteLater();
        fire();
    });
    m_timers.insert(id, timer);
    timer->start(ms);
    return id;
}

void QtTuckEnvironment::stopTimer(int id)
{
    if (QTimer *timer = m_timers.take(id)) {
        timer->stop();
        timer->deleteLater();
    }
}

void QtTuckEnvironment::stopAnimation(TuckWindow *window)
{
    if (QVariantAnimation *animation = m_animations.take(window)) {
        animation->disconnect(this);
        animation->stop();
        animation->deleteLater();
    }
}

void QtTuckEnvironment::animate(TuckWindow *window, const QRect &target, int ms, std::function<void()> done)
{
    stopAnimation(window);
    const QRect start = window->frame();
    if (ms <= 0 || start == target) {
        window->setFrame(target);
        if (done)
            done();
        return;
    }
    auto *animation = new QVariantAnimation(this);
    animation->setStartValue(start);
    animation->setEndValue(target);
    animation->setDuration(ms);
    animation->setEasingCurve(easeInEaseOut());
    connect(animation, &QVariantAnimation::valueChanged, this, [window](const QVariant &value) {
        window->setFrame(value.toRect());
    });
    connect(animation, &QVariantAnimation::finished, this, [this, window, animation, target, done = std::move(done)] {
        if (m_animations.value(window) != animation)
            return;
        m_animations.remove(window);
        animation->deleteLater();
        window->setFrame(target);
        if (done)
            done();
    });
    m_animations.insert(window, animation);
    animation->start();
}
