#pragma once

#include "views/ChannelStatistics.h"
#include "views/FilterPipeline.h"
#include "views/FrameRecord.h"
#include "views/OverlayPainter.h"
#include "views/PictureMap.h"
#include "views/ScaleBar.h"

#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

class QMouseEvent;
class QPaintEvent;

// Shows the last live video frame through the filters (contrast expansion,
// channel, gain, coloured filter, inversion) with the red sampling region on
// top, which the user drags; the focus-stack frames are cut from the full
// frame at that region.
class VideoView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int regionWidth = 168;
    static constexpr int regionHeight = 140;

    VideoView(QWidget* parent, const QString& name);

    void setShowFAR(bool on);
    void setBrightness(int percent);
    void setContrast(int state);
    void enableBrightness(int state);
    void setChannel(int channel);
    void setInvert(int state);
    // 1 640x480, 2 800x600, 3 1024x768, 4 1280x960; filtering pauses until the next frame.
    void setVidSize(int size);
    void setMPP(float x, float y);
    // Top-left corner of the sampling region in view pixels.
    QPoint focusAreaOrigin() const;
    // Puts the sampling region in the middle of the view, as after centring a point.
    void centreRegion();
    // Where and when the next frame was taken; saving adds the scale, size and filters.
    void setRecord(const FrameRecord& next) { record = next; }
    const FrameRecord& frameRecord() const { return record; }

    const QImage& sourcePicture() const { return source; }
    const QImage& displayPicture() const { return display; }
    QPoint regionCentre() const { return centre; }
    bool showsRegion() const { return showRegion; }
    QSize frameSize() const { return QSize(frameWidth, frameHeight); }
    // The scale given by setMPP, in micrometres per pixel.
    float scaleXMicrometres() const { return scaleX; }
    float scaleYMicrometres() const { return scaleY; }
    const ChannelStatistics& statistics() const { return settings.statistics; }
    // The bar drawn over the picture on screen; none before a frame or a scale.
    ScaleBar scaleBar() const;
    // Marks, grid and crosshair over the picture; the scale bar is always drawn.
    void setOverlays(const OverlayPainter::Layers& shown);
    const OverlayPainter::Layers& overlays() const { return layers; }
    // The picture as drawn now: stage millimetres of each view point.
    PictureMap pictureMap() const;
    // The display picture at its own size with the scale bar and the shown
    // overlays drawn into its pixels; the sampling region stays out.
    QImage pictureWithOverlays() const;

public slots:
    void setImage(QImage& frame);
    void changeFilter(int filter);
    // Filters the display picture once more as it stands; no redraw.
    void filterOnScreen();
    void saveImage();

signals:
    // Region centre minus view centre, in micrometres.
    void offsetChanged(float dx, float dy);
    // A double-click, as the clicked point minus the view centre in
    // micrometres at the scale the picture is drawn; only while the scale is known.
    void pointDoubleClicked(float dx, float dy);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void runPipeline();
    void refilter();
    void moveRegion(const QPoint& position);
    // Micrometres per view pixel: a picture of the previous size is drawn stretched until the next frame.
    QPointF drawnScale() const;

    QImage source;
    QImage display;
    bool frameIn = false;
    int frameWidth = 640;
    int frameHeight = 480;
    FilterPipeline::Settings settings;
    bool showRegion = true;
    QPoint centre{100, 100};
    float scaleX = 0.0f;
    float scaleY = 0.0f;
    FrameRecord record;
    OverlayPainter::Layers layers;
};
