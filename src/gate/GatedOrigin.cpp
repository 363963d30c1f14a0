#include "gate/GatedOrigin.h"

#include "base/Logging.h"
#include "gate/GateConfiguration.h"
#include "gate/GateProcess.h"
#include "gate/GateSecrets.h"

#include <QtConcurrent/QtConcurrentRun>

GatedOrigin::GatedOrigin(const Timings &timings, GateLocator locator, QObject *parent)
    : QObject(parent)
    , m_timings(timings)
    , m_locator(std::move(locator))
{
    m_startupTimer.setSingleShot(true);
    m_startupTimer.setInterval(m_timings.gateStartupTimeout);
    connect(&m_startupTimer, &QTimer::timeout, this, &GatedOrigin::handleStartupTimeout);
}

GatedOrigin::~GatedOrigin()
{
    // Children still running are killed and reaped without waiting (see GateProcess).
    delete m_process;
    for (const auto &process : std::as_const(m_stale))
        delete process;
}

QString GatedOrigin::start(
    const GateSettings &settings, const QString &originURL, const QString &hostHeader, bool skipTLSVerification)
{
    detach();
    const QString program = m_locator.locate();
    if (program.isEmpty())
        return GateLocator::unavailableMessage();

    GateConfiguration configuration;
    configuration.originURL = originURL;
    configuration.hostHeader = hostHeader;
    configuration.skipTLSVerification = skipTLSVerification;
    if (!settings.passwordOn)
        return launch(program, configuration);
    if (settings.password.isEmpty())
        return QStringLiteral("已开启访问密码，但还没有设置密码");
    if (!GateSecrets::isUsablePassword(settings.password))
        return unusablePassword();
    // A new token at every start: cookies handed out by an earlier run no longer open the gate.
    configuration.token = GateSecrets::newToken();
    if (!m_passwordHash.isEmpty() && m_hashedPassword == settings.password) {
        configuration.passwordHash = m_passwordHash;
        return launch(program, configuration);
    }
    // bcrypt takes tens of milliseconds: the hash is made on a worker, the gate starts once it is there.
    m_hashing = new QFutureWatcher<QByteArray>(this);
    connect(m_hashing, &QFutureWatcherBase::finished, this,
        [this, watcher = m_hashing, program, configuration, password = settings.password]() mutable {
            watcher->deleteLater();
            m_hashing = nullptr;
            configuration.passwordHash = watcher->result();
            if (configuration.passwordHash.isEmpty()) {
                m_startupTimer.stop();
                emit ended(unusablePassword());
                return;
            }
            m_passwordHash = configuration.passwordHash;
            m_hashedPassword = password;
            const QString error = launch(program, configuration);
            if (!error.isEmpty()) {
                m_startupTimer.stop();
                emit ended(error);
            }
        });
    m_hashing->setFuture(QtConcurrent::run(&GateSecrets::hashPassword, settings.password));
    m_startupTimer.start();
    return {};
}

QString GatedOrigin::unusablePassword()
{
    return QStringLiteral("访问密码无法使用：最长 72 字节，且不能含空字符");
}

QString GatedOrigin::launch(const QString &program, GateConfiguration configuration)
{
    auto *process = new GateProcess(m_timings.killGrace, this);
    QString error;
    if (!process->prepare(configuration, &error)) {
        delete process;
        return error;
    }
    connect(process, &GateProcess::listening, this, &GatedOrigin::handleListening);
    connect(process, &GateProcess::exited, this, &GatedOrigin::handleExited);
    connect(process, &GateProcess::failedToStart, this, &GatedOrigin::handleFailedToStart);
    connect(process, &GateProcess::accessLogLine, this, &GatedOrigin::handleAccessLogLine);
    m_process = process;
    m_url = QStringLiteral("http://127.0.0.1:%1").arg(configuration.listenPort);
    qCInfo(lcSession).noquote() << "starting gate" << program << "on" << m_url << "for" << configuration.originURL;
    process->start(program);
    m_startupTimer.start();
    return {};
}

void GatedOrigin::detach()
{
    m_startupTimer.stop();
    m_url.clear();
    // A hash still being made is left to finish on its own; nothing waits for it.
    delete m_hashing;
    m_hashing = nullptr;
    if (!m_process)
        return;
    GateProcess *process = m_process;
    m_process = nullptr;
    // Its access log still counts; its exit is no longer news.
    disconnect(process, &GateProcess::listening, this, nullptr);
    disconnect(process, &GateProcess::exited, this, nullptr);
    disconnect(process, &GateProcess::failedToStart, this, nullptr);
    process->stop();
    connect(process, &GateProcess::exited, process, &QObject::deleteLater);
    connect(process, &GateProcess::failedToStart, process, &QObject::deleteLater);
    m_stale.removeAll(nullptr);
    m_stale.append(process);
    if (!process->isRunning())
        process->deleteLater();
}

void GatedOrigin::stop()
{
    detach();
}

void GatedOrigin::kill()
{
    if (m_process)
        m_process->kill();
    for (const auto &process : std::as_const(m_stale)) {
        if (process)
            process->kill();
    }
}

bool GatedOrigin::hasChild() const
{
    if (m_process && m_process->isRunning())
        return true;
    return std::any_of(m_stale.cbegin(), m_stale.cend(),
        [](const QPointer<GateProcess> &process) { return process && process->isRunning(); });
}

bool GatedOrigin::isListening() const
{
    return m_process && m_process->isListening();
}

qint64 GatedOrigin::processId() const
{
    return m_process && m_process->isRunning() ? m_process->processId() : 0;
}

void GatedOrigin::clearVisitors()
{
    m_visitors.clear();
    emit visitorsChanged();
}

void GatedOrigin::handleListening()
{
    m_startupTimer.stop();
    emit ready(m_url);
}

void GatedOrigin::handleExited(int status, const QString &lastError)
{
    m_process->deleteLater();
    m_process = nullptr;
    m_startupTimer.stop();
    m_url.clear();
    qCWarning(lcSession).noquote() << "gate exited with" << status << lastError;
    QString reason = QStringLiteral("访问密码网关异常退出（代码 %1）").arg(status);
    if (!lastError.isEmpty())
        reason += QStringLiteral("：") + lastError;
    emit ended(reason);
}

void GatedOrigin::handleFailedToStart(const QString &description)
{
    m_process->deleteLater();
    m_process = nullptr;
    m_startupTimer.stop();
    m_url.clear();
    emit ended(QStringLiteral("无法启动访问密码网关：") + description);
}

void GatedOrigin::handleStartupTimeout()
{
    detach();
    emit ended(QStringLiteral("访问密码网关未能及时启动"));
}

void GatedOrigin::handleAccessLogLine(const QString &line)
{
    if (m_visitors.addLine(line.toUtf8()))
        emit visitorsChanged();
}
