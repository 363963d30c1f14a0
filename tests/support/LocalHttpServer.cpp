#include "LocalHttpServer.h"

#include <QProcess>
#include <QSslConfiguration>
#include <QSslServer>
#include <QTimer>

std::optional<TestCertificate> TestCertificate::generate()
{
    // The key, then the certificate, on standard output.
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
        QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=127.0.0.1 "
                       "-keyout /dev/stdout -out /dev/stdout")
            .split(u' '));
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return std::nullopt;
    const QByteArray pem = openssl.readAllStandardOutput();
    TestCertificate result { QSslCertificate(pem, QSsl::Pem), QSslKey(pem, QSsl::Ec) };
    if (result.certificate.isNull() || result.key.isNull())
        return std::nullopt;
    return result;
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

quint16 LocalHttpServer::unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

void LocalHttpServer::handleServerPendingConnectionAvailable()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_mostOpen = std::max(m_mostOpen, ++m_open);
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            // One request per connection, answered once its head is complete.
            const QByteArray head = socket->peek(socket->bytesAvailable());
            // A TLS record opens with the handshake type 0x16, which no request line does.
            if (head.startsWith('\x16')) {
                m_requests.append("TLS");
                socket->abort();
                return;
            }
            if (!head.contains("\r\n\r\n"))
                return;
            socket->readAll();
            m_requests.append(head.left(head.indexOf("\r\n")));
            if (m_silent)
                return;
            const auto answer = [this, socket] {
                socket->write("HTTP/1.1 " + QByteArray::number(m_statusCode)
                    + " Test\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                socket->disconnectFromHost();
            };
            if (m_answerDelay.count() > 0)
                QTimer::singleShot(m_answerDelay, socket, answer);
            else
                answer();
        });
    }
}
