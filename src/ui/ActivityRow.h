#pragma once

#include "model/SessionState.h"

#include <QWidget>

class DotView;
class ElidedLabel;
class WrappingLabel;

/// \brief One line of the activity log: level dot, wrapping message, time of day. The list keeps a
/// fixed set of rows and hands each a new entry as the log moves on.
class ActivityRow : public QWidget
{
    Q_OBJECT

public:
    explicit ActivityRow(const ActivityEntry &entry, QWidget *parent = nullptr);

    static QColor levelColor(ActivityLevel level);

    const ActivityEntry &entry() const { return m_entry; }
    QString message() const;
    /// Shows \a entry in place; parts that read the same are left alone.
    void setEntry(const ActivityEntry &entry);

private:
    void apply();

    ActivityEntry m_entry;
    DotView *m_dot = nullptr;
    WrappingLabel *m_message = nullptr;
    ElidedLabel *m_time = nullptr;
};
