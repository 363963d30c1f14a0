#pragma once

#include "model/SessionState.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QUrl>
#include <QUuid>

#include <chrono>
#include <functional>
#include <optional>

class NotificationClient;
class TunnelSession;
class TunnelStore;

/// \brief Tells the desktop when a tunnel comes online while the window is not in front, fails, loses
/// its connection or comes back with a new address. At most one notice per service and kind within
/// the spacing; a click shows that service, "复制链接" copies its current address.
class TunnelNotifier : public QObject
{
    Q_OBJECT

public:
    enum class Kind {
        online,
        failed,
        dropped,
        back,
    };
    Q_ENUM(Kind)

    static inline const QString copyAction = QStringLiteral("copy");

    /// \a enabled is asked before each notice, \a windowActive whether the user is looking at the window.
    TunnelNotifier(TunnelStore *store, NotificationClient *client, std::function<bool()> enabled,
        std::function<bool()> windowActive, std::chrono::milliseconds spacing, QObject *parent = nullptr);
    ~TunnelNotifier() override;

    /// What a notice is judged from.
    struct Observation
    {
        TunnelStatus::Kind status = TunnelStatus::Kind::idle;
        HealthState::Kind publicHealth = HealthState::Kind::inactive;
        std::optional<QUrl> url;
    };
    /// What was seen of a session so far.
    struct Seen
    {
        Observation last;
        /// The address it last went online with, until the user stops it or it fails.
        std::optional<QUrl> onlineURL;
    };
    /// The notice a change from \a seen to \a now calls for, if any; \a seen becomes \a now.
    static std::optional<Kind> judge(Seen &seen, const Observation &now, bool windowActive);

    /// For a session that reports a lost connection itself; \a reason is shown as the notice's body.
    void notifyDropped(TunnelSession *session, const QString &reason);

signals:
    /// The user activated a notice about service \a id.
    void showRequested(const QUuid &id);

private:
    void watch(TunnelSession *session);
    void handleSessionChanged(TunnelSession *session);
    void handleSessionRemoved(const QUuid &id);
    void handleActionInvoked(uint id, const QString &key);
    void notify(TunnelSession *session, Kind kind, const QString &summary, const QString &body);
    void copyAddress(const QUuid &id);

    TunnelStore *const m_store;
    NotificationClient *const m_client;
    const std::function<bool()> m_enabled;
    const std::function<bool()> m_windowActive;
    const std::chrono::milliseconds m_spacing;
    QHash<QUuid, Seen> m_seen;
    QHash<QUuid, QMetaObject::Connection> m_connections;
    /// When each service last had a notice of each kind.
    QHash<QPair<QUuid, int>, QElapsedTimer> m_lastSent;
    /// The service's latest notice, which its next one replaces.
    QHash<QUuid, uint> m_latestNotice;
    /// Our notices on the desktop and the service each is about.
    QHash<uint, QUuid> m_notices;
};
