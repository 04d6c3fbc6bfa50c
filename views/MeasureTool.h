#pragma once

#include "views/marks/Annotation.h"

#include <QList>
#include <QObject>
#include <QPointF>

class AnnotationStore;
class PictureMap;
class QMouseEvent;
class VideoView;

// The measuring and annotating modes of the video view. While a mode is on,
// the view's mouse goes here instead of moving the sampling region:
// measuring, a drag keeps a line, a Shift-drag a rectangle, clicks place the
// corners of a polygon that a double-click closes, a click on a mark selects
// it and Delete removes it; annotating, one click asks for a labelled point.
// Esc leaves either mode.
class MeasureTool : public QObject
{
    Q_OBJECT

public:
    enum class Mode { Off, Measure, Annotate };

    MeasureTool(VideoView* view, AnnotationStore* store);

    Mode mode() const { return current; }
    void setMode(Mode mode);

    // The mark drawn under a view point, the topmost first; 0 for none.
    static int markAt(const QList<Annotation>& marks, const PictureMap& map, const QPointF& point, double tolerance);

signals:
    void modeChanged(MeasureTool::Mode mode);
    // Annotating: the user clicked here; the label is asked for elsewhere.
    void notePlaced(const QPointF& stageMm, double zMicrometres);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void press(QMouseEvent* event);
    void drag(QMouseEvent* event);
    void release(QMouseEvent* event);
    void closePolygon();
    void keep(Annotation::Shape shape);
    void showDraft();

    VideoView* view;
    AnnotationStore* store;
    Mode current = Mode::Off;
    Annotation draft;
    QPointF pressPoint;
    bool dragging = false;
    bool rectangle = false;
    // The release that ends a double-click is no click of its own.
    bool afterDoubleClick = false;
};
