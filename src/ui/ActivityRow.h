#pragma once

#include "model/SessionState.h"

#include <QWidget>

class DotView;
class ElidedLabel;
class WrappingLabel;

/// \brief One line of the activity log: level dot, wrapping message, time of day.
class ActivityRow : public QWidget
{
    Q_OBJECT

public:
    explicit ActivityRow(const ActivityEntry &entry, QWidget *parent = nullptr);

    static QColor levelColor(ActivityLevel level);

    const ActivityEntry &entry() const { return m_entry; }
    QString message() const;

private:
    ActivityEntry m_entry;
};
