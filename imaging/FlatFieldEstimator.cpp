#include "imaging/FlatFieldEstimator.h"

#include <Eigen/Dense>
#include <algorithm>
#include <opencv2/imgproc.hpp>

namespace {

constexpr int kDegree = 4; // of the smoothing polynomial in x and y
constexpr int kIterations = 8;
constexpr double kDarkSpread = 1.25; // brightness p90 / p10 that lets an offset be told from gain
constexpr double kBackgroundQuantile = 0.8;
constexpr double kMaxDarkShare = 0.25;
constexpr double kGainRange[2] = {0.3, 1.8}; // against the mean, beyond it the estimate is not trusted

// Monomials u^i v^j, i + j <= kDegree, of a pixel's place scaled to -1..1.
std::vector<double> terms(double u, double v)
{
    std::vector<double> t;
    for (int i = 0; i <= kDegree; ++i)
        for (int j = 0; i + j <= kDegree; ++j)
            t.push_back(std::pow(u, i) * std::pow(v, j));
    return t;
}

double place(int x, int n)
{
    return (x + 0.5) / n * 2.0 - 1.0;
}

// The weighted least-squares polynomial through values, evaluated at `out` size.
cv::Mat smooth(const cv::Mat& values, const cv::Mat& weight, cv::Size out)
{
    const int nTerms = int(terms(0, 0).size());
    Eigen::MatrixXd normal = Eigen::MatrixXd::Zero(nTerms, nTerms);
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(nTerms);
    for (int y = 0; y < values.rows; ++y)
        for (int x = 0; x < values.cols; ++x) {
            const double w = weight.at<float>(y, x);
            if (!(w > 0.0))
                continue;
            const std::vector<double> t = terms(place(x, values.cols), place(y, values.rows));
            const Eigen::Map<const Eigen::VectorXd> tv(t.data(), nTerms);
            normal.noalias() += w * tv * tv.transpose();
            rhs += w * values.at<float>(y, x) * tv;
        }
    const Eigen::VectorXd c = normal.ldlt().solve(rhs);
    // separable evaluation: the powers of u per column, made once, and of v per row
    cv::Mat fit(out, CV_32FC1, cv::Scalar(0));
    std::vector<std::vector<double>> powU(kDegree + 1, std::vector<double>(size_t(out.width), 1.0));
    for (int i = 1; i <= kDegree; ++i)
        for (int x = 0; x < out.width; ++x)
            powU[size_t(i)][size_t(x)] = powU[size_t(i - 1)][size_t(x)] * place(x, out.width);
    std::vector<double> row(size_t(out.width));
    for (int y = 0; y < out.height; ++y) {
        const double v = place(y, out.height);
        std::fill(row.begin(), row.end(), 0.0);
        int k = 0;
        for (int i = 0; i <= kDegree; ++i)
            for (int j = 0; i + j <= kDegree; ++j, ++k) {
                const double cv = c[k] * std::pow(v, j);
                const double* u = powU[size_t(i)].data();
                for (int x = 0; x < out.width; ++x)
                    row[size_t(x)] += cv * u[x];
            }
        float* dst = fit.ptr<float>(y);
        for (int x = 0; x < out.width; ++x)
            dst[x] = float(row[size_t(x)]);
    }
    return fit;
}

double quantile(std::vector<float> v, double q)
{
    if (v.empty())
        return 0.0;
    const auto at = v.begin() + std::ptrdiff_t(q * (v.size() - 1));
    std::nth_element(v.begin(), at, v.end());
    return *at;
}

std::vector<float> values(const cv::Mat& m)
{
    const cv::Mat c = m.isContinuous() ? m : m.clone();
    return std::vector<float>(c.ptr<float>(), c.ptr<float>() + c.total());
}

} // namespace

FlatFieldEstimator::FlatFieldEstimator(cv::Size tileSize)
    : m_tile(tileSize)
    , m_reduced(std::max(1, tileSize.width / kReduce), std::max(1, tileSize.height / kReduce))
{
}

