#include "session/OutputFollower.h"

#include "base/Logging.h"
#include "session/CloudflaredProcess.h"
#include "session/OutputInterpreter.h"
#include "session/TunnelSession.h"

void OutputFollower::handleText(const QString &text)
{
    TunnelSession &s = m_session;
    const CloudflaredProcess *child = s.m_child;
    for (const QStringView line : OutputInterpreter::splitLines(text)) {
        if (!s.childIsEnding())
            s.m_diagnosis.record(line);
        apply(OutputInterpreter::interpret(line, s.m_publicURL.has_value()));
        s.m_recovery.handleLine(line);
        // What is left came from a child that has been replaced.
        if (s.m_child != child)
            return;
    }
}

void OutputFollower::apply(const OutputEvent &event)
{
    TunnelSession &s = m_session;
    switch (event.kind) {
    case OutputEvent::Kind::publicUrl:
        s.assign(s.m_publicURL, std::optional<QUrl>(event.url));
        qCInfo(lcSession).noquote().nospace() << s.logName() << "public address " << event.url.toString();
        s.append(ActivityLevel::success, s.m_recovery.handleAddress(event.url));
        markOnlineIfReady();
        return;
    case OutputEvent::Kind::edgeRegistered:
        s.m_edgeConnected = true;
        s.m_recovery.handleRegistered();
        s.appendUnlessLast(ActivityLevel::success, QStringLiteral("已连接 Cloudflare 边缘网络"));
        markOnlineIfReady();
        return;
    case OutputEvent::Kind::addressRequested:
        s.appendUnlessLast(ActivityLevel::info, OutputInterpreter::requestMessage());
        return;
    case OutputEvent::Kind::shutdownSignalled:
        if (!s.childIsEnding()) {
            s.m_shutdownSignalled = true;
            s.append(ActivityLevel::info, QStringLiteral("cloudflared 收到退出信号，正在关闭隧道"));
        }
        return;
    case OutputEvent::Kind::ignored:
    case OutputEvent::Kind::error:
    case OutputEvent::Kind::warning:
        break;
    }
    // While the child is ending, its complaints about it are noise.
    if (s.childIsEnding())
        return;
    if (event.kind == OutputEvent::Kind::warning)
        s.append(ActivityLevel::warning, event.text);
    else if (event.kind == OutputEvent::Kind::error)
        s.append(ActivityLevel::error, event.text);
    if (event.originUnreachable)
        s.setPublicHealth(HealthState::unhealthy(QStringLiteral("Cloudflare 无法访问本地服务")));
    if (event.connectionLost)
        handleConnectionLost();
}

void OutputFollower::handleConnectionLost()
{
    TunnelSession &s = m_session;
    // cloudflared retries by itself; until it registers again visitors get an error page.
    if (!s.m_status.is(TunnelStatus::Kind::online) || s.m_edgeLost)
        return;
    const QString lost = QStringLiteral("与 Cloudflare 的连接已断开，正在重连");
    qCInfo(lcSession).noquote().nospace() << s.logName() << "edge connection lost";
    s.assign(s.m_publicHealth, HealthState::unhealthy(lost));
    s.m_edgeLost = true;
    s.append(ActivityLevel::warning, lost);
}

void OutputFollower::markOnlineIfReady()
{
    TunnelSession &s = m_session;
    // A registration reported while the child is being stopped must not undo "stopping".
    if (!s.m_edgeConnected || !s.m_publicURL || s.childIsEnding())
        return;
    s.m_edgeLost = false;
    const bool wasOnline = s.m_status.is(TunnelStatus::Kind::online);
    if (!wasOnline) {
        qCInfo(lcSession).noquote().nospace() << s.logName() << "online";
        s.m_diagnosis.clear(); // what went wrong on the way here did not stop it
    }
    s.assign(s.m_status, TunnelStatus::online());
    s.assign(s.m_connectedAt, std::optional<QDateTime>(QDateTime::currentDateTime()));
    s.m_startupTimer.stop();
    s.assign(s.m_publicHealth, HealthState::checking());
    // Later registrations within the wait share the one check.
    s.m_health.checkAfterOnline();
    if (!wasOnline && s.m_recovery.takeComeback())
        emit s.reconnected(*s.m_publicURL);
}
