#include "views/ViewerWindow.h"

#include "imaging/DisplayRange.h"
#include "imaging/Overview.h"
#include "imaging/TileReader.h"
#include "views/MarksPanel.h"
#include "views/RecentFiles.h"
#include "views/StageLink.h"
#include "views/TileLoader.h"
#include "views/TiledView.h"
#include "views/ViewerMarks.h"
#include "views/marks/AnnotationStore.h"
#include "views/marks/MarksGeoJson.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSlider>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

ViewerWindow::ViewerWindow(std::shared_ptr<TileReader> reader, const QString& path, QWidget* parent)
    : QMainWindow(parent)
    , source(std::move(reader))
    , filePath(path)
{
    setObjectName(QStringLiteral("viewerWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Tessan: Viewer – %1").arg(QFileInfo(path).fileName()));
    loader = new TileLoader(source, this);
    connect(loader, &TileLoader::readFailed, this, [this](const QString& message) {
        statusBar()->showMessage(QStringLiteral("Cannot read: %1").arg(message));
    });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    view = new TiledView(central);
    layout->addWidget(view, 1);
    auto* controls = new QHBoxLayout;
    controls->setContentsMargins(6, 0, 6, 0);
    planeSlider = new QSlider(Qt::Horizontal, central);
    planeSlider->setObjectName(QStringLiteral("planeSlider"));
    planeSlider->setRange(0, std::max(0, source->planeCount() - 1));
    channelBox = new QComboBox(central);
    channelBox->setObjectName(QStringLiteral("channelBox"));
    for (int c = 0; c < source->channelCount(); ++c)
        channelBox->addItem(QStringLiteral("Channel %1").arg(c + 1));
    heightBox = new QCheckBox(QStringLiteral("Height map"), central);
    heightBox->setObjectName(QStringLiteral("heightBox"));
    heightBox->setChecked(source->planeCount() == 0);
    heightBox->setEnabled(source->heightPage() >= 0 && source->planeCount() > 0);
    auto* planeLabel = new QLabel(QStringLiteral("z:"), central);
    controls->addWidget(planeLabel);
    controls->addWidget(planeSlider, 1);
    controls->addWidget(channelBox);
    controls->addWidget(heightBox);
    // What a picture says of itself (Tessan's stage position and settings), in full on hover.
    auto* comment = new QLabel(source->comment().simplified(), central);
    comment->setObjectName(QStringLiteral("commentLabel"));
    comment->setToolTip(source->comment());
    comment->setMinimumWidth(0);
    comment->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    comment->setVisible(!source->comment().isEmpty());
    controls->addWidget(comment, 2);
    planeLabel->setVisible(source->planeCount() > 1);
    planeSlider->setVisible(source->planeCount() > 1);
    channelBox->setVisible(source->channelCount() > 1);
    heightBox->setVisible(source->heightPage() >= 0);
    layout->addLayout(controls);
    setCentralWidget(central);
    pointerLabel = new QLabel(statusBar());
    statusBar()->addPermanentWidget(pointerLabel);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(QStringLiteral("&Open..."), QKeySequence::Open, this, [this] { chooseAndOpen(this); });
    // A viewer opened without a session can bring one up to steer the stage from the file.
    file->addAction(QStringLiteral("Connect to a &Microscope..."), &StageLink::instance(), &StageLink::askForSession);
    RecentFiles::attach(file->addMenu(QStringLiteral("Open &Recent")), this,
                        [this](const QString& recent) { openOrWarn(recent, this); });
    saveViewAction = file->addAction(QStringLiteral("Save &View..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S),
                                     this, &ViewerWindow::chooseSaveView);
    buildMarks(file);
    file->addSeparator();
    file->addAction(QStringLiteral("&Close"), QKeySequence::Close, this, &QWidget::close);
    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    viewMenu->addAction(QStringLiteral("&Fit to Window"), QKeySequence(Qt::Key_Home), view, &TiledView::fitToWindow);

    const double umPerPx = source->meta().physicalSizeXUm;
    view->setSource(source, loader, umPerPx);
    connect(planeSlider, &QSlider::valueChanged, this, &ViewerWindow::showPage);
    connect(channelBox, &QComboBox::currentIndexChanged, this, &ViewerWindow::showPage);
    connect(heightBox, &QCheckBox::toggled, this, &ViewerWindow::showPage);
    connect(view, &TiledView::pointerMoved, this, &ViewerWindow::describePointer);
    connect(view, &TiledView::pointDoubleClicked, this, [this](const QPointF& p) {
        if (source->hasStagePosition() && source->meta().physicalSizeXUm > 0 && marks->mode() == ViewerMarks::Mode::Off)
            moveStage(stagePointUm(p));
    });
    linkLabel = new QLabel(statusBar());
    linkLabel->setObjectName(QStringLiteral("stageLinkLabel"));
    statusBar()->addPermanentWidget(linkLabel);
    connect(&StageLink::instance(), &StageLink::linkChanged, this, &ViewerWindow::showLink);
    showLink();
    showPage();
    resize(1000, 760);
    findRanges();
}

ViewerWindow::~ViewerWindow()
{
    // The worker posts to this window: it ends first.
    cancelOverview->store(true);
    rangeRun.waitForFinished();
    overviewRun.waitForFinished();
}

QString ViewerWindow::fileFilter()
{
    return QStringLiteral("Pictures, stacks and mosaics (*.tif *.tiff *.png *.jpg *.jpeg);;All files (*)");
}

ViewerWindow* ViewerWindow::open(const QString& path, QString* error)
{
    auto reader = std::make_shared<TileReader>();
    if (!reader->open(path, error))
        return nullptr;
    RecentFiles::add(path);
    auto* window = new ViewerWindow(reader, path);
    window->show();
    return window;
}

ViewerWindow* ViewerWindow::openOrWarn(const QString& path, QWidget* parent)
{
    QString why;
    ViewerWindow* window = open(path, &why);
    if (!window)
        QMessageBox::warning(parent, QStringLiteral("Tessan: Viewer"),
                             QStringLiteral("%1 cannot be opened: %2.").arg(QFileInfo(path).fileName(), why));
    return window;
}

QString ViewerWindow::choose(QWidget* parent)
{
    const QStringList recent = RecentFiles::list();
    const QString dir = recent.isEmpty() ? QString() : QFileInfo(recent.first()).absolutePath();
    return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), dir, fileFilter());
}

