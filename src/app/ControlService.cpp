#include "app/ControlService.h"

#include "base/Logging.h"
#include "session/TunnelSession.h"
#include "store/TunnelStore.h"
#include "ui/DisplayName.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {
QString statusKeyword(TunnelStatus::Kind kind)
{
    switch (kind) {
    case TunnelStatus::Kind::idle:
        return QStringLiteral("idle");
    case TunnelStatus::Kind::preparing:
        return QStringLiteral("preparing");
    case TunnelStatus::Kind::connecting:
        return QStringLiteral("connecting");
    case TunnelStatus::Kind::online:
        return QStringLiteral("online");
    case TunnelStatus::Kind::stopping:
        return QStringLiteral("stopping");
    case TunnelStatus::Kind::failed:
        return QStringLiteral("failed");
    }
    return {};
}

/// Where the service is reached on this machine: the origin in use, else what the profile names.
QString localAddress(const TunnelSession *session)
{
    if (!session->activeOrigin().isEmpty())
        return session->activeOrigin();
    const TunnelConfiguration configuration = TunnelConfiguration::from(session->profile());
    const Result<QString> address = configuration.scheme == OriginScheme::automatic
        ? configuration.validatedHostHeader()
        : configuration.validatedOriginURL();
    return address ? address.value() : QString();
}

QJsonObject refusal(const QString &error, const QString &message, const QStringList &candidates = {})
{
    QJsonObject answer { { u"ok"_qs, false }, { u"error"_qs, error }, { u"message"_qs, message } };
    if (!candidates.isEmpty())
        answer.insert(u"candidates"_qs, QJsonArray::fromStringList(candidates));
    return answer;
}

QJsonObject success(const QList<TunnelSession *> &sessions)
{
    QJsonArray services;
    for (const TunnelSession *session : sessions)
        services.append(ControlService::describe(session));
    return { { u"ok"_qs, true }, { u"services"_qs, services } };
}
} // namespace

ControlService::ControlService(TunnelStore *store, std::function<bool()> publishingAllowed)
    : m_store(store)
    , m_publishingAllowed(std::move(publishingAllowed))
{
}

QByteArray ControlService::answer(const QByteArray &requestLine) const
{
    QJsonParseError error;
    const QJsonDocument request = QJsonDocument::fromJson(requestLine, &error);
    const QJsonObject answer = request.isObject()
        ? this->answer(request.object())
        : refusal(u"badRequest"_qs, QStringLiteral("请求不是 JSON 对象：%1").arg(error.errorString()));
    return QJsonDocument(answer).toJson(QJsonDocument::Compact);
}

QJsonObject ControlService::answer(const QJsonObject &request) const
{
    const QString command = request.value(u"command"_qs).toString();
    const bool all = request.value(u"all"_qs).toBool();
    // Debug only: a waiting `url` asks several times a second.
    qCDebug(lcApp).noquote() << "command line asked:" << command << (all ? u"--all"_qs : QString());
    if (command == u"list")
        return success(m_store->sessions());
    if (command != u"url" && command != u"start" && command != u"stop")
        return refusal(u"badRequest"_qs, QStringLiteral("不认识的命令：%1").arg(command));

    if (command == u"start" && !m_publishingAllowed())
        return refusal(
            u"notAcknowledged"_qs, QStringLiteral("请先在奥文塔的窗口中阅读并同意使用须知，再从命令行启动服务"));
    QList<TunnelSession *> sessions = m_store->sessions();
    if (!all || command == u"url") {
        const QString name = request.value(u"name"_qs).toString();
        QStringList candidates;
        sessions = find(sessions, name, &candidates);
        if (sessions.isEmpty()) {
            // Names that several services could mean all start with it; otherwise every name is listed.
            const bool several = !name.isEmpty() && candidates.constFirst().startsWith(name);
            return refusal(several ? u"ambiguous"_qs : u"notFound"_qs,
                !several ? QStringLiteral("没有名为“%1”的服务").arg(name)
                         : QStringLiteral("“%1”可以指多个服务，请写出完整名称").arg(name),
                candidates);
        }
    }
    if (command == u"start") {
        if (all)
            m_store->startAll();
        else
            sessions.constFirst()->start();
    } else if (command == u"stop") {
        if (all)
            m_store->stopAll();
        else
            sessions.constFirst()->stop();
    }
    return success(sessions);
}

QList<TunnelSession *> ControlService::find(
    const QList<TunnelSession *> &sessions, const QString &name, QStringList *candidates)
{
    QList<TunnelSession *> exact;
    QList<TunnelSession *> prefixed;
    QStringList every;
    for (TunnelSession *session : sessions) {
        const QString shown = displayName(session->profile().name);
        every << shown;
        if (shown == name)
            exact << session;
        else if (!name.isEmpty() && shown.startsWith(name))
            prefixed << session;
    }
    const QList<TunnelSession *> &fitting = exact.isEmpty() ? prefixed : exact;
    if (fitting.size() == 1)
        return fitting;
    candidates->clear();
    for (const TunnelSession *session : fitting)
        *candidates << displayName(session->profile().name);
    if (fitting.isEmpty())
        *candidates = every;
    return {};
}

QJsonObject ControlService::describe(const TunnelSession *session)
{
    const TunnelStatus &status = session->status();
    const std::optional<QUrl> &url = session->publicURL();
    const QString local = localAddress(session);
    return {
        { u"id"_qs, session->id().toString(QUuid::WithoutBraces).toUpper() },
        { u"name"_qs, displayName(session->profile().name) },
        { u"status"_qs, statusKeyword(status.kind) },
        { u"statusText"_qs, session->overallLabel() },
        { u"local"_qs, local.isEmpty() ? QJsonValue() : QJsonValue(local) },
        { u"public"_qs, url ? QJsonValue(url->toString()) : QJsonValue() },
        { u"failure"_qs, status.is(TunnelStatus::Kind::failed) ? QJsonValue(status.message) : QJsonValue() },
    };
}
