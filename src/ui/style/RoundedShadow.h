#pragma once

#include <QColor>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

/// \brief A soft shadow under a rounded-rectangle widget: a sibling stacked just beneath it, reaching
/// past its bounds. It stretches one small blurred tile, made once per look and scale, so repaints of
/// the widget never render it offscreen and blur it again.
class RoundedShadow : public QWidget
{
    Q_OBJECT

public:
    /// Shadows \a target whose corners have \a radius: \a color, blurred by \a blurRadius and moved down \a dy.
    RoundedShadow(QWidget *target, qreal radius, const QColor &color, qreal blurRadius, qreal dy);

    /// On, the shadow shows whenever the target does; off, it stays hidden.
    void setShadowShown(bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int margin() const;
    /// Takes the target's parent, geometry and visibility; \a restack puts the shadow back beneath it.
    void follow(bool restack = false);

    QPointer<QWidget> m_target;
    qreal m_radius;
    QColor m_color;
    qreal m_blurRadius;
    qreal m_dy;
    bool m_shown = true;
};
