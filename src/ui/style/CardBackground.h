#pragma once

#include <QObject>
#include <QPixmap>

class QPainter;
class QWidget;

/// \brief The card look drawn behind a widget's own content: a white rounded rectangle with a faint
/// outline and a soft shadow. The widget keeps its layout; callers add their own inner padding.
///
/// The shadow is painted by the parent from one small blurred tile stretched to the card's size, so a
/// repaint inside the card never re-renders the card offscreen and re-blurs it.
class CardBackground : public QObject
{
    Q_OBJECT

public:
    CardBackground(QWidget *widget, qreal radius);

    /// How far the shadow reaches beyond the card's edges.
    static int shadowMargin();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchParent();
    void paintShadow();

    QWidget *m_widget;
    QWidget *m_parent = nullptr;
    qreal m_radius;
    QPixmap m_tile;
};

/// Applies the card look to \a widget with corner radius \a radius; returns \a widget.
QWidget *applyCardBackground(QWidget *widget, qreal radius);
