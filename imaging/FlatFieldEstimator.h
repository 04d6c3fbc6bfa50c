#pragma once

#include "imaging/FlatField.h"

#include <opencv2/core.hpp>
#include <vector>

// Estimates a camera's flat field from the frames of a scan themselves, in
// the manner of BaSiC: every frame is the same smooth gain times the frame's
// own brightness (plus a dark offset) wherever it shows the background, and
// tissue is what departs from that. Frames are kept reduced and grey, at
// most kMaxSamples of them, drawn evenly from the whole scan, so memory does
// not grow with the scan.
//
// Bright field: the background is the light itself, and tissue only takes
// light away. The start is, per pixel, a high quantile over the frames, so
// tissue may cover most of every frame. Then, iterated: pixels that depart
// from brightness x gain by many times the camera's noise (tissue, dirt) lose
// weight (Cauchy); each frame's brightness is its weighted mean of frame /
// gain; the gain the per-pixel weighted fit of frame against brightness,
// smoothed by a weighted 2-D polynomial. A dark offset, one grey level for
// the whole sensor, is fitted only when the frames' light varies enough to
// tell an offset from gain.
class FlatFieldEstimator
{
public:
    static constexpr int kMaxSamples = 240;
    static constexpr int kMinSamples = 8;
    static constexpr int kReduce = 8; // samples are this much smaller on each side

    explicit FlatFieldEstimator(cv::Size tileSize);

    // A frame (CV_8UC3 RGB) at full or reduced size.
    void add(const cv::Mat& rgb);
    int samples() const { return int(m_samples.size()); }
    int seen() const { return m_seen; }
    cv::Size tileSize() const { return m_tile; }
    // Invalid while fewer than kMinSamples frames have come.
    FlatField estimate() const;

    // The estimate from grey frames (CV_32FC1, all one size), at tileSize.
    static FlatField estimate(const std::vector<cv::Mat>& grey, cv::Size tileSize, bool withDark = true);

private:
    static cv::Mat brightestCommon(const std::vector<cv::Mat>& grey, const std::vector<double>& bright);
    static double constantOffset(const cv::Mat& intercept, const cv::Mat& gain, const cv::Mat& weight);

    cv::Size m_tile, m_reduced;
    std::vector<cv::Mat> m_samples;
    int m_seen = 0;
    cv::RNG m_rng{0x7e55a};
};
