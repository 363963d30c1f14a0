#include "gate/GateLocator.h"

#include "base/Resources.h"
#include "session/CloudflaredLocator.h"

#include <QFileInfo>

GateLocator::GateLocator(QStringList searchPaths)
    : m_searchPaths(std::move(searchPaths))
{
}

QString GateLocator::locate() const
{
    QStringList paths;
    if (m_searchPaths) {
        paths = *m_searchPaths;
    } else {
        // The same folders, in the same order, as for cloudflared.
        for (const QString &path :
            CloudflaredLocator::defaultSearchPaths(resourceDirectory(), qEnvironmentVariable("PATH")))
            paths.append(QFileInfo(path).path() + QStringLiteral("/caddy"));
    }
    return CloudflaredLocator(paths).locate();
}

QString GateLocator::unavailableMessage()
{
    return QStringLiteral("未找到 Caddy，访问密码与访问记录不可用：请用 make build 重新构建（会自动获取 Caddy），"
                          "或安装 Debian 的 caddy 软件包");
}
