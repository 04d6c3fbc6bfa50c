#pragma once

#include "imaging/OmeXml.h"

#include <QImage>
#include <QString>
#include <opencv2/core.hpp>

// Single pictures as OME-TIFF: the picture as 8-bit RGB and, when given, a
// height map as a second OME image of 32-bit float µm in the same file.
class PictureFile
{
public:
    // meta: name, date, physical sizes (and position) of the picture; the sizes
    // are taken from rgb. Written to a temporary name and renamed at the end.
    static bool writeOmeTiff(const QString& path, const QImage& rgb, const OmeImage& meta, const cv::Mat* heightUm,
                             QString* error);
    // The same for a CV_8U or CV_16U picture: three channels as RGB, others
    // as channels of their own (OME SizeC, one page each) when separate.
    static bool writeOmeTiff(const QString& path, const cv::Mat& picture, bool separate, const OmeImage& meta,
                             const cv::Mat* heightUm, QString* error);
    // A height map alone, as one OME image of 32-bit floats; name says the unit.
    static bool writeHeightOmeTiff(const QString& path, const cv::Mat& height, const OmeImage& meta, QString* error);
};
