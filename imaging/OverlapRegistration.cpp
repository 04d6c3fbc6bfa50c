#include "imaging/OverlapRegistration.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {
constexpr int kHighPass = 9;
} // namespace

bool OverlapRegistration::strips(QSize tile, QPoint offset, cv::Rect* inA, cv::Rect* inB)
{
    const cv::Rect a(0, 0, tile.width(), tile.height());
    const cv::Rect b(offset.x(), offset.y(), tile.width(), tile.height());
    // the whole length: on sparse cells the few there may lie anywhere along it
    const cv::Rect common = a & b;
    if (common.width < kMinSide || common.height < kMinSide)
        return false;
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

OverlapRegistration::Result OverlapRegistration::measure(const cv::Mat& stripA, const cv::Mat& stripB, QPoint offset,
                                                         int searchPx)
{
    Result r;
    // at least half of b's strip stays to be matched
    const int reach = std::min(searchPx / kScale + 1, std::min(stripB.cols, stripB.rows) / 4);
    if (stripA.size() != stripB.size() || stripA.cols < kMinSide / kScale || stripA.rows < kMinSide / kScale)
        return r;
    // b's strip without a margin of the reach, moved over a's
    const cv::Mat middle = stripB(cv::Rect(reach, reach, stripB.cols - 2 * reach, stripB.rows - 2 * reach));
    cv::Mat ncc;
    cv::matchTemplate(stripA, middle, ncc, cv::TM_CCOEFF_NORMED);
    double best = 0.0;
    cv::Point at;
    cv::minMaxLoc(ncc, nullptr, &best, nullptr, &at);
    // the vertex of a parabola through the peak and its neighbours
    auto vertex = [](float below, float peak, float above) {
        const float d = below - 2.0f * peak + above;
        return d < 0.0f ? 0.5 * (below - above) / d : 0.0;
    };
    double dx = at.x, dy = at.y;
    if (at.x > 0 && at.x + 1 < ncc.cols)
        dx += vertex(ncc.at<float>(at.y, at.x - 1), ncc.at<float>(at), ncc.at<float>(at.y, at.x + 1));
    if (at.y > 0 && at.y + 1 < ncc.rows)
        dy += vertex(ncc.at<float>(at.y - 1, at.x), ncc.at<float>(at), ncc.at<float>(at.y + 1, at.x));
    r.offsetPx = QPointF(offset.x() + (dx - reach) * kScale, offset.y() + (dy - reach) * kScale);
    r.score = best;
    r.valid = std::isfinite(best);
    return r;
}

double OverlapRegistration::threshold(QVector<double> nullScores, double floor)
{
    if (nullScores.isEmpty())
        return floor;
    auto median = [](QVector<double>& v) {
        std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
        return v[v.size() / 2];
    };
    const double middle = median(nullScores);
    for (double& s : nullScores)
        s = std::abs(s - middle);
    // 1.4826 MAD estimates the standard deviation without the outliers' pull
    return std::max(floor, middle + 4.0 * 1.4826 * median(nullScores));
}
