#include "SessionState.h"

QString rawValue(ActivityLevel level)
{
    switch (level) {
    case ActivityLevel::info:
        return QStringLiteral("info");
    case ActivityLevel::success:
        return QStringLiteral("success");
    case ActivityLevel::warning:
        return QStringLiteral("warning");
    case ActivityLevel::error:
        return QStringLiteral("error");
    }
    return {};
}
