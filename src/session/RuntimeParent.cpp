#include "session/RuntimeParent.h"

#include "base/DurableFile.h"
#include "base/Logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::optional<struct stat> directoryStatus(const QString &path)
{
    struct stat info = {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return std::nullopt;
    return info;
}

QString temporaryDirectory(QString *error)
{
    // QDir::tempPath() is empty while the directory named by TMPDIR does not exist.
    QString temp = QDir::tempPath();
    if (temp.isEmpty()) {
        errno = ENOENT;
        const QString wanted = qEnvironmentVariable("TMPDIR");
        if (!wanted.isEmpty() && QDir().mkpath(wanted))
            temp = QDir::tempPath();
    }
    if (temp.isEmpty())
        *error = QString::fromLocal8Bit(std::strerror(errno));
    return temp;
}

/// Field 22 of /proc/<pid>/stat, in clock ticks since boot: with the pid it names one process, whereas a
/// pid alone may have been given to another process since.
std::optional<QByteArray> startTime(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The command name in parentheses may hold spaces; the fields after it do not.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 1).simplified().split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    return fields.at(19);
}

QByteArray ownerRecord(qint64 pid)
{
    return QByteArray::number(pid) + ' ' + startTime(pid).value_or("0") + '\n';
}

/// Whether the owner file in \a directory names a live process; absent when it cannot be read.
std::optional<bool> ownerAlive(const QString &directory)
{
    QFile file(directory + u'/' + RuntimeParent::ownerFileName);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> fields = file.read(64).trimmed().split(' ');
    bool ok = false;
    const qint64 pid = fields.first().toLongLong(&ok);
    if (fields.size() != 2 || !ok || pid <= 0)
        return std::nullopt;
    return ownerRecord(pid).trimmed() == fields.join(' ');
}

} // namespace

namespace RuntimeParent {

bool isSafeTemporary(uid_t owner, mode_t mode, uid_t user)
{
    const bool trustedOwner = owner == user || owner == 0;
    const bool othersMayRename = (mode & (S_IWGRP | S_IWOTH)) != 0 && (mode & S_ISVTX) == 0;
    return trustedOwner && !othersMayRename;
}

std::optional<QString> choose(QString *error)
{
    const uid_t user = ::geteuid();
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (const auto info = directoryStatus(runtime); info && info->st_uid == user && (info->st_mode & 07777) == 0700)
        return runtime;

    const QString temp = temporaryDirectory(error);
    if (temp.isEmpty())
        return std::nullopt;
    const auto info = directoryStatus(temp);
    if (!info) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    if (!isSafeTemporary(info->st_uid, info->st_mode, user)) {
        *error = QStringLiteral("临时文件夹“%1”可被其他用户改动，为安全起见不在其中启动隧道。"
                                "请将 TMPDIR 设为只有你能写入的文件夹后重试")
                     .arg(QDir::toNativeSeparators(temp));
        return std::nullopt;
    }
    return temp;
}

} // namespace RuntimeParent

namespace RuntimeParent {

bool recordOwner(const QString &directory, QString *error)
{
    return DurableFile::write(
        directory + u'/' + ownerFileName, ownerRecord(QCoreApplication::applicationPid()), 0600, error);
}

int removeAbandonedIn(const QString &parent, uid_t user, std::chrono::seconds unownedAge)
{
    int removed = 0;
    const QDateTime unownedBefore = QDateTime::currentDateTimeUtc().addSecs(-unownedAge.count());
    // Matched by hand: a name filter would compile a regular expression for this alone.
    const auto entries = QDir(parent).entryInfoList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (!entry.fileName().startsWith(u"orvanta-runtime-"))
            continue;
        struct stat info = {};
        // Not a link to somewhere else, and this user's: in a shared temporary folder others have theirs.
        if (::lstat(QFile::encodeName(entry.absoluteFilePath()).constData(), &info) != 0 || !S_ISDIR(info.st_mode)
            || info.st_uid != user)
            continue;
        const std::optional<bool> alive = ownerAlive(entry.absoluteFilePath());
        if (alive ? *alive : entry.lastModified().toUTC() > unownedBefore)
            continue;
        if (QDir(entry.absoluteFilePath()).removeRecursively())
            ++removed;
    }
    return removed;
}

int removeAbandoned()
{
    QStringList parents;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (directoryStatus(runtime))
        parents << QDir(runtime).canonicalPath();
    const QString temp = QDir::tempPath();
    if (!temp.isEmpty() && !parents.contains(QDir(temp).canonicalPath()))
        parents << QDir(temp).canonicalPath();
    int removed = 0;
    for (const QString &parent : std::as_const(parents))
        removed += removeAbandonedIn(parent, ::geteuid(), std::chrono::minutes(1));
    if (removed > 0)
        qCInfo(lcSession) << "removed" << removed << "runtime directories of tunnels whose program had ended";
    return removed;
}

} // namespace RuntimeParent
