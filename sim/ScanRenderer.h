#pragma once

#include <QImage>
#include <QPointF>
#include <QVector>

class SlideModel;

// The frames of a tile scan as the test server takes them with its stage
// error, drawn directly without HTTP, with where each really landed: the
// truth that tests and benchmarks of the stitching compare with.
class ScanRenderer
{
public:
    struct Frame
    {
        int row = 0, col = 0;
        QPointF requested; // stage units, the frame's centre as reported
        QPointF actual;    // where the stage landed
    };

    ScanRenderer(const SlideModel& slide, quint32 seed, double stageErrorUm);
    // rows x cols frames, the first centred at first, neighbours step stage units apart.
    QVector<Frame> grid(QPointF first, QPointF step, int rows, int cols) const;
    // A frame of w x h pixels at the landing point, in focus.
    QImage render(const Frame& frame, int w, int h) const;

private:
    const SlideModel& m_slide;
    quint32 m_seed;
    double m_errorUnits;
};
