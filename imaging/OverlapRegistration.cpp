#include "imaging/OverlapRegistration.h"

#include <opencv2/imgproc.hpp>

namespace {
constexpr int kHighPass = 9;
constexpr int kMaxLength = 640;
} // namespace

bool OverlapRegistration::strips(QSize tile, QPoint offset, cv::Rect* inA, cv::Rect* inB)
{
    const cv::Rect a(0, 0, tile.width(), tile.height());
    const cv::Rect b(offset.x(), offset.y(), tile.width(), tile.height());
    cv::Rect common = a & b;
    if (common.width < kMinSide || common.height < kMinSide)
        return false;
    // the middle of a long overlap holds enough to register, at half the work
    auto middle = [](int& start, int& length) {
        const int keep = std::min(length, kMaxLength);
        start += (length - keep) / 2 / kScale * kScale;
        length = keep;
    };
    middle(common.x, common.width);
    middle(common.y, common.height);
    *inA = common;
    *inB = common - cv::Point(offset.x(), offset.y());
    return true;
}

cv::Mat OverlapRegistration::prepare(const cv::Mat& rgb)
{
    cv::Mat g, small, f;
    cv::cvtColor(rgb, g, cv::COLOR_RGB2GRAY);
    cv::resize(g, small, cv::Size(g.cols / kScale, g.rows / kScale), 0, 0, cv::INTER_AREA);
    small.convertTo(f, CV_32F);
    // without the light fall-off, which every frame shares at the same place
    // and which would match itself where the slide shows nothing
    cv::Mat smooth;
    cv::blur(f, smooth, cv::Size(kHighPass, kHighPass), cv::Point(-1, -1), cv::BORDER_REFLECT);
    return f - smooth;
}

OverlapRegistration::Result OverlapRegistration::measure(const cv::Mat& stripA, const cv::Mat& stripB, QPoint offset)
{
    Result r;
    if (stripA.size() != stripB.size() || stripA.cols < kMinSide / kScale || stripA.rows < kMinSide / kScale)
        return r;
    cv::Mat window;
    cv::createHanningWindow(window, stripA.size(), CV_32F);
    // b's strip shows a's content moved by the error of the nominal offset;
    // phaseCorrelate reports that movement with the opposite sign
    const cv::Point2d s = cv::phaseCorrelate(stripA, stripB, window, &r.score);
    r.offsetPx = QPointF(offset.x() - s.x * kScale, offset.y() - s.y * kScale);
    r.valid = std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(r.score);
    return r;
}
