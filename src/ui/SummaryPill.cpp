#include "ui/SummaryPill.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr qreal fontSize = 9;
constexpr qreal symbolSize = 11;
constexpr qreal padding = 10;
constexpr qreal gap = 5;
constexpr int pillHeight = 28;
} // namespace

SummaryPill::SummaryPill(const QString &icon, const QString &text, const QColor &color, QWidget *parent)
    : QWidget(parent)
    , m_icon(icon)
    , m_text(text)
    , m_color(color)
{
    setFont(Theme::font(fontSize, QFont::DemiBold));
    setFixedHeight(pillHeight);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(text);
}

void SummaryPill::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

QSize SummaryPill::sizeHint() const
{
    const qreal width = padding + Painting::symbolWidth(m_icon, symbolSize) + gap
        + QFontMetricsF(font()).horizontalAdvance(m_text) + padding;
    return { qCeil(width), pillHeight };
}

void SummaryPill::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    Painting::roundedRect(painter, rect(), height() / 2.0, Theme::withOpacity(m_color, 0.08));
    const qreal symbolW = Painting::symbolWidth(m_icon, symbolSize);
    Painting::symbol(painter, QRectF(padding, 0, symbolW, height()), m_icon, symbolSize, m_color, QFont::DemiBold);
    painter.setPen(m_color);
    painter.setFont(font());
    painter.drawText(QRectF(padding + symbolW + gap, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft, m_text);
}
