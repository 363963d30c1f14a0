#include "session/HealthMonitor.h"

#include "session/OriginAdvice.h"
#include "session/OriginResolver.h"
#include "session/TunnelSession.h"

#include <QPointer>

namespace {

const QString localUnreachable = QStringLiteral("本地服务不可访问");

void probeThroughNetwork(ProbeNetwork &network, const QUrl &url, std::chrono::milliseconds timeout,
    std::chrono::milliseconds grace, QObject *context, std::function<void(const ProbeOutcome &)> done)
{
    auto *probe = new OriginProbe(network, context);
    QObject::connect(
        probe, &OriginProbe::finished, context, [probe, done = std::move(done)](const ProbeOutcome &outcome) {
            probe->deleteLater();
            done(outcome);
        });
    // The public address is on the internet: the user's proxy settings apply.
    probe->start({ url.toString(), false, timeout, grace, OriginProbe::Route::systemProxy });
}

} // namespace

HealthMonitor::HealthMonitor(TunnelSession &session, const SessionDependencies &dependencies)
    : m_session(session)
    , m_timings(dependencies.timings)
    , m_publicProbe(dependencies.publicProbe)
    , m_network(dependencies.network)
{
    for (QTimer *timer : { &m_monitorTimer, &m_debounceTimer, &m_postOnlineTimer })
        timer->setSingleShot(true);
    m_monitorTimer.setInterval(m_timings.monitorPause);
    m_debounceTimer.setInterval(m_timings.healthDebounce);
    m_postOnlineTimer.setInterval(m_timings.postOnlineCheck);
    connect(&m_monitorTimer, &QTimer::timeout, this, &HealthMonitor::handleMonitorTimerTimeout);
    connect(&m_debounceTimer, &QTimer::timeout, this, &HealthMonitor::refresh);
    connect(&m_postOnlineTimer, &QTimer::timeout, this, &HealthMonitor::refresh);
}

HealthMonitor::~HealthMonitor()
{
    // Probes go while the session they report to is still whole.
    abort();
}

void HealthMonitor::begin()
{
    m_ended = false;
    if (m_monitoring)
        return;
    m_monitoring = true;
    // Services that begin together (all of them at start-up) do not all check at once.
    m_monitorTimer.start(m_network->firstCheckDelay(m_timings.firstCheckSpacing));
}

void HealthMonitor::requestCheck()
{
    m_debounceTimer.start();
}

void HealthMonitor::checkAfterOnline()
{
    if (!m_postOnlineTimer.isActive())
        m_postOnlineTimer.start();
}

void HealthMonitor::end()
{
    m_monitoring = false;
    m_monitorAwaitsCheck = false;
    m_ended = true;
    m_monitorTimer.stop();
    m_debounceTimer.stop();
    m_postOnlineTimer.stop();
    abort();
}

HealthState HealthMonitor::judgePublicProbe(const ProbeOutcome &outcome, bool edgeConnected)
{
    if (!outcome.reachable && edgeConnected)
        return HealthState::unhealthy(QStringLiteral("边缘已连接，但本机网络无法访问公网域名"));
    if (!outcome.reachable)
        return HealthState::unhealthy(outcome.message.isEmpty() ? QStringLiteral("公网链接不可访问") : outcome.message);
    if (outcome.statusCode && *outcome.statusCode >= 500)
        return HealthState::unhealthy(QStringLiteral("公网返回 HTTP %1").arg(*outcome.statusCode));
    return HealthState::healthy();
}

void HealthMonitor::handleMonitorTimerTimeout()
{
    // Set first: a check refused by validation ends inside refresh().
    m_monitorAwaitsCheck = true;
    if (refresh())
        return;
    // Dropped because another check runs: pause as if this one had just ended.
    m_monitorAwaitsCheck = false;
    m_monitorTimer.start(m_timings.monitorPause);
}

bool HealthMonitor::refresh()
{
    if (m_inProgress || m_ended)
        return false;
    m_inProgress = true;
    m_ticket = m_network->enqueue([this] { runCheck(); });
    return true;
}

