#include "LocalHttpServer.h"

#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTemporaryDir>

std::optional<TestCertificate> TestCertificate::generate()
{
    QTemporaryDir dir;
    if (!dir.isValid())
        return std::nullopt;
    const QString certPath = dir.filePath(QStringLiteral("cert.pem"));
    const QString keyPath = dir.filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-keyout"), keyPath, QStringLiteral("-out"), certPath});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return std::nullopt;
    QFile certFile(certPath);
    QFile keyFile(keyPath);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    TestCertificate result{QSslCertificate(certFile.readAll(), QSsl::Pem), QSslKey(keyFile.readAll(), QSsl::Ec)};
    if (result.certificate.isNull() || result.key.isNull())
        return std::nullopt;
    return result;
}

LocalHttpServer::LocalHttpServer(QObject *parent)
    : QObject(parent)
{
}

LocalHttpServer::~LocalHttpServer()
{
    close();
}

bool LocalHttpServer::listenHttp(quint16 port)
{
    return listenOn(new QTcpServer(this), port);
}

bool LocalHttpServer::listenHttps(const TestCertificate &certificate, quint16 port)
{
    auto *server = new QSslServer(this);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate.certificate);
    configuration.setPrivateKey(certificate.key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(configuration);
    return listenOn(server, port);
}

bool LocalHttpServer::listenOn(QTcpServer *server, quint16 port)
{
    close();
    m_server = server;
    connect(server, &QTcpServer::pendingConnectionAvailable, this,
            &LocalHttpServer::handleServerPendingConnectionAvailable);
    return server->listen(QHostAddress::LocalHost, port);
}

void LocalHttpServer::close()
{
    for (const auto &socket : std::as_const(m_sockets)) {
        if (socket)
            socket->abort();
    }
    m_sockets.clear();
    m_buffers.clear();
    delete m_server;
    m_server = nullptr;
}

quint16 LocalHttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

quint16 LocalHttpServer::unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

void LocalHttpServer::handleServerPendingConnectionAvailable()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        m_sockets.append(socket);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleSocketReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this, socket] { m_buffers.remove(socket); });
    }
}

void LocalHttpServer::handleSocketReadyRead(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    m_requests.append(buffer.left(buffer.indexOf("\r\n")));
    buffer.remove(0, end + 4);
    emit requestReceived();
    if (m_silent)
        return;
    socket->write("HTTP/1.1 " + QByteArray::number(m_statusCode)
                  + " Test\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    socket->disconnectFromHost();
}
