#pragma once

#include <QColor>

struct TunnelStatus;

/// The colour a service's state is shown in, first match wins: healthy end to end is `success`,
/// a running tunnel `warning`, a failed one `danger`; an idle one is `info` when \a localServiceAnswers,
/// else `subtle`. The status badge passes false: it shows an idle service alike whatever the local probe says.
QColor statusColor(const TunnelStatus &status, bool overallIsHealthy, bool localServiceAnswers);
