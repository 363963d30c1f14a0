#pragma once

#include "ui/widgets/ButtonBase.h"

/// \brief A borderless text button ("清空", footer links): coloured text, nothing behind it.
class TextButton : public ButtonBase
{
    Q_OBJECT

public:
    TextButton(const QString &text, qreal size, QFont::Weight weight, const QColor &color, QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};
