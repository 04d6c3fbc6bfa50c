#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

// One plane of a focus stack: a small picture kept as it is, or a whole
// frame kept as the JPEG bytes the server sent and decoded when needed, so a
// long stack of large frames stays small. Copies share their data, so planes
// go to worker threads by value.
class StackPlane
{
public:
    static StackPlane ofPicture(const QImage& picture);
    // The decoded picture gives the size; the bytes are what is kept.
    static StackPlane ofJpeg(const QByteArray& jpeg, const QSize& size);

    bool isEncoded() const { return !jpeg.isEmpty(); }
    QSize size() const { return pictureSize; }
    // The picture, decoded from the bytes when it was kept encoded; null when
    // they no longer decode. Safe on any thread.
    QImage image() const;
    const QByteArray& encoded() const { return jpeg; }

private:
    QImage picture;
    QByteArray jpeg;
    QSize pictureSize;
};
