#pragma once

#include "views/marks/Annotation.h"

#include <QObject>
#include <QPointF>
#include <QSize>

class AnnotationStore;
class PictureMap;
class QPainter;
class TiledView;

// Measuring and marking on an opened file, with the live picture's tools: a
// drag measures a line, a Shift-drag a rectangle, clicks place the corners of
// a polygon that a double-click closes, a click on a mark selects it and
// Delete removes it; a click in note mode drops a labelled point, bookmarks keep the middle of the view; the grid,
// crosshair and marks are drawn by the same painter as on the live picture. Marks are kept where they lie on the file:
// at the file's stage position of pixel (0, 0) (0 without one) plus the pixel times the pixel size, in mm, so a file of
// a scan shares the session's stage frame.
class ViewerMarks : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Off, Measure, Note };

    ViewerMarks(TiledView* view, QPointF originUm, double umPerPxX, double umPerPxY, QSize pixels);

    AnnotationStore* store = nullptr;
    bool crosshair = false;
    int gridMicrometres = 0;

    void setMode(Mode mode);
    Mode mode() const { return current; }
    QPointF toMm(const QPointF& pixel) const;
    QPointF toPixel(const QPointF& mm) const;
    // Marks made on the view.
    int addMeasurement(const QVector<QPointF>& pixels, bool rectangle);
    int addNote(const QPointF& pixel, const QString& label);
    int addBookmark();
    void paint(QPainter& painter) const;

    // The marks in the file's pixels (as Save Mosaic writes them beside a mosaic), and back.
    QByteArray pixelGeoJson() const;
    bool readPixelGeoJson(const QByteArray& data, QString* error);

signals:
    void notePlaced(const QPointF& pixel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The view as the live picture's painter and picking see it.
    PictureMap map() const;
    void click(const QPointF& at, const QPointF& pixel);
    bool key(int key);
    // Keeps a measurement, selected.
    void keep(Annotation::Shape shape, const QVector<QPointF>& pointsMm);

    TiledView* view;
    QPointF originUm;
    double umPerPxX, umPerPxY;
    QSize pixels;
    Mode current = Mode::Off;
    Annotation draft;
    QPointF pressPixel;
    QPointF pressAt;
    bool measuring = false;
    bool dragged = false;
    // The release that ends a double-click is no click of its own.
    bool afterDoubleClick = false;
};
