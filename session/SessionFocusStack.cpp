#include "session/Session.h"

#include "session/FocusMeasure.h"
#include "views/FocusCurve.h"
#include "views/PictureMap.h"
#include "views/VideoStack.h"
#include "views/VideoView.h"
#include "views/VideoWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPoint>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>

#include <algorithm>

void Session::beginZAcquire()
{
    stackAcquiring = true;
    stackCutShort = false;
    stackFullFrame = fullFrameCheck->isChecked();
    stackBegan = QDateTime::currentDateTime();
    // Files and fusion belong to the stack in hand, and there is none until it is complete.
    stackComplete = false;
    updateStackActions();
    disableControls();
    statusBar()->showMessage(QStringLiteral("Acquiring focus stack..."));
    insetStack->clear();
    // Blank at once: the last stack's frame must not stand for this one.
    insetStack->update();
    stackZ.clear();
    stackSharpness.clear();
    showSharpness();
    zSlider->setMaximum(frameCountSelector->value() - 1);
    stackStart = currentCoords;

    QPoint origin;
    QSize frame;
    if (videoWindow && videoWindow->imageView) {
        origin = videoWindow->imageView->focusAreaOrigin();
        frame = videoWindow->imageView->sourcePicture().size();
    }
    // A small stack's planes are the sampling region of the live frame.
    stackTopLeftUm =
        PictureMap::topLeftUm(stackStart, scopeInfo.mppX, scopeInfo.mppY, frame) +
        (stackFullFrame ? QPointF()
                        : QPointF(origin.x() * double(scopeInfo.mppX), origin.y() * double(scopeInfo.mppY)));
    // A whole frame is the live video request itself, at the current picture size; a
    // small one its 168 x 140 inset at the sampling region.
    stackRun.start(stackStart, frameCountSelector->value(), frameRangeSelector->value(),
                   videoFetcher.url() +
                       (stackFullFrame ? QString() : QString::asprintf("&x=%i&y=%i&inset=1", origin.x(), origin.y())));
}

// Files each plane as it arrives; the run then moves on to the next.
void Session::startNextZImage(QImage& picture)
{
    // Whole frames stay as the server's JPEG bytes until shown, fused or saved.
    if (stackFullFrame)
        insetStack->addEncoded(stackRun.frameBytes(), picture);
    else
        insetStack->addImage(picture);
    stackSharpness.append(FocusMeasure::of(picture));
    showSharpness();
}

// The last plane's move and frame are done: the stack is whole.
void Session::zMoveComplete()
{
    stackAcquiring = false;
    enableControls();
    statusBar()->clearMessage();
    stackComplete = insetStack->count() > 0 && insetStack->count() == stackZ.size();
    updateStackActions();
    // Without a clear sharpest frame the slider stays where the stack ended.
    const int best = FocusMeasure::sharpest(stackSharpness);
    if (best >= 0 && keepTypedCoordinates()) {
        // The sharpest frame is shown, its z not put over what the user typed.
        const QSignalBlocker quiet(zSlider);
        zSlider->setValue(best);
        insetStack->displayImage(best);
    } else if (best >= 0) {
        if (zSlider->value() == best)
            focusSliderChanged(best);
        else
            zSlider->setValue(best);
    }
    showSharpness();
}

void Session::stopStack(const QString& reason)
{
    // Keep the frames that did arrive browsable, each with its own z.
    const int received = insetStack->count();
    // Less the plane whose move or frame failed.
    stackZ.resize(received);
    stackCutShort = true;
    // Still acquiring while the slider is clamped, so the z field is left alone.
    zSlider->setMaximum(std::max(0, received - 1));
    stackAcquiring = false;
    enableControls();
    statusBar()->clearMessage();
    appendInfo(reason);
    showSharpness();
}

void Session::focusSliderChanged(int index)
{
    if (stackAcquiring || index < 0 || index >= stackZ.size())
        return;
    currentCoords.z = float(stackZ[index]);
    pointToScreen(currentCoords);
    showSharpness();
}

void Session::showSharpness()
{
    const int best = FocusMeasure::sharpest(stackSharpness);
    focusCurve->setCurve(stackZ, stackSharpness, best);
    focusCurve->setMarked(stackAcquiring ? int(stackSharpness.size()) - 1 : zSlider->value());
    // One or two frames of a stopped stack say nothing about where focus lies.
    const int frames = int(stackSharpness.size());
    const QString cutShort = frames == 1 ? QStringLiteral("Stack cut short after 1 frame")
                                         : QStringLiteral("Stack cut short after %1 frames").arg(frames);
    if (stackSharpness.isEmpty() || stackAcquiring)
        focusMeasureLabel->clear();
    else if (best < 0)
        focusMeasureLabel->setText(stackCutShort ? cutShort : QStringLiteral("No clear focus found"));
    else
        focusMeasureLabel->setText(
            QString::asprintf("Sharpest: frame %i at %.0f µm", best + 1, stackZ[best] * 0.1) +
            (stackCutShort ? QStringLiteral(" (") + cutShort.toLower() + QLatin1Char(')') : QString()));
}
