#pragma once

#include "model/SessionState.h"
#include "session/SessionDependencies.h"

#include <QObject>
#include <QTimer>

#include <optional>

class OriginResolver;
class TunnelSession;
struct OriginVerdict;

/// \brief Watches one session's local service and public address: a check every pause, a
/// debounced check after edits, one check soon after going online. At most one check runs at a
/// time; a check asked for meanwhile is dropped, not queued. Checks of all sessions wait their turn
/// on the shared network's bound, in order.
///
/// Health is reported, never acted upon: a check changes the session's health states, its
/// last-checked time and, while the tunnel is stopped, the origin shown; never its status.
class HealthMonitor : public QObject
{
    Q_OBJECT

public:
    HealthMonitor(TunnelSession &session, const SessionDependencies &dependencies);
    ~HealthMonitor() override;

    /// Starts the periodic checks, the first one at once; a running monitor goes on unchanged.
    void begin();
    /// One check after a quiet time; every call restarts the wait.
    void requestCheck();
    /// One check a little after the tunnel went online; calls within that wait share it.
    void checkAfterOnline();
    /// Cancels every pending and running check; nothing runs until begin() again.
    void end();

    /// The public health that a probe of the public address stands for. With an edge connection
    /// registered, an unanswered probe says more about this machine's network than the tunnel.
    static HealthState judgePublicProbe(const ProbeOutcome &outcome, bool edgeConnected);

signals:
    /// A check ran to its end (checks dropped because one was running do not count).
    void checked();

private:
    bool refresh();
    void runCheck();
    void handleOriginResolved(const OriginVerdict &verdict);
    void probePublicAddress(const QUrl &url);
    void handlePublicProbeFinished(const ProbeOutcome &outcome);
    void finishLocalFailure(const QString &message);
    void finish();
    void abort();
    void releaseTurn();
    void handleMonitorTimerTimeout();

    TunnelSession &m_session;
    const Timings m_timings;
    const PublicProbe m_publicProbe;
    const std::shared_ptr<ProbeNetwork> m_network;

    QTimer m_monitorTimer;
    QTimer m_debounceTimer;
    QTimer m_postOnlineTimer;
    OriginResolver *m_resolver = nullptr;
    QObject *m_publicProbeContext = nullptr;
    std::optional<ProbeNetwork::Ticket> m_ticket; ///< while a check waits for its turn or runs
    bool m_inProgress = false;
    bool m_monitoring = false;
    bool m_monitorAwaitsCheck = false;
    bool m_ended = false; ///< after end(), until begin() again
};
