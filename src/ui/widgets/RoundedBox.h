#pragma once

#include <QColor>
#include <QWidget>

/// \brief A plain widget with a rounded rectangle painted behind its children; the one box every
/// tile, note and tag of the views sits on.
class RoundedBox : public QWidget
{
public:
    RoundedBox(qreal radius, QColor fill, QColor stroke = {}, qreal strokeWidth = 1.0, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qreal m_radius;
    QColor m_fill;
    QColor m_stroke;
    qreal m_strokeWidth;
};