void FlatFieldEstimator::add(const cv::Mat& rgb)
{
    if (rgb.empty() || rgb.type() != CV_8UC3)
        return;
    ++m_seen;
    // an even draw from every frame so far (reservoir sampling)
    int slot = int(m_samples.size());
    if (slot >= kMaxSamples) {
        slot = m_rng.uniform(0, m_seen);
        if (slot >= kMaxSamples)
            return;
    }
    cv::Mat grey, reduced;
    cv::cvtColor(rgb, grey, cv::COLOR_RGB2GRAY);
    if (grey.size() != m_reduced)
        cv::resize(grey, reduced, m_reduced, 0, 0, cv::INTER_AREA);
    else
        reduced = grey;
    cv::Mat f;
    reduced.convertTo(f, CV_32F);
    if (slot == int(m_samples.size()))
        m_samples.push_back(f);
    else
        m_samples[size_t(slot)] = f;
}

FlatField FlatFieldEstimator::estimate() const
{
    return estimate(m_samples, m_tile);
}

// The start: at each pixel a high quantile over the frames of frame / brightness,
// which is background wherever tissue leaves it free in a fifth of the frames.
cv::Mat FlatFieldEstimator::brightestCommon(const std::vector<cv::Mat>& grey, const std::vector<double>& bright)
{
    const cv::Size size = grey[0].size();
    cv::Mat out(size, CV_32FC1);
    std::vector<float> v(grey.size());
    for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) {
            for (size_t i = 0; i < grey.size(); ++i)
                v[i] = float(grey[i].at<float>(y, x) / bright[i]);
            out.at<float>(y, x) = float(quantile(v, kBackgroundQuantile));
        }
    return out;
}

