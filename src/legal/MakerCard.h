#pragma once

#include "ui/widgets/ButtonBase.h"

/// \brief The maker's card at the foot of the service list: logo, what the maker offers and a call to
/// action. The whole card is one button that opens the maker's contact page.
class MakerCard : public ButtonBase
{
    Q_OBJECT

public:
    explicit MakerCard(QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
