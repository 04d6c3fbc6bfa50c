#include "session/Session.h"

#include "acquire/PositionReport.h"
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
    framesLeft = frameCountSelector->value();
    insetStack->clear();
    // Blank at once: the last stack's frame must not stand for this one.
    insetStack->update();
    stackZ.clear();
    stackSharpness.clear();
    showSharpness();
    zSlider->setMaximum(framesLeft - 1);
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
    // A whole frame is the live video request itself, at the current picture size.
    if (stackFullFrame)
        stackImageFetcher.setUrl(videoFetcher.url());
    else
        stackImageFetcher.setUrl(videoFetcher.url() + QStringLiteral("&x=") + QString::asprintf("%i", origin.x()) +
                                 QStringLiteral("&y=") + QString::asprintf("%i", origin.y()) +
                                 QStringLiteral("&inset=1"));
    QImage none;
    startNextZImage(none);
}

void Session::startNextZImage(QImage& picture)
{
    if (!stackAcquiring)
        return;
    // A picture for the frame whose move was sent last.
    if (stackSharpness.size() < stackZ.size())
        recordSharpness(picture);

    if (framesLeft <= 0) {
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
        return;
    }

    const int frames = frameCountSelector->value();
    // The interval in µm, in stage units of 0.1 µm; the planes are centred on the start.
    const double step = frameRangeSelector->value() * 10.0 / frames;
    const int k = frames - framesLeft;
    const double z = double(stackStart.z) + (k - (frames - 1) / 2.0) * step;
    zSlider->setValue(k);

    if (!(z > 0.0 && z < 30000.0)) {
        stopStack(QStringLiteral("***Focus stack stopped: the next position lies outside the focus range."));
        return;
    }
    stackZ.append(z);
    stackMoveFetcher.setUrl(sessionUrl(PositionReport::stackMoveQuery(stackStart.x, stackStart.y, z) +
                                       QStringLiteral("&auth=") + link.token()));
    stackMoveFetcher.start();
    --framesLeft;
}

void Session::zMoveComplete()
{
    if (!stackAcquiring)
        return;
    // A picture taken after a failed move would be filed under the wrong z.
    if (!stackMoveFetcher.succeeded()) {
        stopStack(QStringLiteral("***Focus stack stopped: the server did not answer."));
        return;
    }
    // The reply is otherwise not read, but a '-' is a refusal (an expired
    // session, a bad token): the stage never went to this z.
    if (stackMoveFetcher.length() > 0 && stackMoveFetcher.data()[0] == '-') {
        stopStack(QStringLiteral("***Focus stack stopped: the server refused the stage move (") +
                  PositionReport::firstLine(stackMoveFetcher.data(), stackMoveFetcher.length()) + QStringLiteral(")."));
        return;
    }
    stackImageFetcher.get();
}

void Session::stackFetchFailed()
{
    if (stackAcquiring)
        stopStack(QStringLiteral("***Focus stack stopped: the server did not answer."));
}

void Session::stopStack(const QString& reason)
{
    // Keep the frames that did arrive browsable, each with its own z.
    const int received = insetStack->count();
    stackZ.resize(std::min(int(stackZ.size()), received));
    stackSharpness.resize(std::min(int(stackSharpness.size()), received));
    framesLeft = 0;
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

void Session::recordSharpness(const QImage& picture)
{
    stackSharpness.append(FocusMeasure::of(picture));
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
