#pragma once

#include <QPointF>
#include <QSize>
#include <QVector>
#include <opencv2/core.hpp>

// Registers the overlap of two tiles by normalised cross-correlation of the
// parts that the stage's offset says show the same place, searched over the
// range the stage error allows. It weighs pixels by their contrast, so a few
// cells on bare glass still decide where sensor noise and JPEG blocks would
// drown them in a phase correlation. Offsets are where tile b's top-left
// pixel lies relative to tile a's.
class OverlapRegistration
{
public:
    struct Result
    {
        QPointF offsetPx;
        double score = 0.0; // correlation peak, -1 .. 1 (identical)
        bool valid = false;
    };
    static constexpr int kMinSide = 24;
    // Tiles are registered at half resolution: a quarter of the work, and
    // the subpixel peak still resolves a tenth of a full pixel on tissue.
    static constexpr int kScale = 2;

    // An RGB tile as measure() takes it: grey CV_32F, reduced by kScale.
    static cv::Mat prepare(const cv::Mat& rgb);
    // a and b as prepare() makes them, b's top-left at offset from a's as
    // the stage says; the result is the offset found within searchPx of it
    // in x and y, and the strength of the match. An overlap narrower than
    // the range is searched at every landing, not dropped.
    static Result measure(const cv::Mat& a, const cv::Mat& b, QPointF offset, int searchPx);
    // The score a match needs: far above the scores of strips that cannot
    // overlap, by their median and median absolute deviation.
    static double threshold(QVector<double> nullScores, double floor);

private:
    // Fewest pixels (reduced) across an overlap tried at a single landing.
    static constexpr int kNarrowSide = 4;
    static cv::Mat narrowOverlap(const cv::Mat& a, const cv::Mat& b, cv::Point at, int reach);
};
