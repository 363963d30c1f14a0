#include "ui/style/Painting.h"

#include "ui/style/RoundedShadow.h"
#include "ui/style/Symbols.h"
#include "ui/style/Theme.h"

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
    QGlyphRun glyph = Symbols::glyph(symbolName, size);
    if (glyph.isEmpty())
        return;
    const QRawFont font = glyph.rawFont();
    // Centred as one line of text would be: the advance across, ascent plus descent down.
    const QPointF origin(rect.center().x() - Symbols::advance(glyph) / 2,
        rect.center().y() - (font.ascent() + font.descent()) / 2 + font.ascent());
    painter.save();
    if (weight >= QFont::Bold) {
        // The single-weight font is emboldened the way the font engine fakes a bold face: a twenty-fourth
        // of the em wider.
        const QPainterPath outline = font.pathForGlyph(glyph.glyphIndexes().constFirst()).translated(origin);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(color, font.pixelSize() / 24, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(color);
        painter.drawPath(outline);
    } else {
        glyph.setPositions({ origin });
        painter.setPen(color);
        painter.drawGlyphRun({}, glyph);
    }
    painter.restore();
}

qreal symbolWidth(const QString &symbolName, qreal size)
{
    return Symbols::advance(Symbols::glyph(symbolName, size));
}

RoundedShadow *dropShadow(QWidget *widget, qreal radius, const QColor &color, qreal blurRadius, qreal dy)
{
    return new RoundedShadow(widget, radius, color, blurRadius, dy);
}

} // namespace Painting
