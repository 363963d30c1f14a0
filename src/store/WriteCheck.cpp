#include "store/WriteCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

QString describe(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return QStringLiteral("没有写入权限");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("磁盘空间不足");
    case EROFS:
        return QStringLiteral("所在文件系统为只读");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

} // namespace

QString unwritableReason(const QString &path)
{
    const QFileInfo file(path);
    const QString folder = file.absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("无法创建文件夹 %1").arg(folder);
    QByteArray scratch = QFile::encodeName(folder + QStringLiteral("/.orvanta-write-check-XXXXXX"));
    const int fd = ::mkstemp(scratch.data());
    if (fd < 0)
        return describe(errno);
    // A full disk often lets a file be created and refuses its first block.
    const std::array<char, 4096> block {};
    int error = 0;
    if (::write(fd, block.data(), block.size()) != ssize_t(block.size()) || ::fsync(fd) != 0)
        error = errno;
    ::close(fd);
    ::unlink(scratch.constData());
    if (error != 0)
        return describe(error);
    if (file.exists() && !file.isWritable())
        return QStringLiteral("设置文件为只读");
    return {};
}
