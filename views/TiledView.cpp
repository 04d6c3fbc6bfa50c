#include "views/TiledView.h"

#include "views/ScaleBar.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

TiledView::TiledView(QWidget* parent)
    : ZoomPanView(parent, 16.0)
{
    setObjectName(QStringLiteral("tiledView"));
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
    viewMoved();
}

void TiledView::setOverview(const QImage& image, int factor)
{
    overview = image;
    overviewScale = factor;
    viewMoved();
}

void TiledView::viewMoved()
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
    return reader ? levelFor(reader->levels(shownPage), zoom()) : 0;
}

QVector<TileLoader::Id> TiledView::tilesInView(int lvl) const
{
    QVector<TileLoader::Id> ids;
    const QVector<TileReader::Level>& levels = reader->levels(shownPage);
    const TileReader::Level& l = levels[lvl];
    const double fx = double(levels[0].size.width()) / l.size.width();
    const double fy = double(levels[0].size.height()) / l.size.height();
    const QRectF visible = QRectF(imagePoint(QPointF(0, 0)), QSizeF(width() / zoom(), height() / zoom()));
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
    // Picture point (0, 0) to a whole screen pixel: resampled tiles are copied there, not scaled.
    const QPoint origin = viewPoint(QPointF(0, 0)).toPoint();
    for (const TileLoader::Id& id : tiles) {
        const TileReader::Level& l = levels[id.level];
        const double fx = double(levels[0].size.width()) / l.size.width();
        const double fy = double(levels[0].size.height()) / l.size.height();
        const QSize pixels(std::min(l.tile.width(), l.size.width() - id.x * l.tile.width()),
                           std::min(l.tile.height(), l.size.height() - id.y * l.tile.height()));
        const QRectF inPicture(id.x * l.tile.width() * fx, id.y * l.tile.height() * fy, pixels.width() * fx,
                               pixels.height() * fy);
        if (zoom() * fx < 1.0) {
            // Edges rounded from the picture's corner, so neighbours meet without gap or overlap.
            const QPoint from(qRound(inPicture.left() * zoom()), qRound(inPicture.top() * zoom()));
            const QPoint to(qRound(inPicture.right() * zoom()), qRound(inPicture.bottom() * zoom()));
            const QImage scaled = loader->scaledTile(id, QSize(to.x() - from.x(), to.y() - from.y()), request);
            if (!scaled.isNull()) {
                painter.drawImage(origin + from, scaled);
                continue;
            }
        }
        const QImage image = loader->tile(id, request);
        if (image.isNull()) {
            all = false;
            continue;
        }
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
    painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom() < 1.0);
    drawnComplete = drawPicture(painter);
    if (overlay)
        overlay(painter);
    ScaleBar::choose(umPerPx / zoom(), width()).draw(painter, rect());
}

bool TiledView::drawPicture(QPainter& painter)
{
    const QRectF whole(viewPoint(QPointF(0, 0)), viewPoint(QPointF(pictureSize().width(), pictureSize().height())));
    if (overviewScale > 0 && zoom() * overviewScale <= 1.001) {
        loader->keepOnly({});
        if (overview.isNull()) {
            painter.setPen(Qt::lightGray);
            painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Making an overview…"));
            return false;
        }
        painter.drawImage(whole, overview);
        return true;
    }
    const int finest = level();
    const int coarsest = int(reader->levels(shownPage).size()) - 1;
    const QVector<TileLoader::Id> wanted = tilesInView(finest);
    // The coarsest level first, a quick picture to refine; not when it lies
    // just above the wanted level: its tiles would cost nearly as many reads.
    const QVector<TileLoader::Id> coarse = coarsest > finest + 1 ? tilesInView(coarsest) : QVector<TileLoader::Id>();
    loader->keepOnly(wanted + coarse);
    // Once the tiles of the right level are all loaded they alone are drawn:
    // scaling coarser ones beneath them cost more than the rest of the paint.
    const bool ready = std::all_of(wanted.begin(), wanted.end(),
                                   [this](const TileLoader::Id& id) { return !loader->tile(id, false).isNull(); });
    if (ready) {
        for (const TileLoader::Id& id : coarse)
            loader->tile(id, true);
        return drawTiles(painter, wanted, true);
    }
    // Coarse to fine: whatever is loaded shows until the finer tiles cover it.
    if (!overview.isNull())
        painter.drawImage(whole, overview);
    drawTiles(painter, coarse, true);
    for (int l = coarse.isEmpty() ? coarsest : coarsest - 1; l > finest; --l)
        drawTiles(painter, tilesInView(l), false);
    return drawTiles(painter, wanted, true);
}

void TiledView::mouseMoveEvent(QMouseEvent* event)
{
    emit pointerMoved(imagePoint(event->position()));
    ZoomPanView::mouseMoveEvent(event);
}

void TiledView::pictureDoubleClicked(const QPointF& p)
{
    emit pointDoubleClicked(p);
}
