#include "session/CloudflaredLocator.h"

#include "base/Resources.h"

#include <QDir>
#include <QFileInfo>

CloudflaredLocator::CloudflaredLocator(QStringList searchPaths)
    : m_searchPaths(std::move(searchPaths))
{
}

QStringList CloudflaredLocator::searchPaths() const
{
    // The resources are found from the executable's path, known once the application exists.
    if (m_searchPaths)
        return *m_searchPaths;
    return defaultSearchPaths(resourceDirectory(), qEnvironmentVariable("PATH"));
}

QString CloudflaredLocator::locate() const
{
    for (const QString &path : searchPaths()) {
        const QFileInfo info(path);
        if (info.isFile() && info.isExecutable())
            return path;
    }
    return {};
}

QStringList CloudflaredLocator::defaultSearchPaths(const QString &resourceDirectory, const QString &pathVariable)
{
    const QString name = QStringLiteral("/cloudflared");
    QStringList paths { resourceDirectory + name };
    const QStringList directories = pathVariable.split(u':', Qt::SkipEmptyParts)
        + QStringList { QStringLiteral("/usr/local/bin"), QStringLiteral("/usr/bin") };
    for (const QString &directory : directories) {
        // A relative entry would depend on whatever directory the program was started from.
        if (!QDir::isAbsolutePath(directory))
            continue;
        const QString path = QDir::cleanPath(directory + name);
        if (!paths.contains(path))
            paths.append(path);
    }
    return paths;
}
