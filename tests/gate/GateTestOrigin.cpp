#include "GateTestOrigin.h"

bool GateTestOrigin::listen()
{
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            m_connections.insert(socket, {});
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

void GateTestOrigin::answer(QTcpSocket *socket, const QByteArray &status, const QByteArray &body)
{
    socket->write("HTTP/1.1 " + status
        + "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

void GateTestOrigin::handleReadyRead(QTcpSocket *socket)
{
    Connection &connection = m_connections[socket];
    const QByteArray data = socket->readAll();
    if (connection.raw) {
        socket->write("echo:" + data);
        return;
    }
    if (connection.bodyLeft >= 0) {
        connection.bodyLeft -= data.size();
        connection.bodySize += data.size();
        if (connection.bodyLeft <= 0) {
            connection.bodyLeft = -1;
            answer(socket, "200 OK", QByteArray::number(connection.bodySize));
        }
        return;
    }
    connection.buffer += data;
    const qsizetype end = connection.buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return;
    const QByteArray headers = connection.buffer.left(end);
    const QByteArray rest = connection.buffer.mid(end + 4);
    connection.buffer.clear();
    const QList<QByteArray> requestLine = headers.left(headers.indexOf("\r\n")).split(' ');
    const QByteArray method = requestLine.value(0);
    const QByteArray path = requestLine.value(1);
    QByteArray host;
    qint64 length = 0;
    bool upgrade = false;
    for (const QByteArray &line : headers.split('\n')) {
        const QByteArray lower = line.trimmed().toLower();
        if (lower.startsWith("host:"))
            host = line.trimmed().mid(5).trimmed();
        else if (lower.startsWith("content-length:"))
            length = lower.mid(15).trimmed().toLongLong();
        else if (lower.startsWith("upgrade:") && lower.contains("websocket"))
            upgrade = true;
    }
    if (upgrade) {
        connection.raw = true;
        socket->write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
        if (!rest.isEmpty())
            socket->write("echo:" + rest);
    } else if (path == "/events") {
        socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n\r\n");
        m_streams.append(socket);
    } else if (method == "POST") {
        connection.bodySize = rest.size();
        connection.bodyLeft = length - rest.size();
        if (connection.bodyLeft <= 0) {
            connection.bodyLeft = -1;
            answer(socket, "200 OK", QByteArray::number(connection.bodySize));
        }
    } else {
        answer(socket, "200 OK", "origin " + method + ' ' + path + " host=" + host);
    }
}
