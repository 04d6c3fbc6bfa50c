#include "imaging/OverlapRegistration.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

namespace {
constexpr int kHighPass = 9;
} // namespace

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

OverlapRegistration::Result OverlapRegistration::measure(const cv::Mat& a, const cv::Mat& b, QPointF offset,
                                                         int searchPx)
{
    Result r;
    if (a.size() != b.size() || a.empty())
        return r;
    const cv::Point at(qRound(offset.x() / kScale), qRound(offset.y() / kScale));
    const int reach = searchPx / kScale + 1;
    const cv::Rect tile(0, 0, a.cols, a.rows);
    // the part of b that lies on a wherever in the range b landed, in a's pixels
    const cv::Rect sure = cv::Rect(reach, reach, a.cols - 2 * reach, a.rows - 2 * reach) & (tile + at);
    // ncc(y, x): b's top-left at at + (x, y) - reach
    cv::Mat ncc;
    if (sure.width >= kMinSide / kScale && sure.height >= kMinSide / kScale) {
        const cv::Rect area(sure.x - reach, sure.y - reach, sure.width + 2 * reach, sure.height + 2 * reach);
        cv::matchTemplate(a(area), b(sure - at), ncc, cv::TM_CCOEFF_NORMED);
    } else {
        ncc = narrowOverlap(a, b, at, reach);
    }
    double best = 0.0;
    cv::Point peak;
    cv::minMaxLoc(ncc, nullptr, &best, nullptr, &peak);
    if (!(best > -1.0))
        return r;
    // the vertex of a parabola through the peak and its neighbours
    auto vertex = [](float below, float top, float above) {
        const float d = below - 2.0f * top + above;
        return d < 0.0f ? 0.5 * (below - above) / d : 0.0;
    };
    double dx = peak.x, dy = peak.y;
    if (peak.x > 0 && peak.x + 1 < ncc.cols)
        dx += vertex(ncc.at<float>(peak.y, peak.x - 1), ncc.at<float>(peak), ncc.at<float>(peak.y, peak.x + 1));
    if (peak.y > 0 && peak.y + 1 < ncc.rows)
        dy += vertex(ncc.at<float>(peak.y - 1, peak.x), ncc.at<float>(peak), ncc.at<float>(peak.y + 1, peak.x));
    r.offsetPx = QPointF((at.x + dx - reach) * kScale, (at.y + dy - reach) * kScale);
    r.score = best;
    r.valid = std::isfinite(best);
    return r;
}

cv::Mat OverlapRegistration::narrowOverlap(const cv::Mat& a, const cv::Mat& b, cv::Point at, int reach)
{
    // no part of b is sure to lie on a: every landing in the range is tried
    // on the overlap it leaves, -1 where that is too small to tell
    const cv::Rect tile(0, 0, a.cols, a.rows);
    cv::Mat ncc(2 * reach + 1, 2 * reach + 1, CV_32F, cv::Scalar(-1.0f));
    for (int y = 0; y < ncc.rows; ++y)
        for (int x = 0; x < ncc.cols; ++x) {
            const cv::Point o = at + cv::Point(x - reach, y - reach);
            const cv::Rect common = tile & (tile + o);
            if (std::min(common.width, common.height) < kNarrowSide ||
                common.area() < kMinSide * kMinSide / (kScale * kScale))
                continue;
            cv::Mat one;
            cv::matchTemplate(a(common), b(common - o), one, cv::TM_CCOEFF_NORMED);
            ncc.at<float>(y, x) = one.at<float>(0, 0);
        }
    return ncc;
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
