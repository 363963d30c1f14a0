#pragma once

#include <QDateTime>
#include <QString>

/// The time of day of \a moment (local time) in the user's locale's short format; no date.
QString timeOfDay(const QDateTime &moment);
