#include "views/HeightMapView.h"

#include "views/ScaleBar.h"

#include <QPainter>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// The colour scale spans the heights of all but the outermost points, so a
// few stray points do not squeeze the specimen's relief into one colour.
constexpr double kOutlierFraction = 0.005;

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

void HeightMapView::colourRange(const cv::Mat& heightUm, double* minUm, double* maxUm)
{
    std::vector<float> values;
    values.reserve(heightUm.total());
    for (int y = 0; y < heightUm.rows; ++y)
        for (const float* v = heightUm.ptr<float>(y); v != heightUm.ptr<float>(y) + heightUm.cols; ++v)
            if (std::isfinite(*v))
                values.push_back(*v);
    if (values.empty())
        return;
    const auto at = [&values](double fraction) {
        auto nth = values.begin() + std::ptrdiff_t(fraction * double(values.size() - 1));
        std::nth_element(values.begin(), nth, values.end());
        return double(*nth);
    };
    *minUm = at(kOutlierFraction);
    *maxUm = at(1.0 - kOutlierFraction);
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

void HeightMapView::setResult(const QImage& fused, const cv::Mat& heightUm)
{
    picture = fused;
    lowUm = highUm = 0.0;
    if (!heightUm.empty() && heightUm.type() == CV_32F)
        colourRange(heightUm, &lowUm, &highUm);
    heightColours = colourize(heightUm, lowUm, highUm);
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

int HeightMapView::legendWidth() const
{
    return 48 + fontMetrics().horizontalAdvance(QStringLiteral("0000.0 µm"));
}

QSize HeightMapView::sizeHint() const
{
    return QSize(640 + legendWidth(), 480);
}

QRect HeightMapView::pictureArea() const
{
    const QRect room = rect().adjusted(0, 0, -legendWidth(), 0);
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
    const QFontMetrics metrics(painter.font());
    const int line = metrics.height();
    // The title, then the bar between its two labels, each label centred on its end.
    const QRect barRect(area.left() + 12, area.top() + 2 * line, 18, std::max(10, area.height() - 3 * line));
    painter.drawImage(barRect, colours(ramp));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(barRect.adjusted(0, 0, -1, -1));
    painter.drawText(QRect(area.left() + 6, area.top(), area.width() - 6, line), Qt::AlignLeft | Qt::AlignVCenter,
                     tr("Height"));
    const int textLeft = barRect.right() + 6;
    for (const auto& [y, um] : {std::pair<int, double>{barRect.top(), highUm}, {barRect.bottom(), lowUm}})
        painter.drawText(QRect(textLeft, y - line / 2, area.right() - textLeft, line), Qt::AlignLeft | Qt::AlignVCenter,
                         QString::asprintf("%.1f µm", um));
}
