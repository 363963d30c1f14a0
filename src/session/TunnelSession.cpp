#include "session/TunnelSession.h"

#include "base/Resources.h"
#include "session/CloudflaredProcess.h"
#include "session/OriginResolver.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>

namespace {

constexpr qsizetype maxActivityEntries = 60;

const QString baseDomain = QStringLiteral("trycloudflare.com");

QStringList s_searchPaths;
TunnelSession::PublicProbe s_publicProbe;

QString requestMessage()
{
    return QStringLiteral("正在申请免费的 ") + baseDomain + QStringLiteral(" 域名");
}

const QRegularExpression &publicUrlPattern()
{
    // A tunnel address is a bare host: an address that goes on with a path or a port is the
    // service's own endpoint, named in lines such as a failed request for a tunnel.
    static const QRegularExpression pattern(QStringLiteral("https://[a-zA-Z0-9-]+\\.")
        + QRegularExpression::escape(baseDomain) + QStringLiteral("(?![a-zA-Z0-9./:-])"));
    return pattern;
}

bool isLineBreak(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'\n' && u <= u'\r') || u == 0x0085 || u == 0x2028 || u == 0x2029;
}

void realPublicProbe(const QUrl &url, std::chrono::milliseconds timeout, std::chrono::milliseconds grace,
    QObject *context, std::function<void(const ProbeOutcome &)> done)
{
    auto *probe = new OriginProbe(context);
    QObject::connect(probe, &OriginProbe::finished, context, [probe, done = std::move(done)](const ProbeOutcome &o) {
        probe->deleteLater();
        done(o);
    });
    // The public address is on the internet: the user's proxy settings apply.
    probe->start({ url.toString(), false, timeout, grace, OriginProbe::Route::systemProxy });
}

const QString localUnreachable = QStringLiteral("本地服务不可访问");

} // namespace

TunnelSession::TunnelSession(
    TunnelProfile profile, ProfileChangeHandler onProfileChange, Timings timings, QObject *parent)
    : QObject(parent)
    , m_id(profile.id)
    , m_profile(std::move(profile))
    , m_onProfileChange(std::move(onProfileChange))
    , m_timings(timings)
{
    const auto singleShot = [this](QTimer &timer, std::chrono::milliseconds interval, auto handler) {
        timer.setSingleShot(true);
        timer.setInterval(interval);
        connect(&timer, &QTimer::timeout, this, handler);
    };
    singleShot(m_preparationTimer, std::chrono::milliseconds(0), &TunnelSession::handlePreparationTimerTimeout);
    singleShot(m_startupTimer, m_timings.startupTimeout, &TunnelSession::handleStartupTimerTimeout);
    singleShot(m_monitorTimer, m_timings.monitorPause, &TunnelSession::handleMonitorTimerTimeout);
    singleShot(m_debounceTimer, m_timings.healthDebounce, [this] { refreshHealth(); });
    singleShot(m_postOnlineTimer, m_timings.postOnlineCheck, [this] { refreshHealth(); });
}

TunnelSession::~TunnelSession()
{
    // Children and probes go first, while the session is still whole; a running child is killed.
    delete m_preparation;
    delete m_healthResolver;
    delete m_publicProbeContext;
    delete m_child;
    for (const auto &child : std::as_const(m_staleChildren))
        delete child;
}

template <typename T> void TunnelSession::assign(T &field, T value)
{
    if (field == value)
        return;
    field = std::move(value);
    emit changed();
}

// Assignments from outside always notify, also when nothing differs: the views asked for them.
void TunnelSession::setProfile(const TunnelProfile &profile)
{
    m_profile = profile;
    emit changed();
    if (m_onProfileChange)
        m_onProfileChange(m_profile);
    assign(m_localHealth, HealthState::checking());
    requestImmediateHealthCheck();
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
    // A child of an earlier start that timed out may still be exiting; its exit is not ours any more.
    detachChild();
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
    m_preparation = new OriginResolver(m_preparationConfiguration, m_timings, this);
    connect(m_preparation, &OriginResolver::finished, this, &TunnelSession::handlePreparationResolved);
    if (const auto error = m_preparation->start()) {
        cancelPreparation();
        failStart(error->description());
    }
}

