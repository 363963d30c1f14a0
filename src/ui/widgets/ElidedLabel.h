#pragma once

#include <QLabel>

/// \brief A one-line plain-text label that elides instead of growing its window: its minimum width is
/// small, and text that does not fit is shortened with "…" where \a mode says.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, QWidget *parent = nullptr);

    void setColor(const QColor &color);
    QColor color() const;

    /// The text as drawn at the current width.
    QString shownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Qt::TextElideMode m_mode;
};
