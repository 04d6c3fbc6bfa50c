#pragma once

#include "sim/SimReply.h"

#include <QImage>
#include <vector>

class SlideModel;
class SlideLibrary;

// Thick specimens (smears, thick sections on a tilted slide): the in-focus
// height varies within one frame by a tilt and a gentle undulation spanning
// several depths of field, so no single plane is sharp everywhere. Frames blur
// each pixel by its own distance from focus; the truth requests give the
// all-in-focus frame and the height map that a focus stack should recover.
class ThickSpecimen
{
public:
    // Slides named "smear-..." or "thick-..." are thick.
    static bool isThick(const SlideModel& slide);
    // The in-focus z at a stage point, stage units; the slide's focal plane for thin slides.
    static double surfaceAt(const SlideModel& slide, double x, double y);

    // A live frame of w x h pixels centred on (x, y) with the stage at z.
    static QImage frame(const SlideModel& slide, double x, double y, double z, int w, int h, quint32 seed);
    // The same frame sharp everywhere and without sensor noise.
    static QImage truthFrame(const SlideModel& slide, double x, double y, int w, int h);
    // The in-focus z of every frame pixel in µm, row by row.
    static std::vector<float> truthHeightUm(const SlideModel& slide, double x, double y, int w, int h);

    // GET /cgi-bin/otruth?f=aif|height&s=SLIDE&x=X&y=Y&ps=1..4: the all-in-focus
    // frame as PNG, or the height map as a 16-bit grey PNG in stage units (0.1 µm).
    static SimReply truthReply(SlideLibrary& slides, const QString& kind, const QString& slide, double x, double y,
                               int pictureSize);
};
