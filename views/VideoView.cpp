#include "views/VideoView.h"

#include "views/PictureGeometry.h"
#include "views/SaveImageDialog.h"

#include <QCheckBox>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QtConcurrent>

namespace {

// Filters need a full-width frame; narrower pictures are shown as they came.
constexpr int kMinFilterWidth = 640;

QImage asRgb32(const QImage& frame)
{
    if (frame.format() == QImage::Format_RGB32)
        return frame.copy();
    return frame.convertToFormat(QImage::Format_RGB32);
}

} // namespace

VideoView::VideoView(QWidget* parent, const QString& name)
    : QWidget(parent)
{
    setObjectName(name);
    setFixedSize(frameWidth, frameHeight);
    // A click in the picture takes the keys from a combo box, so they step the stage.
    setFocusPolicy(Qt::ClickFocus);
}

void VideoView::setShowFAR(bool on)
{
    showRegion = on;
    update();
}

void VideoView::setBrightness(int percent)
{
    settings.brightness = static_cast<float>(percent);
    refilter();
}

void VideoView::setContrast(int state)
{
    settings.contrast = state;
    refilter();
}

void VideoView::enableBrightness(int state)
{
    settings.brightnessOn = state == 2;
    refilter();
}

void VideoView::setChannel(int channel)
{
    settings.channel = channel;
    refilter();
}

void VideoView::setInvert(int state)
{
    settings.invert = state == 2;
    refilter();
}

void VideoView::setVidSize(int size)
{
    static const QSize sizes[] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 960}};
    if (size >= 1 && size <= 4) {
        frameWidth = sizes[size - 1].width();
        frameHeight = sizes[size - 1].height();
    }
    setFixedSize(frameWidth, frameHeight);
    frameIn = false;
}

void VideoView::setMPP(float x, float y)
{
    scaleX = x;
    scaleY = y;
}

QPoint VideoView::focusAreaOrigin() const
{
    return QPoint(centre.x() - regionWidth / 2, centre.y() - regionHeight / 2);
}

void VideoView::setImage(QImage& frame)
{
    frameIn = true;
    // Grey or paletted JPEG frames become 32-bit RGB before anything reads pixels.
    source = asRgb32(frame);
    settings.statistics.compute(source);
    display = source.copy();
    runPipeline();
    update();
}

void VideoView::changeFilter(int filter)
{
    settings.colourFilter = filter;
    refilter();
}

void VideoView::filterOnScreen()
{
    runPipeline();
}

void VideoView::saveImage()
{
    // What is saved is what was shown when the user asked: a frame that
    // arrives while the dialog is open changes neither pixels nor text.
    QImage picture = display;
    const QImage withOverlays = pictureWithOverlays();
    FrameRecord saved = record;
    saved.mppX = scaleX;
    saved.mppY = scaleY;
    saved.size = picture.size();
    saved.filters = settings;

    QString suggested = saved.suggestedFileName();
    suggested.chop(QStringLiteral(".jpg").size());
    SaveImageDialog dialog(this, tr("Save Image"), suggested);
    // Qt's own dialog lays itself out in a grid; the choice goes below it.
    auto* overlays = new QCheckBox(tr("Include overlays (scale bar, marks, crosshair, grid)"), &dialog);
    overlays->setObjectName(QStringLiteral("includeOverlays"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
        grid->addWidget(overlays, grid->rowCount(), 0, 1, -1);
    if (dialog.exec() != QDialog::Accepted || dialog.fileName().isEmpty())
        return;
    if (overlays->isChecked())
        picture = withOverlays;
    const QString fileName = dialog.fileName();
    const PictureExport::Format format = dialog.format();
    const QString text = saved.comment();
    const OmeImage meta = saved.ome();
    auto* writing = new QFutureWatcher<QString>(this);
    connect(writing, &QFutureWatcher<QString>::finished, this, [this, writing, fileName] {
        writing->deleteLater();
        const QString error = writing->result();
        if (!error.isEmpty())
            QMessageBox::warning(this, tr("Tessan: Video"),
                                 tr("The picture could not be saved to %1: %2.").arg(fileName, error));
    });
    writing->setFuture(QtConcurrent::run([fileName, format, picture, text, meta] {
        return PictureExport::write(fileName, format, picture, text, meta);
    }));
}

void VideoView::mousePressEvent(QMouseEvent* event)
{
    moveRegion(event->position().toPoint());
}

void VideoView::mouseMoveEvent(QMouseEvent* event)
{
    moveRegion(event->position().toPoint());
}

void VideoView::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double-click is a press like any other.
    moveRegion(event->position().toPoint());
    // The point itself, also where the region stops short of the edge.
    if (scaleX > 0.0f && scaleY > 0.0f) {
        const QPointF scale = drawnScale();
        const QPointF offset =
            PictureGeometry::offset(event->position().toPoint(), size(), float(scale.x()), float(scale.y()));
        emit pointDoubleClicked(float(offset.x()), float(offset.y()));
    }
}

QPointF VideoView::drawnScale() const
{
    if (display.isNull() || width() <= 0 || height() <= 0)
        return QPointF(scaleX, scaleY);
    return QPointF(double(scaleX) * display.width() / width(), double(scaleY) * display.height() / height());
}

void VideoView::centreRegion()
{
    moveRegion(QPoint(width() / 2, height() / 2));
}

ScaleBar VideoView::scaleBar() const
{
    if (display.isNull() || width() <= 0)
        return ScaleBar();
    return ScaleBar::choose(drawnScale().x(), width());
}

void VideoView::setOverlays(const OverlayPainter::Layers& shown)
{
    layers = shown;
    update();
}

PictureMap VideoView::pictureMap() const
{
    return PictureMap(record.stage, scaleX, scaleY, display.size(), size());
}

QImage VideoView::pictureWithOverlays() const
{
    if (display.isNull())
        return QImage();
    QImage picture = display.convertToFormat(QImage::Format_RGB32);
    QPainter painter(&picture);
    const PictureMap map(record.stage, scaleX, scaleY, display.size(), display.size());
    OverlayPainter(map, layers).paint(painter, ScaleBar::choose(scaleX, display.width()));
    return picture;
}

void VideoView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!display.isNull())
        painter.drawImage(rect(), display);
    OverlayPainter(pictureMap(), layers).paint(painter, scaleBar());
    if (showRegion) {
        painter.setPen(Qt::red);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRect(focusAreaOrigin(), QSize(regionWidth, regionHeight)));
    }
}

void VideoView::runPipeline()
{
    if (!frameIn || display.width() < kMinFilterWidth)
        return;
    FilterPipeline(settings).apply(display, frameWidth, frameHeight);
}

void VideoView::refilter()
{
    display = source.copy();
    runPipeline();
    update();
}

void VideoView::moveRegion(const QPoint& position)
{
    int x = position.x();
    int y = position.y();
    const int halfW = regionWidth / 2;
    const int halfH = regionHeight / 2;
    if (x - halfW < 0)
        x = halfW;
    if (x + halfW > width())
        x = width() - halfW;
    if (y - halfH < 0)
        y = halfH;
    if (y + halfH > height())
        y = height() - halfH;
    centre = QPoint(x, y);
    const QPointF offset = PictureGeometry::offset(centre, size(), scaleX, scaleY);
    emit offsetChanged(float(offset.x()), float(offset.y()));
    if (showRegion)
        update();
}
