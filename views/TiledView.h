#pragma once

#include "imaging/TileReader.h"
#include "views/TileLoader.h"
#include "views/ZoomPanView.h"

#include <QPointF>
#include <functional>
#include <memory>

// Shows one page of a file of any size: only the tiles in view, from the
// level that matches the zoom, the coarsest level first while finer tiles
// arrive from the loader; a scale bar shows the length.
class TiledView : public ZoomPanView
{
    Q_OBJECT

public:
    explicit TiledView(QWidget* parent = nullptr);

    void setSource(std::shared_ptr<const TileReader> reader, TileLoader* loader, double umPerPx);
    void setPage(int page);
    // A page without reduced levels gets a reduced copy, each side divided by
    // `factor`: while it is made (null image), zoomed-out views wait for it
    // instead of reading every tile; once there, they show it.
    void setOverview(const QImage& image, int factor);
    int overviewFactor() const { return overviewScale; }
    // Drawn over the picture after the tiles: marks, grid, crosshair.
    void setOverlay(std::function<void(QPainter&)> paint) { overlay = std::move(paint); }
    int page() const { return shownPage; }
    // The level drawn at the current zoom, and whether its tiles in view all were.
    int level() const;
    bool complete() const { return drawnComplete; }

    // The finest level whose pixels are no smaller than the screen's at `scale`.
    static int levelFor(const QVector<TileReader::Level>& levels, double scale);

signals:
    void pointerMoved(const QPointF& imagePoint);
    void pointDoubleClicked(const QPointF& imagePoint);
    void viewChanged();

protected:
    QSize pictureSize() const override;
    // What is shown changed: draw again, and say so.
    void viewMoved() override;
    void pictureDoubleClicked(const QPointF& imagePoint) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    // The tiles of a level in view.
    QVector<TileLoader::Id> tilesInView(int level) const;
    // The tiles, or the overview, of the current zoom; false when some were missing.
    bool drawPicture(QPainter& painter);
    // Draws those of them that are loaded; false when some were missing.
    bool drawTiles(QPainter& painter, const QVector<TileLoader::Id>& tiles, bool request);

    std::shared_ptr<const TileReader> reader;
    TileLoader* loader = nullptr;
    int shownPage = -1;
    double umPerPx = 0;
    bool drawnComplete = false;
    std::function<void(QPainter&)> overlay;
    QImage overview;
    int overviewScale = 0;
};
