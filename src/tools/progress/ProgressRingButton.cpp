#include "tools/progress/ProgressRingButton.h"

#include "platform/Icons.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleHints>
#include <QTimer>

namespace {

QRectF ringRect(const QWidget *w, qreal pen)
{
    const qreal side = std::min(w->width(), w->height()) - pen - 2;
    return QRectF((w->width() - side) / 2, (w->height() - side) / 2, side, side);
}

void drawXmark(QPainter &p, const QRectF &r, const QColor &color)
{
    const qreal inset = r.width() * 0.32;
    const QRectF x = r.adjusted(inset, inset, -inset, -inset);
    p.setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(x.topLeft(), x.bottomRight());
    p.drawLine(x.topRight(), x.bottomLeft());
}

} // namespace

// ---------------------------------------------------------------------------------------------

ProgressRingView::ProgressRingView(QWidget *parent) : QWidget(parent), m_spin(new QTimer(this))
{
    setAttribute(Qt::WA_Hover);
    m_spin->setInterval(30);
    connect(m_spin, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + 12) % 360;
        update();
    });
}

void ProgressRingView::setPercent(std::optional<double> percent)
{
    m_percent = percent;
    if (percent)
        m_spin->stop();
    else if (!m_spin->isActive())
        m_spin->start();
    update();
}

void ProgressRingView::setFileCountLabel(const QString &text)
{
    m_fileCountLabel = text;
    update();
}

void ProgressRingView::enterEvent(QEnterEvent *)
{
    m_hovered = true;
    update();
}

void ProgressRingView::leaveEvent(QEvent *)
{
    m_hovered = false;
    update();
}

void ProgressRingView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal pen = 2.5;
    const QRectF r = ringRect(this, pen);
    const QColor accent = palette().color(QPalette::Highlight);
    QColor track = palette().color(QPalette::WindowText);
    track.setAlphaF(0.18);
    p.setPen(QPen(track, pen));
    p.drawEllipse(r);
    p.setPen(QPen(accent, pen, Qt::SolidLine, Qt::RoundCap));
    if (m_percent) {
        // Clockwise from twelve o'clock.
        const int span = int(-360 * 16 * std::clamp(*m_percent, 0.0, 1.0));
        p.drawArc(r, 90 * 16, span);
    } else {
        p.drawArc(r, -m_angle * 16, 100 * 16);
    }
    if (isShowingCancel()) {
        drawXmark(p, r, palette().color(QPalette::WindowText));
    } else if (!m_fileCountLabel.isEmpty() && m_fileCountLabel.size() <= 3) {
        QFont f = font();
        f.setPixelSize(std::max(7, int(r.height() * 0.38)));
        p.setFont(f);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(r, Qt::AlignCenter, m_fileCountLabel);
    }
}

// ---------------------------------------------------------------------------------------------

CompletedRingView::CompletedRingView(QColor color, QString symbolName, QWidget *parent)
    : QWidget(parent), m_color(std::move(color)), m_symbol(std::move(symbolName))
{
}

void CompletedRingView::setMark(QColor color, const QString &symbolName)
{
    m_color = std::move(color);
    m_symbol = symbolName;
    update();
}

void CompletedRingView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = ringRect(this, 1);
    p.setPen(Qt::NoPen);
    p.setBrush(m_color);
    p.drawEllipse(r);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const qreal w = r.width(), h = r.height();
    if (m_symbol == QLatin1String("checkmark")) {
        QPainterPath path;
        path.moveTo(r.left() + w * 0.28, r.top() + h * 0.52);
        path.lineTo(r.left() + w * 0.44, r.top() + h * 0.68);
        path.lineTo(r.left() + w * 0.72, r.top() + h * 0.34);
        p.drawPath(path);
    } else {
        p.drawLine(QPointF(r.center().x(), r.top() + h * 0.25), QPointF(r.center().x(), r.top() + h * 0.58));
        p.drawPoint(QPointF(r.center().x(), r.top() + h * 0.74));
    }
}

// ---------------------------------------------------------------------------------------------

ShelfProgressRingButton::ShelfProgressRingButton(QWidget *parent)
    : QWidget(parent), m_ring(new ProgressRingView(this)),
      m_completed(new CompletedRingView(QColor(0x34, 0xC7, 0x59), QStringLiteral("checkmark"), this))
{
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    // The button takes every click and hover; the faces only draw.
    m_ring->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_completed->setAttribute(Qt::WA_TransparentForMouseEvents);
    refresh();
}

void ShelfProgressRingButton::setState(ShelfProgressState *state)
{
    if (m_state)
        disconnect(m_state, nullptr, this, nullptr);
    m_state = state;
    if (state)
        connect(state, &ShelfProgressState::changed, this, &ShelfProgressRingButton::refresh);
    refresh();
}

