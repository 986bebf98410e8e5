#include "tools/favorites/FavoriteButton.h"

#include "platform/Icons.h"
#include "tools/favorites/FavoriteRules.h"

#include <QContextMenuEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVariantAnimation>

#include <cmath>

namespace {
constexpr int kHeight = 20;
constexpr int kPad = 6;
constexpr int kIcon = 12;
constexpr int kGap = 4;
constexpr int kMaxText = 120;
constexpr int kAnimationMs = 600;
const QColor kSuccess(0x34, 0xC7, 0x59);
const QColor kFailure(0xFF, 0x3B, 0x30);
} // namespace

FavoriteButton::FavoriteButton(const ShelfFavoriteAction &favorite, QWidget *parent)
    : QToolButton(parent), m_favorite(favorite), m_spin(new QTimer(this))
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setObjectName(QStringLiteral("favorite-") + uuidString(favorite.id));
    m_spin->setInterval(40);
    connect(m_spin, &QTimer::timeout, this, [this] {
        m_spinAngle = (m_spinAngle + 15) % 360;
        update();
    });
    refresh();
}

void FavoriteButton::setFavorite(const ShelfFavoriteAction &favorite, ShelfFavoriteButtonDisplayMode mode,
                                 bool presetMissing)
{
    if (favorite == m_favorite && mode == m_mode && presetMissing == m_missing)
        return;
    m_favorite = favorite;
    m_mode = mode;
    m_missing = presetMissing;
    refresh();
    updateGeometry();
}

void FavoriteButton::setFeedback(FavoriteRunFeedback feedback, const QString &failure)
{
    if (feedback == m_feedback && failure == m_failure)
        return;
    m_feedback = feedback;
    m_failure = failure;
    if (feedback == FavoriteRunFeedback::running)
        m_spin->start();
    else
        m_spin->stop();
    refresh();
}

void FavoriteButton::refresh()
{
    const QString name = FavoriteRules::buttonText(m_favorite, m_missing);
    setText(name);
    setAccessibleName(name);
    QString tip = name;
    if (m_missing)
        tip += QLatin1Char('\n') + FavoriteRules::missingPresetMessage(m_favorite.tool);
    else if (!m_failure.isEmpty())
        tip += QStringLiteral("\nLast run failed: ") + m_failure;
    else
        tip += QStringLiteral("\n%1 favorite · click to run").arg(FavoriteRules::toolDisplayName(m_favorite.tool));
    setToolTip(tip);
    update();
}

double FavoriteButton::springProgress(double t)
{
    constexpr double response = 0.2;
    constexpr double damping = 0.8;
    const double omega = 2 * M_PI / response;
    const double omegaD = omega * std::sqrt(1 - damping * damping);
    const double decay = std::exp(-damping * omega * t);
    return 1 - decay * (std::cos(omegaD * t) + damping * omega / omegaD * std::sin(omegaD * t));
}

void FavoriteButton::shake()
{
    animate(true);
}

void FavoriteButton::spring()
{
    animate(false);
}

void FavoriteButton::animate(bool shake)
{
    if (!m_animation) {
        m_animation = new QVariantAnimation(this);
        m_animation->setStartValue(0.0);
        m_animation->setEndValue(1.0);
        m_animation->setDuration(kAnimationMs);
    }
    m_animation->stop();
    m_animation->disconnect(this);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this, shake](const QVariant &value) {
        const double p = springProgress(value.toDouble() * kAnimationMs / 1000.0);
        // Three swings that the spring carries to rest; or a small hop that settles.
        m_offset = shake ? QPointF(5 * std::sin(p * 2 * M_PI * 3), 0) : QPointF(0, -3 * (1 - p));
        update();
    });
    connect(m_animation, &QVariantAnimation::finished, this, [this] {
        m_offset = {};
        update();
    });
    m_animation->start();
}

QSize FavoriteButton::sizeHint() const
{
    ensurePolished(); // the theme's font comes with polishing
    int width = 2 * kPad + 2;
    const bool icon = m_mode != ShelfFavoriteButtonDisplayMode::nameOnly;
    const bool name = m_mode != ShelfFavoriteButtonDisplayMode::iconOnly;
    if (icon)
        width += kIcon;
    if (icon && name)
        width += kGap;
    if (name)
        width += std::min(kMaxText, fontMetrics().horizontalAdvance(text()));
    if (m_missing && !icon)
        width += kGap + kIcon;
    return {width, kHeight};
}

void FavoriteButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(m_offset);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QColor ink = palette().color(QPalette::WindowText);

    QColor fill = ink;
    fill.setAlphaF(isDown() ? 0.26f : underMouse() ? 0.18f : 0.10f);
    if (m_feedback == FavoriteRunFeedback::success)
        fill = QColor(kSuccess.red(), kSuccess.green(), kSuccess.blue(), 70);
    else if (m_feedback == FavoriteRunFeedback::failure)
        fill = QColor(kFailure.red(), kFailure.green(), kFailure.blue(), 70);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(r, kHeight / 2.0, kHeight / 2.0);

    qreal x = kPad;
    const QRectF iconRect(x, (height() - kIcon) / 2.0, kIcon, kIcon);
    const bool icon = m_mode != ShelfFavoriteButtonDisplayMode::nameOnly;
    if (icon) {
        // The icon slot shows the mark of the last run while there is one.
        switch (m_feedback) {
        case FavoriteRunFeedback::running: {
            QColor accent = palette().color(QPalette::Highlight);
            p.setPen(QPen(accent, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawArc(iconRect.adjusted(1, 1, -1, -1), -m_spinAngle * 16, 100 * 16);
            break;
        }
        case FavoriteRunFeedback::success: {
            p.setPen(QPen(kSuccess.darker(120), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            QPainterPath check;
            check.moveTo(iconRect.left() + 1.5, iconRect.center().y());
            check.lineTo(iconRect.left() + 4.5, iconRect.bottom() - 2.5);
            check.lineTo(iconRect.right() - 1, iconRect.top() + 2);
            p.drawPath(check);
            break;
        }
        case FavoriteRunFeedback::failure:
            symbolIcon(QStringLiteral("exclamationmark.triangle.fill")).paint(&p, iconRect.toRect());
            break;
        case FavoriteRunFeedback::idle:
            symbolIcon(m_missing ? QStringLiteral("exclamationmark.triangle.fill")
                                 : FavoriteRules::toolSymbol(m_favorite.tool))
                .paint(&p, iconRect.toRect());
            break;
        }
        x += kIcon + kGap;
    }
    if (m_mode != ShelfFavoriteButtonDisplayMode::iconOnly) {
        qreal right = width() - kPad;
        if (m_missing && !icon) {
            symbolIcon(QStringLiteral("exclamationmark.triangle.fill"))
                .paint(&p, QRect(int(right - kIcon), (height() - kIcon) / 2, kIcon, kIcon));
            right -= kIcon + kGap;
        }
        p.setPen(ink);
        const QRectF textRect(x, 0, right - x, height());
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideRight, int(textRect.width())));
    }
}

void FavoriteButton::contextMenuEvent(QContextMenuEvent *event)
{
    emit menuRequested(m_favorite.id, event->globalPos());
    event->accept();
}
