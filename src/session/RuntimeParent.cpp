#include "session/RuntimeParent.h"

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
