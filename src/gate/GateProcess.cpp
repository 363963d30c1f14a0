#include "gate/GateProcess.h"

#include "base/DurableFile.h"
#include "base/Logging.h"
#include "session/ChildReaper.h"
#include "session/CloudflaredProcess.h"
#include "session/RuntimeParent.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTcpServer>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

GateProcess::GateProcess(std::chrono::milliseconds killGrace, QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
{
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    m_process->setStandardInputFile(QProcess::nullDevice());
    CloudflaredProcess::confineChildren(*m_process);
    m_killTimer.setSingleShot(true);
    m_killTimer.setInterval(killGrace);

    connect(m_process, &QProcess::readyReadStandardOutput, this, [this] {
        m_standardOutput.feed(
            m_process->readAllStandardOutput(), [this](const QString &line) { emit accessLogLine(line); });
    });
    connect(m_process, &QProcess::readyReadStandardError, this, [this] {
        m_standardError.feed(
            m_process->readAllStandardError(), [this](const QString &line) { handleStandardErrorLine(line); });
    });
    connect(m_process, &QProcess::finished, this, &GateProcess::handleProcessFinished);
    // Queued: QProcess may report a failed start from inside start(), before the caller is ready.
    connect(m_process, &QProcess::errorOccurred, this, &GateProcess::handleProcessErrorOccurred, Qt::QueuedConnection);
    connect(&m_killTimer, &QTimer::timeout, this, &GateProcess::kill);
}

GateProcess::~GateProcess()
{
    if (isRunning()) {
        ChildReaper::adopt(m_process, m_runtimeDirectory);
        return;
    }
    removeRuntimeDirectory();
}

quint16 GateProcess::freshPort()
{
    static QSet<quint16> given;
    // The kernel hands out ephemeral ports in turn, so a repeat is rare; a few tries settle it.
    for (int attempt = 0; attempt < 64; ++attempt) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return 0;
        const quint16 port = probe.serverPort();
        if (!given.contains(port)) {
            given.insert(port);
            return port;
        }
    }
    return 0;
}

bool GateProcess::prepare(GateConfiguration &configuration, QString *error)
{
    const auto parent = RuntimeParent::choose(error);
    if (!parent)
        return false;
    const QString directory
        = *parent + QStringLiteral("/orvanta-gate-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (::mkdir(QFile::encodeName(directory).constData(), 0700) != 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_runtimeDirectory = directory;
    configuration.runtimeDirectory = directory;
    configuration.listenPort = freshPort();
    const QByteArray json = configuration.toJson();
    if (configuration.listenPort == 0 || json.isEmpty()) {
        *error = QStringLiteral("无法为访问密码网关分配本地端口");
        removeRuntimeDirectory();
        return false;
    }
    if (!DurableFile::write(configurationPath(), json, 0600, error)) {
        removeRuntimeDirectory();
        return false;
    }
    return true;
}

QString GateProcess::configurationPath() const
{
    return m_runtimeDirectory + QStringLiteral("/gate.json");
}

void GateProcess::start(const QString &program)
{
    // Caddy keeps certificates, locks and its autosave under these; none of it may land in the user's home.
    QProcessEnvironment environment;
    environment.insert(QStringLiteral("HOME"), m_runtimeDirectory);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_runtimeDirectory + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), m_runtimeDirectory + QStringLiteral("/data"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), m_runtimeDirectory + QStringLiteral("/cache"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), m_runtimeDirectory + QStringLiteral("/state"));
    environment.insert(QStringLiteral("TMPDIR"), m_runtimeDirectory);
    environment.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    m_process->setProgram(program);
    m_process->setArguments({ QStringLiteral("run"), QStringLiteral("--config"), configurationPath() });
    m_process->setProcessEnvironment(environment);
    m_process->setWorkingDirectory(m_runtimeDirectory);
    m_process->start();
    m_pid = m_process->processId();
}

void GateProcess::stop()
{
    if (!isRunning())
        return;
    m_process->terminate();
    if (!m_killTimer.isActive())
        m_killTimer.start();
}

void GateProcess::kill()
{
    if (isRunning())
        m_process->kill();
}

void GateProcess::handleStandardErrorLine(const QString &line)
{
    qCDebug(lcChild).noquote() << m_pid << line;
    const QJsonObject entry = QJsonDocument::fromJson(line.toUtf8()).object();
    if (entry.isEmpty()) {
        // Caddy's last words before exiting are plain text ("Error: loading initial config: ...").
        m_lastError = line.trimmed().left(300);
        return;
    }
    const QString message = entry.value(u"msg"_qs).toString();
    if (!m_listening && message == u"serving initial configuration") {
        m_listening = true;
        emit listening();
        return;
    }
    const QString level = entry.value(u"level"_qs).toString();
    if (level == u"error" || level == u"fatal" || level == u"panic") {
        const QString detail = entry.value(u"error"_qs).toString();
        m_lastError = (detail.isEmpty() ? message : message + u": "_qs + detail).left(300);
    }
}

void GateProcess::handleProcessFinished(int exitCode, QProcess::ExitStatus)
{
    m_killTimer.stop();
    const auto toLog = [this](const QString &line) { emit accessLogLine(line); };
    m_standardOutput.feed(m_process->readAllStandardOutput(), toLog);
    m_standardOutput.finish(toLog);
    const auto toError = [this](const QString &line) { handleStandardErrorLine(line); };
    m_standardError.feed(m_process->readAllStandardError(), toError);
    m_standardError.finish(toError);
    removeRuntimeDirectory();
    emit exited(exitCode, m_lastError);
}

void GateProcess::handleProcessErrorOccurred(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || m_process->state() != QProcess::NotRunning)
        return;
    removeRuntimeDirectory();
    emit failedToStart(m_process->errorString());
}

void GateProcess::removeRuntimeDirectory()
{
    if (m_runtimeDirectory.isEmpty())
        return;
    QDir(m_runtimeDirectory).removeRecursively();
    m_runtimeDirectory.clear();
}
