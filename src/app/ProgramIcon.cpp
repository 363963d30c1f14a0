#include "app/ProgramIcon.h"

#include "base/Resources.h"
#include "ui/style/DeferredIcon.h"

QIcon programIcon()
{
    const QString path = resourcePath(QStringLiteral("orvanta.png"));
    if (path.isEmpty())
        return {};
    return deferredIcon([path] { return QIcon(path); }, { QSize(512, 512) });
}
