#pragma once

#include <QString>
#include <opencv2/core.hpp>

// How a camera sees an evenly lit, empty field: a smooth gain per pixel
// (1 where the frame is best lit, the corners of a vignetting lens below) and, when it could be
// told apart, a dark offset in grey levels. A picture is corrected by taking
// the offset away and dividing by the gain. Immutable once made, so any
// thread may apply it.
class FlatField
{
public:
    FlatField() = default;
    // gain: CV_32FC1, positive; dark: CV_32FC1 of the same size, or empty for none.
    FlatField(const cv::Mat& gain, const cv::Mat& dark);

    bool isValid() const { return !m_gain.empty(); }
    cv::Size size() const { return m_gain.size(); }
    const cv::Mat& gain() const { return m_gain; }
    const cv::Mat& dark() const { return m_dark; }
    bool hasDark() const { return !m_dark.empty(); }

    // Corrects rgb (CV_8UC3), which shows `part` of a tile, in place.
    void apply(cv::Mat& rgb, const cv::Rect& part) const;

    // gain as an OME-TIFF of 32-bit floats, the dark offset as a second
    // image when there is one; written whole or not at all.
    bool save(const QString& path, double umPerPxX, double umPerPxY, QString* error) const;
    // NAME.ome.tif -> NAME.flatfield.ome.tif
    static QString besideMosaic(const QString& mosaicPath);

private:
    static void correct(cv::Mat& rgb, const cv::Mat& inverseGain, const cv::Mat& dark);

    cv::Mat m_gain, m_dark;
    cv::Mat m_inverse; // 1 / gain, what apply() multiplies by
};
