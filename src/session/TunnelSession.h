#pragma once

#include "gate/GateSettings.h"
#include "model/SessionState.h"
#include "model/TunnelProfile.h"
#include "session/FailureDiagnosis.h"
#include "session/HealthMonitor.h"
#include "session/OutputFollower.h"
#include "session/SessionDependencies.h"
#include "session/SessionRecovery.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>
#include <utility>

class CloudflaredProcess;
class GatedOrigin;
class OriginResolver;
struct OriginVerdict;

/// \brief The live counterpart of one TunnelProfile: runs at most one `cloudflared` child,
/// follows its output and lets a HealthMonitor watch the local service and the public address.
///
/// Lives on the GUI thread. Every change of an observable property emits changed(). Deleting a
/// session kills a child it still has; call shutdown() first and let the child end politely.
class TunnelSession : public QObject
{
    Q_OBJECT

public:
    using ProfileChangeHandler = std::function<void(const TunnelProfile &)>;

    TunnelSession(TunnelProfile profile, ProfileChangeHandler onProfileChange, SessionDependencies dependencies = {},
        QObject *parent = nullptr);
    ~TunnelSession() override;

    QUuid id() const { return m_id; }

    const TunnelProfile &profile() const { return m_profile; }
    /// Saves through the change handler and re-checks health; a running child keeps its origin.
    void setProfile(const TunnelProfile &profile);

    const TunnelStatus &status() const { return m_status; }
    const HealthState &localHealth() const { return m_localHealth; }
    const HealthState &publicHealth() const { return m_publicHealth; }
    const std::optional<QUrl> &publicURL() const { return m_publicURL; }
    const QString &activeOrigin() const { return m_activeOrigin; }
    const std::optional<TunnelProvider> &activeProvider() const { return m_activeProvider; }
    const std::optional<QDateTime> &connectedAt() const { return m_connectedAt; }
    const std::optional<QDateTime> &lastCheckedAt() const { return m_lastCheckedAt; }
    /// Oldest first, at most 60 entries.
    const QList<ActivityEntry> &activity() const { return m_activity; }
    void setActivity(QList<ActivityEntry> activity);

    const Timings &timings() const { return m_dependencies.timings; }

    /// Password and visitor log of this service; taken up at the next start.
    const GateSettings &gateSettings() const { return m_gateSettings; }
    void setGateSettings(const GateSettings &settings);
    /// The gate in front of the service while either switch is on: its visitors and their changes.
    const GatedOrigin *gate() const { return m_gate; }

    void start();
    void stop();
    /// Automatic reconnection was switched off: a restart still waiting is called off, and the drop
    /// that led to it ends the tunnel as it would have with reconnection off.
    void abandonPendingRestart() { m_recovery.abandon(); }
    /// Ends all health work (no check runs until beginMonitoring() again), then stops.
    /// Called before the session is discarded.
    void shutdown();

    void beginMonitoring();
    void requestImmediateHealthCheck();

    QString overallLabel() const;
    bool overallIsHealthy() const;

    /// A child runs, or its exit has not been handled yet; children of earlier starts that are
    /// still exiting count too. Their runtime directories go when they do.
    bool hasChild() const;
    /// SIGKILL to every child of this session now (used at quit once the grace time is over).
    void killChild();

    /// Judges text the child printed: one line, or more if \a text holds line breaks.
    /// Recorded output can be replayed this way without a child.
    void handleOutputLine(const QString &text);

signals:
    void changed();
    /// A health check ran to its end (checks dropped because one was running do not count).
    void healthChecked();
    /// `cloudflared` left the online tunnel without being asked; \a note says what follows (a restart
    /// and when, or the failure). Sent once the state shows it.
    void connectionDropped(const QString &note);
    /// A dropped tunnel is online again, at the new public address \a publicURL.
    void reconnected(const QUrl &publicURL);

private:
    friend class HealthMonitor;
    friend class OutputFollower;
    friend class SessionRecovery;

    // In the header: the session's helpers in other files assign through it too.
    template <typename T> bool assign(T &field, T value)
    {
        if (field == value)
            return false;
        field = std::move(value);
        emit changed();
        return true;
    }
    QString logName() const;

    void append(ActivityLevel level, const QString &message);
    void appendUnlessLast(ActivityLevel level, const QString &message);
    void fail(const QString &message);
    void failStart(const QString &message);
    void resetToIdle();

    void setLocalHealth(HealthState health);
    void setPublicHealth(HealthState health);
    void setHealth(HealthState &field, HealthState health, const char *what);
    void setActiveOrigin(const QString &origin);
    void setLastCheckedAt(const QDateTime &when);

    /// The start sequence, for the user's start and for a restart.
    void beginStart();
    void cancelPreparation();
    void handlePreparationTimerTimeout();
    void handlePreparationResolved(const OriginVerdict &verdict);
    /// Starts a child as m_launch says.
    void launch();
    void handleGateReady(const QString &url);
    void handleGateEnded(const QString &reason);
    void detachChild();
    void handleChildFailedToStart(const QString &description);
    void handleChildExited(int status);
    void handleStartupTimerTimeout();
    void failExit(int status);
    /// Reports an exit nobody asked for and that is not restarted: failed, or idle after a clean exit.
    void endRun(int status);
    /// The child is on its way out (asked by the user, by the start-up time-out or by someone
    /// else's signal): what it still prints is shutdown noise.
    bool childIsEnding() const { return m_stopRequested || m_terminatedAfterFailure || m_shutdownSignalled; }

    const QUuid m_id;
    TunnelProfile m_profile;
    ProfileChangeHandler m_onProfileChange;
    const SessionDependencies m_dependencies;

    TunnelStatus m_status = TunnelStatus::idle();
    HealthState m_localHealth = HealthState::unknown();
    HealthState m_publicHealth = HealthState::inactive();
    std::optional<QUrl> m_publicURL;
    QString m_activeOrigin;
    std::optional<TunnelProvider> m_activeProvider;
    std::optional<QDateTime> m_connectedAt;
    std::optional<QDateTime> m_lastCheckedAt;
    QList<ActivityEntry> m_activity;

    // The child and its run.
    QPointer<CloudflaredProcess> m_child;
    QList<QPointer<CloudflaredProcess>> m_staleChildren; ///< of earlier starts, still exiting
    bool m_stopRequested = false;
    bool m_terminatedAfterFailure = false; ///< the start-up time-out failed the run and ends the child
    bool m_shutdownSignalled = false; ///< the child got a signal from someone else
    bool m_edgeConnected = false;
    bool m_edgeLost = false; ///< online, but the edge connection dropped and is being retried
    FailureDiagnosis m_diagnosis;
    QTimer m_preparationTimer;
    OriginResolver *m_preparation = nullptr;
    TunnelConfiguration m_preparationConfiguration;
    QTimer m_startupTimer;

    // The gate: started before the child, and the two end together.
    GateSettings m_gateSettings;
    GatedOrigin *m_gate;
    /// What the current start runs, kept for a child that replaces the first one.
    struct LaunchPlan
    {
        QString executable;
        QString origin;
        QString hostHeader;
        OriginScheme scheme = OriginScheme::http;
        bool skipTLSVerification = false;
        QString gateURL; ///< where cloudflared sends visitors while a gate stands in front of the service
    } m_launch;
    bool m_gateFailed = false; ///< the gate ended under a running child, which is being stopped

    OutputFollower m_output { *this };
    SessionRecovery m_recovery { *this, m_dependencies };

    /// Last, so that it goes first: its probes report to the fields above.
    HealthMonitor m_health;
};
