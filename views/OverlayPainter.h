#pragma once

#include "views/PictureMap.h"
#include "views/ScaleBar.h"
#include "views/marks/Annotation.h"

#include <QPointer>

class AnnotationStore;
class QPainter;
class QPointF;
class QRectF;

// Draws what lies over the live picture: the µm grid, the marks that fall
// inside it with their figures, a shape being measured, the crosshair and the
// scale bar. The same drawing serves the screen, where the picture may be
// stretched, and the saved or copied picture, at the picture's own pixels.
class OverlayPainter
{
public:
    struct Layers
    {
        QPointer<const AnnotationStore> marks;
        // The shape the user is measuring, not yet kept; no points for none.
        Annotation draft;
        bool crosshair = false;
        // Grid spacing; 0 for no grid.
        int gridMicrometres = 0;
    };

    OverlayPainter(const PictureMap& map, const Layers& layers);

    void paint(QPainter& painter, const ScaleBar& bar) const;

    static const QColor crosshairColour;

private:
    void paintGrid(QPainter& painter) const;
    void paintMark(QPainter& painter, const Annotation& mark, bool selected, int number) const;
    void paintCrosshair(QPainter& painter) const;
    // A caption on a dark backing beside `anchor`, or next to the shape's box
    // where that has no room; always within the picture.
    void caption(QPainter& painter, const QPointF& anchor, const QString& text, const QRectF& shape) const;

    PictureMap map;
    const Layers& layers;
};
