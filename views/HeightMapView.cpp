#include "views/HeightMapView.h"

#include "views/ScaleBar.h"

#include <QPainter>
#include <opencv2/imgproc.hpp>

namespace {

// Room at the right for the colour scale and its labels.
constexpr int kLegendWidth = 96;

// Viridis: even in lightness and readable by the colour-blind.
QImage colours(const cv::Mat& levels)
{
    cv::Mat bgr;
    cv::applyColorMap(levels, bgr, cv::COLORMAP_VIRIDIS);
    cv::Mat rgb;
    cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
    return QImage(rgb.data, rgb.cols, rgb.rows, int(rgb.step), QImage::Format_RGB888).copy();
}

} // namespace

HeightMapView::HeightMapView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("heightMapView"));
    setMinimumSize(320, 240);
}

QImage HeightMapView::colourize(const cv::Mat& heightUm, double minUm, double maxUm)
{
    if (heightUm.empty() || heightUm.type() != CV_32F)
        return QImage();
    // A flat map (one plane, or every point sharpest at one z) is drawn in the middle colour.
    const double span = maxUm > minUm ? maxUm - minUm : 0.0;
    cv::Mat levels;
    if (span > 0.0)
        heightUm.convertTo(levels, CV_8U, 255.0 / span, -minUm * 255.0 / span);
    else
        levels = cv::Mat(heightUm.size(), CV_8U, cv::Scalar(128));
    return colours(levels);
}

void HeightMapView::setResult(const QImage& fused, const cv::Mat& heightUm, double minUm, double maxUm)
{
    picture = fused;
    heightColours = colourize(heightUm, minUm, maxUm);
    lowUm = minUm;
    highUm = maxUm;
    update();
}

void HeightMapView::setScale(double micrometresPerPixel)
{
    scale = micrometresPerPixel;
    update();
}

void HeightMapView::setShowHeight(bool on)
{
    heightShown = on;
    update();
}

QSize HeightMapView::sizeHint() const
{
    return QSize(640 + kLegendWidth, 480);
}

QRect HeightMapView::pictureArea() const
{
    const QRect room = rect().adjusted(0, 0, -kLegendWidth, 0);
    if (picture.isNull() || room.width() <= 0 || room.height() <= 0)
        return QRect();
    const QSize fitted = picture.size().scaled(room.size(), Qt::KeepAspectRatio);
    return QRect(
        QPoint(room.left() + (room.width() - fitted.width()) / 2, room.top() + (room.height() - fitted.height()) / 2),
        fitted);
}

void HeightMapView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    const QRect area = pictureArea();
    if (area.isEmpty())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(area, heightShown && !heightColours.isNull() ? heightColours : picture);
    ScaleBar::choose(scale * picture.width() / area.width(), area.width()).draw(painter, area);
    if (heightShown)
        drawLegend(painter, QRect(area.right() + 1, area.top(), width() - area.right() - 1, area.height()));
}

void HeightMapView::drawLegend(QPainter& painter, const QRect& area) const
{
    cv::Mat ramp(256, 1, CV_8U);
    for (int i = 0; i < 256; ++i)
        ramp.at<uchar>(i, 0) = uchar(255 - i);
    const QImage bar = colours(ramp);
    const QFontMetrics metrics(painter.font());
    const int margin = metrics.height();
    const QRect barRect(area.left() + 12, area.top() + margin, 18, std::max(10, area.height() - 2 * margin));
    painter.drawImage(barRect, bar);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(barRect.adjusted(0, 0, -1, -1));
    const int textLeft = barRect.right() + 6;
    const QString top = QString::asprintf("%.1f µm", highUm);
    const QString bottom = QString::asprintf("%.1f µm", lowUm);
    painter.drawText(QRect(textLeft, barRect.top() - margin / 2, area.right() - textLeft, margin),
                     Qt::AlignLeft | Qt::AlignVCenter, top);
    painter.drawText(QRect(textLeft, barRect.bottom() - margin / 2, area.right() - textLeft, margin),
                     Qt::AlignLeft | Qt::AlignVCenter, bottom);
    painter.drawText(QRect(area.left(), area.top(), area.width(), margin), Qt::AlignHCenter | Qt::AlignVCenter,
                     QStringLiteral("height"));
}
