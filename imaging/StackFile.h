#pragma once

#include "imaging/OmeXml.h"

#include <QImage>
#include <QString>
#include <memory>

// Writes a z-stack as one OME-TIFF: one IFD per plane, 8-bit RGB, deflate with
// the horizontal predictor, and the OME-XML in the first IFD. The file is built
// under a temporary name beside the target and renamed by finish(), so an
// error or cancel never leaves a partial file.
class StackFile
{
public:
    StackFile();
    ~StackFile();
    StackFile(const StackFile&) = delete;
    StackFile& operator=(const StackFile&) = delete;

    // meta gives the name, date, physical sizes and one OmePlane per plane to
    // come; its sizes are taken from the planes.
    bool begin(const QString& path, const OmeImage& meta, QString* error);
    bool addPlane(const QImage& rgb, QString* error);
    bool finish(QString* error);
    void cancel();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
