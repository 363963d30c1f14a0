#pragma once

#include <QWidget>

/// \brief A counter of the window header: symbol and text on a faint capsule of one colour.
class SummaryPill : public QWidget
{
    Q_OBJECT

public:
    SummaryPill(const QString &icon, const QString &text, const QColor &color, QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_icon;
    QString m_text;
    QColor m_color;
};
