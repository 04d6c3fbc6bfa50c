#pragma once

#include "acquire/CoordinateTriple.h"
#include "views/FrameRecord.h"

#include <QImage>
#include <QString>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class VideoView;

// The separate window of the live video: the view with its filter, channel,
// gain and picture-size controls, a save button and the millimetre read-outs
// of the stage point under the centre of the view's sampling region.
class VideoWindow : public QWidget
{
    Q_OBJECT

public:
    explicit VideoWindow(QWidget* parent = nullptr, const char* name = nullptr,
                         Qt::WindowFlags flags = Qt::WindowFlags());

    // One read-out in millimetres: offset in micrometres plus stage units.
    static QString readout(float offsetMicrometres, float stageUnits);
    // Where the frames come from, for the text of saved pictures.
    void setSource(const QString& microscope, const QString& slide, const QString& server, const QString& user);

    QCheckBox* CheckBox4;
    QCheckBox* CheckBox3_2;
    QSlider* brightnessSlider_2;
    QCheckBox* contrastCheck;
    QComboBox* ComboBox2;
    QLabel* TextLabel1;
    QComboBox* filterChoices;
    QLabel* TextLabel4;
    QCheckBox* showFAR;
    VideoView* imageView;
    QComboBox* ComboBox3;
    QPushButton* PushButton14;
    QLabel* TextLabel1_2;
    QLineEdit* xCoord;
    QLabel* TextLabel1_2_3;
    QLabel* TextLabel1_2_2;
    QLineEdit* yCoord;
    QLabel* TextLabel1_2_3_2;

public slots:
    virtual void filterChanged(int index);
    virtual void updateImage(QImage& frame);
    virtual void showFARStateChanged(int state);
    virtual void brightnessChanged(int value);
    virtual void contrastChanged(int state);
    virtual void toggleBrightness(int state);
    virtual void channelChanged(int index);
    virtual void useInvert(int state);
    virtual void vidSizeChanged(int index);
    virtual void setMPP(float x, float y);
    virtual void init();
    virtual void updateOffset(float dx, float dy);
    virtual void setPhysical(CoordinateTriple& position);
    virtual void coordsToScreen();
    virtual void handleSaveButton();
    // A double-clicked point, as its offset from the view centre in micrometres.
    void centrePoint(float dx, float dy);
    // Across and down in fields of view of the picture, z in micrometres.
    void stepStage(float across, float down, float zMicrometres);

signals:
    void videoFormatChanged(int size);
    // Where the stage should go to take a step, or to centre a double-clicked
    // point; asked only once a stage position has arrived.
    void moveRequested(CoordinateTriple& destination);
    void centreRequested(CoordinateTriple& destination);

private:
    void buildControls();
    void connectControls();

    float offsetX = 0.0f;
    float offsetY = 0.0f;
    CoordinateTriple physical;
    bool havePosition = false;
    FrameRecord source;
};
