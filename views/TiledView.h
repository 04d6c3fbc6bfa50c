#pragma once

#include "imaging/TileReader.h"
#include "views/TileLoader.h"

#include <QPointF>
#include <QWidget>
#include <functional>
#include <memory>

// Shows one page of a file of any size: only the tiles in view, from the
// level that matches the zoom, the coarsest level first while finer tiles
// arrive from the loader. The wheel zooms around the pointer, a drag pans,
// the arrow keys pan, + and - zoom, Home fits; a scale bar shows the length.
class TiledView : public QWidget
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
    void fitToWindow();
    // Zooms by a factor, keeping the picture point under `at` (view pixels) in place.
    void zoomBy(double factor, const QPointF& at);
    void panBy(const QPointF& viewPixels);
    // Shows the picture at `zoom` with picture point `topLeft` in the view's corner.
    void setZoom(double zoom, const QPointF& topLeft);

    // View pixels per picture pixel.
    double zoom() const { return scale; }
    QPointF imagePoint(const QPointF& viewPoint) const;
    QPointF viewPoint(const QPointF& imagePoint) const;
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
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // What is shown changed: draw again, and say so.
    void changed();
    double fitScale() const;
    void keepInView();
    QSize pictureSize() const;
    // The tiles of a level in view.
    QVector<TileLoader::Id> tilesInView(int level) const;
    // Draws those of them that are loaded; false when some were missing.
    bool drawTiles(QPainter& painter, const QVector<TileLoader::Id>& tiles, bool request);

    std::shared_ptr<const TileReader> reader;
    TileLoader* loader = nullptr;
    int shownPage = -1;
    double umPerPx = 0;
    double scale = 1.0;
    QPointF offset; // picture pixel at the view's top-left corner
    bool fitted = true;
    bool dragging = false;
    QPoint pressPos;
    QPointF pressOffset;
    bool drawnComplete = false;
    std::function<void(QPainter&)> overlay;
    QImage overview;
    int overviewScale = 0;
};
