#include "session/StackExport.h"

#include "imaging/StackFile.h"

#include <cmath>

OmeImage StackExport::describe(const QString& slide, const QDateTime& began, const QPointF& topLeftUm,
                               const QVector<double>& zStage, float mppX, float mppY)
{
    OmeImage image;
    image.name = slide.isEmpty() ? QStringLiteral("focus stack") : slide;
    image.acquired = began;
    image.sizeZ = int(zStage.size());
    image.physicalSizeXUm = double(mppX);
    image.physicalSizeYUm = double(mppY);
    // 0, for a stack taken at one z, is written as unknown.
    if (zStage.size() > 1)
        image.physicalSizeZUm = std::abs(zStage[1] - zStage[0]) * 0.1;
    for (int z = 0; z < zStage.size(); ++z) {
        OmePlane plane;
        plane.theZ = z;
        plane.hasPosition = true;
        plane.xUm = topLeftUm.x();
        plane.yUm = topLeftUm.y();
        plane.zUm = zStage[z] * 0.1;
        image.planes.append(plane);
    }
    return image;
}

void StackExport::write(QPromise<QString>& promise, const QString& path, const QList<StackPlane>& planes,
                        const OmeImage& meta)
{
    promise.setProgressRange(0, int(planes.size()));
    StackFile file;
    QString error;
    if (!file.begin(path, meta, &error)) {
        promise.addResult(error);
        return;
    }
    for (int i = 0; i < planes.size(); ++i) {
        const QImage picture = planes[i].image();
        if (picture.isNull()) {
            file.cancel();
            promise.addResult(QStringLiteral("plane %1 could not be decoded").arg(i + 1));
            return;
        }
        if (!file.addPlane(picture.convertToFormat(QImage::Format_RGB888), &error)) {
            file.cancel();
            promise.addResult(error);
            return;
        }
        promise.setProgressValue(i + 1);
    }
    promise.addResult(file.finish(&error) ? QString() : error);
}
