#pragma once

#include "model/Timings.h"

#include <QList>

#include <chrono>
#include <optional>

/// \brief When a dropped tunnel may start again: after a wait that doubles with every restart
/// within the window (up to a cap), and not at all once the window holds the most it allows.
class RestartSchedule
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr int maxRestarts = 5;

    explicit RestartSchedule(const Timings &timings);

    /// The wait before the next restart of a tunnel that dropped at \a now; none when it may not restart.
    std::optional<Timings::ms> nextDelay(Clock::time_point now);
    void recordRestart(Clock::time_point now);
    void clear() { m_restarts.clear(); }

private:
    const Timings::ms m_first;
    const Timings::ms m_max;
    const Timings::ms m_window;
    QList<Clock::time_point> m_restarts; ///< oldest first
};
