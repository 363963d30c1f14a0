#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QWidget;

/// \brief Small layout building blocks shared by every view.
namespace ViewParts {

/// A plain-text label in \a font and \a color.
QLabel *label(const QString &text, const QFont &font, const QColor &color, QWidget *parent = nullptr);

/// Text drawn in \a color, wherever the widget sits.
void setTextColor(QWidget *widget, const QColor &color);

/// A widget filled with \a color behind its children.
QWidget *filled(const QColor &color, QWidget *parent = nullptr);
/// Fills \a widget with \a color behind its children.
void fillBackground(QWidget *widget, const QColor &color);

/// Sets spacing and equal margins in one call.
void space(QBoxLayout *layout, int spacing, int horizontalMargin, int verticalMargin);

/// A vertical or horizontal layout without margins, installed on \a parent when one is given.
QVBoxLayout *column(int spacing, QWidget *parent = nullptr);
QHBoxLayout *row(int spacing, QWidget *parent = nullptr);

} // namespace ViewParts