void ViewerWindow::chooseAndOpen(QWidget* parent)
{
    const QString path = choose(parent);
    if (!path.isEmpty())
        openOrWarn(path, parent);
}

void ViewerWindow::showPage()
{
    const bool height = heightBox->isChecked() && source->heightPage() >= 0;
    const int page = height ? source->heightPage() : source->pageOf(channelBox->currentIndex(), planeSlider->value());
    planeSlider->setEnabled(!height);
    channelBox->setEnabled(!height);
    view->setPage(page);
}

void ViewerWindow::buildMarks(QMenu* file)
{
    const OmeImage& meta = source->meta();
    marks = new ViewerMarks(view, source->stagePositionUm(), meta.physicalSizeXUm, meta.physicalSizeYUm,
                            QSize(meta.sizeX, meta.sizeY));
    view->setOverlay([this](QPainter& painter) { marks->paint(painter); });
    const bool scaled = meta.physicalSizeXUm > 0 && meta.physicalSizeYUm > 0;
    file->addSeparator();
    file->addAction(QStringLiteral("&Export Marks..."), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), this,
                    &ViewerWindow::exportMarks)
        ->setEnabled(scaled);
    file->addAction(QStringLiteral("&Import Marks..."), this, &ViewerWindow::importMarks)->setEnabled(scaled);
    file->addAction(QStringLiteral("Save Marks &Beside File"), this,
                    [this] {
                        QString why;
                        if (!saveMarksBeside(&why))
                            QMessageBox::warning(this, QStringLiteral("Tessan: Viewer"), why);
                        else
                            statusBar()->showMessage(QStringLiteral("Marks saved in %1").arg(besideMarksPath()), 5000);
                    })
        ->setEnabled(scaled);

    QMenu* tools = menuBar()->addMenu(QStringLiteral("&Tools"));
    tools->setEnabled(scaled);
    measureAction = tools->addAction(QStringLiteral("&Measure"), QKeySequence(Qt::CTRL | Qt::Key_M));
    measureAction->setCheckable(true);
    QAction* annotate = tools->addAction(QStringLiteral("&Annotate"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    annotate->setCheckable(true);
    connect(measureAction, &QAction::toggled, this, [this, annotate](bool on) {
        if (on)
            annotate->setChecked(false);
        marks->setMode(on                      ? ViewerMarks::Mode::Measure
                       : annotate->isChecked() ? ViewerMarks::Mode::Note
                                               : ViewerMarks::Mode::Off);
    });
    connect(annotate, &QAction::toggled, this, [this](bool on) {
        if (on)
            measureAction->setChecked(false);
        marks->setMode(on                           ? ViewerMarks::Mode::Note
                       : measureAction->isChecked() ? ViewerMarks::Mode::Measure
                                                    : ViewerMarks::Mode::Off);
    });
    tools->addAction(QStringLiteral("&Bookmark Position"), QKeySequence(Qt::CTRL | Qt::Key_D), this,
                     [this] { marks->addBookmark(); });
    QAction* crosshair = tools->addAction(QStringLiteral("&Crosshair"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    crosshair->setCheckable(true);
    connect(crosshair, &QAction::toggled, this, [this](bool on) {
        marks->crosshair = on;
        view->update();
    });
    QMenu* grid = tools->addMenu(QStringLiteral("&Grid"));
    for (const int um : {0, 10, 50, 100, 500})
        grid->addAction(um ? QStringLiteral("%1 µm").arg(um) : QStringLiteral("Off"), this, [this, um] {
            marks->gridMicrometres = um;
            view->update();
        });
    connect(marks, &ViewerMarks::notePlaced, this, [this](const QPointF& pixel) {
        bool ok = false;
        const QString label = QInputDialog::getText(this, QStringLiteral("Annotate"), QStringLiteral("Label:"),
                                                    QLineEdit::Normal, QString(), &ok);
        if (ok && !label.trimmed().isEmpty())
            marks->addNote(pixel, label.trimmed());
    });

    auto* dock = new QDockWidget(QStringLiteral("Marks"), this);
    dock->setObjectName(QStringLiteral("marksDock"));
    auto* panel = new MarksPanel(dock, marks->store);
    panel->showForFile(QStringLiteral("Measure (Ctrl+M): drag a line, Shift-drag a rectangle, click the corners of a "
                                      "polygon and double-click to close it; click a mark to select it, Delete "
                                      "removes it. Annotate (Ctrl+Shift+A), Bookmark (Ctrl+D). Double-click a name "
                                      "to rename it."));
    dock->setWidget(panel);
    addDockWidget(Qt::RightDockWidgetArea, dock);
    connect(panel, &MarksPanel::goToRequested, this, &ViewerWindow::goToMark);

    // The marks Save Mosaic left beside the file come with it.
    QByteArray beside;
    QString why;
    if (scaled && QFileInfo::exists(besideMarksPath()) &&
        (!MarksGeoJson::readFile(besideMarksPath(), &beside, &why) || !marks->readPixelGeoJson(beside, &why)))
        statusBar()->showMessage(QStringLiteral("The marks beside the file were not read: %1").arg(why));
}

QString ViewerWindow::besideMarksPath() const
{
    QString path = filePath;
    path.remove(QRegularExpression(QStringLiteral("(\\.ome)?\\.(tiff?|png|jpe?g)$"),
                                   QRegularExpression::CaseInsensitiveOption));
    return path + QStringLiteral(".geojson");
}

bool ViewerWindow::saveMarksBeside(QString* error) const
{
    QSaveFile file(besideMarksPath());
    if (file.open(QIODevice::WriteOnly) && file.write(marks->pixelGeoJson()) >= 0 && file.commit())
        return true;
    *error = QStringLiteral("%1: %2").arg(besideMarksPath(), file.errorString());
    return false;
}

void ViewerWindow::goToMark(int id)
{
    const Annotation* mark = marks->store->find(id);
    if (mark && source->hasStagePosition())
        moveStage(MarksPanel::placeOf(mark->pointsMm) * 1000.0);
}

void ViewerWindow::moveStage(const QPointF& stageUm)
{
    if (!StageLink::instance().moveTo(stageUm))
        statusBar()->showMessage(
            QStringLiteral("No session is open: after File > Connect to a Microscope..., a double-click or Go To moves "
                           "its stage here."),
            8000);
}

void ViewerWindow::showLink()
{
    // Only a file that says where it lay on the stage can steer it.
    linkLabel->setVisible(source->hasStagePosition() && source->meta().physicalSizeXUm > 0);
    linkLabel->setText(StageLink::instance().linked() ? QStringLiteral("Stage: linked to the session")
                                                      : QStringLiteral("Stage: no session"));
}

void ViewerWindow::exportMarks()
{
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export Marks"), besideMarksPath(),
                                                      QStringLiteral("GeoJSON (*.geojson *.json)"));
    if (path.isEmpty())
        return;
    MarksGeoJson::Source from;
    from.slide = source->meta().name;
    from.micrometresPerPixelX = source->meta().physicalSizeXUm;
    from.micrometresPerPixelY = source->meta().physicalSizeYUm;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(MarksGeoJson::write(marks->store->all(), from)) < 0 ||
        !file.commit())
        QMessageBox::warning(this, QStringLiteral("Tessan: Viewer"),
                             QStringLiteral("%1: %2").arg(path, file.errorString()));
}

void ViewerWindow::importMarks()
{
    const QString path =
        QFileDialog::getOpenFileName(this, QStringLiteral("Import Marks"), QFileInfo(filePath).absolutePath(),
                                     QStringLiteral("GeoJSON (*.geojson *.json)"));
    if (path.isEmpty())
        return;
    QByteArray bytes;
    QList<Annotation> read;
    QString why;
    // The session's check: files past its cap are refused unread.
    if (!MarksGeoJson::readFile(path, &bytes, &why)) {
        QMessageBox::warning(this, QStringLiteral("Tessan: Viewer"), why);
        return;
    }
    if (!MarksGeoJson::read(bytes, &read, &why)) {
        QMessageBox::warning(this, QStringLiteral("Tessan: Viewer"), QStringLiteral("%1: %2").arg(path, why));
        return;
    }
    marks->store->addAll(read);
}

void ViewerWindow::makeOverview(int page)
{
    const QSize coarsest = source->levels(page).constLast().size;
    if (std::max(coarsest.width(), coarsest.height()) <= Overview::kNeededAbove)
        return;
    const int factor = Overview::factorFor(coarsest);
    view->setOverview(QImage(), factor);
    statusBar()->showMessage(QStringLiteral("Making an overview…"));
    overviewRun =
        QtConcurrent::run([this, page, factor, reader = source, cancel = cancelOverview, range = loader->range(page)] {
            cv::Mat overview;
            QString error;
            const bool ok = Overview::build(
                *reader, page, factor,
                [this, cancel, shown = -1](double done) mutable {
                    // One message per percent, not one per tile.
                    const int percent = int(done * 100);
                    if (percent != shown)
                        QMetaObject::invokeMethod(
                            this,
                            [this, percent] {
                                statusBar()->showMessage(QStringLiteral("Making an overview… %1 %").arg(percent));
                            },
                            Qt::QueuedConnection);
                    shown = percent;
                    return !cancel->load();
                },
                &overview, &error);
            const QImage image = ok ? TileLoader::toDisplay(overview, range.first, range.second) : QImage();
            QMetaObject::invokeMethod(
                this,
                [this, image, factor, error] {
                    if (image.isNull()) {
                        statusBar()->showMessage(QStringLiteral("No overview: %1").arg(error));
                        view->setOverview(QImage(), 0);
                        return;
                    }
                    statusBar()->clearMessage();
                    view->setOverview(image, factor);
                },
                Qt::QueuedConnection);
        });
}

void ViewerWindow::findRanges()
{
    // The height map, and each 16-bit channel: one range for all its planes,
    // so stepping through z keeps the brightness, from the middle plane,
    // which a stack centres on the focus.
    QVector<std::pair<int, QVector<int>>> groups;
    if (source->heightPage() >= 0)
        groups.append(std::pair(source->heightPage(), QVector<int>{source->heightPage()}));
    for (int c = 0; c < source->channelCount(); ++c) {
        const int middle = source->pageOf(c, source->planeCount() / 2);
        if (middle < 0 || CV_MAT_DEPTH(source->pixelType(middle)) != CV_16U)
            continue;
        QVector<int> planes;
        for (int z = 0; z < source->planeCount(); ++z)
            planes.append(source->pageOf(c, z));
        groups.append(std::pair(middle, planes));
    }
    if (groups.isEmpty()) {
        makeOverview(view->page());
        return;
    }
    // A sample of tiles, read on a worker: in strips a tile costs whole rows.
    for (const auto& group : groups)
        loader->hold(group.second);
    rangeRun = QtConcurrent::run([this, reader = source, groups] {
        QVector<std::pair<double, double>> found(groups.size(), {0.0, 0.0});
        for (int i = 0; i < groups.size(); ++i)
            if (!DisplayRange::of(*reader, groups[i].first, &found[i].first, &found[i].second))
                found[i] = {0.0, 0.0};
        QMetaObject::invokeMethod(
            this,
            [this, groups, found] {
                for (int i = 0; i < groups.size(); ++i)
                    for (const int page : groups[i].second) {
                        if (found[i].second > found[i].first)
                            loader->setRange(page, found[i].first, found[i].second);
                        else
                            loader->release(page);
                    }
                makeOverview(view->page());
            },
            Qt::QueuedConnection);
    });
}

QPointF ViewerWindow::stagePointUm(const QPointF& p) const
{
    const OmeImage& meta = source->meta();
    return source->stagePositionUm() + QPointF(p.x() * meta.physicalSizeXUm, p.y() * meta.physicalSizeYUm);
}

void ViewerWindow::describePointer(const QPointF& p)
{
    const OmeImage& meta = source->meta();
    QString text = QStringLiteral("x %1, y %2 px").arg(std::floor(p.x())).arg(std::floor(p.y()));
    if (meta.physicalSizeXUm > 0 && meta.physicalSizeYUm > 0) {
        text += QStringLiteral(" · %1, %2 µm")
                    .arg(p.x() * meta.physicalSizeXUm, 0, 'f', 1)
                    .arg(p.y() * meta.physicalSizeYUm, 0, 'f', 1);
        if (source->hasStagePosition()) {
            const QPointF stage = stagePointUm(p) / 1000.0;
            text += QStringLiteral(" · stage %1, %2 mm").arg(stage.x(), 0, 'f', 4).arg(stage.y(), 0, 'f', 4);
        }
    }
    pointerLabel->setText(text);
}

bool ViewerWindow::saveView(const QString& path, QString* error) const
{
    if (view->grab().save(path, "PNG"))
        return true;
    if (error)
        *error = QStringLiteral("cannot write %1").arg(path);
    return false;
}

void ViewerWindow::chooseSaveView()
{
    const QString suggested = QFileInfo(filePath).absolutePath() + QLatin1Char('/') +
                              QFileInfo(filePath).completeBaseName() + QStringLiteral("-view.png");
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save View"), suggested, QStringLiteral("PNG (*.png)"));
    QString why;
    if (!path.isEmpty() && !saveView(path, &why))
        QMessageBox::warning(this, QStringLiteral("Tessan: Viewer"), why);
}
