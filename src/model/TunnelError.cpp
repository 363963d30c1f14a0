#include "TunnelError.h"

QString TunnelError::description() const
{
    switch (kind) {
    case Kind::invalidHost:
        return QStringLiteral("请输入有效的 IP 地址或主机名");
    case Kind::invalidPort:
        return QStringLiteral("端口必须在 1 到 65535 之间");
    case Kind::portNotNumber:
        return QStringLiteral("端口必须是数字，例如 3000");
    case Kind::protocolDetectionFailed:
        return QStringLiteral("无法自动识别本地服务是 HTTP 还是 HTTPS");
    case Kind::cloudflaredMissing:
        return QStringLiteral("应用中未找到 cloudflared，请重新运行构建脚本");
    case Kind::originUnavailable:
        return QStringLiteral("无法访问本地服务 ") + detail + QStringLiteral("，请确认服务已启动且协议、端口正确");
    case Kind::launchFailed:
        return QStringLiteral("启动隧道失败：") + detail;
    }
    return {};
}
