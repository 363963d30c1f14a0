#pragma once

#include "TunnelError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUuid>

#include <array>
#include <optional>

/// \brief The protocol the local service speaks. The raw value is both the picker label and the stored value.
enum class OriginScheme {
    automatic,
    http,
    https,
};

inline constexpr std::array allOriginSchemes{OriginScheme::automatic, OriginScheme::http, OriginScheme::https};

QString rawValue(OriginScheme scheme);
std::optional<OriginScheme> originSchemeFromRawValue(const QString &raw);

enum class TunnelProvider {
    cloudflare,
};

QString rawValue(TunnelProvider provider);

/// \brief The saved description of one service, fields exactly as the user typed them.
struct TunnelProfile
{
    QUuid id;
    QString name;
    TunnelProvider provider = TunnelProvider::cloudflare;
    OriginScheme scheme = OriginScheme::automatic;
    QString host;
    QString portText;
    bool skipTLSVerification = false;

    bool operator==(const TunnelProfile &) const = default;
};

/// \brief The origin settings of a profile, validated when an origin is needed.
///
/// Both results carry the host in one form that URL parsing and cloudflared read alike: a lower-case
/// ASCII name (IDN in its ACE form), a dotted-decimal IPv4 address or a bracketed IPv6 address. Anything
/// else, however lenient a parser would be with it, is an invalid host.
struct TunnelConfiguration
{
    OriginScheme scheme = OriginScheme::automatic;
    QString host;
    QString portText;
    bool skipTLSVerification = false;

    static TunnelConfiguration from(const TunnelProfile &profile);

    /// The port text, without surrounding white space, read as a signed 64-bit decimal integer; range not checked.
    std::optional<qint64> port() const;

    /// "scheme://host:port"; the argument, when given, replaces `scheme`.
    Result<QString> validatedOriginURL(std::optional<OriginScheme> resolvedScheme = std::nullopt) const;
    /// "host:port".
    Result<QString> validatedHostHeader() const;

    bool operator==(const TunnelConfiguration &) const = default;

private:
    Result<QString> validatedAddress() const;
};

/// Exact grammar: optional single sign, one or more ASCII digits, nothing else.
std::optional<qint64> parsePortText(const QString &text);

/// The compact JSON array stored under "tunnelProfilesV2"; empty when the list cannot be encoded.
QByteArray encodeProfiles(const QList<TunnelProfile> &profiles);
/// Strict decoding: one bad record fails the whole array.
std::optional<QList<TunnelProfile>> decodeProfiles(const QByteArray &json);
