#include "sim/TruthRequest.h"

#include "sim/SlideRenderer.h"

#include <QBuffer>
#include <QUrlQuery>

#include <cmath>

QImage TruthRequest::render(const SlideModel& slide, double x, double y, int w, int h, double unitsPerPixel)
{
    return SlideRenderer::toImage(SlideRenderer::sample(slide, x, y, unitsPerPixel, 0.0, 0.0, unitsPerPixel, w, h));
}

SimReply TruthRequest::answer(const SlideModel& slide, const QUrlQuery& query)
{
    auto number = [&query](const char* name, double fallback, bool* ok) {
        const QString text = query.queryItemValue(QLatin1String(name));
        if (text.isEmpty())
            return fallback;
        bool good = false;
        const double v = text.toDouble(&good);
        *ok = *ok && good && std::isfinite(v);
        return v;
    };
    bool ok = true;
    const double x = number("x", NAN, &ok);
    const double y = number("y", NAN, &ok);
    const double w = number("w", NAN, &ok);
    const double h = number("h", NAN, &ok);
    const double upp = number("upp", SlideRenderer::kUnitsPerPixel, &ok);
    if (!ok || !std::isfinite(x) || !std::isfinite(y) || !(w >= 1 && w <= kMaxSide) || !(h >= 1 && h <= kMaxSide) ||
        !(upp > 0.0 && upp <= 1e5))
        return SimReply::text("-BAD_REGION\n");
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    render(slide, x, y, int(w), int(h), upp).save(&buffer, "png");
    SimReply reply;
    reply.contentType = "image/png";
    reply.body = png;
    return reply;
}
