#pragma once

#include <QAbstractButton>
#include <QColor>

/// \brief A borderless text button drawn as coloured text, underlined under the pointer.
class TextLinkButton : public QAbstractButton
{
    Q_OBJECT

public:
    TextLinkButton(const QString &text, const QFont &font, const QColor &color, QWidget *parent = nullptr);

    QColor color() const { return m_color; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QColor m_color;
    bool m_hovering = false;
};
