#include "imaging/StackLayout.h"

#include <QHash>
#include <QList>
#include <cmath>

namespace {

// "2 channels × 4 z-planes × 3 time points", naming only what there is more than one of.
QString describe(qint64 c, qint64 z, qint64 t)
{
    QStringList parts;
    if (c > 1)
        parts << QStringLiteral("%1 channels").arg(c);
    parts << QStringLiteral("%1 z-plane%2").arg(z).arg(z == 1 ? "" : "s");
    if (t > 1)
        parts << QStringLiteral("%1 time points").arg(t);
    return parts.join(QStringLiteral(" × "));
}

bool checkSizes(qint64 c, qint64 z, qint64 t, int maxPages, QString* why)
{
    if (c < 1 || z < 1 || t < 1 || c * z * t > maxPages)
        return *why = QStringLiteral("%1 (%2 pages at most)").arg(describe(c, z, t)).arg(maxPages), false;
    return true;
}

// ImageJ's units of length, in µm; NaN for anything else.
double micronsPer(const QByteArray& unit)
{
    if (unit == "micron" || unit == "microns" || unit == "um" || unit == "\\u00B5m" || unit == "\xc2\xb5m")
        return 1;
    if (unit == "nm")
        return 1e-3;
    if (unit == "mm")
        return 1e3;
    return std::nan("");
}

} // namespace

QString StackLayout::describe() const
{
    return ::describe(channels, sizeZ, sizeT);
}

StackLayout StackLayout::planes(int count)
{
    StackLayout layout;
    layout.sizeZ = count;
    layout.pages.resize(count);
    for (int i = 0; i < count; ++i)
        layout.pages[i] = i;
    return layout;
}

bool StackLayout::fromOme(const OmeImage& image, int samplesPerPage, int maxPages, StackLayout* out, QString* why)
{
    // SizeC counts samples: an RGB picture is one channel of three. The pages
    // tell how they are stored, whatever the optional Channel attributes say.
    if (samplesPerPage < 1 || image.sizeC % samplesPerPage)
        return *why = QStringLiteral("%1 samples per pixel in pages of %2").arg(image.sizeC).arg(samplesPerPage), false;
    const qint64 c = image.sizeC / samplesPerPage, z = image.sizeZ, t = image.sizeT;
    if (!checkSizes(c, z, t, maxPages, why))
        return false;
    const QString order = image.dimensionOrder.isEmpty() ? QStringLiteral("XYZCT") : image.dimensionOrder;
    if (order.size() != 5 || !order.startsWith(QLatin1String("XY")) || !order.contains('Z') || !order.contains('C') ||
        !order.contains('T'))
        return *why = QStringLiteral("the dimension order %1").arg(order), false;
    // The index of a plane in the dimension order, the first letter after XY fastest.
    const QHash<QChar, qint64> size{{'C', c}, {'Z', z}, {'T', t}};
    auto indexOf = [&](qint64 ci, qint64 zi, qint64 ti) {
        const QHash<QChar, qint64> at{{'C', ci}, {'Z', zi}, {'T', ti}};
        qint64 index = 0, stride = 1;
        for (int k = 2; k < 5; ++k) {
            index += at[order[k]] * stride;
            stride *= size[order[k]];
        }
        return index;
    };
    const qint64 total = c * z * t;
    QVector<int> ifdOf(int(total), -1);
    if (image.tiffData.isEmpty()) {
        for (int i = 0; i < total; ++i)
            ifdOf[i] = i;
    }
    for (const OmeTiffData& td : image.tiffData) {
        if (td.firstC < 0 || td.firstC >= c || td.firstZ < 0 || td.firstZ >= z || td.firstT < 0 || td.firstT >= t)
            return *why = QStringLiteral("OME TiffData outside its image"), false;
        const qint64 start = indexOf(td.firstC, td.firstZ, td.firstT);
        // Without PlaneCount: one page when the IFD is given, else all that follow.
        const qint64 count = td.planeCount >= 0 ? td.planeCount : td.ifd >= 0 ? 1 : total - start;
        const qint64 ifd = std::max(0, td.ifd);
        for (qint64 k = 0; k < count && start + k < total; ++k)
            ifdOf[int(start + k)] = int(std::min<qint64>(ifd + k, maxPages));
    }
    out->channels = int(c);
    out->sizeZ = int(z);
    out->sizeT = int(t);
    out->zStepUm = 0;
    out->pages.resize(int(c * z));
    for (qint64 zi = 0; zi < z; ++zi)
        for (qint64 ci = 0; ci < c; ++ci) {
            const int ifd = ifdOf[int(indexOf(ci, zi, 0))];
            if (ifd < 0)
                return *why = QStringLiteral("no page for channel %1 of z-plane %2 in the OME metadata")
                                  .arg(ci + 1)
                                  .arg(zi + 1),
                       false;
            out->pages[int(ci + c * zi)] = ifd;
        }
    return true;
}

bool StackLayout::fromImageJ(const QByteArray& description, int maxPages, StackLayout* out, QString* why)
{
    QHash<QByteArray, QByteArray> value;
    for (const QByteArray& line : description.split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0)
            value.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
    }
    // Numbers in the C locale, as ImageJ writes them; a missing size is one.
    auto count = [&](const char* key, qint64 fallback) {
        bool ok = false;
        const qint64 n = value.value(key).toLongLong(&ok);
        return value.contains(key) ? (ok ? n : -1) : fallback;
    };
    const bool hyper = value.contains("channels") || value.contains("slices") || value.contains("frames");
    const qint64 images = count("images", 1);
    const qint64 c = count("channels", 1), t = count("frames", 1);
    const qint64 z = hyper ? count("slices", 1) : images;
    if (images < 1 || images > maxPages)
        return *why = QStringLiteral("an ImageJ description naming %1 pages (%2 at most)")
                          .arg(QString::fromLatin1(value.value("images")))
                          .arg(maxPages),
               false;
    if (!checkSizes(c, z, t, maxPages, why))
        return false;
    if (c * z * t != images)
        return *why =
                   QStringLiteral("an ImageJ description naming %1 pages for %2").arg(images).arg(::describe(c, z, t)),
               false;
    out->channels = int(c);
    out->sizeZ = int(z);
    out->sizeT = int(t);
    bool ok = false;
    const double spacing = value.value("spacing").toDouble(&ok) * micronsPer(value.value("unit", "micron"));
    out->zStepUm = ok && std::isfinite(spacing) && spacing > 0 ? spacing : 0;
    out->pages.resize(int(c * z));
    for (int i = 0; i < out->pages.size(); ++i)
        out->pages[i] = i;
    return true;
}
