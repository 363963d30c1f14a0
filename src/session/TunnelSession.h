#pragma once

#include "model/SessionState.h"
#include "model/Timings.h"
#include "model/TunnelProfile.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

/// \brief The live counterpart of one TunnelProfile: runs at most one `cloudflared` child,
/// follows its output, watches the local service and the public address.
///
/// Lives on the GUI thread. Every change of an observable property emits changed().
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
    /// Cancels the health tasks, then stops. Called before the session is discarded.
    void shutdown();

    void beginMonitoring();
    void requestImmediateHealthCheck();

    QString overallLabel() const;
    bool overallIsHealthy() const;

    /// A child runs, or its exit has not been handled yet.
    bool hasChild() const;
    /// SIGKILL to the current child now (used at quit once the grace time is over).
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

signals:
    void changed();

private:
    void append(ActivityLevel level, const QString &message);
    void fail(const QString &message);
    void resetToIdle();

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
};
