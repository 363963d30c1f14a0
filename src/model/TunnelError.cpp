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
    case Kind::quickTunnelRateLimited:
        return QStringLiteral("Cloudflare 暂时限制了本机申请临时隧道（HTTP 429，错误代码 1015），请等几分钟再试");
    case Kind::quickTunnelServiceUnreachable:
        return QStringLiteral("无法连接 Quick Tunnel 服务 api.trycloudflare.com，请检查网络连接、DNS 和防火墙设置");
    case Kind::quickTunnelServiceError:
        return QStringLiteral("Quick Tunnel 服务返回了错误，可能是服务暂时故障，请稍后再试");
    case Kind::quickTunnelRequestUnanswered:
        return QStringLiteral(
            "申请公网地址一直没有回应。Quick Tunnel 不经过 HTTP 代理，如果本机只能通过代理上网则无法使用，"
            "请确认本机可以直接访问外网");
    case Kind::edgeQuicBlocked:
        return QStringLiteral(
            "无法通过 QUIC 连接 Cloudflare 边缘网络：当前网络可能屏蔽了 UDP 7844 端口，请检查防火墙或更换网络");
    case Kind::startupTimedOut:
        return detail.isEmpty() ? QStringLiteral("连接 Cloudflare 超时，请检查网络后重试")
                                : QStringLiteral("连接 Cloudflare 超时：") + detail;
    case Kind::cloudflaredReported:
        return QStringLiteral("cloudflared 报错：") + detail;
    case Kind::cloudflaredExited:
        return QStringLiteral("cloudflared 异常退出（代码 ") + detail + QStringLiteral("）");
    }
    return {};
}
