#include "views/TiledView.h"

#include "views/ScaleBar.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMaxZoom = 16.0;
constexpr double kStep = 1.25;
} // namespace

TiledView::TiledView(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("tiledView"));
    setMinimumSize(200, 150);
    setCursor(Qt::OpenHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
}

void TiledView::setSource(std::shared_ptr<const TileReader> tileReader, TileLoader* tileLoader, double scaleUm)
{
    reader = std::move(tileReader);
    loader = tileLoader;
    umPerPx = scaleUm;
    connect(loader, &TileLoader::tileReady, this, qOverload<>(&QWidget::update));
}

void TiledView::setPage(int newPage)
{
    const bool first = shownPage < 0;
    shownPage = newPage;
    if (first)
        fitToWindow();
    changed();
}

void TiledView::setOverview(const QImage& image, int factor)
{
    overview = image;
    overviewScale = factor;
    changed();
}

void TiledView::changed()
{
    drawnComplete = false;
    update();
    emit viewChanged();
}

QSize TiledView::pictureSize() const
{
    return reader ? reader->levels(shownPage).value(0).size : QSize();
}

int TiledView::levelFor(const QVector<TileReader::Level>& levels, double zoom)
{
    int best = 0;
    for (int i = 1; i < levels.size(); ++i)
        if (double(levels[0].size.width()) / levels[i].size.width() <= 1.0 / zoom * 1.001)
            best = i;
    return best;
}

int TiledView::level() const
{
    return reader ? levelFor(reader->levels(shownPage), scale) : 0;
}

double TiledView::fitScale() const
{
    const QSize size = pictureSize();
    if (size.isEmpty())
        return 1.0;
    return std::min(double(width()) / size.width(), double(height()) / size.height());
}

void TiledView::fitToWindow()
{
    const QSize size = pictureSize();
    fitted = true;
    scale = fitScale();
    offset = QPointF((size.width() - width() / scale) / 2.0, (size.height() - height() / scale) / 2.0);
    changed();
}

void TiledView::keepInView()
{
    // At least a quarter of the view keeps showing the picture.
    const QSize size = pictureSize();
    const double w = width() / scale, h = height() / scale;
    offset.setX(std::clamp(offset.x(), -0.75 * w, size.width() - 0.25 * w));
    offset.setY(std::clamp(offset.y(), -0.75 * h, size.height() - 0.25 * h));
}

void TiledView::zoomBy(double factor, const QPointF& at)
{
    if (pictureSize().isEmpty())
        return;
    const QPointF anchor = imagePoint(at);
    scale = std::clamp(scale * factor, std::min(fitScale() / 2.0, 1.0), kMaxZoom);
    offset = anchor - at / scale;
    fitted = false;
    keepInView();
    changed();
}

void TiledView::setZoom(double zoom, const QPointF& topLeft)
{
    scale = std::clamp(zoom, 1.0 / (1 << 16), kMaxZoom);
    offset = topLeft;
    fitted = false;
    changed();
}

void TiledView::panBy(const QPointF& viewPixels)
{
    offset += viewPixels / scale;
    fitted = false;
    keepInView();
    changed();
}

QPointF TiledView::imagePoint(const QPointF& at) const
{
    return offset + at / scale;
}

QPointF TiledView::viewPoint(const QPointF& imagePoint) const
{
    return (imagePoint - offset) * scale;
}

QVector<TileLoader::Id> TiledView::tilesInView(int lvl) const
{
    QVector<TileLoader::Id> ids;
    const QVector<TileReader::Level>& levels = reader->levels(shownPage);
    const TileReader::Level& l = levels[lvl];
    const double fx = double(levels[0].size.width()) / l.size.width();
    const double fy = double(levels[0].size.height()) / l.size.height();
    const QRectF visible = QRectF(offset, QSizeF(width() / scale, height() / scale));
    const int x0 = std::max(0, int(std::floor(visible.left() / fx / l.tile.width())));
    const int y0 = std::max(0, int(std::floor(visible.top() / fy / l.tile.height())));
    const int x1 =
        std::min((l.size.width() - 1) / l.tile.width(), int(std::floor(visible.right() / fx / l.tile.width())));
    const int y1 =
        std::min((l.size.height() - 1) / l.tile.height(), int(std::floor(visible.bottom() / fy / l.tile.height())));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            ids.append({shownPage, lvl, x, y});
    return ids;
}

