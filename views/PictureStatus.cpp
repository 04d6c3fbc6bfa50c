#include "views/PictureStatus.h"

#include <QPainter>

void PictureStatus::started()
{
    downloading = true;
    unavailable = false;
    done = 0;
    total = 0;
}

void PictureStatus::progress(int bytesDone, int bytesTotal)
{
    done = bytesDone;
    total = bytesTotal;
}

void PictureStatus::finished(bool hasPicture)
{
    downloading = false;
    unavailable = !hasPicture;
}

double PictureStatus::fraction() const
{
    if (total <= 0 || done <= 0)
        return 0.0;
    return done >= total ? 1.0 : static_cast<double>(done) / total;
}

void PictureStatus::paint(QPainter& painter, const QRect& area) const
{
    if (unavailable) {
        // Just below the centre, clear of the previews' centre markers.
        painter.setPen(Qt::darkGray);
        painter.drawText(area.translated(0, 30), Qt::AlignCenter, QString::fromLatin1(unavailableText()));
    }
    if (downloading) {
        const int barHeight = 3;
        const QRect track(area.left(), area.bottom() - barHeight + 1, area.width(), barHeight);
        painter.fillRect(track, QColor(0, 0, 0, 60));
        painter.fillRect(QRect(track.topLeft(), QSize(static_cast<int>(track.width() * fraction()), barHeight)),
                         QColor(40, 120, 220));
    }
}
