#include "ui/style/RoundedShadow.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <qdrawutil.h>

#include <map>
#include <tuple>

namespace {
/// The shadow of a rounded square just big enough for its corners and blur, \a margin wide around it.
/// Its middle row and column are uniform, so stretching them draws the shadow of any size.
QPixmap makeTile(qreal radius, const QColor &color, qreal blurRadius, qreal dy, int margin)
{
    using Key = std::tuple<int, QRgb, int, int>;
    static std::map<Key, QPixmap> tiles;
    const Key key { qRound(radius * 8), color.rgba(), qRound(blurRadius * 8), qRound(dy * 8) };
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
    QImage both(extent, away + extent, QImage::Format_ARGB32_Premultiplied);
    both.fill(Qt::transparent);
    {
        QPainter painter(&both);
        scene.render(&painter, both.rect(), QRectF(-margin, -margin, both.width(), both.height()));
    }
    const QImage tile = both.copy(0, away, extent, extent);
    return tiles.emplace(key, QPixmap::fromImage(tile)).first->second;
}
} // namespace

RoundedShadow::RoundedShadow(QWidget *widget, qreal radius, const QColor &color, qreal blurRadius, qreal dy)
    : QObject(widget)
    , m_widget(widget)
    , m_radius(radius)
    , m_color(color)
    , m_blurRadius(blurRadius)
    , m_dy(dy)
{
    widget->installEventFilter(this);
    watchParent();
}

void RoundedShadow::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    if (m_parent)
        m_parent->update(m_widget->geometry().adjusted(-margin(), -margin(), margin(), margin()));
}

int RoundedShadow::margin() const
{
    return qCeil(m_blurRadius + qAbs(m_dy)) + 1;
}

void RoundedShadow::watchParent()
{
    QWidget *parent = m_widget->parentWidget();
    if (parent == m_parent)
        return;
    if (m_parent)
        m_parent->removeEventFilter(this);
    m_parent = parent;
    if (m_parent)
        m_parent->installEventFilter(this);
}

void RoundedShadow::paint()
{
    if (!m_enabled || !m_widget->isVisibleTo(m_parent))
        return;
    const int reach = margin();
    if (m_tile.isNull())
        m_tile = makeTile(m_radius, m_color, m_blurRadius, m_dy, reach);
    const int edge = (m_tile.width() - 2) / 2;
    QPainter painter(m_parent);
    qDrawBorderPixmap(&painter, m_widget->geometry().adjusted(-reach, -reach, reach, reach),
        QMargins(edge, edge, edge, edge), m_tile);
}

bool RoundedShadow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_parent) {
        // Runs before the parent's own paintEvent and its children, so the shadow lies beneath them.
        if (event->type() == QEvent::Paint)
            paint();
    } else if (watched == m_widget) {
        switch (event->type()) {
        case QEvent::ParentChange:
            watchParent();
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            // The shadow reaches past the widget, where the widget's own repaint would not clear it.
            if (m_parent)
                m_parent->update();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