void ShelfProgressRingButton::setIdleIconName(const QString &name)
{
    m_idleIcon = name;
    update();
}

void ShelfProgressRingButton::setCustomizerOpen(bool open)
{
    m_customizerOpen = open;
    refresh();
}

void ShelfProgressRingButton::setQueueCount(int count)
{
    m_queueCount = count;
    refresh();
}

void ShelfProgressRingButton::setFavoriteActivity(bool favorite)
{
    m_favorite = favorite;
    refresh();
}

QString ShelfProgressRingButton::currentToolTip() const
{
    ShelfProgressState::TooltipContext ctx;
    ctx.customizerOpen = m_customizerOpen;
    ctx.queueCount = m_queueCount;
    ctx.isFavoriteActivity = m_favorite;
    if (!m_state)
        return ShelfProgressState::tooltip(ShelfProgressState::Phase::idle, {}, {}, ctx);
    return m_state->tooltip(ctx);
}

void ShelfProgressRingButton::refresh()
{
    using Phase = ShelfProgressState::Phase;
    const Phase phase = m_state ? m_state->phase() : Phase::idle;
    m_ring->setGeometry(rect());
    m_completed->setGeometry(rect());
    // A favorite run waiting between its steps (a folder being chosen) still shows activity.
    const bool spinning = phase == Phase::running || (m_favorite && phase == Phase::idle);
    if (phase != Phase::running)
        m_runningShown.invalidate();
    else if (!m_runningShown.isValid())
        m_runningShown.start();
    m_ring->setVisible(spinning);
    m_completed->setVisible(phase == Phase::done || phase == Phase::error);
    if (phase == Phase::running) {
        m_ring->setPercent(m_state->percent());
        m_ring->setFileCountLabel(m_state->fileCountLabel());
        // A favorite run opens its queue on click; a tool run cancels.
        m_ring->setShowsCancelOnHover(!m_favorite && m_state->canCancel());
    } else if (spinning) {
        m_ring->setPercent(std::nullopt);
        m_ring->setFileCountLabel(QString());
        m_ring->setShowsCancelOnHover(false);
    } else {
        m_ring->setPercent(0.0); // stops the spinner while hidden
    }
    if (phase == Phase::done) {
        m_completed->setMark(QColor(0x34, 0xC7, 0x59), QStringLiteral("checkmark"));
    } else if (phase == Phase::error) {
        m_completed->setMark(QColor(0xFF, 0x3B, 0x30), QStringLiteral("exclamationmark"));
    }
    QString tip = currentToolTip();
    if (phase == Phase::running && m_state && !m_state->etaString().isEmpty())
        tip += QLatin1Char('\n') + m_state->etaString();
    setToolTip(tip);
    setAccessibleName(tip);
    m_ring->setToolTip(tip);
    m_completed->setToolTip(tip);
    update();
}

void ShelfProgressRingButton::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    // A ring that has only just started running may have been under a window that closed a
    // moment ago (the tool's own window, closed by a click on its button): the next click of
    // a double-click lands here and must not cancel the run it started.
    const auto phase = m_state ? m_state->phase() : ShelfProgressState::Phase::idle;
    m_pressMayCancel = phase != ShelfProgressState::Phase::running || !m_runningShown.isValid()
        || m_runningShown.elapsed() >= QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void ShelfProgressRingButton::enterEvent(QEnterEvent *)
{
    m_ring->setHovered(true);
}

void ShelfProgressRingButton::leaveEvent(QEvent *)
{
    m_ring->setHovered(false);
}

void ShelfProgressRingButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !rect().contains(event->position().toPoint()))
        return;
    const auto phase = m_state ? m_state->phase() : ShelfProgressState::Phase::idle;
    if (m_favorite && m_onRunningTap) {
        // During favorite activity every face leads to the queue.
        m_onRunningTap();
    } else if (phase == ShelfProgressState::Phase::running) {
        if (m_onRunningTap)
            m_onRunningTap();
        else if (m_state && m_pressMayCancel)
            m_state->cancel();
    } else if (phase == ShelfProgressState::Phase::idle && m_onIdleTap) {
        m_onIdleTap();
    }
}

void ShelfProgressRingButton::paintEvent(QPaintEvent *)
{
    const auto phase = m_state ? m_state->phase() : ShelfProgressState::Phase::idle;
    if (phase != ShelfProgressState::Phase::idle || m_favorite)
        return;
    QPainter p(this);
    const int side = std::min(13, std::min(width(), height()) - 6);
    symbolIcon(m_idleIcon).paint(&p, QRect((width() - side) / 2, (height() - side) / 2, side, side));
}
