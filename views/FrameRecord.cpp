#include "views/FrameRecord.h"

#include "acquire/Provenance.h"
#include "views/PictureMap.h"

#include <QRegularExpression>

namespace {

QString millimetres(float stageUnits)
{
    return QString::asprintf("%.4f", double(stageUnits) * 0.0001);
}

QString name(const QStringList& names, int index)
{
    return names.value(index, QString::number(index));
}

} // namespace

QString FrameRecord::comment() const
{
    const QStringList fields{
        QStringLiteral("Stage X: ") + millimetres(stage.x) + QStringLiteral(" mm"),
        QStringLiteral("Stage Y: ") + millimetres(stage.y) + QStringLiteral(" mm"),
        QStringLiteral("Stage Z: ") + QString::asprintf("%.1f", double(stage.z) * 0.1) + QStringLiteral(" µm"),
        QStringLiteral("Scale: ") + QString::asprintf("%g x %g", double(mppX), double(mppY)) +
            QStringLiteral(" µm per pixel"),
        QStringLiteral("Picture: %1 x %2 pixels").arg(size.width()).arg(size.height()),
        QStringLiteral("Microscope: ") + microscope,
        QStringLiteral("Slide: ") + slide,
        QStringLiteral("Server: ") + server,
        QStringLiteral("Taken: ") + taken.toOffsetFromUtc(taken.offsetFromUtc()).toString(Qt::ISODate),
        QStringLiteral("Filters: ") + describe(filters),
    };
    return fields.join(QStringLiteral("; "));
}

OmeImage FrameRecord::ome() const
{
    OmeImage image;
    image.name = slide.isEmpty() ? QStringLiteral("frame") : slide;
    image.acquired = taken;
    image.sizeX = size.width();
    image.sizeY = size.height();
    image.physicalSizeXUm = double(mppX);
    image.physicalSizeYUm = double(mppY);
    OmePlane plane;
    plane.hasPosition = true;
    const QPointF topLeft = PictureMap::topLeftUm(stage, mppX, mppY, size);
    plane.xUm = topLeft.x();
    plane.yUm = topLeft.y();
    plane.zUm = double(stage.z) * 0.1;
    image.planes = {plane};
    image.provenance = Provenance::of(server, microscope, slide, user, comment());
    return image;
}

QString FrameRecord::suggestedFileName() const
{
    QString base = slide.isEmpty() ? QStringLiteral("frame") : slide;
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
    return base + QStringLiteral("_x") + millimetres(stage.x) + QStringLiteral("_y") + millimetres(stage.y) +
           QLatin1Char('_') + taken.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".jpg");
}

QString FrameRecord::describe(const FilterPipeline::Settings& filters)
{
    const QStringList channels{QStringLiteral("Normal"), QStringLiteral("Red"), QStringLiteral("Green"),
                               QStringLiteral("Blue")};
    const QStringList colours{QStringLiteral("None"), QStringLiteral("Red Filter"), QStringLiteral("Green Filter"),
                              QStringLiteral("Blue Filter")};
    const QString gain =
        filters.brightnessOn ? QString::number(double(filters.brightness)) + QLatin1Char('%') : QStringLiteral("off");
    return QStringLiteral("Contrast Expansion %1, Color Channel %2, Gain %3, Colored Filter %4, Invert Video %5")
        .arg(filters.contrast ? QStringLiteral("on") : QStringLiteral("off"), name(channels, filters.channel), gain,
             name(colours, filters.colourFilter), filters.invert ? QStringLiteral("on") : QStringLiteral("off"));
}
