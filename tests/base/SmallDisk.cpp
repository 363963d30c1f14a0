#include "SmallDisk.h"

#include <QFile>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString fillerName = QStringLiteral("/filler");
rlim_t s_formerLimit = RLIM_INFINITY;

bool writeText(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    return ::close(fd) == 0 && ok;
}

} // namespace

bool SmallDisk::mount(const QByteArray &folder)
{
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWNS) != 0) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        writeText("/proc/self/setgroups", "deny");
        if (!writeText("/proc/self/uid_map", QByteArray::number(uid) + " " + QByteArray::number(uid) + " 1")
            || !writeText("/proc/self/gid_map", QByteArray::number(gid) + " " + QByteArray::number(gid) + " 1"))
            return false;
    }
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
        && ::mount("tmpfs", folder.constData(), "tmpfs", 0, "size=256k,mode=0700") == 0;
}

bool SmallDisk::runOutOfRoom(const QString &folder, bool tmpfs)
{
    std::printf("mode %s\n", tmpfs ? "tmpfs" : "rlimit");
    std::fflush(stdout);
    if (!tmpfs) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        s_formerLimit = limit.rlim_cur;
        limit.rlim_cur = 4096;
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    QFile file(folder + fillerName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray chunk(4096, 'x');
    qint64 size = 0;
    while (file.write(chunk) == chunk.size())
        size += chunk.size();
    return file.resize(size - 4096);
}

void SmallDisk::makeRoom(const QString &folder, bool tmpfs)
{
    if (tmpfs) {
        QFile::remove(folder + fillerName);
        return;
    }
    rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = s_formerLimit;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}
