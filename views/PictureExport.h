#pragma once

#include "imaging/OmeXml.h"

#include <QImage>
#include <QString>
#include <opencv2/core.hpp>

// Writes one picture as JPEG, PNG or OME-TIFF with its description: a JPEG
// comment, a PNG text chunk, or OME-XML. A file is written whole under a
// temporary name and then renamed, so a failure never leaves part of one.
class PictureExport
{
public:
    enum Format { Jpeg, Png, OmeTiff };
    // Well above the toolkit's 75: the frame was compressed once already.
    static constexpr int jpegQuality = 95;
    // The key of the JPEG comment and of the PNG text chunk.
    static QString textKey() { return QStringLiteral("Tessan"); }

    // By the file name's suffix, else the given format.
    static Format formatOf(const QString& fileName, Format otherwise);
    static bool hasPictureSuffix(const QString& fileName);
    static QString suffixOf(Format format);

    // The reason it failed, or an empty string. The height map (32-bit float
    // µm) goes into an OME-TIFF only. Runs on any thread.
    static QString write(const QString& path, Format format, const QImage& picture, const QString& text,
                         const OmeImage& meta, const cv::Mat* heightUm = nullptr);
};
