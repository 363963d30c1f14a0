#include "ui/widgets/ViewParts.h"

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
    fillBackground(widget, color);
    return widget;
}

void fillBackground(QWidget *widget, const QColor &color)
{
    widget->setAutoFillBackground(true);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
}

void space(QBoxLayout *layout, int spacing, int horizontalMargin, int verticalMargin)
{
    layout->setSpacing(spacing);
    layout->setContentsMargins(horizontalMargin, verticalMargin, horizontalMargin, verticalMargin);
}

QVBoxLayout *column(int spacing, QWidget *parent)
{
    auto *layout = parent ? new QVBoxLayout(parent) : new QVBoxLayout;
    space(layout, spacing, 0, 0);
    return layout;
}

QHBoxLayout *row(int spacing, QWidget *parent)
{
    auto *layout = parent ? new QHBoxLayout(parent) : new QHBoxLayout;
    space(layout, spacing, 0, 0);
    return layout;
}

} // namespace ViewParts
