#pragma once

#include <QColor>
#include <QObject>
#include <QPixmap>

class QWidget;

/// \brief A soft shadow under a rounded-rectangle widget, painted by the widget's parent before its
/// children. It is one small blurred tile, made once per look and stretched to the widget's size, so
/// repaints inside the widget never re-render it offscreen and re-blur it.
class RoundedShadow : public QObject
{
    Q_OBJECT

public:
    /// Shadows \a widget whose corners have \a radius: \a color, blurred by \a blurRadius and moved down \a dy.
    RoundedShadow(QWidget *widget, qreal radius, const QColor &color, qreal blurRadius, qreal dy);

    void setEnabled(bool enabled);
    bool isEnabled() const { return m_enabled; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchParent();
    void paint();
    int margin() const;

    QWidget *m_widget;
    QWidget *m_parent = nullptr;
    qreal m_radius;
    QColor m_color;
    qreal m_blurRadius;
    qreal m_dy;
    bool m_enabled = true;
    QPixmap m_tile;
};
