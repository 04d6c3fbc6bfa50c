// A bare HTTP client for tests that speak the protocol to the test server
// directly, and the token arithmetic written from the protocol independently
// of both the client's Auth and the server's own check.
#pragma once

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QUrl>

struct PlainReply
{
    int status = 0;
    QByteArray body;
};

inline PlainReply plainGet(QNetworkAccessManager& nam, const QString& url)
{
    QNetworkReply* reply = nam.get(QNetworkRequest(QUrl(url, QUrl::StrictMode)));
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished())
        finished.wait(15000);
    PlainReply r;
    r.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    r.body = reply->readAll();
    reply->deleteLater();
    return r;
}

// Rotates each byte lane of v by the key's characters: left scrambles, right
// unscrambles.
inline quint32 rotateBytes(quint32 v, const QByteArray& key, bool left)
{
    for (int n = 0; n < key.size(); ++n) {
        const int i = left ? n : key.size() - 1 - n;
        const int count = static_cast<signed char>(key[i]) % 8;
        if (count <= 0)
            continue;
        const int shift = (i % 4) * 8;
        const quint32 b = (v >> shift) & 0xFF;
        const quint32 r =
            left ? ((b << count) | (b >> (8 - count))) & 0xFF : ((b >> count) | (b << (8 - count))) & 0xFF;
        v = (v & ~(0xFFu << shift)) | (r << shift);
    }
    return v;
}

// The token a client sends for the draw r (at most 32767) under a challenge.
inline QString clientToken(quint32 challenge, const QString& password, quint32 r)
{
    const quint32 x = ((((r >> 8) * (r & 0xFF)) << 16) | r) ^ challenge;
    return QString::number(rotateBytes(x, password.toLatin1(), true), 16);
}

// The number a client recovers from a "+" reply at the given index.
inline quint32 numberAt(const QByteArray& reply, int index, const QString& password)
{
    bool ok = false;
    const quint32 sent = reply.mid(index).trimmed().toUInt(&ok, 16);
    return ok ? rotateBytes(sent, password.toLatin1(), false) : 0;
}
