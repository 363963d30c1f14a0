#include "session/TunnelSession.h"

#include "base/Logging.h"
#include "gate/GatedOrigin.h"
#include "session/CloudflaredProcess.h"
#include "session/OriginResolver.h"
#include "session/OutputInterpreter.h"

#include <algorithm>

namespace {

constexpr qsizetype maxActivityEntries = 60;

} // namespace

TunnelSession::TunnelSession(
    TunnelProfile profile, ProfileChangeHandler onProfileChange, SessionDependencies dependencies, QObject *parent)
    : QObject(parent)
    , m_id(profile.id)
    , m_profile(std::move(profile))
    , m_onProfileChange(std::move(onProfileChange))
    , m_dependencies(std::move(dependencies))
    , m_gate(new GatedOrigin(m_dependencies.timings, m_dependencies.gateLocator, this))
    , m_health(*this, m_dependencies)
{
    connect(m_gate, &GatedOrigin::ready, this, &TunnelSession::handleGateReady);
    connect(m_gate, &GatedOrigin::ended, this, &TunnelSession::handleGateEnded);
    m_preparationTimer.setSingleShot(true);
    m_preparationTimer.setInterval(0);
    connect(&m_preparationTimer, &QTimer::timeout, this, &TunnelSession::handlePreparationTimerTimeout);
    m_startupTimer.setSingleShot(true);
    m_startupTimer.setInterval(timings().startupTimeout);
    connect(&m_startupTimer, &QTimer::timeout, this, &TunnelSession::handleStartupTimerTimeout);
    connect(&m_health, &HealthMonitor::checked, this, &TunnelSession::healthChecked);
}

TunnelSession::~TunnelSession()
{
    // Children and probes go first, while the session is still whole; a running child is killed.
    m_health.end();
    delete m_preparation;
    delete m_child;
    for (const auto &child : std::as_const(m_staleChildren))
        delete child;
}

QString TunnelSession::logName() const
{
    // The id stays put while the user renames the service.
    return u'[' + m_id.toString(QUuid::WithoutBraces).left(8) + u"] "_qs;
}

// Assignments from outside always notify, also when nothing differs: the views asked for them.
void TunnelSession::setProfile(const TunnelProfile &profile)
{
    m_profile = profile;
    emit changed();
    if (m_onProfileChange)
        m_onProfileChange(m_profile);
    setLocalHealth(HealthState::checking());
    requestImmediateHealthCheck();
}

void TunnelSession::setGateSettings(const GateSettings &settings)
{
    assign(m_gateSettings, settings);
}

void TunnelSession::setActivity(QList<ActivityEntry> activity)
{
    if (activity.size() > maxActivityEntries)
        activity.remove(0, activity.size() - maxActivityEntries);
    m_activity = std::move(activity);
    emit changed();
}

// ---------------------------------------------------------------------------------------------
// Start and stop

void TunnelSession::start()
{
    if (m_status.isActive())
        return;
    m_recovery.handleUserStart();
    beginStart();
}

void TunnelSession::beginStart()
{
    qCInfo(lcSession).noquote().nospace() << logName() << "start";
    // A child of an earlier start that timed out may still be exiting; its exit is not ours any more.
    detachChild();
    m_gate->stop();
    m_gateFailed = false;
    m_preparationConfiguration = TunnelConfiguration::from(m_profile);
    assign(m_status, TunnelStatus::preparing());
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::checking());
    assign(m_connectedAt, std::optional<QDateTime>());
    assign(m_activeProvider, std::optional<TunnelProvider>());
    m_edgeConnected = false;
    append(ActivityLevel::info, QStringLiteral("正在检查本地服务…"));
    cancelPreparation();
    m_preparationTimer.start();
}

void TunnelSession::cancelPreparation()
{
    m_preparationTimer.stop();
    // Deleting the resolver aborts its probe at once, without an outcome.
    delete m_preparation;
    m_preparation = nullptr;
}

