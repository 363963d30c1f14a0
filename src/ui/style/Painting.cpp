#include "ui/style/Painting.h"

#include "ui/style/RoundedShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace Painting {

void roundedRect(
    QPainter &painter, const QRectF &rect, qreal radius, const QColor &fill, const QColor &stroke, qreal strokeWidth)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal inset = stroke.isValid() ? strokeWidth / 2 : 0;
    const QRectF shape = rect.adjusted(inset, inset, -inset, -inset);
    const qreal r = qMin(radius, qMin(shape.width(), shape.height()) / 2);
    painter.setPen(stroke.isValid() ? QPen(stroke, strokeWidth) : QPen(Qt::NoPen));
    painter.setBrush(fill.isValid() ? QBrush(fill) : QBrush(Qt::NoBrush));
    painter.drawRoundedRect(shape, r, r);
    painter.restore();
}

void focusRing(QPainter &painter, const QRectF &rect, qreal radius)
{
    roundedRect(painter, rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, {}, Theme::withOpacity(Theme::accent, 0.55), 1.5);
}

void symbol(QPainter &painter, const QRectF &rect, const QString &symbolName, qreal size, const QColor &color,
    QFont::Weight weight)
{
    painter.save();
    painter.setFont(Symbols::font(size, weight));
    painter.setPen(color);
    painter.drawText(rect, Qt::AlignCenter, Symbols::ligature(symbolName));
    painter.restore();
}

qreal symbolWidth(const QString &symbolName, qreal size)
{
    return QFontMetricsF(Symbols::font(size)).horizontalAdvance(Symbols::ligature(symbolName));
}

RoundedShadow *dropShadow(QWidget *widget, qreal radius, const QColor &color, qreal blurRadius, qreal dy)
{
    return new RoundedShadow(widget, radius, color, blurRadius, dy);
}

} // namespace Painting
