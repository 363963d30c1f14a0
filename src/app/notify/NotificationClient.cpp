#include "app/notify/NotificationClient.h"

#include "base/Logging.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {
const QString interfaceName = NotificationClient::serviceName;
// A service that hangs must not pile up calls for minutes.
constexpr int callTimeoutMs = 5000;
} // namespace

NotificationClient::NotificationClient(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{
    if (!m_bus.isConnected()) {
        reportFailure(QStringLiteral("connect"), m_bus.lastError().message());
        return;
    }
    m_bus.connect(serviceName, objectPath, interfaceName, QStringLiteral("ActionInvoked"), this,
        SLOT(handleActionInvoked(uint, QString)));
    m_bus.connect(serviceName, objectPath, interfaceName, QStringLiteral("NotificationClosed"), this,
        SLOT(handleNotificationClosed(uint, uint)));
    askCapabilities();
}

void NotificationClient::askCapabilities()
{
    const QDBusMessage call
        = QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, QStringLiteral("GetCapabilities"));
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        finished->deleteLater();
        const QDBusPendingReply<QStringList> reply = *finished;
        if (reply.isError())
            reportFailure(QStringLiteral("GetCapabilities"), reply.error().message());
        else
            m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        m_capabilitiesKnown = true;
        for (Waiting &waiting : std::exchange(m_waiting, {})) {
            if (waiting.context)
                deliver(waiting.notice, waiting.context, std::move(waiting.shown));
        }
    });
}

void NotificationClient::send(const Notice &notice, QObject *context, std::function<void(uint id)> shown)
{
    if (!m_bus.isConnected())
        return;
    if (m_capabilitiesKnown)
        deliver(notice, context, std::move(shown));
    else
        m_waiting.append({ notice, context, std::move(shown) });
}

void NotificationClient::deliver(const Notice &notice, QObject *context, std::function<void(uint id)> shown)
{
    QDBusMessage call
        = QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, QStringLiteral("Notify"));
    const QVariantMap hints { { QStringLiteral("desktop-entry"), QStringLiteral("orvanta") } };
    call << QStringLiteral("奥文塔") << notice.replaces << QStringLiteral("orvanta") << notice.summary
         << (m_bodyMarkup ? notice.body.toHtmlEscaped() : notice.body) << notice.actions << hints << -1;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, context,
        [this, watcher, shown = std::move(shown)](QDBusPendingCallWatcher *) {
            watcher->deleteLater();
            const QDBusPendingReply<uint> reply = *watcher;
            if (reply.isError()) {
                reportFailure(QStringLiteral("Notify"), reply.error().message());
                return;
            }
            m_failureLogged = false;
            shown(reply.value());
        });
}

void NotificationClient::handleActionInvoked(uint id, const QString &key)
{
    emit actionInvoked(id, key);
}

void NotificationClient::handleNotificationClosed(uint id, uint)
{
    emit closed(id);
}

void NotificationClient::reportFailure(const QString &what, const QString &error)
{
    // Each notice is one call: a desktop without the service costs one failed call per event, and one log line.
    if (m_failureLogged)
        return;
    m_failureLogged = true;
    qCInfo(lcApp).noquote() << "desktop notifications unavailable:" << what << error;
}
