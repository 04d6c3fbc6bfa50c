#include "sim/SimHttpFrontend.h"

#include <QHttpServerResponder>

SimHttpFrontend::SimHttpFrontend(Handler handler, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_handler(std::move(handler))
{
}

QHttpServerResponder SimHttpFrontend::responderFor(const QHttpServerRequest& request, QTcpSocket* socket)
{
    return makeResponder(request, socket);
}

bool SimHttpFrontend::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    m_handler(request, socket);
    return true;
}

void SimHttpFrontend::missingHandler(const QHttpServerRequest&, QTcpSocket*) {}
