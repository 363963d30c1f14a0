#include "ui/style/RoundedShadow.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPainter>
#include <QPainterPath>
#include <qdrawutil.h>

#include <map>
#include <tuple>

namespace {
/// The shadow of a rounded square just big enough for its corners and blur, \a margin wide around it,
/// drawn at \a scale device pixels per pixel. Its middle row and column are uniform, so stretching
/// them draws the shadow of any size.
QPixmap shadowTile(qreal radius, const QColor &color, qreal blurRadius, qreal dy, int margin, qreal scale)
{
    using Key = std::tuple<int, QRgb, int, int, int>;
    static std::map<Key, QPixmap> tiles;
    const Key key { qRound(radius * 8), color.rgba(), qRound(blurRadius * 8), qRound(dy * 8), qRound(scale * 8) };
    if (const auto found = tiles.find(key); found != tiles.end())
        return found->second;
    const int side = 2 * (qCeil(radius) + qCeil(blurRadius)) + 2;
    QImage shape(side, side, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(shape.rect()), radius, radius);
        painter.fillPath(path, Qt::black);
    }
    // The shadow is thrown well clear of the shape, so the shape itself stays out of the tile.
    const int away = side + 2 * margin;
    QGraphicsScene scene;
    QGraphicsPixmapItem *item = scene.addPixmap(QPixmap::fromImage(shape));
    auto *effect = new QGraphicsDropShadowEffect;
    effect->setColor(color);
    effect->setBlurRadius(blurRadius);
    effect->setOffset(0, dy + away);
    item->setGraphicsEffect(effect);
    // The scene draws the item only where its own bounds are in view, so render both and keep the shadow.
    const int extent = side + 2 * margin;
    QImage both(qCeil(extent * scale), qCeil((away + extent) * scale), QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    {
        QPainter painter(&both);
        scene.render(&painter, both.rect(), QRectF(-margin, -margin, extent, away + extent));
    }
    QImage tile = both.copy(0, qCeil(away * scale), both.width(), both.width());
    tile.setDevicePixelRatio(scale);
    return tiles.emplace(key, QPixmap::fromImage(tile)).first->second;
}
} // namespace

RoundedShadow::RoundedShadow(QWidget *target, qreal radius, const QColor &color, qreal blurRadius, qreal dy)
    : QWidget(target->parentWidget())
    , m_target(target)
    , m_radius(radius)
    , m_color(color)
    , m_blurRadius(blurRadius)
    , m_dy(dy)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    target->installEventFilter(this);
    // Owned by the target's parent, so it must leave with the target.
    connect(target, &QObject::destroyed, this, [this] {
        hide();
        deleteLater();
    });
    follow(true);
}

void RoundedShadow::setShadowShown(bool shown)
{
    if (m_shown == shown)
        return;
    m_shown = shown;
    follow();
}

int RoundedShadow::margin() const
{
    return qCeil(m_blurRadius + qAbs(m_dy)) + 1;
}

void RoundedShadow::follow(bool restack)
{
    if (!m_target)
        return;
    if (parentWidget() != m_target->parentWidget()) {
        setParent(m_target->parentWidget());
        restack = true;
    }
    const int reach = margin();
    setGeometry(m_target->geometry().adjusted(-reach, -reach, reach, reach));
    if (restack && parentWidget())
        stackUnder(m_target);
    setVisible(m_shown && parentWidget() && !m_target->isHidden());
}

bool RoundedShadow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_target) {
        switch (event->type()) {
        case QEvent::ParentChange:
        case QEvent::ZOrderChange:
            follow(true);
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::ShowToParent:
        case QEvent::HideToParent:
            follow();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RoundedShadow::paintEvent(QPaintEvent *)
{
    const int reach = margin();
    const QPixmap tile = shadowTile(m_radius, m_color, m_blurRadius, m_dy, reach, devicePixelRatioF());
    const int edge = qRound((tile.deviceIndependentSize().width() - 2) / 2);
    QPainter painter(this);
    qDrawBorderPixmap(&painter, rect(), QMargins(edge, edge, edge, edge), tile);
}
