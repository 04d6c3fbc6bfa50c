#pragma once

#include "imaging/OmeXml.h"
#include "views/StackPlane.h"

#include <QDateTime>
#include <QList>
#include <QPointF>
#include <QPromise>
#include <QString>
#include <QVector>

// A focus stack leaving the session: its OME description, and the planes
// written as one OME-TIFF file on a worker thread.
class StackExport
{
public:
    // zStage holds each plane's z in stage units (0.1 µm); topLeftUm is the
    // stage position of every plane's top-left pixel. The z step is taken from the planes.
    static OmeImage describe(const QString& slide, const QDateTime& began, const QPointF& topLeftUm,
                             const QVector<double>& zStage, float mppX, float mppY);

    // Decodes and writes plane after plane, reporting progress in planes;
    // a failure leaves no file. The result is the reason it
    // failed, or empty.
    static void write(QPromise<QString>& promise, const QString& path, const QList<StackPlane>& planes,
                      const OmeImage& meta);
};
