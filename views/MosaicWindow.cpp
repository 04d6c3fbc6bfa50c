#include "views/MosaicWindow.h"

#include "views/MosaicView.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>

MosaicWindow::MosaicWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MosaicWindow"));
    setWindowTitle(QStringLiteral("Tessan: Mosaic"));
    resize(820, 640);
    view = new MosaicView(this);
    setCentralWidget(view);

    saveMosaicAction = new QAction(QStringLiteral("&Save Mosaic..."), this);
    saveMosaicAction->setObjectName(QStringLiteral("saveMosaicAction"));
    saveMosaicAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    saveMosaicAction->setEnabled(false);
    fitAction = new QAction(QStringLiteral("&Fit to Window"), this);
    fitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    closeAction = new QAction(QStringLiteral("&Close"), this);
    closeAction->setShortcut(QKeySequence(QKeySequence::Close));

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(saveMosaicAction);
    file->addSeparator();
    file->addAction(closeAction);
    QMenu* viewMenu = menuBar()->addMenu(QStringLiteral("&View"));
    viewMenu->addAction(fitAction);

    stateLabel = new QLabel(this);
    stateLabel->setObjectName(QStringLiteral("mosaicState"));
    stateLabel->setTextFormat(Qt::PlainText);
    statusBar()->addWidget(stateLabel, 1);
    view->setToolTip(QStringLiteral("Wheel: zoom around the pointer. Drag: pan. Double-click: move the stage there."));

    connect(saveMosaicAction, &QAction::triggered, this, &MosaicWindow::saveRequested);
    connect(fitAction, &QAction::triggered, view, &MosaicView::fitToWindow);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
}

void MosaicWindow::setState(const QString& text)
{
    stateLabel->setText(text);
}
