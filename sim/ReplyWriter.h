#pragma once

#include "sim/FaultRules.h"
#include "sim/SimReply.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

class QHttpServerResponder;

// Sends a reply over the socket of its request, either properly through the
// responder or broken in the way a fault rule asks for.
class ReplyWriter : public QObject
{
    Q_OBJECT
public:
    static void deliver(QTcpSocket* socket, std::shared_ptr<QHttpServerResponder> responder, const SimReply& reply,
                        Fault fault, quint32 noiseSeed);
    static QByteArray rawResponse(const SimReply& reply, qint64 declaredLength = -1);

private:
    enum class Mode { Drip, Oversize };
    ReplyWriter(QTcpSocket* socket, Mode mode, QByteArray data);
    void pump();

    QPointer<QTcpSocket> m_socket;
    Mode m_mode;
    QByteArray m_data;
    qint64 m_sent = 0;
    qint64 m_chunk = 0;
    bool m_headerSent = false;
    QTimer m_timer;
};
