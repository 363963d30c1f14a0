// Saves into a folder that has room for one more page only, and reports what became of the file that was
// there: on a tmpfs of its own (in a private mount namespace) where it may mount, else under a file-size
// limit. Prints one line per step for the test to read.

#include "base/DurableFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

bool writeText(const char *path, const QByteArray &text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
    return ::close(fd) == 0 && ok;
}

// A mount namespace of our own, as root or through a user namespace, so the tmpfs dies with us.
bool mountSmallTmpfs(const QByteArray &folder)
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

// Fills the file system, then gives back exactly one page.
bool fillLeavingOnePage(const QString &filler)
{
    QFile file(filler);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray chunk(4096, 'x');
    qint64 size = 0;
    while (file.write(chunk) == chunk.size())
        size += chunk.size();
    return file.resize(size - 4096);
}

QVariantMap values(int payload)
{
    return { { QStringLiteral("tunnelProfilesV2"), QByteArray(payload, 'p') },
        { QStringLiteral("legalAcknowledgementVersion"), 2 } };
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const QByteArray folder = argv[1];
    const bool tmpfs = mountSmallTmpfs(folder);
    QCoreApplication app(argc, argv);
    const QString dir = QFile::decodeName(folder);
    const QString path = dir + QStringLiteral("/orvanta.conf");
    QString error;
    if (!DurableFile::writeSettings(path, values(100), &error))
        return 3;

    if (tmpfs) {
        say("mode tmpfs");
        if (!fillLeavingOnePage(dir + QStringLiteral("/filler")))
            return 4;
    } else {
        say("mode rlimit");
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { 4096, 4096 };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    say(DurableFile::writeSettings(path, values(40000), &error) ? "settings saved" : "settings failed");
    say(DurableFile::write(path, QByteArray(40000, 'f'), 0600, &error) ? "file saved" : "file failed");

    const QSettings reread(path, QSettings::IniFormat);
    say(reread.value(QStringLiteral("tunnelProfilesV2")).toByteArray() == QByteArray(100, 'p') ? "original kept"
                                                                                               : "original lost");
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden);
    say(left == QStringList { QStringLiteral("filler"), QStringLiteral("orvanta.conf") }
                || left == QStringList { QStringLiteral("orvanta.conf") }
            ? "nothing left behind"
            : "leftovers");
    return 0;
}
