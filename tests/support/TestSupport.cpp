#include "TestSupport.h"

#include <QFile>

#include <csignal>

bool writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
}

bool processAlive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

void answerPublicProbes(const ProbeOutcome &outcome)
{
    TunnelSession::setPublicProbe([outcome](const QUrl &, std::chrono::milliseconds, QObject *context,
                                      std::function<void(const ProbeOutcome &)> done) {
        QMetaObject::invokeMethod(
            context, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    });
}
