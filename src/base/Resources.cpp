#include "base/Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString resourceDirectory()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/orvanta"));
}

QString resourcePath(const QString &fileName)
{
    const QString path = resourceDirectory() + u'/' + fileName;
    return QFileInfo::exists(path) ? path : QString();
}
