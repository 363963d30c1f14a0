#include "LocalHttpServer.h"

#include <QProcess>
#include <QSslSocket>
#include <QTimer>

#include <functional>

namespace {

/// Hands each accepted descriptor over before Qt wraps it in a socket.
class DescriptorServer : public QTcpServer
{
public:
    std::function<void(qintptr)> accepted;

protected:
    void incomingConnection(qintptr descriptor) override { accepted(descriptor); }
};

} // namespace

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
    return result.certificate.isNull() || result.key.isNull() ? std::nullopt : std::optional(result);
}

bool LocalHttpServer::listenHttps(const TestCertificate &certificate, quint16 port)
{
    m_tlsConfiguration = QSslConfiguration::defaultConfiguration();
    m_tlsConfiguration.setLocalCertificate(certificate.certificate);
    m_tlsConfiguration.setPrivateKey(certificate.key);
    m_tlsConfiguration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return listen(true, port);
}

bool LocalHttpServer::listen(bool tls, quint16 port)
{
    close();
    auto *server = new DescriptorServer;
    server->setParent(this);
    server->accepted = [this, tls](qintptr descriptor) {
        // A TLS socket starts unencrypted: its first bytes tell a handshake from a plain request.
        QTcpSocket *socket = tls ? new QSslSocket(m_server) : new QTcpSocket(m_server);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        m_mostOpen = std::max(m_mostOpen, ++m_open);
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
    };
    m_server = server;
    return server->listen(QHostAddress::LocalHost, port);
}

quint16 LocalHttpServer::unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

void LocalHttpServer::serve(QTcpSocket *socket)
{
    auto *tls = qobject_cast<QSslSocket *>(socket);
    const bool plain = !tls || tls->mode() == QSslSocket::UnencryptedMode;
    const QByteArray head = socket->peek(socket->bytesAvailable());
    // A TLS record opens with the handshake type 0x16, which no request line does.
    if (plain && head.startsWith('\x16')) {
        if (tls) {
            tls->setSslConfiguration(m_tlsConfiguration);
            tls->startServerEncryption();
        } else {
            m_requests.append("TLS");
            if (!m_silent)
                socket->abort();
        }
        return;
    }
    const bool plainOnTls = tls && plain;
    if (plainOnTls && m_plainAnswer.isEmpty()) {
        socket->abort();
        return;
    }
    // One request per connection, answered once its head is complete.
    if (!head.contains("\r\n\r\n"))
        return;
    socket->readAll();
    m_requests.append((plainOnTls ? "plain " : "") + head.left(head.indexOf("\r\n")));
    if (m_silent)
        return;
    QByteArray bytes = plainOnTls ? m_plainAnswer : m_answer;
    if (bytes.isEmpty())
        bytes = "HTTP/1.1 " + QByteArray::number(m_statusCode)
            + " Test\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    const auto answer = [socket, bytes] {
        socket->write(bytes);
        socket->disconnectFromHost();
    };
    if (m_answerDelay.count() > 0)
        QTimer::singleShot(m_answerDelay, socket, answer);
    else
        answer();
}
