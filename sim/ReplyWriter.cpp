#include "sim/ReplyWriter.h"

#include "sim/SimNoise.h"

#include <QHttpServerResponder>

namespace {

constexpr qint64 kOversizeBytes = 80LL * 1024 * 1024;
constexpr int kDripPieces = 25;
constexpr int kDripIntervalMs = 50;

QByteArray reasonFor(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

} // namespace

QByteArray ReplyWriter::rawResponse(const SimReply& reply, qint64 declaredLength)
{
    QByteArray out = (reply.http10 ? "HTTP/1.0 " : "HTTP/1.1 ") + QByteArray::number(reply.status) + ' ' +
                     reasonFor(reply.status) + "\r\n";
    out += "Content-Type: " + reply.contentType + "\r\n";
    if (!reply.http10 || declaredLength >= 0)
        out +=
            "Content-Length: " + QByteArray::number(declaredLength >= 0 ? declaredLength : reply.body.size()) + "\r\n";
    out += "Connection: close\r\n\r\n";
    return out;
}

void ReplyWriter::deliver(QTcpSocket* socket, std::shared_ptr<QHttpServerResponder> responder, const SimReply& reply,
                          Fault fault, quint32 noiseSeed)
{
    if (!socket)
        return;
    SimReply r = reply;
    switch (fault) {
    case Fault::Refuse:
        socket->abort();
        return;
    case Fault::Stall:
        return; // the connection stays open until the client gives up
    case Fault::Cut: {
        const qint64 half = r.body.size() / 2;
        socket->write(rawResponse(r, r.body.size() + 4096));
        socket->write(r.body.left(half));
        socket->disconnectFromHost();
        return;
    }
    case Fault::Drip: {
        auto* w = new ReplyWriter(socket, Mode::Drip, rawResponse(r) + r.body);
        w->pump();
        return;
    }
    case Fault::Oversize: {
        SimReply big = r;
        big.contentType = "application/octet-stream";
        auto* w = new ReplyWriter(socket, Mode::Oversize, rawResponse(big, kOversizeBytes));
        w->pump();
        return;
    }
    case Fault::Http500:
        r.status = 500;
        r.contentType = "text/plain";
        r.body = "Internal Server Error";
        break;
    case Fault::Empty:
        r.body.clear();
        break;
    case Fault::Garbage: {
        SimRandom rng(noiseSeed);
        r.contentType = "application/octet-stream";
        r.body.resize(64 + static_cast<int>(rng.next() % 4000));
        for (char& c : r.body)
            c = static_cast<char>(rng.next() & 0xFF);
        break;
    }
    case Fault::Status:
        if (r.body.isEmpty())
            r.body = "?";
        else
            r.body[0] = '?';
        break;
    case Fault::Nul: {
        QByteArray mixed;
        for (int i = 0; i < r.body.size(); ++i) {
            mixed += r.body.at(i);
            if (i == 0 || i % 9 == 0)
                mixed += '\0';
        }
        if (mixed.isEmpty())
            mixed = QByteArray(4, '\0');
        r.body = mixed;
        break;
    }
    case Fault::NulEnd:
        r.body += '\0';
        break;
    case Fault::None:
        break;
    }
    if (!responder) {
        if (r.http10) {
            socket->write(rawResponse(r) + r.body);
            socket->disconnectFromHost();
        }
        return;
    }
    responder->write(r.body, {{"Content-Type", r.contentType}},
                     static_cast<QHttpServerResponder::StatusCode>(r.status));
}

ReplyWriter::ReplyWriter(QTcpSocket* socket, Mode mode, QByteArray data)
    : QObject(socket)
    , m_socket(socket)
    , m_mode(mode)
    , m_data(std::move(data))
{
    if (m_mode == Mode::Drip) {
        m_chunk = std::max<qint64>(4, (m_data.size() + kDripPieces - 1) / kDripPieces);
        m_timer.setInterval(kDripIntervalMs);
        connect(&m_timer, &QTimer::timeout, this, &ReplyWriter::pump);
        m_timer.start();
    } else {
        connect(socket, &QTcpSocket::bytesWritten, this, &ReplyWriter::pump);
    }
}

void ReplyWriter::pump()
{
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        m_timer.stop();
        return;
    }
    if (m_mode == Mode::Drip) {
        if (m_sent >= m_data.size()) {
            m_timer.stop();
            m_socket->disconnectFromHost();
            return;
        }
        m_socket->write(m_data.mid(m_sent, m_chunk));
        m_sent += m_chunk;
        return;
    }
    // Oversize: the headers once, then filler while the socket drains.
    if (!m_headerSent) {
        m_socket->write(m_data);
        m_headerSent = true;
    }
    static const QByteArray filler(256 * 1024, 'x');
    while (m_socket->bytesToWrite() < 1024 * 1024 && m_sent < kOversizeBytes) {
        m_socket->write(filler);
        m_sent += filler.size();
    }
    if (m_sent >= kOversizeBytes)
        m_socket->disconnectFromHost();
}
