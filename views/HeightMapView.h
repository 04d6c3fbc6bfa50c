#pragma once

#include <QImage>
#include <QWidget>
#include <opencv2/core.hpp>

// The fused picture or its height map, fitted into the widget with the
// picture's proportions, a scale bar as in the video window and, for the
// height map, a colour scale with its range in micrometres.
class HeightMapView : public QWidget
{
    Q_OBJECT

public:
    explicit HeightMapView(QWidget* parent = nullptr);

    // heightUm is CV_32F µm; its colours run from dark blue to yellow over
    // the range that colourRange finds.
    void setResult(const QImage& picture, const cv::Mat& heightUm);
    void setScale(double micrometresPerPixel);
    void setShowHeight(bool on);
    bool showsHeight() const { return heightShown; }
    const QImage& heightPicture() const { return heightColours; }
    // Where the picture is drawn, inside the room the colour scale leaves.
    QRect pictureArea() const;

    // The heights of all points but the highest and lowest half percent.
    static void colourRange(const cv::Mat& heightUm, double* minUm, double* maxUm);
    static QImage colourize(const cv::Mat& heightUm, double minUm, double maxUm);
    double colourLowUm() const { return lowUm; }
    double colourHighUm() const { return highUm; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void drawLegend(QPainter& painter, const QRect& area) const;
    int legendWidth() const;

    QImage picture;
    QImage heightColours;
    double lowUm = 0.0;
    double highUm = 0.0;
    double scale = 0.0;
    bool heightShown = false;
};
