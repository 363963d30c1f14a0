#pragma once

#include "ui/widgets/ButtonBase.h"

/// \brief A borderless icon-only button: a symbol on a filled circle. Its tooltip is its accessible name.
class CircleSymbolButton : public ButtonBase
{
    Q_OBJECT

public:
    CircleSymbolButton(const QString &symbolName, qreal symbolSize, QFont::Weight weight, const QColor &color,
                       const QColor &circle, int circleSide, int frameSide, const QString &toolTip,
                       QWidget *parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_symbolSize;
    QFont::Weight m_weight;
    QColor m_color;
    QColor m_circle;
    int m_circleSide;
    int m_frameSide;
};
