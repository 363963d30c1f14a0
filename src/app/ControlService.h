#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <functional>

class TunnelSession;
class TunnelStore;

/// \brief Answers the command line's requests in the running program: one JSON object per line in,
/// one per line out. Every answer is immediate; a client that waits asks again.
///
/// Requests: {"command": "list" | "url" | "start" | "stop", "name": text, "all": bool}. Answers carry
/// "ok"; on success "services" (each: id, name, status, statusText, local, public, failure), otherwise
/// "error", "message" in Chinese and, for a name that fits none or several, "candidates".
class ControlService
{
public:
    /// \a publishingAllowed says whether the user has accepted the terms that any start needs.
    ControlService(TunnelStore *store, std::function<bool()> publishingAllowed);

    QByteArray answer(const QByteArray &requestLine) const;

    /// The one service called \a name, else the only one whose name starts with it. Empty when none
    /// or several fit; \a candidates then gets the names that could be meant.
    static QList<TunnelSession *> find(
        const QList<TunnelSession *> &sessions, const QString &name, QStringList *candidates);

    static QJsonObject describe(const TunnelSession *session);

private:
    QJsonObject answer(const QJsonObject &request) const;

    TunnelStore *const m_store;
    const std::function<bool()> m_publishingAllowed;
};
