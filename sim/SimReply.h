#pragma once

#include <QByteArray>

// One reply of the simulated server before any fault is applied.
struct SimReply
{
    int status = 200;
    QByteArray contentType = "text/plain";
    QByteArray body;
    int delayMs = 0;     // time the instrument needs before it can answer
    bool http10 = false; // HTTP/1.0 without Content-Length: the close ends the body

    static SimReply text(const QByteArray& body, int delayMs = 0)
    {
        SimReply r;
        r.body = body;
        r.delayMs = delayMs;
        return r;
    }
    static SimReply jpeg(const QByteArray& body)
    {
        SimReply r;
        r.contentType = "image/jpeg";
        r.body = body;
        return r;
    }
    static SimReply notFound()
    {
        SimReply r;
        r.status = 404;
        r.body = "Not Found";
        return r;
    }
};
