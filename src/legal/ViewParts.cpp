#include "legal/ViewParts.h"

#include <QBoxLayout>
#include <QLabel>

namespace ViewParts {

QLabel *label(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
{
    auto *result = new QLabel(text, parent);
    result->setTextFormat(Qt::PlainText);
    result->setFont(font);
    setTextColor(result, color);
    return result;
}

void setTextColor(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    widget->setPalette(palette);
    // Inside a button a label would otherwise draw in the button's text role.
    widget->setForegroundRole(QPalette::WindowText);
}

QWidget *filled(const QColor &color, QWidget *parent)
{
    auto *widget = new QWidget(parent);
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    return widget;
}

void space(QBoxLayout *layout, int spacing, int horizontalMargin, int verticalMargin)
{
    layout->setSpacing(spacing);
    layout->setContentsMargins(horizontalMargin, verticalMargin, horizontalMargin, verticalMargin);
}

} // namespace ViewParts
