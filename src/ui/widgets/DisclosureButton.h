#pragma once

#include "ui/widgets/ButtonBase.h"

/// \brief The title of a disclosure group: a chevron that points down while expanded, and a text.
class DisclosureButton : public ButtonBase
{
    Q_OBJECT

public:
    DisclosureButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color,
                     QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};
