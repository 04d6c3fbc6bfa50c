#pragma once

#include <QPointF>
#include <QSize>
#include <QVector>
#include <opencv2/core.hpp>

// Registers the overlap of two tiles by normalised cross-correlation of the
// strips that the nominal offset says show the same place, searched over the
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
    // Strips are registered at half resolution: a quarter of the work, and
    // the subpixel peak still resolves a tenth of a full pixel on tissue.
    static constexpr int kScale = 2;

    // The parts of a and of b (tiles of the given size) that show the same
    // place when b lies at offset from a; false when they hardly overlap.
    static bool strips(QSize tile, QPoint offset, cv::Rect* inA, cv::Rect* inB);
    // An RGB strip as measure() takes it: grey CV_32F, reduced by kScale.
    static cv::Mat prepare(const cv::Mat& rgb);
    // stripA and stripB as cut by strips() for the integer offset; the result
    // is the offset found within searchPx of it in x and y, and the strength
    // of the match.
    static Result measure(const cv::Mat& stripA, const cv::Mat& stripB, QPoint offset, int searchPx);
    // The score a match needs: far above the scores of strips that cannot
    // overlap, by their median and median absolute deviation.
    static double threshold(QVector<double> nullScores, double floor);
};
