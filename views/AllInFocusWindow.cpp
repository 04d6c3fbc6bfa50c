#include "views/AllInFocusWindow.h"

#include "views/HeightMapView.h"
#include "views/SaveImageDialog.h"

#include <QAction>
#include <QButtonGroup>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QtConcurrent>

AllInFocusWindow::AllInFocusWindow(QWidget* parent)
    : QMainWindow(parent, Qt::Window)
{
    setObjectName(QStringLiteral("AllInFocusWindow"));
    setWindowTitle(tr("Tessan: All in Focus"));

    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    auto* row = new QHBoxLayout;
    pictureButton = new QRadioButton(tr("Picture"), central);
    pictureButton->setObjectName(QStringLiteral("pictureButton"));
    heightButton = new QRadioButton(tr("Height map"), central);
    heightButton->setObjectName(QStringLiteral("heightButton"));
    pictureButton->setChecked(true);
    auto* group = new QButtonGroup(central);
    group->addButton(pictureButton);
    group->addButton(heightButton);
    summaryLabel = new QLabel(central);
    summaryLabel->setObjectName(QStringLiteral("summaryLabel"));
    summaryLabel->setTextFormat(Qt::PlainText);
    row->addWidget(pictureButton);
    row->addWidget(heightButton);
    row->addSpacing(16);
    row->addWidget(summaryLabel, 1);
    column->addLayout(row);
    view = new HeightMapView(central);
    column->addWidget(view, 1);
    setCentralWidget(central);

    saveAction = new QAction(tr("&Save All-in-Focus..."), this);
    saveAction->setObjectName(QStringLiteral("saveAction"));
    saveAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    auto* closeAction = new QAction(tr("&Close"), this);
    closeAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(saveAction);
    file->addSeparator();
    file->addAction(closeAction);

    connect(heightButton, &QRadioButton::toggled, view, &HeightMapView::setShowHeight);
    connect(saveAction, &QAction::triggered, this, &AllInFocusWindow::saveAs);
    connect(closeAction, &QAction::triggered, this, &QWidget::close);
    connect(this, &AllInFocusWindow::saved, this, [this](const QString& fileName, const QString& error) {
        if (error.isEmpty())
            statusBar()->showMessage(tr("Saved %1").arg(fileName), 5000);
        else
            QMessageBox::warning(this, windowTitle(),
                                 tr("The all-in-focus picture could not be saved to %1: %2.").arg(fileName, error));
    });
}

void AllInFocusWindow::setResult(const FusionResult& fused, const OmeImage& meta, const QString& text,
                                 const QString& summary)
{
    fusion = fused;
    description = meta;
    comment = text;
    summaryLabel->setText(summary);
    view->setResult(fused.picture, fused.heightUm);
    view->setScale(meta.physicalSizeXUm);
}

void AllInFocusWindow::saveAs()
{
    QString base = description.name + QStringLiteral("_all-in-focus");
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]+")), QStringLiteral("_"));
    SaveImageDialog dialog(this, tr("Save All-in-Focus"), base, PictureExport::OmeTiff);
    if (dialog.exec() == QDialog::Accepted && !dialog.fileName().isEmpty())
        saveTo(dialog.fileName(), dialog.format());
}

void AllInFocusWindow::saveTo(const QString& fileName, int format)
{
    statusBar()->showMessage(tr("Saving %1...").arg(fileName));
    const FusionResult fused = fusion;
    const OmeImage meta = description;
    const QString text = comment;
    const auto kind = PictureExport::Format(format);
    auto* writing = new QFutureWatcher<QString>(this);
    connect(writing, &QFutureWatcher<QString>::finished, this, [this, writing, fileName] {
        writing->deleteLater();
        emit saved(fileName, writing->result());
    });
    writing->setFuture(QtConcurrent::run([fileName, kind, fused, meta, text] {
        return PictureExport::write(fileName, kind, fused.picture, text, meta, &fused.heightUm);
    }));
}
