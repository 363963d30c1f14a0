#pragma once

#include <QWidget>

/// \brief One symbol, centred in a fixed frame, optionally on a filled circle of the frame's size.
class SymbolView : public QWidget
{
    Q_OBJECT

public:
    SymbolView(const QString &symbolName, qreal symbolSize, QFont::Weight weight, int frameSide,
               QWidget *parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbolName);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

    QColor circleColor() const { return m_circle; }
    /// An invalid colour draws no circle.
    void setCircleColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    qreal m_size;
    QFont::Weight m_weight;
    QColor m_color;
    QColor m_circle;
};
