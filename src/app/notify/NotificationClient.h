#pragma once

#include <QDBusConnection>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

/// \brief Talks to the desktop's notification service (org.freedesktop.Notifications) on a D-Bus
/// connection. Every call is asynchronous; when no service answers, notices are dropped and the
/// failure is logged once, never retried.
class NotificationClient : public QObject
{
    Q_OBJECT

public:
    static inline const QString serviceName = QStringLiteral("org.freedesktop.Notifications");
    static inline const QString objectPath = QStringLiteral("/org/freedesktop/Notifications");

    /// The key of the action a click on the notice itself sends.
    static inline const QString defaultAction = QStringLiteral("default");

    struct Notice
    {
        QString summary; ///< plain text
        QString body; ///< plain text; escaped where the service reads markup
        QStringList actions; ///< key, label, key, label, ...
        uint replaces = 0; ///< an earlier notice of ours this one takes the place of
    };

    explicit NotificationClient(const QDBusConnection &bus, QObject *parent = nullptr);

    /// Sends \a notice (once the service has said whether it reads markup); \a shown receives the
    /// service's id for it once the service has answered.
    void send(const Notice &notice, QObject *context, std::function<void(uint id)> shown);

signals:
    /// The user chose \a key on notice \a id (which may belong to another program).
    void actionInvoked(uint id, const QString &key);
    void closed(uint id);

private slots:
    // Connected by name: QtDBus has no member-pointer form for bus signals.
    void handleActionInvoked(uint id, const QString &key);
    void handleNotificationClosed(uint id, uint reason);

private:
    void askCapabilities();
    void deliver(const Notice &notice, QObject *context, std::function<void(uint id)> shown);
    void reportFailure(const QString &what, const QString &error);

    struct Waiting
    {
        Notice notice;
        QPointer<QObject> context;
        std::function<void(uint id)> shown;
    };

    QDBusConnection m_bus;
    /// Escaped unless the service says it shows the body as it is: one that reads markup would
    /// otherwise take an error text for formatting.
    bool m_bodyMarkup = true;
    bool m_failureLogged = false;
    bool m_capabilitiesKnown = false;
    QList<Waiting> m_waiting;
};
