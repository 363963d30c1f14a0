#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;
class QWidget;
class RoundedShadow;

/// \brief Drawing helpers shared by the custom-painted controls.
namespace Painting {

/// A rounded rectangle filled with \a fill and, when \a stroke is valid, outlined 1 pt inside \a rect.
void roundedRect(QPainter &painter, const QRectF &rect, qreal radius, const QColor &fill, const QColor &stroke = {},
    qreal strokeWidth = 1.0);

/// The keyboard focus ring: an `accent` outline just inside \a rect.
void focusRing(QPainter &painter, const QRectF &rect, qreal radius);

/// A symbol glyph centred in \a rect.
void symbol(QPainter &painter, const QRectF &rect, const QString &symbolName, qreal size, const QColor &color,
    QFont::Weight weight = QFont::Normal);

/// Width of a symbol glyph at \a size.
qreal symbolWidth(const QString &symbolName, qreal size);

/// A soft shadow behind \a widget, a rounded rectangle with corners of \a radius, reaching past its bounds.
RoundedShadow *dropShadow(QWidget *widget, qreal radius, const QColor &color, qreal blurRadius, qreal dy);

} // namespace Painting
