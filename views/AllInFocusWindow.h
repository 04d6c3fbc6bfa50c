#pragma once

#include "imaging/FocusFusion.h"
#include "imaging/OmeXml.h"

#include <QMainWindow>
#include <QString>

class HeightMapView;
class QAction;
class QLabel;
class QRadioButton;

// "Tessan: All in Focus": the picture fused from a whole-frame focus stack
// and its height map, one at a time, and File > Save All-in-Focus. Saving
// runs on a worker thread; the window stays usable meanwhile.
class AllInFocusWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit AllInFocusWindow(QWidget* parent = nullptr);

    // meta describes the picture for OME-TIFF (name, date, scale, position);
    // text goes into a JPEG comment or a PNG text chunk; summary is shown.
    void setResult(const FusionResult& fused, const OmeImage& meta, const QString& text, const QString& summary);
    const FusionResult& result() const { return fusion; }

    QRadioButton* pictureButton = nullptr;
    QRadioButton* heightButton = nullptr;
    QLabel* summaryLabel = nullptr;
    HeightMapView* view = nullptr;
    QAction* saveAction = nullptr;

public slots:
    // Asks for a file and saves there.
    void saveAs();
    // JPEG and PNG hold the picture alone; OME-TIFF adds the height map.
    void saveTo(const QString& fileName, int format);

signals:
    // After every save: the file name, and the reason when it failed.
    void saved(const QString& fileName, const QString& error);

private:
    FusionResult fusion;
    OmeImage description;
    QString comment;
};
