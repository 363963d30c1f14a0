#include "GateTestOrigin.h"

bool GateTestOrigin::listen()
{
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_connections.remove(socket);
                m_streams.removeAll(socket);
                socket->deleteLater();
            });
        }
    });
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void GateTestOrigin::sendEvent(const QByteArray &data)
{
    for (QTcpSocket *socket : std::as_const(m_streams))
        socket->write("data: " + data + "\n\n");
}

void GateTestOrigin::handleReadyRead(QTcpSocket *socket)
{
    Connection &connection = m_connections[socket];
    const auto answer = [socket](const QByteArray &body) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    };
    QByteArray data = socket->readAll();
    if (connection.echo) {
        socket->write("echo:" + data);
        return;
    }
    if (connection.bodyLeft > 0) {
        if ((connection.bodyLeft -= data.size()) <= 0)
            answer(QByteArray::number(connection.bodySize));
        return;
    }
    connection.head += data;
    const qsizetype end = connection.head.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QByteArray head = connection.head.left(end);
    const QByteArray lower = head.toLower();
    data = connection.head.mid(end + 4);
    connection.head.clear();
    const auto header = [&](const QByteArray &name) {
        const qsizetype at = lower.indexOf("\r\n" + name + ':');
        const qsizetype from = at + name.size() + 3;
        return at < 0 ? QByteArray() : head.mid(from, lower.indexOf("\r\n", from) - from).trimmed();
    };
    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
    if (header("upgrade").toLower() == "websocket") {
        connection.echo = true;
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
        if (!data.isEmpty())
            socket->write("echo:" + data);
    } else if (request.value(1) == "/events") {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n\r\n");
        m_streams.append(socket);
    } else if (request.value(0) == "POST") {
        connection.bodySize = header("content-length").toLongLong();
        if ((connection.bodyLeft = connection.bodySize - data.size()) <= 0)
            answer(QByteArray::number(connection.bodySize));
    } else {
        answer("origin " + request.value(0) + ' ' + request.value(1) + " host=" + header("host"));
    }
}
