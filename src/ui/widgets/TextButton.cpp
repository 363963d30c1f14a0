#include "ui/widgets/TextButton.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

TextButton::TextButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent)
    : ButtonBase(parent)
    , m_color(color)
{
    setText(text);
    setFont(Theme::font(size, weight));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TextButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return { qCeil(metrics.horizontalAdvance(text())) + 6, qCeil(metrics.height()) + 4 };
}

void TextButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(isDown() ? Theme::withOpacity(m_color, 0.6) : m_color);
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus())
        Painting::focusRing(painter, rect(), 4);
}
