#pragma once

#include <QHostAddress>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>

// Answers each request with the body given for the first key its target
// contains (404 when none), so a test can send replies the test server never
// would. Listens on 127.0.0.1 only.
class CannedServer : public QTcpServer
{
public:
    QMap<QString, QByteArray> bodies;
    QStringList targets;

    CannedServer()
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { answer(socket); });
        });
    }

    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }

private:
    void answer(QTcpSocket* socket)
    {
        const QByteArray head = socket->peek(8192);
        if (!head.contains("\r\n\r\n"))
            return;
        socket->readAll();
        const QString target = QString::fromLatin1(head.split(' ').value(1));
        targets << target;
        QByteArray status("404 Not Found");
        QByteArray body;
        for (auto it = bodies.cbegin(); it != bodies.cend(); ++it)
            if (target.contains(it.key())) {
                status = "200 OK";
                body = it.value();
                break;
            }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }
};
