#pragma once

#include <QRect>

class QPainter;

// Download state of a slide picture, drawn over a preview: a thin progress
// bar while the picture arrives, a centred notice when it could not be had.
class PictureStatus
{
public:
    static const char* unavailableText() { return "Slide picture unavailable"; }

    void started();
    void progress(int bytesDone, int bytesTotal);
    // The request ended, with or without a picture to show; an undecodable
    // reply or a failed request leaves none.
    void finished(bool hasPicture);

    bool isDownloading() const { return downloading; }
    bool isUnavailable() const { return unavailable; }
    // Fraction of the picture received, 0 when the size is not known yet.
    double fraction() const;

    void paint(QPainter& painter, const QRect& area) const;

private:
    bool downloading = false;
    bool unavailable = false;
    int done = 0;
    int total = 0;
};
