#include "ui/widgets/CircleSymbolButton.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

CircleSymbolButton::CircleSymbolButton(const QString &symbolName, qreal symbolSize, QFont::Weight weight,
    const QColor &color, const QColor &circle, int circleSide, int frameSide, const QString &toolTip, QWidget *parent)
    : ButtonBase(parent)
    , m_symbol(symbolName)
    , m_symbolSize(symbolSize)
    , m_weight(weight)
    , m_color(color)
    , m_circle(circle)
    , m_circleSide(circleSide)
    , m_frameSide(frameSide)
{
    setToolTip(toolTip);
    setAccessibleName(toolTip);
    setFixedSize(frameSide, frameSide);
}

QSize CircleSymbolButton::sizeHint() const
{
    return { m_frameSide, m_frameSide };
}

void CircleSymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle(
        (m_frameSide - m_circleSide) / 2.0, (m_frameSide - m_circleSide) / 2.0, m_circleSide, m_circleSide);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? m_circle.darker(115) : m_circle);
    painter.drawEllipse(circle);
    Painting::symbol(painter, rect(), m_symbol, m_symbolSize, m_color, m_weight);
    if (hasFocus()) {
        painter.setPen(QPen(Theme::withOpacity(Theme::accent, 0.55), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(0.75, 0.75, -0.75, -0.75));
    }
}
