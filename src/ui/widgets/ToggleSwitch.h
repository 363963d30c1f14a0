#pragma once

#include "ui/widgets/ButtonBase.h"

/// \brief A switch: a rounded track with a knob, tinted `accent` when on, and its label to the right.
class ToggleSwitch : public ButtonBase
{
    Q_OBJECT

public:
    ToggleSwitch(const QString &text, qreal size, QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
