#include "ui/FactRow.h"

#include "ui/style/Theme.h"
#include "ui/widgets/ElidedLabel.h"

#include <QHBoxLayout>

FactRow::FactRow(const QString &label, QWidget *parent)
    : QWidget(parent)
    , m_label(new ElidedLabel(Qt::ElideRight, this))
    , m_value(new ElidedLabel(Qt::ElideMiddle, this))
{
    const QFont font = Theme::font(9);
    m_label->setFont(font);
    m_label->setColor(Theme::subtle);
    m_label->setText(label);
    m_label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    m_value->setFont(font);
    m_value->setColor(Theme::withOpacity(Theme::text, 0.78));
    m_value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(m_label);
    layout->addStretch(1);
    layout->addWidget(m_value, 100);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QString FactRow::label() const
{
    return m_label->text();
}

QString FactRow::value() const
{
    return m_value->text();
}

void FactRow::setValue(const QString &value)
{
    if (m_value->text() == value)
        return;
    m_value->setText(value);
    setAccessibleName(label() + u' ' + value);
}
