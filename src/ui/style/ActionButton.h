#pragma once

#include "ui/style/ButtonStyle.h"

#include "ui/widgets/ButtonBase.h"

/// \brief A push button drawn in one of the two button looks: an optional symbol and a text,
/// centred in a rounded box of fixed height. Dimming is the caller's (setOpacity).
class ActionButton : public ButtonBase
{
    Q_OBJECT

public:
    explicit ActionButton(const PrimaryButtonStyle &style, QWidget *parent = nullptr);
    explicit ActionButton(const SecondaryButtonStyle &style, QWidget *parent = nullptr);

    const ButtonLook &look() const { return m_look; }

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbolName);

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ActionButton(ButtonLook look, QWidget *parent);
    qreal labelWidth() const;

    ButtonLook m_look;
    QString m_symbol;
    qreal m_opacity = 1.0;
};
