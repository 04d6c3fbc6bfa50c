#pragma once

#include <QMainWindow>

class MosaicView;
class QAction;
class QLabel;

// "Tessan: Mosaic": the region scan's mosaic as it grows and when done, with
// File > Save Mosaic... and the scan's progress and missing tiles below.
class MosaicWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MosaicWindow(QWidget* parent = nullptr);

    MosaicView* view = nullptr;
    QAction* saveMosaicAction = nullptr;
    QAction* fitAction = nullptr;
    QAction* closeAction = nullptr;
    QLabel* stateLabel = nullptr;

    // The line under the mosaic: progress, then the outcome.
    void setState(const QString& text);

signals:
    void saveRequested();
};
