#include "session/MarksController.h"

#include "views/HighResPreview.h"
#include "views/LowResPreview.h"
#include "views/MarksOverlay.h"
#include "views/MarksPanel.h"
#include "views/OverviewMap.h"
#include "views/SavePathDialog.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"
#include "views/marks/AnnotationStore.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QInputDialog>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStatusBar>
#include <QTime>

namespace {

QAction* command(QObject* owner, const char* name, const QString& text, const QKeySequence& keys,
                 bool checkable = false)
{
    auto* a = new QAction(text, owner);
    a->setObjectName(QString::fromLatin1(name));
    a->setShortcut(keys);
    a->setCheckable(checkable);
    return a;
}

} // namespace

MarksController::MarksController(QMainWindow* mainWindow)
    : QObject(mainWindow)
    , window(mainWindow)
    , marks(new AnnotationStore(this))
    , list(new MarksPanel(mainWindow, marks))
{
    buildActions();
    connect(list, &MarksPanel::goToRequested, this, &MarksController::goToMark);
}

void MarksController::buildActions()
{
    measureAction = command(this, "measureAction", tr("&Measure"), QKeySequence(Qt::CTRL | Qt::Key_M), true);
    measureAction->setToolTip(tr("Drag a line, Shift-drag a rectangle, click a polygon in the video picture"));
    annotateAction =
        command(this, "annotateAction", tr("&Annotate"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), true);
    annotateAction->setToolTip(tr("Click in the video picture to place a labelled point"));
    // Both need the scale of the picture.
    measureAction->setEnabled(false);
    annotateAction->setEnabled(false);
    crosshairAction =
        command(this, "crosshairAction", tr("&Crosshair"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), true);
    gridGroup = new QActionGroup(this);
    for (int spacing : {0, 10, 50, 100, 500}) {
        QAction* a = gridGroup->addAction(spacing ? tr("%1 µm").arg(spacing) : tr("None"));
        a->setCheckable(true);
        a->setData(spacing);
        a->setChecked(spacing == 0);
    }
    bookmarkAction = command(this, "bookmarkAction", tr("&Bookmark Position..."), QKeySequence(Qt::CTRL | Qt::Key_D));
    exportAction =
        command(this, "exportMarksAction", tr("&Export Marks..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    importAction = command(this, "importMarksAction", tr("&Import Marks..."), QKeySequence());
    copyPictureAction = command(this, "copyPictureAction", tr("Copy &Picture"), QKeySequence::Copy);
    // Shown in the menu; in the main window Ctrl+C stays with the text fields.
    copyPictureAction->setShortcutContext(Qt::WidgetShortcut);
    copyPictureKey = command(this, "copyPictureKey", tr("Copy Picture"), QKeySequence::Copy);

    connect(measureAction, &QAction::toggled, this, [this](bool on) {
        if (tool)
            tool->setMode(on ? MeasureTool::Mode::Measure : MeasureTool::Mode::Off);
    });
    connect(annotateAction, &QAction::toggled, this, [this](bool on) {
        if (tool)
            tool->setMode(on ? MeasureTool::Mode::Annotate : MeasureTool::Mode::Off);
    });
    connect(crosshairAction, &QAction::toggled, this, &MarksController::showLayers);
    connect(gridGroup, &QActionGroup::triggered, this, &MarksController::showLayers);
    connect(bookmarkAction, &QAction::triggered, this, &MarksController::bookmarkPosition);
    connect(exportAction, &QAction::triggered, this, &MarksController::exportMarks);
    connect(importAction, &QAction::triggered, this, &MarksController::importMarks);
    connect(copyPictureAction, &QAction::triggered, this, &MarksController::copyPicture);
    connect(copyPictureKey, &QAction::triggered, this, &MarksController::copyPicture);
}

void MarksController::addToMenus(QMenu* file, QAction* before, QMenu* edit, QMenu* view)
{
    file->insertActions(before, {exportAction, importAction});
    file->insertSeparator(before);
    edit->addAction(copyPictureAction);
    view->addSeparator();
    view->addAction(measureAction);
    view->addAction(annotateAction);
    view->addAction(crosshairAction);
    QMenu* grid = view->addMenu(tr("&Grid"));
    grid->setObjectName(QStringLiteral("gridMenu"));
    grid->addActions(gridGroup->actions());
    view->addSeparator();
    view->addAction(bookmarkAction);
    window->addActions({measureAction, annotateAction, crosshairAction, bookmarkAction, exportAction});
}

void MarksController::attach(VideoWindow* videoWindow, LowResPreview* overview, HighResPreview* preview)
{
    video = videoWindow;
    VideoView* view = videoWindow->imageView;
    tool = new MeasureTool(view, marks);
    connect(tool, &MeasureTool::modeChanged, this, &MarksController::toolModeChanged);
    // Queued: the label is asked for once the click has been handled.
    connect(tool, &MeasureTool::notePlaced, this, &MarksController::placeNote, Qt::QueuedConnection);
    connect(marks, &AnnotationStore::changed, view, qOverload<>(&QWidget::update));
    videoWindow->addActions(
        {measureAction, annotateAction, crosshairAction, bookmarkAction, exportAction, copyPictureKey});
    showLayers();

    new MarksOverlay(overview, marks, [overview](const QPointF& mm) {
        // Full resolution, where the overview's own markers step by millimetres.
        return QPointF(mm.x() / OverviewMap::widthMm * overview->width(),
                       mm.y() / OverviewMap::heightMm * overview->height());
    });
    new MarksOverlay(preview, marks, [preview](const QPointF& mm) {
        CoordinateTriple stage;
        stage.x = float(mm.x() * 10000.0);
        stage.y = float(mm.y() * 10000.0);
        return QPointF(preview->calibration().stageToPixel(stage, 0, 0) - preview->viewOrigin());
    });
}

void MarksController::setSource(const QString& slide, const QString& microscope, const QString& server)
{
    source.slide = slide;
    source.microscope = microscope;
    source.server = server;
}

void MarksController::setScale(float x, float y)
{
    source.micrometresPerPixelX = x;
    source.micrometresPerPixelY = y;
    const bool known = x > 0.0f && y > 0.0f;
    measureAction->setEnabled(known);
    annotateAction->setEnabled(known);
    if (!known && tool)
        tool->setMode(MeasureTool::Mode::Off);
}

void MarksController::setPhysical(CoordinateTriple& position)
{
    physical = position;
    havePosition = true;
}

QString MarksController::defaultBookmarkName() const
{
    int count = 1;
    for (const Annotation& mark : marks->all())
        count += mark.kind == Annotation::Kind::Bookmark ? 1 : 0;
    return QString::number(count) + QLatin1Char(' ') + QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
}

bool MarksController::addBookmark(const QString& name)
{
    if (!havePosition)
        return false;
    Annotation mark;
    mark.kind = Annotation::Kind::Bookmark;
    mark.shape = Annotation::Shape::Point;
    mark.name = name;
    mark.pointsMm = {QPointF(double(physical.x) * 0.0001, double(physical.y) * 0.0001)};
    mark.zMicrometres = double(physical.z) * 0.1;
    marks->add(mark);
    return true;
}

void MarksController::bookmarkPosition()
{
    if (!havePosition) {
        report(tr("No stage position has been reported yet, so there is nothing to bookmark."));
        return;
    }
    QWidget* parent = QApplication::activeWindow() ? QApplication::activeWindow() : window;
    bool accepted = false;
    const QString name = QInputDialog::getText(parent, tr("Bookmark Position"), tr("Name of this position:"),
                                               QLineEdit::Normal, defaultBookmarkName(), &accepted)
                             .trimmed();
    if (!accepted)
        return;
    addBookmark(name.isEmpty() ? defaultBookmarkName() : name);
    report(tr("Bookmarked %1.").arg(marks->all().constLast().name));
}

void MarksController::placeNote(const QPointF& stageMm, double zMicrometres)
{
    int count = 1;
    for (const Annotation& mark : marks->all())
        count += mark.kind == Annotation::Kind::Note ? 1 : 0;
    bool accepted = false;
    const QString label =
        QInputDialog::getText(video ? static_cast<QWidget*>(video.data()) : window, tr("Annotate"),
                              tr("Label of this point:"), QLineEdit::Normal, tr("Note %1").arg(count), &accepted)
            .trimmed();
    if (!accepted)
        return;
    Annotation mark;
    mark.kind = Annotation::Kind::Note;
    mark.shape = Annotation::Shape::Point;
    mark.name = label.isEmpty() ? tr("Note %1").arg(count) : label;
    mark.pointsMm = {stageMm};
    mark.zMicrometres = zMicrometres;
    marks->add(mark);
}

bool MarksController::exportTo(const QString& fileName, QString* error) const
{
    return writeFile(fileName, MarksGeoJson::write(marks->all(), source), error);
}

QString MarksController::writeBesideMosaic(const QString& mosaicPath, const QPointF& originMm,
                                           double micrometresPerPixel, const QSize& mosaicPixels) const
{
    if (marks->all().isEmpty())
        return QString();
    QString fileName = mosaicPath;
    fileName.remove(
        QRegularExpression(QStringLiteral("(\\.ome)?\\.tiff?$"), QRegularExpression::CaseInsensitiveOption));
    fileName += QStringLiteral(".geojson");
    QString error;
    writeFile(fileName, MarksGeoJson::writeForMosaic(marks->all(), originMm, micrometresPerPixel, mosaicPixels),
              &error);
    return error;
}

bool MarksController::writeFile(const QString& fileName, const QByteArray& json, QString* error)
{
    // Written beside and then renamed, so a failure never leaves half a file.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(json) < 0 || !file.commit()) {
        *error = tr("The marks could not be written to %1: %2.").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

int MarksController::importFrom(const QString& fileName, QString* error)
{
    QByteArray data;
    QList<Annotation> read;
    if (!MarksGeoJson::readFile(fileName, &data, error) || !MarksGeoJson::read(data, &read, error))
        return -1;
    marks->addAll(read);
    return int(read.size());
}

void MarksController::exportMarks()
{
    if (marks->all().isEmpty()) {
        report(tr("There are no marks to export."));
        return;
    }
    // A slide name from the server may hold anything; the file name keeps only the safe characters.
    QString slide = source.slide;
    slide.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    const QString suggested =
        (slide.isEmpty() ? QStringLiteral("marks") : slide + QStringLiteral("-marks")) + QStringLiteral(".geojson");
    const QString fileName = SavePathDialog::ask(
        window, tr("Export Marks"), QString(), tr("GeoJSON (*.geojson *.json)"), QStringLiteral("geojson"), suggested);
    if (fileName.isEmpty())
        return;
    QString error;
    if (!exportTo(fileName, &error)) {
        QMessageBox::warning(window, tr("Tessan: Export Marks"), error);
        return;
    }
    report(tr("%n mark(s) exported to %1.", nullptr, int(marks->all().size())).arg(fileName));
}

void MarksController::importMarks()
{
    const QString fileName = QFileDialog::getOpenFileName(window, tr("Import Marks"), QString(),
                                                          tr("GeoJSON (*.geojson *.json);;All files (*)"), nullptr,
                                                          QFileDialog::DontUseNativeDialog);
    if (fileName.isEmpty())
        return;
    QString error;
    const int count = importFrom(fileName, &error);
    if (count < 0) {
        QMessageBox::warning(window, tr("Tessan: Import Marks"), error + tr("\nNo marks were imported."));
        return;
    }
    report(count ? tr("%n mark(s) imported from %1.", nullptr, count).arg(fileName)
                 : tr("%1 holds no marks.").arg(fileName));
}

void MarksController::copyPicture()
{
    const QImage picture = video ? video->imageView->pictureWithOverlays() : QImage();
    if (picture.isNull()) {
        report(tr("There is no picture to copy yet."));
        return;
    }
    QApplication::clipboard()->setImage(picture);
    report(tr("Picture copied."));
}

void MarksController::goToMark(int id)
{
    const Annotation* mark = marks->find(id);
    if (!mark)
        return;
    const QPointF place = MarksPanel::placeOf(mark->pointsMm);
    CoordinateTriple destination;
    destination.x = float(place.x() * 10000.0);
    destination.y = float(place.y() * 10000.0);
    // A mark made elsewhere may carry no focus; the present one then stays.
    destination.z = mark->zMicrometres > 0.0 ? float(mark->zMicrometres * 10.0) : physical.z;
    emit goToRequested(destination);
}

void MarksController::toolModeChanged(MeasureTool::Mode mode)
{
    const QSignalBlocker blockMeasure(measureAction);
    const QSignalBlocker blockAnnotate(annotateAction);
    measureAction->setChecked(mode == MeasureTool::Mode::Measure);
    annotateAction->setChecked(mode == MeasureTool::Mode::Annotate);
}

void MarksController::showLayers()
{
    if (!video)
        return;
    OverlayPainter::Layers layers = video->imageView->overlays();
    layers.marks = marks;
    layers.crosshair = crosshairAction->isChecked();
    layers.gridMicrometres = gridGroup->checkedAction() ? gridGroup->checkedAction()->data().toInt() : 0;
    video->imageView->setOverlays(layers);
}

void MarksController::report(const QString& text)
{
    window->statusBar()->showMessage(text, 8000);
}
