#pragma once

#include "model/Timings.h"
#include "model/TunnelProfile.h"
#include "session/OriginProbe.h"

#include <QObject>

#include <optional>

/// \brief The origin that answered, with the scheme that reached it (http or https).
struct ResolvedOrigin
{
    OriginScheme scheme = OriginScheme::http;
    QString url;

    bool operator==(const ResolvedOrigin &) const = default;
};

/// \brief What the local probes concluded.
struct OriginVerdict
{
    std::optional<ResolvedOrigin> origin; ///< absent when no origin serves visitors
    /// With an origin: what visitors would get wrong from it. Without: why none serves, or empty when
    /// nothing answered at all.
    QString problem;

    bool operator==(const OriginVerdict &) const = default;
};

/// \brief Finds the origin of a configuration that serves visitors: the chosen scheme, or for
/// automatic plain HTTP first, then HTTPS when HTTP does not answer or its answer asks for HTTPS.
/// Local probes go direct, never through a proxy.
///
/// Deleting the resolver aborts the probe in flight without a word.
class OriginResolver : public QObject
{
    Q_OBJECT

public:
    OriginResolver(const TunnelConfiguration &configuration, const Timings &timings, ProbeNetwork &network,
        QObject *parent = nullptr);

    /// Validates the candidates, then starts probing. An invalid host or port is returned at once
    /// and no request is sent; otherwise finished() follows.
    std::optional<TunnelError> start();

signals:
    void finished(const OriginVerdict &verdict);

private:
    void probe(OriginScheme scheme);
    void handleProbeFinished(const ProbeOutcome &outcome);
    void handleHttpsAnswer(const ProbeOutcome &outcome);
    void accept(OriginScheme scheme, const ProbeOutcome &outcome);
    void refuse(const ProbeOutcome &outcome);

    const TunnelConfiguration m_configuration;
    const Timings m_timings;
    ProbeNetwork &m_network;
    QString m_httpUrl;
    QString m_httpsUrl;
    OriginScheme m_probing = OriginScheme::http;
    /// The plain-HTTP answer that asked for HTTPS; it stands when HTTPS turns out not to work.
    std::optional<ProbeOutcome> m_httpAnswer;
    OriginProbe *m_probe = nullptr;
};
