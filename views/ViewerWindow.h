#pragma once

#include <QFuture>
#include <QMainWindow>
#include <QPointF>
#include <atomic>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
class TileLoader;
class TileReader;
class TiledView;
class ViewerMarks;

// "Tessan: Viewer – NAME": a saved mosaic, stack or picture of any size, with
// a z slider for stacks, a channel chooser, the picture or its height map,
// and the picture point, µm and stage position under the pointer.
class ViewerWindow : public QMainWindow
{
    Q_OBJECT

public:
    ViewerWindow(std::shared_ptr<TileReader> reader, const QString& path, QWidget* parent = nullptr);
    ~ViewerWindow() override;

    // Opens the file in a new window, shown; nullptr and the reason when it cannot be read.
    static ViewerWindow* open(const QString& path, QString* error);
    // The same, saying why in a message box over `parent` when it fails.
    static ViewerWindow* openOrWarn(const QString& path, QWidget* parent);
    // Asks for a file to open; empty when none was chosen.
    static QString choose(QWidget* parent);
    static void chooseAndOpen(QWidget* parent);
    static QString fileFilter();

    TiledView* view = nullptr;
    TileLoader* loader = nullptr;
    QSlider* planeSlider = nullptr;
    QComboBox* channelBox = nullptr;
    QCheckBox* heightBox = nullptr;
    QLabel* pointerLabel = nullptr;
    QAction* saveViewAction = nullptr;
    QAction* measureAction = nullptr;
    ViewerMarks* marks = nullptr;

    const TileReader& reader() const { return *source; }
    // The stage position in µm of a picture point; needs hasStagePosition().
    QPointF stagePointUm(const QPointF& imagePoint) const;
    bool saveView(const QString& path, QString* error) const;
    // NAME.geojson beside the file, in the file's pixels, as Save Mosaic writes it.
    QString besideMarksPath() const;
    bool saveMarksBeside(QString* error) const;
    // Asks the session to move the stage to a mark (needs the file's stage position).
    void goToMark(int id);
    // Says that the stage goes only from a session, when none is open.
    void moveStage(const QPointF& stageUm);
    QLabel* linkLabel = nullptr;

private:
    void showPage();
    void showLink();
    void describePointer(const QPointF& imagePoint);
    void chooseSaveView();
    // The display ranges of the height map and of each 16-bit channel, on a
    // worker; their pages wait for them. Then the overview, if one is needed.
    void findRanges();
    void buildMarks(QMenu* file);
    void exportMarks();
    void importMarks();
    // For a large page without reduced levels, on a worker; progress in the status bar.
    void makeOverview(int page);

    std::shared_ptr<TileReader> source;
    QString filePath;
    std::shared_ptr<std::atomic<bool>> cancelOverview = std::make_shared<std::atomic<bool>>(false);
    QFuture<void> overviewRun;
    QFuture<void> rangeRun;
};
