#pragma once

#include <QWidget>

/// \brief A counter of the window header: symbol and text on a faint capsule of one colour.
class SummaryPill : public QWidget
{
    Q_OBJECT

public:
    SummaryPill(const QString &icon, const QString &text, const QColor &color, QWidget *parent = nullptr);

    QString icon() const { return m_icon; }
    QString text() const { return m_text; }
    QColor color() const { return m_color; }

    void setIcon(const QString &icon);
    void setText(const QString &text);
    void setColor(const QColor &color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    QString m_text;
    QColor m_color;
};
