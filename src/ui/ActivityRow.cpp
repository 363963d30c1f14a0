#include "ui/ActivityRow.h"

#include "ui/TimeFormat.h"
#include "ui/style/Theme.h"
#include "ui/widgets/DotView.h"
#include "ui/widgets/ElidedLabel.h"
#include "ui/widgets/SymbolView.h"
#include "ui/widgets/WrappingLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

ActivityRow::ActivityRow(const ActivityEntry &entry, QWidget *parent)
    : QWidget(parent)
    , m_entry(entry)
{
    auto *dot = m_dot = new DotView(5, this);
    auto *message = m_message = new WrappingLabel(this);
    message->setObjectName(QStringLiteral("message"));
    message->setFont(Theme::font(9));
    message->setColor(Theme::muted);
    auto *time = m_time = new ElidedLabel(Qt::ElideNone, this);
    time->setFont(Theme::font(8));
    time->setColor(Theme::subtle);
    time->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto *dotColumn = new QVBoxLayout;
    dotColumn->setContentsMargins(0, 4, 0, 0);
    dotColumn->addWidget(dot);
    dotColumn->addStretch(1);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addLayout(dotColumn);
    layout->addWidget(message, 1, Qt::AlignTop);
    layout->addWidget(time, 0, Qt::AlignTop);
    apply();
}

QColor ActivityRow::levelColor(ActivityLevel level)
{
    switch (level) {
    case ActivityLevel::info:
        return Theme::info;
    case ActivityLevel::success:
        return Theme::success;
    case ActivityLevel::warning:
        return Theme::warning;
    case ActivityLevel::error:
        break;
    }
    return Theme::danger;
}

QString ActivityRow::message() const
{
    return m_entry.message;
}

void ActivityRow::setEntry(const ActivityEntry &entry)
{
    if (entry.id == m_entry.id)
        return;
    m_entry = entry;
    apply();
}

void ActivityRow::apply()
{
    const ActivityEntry &entry = m_entry;
    m_dot->setColor(levelColor(entry.level));
    m_message->setText(entry.message);
    const QString time = timeOfDay(entry.date);
    if (m_time->text() != time)
        m_time->setText(time);
    setAccessibleName(time + u' ' + entry.message);
}
