#pragma once

#include "ui/style/Theme.h"

#include <QImage>
#include <QWidget>

/// Renders \a widget inside a host, the way it is shown, so shadows and other effects take part
/// (Qt draws nothing for a hidden top-level widget that carries an effect).
inline QImage renderShown(QWidget &widget, const QColor &background = Theme::background)
{
    widget.ensurePolished();
    widget.resize(widget.size().expandedTo(widget.sizeHint()));
    QWidget host;
    widget.setParent(&host);
    host.resize(widget.size());
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(background);
    host.render(&image, {}, {}, QWidget::DrawChildren);
    widget.setParent(nullptr);
    return image;
}

/// Channels of \a a and \a b differ by at most \a tolerance (of 255).
inline bool nearColor(const QColor &a, const QColor &b, int tolerance = 6)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

/// Some pixel of \a image is \a color (an opaque dot or glyph drawn in it).
inline bool paintsColor(const QImage &image, const QColor &color, int tolerance = 6)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (nearColor(image.pixelColor(x, y), color, tolerance))
                return true;
    return false;
}
