#include "session/SessionRecovery.h"

#include "base/Logging.h"
#include "session/CloudflaredProcess.h"
#include "session/FailureDiagnosis.h"
#include "session/TunnelSession.h"

#include <QTime>

SessionRecovery::SessionRecovery(TunnelSession &session, const SessionDependencies &dependencies)
    : m_session(session)
    , m_policy(dependencies.policy)
    , m_schedule(dependencies.timings)
{
    m_restartTimer.setSingleShot(true);
    m_registrationTimer.setSingleShot(true);
    m_registrationTimer.setInterval(dependencies.timings.registrationWait);
    connect(&m_restartTimer, &QTimer::timeout, this, &SessionRecovery::handleRestartTimerTimeout);
    connect(&m_registrationTimer, &QTimer::timeout, this, &SessionRecovery::handleRegistrationTimerTimeout);
}

void SessionRecovery::handleUserStart()
{
    cancel();
    m_schedule.clear();
    m_replacingAddress = false;
    m_comeback = false;
}

bool SessionRecovery::handleLaunch()
{
    m_registrationTimer.stop();
    m_runOverHttp2 = m_policy->http2;
    return m_runOverHttp2;
}

bool SessionRecovery::connectingOverQuic() const
{
    // One registered connection shows that QUIC gets through; others may still fail for other reasons.
    const TunnelSession &s = m_session;
    return !m_runOverHttp2 && !s.m_edgeConnected && s.m_status.is(TunnelStatus::Kind::connecting) && s.m_child
        && s.m_child->isRunning() && !s.childIsEnding();
}

void SessionRecovery::handleLine(QStringView line)
{
    if (connectingOverQuic() && FailureDiagnosis::classify(line) == TunnelError::Kind::edgeQuicBlocked)
        fallBackToHttp2();
}

QString SessionRecovery::handleAddress(const QUrl &url)
{
    // cloudflared only dials the edge once it has its address; a registration must follow soon.
    if (connectingOverQuic())
        m_registrationTimer.start();
    if (!std::exchange(m_replacingAddress, false))
        return QStringLiteral("公网 HTTPS 链接已生成");
    return QStringLiteral("公网链接已更换：") + url.toString();
}

void SessionRecovery::handleRegistered()
{
    m_registrationTimer.stop();
}

bool SessionRecovery::takeComeback()
{
    m_registrationTimer.stop();
    return std::exchange(m_comeback, false);
}

void SessionRecovery::handleRegistrationTimerTimeout()
{
    if (connectingOverQuic() && m_session.m_publicURL)
        fallBackToHttp2();
}

void SessionRecovery::fallBackToHttp2()
{
    TunnelSession &s = m_session;
    qCInfo(lcSession).noquote().nospace() << s.logName() << "QUIC does not get through; starting over HTTP/2";
    m_policy->http2 = true;
    if (s.m_publicURL)
        m_replacingAddress = true;
    s.append(ActivityLevel::warning,
        QStringLiteral("当前网络屏蔽了 QUIC（UDP 7844 端口），改用 HTTP/2 重新连接；程序退出前所有隧道都使用 HTTP/2"));
    s.detachChild();
    s.launch();
}

bool SessionRecovery::handleDrop(int status)
{
    if (!m_policy->restartAfterDrop)
        return false;
    TunnelSession &s = m_session;
    const auto delay = m_schedule.nextDelay(RestartSchedule::Clock::now());
    if (!delay) {
        s.append(ActivityLevel::warning,
            QStringLiteral("自动重新连接次数已达上限（%1 次），不再重试").arg(RestartSchedule::maxRestarts));
        s.failExit(status);
        return true;
    }
    const auto seconds = (delay->count() + 999) / 1000;
    const QString note = QStringLiteral("cloudflared 意外退出（代码 %1），%2 秒后（%3）自动重新连接")
                             .arg(status)
                             .arg(seconds)
                             .arg(QTime::currentTime().addMSecs(int(delay->count())).toString(u"HH:mm:ss"));
    qCInfo(lcSession).noquote().nospace() << s.logName() << "restarting in " << delay->count() << " ms";
    m_replacingAddress = true;
    m_comeback = true;
    m_dropStatus = status;
    // The old address is gone with its child; until the new one arrives there is none.
    s.m_edgeLost = false;
    s.m_edgeConnected = false;
    s.assign(s.m_status, TunnelStatus::connecting());
    s.assign(s.m_publicURL, std::optional<QUrl>());
    s.assign(s.m_connectedAt, std::optional<QDateTime>());
    s.assign(s.m_publicHealth, HealthState::unhealthy(note));
    s.append(ActivityLevel::warning, note);
    m_restartTimer.start(*delay);
    return true;
}

void SessionRecovery::handleRestartTimerTimeout()
{
    m_schedule.recordRestart(RestartSchedule::Clock::now());
    m_session.beginStart();
}

void SessionRecovery::abandon()
{
    if (!cancel())
        return;
    m_replacingAddress = false;
    m_comeback = false;
    m_session.append(ActivityLevel::info, QStringLiteral("已取消自动重新连接"));
    m_session.endRun(m_dropStatus);
}

bool SessionRecovery::cancel()
{
    m_registrationTimer.stop();
    const bool pending = m_restartTimer.isActive();
    m_restartTimer.stop();
    return pending;
}
