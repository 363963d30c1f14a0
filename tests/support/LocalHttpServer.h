#pragma once

#include <QByteArrayList>
#include <QObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpServer>

#include <chrono>
#include <optional>

/// \brief A self-signed certificate for 127.0.0.1, made at test time with the openssl tool.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey key;

    static std::optional<TestCertificate> generate();
};

/// \brief A small HTTP or HTTPS server on 127.0.0.1 that answers every request with one status
/// and an empty body, or with bytes of the test's choosing, or, when silent, accepts connections and
/// never answers (not even a TLS handshake).
///
/// An HTTPS server tells a TLS handshake from a plain request on the same port, as real servers do:
/// the plain one gets the plain answer if one is set, otherwise its connection is closed.
class LocalHttpServer : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool listenHttp(quint16 port = 0) { return listen(false, port); }
    bool listenHttps(const TestCertificate &certificate, quint16 port = 0);
    /// Drops every connection too: sockets are children of their server.
    void close()
    {
        delete m_server;
        m_server = nullptr;
    }

    void setStatusCode(int code) { m_statusCode = code; }
    /// Sent as it is to every request instead of the status.
    void setAnswer(const QByteArray &answer) { m_answer = answer; }
    /// What a plain-HTTP request to an HTTPS server gets, as it is.
    void setPlainAnswer(const QByteArray &answer) { m_plainAnswer = answer; }
    void setSilent(bool silent) { m_silent = silent; }
    /// Answers this long after a request is complete, holding its connection open meanwhile.
    void setAnswerDelay(std::chrono::milliseconds delay) { m_answerDelay = delay; }

    quint16 port() const { return m_server ? m_server->serverPort() : 0; }
    /// Request lines received, "HEAD / HTTP/1.1" and the like; on a plain HTTP server, "TLS" for
    /// each connection that opened with a TLS handshake (refused at once); on an HTTPS server,
    /// "plain HEAD / HTTP/1.1" for a plain request that got the plain answer.
    const QByteArrayList &requests() const { return m_requests; }

    /// The most connections that were open at the same time.
    int mostConnectionsAtOnce() const { return m_mostOpen; }

    /// A port on 127.0.0.1 that nothing listens on (just released).
    static quint16 unusedPort();

private:
    bool listen(bool tls, quint16 port);
    void serve(QTcpSocket *socket);

    QTcpServer *m_server = nullptr;
    QSslConfiguration m_tlsConfiguration;
    QByteArray m_answer;
    QByteArray m_plainAnswer;
    QByteArrayList m_requests;
    int m_statusCode = 200;
    bool m_silent = false;
    std::chrono::milliseconds m_answerDelay { 0 };
    int m_open = 0;
    int m_mostOpen = 0;
};
