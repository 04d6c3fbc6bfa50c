#include "imaging/FlatField.h"

#include "imaging/OmeXml.h"
#include "imaging/TiffFile.h"

#include <QFileInfo>

FlatField::FlatField(const cv::Mat& gain, const cv::Mat& dark)
{
    if (gain.empty() || gain.type() != CV_32FC1 ||
        (!dark.empty() && (dark.size() != gain.size() || dark.type() != CV_32FC1)))
        return;
    m_gain = gain.clone();
    m_dark = dark.empty() ? cv::Mat() : dark.clone();
    // a gain near 0 would blow a pixel up; nothing real is that dark
    cv::max(m_gain, 0.05, m_gain);
    cv::divide(1.0, m_gain, m_inverse);
}

void FlatField::correct(cv::Mat& rgb, const cv::Mat& inverseGain, const cv::Mat& dark)
{
    for (int y = 0; y < rgb.rows; ++y) {
        uchar* p = rgb.ptr(y);
        const float* g = inverseGain.ptr<float>(y);
        const float* d = dark.empty() ? nullptr : dark.ptr<float>(y);
        for (int x = 0; x < rgb.cols; ++x) {
            const float off = d ? d[x] : 0.f;
            for (int k = 0; k < 3; ++k)
                p[3 * x + k] = cv::saturate_cast<uchar>((p[3 * x + k] - off) * g[x]);
        }
    }
}

void FlatField::apply(cv::Mat& rgb, const cv::Rect& part) const
{
    if (!isValid() || rgb.type() != CV_8UC3 || part.size() != rgb.size() ||
        (part & cv::Rect(cv::Point(), size())) != part)
        return;
    correct(rgb, m_inverse(part), m_dark.empty() ? cv::Mat() : m_dark(part));
}

QString FlatField::besideMosaic(const QString& mosaicPath)
{
    QString base = mosaicPath;
    for (const char* ending : {".ome.tiff", ".ome.tif", ".tiff", ".tif"})
        if (base.endsWith(QLatin1String(ending), Qt::CaseInsensitive)) {
            base.chop(int(qstrlen(ending)));
            break;
        }
    return base + QStringLiteral(".flatfield.ome.tif");
}

bool FlatField::save(const QString& path, double umPerPxX, double umPerPxY, QString* error) const
{
    if (!isValid()) {
        *error = QStringLiteral("no light profile to save");
        return false;
    }
    OmeImage meta;
    meta.name = QFileInfo(path).completeBaseName() + QStringLiteral(" gain");
    meta.physicalSizeXUm = umPerPxX;
    meta.physicalSizeYUm = umPerPxY;
    meta.description =
        QStringLiteral("Flat field: divide a frame by this gain (1 where best lit) after taking away the "
                       "dark offset, where one is given, to even its light.");
    meta.planes = {OmePlane()};
    QVector<OmeImage> images{meta.singlePlane(m_gain.cols, m_gain.rows, 1, QStringLiteral("float"))};
    if (hasDark()) {
        OmeImage dark = images[0];
        dark.name = QFileInfo(path).completeBaseName() + QStringLiteral(" dark offset");
        dark.description = QStringLiteral("Dark offset in grey levels (0 to 255).");
        dark.firstIfd = 1;
        images.append(dark);
    }
    TiffFile tiff;
    tiff.setPixelSize(umPerPxX, umPerPxY);
    if (tiff.openWrite(path, false) && tiff.writeImage(m_gain, OmeXml::write(images)) &&
        (!hasDark() || tiff.writeImage(m_dark, QByteArray())) && tiff.commit())
        return true;
    *error = tiff.error().isEmpty() ? QStringLiteral("the file could not be written") : tiff.error();
    return false;
}
