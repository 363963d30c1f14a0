#include "ui/style/PanelModifier.h"

#include "ui/style/Painting.h"
#include "ui/style/TidewellTheme.h"

#include <QEvent>
#include <QPainter>
#include <QWidget>

PanelModifier::PanelModifier(QWidget *widget, qreal radius)
    : QObject(widget)
    , m_widget(widget)
    , m_radius(radius)
{
    widget->installEventFilter(this);
    Painting::dropShadow(widget, TidewellTheme::withOpacity(Qt::black, 0.045), 16, 5);
}

bool PanelModifier::eventFilter(QObject *watched, QEvent *event)
{
    // Runs before the widget's own paintEvent, so the card lies behind whatever it draws.
    if (watched == m_widget && event->type() == QEvent::Paint) {
        QPainter painter(m_widget);
        Painting::roundedRect(painter, m_widget->rect(), m_radius, TidewellTheme::panel,
                              TidewellTheme::withOpacity(TidewellTheme::border, 0.85));
    }
    return QObject::eventFilter(watched, event);
}

QWidget *tidewellPanel(QWidget *widget, qreal radius)
{
    new PanelModifier(widget, radius);
    return widget;
}
