// Writes one file of each kind the imaging library makes, for check_files.py.
#include "imaging/PictureFile.h"
#include "imaging/StackFile.h"

#include <QDir>
#include <cstdio>

namespace {

QImage plane(int z)
{
    QImage img(40, 30, QImage::Format_RGB888);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, qRgb(x * 5 + z, y * 7, (x + y + z * 30) & 255));
    return img;
}

OmeImage meta(int planes)
{
    OmeImage m;
    m.name = QStringLiteral("liver-01 µ & <1>");
    m.acquired = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    m.physicalSizeXUm = m.physicalSizeYUm = 0.5;
    m.physicalSizeZUm = 2.5;
    m.sizeZ = planes;
    for (int i = 0; i < planes; ++i)
        m.planes.append({i, 0, 0, true, 100.5, -20.25, 1000 + 2.5 * i});
    return m;
}

bool stack(const QString& path, int announced, int written)
{
    StackFile file;
    QString error;
    bool ok = file.begin(path, meta(announced), &error);
    for (int z = 0; ok && z < written; ++z)
        ok = file.addPlane(plane(z), &error);
    ok = ok && file.finish(&error);
    if (!ok)
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    cv::Mat height(30, 40, CV_32F);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 40; ++x)
            height.at<float>(y, x) = 1000.0f + x * 0.25f + y;
    QString error;
    const bool picture = PictureFile::writeOmeTiff(dir.filePath("picture.ome.tif"), plane(0), meta(1), &height, &error);
    if (!picture)
        std::fprintf(stderr, "picture: %s\n", qPrintable(error));
    // stack3: five planes announced, three taken before the stack ended
    return stack(dir.filePath("stack.ome.tif"), 4, 4) && stack(dir.filePath("stack3.ome.tif"), 5, 3) && picture ? 0 : 1;
}
