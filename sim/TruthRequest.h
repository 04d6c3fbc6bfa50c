#pragma once

#include "sim/SimReply.h"

#include <QImage>

class QUrlQuery;
class SlideModel;

// The ground truth behind the frames of any region, for tests only (no Orvex
// server has it): "/cgi-bin/otruth?f=region&s=SLIDE&x=X&y=Y&w=W&h=H&upp=U"
// answers a PNG of W x H pixels whose top-left pixel centre is the stage
// point (X, Y), U stage units per pixel (5, the camera's scale, when left
// out): the slide in focus, without light fall-off or noise.
class TruthRequest
{
public:
    static constexpr int kMaxSide = 4096;

    static QImage render(const SlideModel& slide, double x, double y, int w, int h, double unitsPerPixel);
    static SimReply answer(const SlideModel& slide, const QUrlQuery& query);
};
