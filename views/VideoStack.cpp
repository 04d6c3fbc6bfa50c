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
}

void VideoStack::addImage(QImage& picture)
{
    pictures.append(picture.copy());
    displayImage(count() - 1);
}

void VideoStack::displayImage(int index)
{
    if (index < 0 || index >= count())
        return;
    current = index;
    repaint();
}

void VideoStack::paintEvent(QPaintEvent*)
{
    // The index is checked again here: nothing may be drawn from an emptied list.
    if (current < 0 || current >= count())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), pictures.at(current));
}
