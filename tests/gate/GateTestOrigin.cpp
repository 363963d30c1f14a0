#include "GateTestOrigin.h"

namespace {

struct Connection
{
    QByteArray head; ///< of a request not yet complete
    qint64 bodyLeft = 0; ///< of a POST body being read
    qint64 bodySize = 0;
    bool echo = false; ///< upgraded
};

QByteArray header(const QByteArray &head, const QByteArray &name)
{
    const qsizetype at = head.toLower().indexOf("\r\n" + name + ':');
    const qsizetype from = at + name.size() + 3;
    return at < 0 ? QByteArray() : head.mid(from, head.indexOf("\r\n", from) - from).trimmed();
}

void answer(QTcpSocket *socket, const QByteArray &body)
{
    socket->write("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

} // namespace

bool GateTestOrigin::listen()
{
    connect(&m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, connection = Connection()]() mutable {
                QByteArray data = socket->readAll();
                if (connection.echo) {
                    socket->write("echo:" + data);
                } else if (connection.bodyLeft > 0) {
                    if ((connection.bodyLeft -= data.size()) <= 0)
                        answer(socket, QByteArray::number(connection.bodySize));
                } else if (const qsizetype end = (connection.head += data).indexOf("\r\n\r\n"); end >= 0) {
                    const QByteArray head = connection.head.left(end);
                    data = connection.head.mid(end + 4);
                    connection.head.clear();
                    const QList<QByteArray> request = head.left(head.indexOf("\r\n")).split(' ');
                    if (header(head, "upgrade").toLower() == "websocket") {
                        connection.echo = true;
                        socket->write(
                            "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n"
                            + (data.isEmpty() ? QByteArray() : "echo:" + data));
                    } else if (request.value(1) == "/events") {
                        socket->write(
                            "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n\r\n");
                        m_streams.append(socket);
                    } else if (request.value(0) == "POST") {
                        connection.bodySize = header(head, "content-length").toLongLong();
                        if ((connection.bodyLeft = connection.bodySize - data.size()) <= 0)
                            answer(socket, QByteArray::number(connection.bodySize));
                    } else {
                        answer(socket,
                            "origin " + request.value(0) + ' ' + request.value(1) + " host=" + header(head, "host"));
                    }
                }
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
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
