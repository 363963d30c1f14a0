#pragma once

#include <QObject>

class QLineEdit;

/// \brief The one text-field look: borderless text at 13 medium, 12 of padding on each side, 39 high,
/// on a `field` rounded rectangle with a `border` outline. Attach with apply(); it lives as long as the field.
class TextFieldStyle : public QObject
{
    Q_OBJECT

public:
    static constexpr int height = 39;

    static void apply(QLineEdit *field);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit TextFieldStyle(QLineEdit *field);

    QLineEdit *m_field;
};
