#include "ui/widgets/SymbolView.h"

#include "ui/style/Painting.h"
#include "ui/style/Symbols.h"

#include <QPainter>

SymbolView::SymbolView(const QString &symbolName, qreal symbolSize, QFont::Weight weight, int frameSide,
                       QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbolName)
    , m_size(symbolSize)
    , m_weight(weight)
{
    setFixedSize(frameSide, frameSide);
}

void SymbolView::setSymbol(const QString &symbolName)
{
    if (m_symbol == symbolName)
        return;
    m_symbol = symbolName;
    update();
}

void SymbolView::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    update();
}

void SymbolView::setCircleColor(const QColor &color)
{
    if (m_circle == color)
        return;
    m_circle = color;
    update();
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_circle.isValid()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_circle);
        painter.drawEllipse(QRectF(rect()));
    }
    Painting::symbol(painter, rect(), m_symbol, m_size, m_color, m_weight);
}
