#pragma once

#include "model/Timings.h"
#include "model/TunnelProfile.h"
#include "session/OriginProbe.h"

#include <QList>
#include <QObject>

#include <optional>

/// \brief The origin that answered, with the scheme that reached it (http or https).
struct ResolvedOrigin
{
    OriginScheme scheme = OriginScheme::http;
    QString url;

    bool operator==(const ResolvedOrigin &) const = default;
};

/// \brief Finds the first candidate origin of a configuration that answers: the chosen scheme, or
/// for automatic plain HTTP first, then HTTPS. Local probes go direct, never through a proxy.
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
    /// Absent when no candidate answered.
    void finished(const std::optional<ResolvedOrigin> &origin);

private:
    struct Candidate
    {
        OriginScheme scheme;
        QString url;
        bool allowInvalidCertificate;
    };

    void probeNext();
    void handleProbeFinished(const ProbeOutcome &outcome);

    const TunnelConfiguration m_configuration;
    const Timings m_timings;
    ProbeNetwork &m_network;
    QList<Candidate> m_candidates;
    qsizetype m_next = 0;
    OriginProbe *m_probe = nullptr;
};
