#include "session/CloudflaredProcess.h"

#include "base/DurableFile.h"
#include "base/Logging.h"
#include "session/ChildReaper.h"
#include "session/RuntimeParent.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QString systemErrorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

CloudflaredProcess::CloudflaredProcess(std::chrono::milliseconds killGrace, QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
{
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    confineChildren(*m_process);
    m_killTimer.setSingleShot(true);
    m_killTimer.setInterval(killGrace);

    connect(m_process, &QProcess::readyReadStandardOutput, this, &CloudflaredProcess::handleStandardOutputReady);
    connect(m_process, &QProcess::readyReadStandardError, this, &CloudflaredProcess::handleStandardErrorReady);
    connect(m_process, &QProcess::finished, this, &CloudflaredProcess::handleProcessFinished);
    // Queued: QProcess may report a failed start from inside start(), before the caller is ready.
    connect(m_process, &QProcess::errorOccurred, this, &CloudflaredProcess::handleProcessErrorOccurred,
        Qt::QueuedConnection);
    connect(&m_killTimer, &QTimer::timeout, this, &CloudflaredProcess::handleKillTimerTimeout);
}

CloudflaredProcess::~CloudflaredProcess()
{
    if (isRunning()) {
        ChildReaper::adopt(m_process, m_runtimeDirectory);
        return;
    }
    removeRuntimeDirectory();
}

bool CloudflaredProcess::prepare(QString *error)
{
    const auto parent = RuntimeParent::choose(error);
    if (!parent)
        return false;
    const QString directory
        = *parent + QStringLiteral("/orvanta-runtime-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (::mkdir(QFile::encodeName(directory).constData(), 0700) != 0) {
        *error = systemErrorText(errno);
        return false;
    }
    m_runtimeDirectory = directory;

    if (!RuntimeParent::recordOwner(directory, error)
        || !DurableFile::write(configurationPath(), "{}\n", 0600, error)) {
        removeRuntimeDirectory();
        return false;
    }
    return true;
}

QString CloudflaredProcess::configurationPath() const
{
    return m_runtimeDirectory + QStringLiteral("/empty.yml");
}

QStringList CloudflaredProcess::tunnelArguments(const QString &configurationPath, const QString &origin,
    const QString &hostHeader, OriginScheme resolvedScheme, bool skipTLSVerification, bool http2)
{
    QStringList arguments { QStringLiteral("tunnel"), QStringLiteral("--config"), configurationPath,
        QStringLiteral("--no-autoupdate"), QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"),
        QStringLiteral("--loglevel"), QStringLiteral("info"), QStringLiteral("--url"), origin,
        QStringLiteral("--http-host-header"), hostHeader };
    if (resolvedScheme == OriginScheme::https && skipTLSVerification)
        arguments << QStringLiteral("--no-tls-verify");
    if (http2)
        arguments << QStringLiteral("--protocol") << QStringLiteral("http2");
    return arguments;
}

QProcessEnvironment CloudflaredProcess::environment(const QString &runtimeDirectory)
{
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), runtimeDirectory);
    environment.insert(QStringLiteral("TMPDIR"), QFileInfo(runtimeDirectory).absolutePath());
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin:/usr/sbin:/sbin"));
    environment.insert(QStringLiteral("NO_AUTOUPDATE"), QStringLiteral("true"));
    return environment;
}

void CloudflaredProcess::start(const QString &program, const QStringList &arguments)
{
    m_process->setProgram(program);
    m_process->setArguments(arguments);
    m_process->setProcessEnvironment(environment(m_runtimeDirectory));
    m_process->setWorkingDirectory(m_runtimeDirectory);
    m_process->start();
    m_pid = m_process->processId();
}

void CloudflaredProcess::terminate()
{
    if (isRunning())
        m_process->terminate();
}

void CloudflaredProcess::stop()
{
    terminate();
    // A second stop does not postpone the first one's deadline.
    if (isRunning() && !m_killTimer.isActive())
        m_killTimer.start();
}

void CloudflaredProcess::kill()
{
    // QProcess reaps its child only after it has left the running state, so while it runs the
    // process id cannot have been recycled.
    if (isRunning())
        m_process->kill();
}

void CloudflaredProcess::confineChildren(QProcess &process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have died between fork and prctl.
        if (::getppid() != parent)
            ::_exit(127);
        // Marked rather than closed: QProcess reports a failed exec through a pipe of its own.
        if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
            rlimit limit {};
            const rlim_t end
                = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY ? limit.rlim_cur : 65536;
            for (rlim_t fd = 3; fd < end; ++fd) {
                const int flags = ::fcntl(int(fd), F_GETFD);
                if (flags >= 0)
                    ::fcntl(int(fd), F_SETFD, flags | FD_CLOEXEC);
            }
        }
    });
}

void CloudflaredProcess::handleStandardOutputReady()
{
    m_standardOutput.feed(m_process->readAllStandardOutput(), [this](const QString &line) { emitLine(line); });
}

void CloudflaredProcess::handleStandardErrorReady()
{
    m_standardError.feed(m_process->readAllStandardError(), [this](const QString &line) { emitLine(line); });
}

void CloudflaredProcess::handleProcessFinished(int exitCode, QProcess::ExitStatus)
{
    m_killTimer.stop();
    const auto sink = [this](const QString &line) { emitLine(line); };
    m_standardOutput.feed(m_process->readAllStandardOutput(), sink);
    m_standardOutput.finish(sink);
    m_standardError.feed(m_process->readAllStandardError(), sink);
    m_standardError.finish(sink);
    removeRuntimeDirectory();
    // On a crash exit QProcess reports the number of the signal as exit code.
    emit exited(exitCode);
}

void CloudflaredProcess::handleProcessErrorOccurred(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || m_process->state() != QProcess::NotRunning)
        return;
    removeRuntimeDirectory();
    emit failedToStart(m_process->errorString());
}

void CloudflaredProcess::emitLine(const QString &line)
{
    qCDebug(lcChild).noquote() << m_pid << line;
    emit lineReceived(line);
}

void CloudflaredProcess::handleKillTimerTimeout()
{
    kill();
}

void CloudflaredProcess::removeRuntimeDirectory()
{
    if (m_runtimeDirectory.isEmpty())
        return;
    QDir(m_runtimeDirectory).removeRecursively();
    m_runtimeDirectory.clear();
}
