#pragma once

#include <QWidget>

/// \brief A filled circle (status dots).
class DotView : public QWidget
{
    Q_OBJECT

public:
    explicit DotView(int diameter, QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_color;
};