void TunnelSession::handlePreparationResolved(const std::optional<ResolvedOrigin> &resolved)
{
    m_preparation->deleteLater();
    m_preparation = nullptr;
    const TunnelConfiguration &configuration = m_preparationConfiguration;
    if (!resolved) {
        failStart(TunnelError::originUnavailable(configuration.host + u':' + configuration.portText).description());
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
    assign(m_localHealth, HealthState::healthy());
    append(ActivityLevel::success, QStringLiteral("本地服务可访问：") + origin.value());

    // Someone watching the changes above may have stopped the start.
    if (!m_status.is(TunnelStatus::Kind::preparing))
        return;
    const QString executable = locateCloudflared();
    if (executable.isEmpty()) {
        failStart(TunnelError::cloudflaredMissing().description());
        return;
    }
    launch(executable, origin.value(), hostHeader.value(), resolved->scheme, configuration.skipTLSVerification);
}

void TunnelSession::launch(const QString &executable, const QString &origin, const QString &hostHeader,
    OriginScheme resolvedScheme, bool skipTLSVerification)
{
    m_stopRequested = false;
    m_edgeConnected = false;
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::checking());
    assign(m_connectedAt, std::optional<QDateTime>());
    assign(m_activeOrigin, origin);
    assign(m_activeProvider, std::optional<TunnelProvider>(TunnelProvider::cloudflare));
    assign(m_status, TunnelStatus::connecting());
    append(ActivityLevel::info, QStringLiteral("正在启动 Cloudflare Quick Tunnel"));

    auto *child = new CloudflaredProcess(m_timings.killGrace, this);
    QString error;
    if (!child->prepare(&error)) {
        delete child;
        failStart(error);
        return;
    }
    connect(child, &CloudflaredProcess::lineReceived, this, &TunnelSession::handleChildLineReceived);
    connect(child, &CloudflaredProcess::failedToStart, this, &TunnelSession::handleChildFailedToStart);
    connect(child, &CloudflaredProcess::exited, this, &TunnelSession::handleChildExited);
    m_child = child;
    child->start(executable,
        CloudflaredProcess::tunnelArguments(
            child->configurationPath(), origin, hostHeader, resolvedScheme, skipTLSVerification));
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

void TunnelSession::handleChildLineReceived(const QString &line)
{
    handleOutputLine(line);
}

void TunnelSession::handleChildFailedToStart(const QString &description)
{
    m_child->deleteLater();
    m_child = nullptr;
    m_startupTimer.stop();
    failStart(TunnelError::launchFailed(description).description());
}

void TunnelSession::handleChildExited(int status)
{
    m_child->deleteLater();
    m_child = nullptr;
    m_startupTimer.stop();
    if (m_stopRequested) {
        append(ActivityLevel::info, QStringLiteral("隧道已停止，原公网链接已经失效"));
        resetToIdle();
    } else if (status != 0) {
        fail(QStringLiteral("cloudflared 异常退出（代码 %1）").arg(status));
    } else {
        append(ActivityLevel::info, QStringLiteral("隧道进程已结束"));
        resetToIdle();
    }
    m_stopRequested = false;
}

void TunnelSession::handleStartupTimerTimeout()
{
    if (m_status.is(TunnelStatus::Kind::online) || !m_child || !m_child->isRunning())
        return;
    fail(QStringLiteral("连接 Cloudflare 超时，请检查网络后重试"));
    m_child->terminate();
}

void TunnelSession::stop()
{
    cancelPreparation();
    m_startupTimer.stop();
    if (m_child && m_child->isRunning()) {
        m_stopRequested = true;
        assign(m_status, TunnelStatus::stopping());
        append(ActivityLevel::info, QStringLiteral("正在关闭公网隧道…"));
        m_child->stop();
        return;
    }
    // A child that failed to start may still have its report on the way; the user has moved on.
    detachChild();
    resetToIdle();
}

void TunnelSession::shutdown()
{
    m_monitoring = false;
    m_monitorAwaitsCheck = false;
    m_healthEnded = true;
    m_monitorTimer.stop();
    m_debounceTimer.stop();
    m_postOnlineTimer.stop();
    abortHealthCheck();
    stop();
}

bool TunnelSession::hasChild() const
{
    if (m_child)
        return true;
    return std::any_of(m_staleChildren.cbegin(), m_staleChildren.cend(),
        [](const QPointer<CloudflaredProcess> &child) { return child && child->isRunning(); });
}

void TunnelSession::killChild()
{
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

void TunnelSession::fail(const QString &message)
{
    assign(m_status, TunnelStatus::failed(message));
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::unhealthy(message));
    assign(m_connectedAt, std::optional<QDateTime>());
    append(ActivityLevel::error, message);
}

void TunnelSession::failStart(const QString &message)
{
    assign(m_localHealth, HealthState::unhealthy(message));
    fail(message);
}

void TunnelSession::resetToIdle()
{
    assign(m_status, TunnelStatus::idle());
    assign(m_publicURL, std::optional<QUrl>());
    assign(m_publicHealth, HealthState::inactive());
    assign(m_connectedAt, std::optional<QDateTime>());
    m_edgeConnected = false;
    assign(m_activeProvider, std::optional<TunnelProvider>());
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
    const QStringView view(text);
    qsizetype begin = 0;
    for (qsizetype i = 0; i <= view.size(); ++i) {
        if (i < view.size() && !isLineBreak(view[i]))
            continue;
        const QStringView line = view.sliced(begin, i - begin).trimmed();
        begin = i + 1;
        if (!line.isEmpty())
            interpretLine(line);
    }
}

void TunnelSession::interpretLine(QStringView line)
{
    if (!m_publicURL && line.contains(u"https://")) {
        const QRegularExpressionMatch match = publicUrlPattern().match(line);
        if (match.hasMatch()) {
            assign(m_publicURL, std::optional<QUrl>(QUrl(match.captured(0))));
            append(ActivityLevel::success, QStringLiteral("公网 HTTPS 链接已生成"));
            markOnlineIfReady();
            return;
        }
    }
    if (line.contains(u"Registered tunnel connection")) {
        m_edgeConnected = true;
        const QString message = QStringLiteral("已连接 Cloudflare 边缘网络");
        if (m_activity.isEmpty() || m_activity.constLast().message != message)
            append(ActivityLevel::success, message);
        markOnlineIfReady();
        return;
    }
    if (line.contains(u"Requesting new quick Tunnel")) {
        const QString message = requestMessage();
        if (m_activity.isEmpty() || m_activity.constLast().message != message)
            append(ActivityLevel::info, message);
        return;
    }
    // While a stop is under way the child's complaints about it are noise.
    if (line.contains(u"ERR ") || line.contains(u"error=")) {
        if (m_stopRequested)
            return;
        append(ActivityLevel::error, readableLogLine(line));
        if (line.contains(u"Unable to reach the origin service"))
            assign(m_publicHealth, HealthState::unhealthy(QStringLiteral("Cloudflare 无法访问本地服务")));
        return;
    }
    if (line.contains(u"WRN ") && !m_stopRequested)
        append(ActivityLevel::warning, readableLogLine(line));
}

QString TunnelSession::readableLogLine(QStringView line)
{
    const qsizetype field = line.indexOf(u"error=");
    if (field >= 0) {
        QString text = line.sliced(field).toString();
        text.replace(QStringLiteral("error=\""), QString());
        text.remove(u'"');
        return text;
    }
    for (const QStringView tag : { QStringView(u" ERR "), QStringView(u" WRN ") }) {
        const qsizetype at = line.indexOf(tag);
        if (at >= 0)
            return line.sliced(at + tag.size()).toString();
    }
    return line.toString();
}

void TunnelSession::markOnlineIfReady()
{
    // A registration reported while the child is being stopped must not undo "stopping".
    if (!m_edgeConnected || !m_publicURL || m_stopRequested)
        return;
    assign(m_status, TunnelStatus::online());
    assign(m_connectedAt, std::optional<QDateTime>(QDateTime::currentDateTime()));
    m_startupTimer.stop();
    assign(m_publicHealth, HealthState::checking());
    // Later registrations within the wait share the one check.
    if (!m_postOnlineTimer.isActive())
        m_postOnlineTimer.start();
}

// ---------------------------------------------------------------------------------------------
// Health

void TunnelSession::setPublicProbe(PublicProbe probe)
{
    s_publicProbe = std::move(probe);
}

void TunnelSession::beginMonitoring()
{
    m_healthEnded = false;
    if (m_monitoring)
        return;
    m_monitoring = true;
    // The first check runs as soon as the event loop gets to it.
    m_monitorTimer.start(std::chrono::milliseconds(0));
}

void TunnelSession::handleMonitorTimerTimeout()
{
    // Set first: a check refused by validation ends inside refreshHealth().
    m_monitorAwaitsCheck = true;
    if (refreshHealth())
        return;
    // Dropped because another check runs: pause as if this one had just ended.
    m_monitorAwaitsCheck = false;
    m_monitorTimer.start(m_timings.monitorPause);
}

void TunnelSession::requestImmediateHealthCheck()
{
    m_debounceTimer.start();
}

HealthState TunnelSession::judgePublicProbe(const ProbeOutcome &outcome, bool edgeConnected)
{
    if (!outcome.reachable && edgeConnected)
        return HealthState::unhealthy(QStringLiteral("边缘已连接，但本机网络无法访问公网域名"));
    if (!outcome.reachable)
        return HealthState::unhealthy(outcome.message.isEmpty() ? QStringLiteral("公网链接不可访问") : outcome.message);
    if (outcome.statusCode && *outcome.statusCode >= 500)
        return HealthState::unhealthy(QStringLiteral("公网返回 HTTP %1").arg(*outcome.statusCode));
    return HealthState::healthy();
}

bool TunnelSession::refreshHealth()
{
    if (m_healthCheckInProgress || m_healthEnded)
        return false;
    m_healthCheckInProgress = true;
    m_healthResolver = new OriginResolver(TunnelConfiguration::from(m_profile), m_timings, this);
    connect(m_healthResolver, &OriginResolver::finished, this, &TunnelSession::handleHealthOriginResolved);
    if (const auto error = m_healthResolver->start()) {
        delete m_healthResolver;
        m_healthResolver = nullptr;
        finishLocalFailure(error->description());
    }
    return true;
}

void TunnelSession::finishLocalFailure(const QString &message)
{
    assign(m_localHealth, HealthState::unhealthy(message));
    assign(m_lastCheckedAt, std::optional<QDateTime>(QDateTime::currentDateTime()));
    // Without its origin the public address cannot answer either; it is not probed.
    if (m_status.is(TunnelStatus::Kind::online))
        assign(m_publicHealth, HealthState::unhealthy(localUnreachable));
    finishHealthCheck();
}

void TunnelSession::handleHealthOriginResolved(const std::optional<ResolvedOrigin> &origin)
{
    m_healthResolver->deleteLater();
    m_healthResolver = nullptr;
    if (!origin) {
        finishLocalFailure(localUnreachable);
        return;
    }
    assign(m_localHealth, HealthState::healthy());
    const bool stopped = !m_status.isActive();
    // A running tunnel keeps showing the origin it was launched with.
    if (stopped)
        assign(m_activeOrigin, origin->url);

    if (m_status.is(TunnelStatus::Kind::online) && m_publicURL) {
        if (!m_publicHealth.is(HealthState::Kind::healthy))
            assign(m_publicHealth, HealthState::checking());
        m_publicProbeContext = new QObject(this);
        QPointer<QObject> context = m_publicProbeContext;
        auto done = [this, context](const ProbeOutcome &outcome) {
            if (context && context == m_publicProbeContext)
                handlePublicProbeFinished(outcome);
        };
        if (s_publicProbe) {
            s_publicProbe(*m_publicURL, m_timings.publicProbeTimeout, m_publicProbeContext, std::move(done));
        } else {
            realPublicProbe(*m_publicURL, m_timings.publicProbeTimeout, m_timings.probeGrace, m_publicProbeContext,
                std::move(done));
        }
        return;
    }
    if (stopped)
        assign(m_publicHealth, HealthState::inactive());
    assign(m_lastCheckedAt, std::optional<QDateTime>(QDateTime::currentDateTime()));
    finishHealthCheck();
}

void TunnelSession::handlePublicProbeFinished(const ProbeOutcome &outcome)
{
    m_publicProbeContext->deleteLater();
    m_publicProbeContext = nullptr;
    // A tunnel stopped meanwhile has no public side left to judge.
    if (m_status.is(TunnelStatus::Kind::online))
        assign(m_publicHealth, judgePublicProbe(outcome, m_edgeConnected));
    assign(m_lastCheckedAt, std::optional<QDateTime>(QDateTime::currentDateTime()));
    finishHealthCheck();
}

void TunnelSession::finishHealthCheck()
{
    m_healthCheckInProgress = false;
    if (m_monitorAwaitsCheck) {
        m_monitorAwaitsCheck = false;
        m_monitorTimer.start(m_timings.monitorPause);
    }
    emit healthChecked();
}

void TunnelSession::abortHealthCheck()
{
    delete m_healthResolver;
    m_healthResolver = nullptr;
    delete m_publicProbeContext;
    m_publicProbeContext = nullptr;
    m_healthCheckInProgress = false;
}

// ---------------------------------------------------------------------------------------------
// Locating cloudflared

QStringList TunnelSession::cloudflaredSearchPaths()
{
    if (!s_searchPaths.isEmpty())
        return s_searchPaths;
    return { resourceDirectory() + QStringLiteral("/cloudflared"), QStringLiteral("/opt/homebrew/bin/cloudflared"),
        QStringLiteral("/usr/local/bin/cloudflared"), QStringLiteral("/usr/bin/cloudflared") };
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

QString TunnelSession::installedCloudflaredVersion(std::chrono::milliseconds timeout)
{
    const QString executable = locateCloudflared();
    if (executable.isEmpty())
        return QStringLiteral("未找到");
    const QString unavailable = QStringLiteral("不可用");

    QProcess process;
    process.setProgram(executable);
    process.setArguments({ QStringLiteral("--version") });
    process.setStandardInputFile(QProcess::nullDevice());
    // Unread, a full error pipe would stall the child.
    process.setStandardErrorFile(QProcess::nullDevice());
    CloudflaredProcess::setDeathSignal(process);

    // The one blocking call of the program, so it is bounded: a hanging child is killed.
    QDeadlineTimer deadline(timeout);
    process.start();
    if (!process.waitForStarted(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
        process.kill();
        process.waitForFinished(1000);
        return unavailable;
    }
    if (!process.waitForFinished(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1)))) {
        process.kill();
        process.waitForFinished(1000);
        return unavailable;
    }
    QStringDecoder decoder(QStringConverter::Utf8);
    QString output = decoder.decode(process.readAllStandardOutput());
    if (decoder.hasError())
        output.clear();
    output.remove(QStringLiteral("cloudflared version "));
    return output.section(u' ', 0, 0).trimmed();
}
