#pragma once

#include "acquire/CoordinateTriple.h"
#include "views/MeasureTool.h"
#include "views/marks/MarksGeoJson.h"

#include <QObject>
#include <QPointer>

class AnnotationStore;
class HighResPreview;
class LowResPreview;
class MarksPanel;
class QAction;
class QActionGroup;
class QMainWindow;
class QMenu;
class VideoWindow;

// Measuring, marking and bookmarking in a control session: the menu
// commands, the marks list, the marks over the live picture and the slide
// pictures, and export and import of the marks as GeoJSON.
class MarksController : public QObject
{
    Q_OBJECT

public:
    explicit MarksController(QMainWindow* window);

    AnnotationStore* store() const { return marks; }
    MarksPanel* panel() const { return list; }
    MeasureTool* measureTool() const { return tool; }

    // The commands: they also answer their keys in the video window.
    QAction* measureAction = nullptr;
    QAction* annotateAction = nullptr;
    QAction* crosshairAction = nullptr;
    QActionGroup* gridGroup = nullptr;
    QAction* bookmarkAction = nullptr;
    QAction* exportAction = nullptr;
    QAction* importAction = nullptr;
    // Edit > Copy Picture; Ctrl+C copies the picture only in the video window,
    // where copyPictureKey answers it.
    QAction* copyPictureAction = nullptr;
    QAction* copyPictureKey = nullptr;

    void addToMenus(QMenu* file, QAction* before, QMenu* edit, QMenu* view);
    void attach(VideoWindow* window, LowResPreview* overview, HighResPreview* preview);
    void setSource(const QString& slide, const QString& microscope, const QString& server);

    // A number and the time, e.g. "3 14:05:09".
    QString defaultBookmarkName() const;
    // Keeps the last reported stage position; false before any report.
    bool addBookmark(const QString& name);
    bool exportTo(const QString& fileName, QString* error) const;
    // The marks inside a saved mosaic, beside it as NAME.geojson in the
    // mosaic's pixel coordinates (QuPath imports them onto that picture);
    // nothing without marks. An error sentence, or empty.
    QString writeBesideMosaic(const QString& mosaicPath, const QPointF& originMm, double micrometresPerPixel,
                              const QSize& mosaicPixels) const;
    // All or nothing; the number of marks read, or -1 with an error.
    int importFrom(const QString& fileName, QString* error);

public slots:
    void setScale(float x, float y);
    void setPhysical(CoordinateTriple& position);
    void bookmarkPosition();
    void exportMarks();
    void importMarks();
    void copyPicture();
    void goToMark(int id);

signals:
    // Where Go To wants the stage, in stage units, z included.
    void goToRequested(CoordinateTriple& destination);

private:
    static bool writeFile(const QString& fileName, const QByteArray& json, QString* error);
    void buildActions();
    void toolModeChanged(MeasureTool::Mode mode);
    void placeNote(const QPointF& stageMm, double zMicrometres);
    void showLayers();
    void report(const QString& text);

    QMainWindow* window;
    AnnotationStore* marks;
    MarksPanel* list;
    QPointer<VideoWindow> video;
    QPointer<MeasureTool> tool;
    CoordinateTriple physical;
    bool havePosition = false;
    MarksGeoJson::Source source;
};
