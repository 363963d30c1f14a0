#include "ui/style/CardBackground.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

CardBackground::CardBackground(QWidget *widget, qreal radius)
    : QObject(widget)
    , m_widget(widget)
    , m_radius(radius)
{
    widget->installEventFilter(this);
    Painting::dropShadow(widget, radius, Theme::withOpacity(Qt::black, 0.045), 16, 5);
}

bool CardBackground::eventFilter(QObject *watched, QEvent *event)
{
    // Runs before the widget's own paintEvent, so the card lies behind whatever it draws.
    if (watched == m_widget && event->type() == QEvent::Paint) {
        QPainter painter(m_widget);
        Painting::roundedRect(
            painter, m_widget->rect(), m_radius, Theme::panel, Theme::withOpacity(Theme::border, 0.85));
    }
    return QObject::eventFilter(watched, event);
}

QWidget *applyCardBackground(QWidget *widget, qreal radius)
{
    new CardBackground(widget, radius);
    return widget;
}
