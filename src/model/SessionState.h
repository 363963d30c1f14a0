#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

/// \brief Lifecycle state of a tunnel; `failed` carries the text shown to the user.
struct TunnelStatus
{
    enum class Kind {
        idle,
        preparing,
        connecting,
        online,
        stopping,
        failed,
    };

    Kind kind = Kind::idle;
    QString message; ///< only for failed

    static TunnelStatus idle() { return { Kind::idle, {} }; }
    static TunnelStatus preparing() { return { Kind::preparing, {} }; }
    static TunnelStatus connecting() { return { Kind::connecting, {} }; }
    static TunnelStatus online() { return { Kind::online, {} }; }
    static TunnelStatus stopping() { return { Kind::stopping, {} }; }
    static TunnelStatus failed(QString message) { return { Kind::failed, std::move(message) }; }

    bool is(Kind k) const { return kind == k; }
    /// preparing, connecting, online or stopping: the service is doing something.
    bool isActive() const { return kind != Kind::idle && kind != Kind::failed; }
    /// preparing, connecting or stopping: on the way to a steady state, so the views show progress.
    bool isWorking() const { return kind == Kind::preparing || kind == Kind::connecting || kind == Kind::stopping; }

    bool operator==(const TunnelStatus &) const = default;
};

/// \brief Reachability of the local service or of the public address.
struct HealthState
{
    enum class Kind {
        unknown,
        checking,
        healthy,
        inactive,
        unhealthy,
    };

    Kind kind = Kind::unknown;
    QString message; ///< only for unhealthy

    static HealthState unknown() { return { Kind::unknown, {} }; }
    static HealthState checking() { return { Kind::checking, {} }; }
    static HealthState healthy() { return { Kind::healthy, {} }; }
    static HealthState inactive() { return { Kind::inactive, {} }; }
    static HealthState unhealthy(QString message) { return { Kind::unhealthy, std::move(message) }; }

    bool is(Kind k) const { return kind == k; }

    bool operator==(const HealthState &) const = default;
};

enum class ActivityLevel {
    info,
    success,
    warning,
    error,
};

QString rawValue(ActivityLevel level);

/// \brief One line of a session's activity log.
struct ActivityEntry
{
    QUuid id;
    QDateTime date;
    ActivityLevel level = ActivityLevel::info;
    QString message;

    bool operator==(const ActivityEntry &) const = default;
};
