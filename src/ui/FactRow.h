#pragma once

#include <QWidget>

class ElidedLabel;

/// \brief One label and value line; the value stays on one line, shortened in the middle.
class FactRow : public QWidget
{
    Q_OBJECT

public:
    FactRow(const QString &label, QWidget *parent = nullptr);

    QString label() const;
    QString value() const;
    void setValue(const QString &value);

private:
    ElidedLabel *m_label;
    ElidedLabel *m_value;
};
