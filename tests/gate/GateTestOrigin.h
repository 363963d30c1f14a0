#pragma once

#include <QTcpServer>
#include <QTcpSocket>

/// \brief A local service for gate tests on 127.0.0.1, speaking just enough HTTP/1.1:
/// - any path: 200 with the body "origin <method> <path> host=<Host header>", keep-alive;
/// - POST: reads the whole body, answers 200 with the number of bytes received;
/// - "/events": a server-sent event stream; sendEvent() writes one event to every open stream;
/// - "/ws" with "Upgrade: websocket": 101, then echoes every byte back with "echo:" before it.
class GateTestOrigin : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    void sendEvent(const QByteArray &data);

private:
    QTcpServer m_server { this }; // a child, so that it moves along to another thread
    QList<QTcpSocket *> m_streams;
};