void TunnelSession::handlePreparationTimerTimeout()
{
    // A start the user asked for does not queue behind the health checks; it is one probe at a time.
    m_preparation = new OriginResolver(m_preparationConfiguration, timings(), *m_dependencies.network, this);
    connect(m_preparation, &OriginResolver::finished, this, &TunnelSession::handlePreparationResolved);
    if (const auto error = m_preparation->start()) {
        cancelPreparation();
        failStart(error->description());
    }
}

void TunnelSession::handlePreparationResolved(const OriginVerdict &verdict)
{
    m_preparation->deleteLater();
    m_preparation = nullptr;
    const TunnelConfiguration &configuration = m_preparationConfiguration;
    const std::optional<ResolvedOrigin> &resolved = verdict.origin;
    if (!resolved) {
        failStart(verdict.problem.isEmpty()
                ? TunnelError::originUnavailable(configuration.host + u':' + configuration.portText).description()
                : verdict.problem);
        return;
    }
    if (configuration.scheme == OriginScheme::automatic)
        append(ActivityLevel::info, QStringLiteral("已自动识别本地协议为 ") + rawValue(resolved->scheme));

    const auto origin = configuration.validatedOriginURL(resolved->scheme);
    const auto hostHeader = configuration.validatedHostHeader();
    if (!origin || !hostHeader) {
        failStart((origin ? hostHeader.error() : origin.error()).description());
        return;
    }
    setLocalHealth(verdict.problem.isEmpty() ? HealthState::healthy() : HealthState::unhealthy(verdict.problem));
    append(ActivityLevel::success, QStringLiteral("本地服务可访问：") + origin.value());
    if (!verdict.problem.isEmpty())
        append(ActivityLevel::warning, verdict.problem);

    // Someone watching the changes above may have stopped the start.
    if (!m_status.is(TunnelStatus::Kind::preparing))
        return;
    const QString executable = m_dependencies.locator.locate();
    if (executable.isEmpty()) {
        failStart(TunnelError::cloudflaredMissing().description());
        return;
    }
    m_launch
        = { executable, origin.value(), hostHeader.value(), resolved->scheme, configuration.skipTLSVerification, {} };
    if (!m_gateSettings.needsGate()) {
        launch();
        return;
    }
    // The tunnel starts once the gate listens (handleGateReady).
    const QString error
        = m_gate->start(m_gateSettings, origin.value(), hostHeader.value(), configuration.skipTLSVerification);
    if (!error.isEmpty())
        failStart(error);
}

void TunnelSession::handleGateReady(const QString &url)
{
    if (!m_status.is(TunnelStatus::Kind::preparing)) {
        m_gate->stop();
        return;
    }
    // The gate speaks plain HTTP on loopback and itself checks the service's certificate as asked.
    m_launch.scheme = OriginScheme::http;
    m_launch.skipTLSVerification = false;
    m_launch.gateURL = url;
    launch();
}

void TunnelSession::handleGateEnded(const QString &reason)
{
    if (m_child && m_child->isRunning()) {
        // A tunnel without its gate would serve nothing, or the service unguarded: it goes too.
        m_gateFailed = true;
        fail(reason);
        m_child->stop();
    } else if (m_status.is(TunnelStatus::Kind::preparing)) {
        fail(reason);
    }
}

void TunnelSession::launch()
{
    m_stopRequested = false;
    m_terminatedAfterFailure = false;
    m_shutdownSignalled = false;
    m_edgeConnected = false;
    m_diagnosis.clear();
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::checking());
    assign(m_connectedAt, std::optional<QDateTime>());
    assign(m_activeOrigin, m_launch.origin);
    assign(m_activeProvider, std::optional<TunnelProvider>(TunnelProvider::cloudflare));
    assign(m_status, TunnelStatus::connecting());
    append(ActivityLevel::info, QStringLiteral("正在启动 Cloudflare Quick Tunnel"));

    auto *child = new CloudflaredProcess(timings().killGrace, this);
    QString error;
    if (!child->prepare(&error)) {
        delete child;
        failStart(error);
        return;
    }
    connect(child, &CloudflaredProcess::lineReceived, this, &TunnelSession::handleOutputLine);
    connect(child, &CloudflaredProcess::failedToStart, this, &TunnelSession::handleChildFailedToStart);
    connect(child, &CloudflaredProcess::exited, this, &TunnelSession::handleChildExited);
    m_child = child;
    const bool http2 = m_recovery.handleLaunch();
    const QStringList arguments = CloudflaredProcess::tunnelArguments(child->configurationPath(),
        m_launch.gateURL.isEmpty() ? m_launch.origin : m_launch.gateURL, m_launch.hostHeader, m_launch.scheme,
        m_launch.skipTLSVerification, http2);
    qCInfo(lcSession).noquote().nospace()
        << logName() << "launching " << m_launch.executable << ' ' << arguments.join(u' ');
    child->start(m_launch.executable, arguments);
    m_startupTimer.start();
}

