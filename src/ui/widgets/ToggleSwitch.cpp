#include "ui/widgets/ToggleSwitch.h"

#include "ui/style/Painting.h"
#include "ui/style/Theme.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr qreal trackWidth = 34;
constexpr qreal trackHeight = 20;
constexpr qreal switchGap = 8;
} // namespace

ToggleSwitch::ToggleSwitch(const QString &text, qreal size, QWidget *parent)
    : ButtonBase(parent)
{
    setCheckable(true);
    setText(text);
    setFont(Theme::font(size));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ToggleSwitch::sizeHint() const
{
    const QFontMetricsF metrics(font());
    return { qCeil(trackWidth + switchGap + metrics.horizontalAdvance(text())) + 2,
        qCeil(qMax(trackHeight, metrics.height())) + 2 };
}

void ToggleSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 : 0.5);
    const QRectF track(1, (height() - trackHeight) / 2, trackWidth, trackHeight);
    Painting::roundedRect(painter, track, trackHeight / 2, isChecked() ? Theme::accent : Theme::border);
    const qreal knob = trackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    painter.setFont(font());
    painter.setPen(Theme::text);
    painter.drawText(QRectF(track.right() + switchGap, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    if (hasFocus()) {
        painter.setPen(QPen(Theme::withOpacity(Theme::accent, 0.55), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-1, -1, 1, 1), trackHeight / 2 + 1, trackHeight / 2 + 1);
    }
}
