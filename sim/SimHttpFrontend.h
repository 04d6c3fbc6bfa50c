#pragma once

#include <QAbstractHttpServer>
#include <functional>

class QHttpServerRequest;
class QTcpSocket;

// Qt HTTP Server front end that hands every parsed request, with its socket,
// to one handler, so that replies can be delayed or broken on purpose.
class SimHttpFrontend : public QAbstractHttpServer
{
    Q_OBJECT
public:
    using Handler = std::function<void(const QHttpServerRequest&, QTcpSocket*)>;
    explicit SimHttpFrontend(Handler handler, QObject* parent = nullptr);
    static QHttpServerResponder responderFor(const QHttpServerRequest& request, QTcpSocket* socket);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    Handler m_handler;
};
