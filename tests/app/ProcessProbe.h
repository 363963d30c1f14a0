#pragma once

#include <QFile>

/// \brief What /proc says about processes, for tests that check children really end.
namespace ProcessProbe {

/// Neither gone nor a zombie waiting to be reaped.
inline bool isRunning(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray line = pid > 0 && stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    const qsizetype close = line.lastIndexOf(')');
    return close > 0 && line.size() > close + 2 && line.at(close + 2) != 'Z';
}

/// Children of \a pid's main thread whose program is `sleep`: fake tunnels that are up and waiting.
inline QList<qint64> waitingChildren(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
    QList<qint64> children;
    for (const QByteArray &child : file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QByteArrayList()) {
        const qint64 id = child.trimmed().toLongLong();
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(id));
        if (id > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith("sleep"))
            children.append(id);
    }
    return children;
}

} // namespace ProcessProbe
