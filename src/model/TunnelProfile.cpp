#include "TunnelProfile.h"

#include <nlohmann/json.hpp>

#include <QHostAddress>
#include <QUrl>

#include <algorithm>
#include <cctype>
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
    // Blanks around a pasted number are no part of it.
    return parsePortText(portText.trimmed());
}

namespace {

bool isAsciiDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Characters a reader may silently drop or fold into another (invisible, control, compatibility forms such
// as full-width or superscript digits) would make the probe and cloudflared read different hosts.
bool hasAmbiguousCharacter(const QString &host)
{
    for (const char32_t c : host.toUcs4()) {
        switch (QChar::category(c)) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Other_Surrogate:
        case QChar::Other_PrivateUse:
        case QChar::Other_NotAssigned:
        case QChar::Separator_Space:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
        case QChar::Number_Letter:
        case QChar::Number_Other:
            return true;
        case QChar::Number_DecimalDigit:
            if (c > 0x7f)
                return true;
            break;
        default:
            break;
        }
    }
    return host.normalized(QString::NormalizationForm_KC) != host.normalized(QString::NormalizationForm_C);
}

// Only the strict four-part decimal form: inet_aton and URL parsers read 127.1, 2130706433 and 0177.0.0.1
// as addresses while other readers take them for names.
std::optional<QString> dottedDecimal(const QString &host)
{
    const QStringList parts = host.split(u'.');
    if (parts.size() != 4)
        return std::nullopt;
    for (const QString &part : parts) {
        if (!isAsciiDigits(part) || part.size() > 3 || (part.size() > 1 && part.startsWith(u'0')) || part.toInt() > 255)
            return std::nullopt;
    }
    return host;
}

std::optional<QString> bracketedIPv6(QStringView inner)
{
    const bool plain = std::all_of(inner.begin(), inner.end(),
        [](QChar c) { return c == u':' || c == u'.' || (c.unicode() < 0x80 && std::isxdigit(c.unicode())); });
    const QHostAddress address(inner.toString());
    if (!plain || address.protocol() != QAbstractSocket::IPv6Protocol)
        return std::nullopt;
    return u'[' + address.toString() + u']';
}

std::optional<QString> hostName(const QString &host)
{
    if (hasAmbiguousCharacter(host))
        return std::nullopt;
    const QString ace = QString::fromLatin1(QUrl::toAce(host)).toLower();
    if (ace.isEmpty() || ace.size() > 253)
        return std::nullopt;
    const QStringList labels = ace.split(u'.');
    for (const QString &label : labels) {
        const bool letters = std::all_of(label.begin(), label.end(),
            [](QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-'; });
        if (!letters || label.isEmpty() || label.size() > 63 || label.startsWith(u'-') || label.endsWith(u'-'))
            return std::nullopt;
    }
    // A name ending in a number is an address to URL parsers, so it must be one in full.
    const QString &last = labels.last();
    if (isAsciiDigits(last) || last.startsWith(u"0x"))
        return dottedDecimal(ace);
    return ace;
}

/// The host as the origin URL and the host header carry it, or absent when it is none of the accepted forms.
std::optional<QString> addressForm(const QString &host)
{
    const QString trimmed = host.trimmed(); // Unicode white space and line breaks
    if (trimmed.startsWith(u'[')) {
        if (!trimmed.endsWith(u']'))
            return std::nullopt;
        return bracketedIPv6(QStringView(trimmed).sliced(1, trimmed.size() - 2));
    }
    if (trimmed.contains(u':'))
        return bracketedIPv6(trimmed);
    return hostName(trimmed);
}

} // namespace

Result<QString> TunnelConfiguration::validatedAddress() const
{
    const auto address = addressForm(host);
    if (!address)
        return TunnelError::invalidHost();
    const auto number = port();
    if (!number) {
        // Digits too many for any integer are still a number, only far out of range.
        const QString text = portText.trimmed();
        const QStringView digits = text.startsWith(u'+') || text.startsWith(u'-') ? QStringView(text).sliced(1) : text;
        return isAsciiDigits(digits) ? TunnelError::invalidPort() : TunnelError::portNotNumber();
    }
    if (*number < 1 || *number > 65535)
        return TunnelError::invalidPort();
    return *address + u':' + QString::number(*number);
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