void TunnelSession::detachChild()
{
    if (!m_child)
        return;
    CloudflaredProcess *child = m_child;
    m_child = nullptr;
    child->disconnect(this);
    // Nobody shows this tunnel any more, so it must not keep serving: end it firmly.
    child->stop();
    connect(child, &CloudflaredProcess::exited, child, &QObject::deleteLater);
    connect(child, &CloudflaredProcess::failedToStart, child, &QObject::deleteLater);
    // Whoever waits for hasChild() to turn false hears of it.
    connect(child, &CloudflaredProcess::exited, this, &TunnelSession::changed);
    connect(child, &CloudflaredProcess::failedToStart, this, &TunnelSession::changed);
    m_staleChildren.removeAll(nullptr);
    m_staleChildren.append(child);
    if (!child->isRunning())
        child->deleteLater();
}

void TunnelSession::handleChildFailedToStart(const QString &description)
{
    m_gate->stop();
    m_child->deleteLater();
    m_child = nullptr;
    m_startupTimer.stop();
    failStart(TunnelError::launchFailed(description).description());
}

void TunnelSession::handleChildExited(int status)
{
    m_gate->stop();
    m_child->deleteLater();
    m_child = nullptr;
    m_startupTimer.stop();
    qCInfo(lcSession).noquote().nospace()
        << logName() << "cloudflared exited with " << status << (m_stopRequested ? " after a stop" : "");
    // Asked to end, by us or by a failure, the tunnel would no longer be online.
    const bool dropped = m_status.is(TunnelStatus::Kind::online);
    if (m_gateFailed) {
        // Already failed with the gate's reason, which says more than this exit.
        m_gateFailed = false;
    } else if (m_stopRequested) {
        append(ActivityLevel::info, QStringLiteral("隧道已停止，原公网链接已经失效"));
        resetToIdle();
    } else if (m_terminatedAfterFailure) {
        // Ended by us because the start failed: the failure and its reason stay.
    } else if (dropped && m_recovery.handleDrop(status)) {
        // Starts again after a while, or has failed for restarting too often.
    } else {
        endRun(status);
    }
    m_stopRequested = false;
    m_terminatedAfterFailure = false;
    m_shutdownSignalled = false;
    if (dropped)
        emit connectionDropped(m_activity.isEmpty() ? QString() : m_activity.constLast().message);
}

void TunnelSession::endRun(int status)
{
    if (status != 0) {
        failExit(status);
        return;
    }
    append(ActivityLevel::info, QStringLiteral("隧道进程已结束"));
    resetToIdle();
}

void TunnelSession::failExit(int status)
{
    const TunnelError exited = TunnelError::cloudflaredExited(status);
    const TunnelError reason = m_diagnosis.diagnoseExit(status);
    // The status says little to the user, but it belongs in the record.
    if (reason != exited)
        append(ActivityLevel::error, exited.description());
    fail(reason.description());
}

void TunnelSession::handleStartupTimerTimeout()
{
    if (m_status.is(TunnelStatus::Kind::online) || !m_child || !m_child->isRunning())
        return;
    m_terminatedAfterFailure = true;
    fail(m_diagnosis.diagnoseTimeOut(m_publicURL.has_value()).description());
    m_child->terminate();
}

