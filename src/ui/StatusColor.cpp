#include "ui/StatusColor.h"

#include "model/SessionState.h"
#include "ui/style/Theme.h"

QColor statusColor(const TunnelStatus &status, bool overallIsHealthy, bool localServiceAnswers)
{
    if (overallIsHealthy)
        return Theme::success;
    if (status.isActive())
        return Theme::warning;
    if (status.is(TunnelStatus::Kind::failed))
        return Theme::danger;
    return localServiceAnswers ? Theme::info : Theme::subtle;
}
