#include "session/OriginResolver.h"

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
    const bool skip = m_configuration.skipTLSVerification;
    QList<Candidate> candidates;
    if (m_configuration.scheme == OriginScheme::automatic) {
        // Plain HTTP never involves a certificate, so only the HTTPS attempt honours the switch.
        candidates = { { OriginScheme::http, {}, false }, { OriginScheme::https, {}, skip } };
    } else {
        const bool https = m_configuration.scheme == OriginScheme::https;
        candidates = { { m_configuration.scheme, {}, https && skip } };
    }
    for (Candidate &candidate : candidates) {
        const auto url = m_configuration.validatedOriginURL(candidate.scheme);
        if (!url)
            return url.error();
        candidate.url = url.value();
    }
    m_candidates = candidates;
    probeNext();
    return std::nullopt;
}

void OriginResolver::probeNext()
{
    const Candidate &candidate = m_candidates.at(m_next);
    m_probe = new OriginProbe(m_network, this);
    connect(m_probe, &OriginProbe::finished, this, &OriginResolver::handleProbeFinished);
    m_probe->start({ candidate.url, candidate.allowInvalidCertificate, m_timings.localProbeTimeout,
        m_timings.probeGrace, OriginProbe::Route::direct });
}

void OriginResolver::handleProbeFinished(const ProbeOutcome &outcome)
{
    m_probe->deleteLater();
    m_probe = nullptr;
    const Candidate candidate = m_candidates.at(m_next++);
    if (outcome.reachable) {
        emit finished(ResolvedOrigin { candidate.scheme, candidate.url });
        return;
    }
    if (m_next < m_candidates.size()) {
        probeNext();
        return;
    }
    emit finished(std::nullopt);
}
