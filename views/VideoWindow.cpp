#include "views/VideoWindow.h"

#include "views/PictureGeometry.h"
#include "views/VideoView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>

namespace {

QWidget* layoutBox(QWidget* parent, const char* name, const QRect& geometry)
{
    auto* box = new QWidget(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    return box;
}

QGridLayout* gridOf(QWidget* box)
{
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(6);
    return grid;
}

template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

} // namespace

VideoWindow::VideoWindow(QWidget* parent, const char* name, Qt::WindowFlags flags)
    : QWidget(parent, flags)
{
    setObjectName(QString::fromLatin1(name ? name : "VideoWindow"));
    setWindowTitle(tr("Tessan: Video"));
    resize(662, 604);
    QFont controlFont = font();
    controlFont.setFamily(QStringLiteral("Helvetica [Urw]"));
    setFont(controlFont);
    buildControls();
    connectControls();
    init();
}

void VideoWindow::buildControls()
{
    QWidget* left = layoutBox(this, "Layout18", QRect(10, 10, 178, 51));
    QWidget* middle = layoutBox(this, "Layout23", QRect(200, 10, 230, 50));
    QWidget* right = layoutBox(this, "Layout19", QRect(440, 10, 200, 51));
    QWidget* row = layoutBox(this, "Layout6", QRect(320, 70, 330, 24));

    CheckBox4 = named(new QCheckBox(tr("Invert Video"), middle), "CheckBox4");
    CheckBox3_2 = named(new QCheckBox(tr("Gain"), middle), "CheckBox3_2");
    brightnessSlider_2 = named(new QSlider(Qt::Horizontal, middle), "brightnessSlider_2");
    brightnessSlider_2->setRange(20, 200);
    brightnessSlider_2->setValue(100);
    contrastCheck = named(new QCheckBox(tr("Contrast Expansion"), left), "contrastCheck");
    contrastCheck->setChecked(true);
    ComboBox2 = named(new QComboBox(left), "ComboBox2");
    ComboBox2->addItems({tr("Normal"), tr("Red"), tr("Green"), tr("Blue")});
    TextLabel1 = named(new QLabel(tr("Color Channel"), left), "TextLabel1");
    TextLabel1->setFrameShape(QFrame::NoFrame);
    filterChoices = named(new QComboBox(right), "filterChoices");
    filterChoices->addItems({tr("None"), tr("Red Filter"), tr("Green Filter"), tr("Blue Filter")});
    TextLabel4 = named(new QLabel(tr("Colored Filter"), right), "TextLabel4");
    showFAR = named(new QCheckBox(tr("Focus Overlay"), right), "showFAR");
    showFAR->setChecked(true);

    imageView = new VideoView(this, QStringLiteral("imageView"));
    imageView->setGeometry(10, 100, 640, 480);
    imageView->setCursor(Qt::ArrowCursor);
    imageView->setMouseTracking(false);

    ComboBox3 = named(new QComboBox(this), "ComboBox3");
    ComboBox3->addItems({tr("640x480"), tr("800x600"), tr("1024x768"), tr("1280x960")});
    ComboBox3->setGeometry(10, 70, 93, 22);
    PushButton14 = named(new QPushButton(tr("Save Image"), this), "PushButton14");
    PushButton14->setGeometry(120, 70, 101, 21);

    TextLabel1_2 = named(new QLabel(tr("X:"), row), "TextLabel1_2");
    xCoord = named(new QLineEdit(row), "xCoord");
    TextLabel1_2_3 = named(new QLabel(tr("mm"), row), "TextLabel1_2_3");
    TextLabel1_2_2 = named(new QLabel(tr("Y:"), row), "TextLabel1_2_2");
    yCoord = named(new QLineEdit(row), "yCoord");
    TextLabel1_2_3_2 = named(new QLabel(tr("mm"), row), "TextLabel1_2_3_2");

    QGridLayout* leftGrid = gridOf(left);
    leftGrid->addWidget(TextLabel1, 0, 0);
    leftGrid->addWidget(ComboBox2, 0, 1);
    leftGrid->addWidget(contrastCheck, 1, 0, 1, 2);
    QGridLayout* middleGrid = gridOf(middle);
    middleGrid->addWidget(CheckBox3_2, 0, 0);
    middleGrid->addWidget(brightnessSlider_2, 0, 1);
    middleGrid->addWidget(CheckBox4, 1, 0, 1, 2);
    QGridLayout* rightGrid = gridOf(right);
    rightGrid->addWidget(TextLabel4, 0, 0);
    rightGrid->addWidget(filterChoices, 0, 1);
    rightGrid->addWidget(showFAR, 1, 0, 1, 2);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(6);
    for (QWidget* w : {static_cast<QWidget*>(TextLabel1_2), static_cast<QWidget*>(xCoord),
                       static_cast<QWidget*>(TextLabel1_2_3), static_cast<QWidget*>(TextLabel1_2_2),
                       static_cast<QWidget*>(yCoord), static_cast<QWidget*>(TextLabel1_2_3_2)})
        rowLayout->addWidget(w);
}

void VideoWindow::connectControls()
{
    connect(CheckBox4, &QCheckBox::stateChanged, this, &VideoWindow::useInvert);
    connect(CheckBox3_2, &QCheckBox::stateChanged, this, &VideoWindow::toggleBrightness);
    connect(brightnessSlider_2, &QSlider::valueChanged, this, &VideoWindow::brightnessChanged);
    connect(contrastCheck, &QCheckBox::stateChanged, this, &VideoWindow::contrastChanged);
    connect(ComboBox2, &QComboBox::activated, this, &VideoWindow::channelChanged);
    connect(filterChoices, &QComboBox::activated, this, &VideoWindow::filterChanged);
    connect(showFAR, &QCheckBox::stateChanged, this, &VideoWindow::showFARStateChanged);
    connect(ComboBox3, &QComboBox::activated, this, &VideoWindow::vidSizeChanged);
    connect(PushButton14, &QPushButton::clicked, this, &VideoWindow::handleSaveButton);
}

QString VideoWindow::readout(float offsetMicrometres, float stageUnits)
{
    return QString::asprintf("%.4f", double(offsetMicrometres) * 0.001 + double(stageUnits) * 0.0001);
}

void VideoWindow::filterChanged(int index)
{
    imageView->changeFilter(index);
}

void VideoWindow::setSource(const QString& microscope, const QString& slide, const QString& server, const QString& user)
{
    source.user = user;
    source.microscope = microscope;
    source.slide = slide;
    source.server = server;
}

void VideoWindow::updateImage(QImage& frame)
{
    // The frame shows the stage where the server last reported it.
    FrameRecord taken = source;
    taken.stage = physical;
    taken.taken = QDateTime::currentDateTime();
    imageView->setRecord(taken);
    imageView->setImage(frame);
}

void VideoWindow::showFARStateChanged(int state)
{
    imageView->setShowFAR(state == 2);
}

void VideoWindow::brightnessChanged(int value)
{
    imageView->setBrightness(value);
}

void VideoWindow::contrastChanged(int state)
{
    imageView->setContrast(state);
}

void VideoWindow::toggleBrightness(int state)
{
    imageView->enableBrightness(state);
}

void VideoWindow::channelChanged(int index)
{
    imageView->setChannel(index);
}

void VideoWindow::useInvert(int state)
{
    imageView->setInvert(state);
}

void VideoWindow::vidSizeChanged(int index)
{
    imageView->setVidSize(index + 1);
    emit videoFormatChanged(index + 1);
}

void VideoWindow::setMPP(float x, float y)
{
    imageView->setMPP(x, y);
}

void VideoWindow::init()
{
    connect(imageView, &VideoView::offsetChanged, this, &VideoWindow::updateOffset);
    connect(imageView, &VideoView::pointDoubleClicked, this, &VideoWindow::centrePoint);
}

void VideoWindow::updateOffset(float dx, float dy)
{
    offsetX = dx;
    offsetY = dy;
    coordsToScreen();
}

void VideoWindow::setPhysical(CoordinateTriple& position)
{
    // A frame that came before the first report shows where the stage stood
    // all along: marks and measurements on it need that place.
    if (!havePosition) {
        FrameRecord first = imageView->frameRecord();
        first.stage = position;
        imageView->setRecord(first);
        imageView->update();
    }
    physical = position;
    havePosition = true;
    coordsToScreen();
}

void VideoWindow::coordsToScreen()
{
    xCoord->setText(readout(offsetX, physical.x));
    yCoord->setText(readout(offsetY, physical.y));
}

void VideoWindow::handleSaveButton()
{
    imageView->saveImage();
}

void VideoWindow::centrePoint(float dx, float dy)
{
    if (!havePosition)
        return;
    CoordinateTriple destination = PictureGeometry::stagePoint(physical, QPointF(dx, dy));
    emit centreRequested(destination);
}

void VideoWindow::stepStage(float across, float down, float zMicrometres)
{
    if (!havePosition)
        return;
    // Sideways steps need the scale; without it they would go nowhere.
    const float mppX = imageView->scaleXMicrometres();
    const float mppY = imageView->scaleYMicrometres();
    if ((across != 0.0f || down != 0.0f) && !(mppX > 0.0f && mppY > 0.0f))
        return;
    const QSize picture = imageView->frameSize();
    CoordinateTriple destination = PictureGeometry::stagePoint(
        physical, QPointF(double(across) * picture.width() * mppX, double(down) * picture.height() * mppY));
    destination.z = PictureGeometry::stageUnits(physical.z, zMicrometres);
    // Focus travel is 0 to 3 mm; a step past either end is not taken.
    if (zMicrometres != 0.0f && !(destination.z >= 0.0f && destination.z <= 30000.0f))
        return;
    emit moveRequested(destination);
}
