#pragma once

#include "model/TunnelProfile.h"
#include "session/OriginProbe.h"

#include <QString>
#include <QUrl>

#include <chrono>

/// \brief How the first answer of a local service looks from a visitor's side of the tunnel, and the
/// texts that tell the user what to do about it. Pure functions.
class OriginAdvice
{
public:
    OriginAdvice() = delete;

    /// A plain-HTTP answer that a TLS port gives (400), or a redirect to https:// on the very host
    /// and port that was asked: the service wants HTTPS.
    static bool asksForHttps(const ProbeOutcome &outcome, const QUrl &asked);

    /// The address of a redirect that would take visitors to their own machine or network (loopback,
    /// private and link-local addresses, "localhost", names that only resolve locally); empty when
    /// the answer is no such redirect. A relative Location stays on the public address and is fine.
    static QString strandingRedirect(const ProbeOutcome &outcome);

    /// Whether a host (a name or an address, IPv6 without brackets) is out of reach from the internet.
    static bool isLocalHost(const QString &host);

    static QString untrustedCertificateText();
    static QString silentText(const QString &address, std::chrono::milliseconds timeout);
    static QString strandingRedirectText(const QString &target);
    /// Empty when the tunnel forwards with the scheme the service needs now.
    static QString schemeMismatchText(const QString &launchedOrigin, OriginScheme needed);
};
