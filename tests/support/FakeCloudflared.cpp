#include "FakeCloudflared.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

FakeCloudflared::FakeCloudflared(const QString &directory)
    : m_directory(directory)
{
    QDir().mkpath(recordDirectory());
}

bool FakeCloudflared::install(const QByteArray &body)
{
    // mkdir is atomic, so children started together still count apart.
    return writeExecutable(path(),
        "#!/bin/sh\nrec='" + QFile::encodeName(recordDirectory())
            + "'\nn=1\n"
              "while ! mkdir \"$rec/run.$n\" 2>/dev/null; do n=$((n + 1)); done\n"
              "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$rec/argv.$n\"\n"
              "cat /proc/$$/environ > \"$rec/environ.$n\"\n"
              "readlink /proc/$$/cwd > \"$rec/cwd.$n\"\n"
              "echo $$ > \"$rec/pid.$n\"\n"
            + body + '\n');
}

int FakeCloudflared::runs() const
{
    return int(QDir(recordDirectory()).entryList({ QStringLiteral("run.*") }, QDir::Dirs).size());
}

QByteArray FakeCloudflared::record(const char *name, int run) const
{
    QFile file(QStringLiteral("%1/%2.%3").arg(recordDirectory(), QLatin1StringView(name)).arg(run ? run : runs()));
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    return content.endsWith('\n') ? content.chopped(1) : content;
}

QByteArray FakeCloudflared::requestLine()
{
    return "2024-05-01T10:00:00Z INF Requesting new quick Tunnel on trycloudflare.com...\n";
}

QByteArray FakeCloudflared::urlLine(const QByteArray &label)
{
    return "2024-05-01T10:00:03Z INF |  https://" + label + ".trycloudflare.com                 |\n";
}

QByteArray FakeCloudflared::registeredLine(int connIndex)
{
    return "2024-05-01T10:00:04Z INF Registered tunnel connection connIndex=" + QByteArray::number(connIndex)
        + " connection=2b3c4d5e event=0 ip=198.41.200.13 location=fra01 protocol=quic\n";
}

QByteArray FakeCloudflared::originErrorLine()
{
    return "2024-05-01T10:00:09Z ERR  error=\"Unable to reach the origin service. The service may be down or it may "
           "not be responding to traffic from cloudflared: dial tcp 127.0.0.1:3000: connect: connection refused\" "
           "connIndex=0 event=1 originService=http://127.0.0.1:3000\n";
}

QByteArray FakeCloudflared::warningLine()
{
    return "2024-05-01T10:00:12Z WRN Connection terminated error=\"timeout: no recent network activity\" connIndex=0\n";
}

QByteArray FakeCloudflared::routineNotices()
{
    return "2024-10-01T10:00:00Z WRN The user running cloudflared process has a GID (group ID) that is not within "
           "ping_group_range. You might need to add that user to a group within that range, or instead update the "
           "range to encompass a group the user is already in by modifying /proc/sys/net/ipv4/ping_group_range. "
           "Otherwise cloudflared will not be able to ping this network error=\"Group ID 65532 is not between ping "
           "group 1 to 0\"\n"
           "2024-10-01T10:00:00Z WRN ICMP proxy feature is disabled error=\"cannot create ICMPv4 proxy: Group ID 65532 "
           "is not between ping group 1 to 0 nor ICMPv6 proxy: socket: permission denied\"\n"
           "failed to sufficiently increase receive buffer size (was: 208 kiB, wanted: 7168 kiB, got: 416 kiB). See "
           "https://github.com/quic-go/quic-go/wiki/UDP-Buffer-Sizes for details.\n";
}

QByteArray FakeCloudflared::printToStandardError(const QByteArray &text)
{
    // The text's own single quotes are escaped for the shell.
    return "printf '%s' '" + QByteArray(text).replace('\'', "'\\''") + "' >&2\n";
}

QByteArray FakeCloudflared::printRunURL()
{
    return "printf '%s\\n' \"2024-05-01T10:00:03Z INF |  https://run-$n.trycloudflare.com  |\" >&2\n";
}

QByteArray FakeCloudflared::onlineBody(int seconds)
{
    return printToStandardError(requestLine() + urlLine() + registeredLine()) + "exec sleep "
        + QByteArray::number(seconds) + '\n';
}

QByteArray FakeCloudflared::waitFor(const QByteArray &name)
{
    return "while [ ! -e \"$rec/" + name + "\" ]; do sleep 0.05; done\n";
}

bool FakeCloudflared::release(const QByteArray &name) const
{
    QFile file(recordDirectory() + u'/' + QString::fromUtf8(name));
    return file.open(QIODevice::WriteOnly);
}
