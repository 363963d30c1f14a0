#include "ui/style/CardBackground.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QEvent>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsPixmapItem>
#include <QGraphicsScene>
#include <QHash>
#include <QPainter>
#include <QWidget>
#include <qdrawutil.h>

namespace {
constexpr qreal blurRadius = 16;
constexpr int offsetY = 5;
constexpr int margin = int(blurRadius) + offsetY + 1;

void paintCard(QPainter &painter, const QRectF &rect, qreal radius)
{
    Painting::roundedRect(painter, rect, radius, Theme::panel, Theme::withOpacity(Theme::border, 0.85));
}

/// A card just big enough for its corners and blur, with its shadow around it. Its middle row and
/// column are uniform, so stretching them draws the shadow of a card of any size.
QPixmap shadowTile(qreal radius)
{
    static QHash<int, QPixmap> tiles;
    const int key = qRound(radius * 4);
    if (const auto found = tiles.constFind(key); found != tiles.constEnd())
        return *found;
    const int side = 2 * (qCeil(radius) + int(blurRadius)) + 2;
    QImage card(side, side, QImage::Format_ARGB32_Premultiplied);
    card.fill(Qt::transparent);
    {
        QPainter painter(&card);
        paintCard(painter, card.rect(), radius);
    }
    QGraphicsScene scene;
    QGraphicsPixmapItem *item = scene.addPixmap(QPixmap::fromImage(card));
    auto *shadow = new QGraphicsDropShadowEffect;
    shadow->setColor(Theme::withOpacity(Qt::black, 0.045));
    shadow->setBlurRadius(blurRadius);
    shadow->setOffset(0, offsetY);
    item->setGraphicsEffect(shadow);
    QImage tile(side + 2 * margin, side + 2 * margin, QImage::Format_ARGB32_Premultiplied);
    tile.fill(Qt::transparent);
    {
        QPainter painter(&tile);
        scene.render(&painter, tile.rect(), QRectF(-margin, -margin, tile.width(), tile.height()));
    }
    return *tiles.insert(key, QPixmap::fromImage(tile));
}
} // namespace

CardBackground::CardBackground(QWidget *widget, qreal radius)
    : QObject(widget)
    , m_widget(widget)
    , m_radius(radius)
{
    widget->installEventFilter(this);
    watchParent();
}

int CardBackground::shadowMargin()
{
    return margin;
}

void CardBackground::watchParent()
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

void CardBackground::paintShadow()
{
    if (!m_widget->isVisibleTo(m_parent))
        return;
    if (m_tile.isNull())
        m_tile = shadowTile(m_radius);
    const int edge = (m_tile.width() - 2) / 2;
    QPainter painter(m_parent);
    qDrawBorderPixmap(&painter, m_widget->geometry().adjusted(-margin, -margin, margin, margin),
        QMargins(edge, edge, edge, edge), m_tile);
}

bool CardBackground::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_parent) {
        // Runs before the parent's own paintEvent and its children, so the shadow lies beneath the card.
        if (event->type() == QEvent::Paint)
            paintShadow();
        return QObject::eventFilter(watched, event);
    }
    if (watched != m_widget)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint: {
        // Runs before the widget's own paintEvent, so the card lies behind whatever it draws.
        QPainter painter(m_widget);
        paintCard(painter, m_widget->rect(), m_radius);
        break;
    }
    case QEvent::ParentChange:
        watchParent();
        break;
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        // The shadow reaches past the card, where the card's own repaint would not clear it.
        if (m_parent)
            m_parent->update();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

QWidget *applyCardBackground(QWidget *widget, qreal radius)
{
    new CardBackground(widget, radius);
    return widget;
}
