#include "sim/ScanRenderer.h"

#include "sim/SimNoise.h"
#include "sim/SlideModel.h"
#include "sim/SlideRenderer.h"
#include "sim/StageError.h"

ScanRenderer::ScanRenderer(const SlideModel& slide, quint32 seed, double stageErrorUm)
    : m_slide(slide)
    , m_seed(seed)
    , m_errorUnits(stageErrorUm * 10.0)
{
}

QVector<ScanRenderer::Frame> ScanRenderer::grid(QPointF first, QPointF step, int rows, int cols) const
{
    QVector<Frame> frames;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            Frame f;
            f.row = r;
            f.col = c;
            // the server works in whole stage units
            f.requested = QPointF(qint64(first.x() + c * step.x()), qint64(first.y() + r * step.y()));
            f.actual = f.requested + StageError::landing(m_seed, f.requested.x(), f.requested.y(), m_errorUnits);
            frames.append(f);
        }
    return frames;
}

QImage ScanRenderer::render(const Frame& frame, int w, int h) const
{
    const double x = frame.actual.x(), y = frame.actual.y();
    const quint32 noise = SimNoise::hash(m_seed, quint32(frame.row * 7919 + frame.col), 0x5CA7u);
    return SlideRenderer::frame(m_slide, x, y, m_slide.focalPlaneAt(x, y), w, h, noise);
}
