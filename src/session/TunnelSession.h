#pragma once

#include "model/SessionState.h"
#include "model/Timings.h"
#include "model/TunnelProfile.h"
#include "session/OriginProbe.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class CloudflaredProcess;
class OriginResolver;
struct ResolvedOrigin;

/// \brief The live counterpart of one TunnelProfile: runs at most one `cloudflared` child,
/// follows its output, watches the local service and the public address.
///
/// Lives on the GUI thread. Every change of an observable property emits changed(). Deleting a
/// session kills a child it still has; call shutdown() first and let the child end politely.
class TunnelSession : public QObject
{
    Q_OBJECT

public:
    using ProfileChangeHandler = std::function<void(const TunnelProfile &)>;

    TunnelSession(TunnelProfile profile, ProfileChangeHandler onProfileChange, Timings timings = {},
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

    const Timings &timings() const { return m_timings; }

    void start();
    void stop();
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

    /// The version of the `cloudflared` a launch would use, "未找到" or "不可用".
    /// Blocks for at most \a timeout.
    static QString installedCloudflaredVersion(std::chrono::milliseconds timeout = Timings{}.versionQueryTimeout);
    /// First executable file of cloudflaredSearchPaths(), or an empty text.
    static QString locateCloudflared();
    /// The resources' "cloudflared", then three fixed paths.
    static QStringList cloudflaredSearchPaths();
    /// Test seam: replaces the search list (an empty list restores the default).
    static void setCloudflaredSearchPaths(const QStringList &paths);

    /// Performs the probe of the public address: HEAD \a url within \a timeout, then calls \a done
    /// once with the outcome. Work still pending when \a context is deleted must end quietly
    /// (tie it to \a context). \a done may be called at once or later, on the GUI thread.
    using PublicProbe = std::function<void(const QUrl &url, std::chrono::milliseconds timeout, QObject *context,
                                           std::function<void(const ProbeOutcome &)> done)>;
    /// Test seam: the one way to feed public-probe outcomes (the public address is on the
    /// internet). An empty function restores the real probe. Applies to every session.
    static void setPublicProbe(PublicProbe probe);

    /// The public health that a probe of the public address stands for. With an edge connection
    /// registered, an unanswered probe says more about this machine's network than the tunnel.
    static HealthState judgePublicProbe(const ProbeOutcome &outcome, bool edgeConnected);

    /// The log text of an error or warning line: the reason from its error field, else the
    /// message after the level tag.
    static QString readableLogLine(QStringView line);

    /// Judges one line of the child's output (more than one if \a text holds line breaks).
    /// Public so that recorded output can be replayed without a child.
    void handleOutputLine(const QString &text);

signals:
    void changed();
    /// A health check ran to its end (checks dropped because one was running do not count).
    void healthChecked();

private:
    template<typename T>
    void assign(T &field, T value);

    void append(ActivityLevel level, const QString &message);
    void fail(const QString &message);
    void failStart(const QString &message);
    void resetToIdle();

    void cancelPreparation();
    void handlePreparationTimerTimeout();
    void handlePreparationResolved(const std::optional<ResolvedOrigin> &origin);
    void launch(const QString &executable, const QString &origin, const QString &hostHeader,
                OriginScheme resolvedScheme, bool skipTLSVerification);
    void detachChild();
    void handleChildLineReceived(const QString &line);
    void handleChildFailedToStart(const QString &description);
    void handleChildExited(int status);
    void handleStartupTimerTimeout();

    void interpretLine(QStringView line);
    void markOnlineIfReady();

    bool refreshHealth();
    void handleHealthOriginResolved(const std::optional<ResolvedOrigin> &origin);
    void handlePublicProbeFinished(const ProbeOutcome &outcome);
    void finishLocalFailure(const QString &message);
    void finishHealthCheck();
    void abortHealthCheck();
    void handleMonitorTimerTimeout();

    const QUuid m_id;
    TunnelProfile m_profile;
    ProfileChangeHandler m_onProfileChange;
    const Timings m_timings;

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
    bool m_edgeConnected = false;
    QTimer m_preparationTimer;
    OriginResolver *m_preparation = nullptr;
    TunnelConfiguration m_preparationConfiguration;
    QTimer m_startupTimer;

    // Health.
    QTimer m_monitorTimer;
    QTimer m_debounceTimer;
    QTimer m_postOnlineTimer;
    OriginResolver *m_healthResolver = nullptr;
    QObject *m_publicProbeContext = nullptr;
    bool m_healthCheckInProgress = false;
    bool m_monitoring = false;
    bool m_monitorAwaitsCheck = false;
    bool m_healthEnded = false; ///< after shutdown(), until monitoring begins again
};
