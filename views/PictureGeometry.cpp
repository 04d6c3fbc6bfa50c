#include "views/PictureGeometry.h"

QPointF PictureGeometry::offset(const QPoint& p, const QSize& picture, float mppX, float mppY)
{
    return QPointF((p.x() - picture.width() / 2) * mppX, (p.y() - picture.height() / 2) * mppY);
}

float PictureGeometry::stageUnits(float stage, float offsetMicrometres)
{
    return float(double(stage) + double(offsetMicrometres) * 10.0);
}

CoordinateTriple PictureGeometry::stagePoint(const CoordinateTriple& stage, const QPointF& offsetMicrometres)
{
    CoordinateTriple p = stage;
    p.x = stageUnits(stage.x, float(offsetMicrometres.x()));
    p.y = stageUnits(stage.y, float(offsetMicrometres.y()));
    return p;
}
