#pragma once

#include "acquire/CoordinateTriple.h"
#include "imaging/OmeXml.h"
#include "views/FilterPipeline.h"

#include <QDateTime>
#include <QSize>
#include <QString>

// Where, when and how a live video frame was taken: written into a saved
// picture as text and used to suggest the picture's file name.
class FrameRecord
{
public:
    CoordinateTriple stage; // stage units: 0.1 µm
    float mppX = 0.0f;      // micrometres per pixel
    float mppY = 0.0f;
    QSize size;
    QString microscope;
    QString slide;
    QString server;
    QString user;
    QDateTime taken;
    FilterPipeline::Settings filters;

    // One line of "Name: value" fields joined by "; ", from "Stage X: 37.8350 mm"
    // to "Filters: ...". A JPEG keeps it as one comment, which exiftool and
    // identify show whole; one comment per field would show only the last.
    QString comment() const;
    // The same facts as OME-XML: slide, time, scale and the stage position of
    // the top-left pixel in µm.
    OmeImage ome() const;
    // Slide, stage x and y in mm and the time, e.g. "liver-01_x37.8350_y25.1625_20261207-101530.jpg";
    // only letters, digits, '.', '-' and '_', so any file system takes it.
    QString suggestedFileName() const;
    // The filter settings in words, as the video window's controls name them.
    static QString describe(const FilterPipeline::Settings& filters);
};
