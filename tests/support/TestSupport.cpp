#include "TestSupport.h"

#include "session/TunnelSession.h"

#include <QFile>
#include <QSettings>
#include <QUuid>

#include <csignal>
#include <sys/stat.h>

using namespace std::chrono_literals;

bool writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        return false;
    file.close();
    return file.setPermissions(
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
}

QStringList activityMessages(const TunnelSession &session)
{
    QStringList messages;
    for (const ActivityEntry &entry : session.activity())
        messages << entry.message;
    return messages;
}

bool processAlive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

int fileMode(const QString &path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

PublicProbe answeringPublicProbe(const ProbeOutcome &outcome)
{
    return [outcome](const QUrl &, std::chrono::milliseconds, QObject *context,
               std::function<void(const ProbeOutcome &)> done) {
        QMetaObject::invokeMethod(
            context, [done, outcome] { done(outcome); }, Qt::QueuedConnection);
    };
}

TunnelProfile localProfile(quint16 port, OriginScheme scheme, bool skipTLSVerification)
{
    return { QUuid::createUuid(), QStringLiteral("demo"), TunnelProvider::cloudflare, scheme,
        QStringLiteral("127.0.0.1"), QString::number(port), skipTLSVerification };
}

Timings quickTimings()
{
    Timings timings;
    timings.killGrace = 400ms;
    timings.postOnlineCheck = timings.monitorPause = 1h;
    timings.healthDebounce = 200ms;
    timings.localProbeTimeout = 1500ms;
    timings.probeGrace = 500ms;
    return timings;
}

QVariantMap settingsOnDisk(const QString &path)
{
    const QString copy = path + QStringLiteral(".copy-") + QUuid::createUuid().toString(QUuid::Id128);
    QFile::copy(path, copy);
    QVariantMap values;
    {
        const QSettings settings(copy, QSettings::IniFormat);
        for (const QString &key : settings.allKeys())
            values.insert(key, settings.value(key));
    }
    QFile::remove(copy);
    return values;
}
