#include "LocalHttpServer.h"

#include <QProcess>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QTimer>

#include <functional>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

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
    if (result.certificate.isNull() || result.key.isNull())
        return std::nullopt;
    return result;
}

bool LocalHttpServer::listenHttp(quint16 port)
{
    return listen(false, port);
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
    server->accepted = [this](qintptr descriptor) { handleIncoming(descriptor); };
    m_server = server;
    m_tls = tls;
    return server->listen(QHostAddress::LocalHost, port);
}

quint16 LocalHttpServer::unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

void LocalHttpServer::handleIncoming(qintptr descriptor)
{
    if (!m_tls) {
        auto *socket = new QTcpSocket(m_server);
        socket->setSocketDescriptor(descriptor);
        serve(socket, false);
        return;
    }
    // Wait for the first byte without taking it, then hand the connection to TLS or to plain HTTP.
    auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, m_server);
    auto owned = std::make_shared<bool>(true);
    connect(notifier, &QObject::destroyed, [descriptor, owned] {
        if (*owned)
            ::close(int(descriptor));
    });
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, descriptor, owned] {
        notifier->setEnabled(false);
        notifier->deleteLater();
        char first = 0;
        if (::recv(int(descriptor), &first, 1, MSG_PEEK) != 1)
            return; // closed before it spoke; the notifier's end closes the descriptor
        *owned = false;
        handleFirstByte(descriptor, first);
    });
}

void LocalHttpServer::handleFirstByte(qintptr descriptor, char first)
{
    // A TLS record opens with the handshake type 0x16, which no request line does.
    if (first == '\x16') {
        auto *socket = new QSslSocket(m_server);
        socket->setSslConfiguration(m_tlsConfiguration);
        socket->setSocketDescriptor(descriptor);
        socket->startServerEncryption();
        serve(socket, false);
    } else if (!m_plainAnswer.isEmpty()) {
        auto *socket = new QTcpSocket(m_server);
        socket->setSocketDescriptor(descriptor);
        serve(socket, true);
    } else {
        ::close(int(descriptor));
    }
}

void LocalHttpServer::serve(QTcpSocket *socket, bool plainOnTls)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    m_mostOpen = std::max(m_mostOpen, ++m_open);
    connect(socket, &QObject::destroyed, this, [this] { --m_open; });
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, plainOnTls] {
        // One request per connection, answered once its head is complete.
        const QByteArray head = socket->peek(socket->bytesAvailable());
        if (!m_tls && head.startsWith('\x16')) {
            m_requests.append("TLS");
            if (!m_silent)
                socket->abort();
            return;
        }
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
    });
}