bool TiledView::drawTiles(QPainter& painter, const QVector<TileLoader::Id>& tiles, bool request)
{
    bool all = true;
    const QVector<TileReader::Level>& levels = reader->levels(shownPage);
    for (const TileLoader::Id& id : tiles) {
        const QImage image = loader->tile(id, request);
        if (image.isNull()) {
            all = false;
            continue;
        }
        const TileReader::Level& l = levels[id.level];
        const double fx = double(levels[0].size.width()) / l.size.width();
        const double fy = double(levels[0].size.height()) / l.size.height();
        const QRectF inPicture(id.x * l.tile.width() * fx, id.y * l.tile.height() * fy, image.width() * fx,
                               image.height() * fy);
        painter.drawImage(QRectF(viewPoint(inPicture.topLeft()), viewPoint(inPicture.bottomRight())), image);
    }
    return all;
}

void TiledView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(48, 48, 48));
    if (pictureSize().isEmpty() || !loader)
        return;
    const int finest = level();
    const int coarsest = int(reader->levels(shownPage).size()) - 1;
    painter.setRenderHint(QPainter::SmoothPixmapTransform, scale < 1.0);
    if (overviewScale > 0 && scale * overviewScale <= 1.001) {
        loader->keepOnly({});
        if (overview.isNull()) {
            painter.setPen(Qt::lightGray);
            painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Making an overview…"));
        } else {
            painter.drawImage(
                QRectF(viewPoint(QPointF(0, 0)), viewPoint(QPointF(pictureSize().width(), pictureSize().height()))),
                overview);
        }
        drawnComplete = !overview.isNull();
        if (overlay)
            overlay(painter);
        ScaleBar::choose(umPerPx / scale, width()).draw(painter, rect());
        return;
    }
    const QVector<TileLoader::Id> wanted = tilesInView(finest);
    const QVector<TileLoader::Id> coarse = tilesInView(coarsest);
    loader->keepOnly(wanted + coarse);
    // Coarse to fine: whatever is loaded shows until the finer tiles cover it.
    if (!overview.isNull())
        painter.drawImage(
            QRectF(viewPoint(QPointF(0, 0)), viewPoint(QPointF(pictureSize().width(), pictureSize().height()))),
            overview);
    drawTiles(painter, coarse, true);
    for (int l = coarsest - 1; l > finest; --l)
        drawTiles(painter, tilesInView(l), false);
    drawnComplete = finest == coarsest ? drawTiles(painter, coarse, false) : drawTiles(painter, wanted, true);
    if (overlay)
        overlay(painter);
    ScaleBar::choose(umPerPx / scale, width()).draw(painter, rect());
}

void TiledView::resizeEvent(QResizeEvent*)
{
    if (fitted)
        fitToWindow();
    else
        keepInView();
}

void TiledView::wheelEvent(QWheelEvent* event)
{
    zoomBy(std::pow(kStep, event->angleDelta().y() / 120.0), event->position());
    event->accept();
}

void TiledView::keyPressEvent(QKeyEvent* event)
{
    const QPointF centre(width() / 2.0, height() / 2.0);
    const double stepX = width() / 8.0, stepY = height() / 8.0;
    switch (event->key()) {
    case Qt::Key_Left:
        return panBy(QPointF(-stepX, 0));
    case Qt::Key_Right:
        return panBy(QPointF(stepX, 0));
    case Qt::Key_Up:
        return panBy(QPointF(0, -stepY));
    case Qt::Key_Down:
        return panBy(QPointF(0, stepY));
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        return zoomBy(kStep, centre);
    case Qt::Key_Minus:
        return zoomBy(1.0 / kStep, centre);
    case Qt::Key_Home:
        return fitToWindow();
    default:
        QWidget::keyPressEvent(event);
    }
}

void TiledView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    dragging = true;
    pressPos = event->position().toPoint();
    pressOffset = offset;
    setCursor(Qt::ClosedHandCursor);
}

void TiledView::mouseMoveEvent(QMouseEvent* event)
{
    emit pointerMoved(imagePoint(event->position()));
    if (!dragging)
        return;
    offset = pressOffset - QPointF(event->position().toPoint() - pressPos) / scale;
    fitted = false;
    keepInView();
    changed();
}

void TiledView::mouseReleaseEvent(QMouseEvent*)
{
    dragging = false;
    setCursor(Qt::OpenHandCursor);
}

void TiledView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPointF p = imagePoint(event->position());
    const QSize size = pictureSize();
    if (p.x() >= 0 && p.y() >= 0 && p.x() < size.width() && p.y() < size.height())
        emit pointDoubleClicked(p);
}
