#include "FakeCloudflared.h"

#include "TestSupport.h"
#include "session/TunnelSession.h"

#include <QDir>
#include <QFile>

FakeCloudflared::FakeCloudflared(const QString &directory)
    : m_directory(directory)
{
    QDir().mkpath(recordDirectory());
    TunnelSession::setCloudflaredSearchPaths({path()});
}

FakeCloudflared::~FakeCloudflared()
{
    TunnelSession::setCloudflaredSearchPaths({});
}

bool FakeCloudflared::install(const QByteArray &body)
{
    const QByteArray rec = QFile::encodeName(recordDirectory());
    QByteArray script = "#!/bin/sh\n"
                        "rec='" + rec + "'\n"
                        // mkdir is atomic, so children started together still count apart.
                        "n=1\n"
                        "while ! mkdir \"$rec/run.$n\" 2>/dev/null; do n=$((n + 1)); done\n"
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$rec/argv.$n\"\n"
                        "cat /proc/$$/environ > \"$rec/environ.$n\"\n"
                        "readlink /proc/$$/cwd > \"$rec/cwd.$n\"\n"
                        "echo $$ > \"$rec/pid.$n\"\n";
    script += body;
    script += '\n';
    return writeExecutable(path(), script);
}

int FakeCloudflared::runs() const
{
    return int(QDir(recordDirectory()).entryList({QStringLiteral("run.*")}, QDir::Dirs).size());
}

QByteArray FakeCloudflared::record(const char *name, int run) const
{
    if (run == 0)
        run = runs();
    QFile file(recordDirectory() + u'/' + QLatin1StringView(name) + u'.' + QString::number(run));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList FakeCloudflared::arguments(int run) const
{
    QString text = QString::fromUtf8(record("argv", run));
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.split(u'\n');
}

QByteArray FakeCloudflared::environment(int run) const
{
    return record("environ", run);
}

QString FakeCloudflared::workingDirectory(int run) const
{
    return QString::fromUtf8(record("cwd", run)).trimmed();
}

qint64 FakeCloudflared::processId(int run) const
{
    return record("pid", run).trimmed().toLongLong();
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

QByteArray FakeCloudflared::infoLine()
{
    return "2024-05-01T10:00:01Z INF Starting metrics server on 127.0.0.1:40123/metrics\n";
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

namespace {

QByteArray printfCommand(const QByteArray &text)
{
    // printf '%s' 'text' with the single quotes of the text escaped for the shell.
    QByteArray quoted = text;
    quoted.replace('\'', "'\\''");
    return "printf '%s' '" + quoted + "'";
}

} // namespace

QByteArray FakeCloudflared::printToStandardError(const QByteArray &text)
{
    return printfCommand(text) + " >&2\n";
}

QByteArray FakeCloudflared::printToStandardOutput(const QByteArray &text)
{
    return printfCommand(text) + "\n";
}

QByteArray FakeCloudflared::onlineBody(int seconds)
{
    return printToStandardError(requestLine() + urlLine() + registeredLine()) + "exec sleep "
        + QByteArray::number(seconds) + '\n';
}
