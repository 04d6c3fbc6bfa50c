#include "views/PictureMap.h"

PictureMap::PictureMap(const CoordinateTriple& stagePosition, float micrometresX, float micrometresY,
                       const QSize& pictureSize, const QSize& drawnSize)
    : stage(stagePosition)
    , mppX(micrometresX)
    , mppY(micrometresY)
    , picture(pictureSize)
    , drawn(drawnSize)
{
}

bool PictureMap::isValid() const
{
    return mppX > 0.0f && mppY > 0.0f && !picture.isEmpty() && !drawn.isEmpty();
}

QPointF PictureMap::centre() const
{
    return QPointF(drawn.width() / 2, drawn.height() / 2);
}

double PictureMap::scaleX() const
{
    return isValid() ? double(mppX) * picture.width() / drawn.width() : 0.0;
}

double PictureMap::scaleY() const
{
    return isValid() ? double(mppY) * picture.height() / drawn.height() : 0.0;
}

QPointF PictureMap::toStageMm(const QPointF& drawnPoint) const
{
    const QPointF offset = drawnPoint - centre();
    return QPointF(double(stage.x) * 0.0001 + offset.x() * scaleX() * 0.001,
                   double(stage.y) * 0.0001 + offset.y() * scaleY() * 0.001);
}

QPointF PictureMap::topLeftUm(const CoordinateTriple& stage, float mppX, float mppY, const QSize& picture)
{
    return QPointF(double(stage.x) * 0.1 - picture.width() * 0.5 * double(mppX),
                   double(stage.y) * 0.1 - picture.height() * 0.5 * double(mppY));
}

QPointF PictureMap::toDrawn(const QPointF& stageMm) const
{
    if (!isValid())
        return centre();
    return centre() + QPointF((stageMm.x() - double(stage.x) * 0.0001) * 1000.0 / scaleX(),
                              (stageMm.y() - double(stage.y) * 0.0001) * 1000.0 / scaleY());
}