FlatField FlatFieldEstimator::estimate(const std::vector<cv::Mat>& grey, cv::Size tileSize, bool withDark)
{
    const int n = int(grey.size());
    if (n < kMinSamples)
        return FlatField();
    const cv::Size size = grey[0].size();
    const cv::Mat ones(size, CV_32FC1, cv::Scalar(1));
    std::vector<double> bright(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        bright[size_t(i)] = std::max(1.0, quantile(values(grey[size_t(i)]), 0.9));
    cv::Mat gain = smooth(brightestCommon(grey, bright), ones, size);
    gain /= cv::mean(gain)[0];
    double dark = 0.0;
    bool lampVaries = false;
    bool darkFitted = false;
    std::vector<cv::Mat> weight(static_cast<size_t>(n));
    for (int it = 0; it < kIterations; ++it) {
        // how far each pixel departs from brightness x gain, against the frame's
        // own spread, which shows in the departures upward (tissue only darkens);
        // a frame of bare glass, with little spread, counts for more than one
        // of tissue, whose texture hides the light
        for (int i = 0; i < n; ++i) {
            cv::Mat r;
            cv::divide(grey[size_t(i)] - dark, gain * bright[size_t(i)], r);
            r -= 1.0;
            std::vector<float> upward;
            for (int y = 0; y < r.rows; y += 2)
                for (int x = 0; x < r.cols; x += 2)
                    if (r.at<float>(y, x) > 0.f)
                        upward.push_back(r.at<float>(y, x));
            const double sigma = std::max(0.003, 1.4826 * quantile(upward, 0.5));
            r /= 3.0 * sigma;
            cv::divide(1.0 / (sigma * sigma), 1.0 + r.mul(r), weight[size_t(i)]);
        }
        // each frame's brightness: its weighted mean of (frame - dark) / gain
        for (int i = 0; i < n; ++i) {
            const double w = cv::sum(weight[size_t(i)])[0];
            const cv::Mat ratio = (grey[size_t(i)] - dark) / gain;
            if (w > 0)
                bright[size_t(i)] = std::max(1e-3, cv::sum(ratio.mul(weight[size_t(i)]))[0] / w);
        }
        // per pixel, frame against brightness by weighted least squares
        cv::Mat sw = cv::Mat::zeros(size, CV_32FC1), swb = sw.clone(), swbb = sw.clone(), sws = sw.clone(),
                swbs = sw.clone();
        for (int i = 0; i < n; ++i) {
            const cv::Mat& w = weight[size_t(i)];
            const double b = bright[size_t(i)];
            const cv::Mat ws = w.mul(grey[size_t(i)]);
            sw += w;
            swb += w * b;
            swbb += w * (b * b);
            sws += ws;
            swbs += ws * b;
        }
        // whether the light varied is judged on the background, once the weights have found it
        if (it == 2) {
            const std::vector<float> sorted(bright.begin(), bright.end());
            lampVaries = quantile(sorted, 0.9) >= kDarkSpread * quantile(sorted, 0.1);
        }
        darkFitted = withDark && lampVaries && it >= 2;
        if (darkFitted) {
            // the offset from a line per pixel; the gain from it below, as a
            // ratio, which tissue in a few frames disturbs far less than a slope
            cv::Mat slope, intercept;
            cv::divide(sw.mul(swbs) - swb.mul(sws), sw.mul(swbb) - swb.mul(swb), slope);
            cv::divide(sws - slope.mul(swb), sw, intercept);
            cv::Mat lineGain = cv::max(smooth(slope, sw, size), 0.05);
            // halfway each time: the first offsets, with the weights still
            // settling, overshoot and would swing
            dark = 0.5 * (dark + constantOffset(intercept, lineGain / cv::mean(lineGain)[0], sw));
        }
        cv::Mat ratio;
        cv::divide(sws - sw * dark, swb, ratio);
        gain = smooth(ratio, sw, size);
        gain = cv::max(gain, 0.05);
        gain /= cv::mean(gain)[0];
    }
    // an offset that would take most of the dimmest frame's light is tissue, not the camera
    if (darkFitted && dark > kMaxDarkShare * *std::min_element(bright.begin(), bright.end()))
        return estimate(grey, tileSize, false);
    double lo = 0, hi = 0;
    cv::minMaxLoc(gain, &lo, &hi);
    if (!cv::checkRange(gain) || !(lo >= kGainRange[0] && hi <= kGainRange[1]))
        return FlatField(); // no lens dims that much: the frames did not show their light
    // 1 where the frame is best lit: bright-field glass stays as bright as in the middle
    cv::Mat fullGain = smooth(gain, ones, tileSize);
    cv::minMaxLoc(fullGain, &lo, &hi);
    fullGain /= hi;
    return FlatField(fullGain, darkFitted ? cv::Mat(tileSize, CV_32FC1, cv::Scalar(dark)) : cv::Mat());
}

// A per-pixel intercept is the offset only up to a multiple of the gain (a
// brighter frame with a lower offset fits as well); the offset is the part
// of it that does not follow the gain: intercept = offset + k gain.
double FlatFieldEstimator::constantOffset(const cv::Mat& intercept, const cv::Mat& gain, const cv::Mat& weight)
{
    cv::Scalar mean, dev;
    cv::meanStdDev(gain, mean, dev);
    if (dev[0] < 0.02) // an even field cannot tell them apart
        return 0.0;
    Eigen::Matrix2d normal = Eigen::Matrix2d::Zero();
    Eigen::Vector2d rhs = Eigen::Vector2d::Zero();
    for (int y = 0; y < gain.rows; ++y)
        for (int x = 0; x < gain.cols; ++x) {
            const double w = weight.at<float>(y, x);
            const Eigen::Vector2d t(1.0, gain.at<float>(y, x));
            normal += w * t * t.transpose();
            rhs += w * intercept.at<float>(y, x) * t;
        }
    return std::max(0.0, normal.ldlt().solve(rhs)[0]);
}
