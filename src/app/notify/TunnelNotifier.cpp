#include "app/notify/TunnelNotifier.h"

#include "app/AddressCopy.h"
#include "app/notify/NotificationClient.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/DisplayName.h"

namespace {
// A desktop that never reports closed notices must not make the table grow without end.
constexpr qsizetype maxRememberedNotices = 64;

QString nameOf(const TunnelSession *session)
{
    return displayName(session->profile().name);
}
} // namespace

TunnelNotifier::TunnelNotifier(TunnelStore *store, NotificationClient *client, std::function<bool()> enabled,
    std::function<bool()> windowActive, std::chrono::milliseconds spacing, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_client(client)
    , m_enabled(std::move(enabled))
    , m_windowActive(std::move(windowActive))
    , m_spacing(spacing)
{
    for (TunnelSession *session : store->sessions())
        watch(session);
    connect(store, &TunnelStore::sessionAdded, this, [this](TunnelSession *session, int) { watch(session); });
    connect(store, &TunnelStore::sessionRemoved, this, [this](const QUuid &id, int) { handleSessionRemoved(id); });
    connect(client, &NotificationClient::actionInvoked, this, &TunnelNotifier::handleActionInvoked);
    connect(client, &NotificationClient::closed, this, [this](uint id) { m_notices.remove(id); });
}

TunnelNotifier::~TunnelNotifier()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_connections))
        disconnect(connection);
}

namespace {
TunnelNotifier::Observation observe(const TunnelSession *session)
{
    return { session->status().kind, session->publicHealth().kind, session->publicURL() };
}
} // namespace

void TunnelNotifier::watch(TunnelSession *session)
{
    m_seen.insert(session->id(), { observe(session), std::nullopt });
    m_connections.insert(session->id(),
        connect(session, &TunnelSession::changed, this, [this, session] { handleSessionChanged(session); }));
}

void TunnelNotifier::handleSessionRemoved(const QUuid &id)
{
    disconnect(m_connections.take(id));
    m_seen.remove(id);
    m_latestNotice.remove(id);
}

std::optional<TunnelNotifier::Kind> TunnelNotifier::judge(Seen &seen, const Observation &now, bool windowActive)
{
    using Status = TunnelStatus::Kind;
    const Observation before = std::exchange(seen.last, now);
    switch (now.status) {
    case Status::online:
        if (now.url && (before.status != Status::online || now.url != before.url)) {
            const bool cameBack = seen.onlineURL.has_value();
            seen.onlineURL = now.url;
            if (cameBack)
                return Kind::back;
            return windowActive ? std::nullopt : std::optional(Kind::online);
        }
        // Reachable before and not now: an address still unknown to DNS right after the start is no drop.
        if (before.status == Status::online && before.publicHealth == HealthState::Kind::healthy
            && now.publicHealth == HealthState::Kind::unhealthy)
            return Kind::dropped;
        return std::nullopt;
    case Status::connecting:
        // Only a tunnel that restarts by itself goes from online back to connecting.
        return before.status == Status::online ? std::optional(Kind::dropped) : std::nullopt;
    case Status::failed:
        seen.onlineURL.reset();
        return before.status != Status::failed ? std::optional(Kind::failed) : std::nullopt;
    case Status::idle:
    case Status::stopping:
        // Stopped on purpose: the next start is a fresh one, not a comeback.
        seen.onlineURL.reset();
        return std::nullopt;
    case Status::preparing:
        return std::nullopt;
    }
    return std::nullopt;
}

void TunnelNotifier::handleSessionChanged(TunnelSession *session)
{
    const std::optional<Kind> kind = judge(m_seen[session->id()], observe(session), m_windowActive());
    if (!kind)
        return;
    const QString name = nameOf(session);
    const QString address = session->publicURL() ? session->publicURL()->toString() : QString();
    switch (*kind) {
    case Kind::online:
        notify(session, *kind, QStringLiteral("服务“%1”已上线").arg(name), address);
        break;
    case Kind::back:
        notify(session, *kind, QStringLiteral("服务“%1”已重新上线").arg(name),
            QStringLiteral("新的公网链接：%1").arg(address));
        break;
    case Kind::failed:
        notify(session, *kind, QStringLiteral("服务“%1”失败").arg(name), session->status().message);
        break;
    case Kind::dropped:
        notifyDropped(session,
            session->status().is(TunnelStatus::Kind::online) ? session->publicHealth().message
                                                             : QStringLiteral("正在重新连接"));
        break;
    }
}

void TunnelNotifier::notifyDropped(TunnelSession *session, const QString &reason)
{
    notify(session, Kind::dropped, QStringLiteral("服务“%1”的连接已中断").arg(nameOf(session)), reason);
}

void TunnelNotifier::notify(TunnelSession *session, Kind kind, const QString &summary, const QString &body)
{
    if (!m_enabled())
        return;
    QElapsedTimer &last = m_lastSent[{ session->id(), int(kind) }];
    if (last.isValid() && !last.hasExpired(m_spacing.count()))
        return;
    last.start();

    NotificationClient::Notice notice { summary, body, { NotificationClient::defaultAction, QStringLiteral("显示") },
        m_latestNotice.value(session->id()) };
    if (kind == Kind::online || kind == Kind::back)
        notice.actions << copyAction << QStringLiteral("复制链接");
    m_client->send(notice, this, [this, id = session->id()](uint noticeID) {
        if (m_notices.size() >= maxRememberedNotices)
            m_notices.erase(m_notices.begin());
        m_notices.insert(noticeID, id);
        if (m_seen.contains(id))
            m_latestNotice.insert(id, noticeID);
    });
}

void TunnelNotifier::handleActionInvoked(uint noticeID, const QString &key)
{
    const auto it = m_notices.constFind(noticeID);
    if (it == m_notices.constEnd())
        return; // another program's notice
    const QUuid id = *it;
    if (!m_seen.contains(id))
        return; // the service has been removed since
    if (key == copyAction)
        copyAddress(id);
    else
        emit showRequested(id);
}

void TunnelNotifier::copyAddress(const QUuid &id)
{
    // The address the notice named may have been replaced since: only the current one is worth copying.
    for (const TunnelSession *session : m_store->sessions()) {
        if (session->id() == id && !copyPublicAddress(session))
            emit showRequested(id);
    }
}
