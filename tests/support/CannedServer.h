#pragma once

#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>

// Answers each request with the body of the first key its target contains
// (404 when none), so a test can send replies the test server never would.
// Listens on 127.0.0.1 only.
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
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    const QByteArray head = socket->peek(8192);
                    if (!head.contains("\r\n\r\n"))
                        return;
                    targets << QString::fromLatin1(socket->readAll().split(' ').value(1));
                    QByteArray reply = "404 Not Found\r\nContent-Length: 0\r\n\r\n";
                    for (auto it = bodies.cbegin(); it != bodies.cend(); ++it)
                        if (targets.last().contains(it.key())) {
                            reply = "200 OK\r\nContent-Length: " + QByteArray::number(it->size()) + "\r\n\r\n" + *it;
                            break;
                        }
                    socket->write("HTTP/1.1 " + reply);
                    socket->disconnectFromHost();
                });
        });
    }

    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(serverPort()); }
};
