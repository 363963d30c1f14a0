#include "TunnelProfile.h"

#include <nlohmann/json.hpp>

#include <limits>

using nlohmann::ordered_json;

QString rawValue(OriginScheme scheme)
{
    switch (scheme) {
    case OriginScheme::automatic:
        return QStringLiteral("自动");
    case OriginScheme::http:
        return QStringLiteral("HTTP");
    case OriginScheme::https:
        return QStringLiteral("HTTPS");
    }
    return {};
}

std::optional<OriginScheme> originSchemeFromRawValue(const QString &raw)
{
    for (auto scheme : allOriginSchemes) {
        if (rawValue(scheme) == raw)
            return scheme;
    }
    return std::nullopt;
}

QString rawValue(TunnelProvider)
{
    return QStringLiteral("Cloudflare");
}

TunnelConfiguration TunnelConfiguration::from(const TunnelProfile &profile)
{
    return {profile.scheme, profile.host, profile.portText, profile.skipTLSVerification};
}

std::optional<qint64> parsePortText(const QString &text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate negatively so that the most negative value is representable.
    qint64 value = 0;
    constexpr qint64 lowest = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c - u'0';
        if (value < (lowest + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative)
        return value;
    if (value == lowest)
        return std::nullopt;
    return -value;
}

std::optional<qint64> TunnelConfiguration::port() const
{
    return parsePortText(portText);
}

Result<QString> TunnelConfiguration::validatedAddress() const
{
    const QString trimmed = host.trimmed(); // Unicode white space and line breaks
    if (trimmed.isEmpty())
        return TunnelError::invalidHost();
    for (QChar c : {u' ', u'/', u'\\', u'?', u'#'}) {
        if (trimmed.contains(c))
            return TunnelError::invalidHost();
    }
    const auto number = port();
    if (!number || *number < 1 || *number > 65535)
        return TunnelError::invalidPort();
    const bool bracket = trimmed.contains(u':') && !trimmed.startsWith(u'[');
    const QString address = bracket ? u'[' + trimmed + u']' : trimmed;
    return address + u':' + QString::number(*number);
}

Result<QString> TunnelConfiguration::validatedOriginURL(std::optional<OriginScheme> resolvedScheme) const
{
    auto address = validatedAddress();
    if (!address)
        return address;
    switch (resolvedScheme.value_or(scheme)) {
    case OriginScheme::automatic:
        return TunnelError::protocolDetectionFailed();
    case OriginScheme::http:
        return QStringLiteral("http://") + address.value();
    case OriginScheme::https:
        return QStringLiteral("https://") + address.value();
    }
    return TunnelError::protocolDetectionFailed();
}

Result<QString> TunnelConfiguration::validatedHostHeader() const
{
    return validatedAddress();
}

namespace {

std::string utf8(const QString &text)
{
    return text.toStdString();
}

bool isCanonicalUuidText(const std::string &text)
{
    if (text.size() != 36)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-')
                return false;
        } else if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

std::optional<QString> requiredString(const ordered_json &record, const char *key)
{
    const auto it = record.find(key);
    if (it == record.end() || !it->is_string())
        return std::nullopt;
    return QString::fromStdString(it->get<std::string>());
}

std::optional<TunnelProfile> decodeProfile(const ordered_json &record)
{
    if (!record.is_object())
        return std::nullopt;
    TunnelProfile profile;
    const auto id = requiredString(record, "id");
    if (!id || !isCanonicalUuidText(id->toStdString()))
        return std::nullopt;
    profile.id = QUuid::fromString(*id);
    const auto name = requiredString(record, "name");
    if (!name)
        return std::nullopt;
    profile.name = *name;
    // "provider" is read and ignored whatever it holds: there is one provider.
    const auto schemeText = requiredString(record, "scheme");
    const auto scheme = schemeText ? originSchemeFromRawValue(*schemeText) : std::nullopt;
    if (!scheme)
        return std::nullopt;
    profile.scheme = *scheme;
    const auto host = requiredString(record, "host");
    if (!host)
        return std::nullopt;
    profile.host = *host;
    const auto portText = requiredString(record, "portText");
    if (!portText)
        return std::nullopt;
    profile.portText = *portText;
    const auto skip = record.find("skipTLSVerification");
    if (skip == record.end() || !skip->is_boolean())
        return std::nullopt;
    profile.skipTLSVerification = skip->get<bool>();
    return profile;
}

} // namespace

QByteArray encodeProfiles(const QList<TunnelProfile> &profiles)
{
    ordered_json array = ordered_json::array();
    for (const auto &profile : profiles) {
        ordered_json record;
        record["id"] = utf8(profile.id.toString(QUuid::WithoutBraces).toUpper());
        record["name"] = utf8(profile.name);
        record["provider"] = utf8(rawValue(profile.provider));
        record["scheme"] = utf8(rawValue(profile.scheme));
        record["host"] = utf8(profile.host);
        record["portText"] = utf8(profile.portText);
        record["skipTLSVerification"] = profile.skipTLSVerification;
        array.push_back(std::move(record));
    }
    try {
        return QByteArray::fromStdString(array.dump());
    } catch (const ordered_json::exception &) {
        return {};
    }
}

std::optional<QList<TunnelProfile>> decodeProfiles(const QByteArray &json)
{
    const auto document = ordered_json::parse(json.begin(), json.end(), nullptr, false);
    if (document.is_discarded() || !document.is_array())
        return std::nullopt;
    QList<TunnelProfile> profiles;
    profiles.reserve(qsizetype(document.size()));
    for (const auto &record : document) {
        auto profile = decodeProfile(record);
        if (!profile)
            return std::nullopt;
        profiles.append(std::move(*profile));
    }
    return profiles;
}
