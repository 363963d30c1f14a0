#include "ui/widgets/DisclosureButton.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

DisclosureButton::DisclosureButton(
    const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent)
    : ButtonBase(parent)
    , m_color(color)
{
    setCheckable(true);
    setText(text);
    setFont(Theme::font(size, weight));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize DisclosureButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return { qCeil(16 + metrics.horizontalAdvance(text())) + 4, qCeil(metrics.height()) + 6 };
}

void DisclosureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A chevron drawn as two strokes: right while collapsed, down while expanded.
    const QPointF c(6, height() / 2.0);
    painter.setPen(QPen(m_color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (isChecked())
        painter.drawPolyline(QPolygonF({ c + QPointF(-3.5, -1.8), c + QPointF(0, 1.8), c + QPointF(3.5, -1.8) }));
    else
        painter.drawPolyline(QPolygonF({ c + QPointF(-1.8, -3.5), c + QPointF(1.8, 0), c + QPointF(-1.8, 3.5) }));
    painter.setFont(font());
    painter.setPen(m_color);
    painter.drawText(QRectF(16, 0, width() - 16, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (hasFocus())
        Painting::focusRing(painter, rect(), 4);
}
