#include "session/RestartSchedule.h"

#include <algorithm>

RestartSchedule::RestartSchedule(const Timings &timings)
    : m_first(timings.restartDelay)
    , m_max(timings.restartDelayMax)
    , m_window(timings.restartWindow)
{
}

std::optional<Timings::ms> RestartSchedule::nextDelay(Clock::time_point now)
{
    m_restarts.removeIf([&](Clock::time_point at) { return now - at >= m_window; });
    const auto restarts = m_restarts.size();
    if (restarts >= maxRestarts)
        return std::nullopt;
    // Doubled step by step, so that a long run of restarts cannot overflow.
    Timings::ms delay = m_first;
    for (qsizetype i = 0; i < restarts && delay < m_max; ++i)
        delay *= 2;
    return std::min(delay, m_max);
}

void RestartSchedule::recordRestart(Clock::time_point now)
{
    m_restarts.append(now);
}
