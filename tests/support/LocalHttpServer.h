#pragma once

#include <QByteArrayList>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpSocket>

#include <optional>

class QTcpServer;

/// \brief A self-signed certificate for 127.0.0.1, made at test time with the openssl tool.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;

    static std::optional<TestCertificate> generate();
};

/// \brief A small HTTP or HTTPS server on 127.0.0.1 that answers every request with one status
/// and an empty body, or, when silent, accepts connections and never answers.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    explicit LocalHttpServer(QObject *parent = nullptr);
    ~LocalHttpServer() override;

    bool listenHttp(quint16 port = 0);
    bool listenHttps(const TestCertificate &certificate, quint16 port = 0);
    void close();

    void setStatusCode(int code) { m_statusCode = code; }
    void setSilent(bool silent) { m_silent = silent; }

    quint16 port() const;
    int connectionCount() const { return m_connections; }
    /// Request lines received, "HEAD / HTTP/1.1" and the like.
    const QByteArrayList &requests() const { return m_requests; }

    /// A port on 127.0.0.1 that nothing listens on (just released).
    static quint16 unusedPort();

signals:
    void requestReceived();

private:
    bool listenOn(QTcpServer *server, quint16 port);
    void handleServerPendingConnectionAvailable();
    void handleSocketReadyRead(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QList<QPointer<QTcpSocket>> m_sockets;
    QHash<QTcpSocket *, QByteArray> m_buffers;
    QByteArrayList m_requests;
    int m_statusCode = 200;
    bool m_silent = false;
    int m_connections = 0;
};
