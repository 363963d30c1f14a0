#pragma once

#include <QList>

/// \brief What /proc says about processes, for tests that check children really end.
namespace ProcessProbe {

/// Neither gone nor a zombie waiting to be reaped.
bool isRunning(qint64 pid);

/// Children of \a pid's main thread whose program is `sleep`: fake tunnels that are up and waiting.
QList<qint64> waitingChildren(qint64 pid);

} // namespace ProcessProbe
