#include "session/OriginResolver.h"

#include "session/OriginAdvice.h"

OriginResolver::OriginResolver(
    const TunnelConfiguration &configuration, const Timings &timings, ProbeNetwork &network, QObject *parent)
    : QObject(parent)
    , m_configuration(configuration)
    , m_timings(timings)
    , m_network(network)
{
}

std::optional<TunnelError> OriginResolver::start()
{
    const OriginScheme scheme = m_configuration.scheme;
    for (const OriginScheme candidate : { OriginScheme::http, OriginScheme::https }) {
        if (scheme != OriginScheme::automatic && scheme != candidate)
            continue;
        const auto url = m_configuration.validatedOriginURL(candidate);
        if (!url)
            return url.error();
        (candidate == OriginScheme::http ? m_httpUrl : m_httpsUrl) = url.value();
    }
    probe(scheme == OriginScheme::https ? OriginScheme::https : OriginScheme::http);
    return std::nullopt;
}

void OriginResolver::probe(OriginScheme scheme)
{
    m_probing = scheme;
    const bool https = scheme == OriginScheme::https;
    m_probe = new OriginProbe(m_network, this);
    connect(m_probe, &OriginProbe::finished, this, &OriginResolver::handleProbeFinished);
    // Plain HTTP never involves a certificate, so only HTTPS honours the switch.
    m_probe->start({ https ? m_httpsUrl : m_httpUrl, https && m_configuration.skipTLSVerification,
        m_timings.localProbeTimeout, m_timings.probeGrace, OriginProbe::Route::direct });
}

void OriginResolver::handleProbeFinished(const ProbeOutcome &outcome)
{
    m_probe->deleteLater();
    m_probe = nullptr;
    if (m_probing == OriginScheme::https) {
        handleHttpsAnswer(outcome);
        return;
    }
    if (m_configuration.scheme != OriginScheme::automatic) {
        outcome.reachable ? accept(OriginScheme::http, outcome) : refuse(outcome);
        return;
    }
    if (outcome.reachable && OriginAdvice::asksForHttps(outcome, QUrl(m_httpUrl))) {
        m_httpAnswer = outcome;
        probe(OriginScheme::https);
    } else if (outcome.reachable) {
        accept(OriginScheme::http, outcome);
    } else if (outcome.failure == ProbeOutcome::Failure::silent) {
        // A TLS port refuses a plain request at once; one that keeps silent will not do better over
        // TLS, and a second wait would only double the time the user waits.
        refuse(outcome);
    } else {
        probe(OriginScheme::https);
    }
}

void OriginResolver::handleHttpsAnswer(const ProbeOutcome &outcome)
{
    if (outcome.reachable)
        accept(OriginScheme::https, outcome);
    else if (m_httpAnswer && outcome.failure != ProbeOutcome::Failure::untrustedCertificate)
        accept(OriginScheme::http, *m_httpAnswer); // a plain service that merely dislikes the request
    else
        refuse(outcome);
}

void OriginResolver::accept(OriginScheme scheme, const ProbeOutcome &outcome)
{
    OriginVerdict verdict { ResolvedOrigin { scheme, scheme == OriginScheme::https ? m_httpsUrl : m_httpUrl }, {} };
    if (const QString target = OriginAdvice::strandingRedirect(outcome); !target.isEmpty())
        verdict.problem = OriginAdvice::strandingRedirectText(target);
    emit finished(verdict);
}

void OriginResolver::refuse(const ProbeOutcome &outcome)
{
    OriginVerdict verdict;
    if (outcome.failure == ProbeOutcome::Failure::untrustedCertificate)
        verdict.problem = OriginAdvice::untrustedCertificateText();
    else if (outcome.failure == ProbeOutcome::Failure::silent)
        verdict.problem = OriginAdvice::silentText(
            QUrl(m_probing == OriginScheme::https ? m_httpsUrl : m_httpUrl).authority(), m_timings.localProbeTimeout);
    emit finished(verdict);
}
