#pragma once

#include "model/TunnelError.h"

#include <QStringList>
#include <QStringView>

#include <optional>

/// \brief Why a run of `cloudflared` failed, told from the last lines it printed.
///
/// cloudflared ends a failed start with one bare line (its error chain) after a few logged ones;
/// those say far more than the exit status. The session feeds every line of a run to record(),
/// which keeps only the few that can explain a failure; the diagnose functions turn them into the
/// TunnelError the user sees. New kinds of failure are one more row in the table of the .cpp.
class FailureDiagnosis
{
public:
    /// Lines kept per run; older ones are dropped, however long the run.
    static constexpr qsizetype keptLines = 12;

    void record(QStringView line);
    void clear() { m_lines.clear(); }
    /// The kept lines, oldest first.
    const QStringList &lines() const { return m_lines; }

    /// The failure of a run that exited with \a status although nobody asked it to.
    TunnelError diagnoseExit(int status) const { return diagnoseExit(m_lines, status); }
    /// The failure of a run that was not online by the start-up time-out; \a addressKnown: the
    /// public address had already arrived.
    TunnelError diagnoseTimeOut(bool addressKnown) const { return diagnoseTimeOut(m_lines, addressKnown); }

    static TunnelError diagnoseExit(const QStringList &lines, int status);
    static TunnelError diagnoseTimeOut(const QStringList &lines, bool addressKnown);

    /// The failure that \a line alone points to, if it points to one: rate limiting, an unreachable
    /// or failing quick-tunnel service, or QUIC blocked on the way to the edge.
    static std::optional<TunnelError::Kind> classify(QStringView line);

private:
    QStringList m_lines;
};
