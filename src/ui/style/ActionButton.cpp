#include "ui/style/ActionButton.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr qreal symbolTextGap = 6;
}

ActionButton::ActionButton(const PrimaryButtonStyle &style, QWidget *parent)
    : ActionButton(style.look(), parent)
{
}

ActionButton::ActionButton(const SecondaryButtonStyle &style, QWidget *parent)
    : ActionButton(style.look(), parent)
{
}

ActionButton::ActionButton(ButtonLook look, QWidget *parent)
    : ButtonBase(parent)
    , m_look(look)
{
    setFont(Theme::font(m_look.fontSize, QFont::DemiBold));
    setFixedHeight(m_look.height);
    // Keyboard focus only, so the focus ring shows for keyboard users and not after every click.
}

void ActionButton::setSymbol(const QString &symbolName)
{
    if (m_symbol == symbolName)
        return;
    m_symbol = symbolName;
    updateGeometry();
    update();
}

void ActionButton::setOpacity(qreal opacity)
{
    if (qFuzzyCompare(m_opacity, opacity))
        return;
    m_opacity = opacity;
    update();
}

qreal ActionButton::labelWidth() const
{
    qreal width = QFontMetricsF(font()).horizontalAdvance(text());
    if (!m_symbol.isEmpty())
        width += Painting::symbolWidth(m_symbol, m_look.fontSize) + (text().isEmpty() ? 0 : symbolTextGap);
    return width;
}

QSize ActionButton::sizeHint() const
{
    return { qCeil(labelWidth() + 2 * m_look.horizontalPadding), m_look.height };
}

QSize ActionButton::minimumSizeHint() const
{
    // A button that fills a share of a row may shrink; its text is then elided.
    const qreal symbol = m_symbol.isEmpty() ? 0 : Painting::symbolWidth(m_symbol, m_look.fontSize);
    return { qCeil(symbol + 2 * m_look.horizontalPadding), m_look.height };
}

void ActionButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    Painting::roundedRect(
        painter, rect(), m_look.cornerRadius, isDown() ? m_look.pressedFill : m_look.fill, m_look.outline);
    if (hasFocus())
        Painting::focusRing(painter, rect(), m_look.cornerRadius);

    const QRectF content = QRectF(rect()).adjusted(m_look.horizontalPadding, 0, -m_look.horizontalPadding, 0);
    const qreal symbolSize = m_look.fontSize;
    const qreal symbolW = m_symbol.isEmpty() ? 0 : Painting::symbolWidth(m_symbol, symbolSize);
    const qreal gap = (m_symbol.isEmpty() || text().isEmpty()) ? 0 : symbolTextGap;
    const QFontMetricsF metrics(font());
    const QString shown = metrics.elidedText(text(), Qt::ElideRight, qMax<qreal>(0, content.width() - symbolW - gap));
    const qreal total = symbolW + gap + metrics.horizontalAdvance(shown);
    qreal x = content.left() + qMax<qreal>(0, (content.width() - total) / 2);

    if (!m_symbol.isEmpty()) {
        Painting::symbol(painter, QRectF(x, 0, symbolW, height()), m_symbol, symbolSize, m_look.labelColor);
        x += symbolW + gap;
    }
    painter.setFont(font());
    painter.setPen(m_look.labelColor);
    painter.drawText(QRectF(x, 0, content.right() - x, height()), Qt::AlignVCenter | Qt::AlignLeft, shown);
}
