#pragma once

#include <chrono>

/// \brief Every duration of the program in one place, with the product's values.
/// Tests pass shrunk values; nothing else changes them.
struct Timings
{
    using ms = std::chrono::milliseconds;

    ms startupTimeout{30000};   ///< connecting → failed when not online by then
    ms killGrace{3000};         ///< SIGTERM → SIGKILL after a stop
    ms monitorPause{10000};     ///< between two checks of the health monitor
    ms firstCheckSpacing{2};    ///< between the first checks of services that begin monitoring together
    ms healthDebounce{450};     ///< quiet time after a profile edit before its check
    ms postOnlineCheck{2000};   ///< check after going online
    ms localProbeTimeout{4000};
    ms publicProbeTimeout{5000};
    ms probeGrace{2000};        ///< a probe is aborted at its time-out plus this
    ms copiedLabel{1400};       ///< "已复制" shown after a copy
    ms versionQueryTimeout{3000}; ///< longest wait for `cloudflared --version`
    ms saveDelay{300};          ///< quiet time after the last change of the list before it is saved
    ms gateStartupTimeout{10000}; ///< longest wait for a password gate to listen
    ms notificationSpacing{10000}; ///< at least this long between two desktop notices of one kind for one service
    ms registrationWait{10000}; ///< public address → registration; none by then and QUIC counts as blocked
    ms restartDelay{2000};      ///< before the first restart of a dropped tunnel; doubles with each further one
    ms restartDelayMax{60000};
    ms restartWindow{600000};   ///< restarts within this long count against the limit
};
