#include "views/VideoStack.h"

#include <QPainter>

VideoStack::VideoStack(QWidget* parent, const char* name)
    : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
}

void VideoStack::clear()
{
    pictures.clear();
    current = -1;
    shown = QImage();
}

void VideoStack::addImage(QImage& picture)
{
    pictures.append(StackPlane::ofPicture(picture));
    showPlane(count() - 1, picture);
}

void VideoStack::addEncoded(const QByteArray& jpeg, const QImage& decoded)
{
    pictures.append(StackPlane::ofJpeg(jpeg, decoded.size()));
    showPlane(count() - 1, decoded);
}

void VideoStack::displayImage(int index)
{
    if (index < 0 || index >= count())
        return;
    showPlane(index, pictures.at(index).image());
}

void VideoStack::showPlane(int index, const QImage& picture)
{
    current = index;
    // A whole frame is reduced once here rather than at every paint.
    shown = picture.size() == size() || picture.isNull()
                ? picture
                : picture.scaled(size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    repaint();
}

void VideoStack::paintEvent(QPaintEvent*)
{
    // The index is checked again here: nothing may be drawn from an emptied list.
    if (current < 0 || current >= count() || shown.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), shown);
}
