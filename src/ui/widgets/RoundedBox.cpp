#include "ui/widgets/RoundedBox.h"

#include "ui/style/Painting.h"

#include <QPainter>

RoundedBox::RoundedBox(qreal radius, QColor fill, QColor stroke, qreal strokeWidth, QWidget *parent)
    : QWidget(parent)
    , m_radius(radius)
    , m_fill(fill)
    , m_stroke(stroke)
    , m_strokeWidth(strokeWidth)
{
}

void RoundedBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Painting::roundedRect(painter, rect(), m_radius, m_fill, m_stroke, m_strokeWidth);
}
