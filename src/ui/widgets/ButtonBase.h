#pragma once

#include <QAbstractButton>

/// \brief What every custom-drawn button shares: reached with Tab (not focused by a click, so its
/// focus ring shows for keyboard users only), pressed with Space, Enter or Return, pointing cursor.
class ButtonBase : public QAbstractButton
{
    Q_OBJECT

public:
    explicit ButtonBase(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
