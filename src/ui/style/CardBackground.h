#pragma once

#include <QObject>

class QWidget;

/// \brief The card look drawn behind a widget's own content: a white rounded rectangle with a faint
/// outline and a soft shadow. The widget keeps its layout; callers add their own inner padding.
class CardBackground : public QObject
{
    Q_OBJECT

public:
    CardBackground(QWidget *widget, qreal radius);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_widget;
    qreal m_radius;
};

/// Applies the card look to \a widget with corner radius \a radius; returns \a widget.
QWidget *applyCardBackground(QWidget *widget, qreal radius);
