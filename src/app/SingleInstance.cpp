#include "app/SingleInstance.h"

#include "base/Logging.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <unistd.h>

namespace {
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
const QByteArray quittingMessage = QByteArrayLiteral("quitting\n");
constexpr int connectAttemptMs = 200;
constexpr int handoverBudgetMs = 3000;
// Long enough for a loaded machine: an instance that has taken the request closes the connection at once.
constexpr int answerWaitMs = 1000;
constexpr std::chrono::milliseconds unreadableOwnerGrace { 1000 };
const QString lockName = QStringLiteral("/orvanta.lock");
} // namespace

SingleInstance::SingleInstance(QString directory, QObject *parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_lock(m_directory + lockName)
    , m_server(this)
{
    m_lock.setStaleLockTime(0); // a lock whose owner died is stale at once; a live owner keeps it
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::handleServerNewConnection);
}

SingleInstance::~SingleInstance()
{
    m_server.close();
}

QString SingleInstance::defaultDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::socketPath() const
{
    return m_directory + socketName;
}

SingleInstance::Role SingleInstance::claim()
{
    QDir().mkpath(m_directory);
    QFile::setPermissions(m_directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QDeadlineTimer deadline(handoverBudgetMs);
    while (true) {
        if (tryLock()) {
            listen();
            return Role::primary;
        }
        if (m_lock.error() != QLockFile::LockFailedError) {
            // Refusing to run over a broken directory would leave the user with nothing at all.
            qCWarning(lcApp,
                "Cannot use the single-instance lock %ls; running without it, so another start may run "
                "beside this one",
                qUtf16Printable(QDir::toNativeSeparators(m_directory + lockName)));
            return Role::primary;
        }
        switch (requestActivation()) {
        case Answer::handedOver:
            return Role::handedOver;
        case Answer::quitting:
            return waitForQuittingInstance();
        case Answer::none:
            break;
        }
        // The holder may still be starting and not listening yet.
        if (deadline.hasExpired())
            return Role::unanswered;
        QThread::msleep(connectAttemptMs / 2);
    }
}

bool SingleInstance::tryLock()
{
    if (m_lock.tryLock(0))
        return true;
    qint64 pid = 0;
    QString host;
    QString application;
    if (m_lock.error() != QLockFile::LockFailedError || m_lock.getLockInfo(&pid, &host, &application))
        return false;
    // No owner to ask whether it lives: the file was left half-written by a crash or a power loss, or its
    // owner is writing it this instant. Qt then goes by the file's age, and removes it only when no process
    // holds it locked, which a live owner does from the moment it creates it.
    m_lock.setStaleLockTime(unreadableOwnerGrace);
    const bool locked = m_lock.tryLock(0);
    m_lock.setStaleLockTime(0);
    return locked;
}

void SingleInstance::listen()
{
    // The lock proves no other instance runs, so a socket file left by a crash can go.
    for (int attempt = 1;; ++attempt) {
        QLocalServer::removeServer(socketPath());
        if (m_server.listen(socketPath()))
            return;
        if (attempt == 2)
            break;
        qCWarning(lcApp, "Cannot listen on %ls (%ls); trying once more", qUtf16Printable(socketPath()),
            qUtf16Printable(m_server.errorString()));
    }
    // Still the only instance (it holds the lock); later starts say it does not answer instead of running beside it.
    qCWarning(lcApp, "Cannot listen on %ls (%ls); a later start cannot bring this window forward",
        qUtf16Printable(socketPath()), qUtf16Printable(m_server.errorString()));
}

SingleInstance::Answer SingleInstance::requestActivation()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(connectAttemptMs))
        return Answer::none;
    socket.write(activateMessage);
    // Once in the socket's buffer the running instance reads it whenever its event loop turns.
    if (!socket.waitForBytesWritten(connectAttemptMs) && socket.bytesToWrite() > 0)
        return Answer::none;
    // Only an instance that is quitting answers; one that has taken the request closes the connection, and
    // one too busy to read it in time will still act on it.
    while (!socket.canReadLine() && socket.waitForReadyRead(answerWaitMs)) { }
    const bool quitting = socket.canReadLine() && socket.readLine() == quittingMessage;
    socket.disconnectFromServer();
    return quitting ? Answer::quitting : Answer::handedOver;
}

SingleInstance::Role SingleInstance::waitForQuittingInstance()
{
    qCInfo(lcApp) << "the running instance is quitting; waiting for it to end";
    const QDeadlineTimer deadline(m_quitWait);
    while (!deadline.hasExpired()) {
        if (tryLock()) {
            listen();
            return Role::primary;
        }
        QThread::msleep(connectAttemptMs / 2);
    }
    return Role::unanswered;
}

bool SingleInstance::isPeerUser(qintptr descriptor, uint uid)
{
    ucred credentials {};
    socklen_t size = sizeof credentials;
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) == 0
        && size == sizeof credentials && credentials.uid == uid;
}

void SingleInstance::handleServerNewConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // The socket file's mode keeps others out on most systems; the kernel's word on the peer holds on all.
        if (!isPeerUser(socket->socketDescriptor(), ::getuid())) {
            qCWarning(lcApp, "Refused a connection from another user on %ls", qUtf16Printable(socketPath()));
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A client that connects and sends nothing must not hold the connection for ever.
        QTimer::singleShot(m_requestTimeout, socket, [socket] { socket->abort(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { handleRequest(socket); });
        if (socket->bytesAvailable() > 0)
            handleRequest(socket);
    }
}

void SingleInstance::handleRequest(QLocalSocket *socket)
{
    if (socket->state() != QLocalSocket::ConnectedState)
        return; // answered already; one request per connection
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maxRequestBytes)
            socket->abort();
        return;
    }
    const QByteArray line = socket->readLine(maxRequestBytes + 1);
    if (!line.endsWith('\n')) {
        socket->abort();
        return;
    }
    if (m_quitting) {
        // Neither a window nor a tunnel started now would outlive the quit.
        if (line == activateMessage)
            socket->write(quittingMessage);
    } else if (line == activateMessage) {
        emit activationRequested();
    } else if (line.startsWith('{') && m_requestHandler) {
        socket->write(m_requestHandler(line.chopped(1)) + '\n');
    }
    socket->disconnectFromServer();
}
