#pragma once

#include "session/TunnelSession.h"

#include <QStringList>
#include <QUuid>

inline TunnelProfile localProfile(quint16 port, OriginScheme scheme = OriginScheme::http, bool skipTLS = false)
{
    return {QUuid::createUuid(), QStringLiteral("demo"), TunnelProvider::cloudflare, scheme,
            QStringLiteral("127.0.0.1"), QString::number(port), skipTLS};
}

inline QStringList messages(const TunnelSession &session)
{
    QStringList result;
    for (const ActivityEntry &entry : session.activity())
        result << entry.message;
    return result;
}

inline QStringList messagesAt(const TunnelSession &session, ActivityLevel level)
{
    QStringList result;
    for (const ActivityEntry &entry : session.activity()) {
        if (entry.level == level)
            result << entry.message;
    }
    return result;
}

/// Public probes answer at once with \a outcome instead of reaching the internet.
inline void answerPublicProbes(const ProbeOutcome &outcome)
{
    TunnelSession::setPublicProbe([outcome](const QUrl &, std::chrono::milliseconds, QObject *context,
                                            std::function<void(const ProbeOutcome &)> done) {
        QMetaObject::invokeMethod(context, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    });
}
