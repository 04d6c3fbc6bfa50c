#pragma once

#include "net/MyHTTP.h"

#include <QObject>
#include <QPointF>
#include <QString>

class SessionLink;

// Submits an acquisition job over a region of the slide ("f=cj") and reads
// the server's answer.
class JobSubmitter : public QObject
{
    Q_OBJECT

public:
    explicit JobSubmitter(SessionLink& link, QObject* parent = nullptr);

    // Corners in stage millimetres, density in samples per millimetre; the
    // number of samples only goes into the report.
    void submit(const QString& name, QPointF topLeftMm, QPointF bottomRightMm, int density, int samples);
    void stop();

    MyHTTP jobFetcher;

signals:
    // "Job NAME" and the server's words.
    void submitted(const QString& job, const QString& serverText);
    // A "***" line: the job was refused or the server could not be reached.
    void message(const QString& text);

private:
    void replyArrived();

    SessionLink& link;
    // What a sent job was, so its outcome can name it.
    QString pendingName;
    QString pendingParameters;
};
