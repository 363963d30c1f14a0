#include "session/TunnelSession.h"

#include "session/Resources.h"

#include <QFileInfo>
#include <QProcess>

// Placeholder engine: state, log and labels only; launching comes next.

namespace {
constexpr qsizetype maxActivityEntries = 60;
QStringList s_searchPaths;
} // namespace

TunnelSession::TunnelSession(TunnelProfile profile, ProfileChangeHandler onProfileChange, Timings timings,
                             QObject *parent)
    : QObject(parent)
    , m_id(profile.id)
    , m_profile(std::move(profile))
    , m_onProfileChange(std::move(onProfileChange))
    , m_timings(timings)
{
}

TunnelSession::~TunnelSession() = default;

void TunnelSession::setProfile(const TunnelProfile &profile)
{
    m_profile = profile;
    if (m_onProfileChange)
        m_onProfileChange(m_profile);
    m_localHealth = HealthState::checking();
    emit changed();
    requestImmediateHealthCheck();
}

void TunnelSession::setActivity(QList<ActivityEntry> activity)
{
    m_activity = std::move(activity);
    emit changed();
}

void TunnelSession::start() {}

void TunnelSession::stop()
{
    resetToIdle();
}

void TunnelSession::shutdown()
{
    stop();
}

void TunnelSession::beginMonitoring() {}

void TunnelSession::requestImmediateHealthCheck() {}

QString TunnelSession::overallLabel() const
{
    switch (m_status.kind) {
    case TunnelStatus::Kind::idle:
        return QStringLiteral("未启动");
    case TunnelStatus::Kind::preparing:
        return QStringLiteral("检查中");
    case TunnelStatus::Kind::connecting:
        return QStringLiteral("连接中");
    case TunnelStatus::Kind::online:
        if (m_localHealth.is(HealthState::Kind::unhealthy))
            return QStringLiteral("本地异常");
        if (m_publicHealth.is(HealthState::Kind::unhealthy))
            return QStringLiteral("公网异常");
        return QStringLiteral("运行中");
    case TunnelStatus::Kind::stopping:
        return QStringLiteral("停止中");
    case TunnelStatus::Kind::failed:
        return QStringLiteral("启动失败");
    }
    return {};
}

bool TunnelSession::overallIsHealthy() const
{
    return m_status.is(TunnelStatus::Kind::online) && m_localHealth.is(HealthState::Kind::healthy)
        && m_publicHealth.is(HealthState::Kind::healthy);
}

bool TunnelSession::hasChild() const
{
    return false;
}

void TunnelSession::killChild() {}

void TunnelSession::append(ActivityLevel level, const QString &message)
{
    m_activity.append({QUuid::createUuid(), QDateTime::currentDateTime(), level, message});
    if (m_activity.size() > maxActivityEntries)
        m_activity.remove(0, m_activity.size() - maxActivityEntries);
    emit changed();
}

void TunnelSession::fail(const QString &message)
{
    m_status = TunnelStatus::failed(message);
    m_publicURL.reset();
    m_publicHealth = HealthState::unhealthy(message);
    m_connectedAt.reset();
    append(ActivityLevel::error, message);
}

void TunnelSession::resetToIdle()
{
    m_status = TunnelStatus::idle();
    m_publicURL.reset();
    m_publicHealth = HealthState::inactive();
    m_connectedAt.reset();
    m_activeProvider.reset();
    emit changed();
}

QStringList TunnelSession::cloudflaredSearchPaths()
{
    if (!s_searchPaths.isEmpty())
        return s_searchPaths;
    return {resourceDirectory() + QStringLiteral("/cloudflared"), QStringLiteral("/opt/homebrew/bin/cloudflared"),
            QStringLiteral("/usr/local/bin/cloudflared"), QStringLiteral("/usr/bin/cloudflared")};
}

void TunnelSession::setCloudflaredSearchPaths(const QStringList &paths)
{
    s_searchPaths = paths;
}

QString TunnelSession::locateCloudflared()
{
    for (const QString &path : cloudflaredSearchPaths()) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return {};
}

QString TunnelSession::installedCloudflaredVersion(std::chrono::milliseconds)
{
    return locateCloudflared().isEmpty() ? QStringLiteral("未找到") : QStringLiteral("不可用");
}
