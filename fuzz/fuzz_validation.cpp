// Host and port as a user may type or paste them (the input is "host\0port"): validation must never
// crash, and an origin it accepts must be a URL that a URL parser reads back to exactly the host and
// port that cloudflared is given in the host header.

#include "model/TunnelProfile.h"

#include <QUrl>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype split = input.indexOf('\0');
    TunnelProfile profile;
    profile.host = QString::fromUtf8(split < 0 ? input : input.first(split));
    profile.portText = split < 0 ? QString() : QString::fromUtf8(input.sliced(split + 1));
    const TunnelConfiguration configuration = TunnelConfiguration::from(profile);
    const auto header = configuration.validatedHostHeader();
    for (const OriginScheme scheme : { OriginScheme::http, OriginScheme::https }) {
        const auto origin = configuration.validatedOriginURL(scheme);
        if (origin.ok() != header.ok())
            std::abort();
        if (!origin.ok())
            continue;
        const QUrl url(origin.value(), QUrl::StrictMode);
        const auto port = configuration.port();
        if (!url.isValid() || url.host().isEmpty() || !port || url.port() != *port)
            std::abort();
        QString host = header.value().left(header.value().lastIndexOf(u':'));
        if (host.startsWith(u'['))
            host = host.sliced(1, host.size() - 2);
        if (url.host(QUrl::FullyEncoded) != host)
            std::abort();
    }
    return 0;
}