void TunnelSession::stop()
{
    cancelPreparation();
    m_startupTimer.stop();
    m_gate->stop();
    if (m_child && m_child->isRunning()) {
        m_recovery.cancel();
        qCInfo(lcSession).noquote().nospace() << logName() << "stop";
        m_stopRequested = true;
        assign(m_status, TunnelStatus::stopping());
        append(ActivityLevel::info, QStringLiteral("正在关闭公网隧道…"));
        m_child->stop();
        return;
    }
    if (m_recovery.cancel())
        append(ActivityLevel::info, QStringLiteral("已取消自动重新连接"));
    // A child that failed to start may still have its report on the way; the user has moved on.
    detachChild();
    resetToIdle();
}

void TunnelSession::shutdown()
{
    m_health.end();
    stop();
}

bool TunnelSession::hasChild() const
{
    if (m_child || m_gate->hasChild())
        return true;
    return std::any_of(m_staleChildren.cbegin(), m_staleChildren.cend(),
        [](const QPointer<CloudflaredProcess> &child) { return child && child->isRunning(); });
}

void TunnelSession::killChild()
{
    m_gate->kill();
    if (m_child)
        m_child->kill();
    for (const auto &child : std::as_const(m_staleChildren)) {
        if (child)
            child->kill();
    }
}

// ---------------------------------------------------------------------------------------------
// State helpers

void TunnelSession::append(ActivityLevel level, const QString &message)
{
    if (m_activity.size() >= maxActivityEntries)
        m_activity.remove(0, m_activity.size() - maxActivityEntries + 1);
    m_activity.append({ QUuid::createUuid(), QDateTime::currentDateTime(), level, message });
    emit changed();
}

void TunnelSession::appendUnlessLast(ActivityLevel level, const QString &message)
{
    if (m_activity.isEmpty() || m_activity.constLast().message != message)
        append(level, message);
}

void TunnelSession::fail(const QString &message)
{
    qCWarning(lcSession).noquote().nospace() << logName() << "failed: " << message;
    m_edgeLost = false;
    assign(m_status, TunnelStatus::failed(message));
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::unhealthy(message));
    assign(m_connectedAt, std::optional<QDateTime>());
    append(ActivityLevel::error, message);
}

void TunnelSession::failStart(const QString &message)
{
    setLocalHealth(HealthState::unhealthy(message));
    fail(message);
}

void TunnelSession::resetToIdle()
{
    m_edgeLost = false;
    assign(m_status, TunnelStatus::idle());
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::inactive());
    assign(m_connectedAt, std::optional<QDateTime>());
    m_edgeConnected = false;
    assign(m_activeProvider, std::optional<TunnelProvider>());
}

void TunnelSession::setLocalHealth(HealthState health)
{
    setHealth(m_localHealth, std::move(health), "local service ");
}

void TunnelSession::setPublicHealth(HealthState health)
{
    // A dropped edge connection is the news until cloudflared registers again, whatever a probe says.
    if (m_edgeLost)
        return;
    setHealth(m_publicHealth, std::move(health), "public address ");
}

void TunnelSession::setHealth(HealthState &field, HealthState health, const char *what)
{
    if (!assign(field, std::move(health)))
        return;
    if (field.is(HealthState::Kind::unhealthy))
        qCDebug(lcSession).noquote().nospace() << logName() << what << field.message;
    else if (field.is(HealthState::Kind::healthy))
        qCDebug(lcSession).noquote().nospace() << logName() << what << "answers";
}

void TunnelSession::setActiveOrigin(const QString &origin)
{
    assign(m_activeOrigin, origin);
}

void TunnelSession::setLastCheckedAt(const QDateTime &when)
{
    assign(m_lastCheckedAt, std::optional<QDateTime>(when));
}

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

// ---------------------------------------------------------------------------------------------
// Output

void TunnelSession::handleOutputLine(const QString &text)
{
    m_output.handleText(text);
}

// ---------------------------------------------------------------------------------------------
// Health

void TunnelSession::beginMonitoring()
{
    m_health.begin();
}

void TunnelSession::requestImmediateHealthCheck()
{
    m_health.requestCheck();
}
