#include "session/Session.h"

#include "acquire/JobGrid.h"
#include "session/CoordinateField.h"
#include "views/HighResPreview.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QSpinBox>

namespace {
bool isUnset(const CoordinateTriple& corner)
{
    return corner.x == 0.0f && corner.y == 0.0f;
}
} // namespace

void Session::setC1()
{
    jobTopLeft.x = CoordinateField::read(xCoord->text());
    jobTopLeft.y = CoordinateField::read(yCoord->text());
    const bool accepted =
        isUnset(jobBottomRight) || (jobTopLeft.x <= jobBottomRight.x && jobTopLeft.y <= jobBottomRight.y);
    if (!accepted) {
        jobTopLeft.x = 0;
        jobTopLeft.y = 0;
    }
    // A refused corner leaves (0, 0) in force: show and count that, so the
    // preview and the count match what "Create Job" would send.
    highRes->setCorner1(jobTopLeft);
    if (!accepted || (jobBottomRight.x != 0.0f && jobBottomRight.y != 0.0f))
        calcNumMovies();
}

void Session::setC2()
{
    jobBottomRight.x = CoordinateField::read(xCoord->text());
    jobBottomRight.y = CoordinateField::read(yCoord->text());
    if (!(jobBottomRight.x >= jobTopLeft.x && jobBottomRight.y >= jobTopLeft.y)) {
        jobBottomRight.x = 0;
        jobBottomRight.y = 0;
    }
    highRes->setCorner2(jobBottomRight);
    calcNumMovies();
}

void Session::calcNumMovies()
{
    const int density = densityBox->value();
    highRes->setLinearDensity(density);
    sampleCount = JobGrid::count(jobTopLeft, jobBottomRight, density);
    totalBox->setText(QString::asprintf("%i", sampleCount));
    highRes->updateSelection();
}

void Session::handleJobReset()
{
    jobTopLeft.x = 0;
    jobTopLeft.y = 0;
    jobBottomRight.x = 0;
    jobBottomRight.y = 0;
    highRes->setCorner2(jobBottomRight);
    highRes->setCorner1(jobTopLeft);
    highRes->setLinearDensity(0);
    highRes->corner1Set = false;
    highRes->corner2Set = false;
    totalBox->setText(QStringLiteral("0"));
    calcNumMovies();
    highRes->updateSelection();
}

void Session::handleCreateJob()
{
    const QString typed = jobNameEdit->text();
    if (typed.simplified().isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Error: Cannot create job."),
                             QStringLiteral("You must enter a name for your job."), QMessageBox::Ok);
        return;
    }
    if (sampleCount <= 0)
        return;

    jobs.submit(typed, QPointF(jobTopLeft.x, jobTopLeft.y), QPointF(jobBottomRight.x, jobBottomRight.y),
                densityBox->value(), sampleCount);

    jobNameEdit->clear();
    handleJobReset();
}
