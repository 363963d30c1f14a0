#include "ProcessProbe.h"

#include <QFile>
#include <QString>

namespace ProcessProbe {

bool isRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z';
}

QList<qint64> waitingChildren(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<qint64> children;
    for (const QByteArray &child : file.readAll().split(' ')) {
        if (child.trimmed().isEmpty())
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(QString::fromLatin1(child.trimmed())));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith("sleep"))
            children.append(child.trimmed().toLongLong());
    }
    return children;
}

} // namespace ProcessProbe
