#include "views/StackPlane.h"

StackPlane StackPlane::ofPicture(const QImage& picture)
{
    StackPlane plane;
    plane.picture = picture.copy();
    plane.pictureSize = picture.size();
    return plane;
}

StackPlane StackPlane::ofJpeg(const QByteArray& jpeg, const QSize& size)
{
    StackPlane plane;
    plane.jpeg = jpeg;
    plane.pictureSize = size;
    return plane;
}

QImage StackPlane::image() const
{
    if (!isEncoded())
        return picture;
    return QImage::fromData(jpeg, "JPEG");
}
