#include "base/DurableFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QScopeGuard>
#include <QSettings>
#include <QSysInfo>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool fail(QString *error, const QString &description)
{
    if (error)
        *error = description;
    return false;
}

bool failWithErrno(QString *error)
{
    return fail(error, QString::fromLocal8Bit(std::strerror(errno)));
}

bool syncPath(const QByteArray &path, int flags)
{
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// The rename itself lives in the folder: without this a power loss may bring back the old file.
bool syncFolderOf(const QString &path)
{
    return syncPath(QFile::encodeName(QFileInfo(path).absolutePath()), O_RDONLY | O_DIRECTORY);
}

bool replace(const QString &from, const QString &to, QString *error)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return failWithErrno(error);
    return syncFolderOf(to) || failWithErrno(error);
}

bool sameValue(const QVariant &read, const QVariant &expected)
{
    if (read == expected)
        return true;
    // An INI file gives numbers and booleans back as text.
    return expected.typeId() != QMetaType::QByteArray && read.typeId() == QMetaType::QString
        && read.toString() == expected.toString();
}

bool holdsExactly(const QSettings &settings, const QVariantMap &values)
{
    if (settings.status() != QSettings::NoError || settings.allKeys().size() != values.size())
        return false;
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        if (!sameValue(settings.value(it.key()), it.value()))
            return false;
    }
    return true;
}

bool ownedByUser(const QFileInfo &info)
{
    return info.ownerId() == ::getuid();
}

/// What follows "<name>." in a leftover of ours: Qt's and mkostemp's temporaries end in six letters
/// or digits; ours name their stage, then twelve hex digits, with the lock of the stage maybe.
bool isLeftoverSuffix(QStringView suffix)
{
    const auto all = [](QStringView text, QLatin1StringView allowed) {
        return std::all_of(text.begin(), text.end(), [allowed](QChar c) { return allowed.contains(c); });
    };
    static constexpr QLatin1StringView alphanumeric("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    if (suffix.size() == 6)
        return all(suffix, alphanumeric);
    if (suffix.endsWith(u".lock"))
        suffix.chop(5);
    for (QStringView stage : { QStringView(u"saving-"), QStringView(u"checking-") }) {
        if (suffix.startsWith(stage) && suffix.size() == stage.size() + 12)
            return all(suffix.mid(stage.size()), QLatin1StringView("0123456789abcdef"));
    }
    return false;
}

bool lockHasLiveOwner(const QString &lockPath)
{
    qint64 pid = 0;
    QString host;
    QString application;
    if (!QLockFile(lockPath).getLockInfo(&pid, &host, &application))
        return false;
    if (host != QSysInfo::machineHostName())
        return true; // cannot tell from here
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

} // namespace

bool DurableFile::write(const QString &path, QByteArrayView data, int mode, QString *error)
{
    QByteArray temporary = QFile::encodeName(path) + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return failWithErrno(error);
    auto cleanup = qScopeGuard([&] {
        if (fd >= 0)
            ::close(fd);
        ::unlink(temporary.constData());
    });
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0)
        return failWithErrno(error);
    const char *next = data.data();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return failWithErrno(error);
        next += written;
        left -= written;
    }
    if (::fsync(fd) != 0)
        return failWithErrno(error);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return failWithErrno(error);
    if (!replace(QFile::decodeName(temporary), path, error))
        return false;
    cleanup.dismiss();
    return true;
}

bool DurableFile::writeSettings(const QString &path, const QVariantMap &values, QString *error)
{
    const QString token = QUuid::createUuid().toString(QUuid::Id128).left(12);
    const QString staged = path + QStringLiteral(".saving-") + token;
    const QString checked = path + QStringLiteral(".checking-") + token;
    auto cleanup = qScopeGuard([&] {
        for (const QString &file : { staged, staged + QStringLiteral(".lock"), checked })
            QFile::remove(file);
    });
    {
        // The file may hold a password: readable by its owner only from its first byte on. QSettings'
        // save keeps the permissions of the file it replaces.
        const int fd = ::open(QFile::encodeName(staged).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return failWithErrno(error);
        ::close(fd);
        QSettings writer(staged, QSettings::IniFormat);
        writer.setAtomicSyncRequired(true);
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            writer.setValue(it.key(), it.value());
        writer.sync();
        if (writer.status() != QSettings::NoError)
            return fail(error, QStringLiteral("无法写入 %1").arg(staged));
    }
    // QSettings remembers what it wrote under that name, whatever reached the disk: read the file
    // back under a name it has never seen.
    if (::rename(QFile::encodeName(staged).constData(), QFile::encodeName(checked).constData()) != 0)
        return failWithErrno(error);
    if (!holdsExactly(QSettings(checked, QSettings::IniFormat), values))
        return fail(error, QStringLiteral("写入的内容不完整，磁盘空间可能已满"));
    if (!syncPath(QFile::encodeName(checked), O_RDONLY))
        return failWithErrno(error);
    if (!replace(checked, path, error))
        return false;
    cleanup.dismiss();
    return true;
}

void DurableFile::removeLeftovers(const QString &path)
{
    const QFileInfo target(path);
    const QDir folder = target.absoluteDir();
    const QString prefix = target.fileName() + u'.';
    const auto entries = folder.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &entry : entries) {
        const QString name = entry.fileName();
        if (ownedByUser(entry) && name.startsWith(prefix) && isLeftoverSuffix(QStringView(name).mid(prefix.size())))
            QFile::remove(entry.absoluteFilePath());
    }
    const QFileInfo lock(path + QStringLiteral(".lock"));
    if (lock.exists() && ownedByUser(lock) && !lockHasLiveOwner(lock.absoluteFilePath()))
        QFile::remove(lock.absoluteFilePath());
}