void HealthMonitor::runCheck()
{
    // The profile as it is when the turn comes: edits made while waiting count.
    m_resolver = new OriginResolver(TunnelConfiguration::from(m_session.profile()), m_timings, *m_network, this);
    connect(m_resolver, &OriginResolver::finished, this, &HealthMonitor::handleOriginResolved);
    if (const auto error = m_resolver->start()) {
        delete m_resolver;
        m_resolver = nullptr;
        finishLocalFailure(error->description());
    }
}

void HealthMonitor::finishLocalFailure(const QString &message)
{
    m_session.setLocalHealth(HealthState::unhealthy(message));
    m_session.setLastCheckedAt(QDateTime::currentDateTime());
    // Without its origin the public address cannot answer either; it is not probed.
    if (m_session.status().is(TunnelStatus::Kind::online))
        m_session.setPublicHealth(HealthState::unhealthy(localUnreachable));
    finish();
}

void HealthMonitor::handleOriginResolved(const OriginVerdict &verdict)
{
    m_resolver->deleteLater();
    m_resolver = nullptr;
    if (!verdict.origin) {
        finishLocalFailure(verdict.problem.isEmpty() ? localUnreachable : verdict.problem);
        return;
    }
    m_session.setLocalHealth(
        verdict.problem.isEmpty() ? HealthState::healthy() : HealthState::unhealthy(verdict.problem));
    const bool stopped = !m_session.status().isActive();
    // A running tunnel keeps showing the origin it was launched with.
    if (stopped)
        m_session.setActiveOrigin(verdict.origin->url);

    if (m_session.status().is(TunnelStatus::Kind::online) && m_session.publicURL()) {
        // The public address answers whatever the origin gives cloudflared; a page visitors cannot
        // use must not pass for health.
        const QString wrong = verdict.problem.isEmpty()
            ? OriginAdvice::schemeMismatchText(m_session.activeOrigin(), verdict.origin->scheme)
            : verdict.problem;
        if (!wrong.isEmpty()) {
            m_session.setPublicHealth(HealthState::unhealthy(wrong));
            m_session.setLastCheckedAt(QDateTime::currentDateTime());
            finish();
            return;
        }
        if (!m_session.publicHealth().is(HealthState::Kind::healthy))
            m_session.setPublicHealth(HealthState::checking());
        probePublicAddress(*m_session.publicURL());
        return;
    }
    if (stopped)
        m_session.setPublicHealth(HealthState::inactive());
    m_session.setLastCheckedAt(QDateTime::currentDateTime());
    finish();
}

void HealthMonitor::probePublicAddress(const QUrl &url)
{
    m_publicProbeContext = new QObject(this);
    const QPointer<QObject> context = m_publicProbeContext;
    auto done = [this, context](const ProbeOutcome &outcome) {
        if (context && context == m_publicProbeContext)
            handlePublicProbeFinished(outcome);
    };
    if (m_publicProbe)
        m_publicProbe(url, m_timings.publicProbeTimeout, m_publicProbeContext, std::move(done));
    else
        probeThroughNetwork(
            *m_network, url, m_timings.publicProbeTimeout, m_timings.probeGrace, m_publicProbeContext, std::move(done));
}

void HealthMonitor::handlePublicProbeFinished(const ProbeOutcome &outcome)
{
    m_publicProbeContext->deleteLater();
    m_publicProbeContext = nullptr;
    // A tunnel stopped meanwhile has no public side left to judge.
    if (m_session.status().is(TunnelStatus::Kind::online))
        m_session.setPublicHealth(judgePublicProbe(outcome, m_session.m_edgeConnected));
    m_session.setLastCheckedAt(QDateTime::currentDateTime());
    finish();
}

void HealthMonitor::finish()
{
    releaseTurn();
    m_inProgress = false;
    if (m_monitorAwaitsCheck) {
        m_monitorAwaitsCheck = false;
        m_monitorTimer.start(m_timings.monitorPause);
    }
    emit checked();
}

void HealthMonitor::abort()
{
    delete m_resolver;
    m_resolver = nullptr;
    delete m_publicProbeContext;
    m_publicProbeContext = nullptr;
    releaseTurn();
    m_inProgress = false;
}

void HealthMonitor::releaseTurn()
{
    if (m_ticket)
        m_network->release(*m_ticket);
    m_ticket.reset();
}
