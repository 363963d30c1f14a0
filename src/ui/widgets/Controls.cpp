#include "ui/widgets/Controls.h"

#include "ui/style/Painting.h"
#include "ui/style/TidewellTheme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {

void paintFocusRing(QPainter &painter, const QWidget &widget, qreal radius)
{
    if (widget.hasFocus())
        Painting::roundedRect(painter, QRectF(widget.rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, {},
                              TidewellTheme::withOpacity(TidewellTheme::accent, 0.55), 1.5);
}

} // namespace

TextButton::TextButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent)
    : QAbstractButton(parent)
    , m_color(color)
{
    setText(text);
    setFont(TidewellTheme::font(size, weight));
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TextButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return {qCeil(metrics.horizontalAdvance(text())) + 6, qCeil(metrics.height()) + 4};
}

void TextButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(isDown() ? TidewellTheme::withOpacity(m_color, 0.6) : m_color);
    painter.drawText(rect(), Qt::AlignCenter, text());
    paintFocusRing(painter, *this, 4);
}

CircleSymbolButton::CircleSymbolButton(const QString &symbolName, qreal symbolSize, QFont::Weight weight,
                                       const QColor &color, const QColor &circle, int circleSide, int frameSide,
                                       const QString &toolTip, QWidget *parent)
    : QAbstractButton(parent)
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
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

QSize CircleSymbolButton::sizeHint() const
{
    return {m_frameSide, m_frameSide};
}

void CircleSymbolButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF circle((m_frameSide - m_circleSide) / 2.0, (m_frameSide - m_circleSide) / 2.0, m_circleSide,
                        m_circleSide);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? m_circle.darker(115) : m_circle);
    painter.drawEllipse(circle);
    Painting::symbol(painter, rect(), m_symbol, m_symbolSize, m_color, m_weight);
    if (hasFocus()) {
        painter.setPen(QPen(TidewellTheme::withOpacity(TidewellTheme::accent, 0.55), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(0.75, 0.75, -0.75, -0.75));
    }
}

namespace {
constexpr qreal trackWidth = 34;
constexpr qreal trackHeight = 20;
constexpr qreal switchGap = 8;
} // namespace

ToggleSwitch::ToggleSwitch(const QString &text, qreal size, QWidget *parent)
    : QAbstractButton(parent)
{
    setCheckable(true);
    setText(text);
    setFont(TidewellTheme::font(size));
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return {qCeil(trackWidth + switchGap + metrics.horizontalAdvance(text())) + 2,
            qCeil(qMax(trackHeight, metrics.height())) + 2};
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.5);
    const QRectF track(1, (height() - trackHeight) / 2, trackWidth, trackHeight);
    Painting::roundedRect(painter, track, trackHeight / 2, isChecked() ? TidewellTheme::accent : TidewellTheme::border);
    const qreal knob = trackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    painter.setFont(font());
    painter.setPen(TidewellTheme::text);
    painter.drawText(QRectF(track.right() + switchGap, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
    if (hasFocus()) {
        painter.setPen(QPen(TidewellTheme::withOpacity(TidewellTheme::accent, 0.55), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), trackHeight / 2 + 1, trackHeight / 2 + 1);
    }
}

DisclosureButton::DisclosureButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color,
                                   QWidget *parent)
    : QAbstractButton(parent)
    , m_color(color)
{
    setCheckable(true);
    setText(text);
    setFont(TidewellTheme::font(size, weight));
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize DisclosureButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return {qCeil(16 + metrics.horizontalAdvance(text())) + 4, qCeil(metrics.height()) + 6};
}

void DisclosureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // A chevron drawn as two strokes: right while collapsed, down while expanded.
    const QPointF c(6, height() / 2.0);
    painter.setPen(QPen(m_color, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    if (isChecked())
        painter.drawPolyline(QPolygonF({c + QPointF(-3.5, -1.8), c + QPointF(0, 1.8), c + QPointF(3.5, -1.8)}));
    else
        painter.drawPolyline(QPolygonF({c + QPointF(-1.8, -3.5), c + QPointF(1.8, 0), c + QPointF(-1.8, 3.5)}));
    painter.setFont(font());
    painter.setPen(m_color);
    painter.drawText(QRectF(16, 0, width() - 16, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    paintFocusRing(painter, *this, 4);
}

Divider::Divider(Qt::Orientation orientation, QWidget *parent)
    : QWidget(parent)
{
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedWidth(1);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }
}

void Divider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), TidewellTheme::border);
}
