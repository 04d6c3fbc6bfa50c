#pragma once

#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>

class AnnotationStore;

// Draws the session's marks over a slide picture (the overview or the
// high-resolution preview) as a transparent layer on top of it, so the
// picture's own drawing and mouse handling stay as they are: bookmarks as
// numbered circles, notes as dots, measurements as their outlines.
class MarksOverlay : public QWidget
{
    Q_OBJECT

public:
    // Widget point of a stage position in millimetres, in the picture's own mapping.
    using Mapping = std::function<QPointF(const QPointF& stageMm)>;

    MarksOverlay(QWidget* picture, const AnnotationStore* store, Mapping mapping);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<const AnnotationStore> store;
    Mapping toWidget;
};
