#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QBoxLayout;
class QLabel;
class QWidget;

/// \brief Small building blocks shared by the window's and the notice's layouts.
namespace ViewParts {

/// A plain-text label in \a font and \a color.
QLabel *label(const QString &text, const QFont &font, const QColor &color, QWidget *parent = nullptr);

/// Text drawn in \a color, wherever the widget sits.
void setTextColor(QWidget *widget, const QColor &color);

/// A widget filled with \a color behind its children.
QWidget *filled(const QColor &color, QWidget *parent = nullptr);

/// Sets spacing and equal margins in one call.
void space(QBoxLayout *layout, int spacing, int horizontalMargin, int verticalMargin);

} // namespace ViewParts
