#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace {
const QByteArray activateMessage = QByteArrayLiteral("activate\n");
constexpr int connectAttemptMs = 200;
constexpr int handoverBudgetMs = 3000;
constexpr qint64 maxRequestBytes = 64;
} // namespace

SingleInstance::SingleInstance(QString directory, QObject *parent)
    : QObject(parent)
    , m_directory(std::move(directory))
    , m_lock(m_directory + QStringLiteral("/orvanta.lock"))
    , m_server(this)
{
    m_lock.setStaleLockTime(0); // a lock whose owner died is stale at once; a live owner keeps it
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
    return m_directory + QStringLiteral("/orvanta.socket");
}

SingleInstance::Role SingleInstance::claim()
{
    QDir().mkpath(m_directory);
    QFile::setPermissions(m_directory, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    const QDeadlineTimer deadline(handoverBudgetMs);
    while (true) {
        if (m_lock.tryLock(0)) {
            // The lock proves no other instance runs, so a socket file left by a crash can go.
            QLocalServer::removeServer(socketPath());
            m_server.setSocketOptions(QLocalServer::UserAccessOption);
            m_server.listen(socketPath()); // without it a later start cannot hand over, which is no reason to refuse
            return Role::primary;
        }
        if (m_lock.error() != QLockFile::LockFailedError)
            return Role::primary; // the directory is unusable: run unguarded rather than not at all
        if (requestActivation())
            return Role::handedOver;
        // The holder may still be starting and not listening yet.
        if (deadline.hasExpired())
            return Role::unanswered;
        QThread::msleep(connectAttemptMs / 2);
    }
}

bool SingleInstance::requestActivation()
{
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(connectAttemptMs))
        return false;
    socket.write(activateMessage);
    // Once in the socket's buffer the running instance reads it whenever its event loop turns.
    const bool written = socket.waitForBytesWritten(connectAttemptMs) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    return written;
}

void SingleInstance::handleServerNewConnection()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { handleRequest(socket); });
        if (socket->bytesAvailable() > 0)
            handleRequest(socket);
    }
}

void SingleInstance::handleRequest(QLocalSocket *socket)
{
    if (socket->bytesAvailable() > maxRequestBytes) {
        socket->abort();
        return;
    }
    if (!socket->canReadLine())
        return;
    if (socket->readLine(maxRequestBytes) == activateMessage)
        emit activationRequested();
    socket->disconnectFromServer();
}
