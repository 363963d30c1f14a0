#include "session/OriginAdvice.h"

#include <QHostAddress>

#include <array>
#include <utility>

bool OriginAdvice::asksForHttps(const ProbeOutcome &outcome, const QUrl &asked)
{
    if (!outcome.reachable || !outcome.statusCode)
        return false;
    if (*outcome.statusCode == 400)
        return true;
    if (*outcome.statusCode < 300 || *outcome.statusCode > 399)
        return false;
    const QUrl target(outcome.location);
    return target.scheme().compare(u"https", Qt::CaseInsensitive) == 0
        && target.host().compare(asked.host(), Qt::CaseInsensitive) == 0 && target.port(443) == asked.port(80);
}

QString OriginAdvice::strandingRedirect(const ProbeOutcome &outcome)
{
    if (!outcome.reachable || !outcome.statusCode || *outcome.statusCode < 300 || *outcome.statusCode > 399)
        return {};
    const QUrl target(outcome.location.trimmed());
    if (!target.isValid() || target.host().isEmpty() || !isLocalHost(target.host()))
        return {};
    return target.toString();
}

bool OriginAdvice::isLocalHost(const QString &host)
{
    QString name = host.toLower();
    if (name.endsWith(u'.'))
        name.chop(1);
    QHostAddress address;
    if (address.setAddress(name)) {
        bool mapped = false;
        const quint32 v4 = address.toIPv4Address(&mapped);
        if (mapped)
            address = QHostAddress(v4);
        if (address.isLoopback() || address.isLinkLocal() || address.isUniqueLocalUnicast() || address.isSiteLocal()
            || address.isNull() || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
            return true;
        // Private ranges and the carrier-grade NAT range, which no visitor reaches from outside.
        static const std::array<std::pair<QHostAddress, int>, 4> privateNets { {
            { QHostAddress(QStringLiteral("10.0.0.0")), 8 },
            { QHostAddress(QStringLiteral("172.16.0.0")), 12 },
            { QHostAddress(QStringLiteral("192.168.0.0")), 16 },
            { QHostAddress(QStringLiteral("100.64.0.0")), 10 },
        } };
        for (const auto &[net, prefix] : privateNets) {
            if (address.isInSubnet(net, prefix))
                return true;
        }
        return false;
    }
    if (!name.contains(u'.') || name == u"localhost")
        return true;
    for (const char16_t *suffix : { u".localhost", u".local", u".lan", u".internal", u".home.arpa" }) {
        if (name.endsWith(QStringView(suffix)))
            return true;
    }
    return false;
}

QString OriginAdvice::untrustedCertificateText()
{
    return QStringLiteral("本地 HTTPS 服务的证书未通过验证（自签名或不受信任）。如果这是你自己的服务，"
                          "请在“HTTPS / 自动检测选项”中打开“允许本地自签名证书”");
}

QString OriginAdvice::silentText(const QString &address, std::chrono::milliseconds timeout)
{
    return QStringLiteral("本地端口 %1 接受了连接，但 %2 秒内没有应答，请检查服务是否卡住，或端口是否被其他程序占用")
        .arg(address, QString::number(double(timeout.count()) / 1000.0));
}

QString OriginAdvice::strandingRedirectText(const QString &target)
{
    return QStringLiteral("本地服务把访问者重定向到 %1，这是本机或内网地址，公网访问者会被带到他们自己的电脑而无法打开")
        .arg(target);
}

QString OriginAdvice::schemeMismatchText(const QString &launchedOrigin, OriginScheme needed)
{
    const bool launchedHttps = QUrl(launchedOrigin).scheme() == u"https";
    if (launchedHttps == (needed == OriginScheme::https))
        return {};
    return QStringLiteral("隧道按 %1 转发，但本地服务现在需要 %2，访问者会看到错误页；请重新启动隧道")
        .arg(launchedHttps ? QStringLiteral("HTTPS") : QStringLiteral("HTTP"), rawValue(needed));
}
