#include "ui/TimeFormat.h"

#include <QLocale>

QString timeOfDay(const QDateTime &moment)
{
    return QLocale::system().toString(moment.toLocalTime().time(), QLocale::ShortFormat);
}
