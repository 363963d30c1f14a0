#include "session/CloudflaredProcess.h"

#include "base/Logging.h"
#include "session/ChildReaper.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <sys/stat.h>
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
    setDeathSignal(*m_process);
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
    // QDir::tempPath() is empty while the directory named by TMPDIR does not exist.
    QString temp = QDir::tempPath();
    if (temp.isEmpty()) {
        errno = ENOENT;
        const QString wanted = qEnvironmentVariable("TMPDIR");
        if (!wanted.isEmpty() && QDir().mkpath(wanted))
            temp = QDir::tempPath();
    }
    if (temp.isEmpty()) {
        *error = systemErrorText(errno);
        return false;
    }
    const QString directory
        = temp + QStringLiteral("/orvanta-runtime-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (::mkdir(QFile::encodeName(directory).constData(), 0700) != 0) {
        *error = systemErrorText(errno);
        return false;
    }
    m_runtimeDirectory = directory;

    QSaveFile file(configurationPath());
    if (!file.open(QIODevice::WriteOnly) || file.write("{}\n", 3) != 3 || !file.commit()) {
        *error = file.errorString();
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
    const QString &hostHeader, OriginScheme resolvedScheme, bool skipTLSVerification)
{
    QStringList arguments { QStringLiteral("tunnel"), QStringLiteral("--config"), configurationPath,
        QStringLiteral("--no-autoupdate"), QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"),
        QStringLiteral("--loglevel"), QStringLiteral("info"), QStringLiteral("--url"), origin,
        QStringLiteral("--http-host-header"), hostHeader };
    if (resolvedScheme == OriginScheme::https && skipTLSVerification)
        arguments << QStringLiteral("--no-tls-verify");
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

void CloudflaredProcess::setDeathSignal(QProcess &process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The parent may have died between fork and prctl.
        if (::getppid() != parent)
            ::_exit(127);
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
